#pragma once
// Small file primitives shared by the library's readers and writers.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <sys/types.h>
#include <unistd.h>

// Closes a descriptor when the scope ends, whatever ends it.
class TFdCloser {
public:
    explicit TFdCloser(int fd) : FFd(fd) {}
    ~TFdCloser() { release(); }
    TFdCloser(const TFdCloser &) = delete;
    TFdCloser &operator=(const TFdCloser &) = delete;
    int get() const { return FFd; }
    int release()
    {
        int rc = 0;
        if (FFd >= 0)
            rc = ::close(FFd);
        FFd = -1;
        return rc;
    }

private:
    int FFd;
};

// Writes all of data, going on after short writes and interruptions.
bool WriteAll(int fd, const QByteArray &data);
// The most ReadWholeFile takes of a file that reports no size: a device
// that never ends (a link to /dev/zero) must not eat the memory. The /proc
// files the programs read are far smaller.
constexpr qsizetype kMaxReadFileSize = 4 * 1024 * 1024;
// The most ReadWholeFile takes of a regular file. No file the programs read
// comes near it (a driver list of 800,000 lines is 16 MiB); at the bound the
// tool still shows its window within two seconds and stays well below
// 512 MiB (README, "Limits of what is read"), where a file read whole
// however large could take the server's memory.
constexpr qsizetype kMaxWholeFileSize = 16 * 1024 * 1024;
// The most lines LoadLineBytes takes of a file. Within kMaxWholeFileSize a
// file of empty lines has 16 million, and every line becomes an entry (a
// list row in the tool, some 250 bytes): no file the programs read comes
// near this many, and at it a driver list still stays below 512 MiB.
constexpr qsizetype kMaxFileLines = qsizetype(1) << 20;
// Appends the whole content of the file to data; false when it cannot be
// read, with errno telling why. The open never waits (a FIFO, a terminal):
// a FIFO or socket fails with EINVAL, a read that would wait with EAGAIN. A
// regular file is read whole up to kMaxWholeFileSize bytes; one that reports
// no size (/proc) and any device up to kMaxReadFileSize. Past its bound the
// read fails with EFBIG, at once when the size says so.
bool ReadWholeFile(const QString &path, QByteArray &data);
// Replaces the file at path with data so that a reader sees either the old
// content or the new, never a mix: a temp file in the same directory is
// written, synced and renamed over the target, taking the old file's mode and
// owner. Links are followed to the file they name, and stay links; a
// dangling link gets its file created. A character device (such as a link
// to /dev/null that switches a file off) is written in place; any other
// target that is not a regular file is left alone and refused (EISDIR for a
// directory, EINVAL else). On failure the temp file is removed, the old file
// is whole, and the result is false with errno telling why.
bool ReplaceFileAtomically(const QString &path, const QByteArray &data);

// ---- the configuration tool's line files -------------------------------
// Line files are kept as bytes: what nobody changed goes back exactly as it
// was, whatever its encoding. A line ends at a line feed, a carriage return,
// or a carriage return and line feed; a line end at the very end adds no
// empty line. EFOpenError "Cannot open file "<path>". <reason>" when the file
// cannot be read (ReadWholeFile), or holds more than kMaxFileLines lines
// (reason "File too large"). Text, when given, receives the file's bytes.
QList<QByteArray> LoadLineBytes(const QString &path, QByteArray *text = nullptr);
// The file's bytes, with the same error.
QByteArray LoadFileBytes(const QString &path);
QList<QByteArray> SplitLineBytes(const QByteArray &text);
// Replaces the file with the lines, each ended by a line feed, atomically
// (ReplaceFileAtomically). EFCreateError "Cannot create file "<path>".
// <reason>" when that fails; the old file is then whole. The result is the
// text written.
QByteArray SaveLineBytes(const QString &path, const QList<QByteArray> &lines);

// Text for showing: UTF-8 when the bytes are UTF-8, else the locale's
// encoding when they are valid in it (a file written under GB2312 or Big5),
// else UTF-8 with replacement characters. Each call stands alone: nothing of
// one text carries into the next.
QString DecodeLocalText(const QByteArray &bytes);
// The bytes of a line for writing back: Original itself when Text is still
// what DecodeLocalText makes of it (the line was not edited); else Text in
// the encoding Original was shown in when that encoding can hold it, else
// UTF-8.
QByteArray EncodeEditedLine(const QString &Text, const QByteArray &Original);
// The lines of a file (LoadLineBytes), each decoded on its own.
QStringList LoadTextLines(const QString &path);

// --- test seam ---------------------------------------------------------------
// Replaces fsync(2) for the primitives above (the new file's data before it
// is renamed into place, then its directory); an empty function restores
// the real call.
using TFileSync = std::function<int(int Fd)>;
void SetFileSyncForTesting(TFileSync Fn);
// Replaces fchmod(2) for the new file of ReplaceFileAtomically.
using TFileMode = std::function<int(int Fd, mode_t Mode)>;
void SetFileModeForTesting(TFileMode Fn);
// Called by ReplaceFileAtomically between its look at the target and the
// open or creation that follows, where a test swaps the target.
void SetReplaceGapForTesting(std::function<void()> Fn);
// Called with each descriptor ReadWholeFile and the in-place write of a
// device open, right after the open.
void SetFileOpenedForTesting(std::function<void(int Fd)> Fn);
