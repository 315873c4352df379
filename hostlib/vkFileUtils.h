#pragma once
// Small file primitives shared by the library's readers and writers.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
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
// Appends the whole content of the file to data; false when it cannot be
// read, with errno telling why.
bool ReadWholeFile(const QString &path, QByteArray &data);
// Replaces the file at path with data so that a reader sees either the old
// content or the new, never a mix: a temp file in the same directory is
// written, synced and renamed over the target, taking the old file's mode and
// owner (a link stays a link; its file gets the content). On failure the temp
// file is removed, the old file is whole, and the result is false.
bool ReplaceFileAtomically(const QString &path, const QByteArray &data);

// ---- the configuration tool's text files --------------------------------
// The lines of a text file, decoded from the locale's encoding: a line ends
// at a line feed, a carriage return, or a carriage return and line feed; a
// line end at the very end adds no empty line. EFOpenError
// "Cannot open file "<path>". <reason>" when the file cannot be read.
QStringList LoadTextLines(const QString &path);
// Splits text as LoadTextLines splits a file.
QStringList SplitTextLines(const QByteArray &text);
// Replaces the file with the lines, each ended by a line feed, atomically
// (ReplaceFileAtomically). EFCreateError "Cannot create file "<path>".
// <reason>" when that fails; the old file is then whole.
void SaveTextLines(const QString &path, const QStringList &lines);
// The same three as bytes, for files the tool edits but does not own
// (/etc/fstab): what it does not change comes back exactly as it was,
// whatever its encoding.
QList<QByteArray> LoadLineBytes(const QString &path);
QList<QByteArray> SplitLineBytes(const QByteArray &text);
void SaveLineBytes(const QString &path, const QList<QByteArray> &lines);

// --- test seam ---------------------------------------------------------------
// Replaces fsync(2) for the primitives above (the new file's data before it
// is renamed into place, then its directory); an empty function restores
// the real call.
using TFileSync = std::function<int(int Fd)>;
void SetFileSyncForTesting(TFileSync Fn);
