// The two loggers: the list log ("syslog.txt" beside the program, at most
// 1000 entries) and the stream log (log/<program>/syslog.txt, moved aside
// past 256 KiB). Logging is best effort: nothing here raises to a caller.
#include "vkSysUtils.h"

#include "vkFileUtils.h"
#include "vkPaths.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kListLogLimit = 1000;
constexpr qint64 kStreamLogLimit = 262144;
// Enough distinct names for every archive one second (or minute) can see.
constexpr int kMaxSameStampNames = 10000;

QDateTime g_fixedTime;

// Serialises WriteLog; LogStream is touched only under it.
std::mutex LogLock;
int LogStream = -1;

// ---- file helpers --------------------------------------------------------


// "<stem>.txt", else "<stem>-1.txt", "<stem>-2.txt", ...
QString stampedName(const QString &dir, const QString &stem, int n)
{
    if (n == 0)
        return dir + stem + QLatin1String(".txt");
    return dir + stem + QLatin1Char('-') + QString::number(n) + QLatin1String(".txt");
}

// Splits a text file into entries the way a string list loads one: a line
// ends at LF, CR or CR LF, and a final line feed adds no empty entry.
QList<QByteArray> splitEntries(const QByteArray &data)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype len = data.size();
    qsizetype i = 0;
    while (i < len) {
        const char c = data.at(i);
        if (c == '\n' || c == '\r') {
            lines.append(data.mid(start, i - start));
            if (c == '\r' && i + 1 < len && data.at(i + 1) == '\n')
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < len)
        lines.append(data.mid(start));
    return lines;
}

QByteArray joinEntries(const QList<QByteArray> &lines)
{
    QByteArray out;
    qsizetype total = 0;
    for (const QByteArray &l : lines)
        total += l.size() + 1;
    out.reserve(total);
    for (const QByteArray &l : lines) {
        out += l;
        out += '\n';
    }
    return out;
}

// Saves the list log aside as "yymmddhhnn.txt". An archive made earlier in
// the same minute is never overwritten: the later one takes the first free
// name "yymmddhhnn-1.txt", "-2", ... so no saved entries are ever lost.
// O_EXCL makes the choice safe against the other program sharing the
// directory.
bool writeListArchive(const QString &dir, const QDateTime &now, const QByteArray &content)
{
    const QString stem = now.toString(QStringLiteral("yyMMddhhmm"));
    for (int n = 0; n < kMaxSameStampNames; ++n) {
        const QByteArray name = QFile::encodeName(stampedName(dir, stem, n));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool ok = WriteAll(fd, content);
        const bool closed = ::close(fd) == 0;
        if (ok && closed)
            return true;
        ::unlink(name.constData());
        return false;
    }
    return false;
}

bool saveListLog(const QString &path, const QByteArray &content)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(content) == content.size();
}

// ---- stream log ----------------------------------------------------------

QString streamLogFileName()
{
    QString program = QFileInfo(GetAppFileName()).fileName();
    const qsizetype dot = program.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        program.truncate(dot);
    return BuildPath(GetAppDir(), {QStringLiteral("log"), program}, QStringLiteral("syslog.txt"),
                     true);
}

void openLogStream()
{
    const QByteArray p = QFile::encodeName(streamLogFileName());
    LogStream = ::open(p.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

bool renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: test, then rename.
    if (::access(to.constData(), F_OK) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

// Moves the full log aside as "yyyymmddhhnnss.txt". A second rotation within
// the same second must not destroy the first rotated file, so it takes the
// first free name "yyyymmddhhnnss-1.txt", "-2", ... If the file cannot be
// moved at all it is deleted, so the log starts afresh instead of growing
// without end.
void rotateLogFile()
{
    const QString path = streamLogFileName();
    const QString dir = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    const QString stem = LogNow().toString(QStringLiteral("yyyyMMddhhmmss"));
    const QByteArray from = QFile::encodeName(path);
    for (int n = 0; n < kMaxSameStampNames; ++n) {
        if (renameNoReplace(from, QFile::encodeName(stampedName(dir, stem, n))))
            return;
        if (errno != EEXIST)
            break;
    }
    ::unlink(from.constData());
}

} // namespace

// ---- clock ----------------------------------------------------------------

QDateTime LogNow()
{
    if (g_fixedTime.isValid())
        return g_fixedTime;
    return QDateTime::currentDateTime();
}

void SetLogTimeForTesting(const QDateTime &t) { g_fixedTime = t; }

// ---- list log -------------------------------------------------------------

void AppendLogList(const QString &Text)
{
    try {
        const QString dir = GetAppDir();
        const QString path = dir + QLatin1String("syslog.txt");
        QList<QByteArray> entries;
        if (FileExists(path)) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                return;
            const QByteArray data = f.readAll();
            if (f.error() != QFileDevice::NoError)
                return;
            entries = splitEntries(data);
        }
        const QDateTime now = LogNow();
        entries.append((QLatin1Char('[') + now.toString(QStringLiteral("MM-dd hh:mm:ss.zzz"))
                        + QLatin1String("] ") + Text)
                           .toUtf8());
        // When the archive cannot be written every entry goes back into
        // syslog.txt, and the next entry tries the archive again.
        if (entries.size() > kListLogLimit && writeListArchive(dir, now, joinEntries(entries)))
            entries.clear();
        saveListLog(path, joinEntries(entries));
    } catch (...) {
    }
}

void LogLine(const QString &Cat, int ID, const QString &Msg)
{
    try {
        AppendLogList(QStringLiteral("C=\"%1\" ID=%2 M=\"%3\"").arg(Cat, QString::number(ID), Msg));
    } catch (...) {
    }
}

void LogFmt(const QString &Cat, int ID, const char *Fmt, ...)
{
    va_list ap;
    va_start(ap, Fmt);
    const QString msg = QString::vasprintf(Fmt, ap);
    va_end(ap);
    LogLine(Cat, ID, msg);
}

// ---- stream log -----------------------------------------------------------

void WriteLog(const QString &Cat, int ID, const QString &Msg)
{
    try {
        std::lock_guard<std::mutex> guard(LogLock);
        if (LogStream < 0)
            openLogStream();
        if (LogStream < 0)
            return;
        const QString stamp = LogNow().toString(QStringLiteral("MM-dd hh:mm:ss.zzz"));
        const QByteArray line = QStringLiteral("[%1] C=\"%2\" ID=%3 M=\"%4\"\n")
                                    .arg(stamp, Cat, QString::number(ID), Msg)
                                    .toUtf8();
        ::lseek(LogStream, 0, SEEK_END);
        WriteAll(LogStream, line);
        struct stat st;
        if (::fstat(LogStream, &st) == 0 && st.st_size > kStreamLogLimit) {
            ::close(LogStream);
            LogStream = -1;
            rotateLogFile();
        }
    } catch (...) {
    }
}

void CloseLogStream()
{
    try {
        std::lock_guard<std::mutex> guard(LogLock);
        if (LogStream >= 0)
            ::close(LogStream);
        LogStream = -1;
    } catch (...) {
    }
}
