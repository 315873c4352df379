#include "vkFileUtils.h"

#include "vkErrors.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
TFileSync g_sync;   // empty: the real fsync(2)
TFileMode g_mode;   // empty: the real fchmod(2)
std::function<void()> g_replaceGap;
std::function<void(int)> g_opened;

int syncFd(int fd)
{
    return g_sync ? g_sync(fd) : ::fsync(fd);
}

int modeFd(int fd, mode_t mode)
{
    return g_mode ? g_mode(fd, mode) : ::fchmod(fd, mode);
}

void noteOpened(int fd)
{
    if (g_opened && fd >= 0)
        g_opened(fd);
}
} // namespace

void SetFileSyncForTesting(TFileSync Fn)
{
    g_sync = std::move(Fn);
}

void SetFileModeForTesting(TFileMode Fn)
{
    g_mode = std::move(Fn);
}

void SetReplaceGapForTesting(std::function<void()> Fn)
{
    g_replaceGap = std::move(Fn);
}

void SetFileOpenedForTesting(std::function<void(int Fd)> Fn)
{
    g_opened = std::move(Fn);
}

bool ReadWholeFile(const QString &path, QByteArray &data)
{
    // Non-blocking, so that neither the open nor a read waits on a FIFO, a
    // terminal or any device with nothing to say.
    TFdCloser fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    noteOpened(fd.get());
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    const qsizetype start = data.size();
    auto fail = [&](int err) {
        data.truncate(start);
        errno = err;
        return false;
    };
    // A regular file has a known size and a bound no real one reaches; what
    // reports no size (a device, a /proc file) may never end, and has a
    // tighter one. A file that grows while it is read meets its bound too.
    const bool sized = S_ISREG(st.st_mode) && st.st_size > 0;
    const qsizetype bound = sized ? kMaxWholeFileSize : kMaxReadFileSize;
    if (sized && st.st_size > bound)
        return fail(EFBIG);
    if (sized)
        data.reserve(start + qsizetype(st.st_size));
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            return true;
        if (data.size() - start + n > bound)
            return fail(EFBIG);
        data.append(buf, n);
    }
}

// The process's umask, read without changing it: setting it to 0 for a
// moment, the classic way, would let a file another thread creates meanwhile
// come out world-writable.
static mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = status.readAll().split('\n');
        for (const QByteArray &line : lines)
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint m = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(m);
            }
    }
    return 022;
}

bool WriteAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

namespace {
// The directory part of a file name, as dirname(3) gives it.
QByteArray dirOf(const QByteArray &name)
{
    const qsizetype slash = name.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : name.left(slash);
}

// Follows the links that name is, to the name of the file they lead to,
// which need not exist. False with ELOOP on a circle or an endless chain.
bool followLinks(QByteArray &name)
{
    for (int hops = 0; hops < 40; ++hops) {
        char buf[4096];
        const ssize_t n = ::readlink(name.constData(), buf, sizeof buf);
        if (n < 0)
            return true;   // not a link, or nothing there: the name is the file's
        if (size_t(n) == sizeof buf) {
            errno = ENAMETOOLONG;
            return false;
        }
        QByteArray target(buf, n);
        name = target.startsWith('/') ? target : dirOf(name) + '/' + target;
    }
    errno = ELOOP;
    return false;
}

// A character device takes the data as any writer would give it; it cannot
// be replaced, and replacing it (a /dev/null that switches a file off) would
// break everything else that uses it.
bool writeToDevice(const QByteArray &name, const QByteArray &data)
{
    TFdCloser fd(::open(name.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    noteOpened(fd.get());
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return false;
    if (!S_ISCHR(st.st_mode)) {   // changed since it was looked at
        errno = EINVAL;
        return false;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0 || !WriteAll(fd.get(), data))
        return false;
    return fd.release() == 0;
}
} // namespace

bool ReplaceFileAtomically(const QString &path, const QByteArray &data)
{
    QByteArray targetName = QFile::encodeName(path);
    if (!followLinks(targetName))
        return false;
    struct stat old;
    const bool hasOld = ::lstat(targetName.constData(), &old) == 0;
    if (g_replaceGap)
        g_replaceGap();
    if (hasOld && S_ISCHR(old.st_mode))
        return writeToDevice(targetName, data);
    if (hasOld && !S_ISREG(old.st_mode)) {
        errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
        return false;
    }

    const QByteArray dirName = dirOf(targetName);
    const QByteArray baseName = targetName.mid(targetName.lastIndexOf('/') + 1);
    QByteArray tmpName = dirName + "/." + baseName + ".XXXXXX";
    const int raw = ::mkostemp(tmpName.data(), O_CLOEXEC);
    if (raw < 0)
        return false;
    TFdCloser fd(raw);
    // The cause stays in errno for the caller's message.
    auto fail = [&] {
        const int err = errno;
        fd.release();
        ::unlink(tmpName.constData());
        errno = err;
        return false;
    };

    if (!WriteAll(fd.get(), data))
        return fail();
    if (hasOld && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Best effort: only a privileged writer can give the file away.
        const int rc = ::fchown(fd.get(), old.st_uid, old.st_gid);
        Q_UNUSED(rc);
    }
    const mode_t mode = hasOld ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    if (modeFd(fd.get(), mode) != 0)
        return fail();
    if (syncFd(fd.get()) != 0)
        return fail();
    if (fd.release() != 0 || ::rename(tmpName.constData(), targetName.constData()) != 0) {
        const int err = errno;
        ::unlink(tmpName.constData());
        errno = err;
        return false;
    }
    // Make the rename itself durable; the new content is in place either way.
    TFdCloser dir(::open(dirName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        syncFd(dir.get());
    return true;
}

QList<QByteArray> SplitLineBytes(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = text.at(i);
        if (c != '\n' && c != '\r')
            continue;
        lines << text.mid(start, i - start);
        if (c == '\r' && i + 1 < n && text.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

namespace {
EFOpenError openError(const QString &path, int err)
{
    return EFOpenError(QStringLiteral("Cannot open file \"%1\". %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(err))));
}

// The number of lines SplitLineBytes makes of text.
qsizetype countLines(const QByteArray &text)
{
    qsizetype lines = 0;
    const char *p = text.constData(), *const end = p + text.size();
    while (p < end) {
        ++lines;
        while (p < end && *p != '\n' && *p != '\r')
            ++p;
        if (p < end && *p == '\r' && p + 1 < end && p[1] == '\n')
            ++p;
        if (p < end)
            ++p;
    }
    return lines;
}
} // namespace

QByteArray LoadFileBytes(const QString &path)
{
    QByteArray text;
    if (!ReadWholeFile(path, text))
        throw openError(path, errno);
    return text;
}

QList<QByteArray> LoadLineBytes(const QString &path, QByteArray *text)
{
    QByteArray bytes = LoadFileBytes(path);
    if (countLines(bytes) > kMaxFileLines)
        throw openError(path, EFBIG);
    QList<QByteArray> lines = SplitLineBytes(bytes);
    if (text)
        *text = std::move(bytes);
    return lines;
}

QByteArray SaveLineBytes(const QString &path, const QList<QByteArray> &lines)
{
    QByteArray text;
    for (const QByteArray &line : lines) {
        text += line;
        text += '\n';
    }
    errno = 0;
    if (!ReplaceFileAtomically(path, text)) {
        const int err = errno ? errno : EIO;
        throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2")
                                .arg(path, QString::fromLocal8Bit(std::strerror(err))));
    }
    return text;
}

namespace {
enum class TShownAs { Utf8, Local };

QString decodeShown(const QByteArray &bytes, TShownAs &how)
{
    how = TShownAs::Utf8;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    const char *codeset = nl_langinfo(CODESET);
    QStringDecoder local(codeset ? codeset : "", QStringDecoder::Flag::Stateless);
    if (local.isValid()) {
        QString decoded = local(bytes);
        if (!local.hasError()) {
            how = TShownAs::Local;
            return decoded;
        }
    }
    return text;
}
} // namespace

QString DecodeLocalText(const QByteArray &bytes)
{
    TShownAs how;
    return decodeShown(bytes, how);
}

QByteArray EncodeEditedLine(const QString &Text, const QByteArray &Original)
{
    TShownAs how;
    if (decodeShown(Original, how) == Text)
        return Original;
    if (how == TShownAs::Local) {
        const char *codeset = nl_langinfo(CODESET);
        QStringEncoder local(codeset ? codeset : "", QStringEncoder::Flag::Stateless);
        QByteArray bytes = local(Text);
        if (local.isValid() && !local.hasError())
            return bytes;
    }
    return Text.toUtf8();
}

QStringList LoadTextLines(const QString &path)
{
    QStringList lines;
    for (const QByteArray &line : LoadLineBytes(path))
        lines << DecodeLocalText(line);
    return lines;
}
