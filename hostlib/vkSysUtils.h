#pragma once
// Stateless helpers, the 64-bit open routines and the two loggers.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <initializer_list>

// ---- 64-bit open ----------------------------------------------------------
// Creates or truncates Name read-write (O_RDWR|O_CREAT|O_TRUNC) with the
// permission bits Rights (umask applies). Descriptor or -1 (errno set).
// Descriptors of both routines are closed on exec.
int FileCreate64(const QString &Name, int Rights);
// Opens an existing file or device by the mode word (access bits 0-1, share
// value bits 4-7; share 1 takes a non-waiting whole-file write lock, which
// needs write access). Descriptor or -1 with errno set: ENOENT for a missing
// name, EINVAL for access bits 3 or a share value above 3. Rights is
// accepted and unused.
int FileOpen64(const QString &Name, unsigned Mode, int Rights);

// ---- paths and small helpers ---------------------------------------------
QString IncludeTrailingSlash(const QString &S);
QString BuildPath(const QString &Base, const QStringList &Parts, const QString &FileName,
                  bool ForceDirs);
QString GetAppFileName();   // absolute path of the running program; empty when unknown
QString GetAppDir();        // its directory with a trailing "/"; empty when unknown
// Test seam: the link GetAppFileName reads beside the loader's record
// (/proc/self/exe); a name that cannot be read leaves the loader's record
// alone. Empty restores the process's own link.
void SetProgramLinkForTesting(const QByteArray &link);
QString IfThenStr(bool Cond, const QString &TrueText, const QString &FalseText);
// Raises Exception(Msg) when Value holds nothing but blanks and control characters.
void CheckNotEmpty(const QString &Value, const QString &Msg);
// UTF-8 bytes to UTF-16 units by the reference tables, without validity
// checks (malformed input gives meaningless but well-defined units). Never
// reads past the end of S: a lead byte whose sequence is cut off by the end
// gives one U+FFFD.
QString UTF8ToWide(const QByteArray &S);
// Trims leading and trailing characters up to and including the space
// (blanks and control characters).
QString TrimCtl(const QString &S);
QStringView TrimCtl(QStringView S);
// The runtime's Format for the placeholders the programs use: %s (text),
// %d and %u (decimal), %x (hexadecimal) and %%; each placeholder takes the
// next argument. Arguments left over are ignored; a placeholder without an
// argument, or one of another kind, raises EConvertError.
QString Format(const QString &Fmt, std::initializer_list<QVariant> Args);

// ---- loggers --------------------------------------------------------------
// List log: "syslog.txt" in the program directory, at most 1000 entries;
// the 1001st saves all of them aside as "yymmddhhnn.txt" and empties it.
// LogFmt's printf-style format is checked against its arguments at compile
// time. AppendLogList never raises either.
void LogFmt(const QString &Cat, int ID, const char *Fmt, ...) Q_ATTRIBUTE_FORMAT_PRINTF(3, 4);
void LogLine(const QString &Cat, int ID, const QString &Msg);
void AppendLogList(const QString &Text);
// Stream log: log/<program>/syslog.txt, kept open between lines, moved aside
// as "yyyymmddhhnnss.txt" once it grows past 256 KiB. Serialised by a lock;
// never raises. A later archive or rotated file of the same minute or second
// takes the name with "-1", "-2", ... before ".txt" instead of replacing one.
void WriteLog(const QString &Cat, int ID, const QString &Msg);
// Closes the stream log's file (program exit, and tests that move the program).
void CloseLogStream();

// ---- process start ---------------------------------------------------------
// Run first in main, before any file or the display connection is opened:
// descriptors 0 to 2 that are closed are opened on /dev/null, so that nothing
// opened later (the X connection, a disk) takes the place of standard output
// and receives what is written there; and SIGPIPE is ignored, so that a write
// to a pipe whose reader has gone fails with EPIPE instead of ending the
// program. Every command the programs start gets the default SIGPIPE back.
void PrepareProcessStart();

// ---- the configuration tool's debug output -------------------------------
// Set by the tool's start-up: DebugLog writes to standard output instead of
// the stream log.
extern bool DebugToConsole;
// "[hh:nn:ss.zzz] " + Msg + line feed on standard output (flushed); with
// DebugToConsole false, WriteLog("DEBUG", 0, Msg). A failed write to
// standard output raises EInOutError.
void DebugLog(const QString &Msg);

// ---- clock ----------------------------------------------------------------
// The local time the loggers and DebugLog stamp with.
QDateTime LogNow();
// Test seam: a fixed local time for every stamp and file name; an invalid
// QDateTime restores the real clock.
void SetLogTimeForTesting(const QDateTime &t);
