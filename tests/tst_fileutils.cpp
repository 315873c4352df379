// The file primitives under every file the programs keep: special files
// that are neither replaced nor read without end, lines that come back with
// their own bytes, and the key=value lookups of md.conf and mount.conf.
#include "testutil.h"
#include "vkErrors.h"
#include "vkFileUtils.h"
#include "vkIniFile.h"
#include "vkLineFile.h"
#include "vkSocket.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const Exception &e) {
        return e.Message();
    }
    return QString();
}

QByteArray bytes(const QString &path) { return QFile::encodeName(path); }

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

// What is at path, not following a link: "file", "link", "char 1:3", ...
QString kindOf(const QString &path)
{
    struct stat st;
    if (::lstat(bytes(path).constData(), &st) != 0)
        return QStringLiteral("none");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("link");
    if (S_ISREG(st.st_mode))
        return QStringLiteral("file");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("dir");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("fifo");
    const QString nums = QStringLiteral(" %1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    return (S_ISCHR(st.st_mode) ? QStringLiteral("char") : QStringLiteral("block")) + nums;
}

// Makes the special file a row names ("char 1:5", "block 7:250", "fifo",
// "dir") at path; false when this process may not make device nodes.
bool makeSpecial(const QString &kind, const QString &path)
{
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(bytes(path).constData(), 0644) == 0;
    if (kind == QLatin1String("dir"))
        return QDir().mkpath(path);
    const QStringList parts = kind.split(QLatin1Char(' '));
    const QStringList nums = parts.at(1).split(QLatin1Char(':'));
    const mode_t type = parts.at(0) == QLatin1String("char") ? S_IFCHR : S_IFBLK;
    return ::mknod(bytes(path).constData(), type | 0644, makedev(nums.at(0).toUInt(), nums.at(1).toUInt())) == 0;
}

// A reader or writer stuck in the open of a FIFO (the fault these tests
// look for) is set free after two seconds by an opener for both ends, so
// that the test fails instead of hanging.
class FifoWatchdog {
public:
    explicit FifoWatchdog(const QString &fifo) : FPath(bytes(fifo))
    {
        FThread = std::thread([this] {
            for (int ms = 0; ms < 2000 && !FDone; ms += 20)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            while (!FDone) {
                const int fd = ::open(FPath.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0)
                    ::close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~FifoWatchdog()
    {
        FDone = true;
        FThread.join();
    }

private:
    QByteArray FPath;
    std::atomic<bool> FDone{false};
    std::thread FThread;
};
} // namespace

class TestFileUtils : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Saving goes to the file a link names and keeps the link; a character
    // device takes the text in place; any other special file is refused and
    // stays what it was.
    void saveTarget_data()
    {
        QTest::addColumn<QString>("special");   // what the link leads to; empty: a plain setup
        QTest::addColumn<QString>("setup");      // "file", "link", "dangling", "loop", "at path"
        QTest::addColumn<QString>("reason");     // empty: saved
        QTest::addColumn<QString>("after");      // kind of the link's target afterwards
        QTest::newRow("plain file") << QString() << "file" << QString() << "file";
        QTest::newRow("link to a file") << QString() << "link" << QString() << "file";
        QTest::newRow("dangling link") << QString() << "dangling" << QString() << "file";
        QTest::newRow("link to a null device") << "char 1:3" << "link" << QString() << "char 1:3";
        QTest::newRow("null device itself") << "char 1:3" << "at path" << QString() << "char 1:3";
        QTest::newRow("link to a block device") << "block 7:250" << "link" << "Invalid argument" << "block 7:250";
        QTest::newRow("link to a FIFO") << "fifo" << "link" << "Invalid argument" << "fifo";
        QTest::newRow("directory") << "dir" << "at path" << "Is a directory" << "dir";
        QTest::newRow("circle of links") << QString() << "loop" << "Too many levels of symbolic links" << "link";
        QTest::newRow("long chain of links") << QString() << "chain" << QString() << "file";
        QTest::newRow("name without a directory") << QString() << "relative" << QString() << "file";
        // A device when looked at, something else by the time it is opened.
        QTest::newRow("device swapped for a file") << "char 1:3" << "swapped for a file" << "Invalid argument" << "file";
        QTest::newRow("device swapped for a FIFO") << "char 1:3" << "swapped for a FIFO" << "No such device or address"
                                                   << "fifo";
    }
    void saveTarget()
    {
        QFETCH(QString, special);
        QFETCH(QString, setup);
        QFETCH(QString, reason);
        QFETCH(QString, after);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("modules.conf"));
        const QString target = dir.filePath(QStringLiteral("sub/target"));
        QDir().mkpath(dir.filePath(QStringLiteral("sub")));
        const QString oldCwd = QDir::currentPath();
        const mode_t oldMask = ::umask(027);
        const auto restore = qScopeGuard([&] {
            QDir::setCurrent(oldCwd);
            ::umask(oldMask);
            SetFileSyncForTesting({});
            SetReplaceGapForTesting({});
            SetFileOpenedForTesting({});
        });
        std::optional<FifoWatchdog> watchdog;
        if (setup == QLatin1String("at path")) {
            if (!makeSpecial(special, path))
                QSKIP("cannot make device nodes here");
        } else if (setup == QLatin1String("loop")) {
            QCOMPARE(::symlink("../modules.conf", bytes(target).constData()), 0);
            QCOMPARE(::symlink("sub/target", bytes(path).constData()), 0);
        } else if (setup == QLatin1String("chain")) {
            // modules.conf -> c1 -> ... -> c20 -> sub/target
            writeFile(target, "old line that is longer\n");
            QString from = path;
            for (int i = 1; i <= 20; ++i) {
                QCOMPARE(::symlink("c" + QByteArray::number(i), bytes(from).constData()), 0);
                from = dir.filePath(QStringLiteral("c%1").arg(i));
            }
            QCOMPARE(::symlink("sub/target", bytes(from).constData()), 0);
        } else if (setup == QLatin1String("relative")) {
            writeFile(path, "old line that is longer\n");
            QVERIFY(QDir::setCurrent(dir.path()));
            path = QStringLiteral("modules.conf");
        } else if (setup.startsWith(QLatin1String("swapped"))) {
            if (!makeSpecial(special, target))
                QSKIP("cannot make device nodes here");
            QCOMPARE(::symlink("sub/target", bytes(path).constData()), 0);
            const bool fifo = setup.endsWith(QLatin1String("FIFO"));
            if (fifo)
                watchdog.emplace(target);
            SetReplaceGapForTesting([target, fifo] {
                ::unlink(bytes(target).constData());
                if (fifo)
                    ::mkfifo(bytes(target).constData(), 0644);
                else
                    writeFile(target, "old line that is longer\n");
            });
        } else {
            if (!special.isEmpty() && !makeSpecial(special, target))
                QSKIP("cannot make device nodes here");
            if (special.isEmpty() && setup != QLatin1String("dangling"))
                writeFile(setup == QLatin1String("file") ? path : target, "old line that is longer\n");
            // A relative link, as "ln -s" makes them, read from the link's directory.
            if (setup != QLatin1String("file"))
                QCOMPARE(::symlink("sub/target", bytes(path).constData()), 0);
        }
        // What is synced, and whether any descriptor would stay open in a
        // command started meanwhile.
        QStringList synced;
        bool inherited = false;
        SetFileSyncForTesting([&](int fd) {
            synced << QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd));
            inherited = inherited || !(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
            return 0;
        });
        SetFileOpenedForTesting([&](int fd) { inherited = inherited || !(::fcntl(fd, F_GETFD) & FD_CLOEXEC); });
        const QString error = errorOf([&] { SaveLineBytes(path, {"e1000", "bnx2 debug=1"}); });
        QCOMPARE(error, reason.isEmpty() ? QString()
                                         : QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
        QVERIFY(!inherited);
        const bool linked = setup == QLatin1String("link") || setup == QLatin1String("dangling")
                            || setup == QLatin1String("chain") || setup.startsWith(QLatin1String("swapped"));
        QCOMPARE(kindOf(path), linked || setup == QLatin1String("loop") ? QStringLiteral("link") : after);
        if (linked)
            QCOMPARE(kindOf(target), after);
        if (after == QLatin1String("file"))
            QCOMPARE(contents(path), reason.isEmpty() ? QByteArray("e1000\nbnx2 debug=1\n")
                                                      : QByteArray("old line that is longer\n"));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Hidden | QDir::System | QDir::AllEntries
                                                                      | QDir::NoDotAndDotDot).size(),
                 setup == QLatin1String("file") || setup == QLatin1String("at path")
                         || setup == QLatin1String("relative")
                     ? 0
                     : 1);
        if (reason.isEmpty() && after == QLatin1String("file")) {
            // The new text was written to a hidden file beside the one it
            // replaces (no reader of "*.conf" sees it half written), then
            // that directory was synced.
            const QString real = QFileInfo(path).canonicalFilePath();
            QCOMPARE(synced.size(), 2);
            const QFileInfo temp(synced.at(0));
            QCOMPARE(temp.path(), QFileInfo(real).path());
            QVERIFY2(temp.fileName().startsWith(QLatin1Char('.')) && !temp.fileName().endsWith(QLatin1String(".conf")),
                     qPrintable(synced.at(0)));
            QCOMPARE(synced.at(1), QFileInfo(real).path());
            struct stat st;
            QCOMPARE(::stat(bytes(real).constData(), &st), 0);
            if (setup == QLatin1String("dangling"))   // new: 0666 less the umask, 027 here
                QCOMPARE(st.st_mode & 07777, 0640u);
        }
    }

    // A terminal is written in blocking mode: a whole megabyte goes through
    // a link to one, however slowly the other end reads, and however often
    // a signal (whose handler does not restart calls) cuts a write short.
    void terminalTakesTheWholeFile()
    {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0)
            QSKIP("no pseudo-terminals here");
        const TFdCloser masterFd(master);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QByteArray slave = ::ptsname(master);
        // Held open all along, so that the master end sees no hang-up
        // between writers; raw, so that the bytes pass unchanged.
        const TFdCloser held(::open(slave.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        QVERIFY(held.get() >= 0);
        termios raw{};
        QCOMPARE(::tcgetattr(held.get(), &raw), 0);
        ::cfmakeraw(&raw);
        QCOMPARE(::tcsetattr(held.get(), TCSANOW, &raw), 0);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("modules.conf"));
        QVERIFY(QFile::link(QFile::decodeName(slave), path));

        QList<QByteArray> lines;
        QByteArray expected;
        for (int i = 0; expected.size() < (1 << 20); ++i) {
            lines << "e1000 debug=" + QByteArray::number(i).rightJustified(8, '0');
            expected += lines.last() + '\n';
        }
        QByteArray got;
        std::atomic<bool> saved{false};
        std::thread reader([&] {
            sigset_t alarm;
            sigemptyset(&alarm);
            sigaddset(&alarm, SIGALRM);
            pthread_sigmask(SIG_BLOCK, &alarm, nullptr);   // the writer takes them
            char buf[65536];
            // A little at a time, so that the terminal's buffer fills up.
            for (int idle = 0; got.size() < expected.size() && idle < 20;) {
                pollfd p{master, POLLIN, 0};
                if (::poll(&p, 1, 100) <= 0) {
                    idle += saved.load() ? 1 : 0;
                    continue;
                }
                const ssize_t n = ::read(master, buf, 4096);
                if (n <= 0)
                    break;
                got.append(buf, n);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        struct sigaction act {}, old {};
        act.sa_handler = [](int) {};
        sigemptyset(&act.sa_mask);
        sigaction(SIGALRM, &act, &old);
        const itimerval every1ms{{0, 1000}, {0, 1000}};
        const itimerval stopped{};
        setitimer(ITIMER_REAL, &every1ms, nullptr);
        const QString error = errorOf([&] { SaveLineBytes(path, lines); });
        setitimer(ITIMER_REAL, &stopped, nullptr);
        sigaction(SIGALRM, &old, nullptr);
        saved = true;
        reader.join();
        QCOMPARE(error, QString());
        QCOMPARE(got.size(), expected.size());
        QVERIFY(got == expected);
        QCOMPARE(kindOf(path), QStringLiteral("link"));
    }

    // Reading never waits; what reports no size never takes more than its
    // bound, a regular file is read whole up to its own, and past it fails
    // at once however large (a sparse file of 1 TiB), and /proc files, which
    // report no size, read whole.
    void readSpecial_data()
    {
        QTest::addColumn<QString>("special");   // empty: a regular file of `size` bytes
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("reason");    // empty: read
        const qint64 bound = kMaxWholeFileSize;
        QTest::newRow("FIFO") << "fifo" << qint64(0) << "Invalid argument";
        QTest::newRow("endless zero device") << "char 1:5" << qint64(0) << "File too large";
        QTest::newRow("null device") << "char 1:3" << qint64(0) << QString();
        QTest::newRow("file over the device bound") << QString() << qint64(kMaxReadFileSize) + 1 << QString();
        QTest::newRow("file at the bound") << QString() << bound << QString();
        QTest::newRow("file over the bound") << QString() << bound + 1 << "File too large";
        QTest::newRow("sparse file of 1 TiB") << QString() << (qint64(1) << 40) << "File too large";
        QTest::newRow("directory") << "dir" << qint64(0) << "Is a directory";
        QTest::newRow("lines at their bound") << "lines" << qint64(kMaxFileLines) << QString();
        QTest::newRow("a line over their bound") << "lines" << qint64(kMaxFileLines) + 1 << "File too large";
        QTest::newRow("lines over their bound, CR LF") << "crlf" << qint64(kMaxFileLines) + 1 << "File too large";
        QTest::newRow("lines at their bound, CR LF") << "crlf" << qint64(kMaxFileLines) << QString();
        QTest::newRow("terminal with nothing to say") << "tty" << qint64(0) << "Resource temporarily unavailable";
    }
    void readSpecial()
    {
        QFETCH(QString, special);
        QFETCH(qint64, size);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("modules.conf"));
        QString target = dir.filePath(QStringLiteral("node"));
        std::optional<TFdCloser> master;
        std::atomic<bool> done{false};
        std::thread ttyWatchdog;
        const auto stop = qScopeGuard([&] {
            done = true;
            if (ttyWatchdog.joinable())
                ttyWatchdog.join();
            SetFileOpenedForTesting({});
        });
        // The line bound is the line reader's: the bytes themselves read whole.
        const bool lineRow = special == QLatin1String("lines") || special == QLatin1String("crlf");
        const qint64 fileBytes = special == QLatin1String("crlf") ? 2 * size : size;
        if (lineRow) {
            writeFile(target, special == QLatin1String("lines") ? QByteArray(size, '\n') : QByteArray("\r\n").repeated(size));
        } else if (special.isEmpty()) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(size));
        } else if (special == QLatin1String("tty")) {
            master.emplace(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
            if (master->get() < 0)
                QSKIP("no pseudo-terminals here");
            QVERIFY(::grantpt(master->get()) == 0 && ::unlockpt(master->get()) == 0);
            target = QFile::decodeName(::ptsname(master->get()));
            // A read stuck on the terminal (the fault looked for) gets ends
            // of file after two seconds.
            ttyWatchdog = std::thread([&] {
                for (int ms = 0; ms < 2000 && !done; ms += 20)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                for (; !done; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
                    if (::write(master->get(), "\x04", 1) != 1)
                        break;
            });
        } else if (!makeSpecial(special, target)) {
            QSKIP("cannot make device nodes here");
        }
        QVERIFY(QFile::link(target, path));
        std::optional<FifoWatchdog> watchdog;
        if (special == QLatin1String("fifo"))
            watchdog.emplace(target);
        // Every descriptor is opened non-blocking, and closed on exec.
        QList<bool> opened;
        SetFileOpenedForTesting([&](int fd) {
            opened << ((::fcntl(fd, F_GETFD) & FD_CLOEXEC) && (::fcntl(fd, F_GETFL) & O_NONBLOCK));
        });
        QElapsedTimer clock;
        clock.start();
        QList<QByteArray> lines;
        const QString error = errorOf([&] { lines = LoadLineBytes(path); });
        QVERIFY2(clock.elapsed() < 1500, "the read waited");
        // Appended to what is there; on failure that is all there is.
        QByteArray data("kept");
        errno = 0;
        const bool read = ReadWholeFile(path, data);
        const int err = errno;
        QCOMPARE(read, lineRow || reason.isEmpty());
        QCOMPARE(data.size(), 4 + (read ? fileBytes : 0));
        QVERIFY(data.startsWith("kept"));
        if (!read)
            QCOMPARE(QString::fromLocal8Bit(std::strerror(err)), reason);
        QCOMPARE(opened, QList<bool>(2, true));
        if (special == QLatin1String("tty")) {
            // A program with no controlling terminal that reads or writes a
            // link to one does not take it for its own.
            const QByteArray slave = bytes(target);
            const pid_t child = ::fork();
            if (child == 0) {
                ::setsid();
                QByteArray got;
                ReadWholeFile(path, got);
                ReplaceFileAtomically(path, "e1000\n");
                const int fd = ::open(slave.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
                ::_exit(::tcgetsid(fd) == ::getpid() ? 1 : 0);
            }
            int status = -1;
            for (int ms = 0; ms < 3000 && ::waitpid(child, &status, WNOHANG) == 0; ms += 20)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
            }
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the terminal became the reader's own");
        }
        QCOMPARE(error, reason.isEmpty() ? QString()
                                         : QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason));
        if (reason.isEmpty()) {
            QCOMPARE(lines.size(), lineRow ? size : size > 0 ? 1 : 0);   // a file of zero bytes is one line
            if (size > 0 && !lineRow)
                QCOMPARE(lines.first().size(), size);
        }
    }

    void procFileReadsWhole()
    {
        const QList<QByteArray> lines = LoadLineBytes(QStringLiteral("/proc/self/status"));
        QVERIFY(lines.size() > 10);
        QVERIFY(lines.first().startsWith("Name:"));
        QVERIFY(lines.last().startsWith("nonvoluntary_ctxt_switches:"));
    }

    // The console's bonding file and the INI files (language, font, page
    // switches) read through the same primitive: a FIFO neither hangs the
    // start nor counts as a file.
    void readersOfAFifo()
    {
        ScratchRoot root;
        root.mkdir(QStringLiteral("/etc/velkora"));
        const QString bond = root.path(QStringLiteral("/etc/velkora/bond.conf"));
        QVERIFY(::mkfifo(bytes(bond).constData(), 0644) == 0);
        const FifoWatchdog watchdog(bond);
        QElapsedTimer clock;
        clock.start();
        TBondInfo info;
        info.Device = QStringLiteral("kept");
        QCOMPARE(errorOf([&] { ReadBondConfig(info); }), QStringLiteral("Cannot open file ") + bond);
        QCOMPARE(info.Device, QStringLiteral("kept"));
        const TIniFile ini(bond, TIniFile::CaseSensitive);
        QVERIFY(!ini.SectionExistsAnyCase(QStringLiteral("General")));
        QCOMPARE(errorOf([&] { WriteBondConfig(info); }), QStringLiteral("Cannot create file ") + bond);
        QVERIFY2(clock.elapsed() < 1500, "a reader waited");
        QCOMPARE(kindOf(bond), QStringLiteral("fifo"));
    }

    // A line is shown decoded on its own and goes back with its own bytes
    // unless its text was changed.
    void lineBytes_data()
    {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("edited");   // null: not edited
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("UTF-8") << QByteArray("o=caf\xc3\xa9") << "o=café" << QString() << QByteArray("o=caf\xc3\xa9");
        QTest::newRow("Latin-1 byte") << QByteArray("o=caf\xe9") << "o=caf\ufffd" << QString() << QByteArray("o=caf\xe9");
        QTest::newRow("cut sequence at the end") << QByteArray("o=\xc3") << "o=\ufffd" << QString() << QByteArray("o=\xc3");
        QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbfx") << "x" << QString() << QByteArray("\xef\xbb\xbfx");
        QTest::newRow("confirmed unchanged") << QByteArray("o=caf\xe9") << "o=caf\ufffd" << "o=caf\ufffd" << QByteArray("o=caf\xe9");
        QTest::newRow("edited") << QByteArray("o=caf\xe9") << "o=caf\ufffd" << "o=cafe" << QByteArray("o=cafe");
        QTest::newRow("new text") << QByteArray() << QString() << "é" << QByteArray("\xc3\xa9");
    }
    void lineBytes()
    {
        QFETCH(QByteArray, original);
        QFETCH(QString, shown);
        QFETCH(QString, edited);
        QFETCH(QByteArray, saved);
        QCOMPARE(DecodeLocalText(original), shown);
        QCOMPARE(EncodeEditedLine(edited.isNull() ? shown : edited, original), saved);
    }

    // Each line of a file is decoded alone: a broken line cannot take a
    // byte of the next one.
    void textLinesDecodeAlone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("modules.conf"));
        writeFile(path, "e1000\rbnx2 name=caf\xe9\ntg3 opt=\xc3\r\n\xe4\xb8\xad");
        QCOMPARE(LoadTextLines(path),
                 (QStringList{"e1000", "bnx2 name=caf\ufffd", "tg3 opt=\ufffd", QString::fromUtf8("中")}));
    }

    // Under a legacy locale a line in its encoding is shown in it, and an
    // edit keeps that encoding.
    void legacyLineKeepsItsEncoding()
    {
        QTemporaryDir dir;
        if (QProcess::execute(QStringLiteral("localedef"),
                              {QStringLiteral("-i"), QStringLiteral("zh_CN"), QStringLiteral("-f"),
                               QStringLiteral("GB2312"), dir.filePath(QStringLiteral("zh_CN.GB2312"))})
            != 0)
            QSKIP("localedef cannot build a GB2312 locale here (package locales missing)");
        const QByteArray oldLocale = setlocale(LC_CTYPE, nullptr);
        const QByteArray oldPath = qgetenv("LOCPATH");
        qputenv("LOCPATH", bytes(dir.path()));
        const bool switched = setlocale(LC_CTYPE, "zh_CN.GB2312") != nullptr;
        const QByteArray gb = "opt=\xC5\xE4\xD6\xC3";   // "配置"
        const QString shown = DecodeLocalText(gb);
        const QByteArray unchanged = EncodeEditedLine(shown, gb);
        const QByteArray edited = EncodeEditedLine(shown + QStringLiteral(" x=1"), gb);
        const QByteArray beyond = EncodeEditedLine(QString::fromUtf8("opt=\xf0\x9f\x98\x80"), gb);   // no GB2312 form
        // Bytes that neither encoding takes were shown as UTF-8, and an edit is written so.
        const QByteArray neither = EncodeEditedLine(QString::fromUtf8("opt=\xc3\xa9"), "opt=\xff");
        setlocale(LC_CTYPE, oldLocale.constData());
        if (oldPath.isNull())
            qunsetenv("LOCPATH");
        else
            qputenv("LOCPATH", oldPath);
        QVERIFY(switched);
        QCOMPARE(shown, QString::fromUtf8("opt=配置"));
        QCOMPARE(unchanged, gb);
        QCOMPARE(edited, gb + " x=1");
        QCOMPARE(beyond, QByteArray("opt=\xf0\x9f\x98\x80"));
        QCOMPARE(neither, QByteArray("opt=\xc3\xa9"));
    }

    // md.conf and mount.conf: the first line of a key counts, letters
    // compared without case (ASCII letters only), the text before "="
    // untrimmed and whole: a key that is a prefix of another finds nothing.
    void keyValueFirstLine_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("value");   // for a change: empty deletes
        QTest::addColumn<bool>("change");
        QTest::addColumn<QByteArray>("expected");   // the value found, or the lines after the change
        const QByteArray lines = "x\n md[0]=blank\nMD[0]=first=1\nmd[0]=second\n";
        QTest::newRow("value of the first") << lines << "md[0]" << QByteArray() << false << QByteArray("first=1");
        QTest::newRow("missing") << lines << "md[1]" << QByteArray() << false << QByteArray();
        QTest::newRow("first replaced") << lines << "md[0]" << QByteArray("new") << true
                                        << QByteArray("x\n md[0]=blank\nmd[0]=new\nmd[0]=second\n");
        QTest::newRow("first deleted") << lines << "Md[0]" << QByteArray() << true
                                       << QByteArray("x\n md[0]=blank\nmd[0]=second\n");
        QTest::newRow("appended") << lines << "md[1]" << QByteArray("v") << true << lines + "md[1]=v\n";
        const QByteArray mounts = "/dev/sdb10=/b\n/DEV/SDB1=/a\n_dev/sdb2=under\n/dev/sdb2=/c\nmd{0}=brace\n"
                                  "caf\xe9=latin\n/dev/sdaz=az\n";
        QTest::newRow("found on the first line") << mounts << "/dev/sdb10" << QByteArray() << false << QByteArray("/b");
        QTest::newRow("a prefix of a longer key") << mounts << "/dev/sdb1" << QByteArray() << false << QByteArray("/a");
        QTest::newRow("longer than a key") << mounts << "/dev/sdb100" << QByteArray() << false << QByteArray();
        QTest::newRow("last character differs") << mounts << "/dev/sdb3" << QByteArray() << false << QByteArray();
        QTest::newRow("first character differs") << mounts << "/DEV/SDB2" << QByteArray() << false << QByteArray("/c");
        QTest::newRow("a and z fold") << mounts << "/DEV/SDAZ" << QByteArray() << false << QByteArray("az");
        QTest::newRow("brackets are not braces") << mounts << "md[0]" << QByteArray() << false << QByteArray();
        QTest::newRow("Latin-1 letters keep their case") << mounts << QString::fromLatin1("caf\xc9") << QByteArray() << false << QByteArray();
        QTest::newRow("first line replaced") << mounts << "/dev/sdb10" << QByteArray("/new") << true
                                             << "/dev/sdb10=/new" + mounts.mid(mounts.indexOf('\n'));
        QTest::newRow("first line deleted") << mounts << "/dev/SDB10" << QByteArray("") << true
                                            << mounts.mid(mounts.indexOf('\n') + 1);
    }
    void keyValueFirstLine()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, name);
        QFETCH(QByteArray, value);
        QFETCH(bool, change);
        QFETCH(QByteArray, expected);
        TLines lines = SplitLineBytes(file);
        if (!change) {
            QCOMPARE(ValueOf(lines, name.toLatin1()), expected);
            return;
        }
        SetValue(lines, name.toLatin1(), value);
        QCOMPARE(lines, SplitLineBytes(expected));
    }
};

QTEST_GUILESS_MAIN(TestFileUtils)
#include "tst_fileutils.moc"
