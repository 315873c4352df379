#pragma once
// Stateless helpers, the 64-bit open routines and the two loggers.
#include <QByteArray>
#include <QString>
#include <QStringList>

// ---- 64-bit open ----------------------------------------------------------
// Creates or truncates Name read-write (O_RDWR|O_CREAT|O_TRUNC) with the
// permission bits Rights (umask applies). Descriptor or -1.
int FileCreate64(const QString &Name, int Rights);
// Opens an existing file or device by the mode word (access bits 0-1, share
// value bits 4-7; share 1 takes a non-waiting whole-file write lock).
// Descriptor or -1. Rights is accepted and unused.
int FileOpen64(const QString &Name, unsigned Mode, int Rights);

// ---- paths and small helpers ---------------------------------------------
QString IncludeTrailingSlash(const QString &S);
QString BuildPath(const QString &Base, const QStringList &Parts, const QString &FileName,
                  bool ForceDirs);
QString GetAppFileName();   // absolute path of the running program; empty when unknown
QString GetAppDir();        // its directory with a trailing "/"; empty when unknown
QString IfThenStr(bool Cond, const QString &TrueText, const QString &FalseText);
// Raises Exception(Msg) when Value holds nothing but blanks and control characters.
void CheckNotEmpty(const QString &Value, const QString &Msg);
// UTF-8 bytes to UTF-16 units by the reference tables, without validity
// checks; never reads past the end of S.
QString UTF8ToWide(const QByteArray &S);
// Trims leading and trailing characters up to and including the space
// (the runtime's Trim).
QString TrimCtl(const QString &S);

// ---- loggers --------------------------------------------------------------
// List log: "syslog.txt" in the program directory, at most 1000 entries.
void LogFmt(const QString &Cat, int ID, const char *Fmt, ...) Q_ATTRIBUTE_FORMAT_PRINTF(3, 4);
void LogLine(const QString &Cat, int ID, const QString &Msg);
void AppendLogList(const QString &Text);
// Stream log: log/<program>/syslog.txt, rotated past 256 KiB.
void WriteLog(const QString &Cat, int ID, const QString &Msg);
// Closes the stream log's file (program exit, and tests that move the program).
void CloseLogStream();

// ---- the configuration tool's debug output -------------------------------
extern bool DebugToConsole;
void DebugLog(const QString &Msg);
