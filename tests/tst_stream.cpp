// The 64-bit file stream, its open routines, and the configuration tool's
// variant of opening with its debug output.
#include "testutil.h"
#include "vkClasses.h"
#include "vkErrors.h"
#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkVariant.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <cstdio>
#include <stdio_ext.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr qint64 GiB = qint64(1) << 30;

// Runs `body` with standard output sent to a file and gives what it wrote.
template <typename F>
QByteArray captureStdout(F body)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("out")));
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::close(fd);
    try {
        body();
    } catch (...) {
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        throw;
    }
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    QFile f(QFile::decodeName(path));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Runs `attempt` in a child process: 0 when it succeeded, 1 when it failed
// at once, -1 when it did not come back (it waited on a lock, say).
template <typename F>
int inOtherProcess(F attempt)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(5);
        ::_exit(attempt() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// FileOpen64 in a child process.
int openInOtherProcess(const QString &name, unsigned mode)
{
    return inOtherProcess([&] { return FileOpen64(name, mode, 0) >= 0; });
}

// A child's own write lock on `len` bytes from `start`, next to a lock
// FileOpen64 holds: 0 when it is granted.
int lockRangeInOtherProcess(const QString &name, off_t start, off_t len)
{
    return inOtherProcess([&] {
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDWR);
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = start;
        fl.l_len = len;
        return fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0;
    });
}

// The lowest free descriptor number.
int lowestFreeDescriptor()
{
    const int fd = ::dup(0);
    ::close(fd);
    return fd;
}

struct ToolVariant {
    ToolVariant() { SetLibVariant(TLibVariant::Tool); }
    ~ToolVariant() { SetLibVariant(TLibVariant::Console); }
};

} // namespace

class TestStream : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;
    QString file(const char *name) const { return FDir.filePath(QLatin1String(name)); }

private Q_SLOTS:
    void cleanup()
    {
        SetLibVariant(TLibVariant::Console);
        SetLogTimeForTesting({});
        DebugToConsole = false;
    }

    void sparseFileBeyond4GiB()
    {
        const QString name = file("big.img");
        const qint64 size = 5 * GiB + 512;
        {
            TFileStream64 s(name, fmCreate);
            s.SetSize(size);
            QCOMPARE(s.Size(), size);
            QCOMPARE(s.Position(), size);
        }
        const qint64 far = (qint64(1) << 32) + 4096 + 7;
        const QByteArray payload("beyond four gigabytes");
        {
            TFileStream64 s(name, fmOpenReadWrite);
            QCOMPARE(s.Seek(far, soBeginning), far);
            QCOMPARE(s.Position(), far);
            QCOMPARE(s.Write(payload.constData(), payload.size()), qint64(payload.size()));
            QCOMPARE(s.Position(), far + payload.size());
        }
        TFileStream64 s(name, fmOpenRead | fmShareDenyNone);
        QCOMPARE(s.Size(), size);
        QCOMPARE(s.Position(), qint64(0));   // Size seeks back where it was
        QCOMPARE(s.Seek(far - size, soEnd), far);
        QByteArray back(payload.size(), '\0');
        QCOMPARE(s.Read(back.data(), back.size()), qint64(back.size()));
        QCOMPARE(back, payload);
        s.SetPosition(size - 1);
        char last = 'x';
        QCOMPARE(s.Read(&last, 1), qint64(1));
        QCOMPARE(last, '\0');
        QCOMPARE(s.Read(&last, 1), qint64(0));   // at the end
        QCOMPARE(s.Seek(-1, soBeginning), qint64(-1));
        QCOMPARE(s.Position(), size);            // a failed seek leaves the position
    }

    void blockDeviceSizeIsItsLength()
    {
        // Read-only look at the first block device this process may open.
        const QStringList devs = QDir(QStringLiteral("/sys/block"))
                                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        for (const QString &dev : devs) {
            QFile sizeFile(QStringLiteral("/sys/block/%1/size").arg(dev));
            const qint64 sectors =
                sizeFile.open(QIODevice::ReadOnly) ? sizeFile.readAll().trimmed().toLongLong() : 0;
            const int probe =
                FileOpen64(QStringLiteral("/dev/") + dev, fmOpenRead | fmShareDenyNone, 0);
            if (probe >= 0)
                ::close(probe);
            if (sectors <= 0 || probe < 0)
                continue;
            TFileStream64 s(QStringLiteral("/dev/") + dev, fmOpenRead | fmShareDenyNone);
            QCOMPARE(s.Size(), sectors * 512);
            QCOMPARE(s.Position(), qint64(0));
            return;
        }
        QSKIP("no block device may be opened here");
    }

    void openModes_data()
    {
        QTest::addColumn<unsigned>("mode");
        QTest::addColumn<bool>("opens");
        QTest::newRow("read, share compat") << 0x00u << true;
        QTest::newRow("write") << 0x01u << true;
        QTest::newRow("read-write") << 0x02u << true;
        QTest::newRow("access bits 3") << 0x03u << false;
        QTest::newRow("read, exclusive") << 0x10u << false;
        QTest::newRow("read-write, exclusive") << 0x12u << true;
        QTest::newRow("write, exclusive") << 0x11u << true;
        QTest::newRow("read, deny write") << 0x20u << true;
        QTest::newRow("read, deny none") << 0x30u << true;
        QTest::newRow("share value 4") << 0x40u << false;
        QTest::newRow("share value 8") << 0x80u << false;
        QTest::newRow("share value 15") << 0xF2u << false;
        QTest::newRow("create word") << 0xFFFFu << false;
    }
    void openModes()
    {
        QFETCH(unsigned, mode);
        QFETCH(bool, opens);
        const QString name = file("modes");
        writeFile(name, "content");
        const int fd = FileOpen64(name, mode, 0);
        QCOMPARE(fd >= 0, opens);
        if (fd >= 0) {
            QCOMPARE(::fcntl(fd, F_GETFL) & O_ACCMODE, int(mode & 3));
            QVERIFY(::fcntl(fd, F_GETFD) & FD_CLOEXEC);   // never inherited by a command
            ::close(fd);
        }
        QCOMPARE(QFile(name).size(), qint64(7));   // opening never truncates
    }

    // What a failed open answers: the result, errno, and the tool's debug
    // line, which carries that errno. The name's kind decides before the
    // mode does: a name that is not there says so whatever the mode.
    void openFailures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<unsigned>("mode");
        QTest::addColumn<int>("err");   // 0: the open succeeds
        const QString longName(NAME_MAX + 1, QLatin1Char('n'));
        QTest::newRow("missing") << QStringLiteral("nothing") << 0x30u << ENOENT;
        QTest::newRow("missing, access bits 3") << QStringLiteral("nothing") << 0x33u << ENOENT;
        QTest::newRow("missing, share 4") << QStringLiteral("nothing") << 0x40u << ENOENT;
        QTest::newRow("missing, exclusive") << QStringLiteral("nothing") << 0x12u << ENOENT;
        QTest::newRow("empty name") << QString() << 0x30u << ENOENT;
        QTest::newRow("empty name, access bits 3") << QString() << 0x03u << ENOENT;
        QTest::newRow("dangling link") << QStringLiteral("dangling") << 0x30u << ENOENT;
        QTest::newRow("dangling link, access bits 3") << QStringLiteral("dangling") << 0x03u << ENOENT;
        QTest::newRow("link loop") << QStringLiteral("loop") << 0x30u << ELOOP;
        QTest::newRow("link loop, share 5") << QStringLiteral("loop") << 0x50u << ELOOP;
        QTest::newRow("below a plain file") << QStringLiteral("plain/x") << 0x30u << ENOTDIR;
        QTest::newRow("below a plain file, access bits 3") << QStringLiteral("plain/x") << 0x03u << ENOTDIR;
        QTest::newRow("name too long") << longName << 0x30u << ENAMETOOLONG;
        QTest::newRow("plain, access bits 3") << QStringLiteral("plain") << 0x33u << EINVAL;
        QTest::newRow("plain, share 4") << QStringLiteral("plain") << 0x42u << EINVAL;
        QTest::newRow("plain, read exclusive") << QStringLiteral("plain") << 0x10u << EBADF;
        QTest::newRow("plain through a link") << QStringLiteral("link") << 0x30u << 0;
        QTest::newRow("directory, read") << QStringLiteral("dir") << 0x30u << 0;
        QTest::newRow("directory, write") << QStringLiteral("dir") << 0x01u << EISDIR;
        QTest::newRow("directory, read-write") << QStringLiteral("dir") << 0x02u << EISDIR;
        QTest::newRow("directory, access bits 3") << QStringLiteral("dir") << 0x03u << EINVAL;
        QTest::newRow("directory, share 6") << QStringLiteral("dir") << 0x60u << EINVAL;
    }
    void openFailures()
    {
        QFETCH(QString, name);
        QFETCH(unsigned, mode);
        QFETCH(int, err);
        QDir(FDir.path()).mkpath(QStringLiteral("dir"));
        writeFile(file("plain"), "x");
        for (const char *link : {"dangling", "loop", "link"})
            QFile::remove(file(link));
        QVERIFY(QFile::link(file("gone"), file("dangling")));
        QVERIFY(QFile::link(file("loop"), file("loop")));
        QVERIFY(QFile::link(file("plain"), file("link")));
        const QString path = name.isEmpty() ? QString() : FDir.filePath(name);

        const int freeBefore = lowestFreeDescriptor();
        errno = 0;
        const int fd = FileOpen64(path, mode, 0);
        const int got = errno;
        if (fd >= 0)
            ::close(fd);
        QCOMPARE(fd >= 0, err == 0);
        QCOMPARE(lowestFreeDescriptor(), freeBefore);   // a failed open keeps no descriptor
        if (err != 0)
            QCOMPARE(got, err);

        ToolVariant tool;
        DebugToConsole = true;
        SetLogTimeForTesting(QDateTime(QDate(2026, 12, 7), QTime(10, 15, 2, 417)));
        int handle = -1;
        const QByteArray out = captureStdout([&] {
            TFileStream64 s(path, quint16(mode));
            handle = s.Handle();
        });
        QCOMPARE(handle >= 0, err == 0);
        QCOMPARE(out, err == 0 ? QByteArray()
                               : QStringLiteral("[10:15:02.417] error: %1 open file:%2\n").arg(err).arg(path).toUtf8());
    }

    void exclusiveLockAcrossProcesses()
    {
        const QString name = file("locked");
        writeFile(name, QByteArray(4096, 'x'));
        const unsigned mode = fmOpenReadWrite | fmShareExclusive;
        const int fd = FileOpen64(name, mode, 0);
        QVERIFY(fd >= 0);
        // A second locker fails at once, without waiting.
        QCOMPARE(openInOtherProcess(name, mode), 1);
        // The lock covers the whole file: its first byte and far past its end.
        QCOMPARE(lockRangeInOtherProcess(name, 0, 1), 1);
        QCOMPARE(lockRangeInOtherProcess(name, 1 << 20, 1), 1);
        // Openers that do not lock are not excluded by the advisory lock.
        QCOMPARE(openInOtherProcess(name, fmOpenRead | fmShareDenyNone), 0);
        ::close(fd);
        QCOMPARE(openInOtherProcess(name, mode), 0);
    }

    void createEmptiesAndUsesDefaultRights()
    {
        const QString name = file("created");
        writeFile(name, "old content");
        const mode_t old = ::umask(002);   // leaves group write, so fixed rights would show
        {
            TFileStream64 s(name, fmCreate, 0);   // Rights 0 is not used
            QCOMPARE(s.Size(), qint64(0));
            QCOMPARE(::fcntl(s.Handle(), F_GETFL) & O_ACCMODE, O_RDWR);
            QVERIFY(::fcntl(s.Handle(), F_GETFD) & FD_CLOEXEC);
        }
        const QString fresh = file("fresh");
        delete new TFileStream64(fresh, fmCreate, 0);
        ::umask(old);
        QCOMPARE(QFile(name).size(), qint64(0));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(fresh).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0664);
    }

    void consoleOpenFailureRaises_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<unsigned>("mode");
        QTest::addColumn<int>("err");
        QTest::newRow("missing") << QStringLiteral("no such file") << 0x30u << ENOENT;
        QTest::newRow("read-only exclusive") << QStringLiteral("plain") << 0x10u << EBADF;
    }
    void consoleOpenFailureRaises()
    {
        QFETCH(QString, name);
        QFETCH(unsigned, mode);
        QFETCH(int, err);
        writeFile(file("plain"), "x");
        const QString path = FDir.filePath(name);
        try {
            TFileStream64 s(path, quint16(mode));
            QFAIL("no exception");
        } catch (const Exception &e) {
            QCOMPARE(e.Message(), QStringLiteral("error %1 open file \"%2\"").arg(err).arg(path));
        }
    }

    void isDeviceRule_data()
    {
        QTest::addColumn<bool>("tool");
        QTest::addColumn<bool>("expected");
        QTest::newRow("console: contains /dev/") << false << true;
        QTest::newRow("tool: must begin with /dev/") << true << false;
    }
    void isDeviceRule()
    {
        QFETCH(bool, tool);
        QFETCH(bool, expected);
        QDir(FDir.path()).mkpath(QStringLiteral("mnt/dev"));
        const QString name = file("mnt/dev/x");
        writeFile(name, "12345");
        SetLibVariant(tool ? TLibVariant::Tool : TLibVariant::Console);
        TFileStream64 s(name, fmOpenRead | fmShareDenyNone);
        QCOMPARE(s.IsDevice, expected);
        // Only the tool measures the size at open.
        QCOMPARE(s.OpenSize, tool ? qint64(5) : qint64(0));
    }

    void setSizeFailures()
    {
        const QString name = file("sized");
        writeFile(name, "0123456789");
        {
            TFileStream64 s(name, fmOpenRead | fmShareDenyNone);
            QVERIFY_THROWS_EXCEPTION(EStreamError, s.SetSize(0));
        }
        {
            TFileStream64 s(name, fmOpenReadWrite);
            s.SetPosition(4);
            try {
                s.SetSize(-1);
                QFAIL("no exception");
            } catch (const EStreamError &e) {
                QCOMPARE(e.Message(), QStringLiteral("Error setting stream size"));
            }
            s.SetSize(3);
            QCOMPARE(s.Size(), qint64(3));
        }
        // The negative size cut nothing.
        QCOMPARE(QFile(name).size(), qint64(3));
    }

    void toolFailedOpenWritesDebugLine()
    {
        if (QFile::exists(QStringLiteral("/dev/sdz")))
            QSKIP("this machine has a /dev/sdz");
        ToolVariant tool;
        DebugToConsole = true;
        SetLogTimeForTesting(QDateTime(QDate(2026, 12, 7), QTime(10, 15, 2, 417)));
        qint64 size = 0, read = 1, written = 1, seek = 0, openSize = 0;
        bool isDevice = false, setSizeRaised = false;
        const QByteArray out = captureStdout([&] {
            TFileStream64 s(QStringLiteral("/dev/sdz"), fmOpenRead | fmShareDenyNone);
            char buf[16];
            size = s.Size();
            read = s.Read(buf, sizeof buf);
            written = s.Write(buf, sizeof buf);
            seek = s.Seek(0, soBeginning);
            isDevice = s.IsDevice;
            openSize = s.OpenSize;
            try {
                s.SetSize(0);
            } catch (const EStreamError &) {
                setSizeRaised = true;
            }
        });
        QCOMPARE(out, QByteArray("[10:15:02.417] error: 2 open file:/dev/sdz\n"));
        QCOMPARE(size, qint64(-1));
        QCOMPARE(openSize, qint64(-1));
        QCOMPARE(read, qint64(0));
        QCOMPARE(written, qint64(0));
        QCOMPARE(seek, qint64(-1));
        QVERIFY(isDevice);
        QVERIFY(setSizeRaised);
    }

    // Standard output on a full device: the line cannot be written out and
    // the caller hears of it.
    void toolDebugLogWriteFailureRaises()
    {
        const int full = ::open("/dev/full", O_WRONLY);
        if (full < 0)
            QSKIP("no /dev/full here");
        DebugToConsole = true;
        std::fflush(stdout);
        const int saved = ::dup(1);
        ::dup2(full, 1);
        ::close(full);
        QString message;
        try {
            DebugLog(QStringLiteral("x"));
        } catch (const EInOutError &e) {
            message = e.Message();
        }
        __fpurge(stdout);   // the unwritten line goes nowhere
        std::clearerr(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        QCOMPARE(message, QStringLiteral("I/O error %1").arg(ENOSPC));
    }

    void toolDebugLogFallsBackToStreamLog()
    {
        QTemporaryDir app;
        SetAppFileNameForTesting(app.filePath(QStringLiteral("vkhostset")));
        CloseLogStream();
        ToolVariant tool;
        DebugToConsole = false;
        SetLogTimeForTesting(QDateTime(QDate(2026, 12, 7), QTime(10, 15, 2, 417)));
        const QString missing = app.filePath(QStringLiteral("nothing"));
        const QByteArray out = captureStdout([&] {
            TFileStream64 s(missing, fmOpenRead | fmShareDenyNone);
            QCOMPARE(s.Handle() < 0, true);
        });
        CloseLogStream();
        SetAppFileNameForTesting(QString());
        QVERIFY(out.isEmpty());
        QFile log(app.filePath(QStringLiteral("log/vkhostset/syslog.txt")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QStringLiteral("[12-07 10:15:02.417] C=\"DEBUG\" ID=0 M=\"error: 2 "
                                               "open file:%1\"\n")
                                    .arg(missing)
                                    .toUtf8());
    }
};

QTEST_GUILESS_MAIN(TestStream)
#include "tst_stream.moc"
