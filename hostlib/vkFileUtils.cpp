#include "vkFileUtils.h"

#include "vkErrors.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
TFileSync g_sync;   // empty: the real fsync(2)

int syncFd(int fd)
{
    return g_sync ? g_sync(fd) : ::fsync(fd);
}
} // namespace

void SetFileSyncForTesting(TFileSync Fn)
{
    g_sync = std::move(Fn);
}

bool ReadWholeFile(const QString &path, QByteArray &data)
{
    TFdCloser fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
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

bool ReplaceFileAtomically(const QString &path, const QByteArray &data)
{
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink() && !info.canonicalFilePath().isEmpty())
        target = info.canonicalFilePath();   // the link stays; its file gets the content

    const QByteArray targetName = QFile::encodeName(target);
    const QByteArray dirName = QFile::encodeName(QFileInfo(target).path());
    struct stat old;
    const bool hasOld = ::stat(targetName.constData(), &old) == 0 && S_ISREG(old.st_mode);

    QByteArray tmpName = dirName + "/." + QFile::encodeName(QFileInfo(target).fileName()) + ".XXXXXX";
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
    if (::fchmod(fd.get(), mode) != 0)
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

QList<QByteArray> LoadLineBytes(const QString &path)
{
    QByteArray text;
    if (!ReadWholeFile(path, text)) {
        const int err = errno;
        throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2")
                              .arg(path, QString::fromLocal8Bit(std::strerror(err))));
    }
    return SplitLineBytes(text);
}

void SaveLineBytes(const QString &path, const QList<QByteArray> &lines)
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
}

namespace {
QStringList DecodeLines(const QList<QByteArray> &bytes)
{
    QStringList lines;
    QStringDecoder decode(QStringDecoder::System);
    for (const QByteArray &line : bytes)
        lines << decode(line);
    return lines;
}
} // namespace

QStringList SplitTextLines(const QByteArray &text) { return DecodeLines(SplitLineBytes(text)); }

QStringList LoadTextLines(const QString &path) { return DecodeLines(LoadLineBytes(path)); }

void SaveTextLines(const QString &path, const QStringList &lines)
{
    QStringEncoder encode(QStringEncoder::System);
    QList<QByteArray> bytes;
    for (const QString &line : lines)
        bytes << encode(line);
    SaveLineBytes(path, bytes);
}
