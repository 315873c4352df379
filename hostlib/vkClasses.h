#pragma once
// TFileStream64: a stream over a file or block device with 64-bit positions.
#include <QString>
#include <QtGlobal>

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// File-mode words: access in bits 0-1, share value in bits 4-7, 0xFFFF creates.
constexpr quint16 fmCreate = 0xFFFF;
constexpr quint16 fmOpenRead = 0x0000;
constexpr quint16 fmOpenWrite = 0x0001;
constexpr quint16 fmOpenReadWrite = 0x0002;
constexpr quint16 fmShareCompat = 0x0000;
constexpr quint16 fmShareExclusive = 0x0010;
constexpr quint16 fmShareDenyWrite = 0x0020;
constexpr quint16 fmShareDenyNone = 0x0030;

class TFileStream64 {
public:
    // Console: raises Exception("error %d open file \"%s\"") when the open fails.
    // Tool: writes "error: %d open file:%s" through DebugLog and keeps a
    // negative Handle (every operation then answers as on a bad descriptor).
    TFileStream64(const QString &FileName, quint16 Mode, quint32 Rights = 0);
    ~TFileStream64();
    TFileStream64(const TFileStream64 &) = delete;
    TFileStream64 &operator=(const TFileStream64 &) = delete;

    qint64 Read(void *Buffer, qint64 Count);        // bytes read; 0 on failure
    // Reads at Offset without moving the position; bytes read, 0 on failure.
    qint64 ReadAt(qint64 Offset, void *Buffer, qint64 Count);
    qint64 Write(const void *Buffer, qint64 Count); // bytes written; 0 on failure
    qint64 Seek(qint64 Offset, TSeekOrigin Origin); // new position or -1
    // EStreamError("Error setting stream size") on failure, a negative size too.
    void SetSize(qint64 NewSize);
    qint64 Position();
    void SetPosition(qint64 P);
    qint64 Size();                                  // seek to end and back; -1 on a bad descriptor

    int Handle() const { return FHandle; }
    // Console: the name contains "/dev/"; tool: the name begins with it.
    bool IsDevice = false;
    // Tool: the size measured at open; console: 0.
    qint64 OpenSize = 0;

private:
    int FHandle = -1;
};
