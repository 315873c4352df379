// The 64-bit open routines, the program's paths, the small helpers and the
// configuration tool's debug output. The loggers live in vkLog.cpp.
#include "vkSysUtils.h"

#include "vkErrors.h"
#include "vkPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <link.h>
#include <sys/auxv.h>
#include <unistd.h>

// ---- 64-bit open ----------------------------------------------------------

int FileCreate64(const QString &Name, int Rights)
{
    // Descriptors never leak into the commands the programs start.
    return ::open(QFile::encodeName(Name).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC,
                  mode_t(Rights));
}

int FileOpen64(const QString &Name, unsigned Mode, int /*Rights*/)
{
    const unsigned access = Mode & 3u;
    const unsigned share = (Mode & 0xF0u) >> 4;
    if (access > 2 || share > 3) {
        // A name that is not there is reported as such before the mode:
        // euidaccess sets errno (ENOENT...) so a caller can report why.
        if (FileExists(Name))
            errno = EINVAL;
        return -1;
    }
    // Otherwise the open itself says whether the file exists, with the same
    // error number a separate existence test would give (ENOENT, ENOTDIR,
    // ELOOP...); a directory opens for reading as it did after that test.
    const int fd = ::open(QFile::encodeName(Name).constData(), int(access) | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    if (share == 1) {
        // Exclusive: an advisory write lock over the whole file, not waited
        // for. It needs a descriptor open for writing, so read-only fails.
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 0;
        fl.l_len = 0;
        if (::fcntl(fd, F_SETLK, &fl) != 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return -1;
        }
    }
    return fd;
}

// ---- paths and small helpers ---------------------------------------------

QString IncludeTrailingSlash(const QString &S)
{
    if (S.endsWith(QLatin1Char('/')))
        return S;
    return S + QLatin1Char('/');
}

QStringView TrimCtl(QStringView S)
{
    qsizetype b = 0;
    qsizetype e = S.size();
    while (b < e && S.at(b).unicode() <= 0x20)
        ++b;
    while (e > b && S.at(e - 1).unicode() <= 0x20)
        --e;
    return S.mid(b, e - b);
}

QString TrimCtl(const QString &S)
{
    const QStringView t = TrimCtl(QStringView(S));
    return S.mid(t.isNull() ? 0 : t.data() - S.constData(), t.size());
}

QString BuildPath(const QString &Base, const QStringList &Parts, const QString &FileName,
                  bool ForceDirs)
{
    QString result = IncludeTrailingSlash(Base);
    for (const QString &part : Parts) {
        if (TrimCtl(part).isEmpty())
            continue;
        result = IncludeTrailingSlash(result + part);
    }
    if (ForceDirs)
        QDir().mkpath(result);   // a failure shows when the caller uses the path
    if (!FileName.isEmpty())
        result += FileName;
    return result;
}

namespace {

// The dynamic loader's record of the main program: the first entry of its
// object list. glibc leaves that name empty; the path the program was
// started by (AT_EXECFN), made absolute, stands in for it then.
int firstObjectName(struct dl_phdr_info *info, size_t, void *data)
{
    if (info->dlpi_name)
        *static_cast<QByteArray *>(data) = QByteArray(info->dlpi_name);
    return 1;   // the first entry is the main program; stop there
}

QByteArray loaderProgramName()
{
    QByteArray name;
    dl_iterate_phdr(firstObjectName, &name);
    if (name.isEmpty()) {
        const char *execfn = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
        if (execfn && *execfn) {
            char resolved[PATH_MAX];
            if (::realpath(execfn, resolved))
                name = QByteArray(resolved);
            else if (*execfn == '/')
                name = QByteArray(execfn);
        }
    }
    return name.left(4095);
}

QByteArray &programLink()
{
    static QByteArray link("/proc/self/exe");
    return link;
}

QByteArray linkProgramName()
{
    // The process's own link, never a system path to be remapped.
    char buf[4096];
    const ssize_t n = ::readlink(programLink().constData(), buf, sizeof(buf) - 1);
    if (n <= 0)
        return {};
    return QByteArray(buf, int(n));
}

} // namespace

void SetProgramLinkForTesting(const QByteArray &link)
{
    programLink() = link.isEmpty() ? QByteArray("/proc/self/exe") : link;
}

QString GetAppFileName()
{
    const QString over = AppFileNameOverride();
    if (!over.isEmpty())
        return over;
    const QByteArray link = linkProgramName();
    const QByteArray loader = loaderProgramName();
    return QFile::decodeName(link.size() > loader.size() ? link : loader);
}

QString GetAppDir()
{
    const QString f = GetAppFileName();
    const qsizetype slash = f.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return f.left(slash + 1);
}

QString IfThenStr(bool Cond, const QString &TrueText, const QString &FalseText)
{
    return Cond ? TrueText : FalseText;
}

void CheckNotEmpty(const QString &Value, const QString &Msg)
{
    if (TrimCtl(Value).isEmpty())
        throw Exception(Msg);
}

QString UTF8ToWide(const QByteArray &S)
{
    // The offsets remove the marker bits of a well-formed sequence of
    // n + 1 bytes; malformed input wraps modulo 2^32 and ends up above
    // 0x10FFFF, where it becomes the replacement character.
    static const quint32 offsets[6] = {0x00000000u, 0x00003080u, 0x000E2080u,
                                       0x03C82080u, 0xFA082080u, 0x82082080u};
    QString result;
    if (S.isEmpty())
        return result;
    result.resize(S.size());
    QChar *out = result.data();
    qsizetype units = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(S.constData());
    const qsizetype len = S.size();
    qsizetype i = 0;
    while (i < len) {
        const unsigned lead = p[i];
        const int n = lead < 0xC0 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF8 ? 3
                                                          : lead < 0xFC ? 4 : 5;
        if (i + n >= len) {
            // The announced bytes run past the end: the cut-off tail is one
            // replacement character, and nothing beyond the text is read.
            out[units++] = QChar(0xFFFD);
            break;
        }
        quint32 v = 0;
        for (int k = 0; k < n; ++k) {
            v = (v + p[i]) << 6;
            ++i;
        }
        v += p[i];
        ++i;
        v -= offsets[n];
        if (v <= 0xFFFFu) {
            out[units++] = QChar(char16_t(v));
        } else if (v > 0x10FFFFu) {
            out[units++] = QChar(0xFFFD);
        } else {
            v -= 0x10000u;
            out[units++] = QChar(char16_t(0xD800u + (v >> 10)));
            out[units++] = QChar(char16_t(0xDC00u + (v & 0x3FFu)));
        }
    }
    result.truncate(units);
    return result;
}

// ---- process start ---------------------------------------------------------

void PrepareProcessStart()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one: all below it are open.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd)
            ::close(null);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

// ---- the configuration tool's debug output -------------------------------

bool DebugToConsole = false;

void DebugLog(const QString &Msg)
{
    if (!DebugToConsole) {
        WriteLog(QStringLiteral("DEBUG"), 0, Msg);
        return;
    }
    const QByteArray line = (QLatin1Char('[') + LogNow().toString(QStringLiteral("hh:mm:ss.zzz"))
                             + QLatin1String("] ") + Msg + QLatin1Char('\n'))
                                .toUtf8();
    errno = 0;
    const size_t written = std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    if (written != size_t(line.size()) || std::fflush(stdout) != 0)
        throw EInOutError(QStringLiteral("I/O error %1").arg(errno));
}

QString Format(const QString &Fmt, std::initializer_list<QVariant> Args)
{
    const auto invalid = [&] {
        return EConvertError(QStringLiteral("Format '%1' invalid or incompatible with argument").arg(Fmt));
    };
    QString out;
    out.reserve(Fmt.size());
    auto arg = Args.begin();
    for (qsizetype i = 0; i < Fmt.size(); ++i) {
        const QChar c = Fmt.at(i);
        if (c != QLatin1Char('%') || i + 1 >= Fmt.size()) {
            out += c;
            continue;
        }
        const QChar conv = Fmt.at(++i);
        if (conv == QLatin1Char('%')) {
            out += conv;
            continue;
        }
        if (arg == Args.end())
            throw invalid();
        switch (conv.unicode()) {
        case 's': out += arg->toString(); break;
        case 'd': out += QString::number(arg->toLongLong()); break;
        case 'u': out += QString::number(arg->toULongLong()); break;
        case 'x': out += QString::number(arg->toULongLong(), 16).toUpper(); break;
        default: throw invalid();
        }
        ++arg;
    }
    return out;
}
