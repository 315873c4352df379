// Paths of the program, path building and the small helpers.
#include "testutil.h"
#include "vkErrors.h"
#include "vkPaths.h"
#include "vkSysUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString units(const QList<char16_t> &u)
{
    QString s;
    for (char16_t c : u)
        s.append(QChar(c));
    return s;
}

// Format takes its arguments as a braced list; a row's list is spread here.
QString formatRow(const QString &fmt, const QVariantList &a)
{
    switch (a.size()) {
    case 0: return Format(fmt, {});
    case 1: return Format(fmt, {a[0]});
    case 2: return Format(fmt, {a[0], a[1]});
    case 3: return Format(fmt, {a[0], a[1], a[2]});
    default: return Format(fmt, {a[0], a[1], a[2], a[3]});
    }
}

// Where descriptor fd leads, "" when it is closed.
QByteArray fdTarget(int fd)
{
    char buf[256];
    const ssize_t n = ::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), buf, sizeof buf);
    return n > 0 ? QByteArray(buf, int(n)) : QByteArray();
}

} // namespace

class TestSysUtils : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // A copy of this program started by appFileOfACopy: once told its
        // file is gone, it writes where it thinks it lies.
        const QByteArray answer = qgetenv("VK_SAY_APPFILE");
        if (!answer.isEmpty()) {
            char c;
            (void)!::read(STDIN_FILENO, &c, 1);
            if (qEnvironmentVariableIsSet("VK_NO_LINK"))
                SetProgramLinkForTesting("/nonexistent/exe");
            QFile f(QFile::decodeName(answer));
            const bool written = f.open(QIODevice::WriteOnly) && f.write(GetAppFileName().toUtf8()) >= 0 && f.flush();
            ::_exit(written ? 0 : 1);
        }
    }
    void cleanup()
    {
        SetAppFileNameForTesting(QString());
        SetProgramLinkForTesting({});
    }

    void includeTrailingSlash_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("empty") << QString() << QStringLiteral("/");
        QTest::newRow("plain") << QStringLiteral("a") << QStringLiteral("a/");
        QTest::newRow("already") << QStringLiteral("/opt/app/") << QStringLiteral("/opt/app/");
        QTest::newRow("trailing blank") << QStringLiteral("a ") << QStringLiteral("a /");
    }
    void includeTrailingSlash()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(IncludeTrailingSlash(in), out);
    }

    void buildPath_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all empty") << QString() << QStringList() << QString() << QStringLiteral("/");
        QTest::newRow("log path") << QStringLiteral("/opt/app")
                                  << QStringList{QStringLiteral("log"), QStringLiteral("vkpanel")}
                                  << QStringLiteral("syslog.txt")
                                  << QStringLiteral("/opt/app/log/vkpanel/syslog.txt");
        QTest::newRow("empty part skipped")
            << QStringLiteral("/b") << QStringList{QStringLiteral("a"), QString(), QStringLiteral("c")}
            << QString() << QStringLiteral("/b/a/c/");
        QTest::newRow("blank part skipped")
            << QStringLiteral("/b/") << QStringList{QStringLiteral("   "), QStringLiteral("\t\n")}
            << QString() << QStringLiteral("/b/");
        QTest::newRow("padded part kept untrimmed")
            << QStringLiteral("/b") << QStringList{QStringLiteral(" x ")} << QString()
            << QStringLiteral("/b/ x /");
        QTest::newRow("part with slashes")
            << QStringLiteral("/b") << QStringList{QStringLiteral("c/d"), QStringLiteral("/e/")}
            << QString() << QStringLiteral("/b/c/d//e/");
        QTest::newRow("file name untouched")
            << QStringLiteral("/b") << QStringList() << QStringLiteral(" f.txt ")
            << QStringLiteral("/b/ f.txt ");
    }
    void buildPath()
    {
        QFETCH(QString, base);
        QFETCH(QStringList, parts);
        QFETCH(QString, fileName);
        QFETCH(QString, expected);
        QCOMPARE(BuildPath(base, parts, fileName, false), expected);
    }

    void buildPathForceDirs()
    {
        QTemporaryDir tmp;
        const QStringList parts{QStringLiteral("log"), QStringLiteral("vkpanel")};
        QCOMPARE(BuildPath(tmp.path(), parts, QStringLiteral("syslog.txt"), false),
                 tmp.path() + QStringLiteral("/log/vkpanel/syslog.txt"));
        QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("log"))));
        QCOMPARE(BuildPath(tmp.path(), parts, QStringLiteral("syslog.txt"), true),
                 tmp.path() + QStringLiteral("/log/vkpanel/syslog.txt"));
        QVERIFY(QFileInfo(tmp.filePath(QStringLiteral("log/vkpanel"))).isDir());
        QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("log/vkpanel/syslog.txt"))));
        // An impossible directory is not reported; the path still comes back.
        QCOMPARE(BuildPath(QStringLiteral("/proc/none"), {QStringLiteral("x")}, QString(), true),
                 QStringLiteral("/proc/none/x/"));
    }

    void appFileAndDir()
    {
        const QString real = GetAppFileName();
        QVERIFY(QFileInfo(real).isAbsolute());
        QCOMPARE(QFileInfo(real).canonicalFilePath(),
                 QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
        QVERIFY(GetAppDir().endsWith(QLatin1Char('/')));
        QCOMPARE(GetAppDir() + QFileInfo(real).fileName(), real);

        SetAppFileNameForTesting(QStringLiteral("/opt/app/vkpanel"));
        QCOMPARE(GetAppFileName(), QStringLiteral("/opt/app/vkpanel"));
        QCOMPARE(GetAppDir(), QStringLiteral("/opt/app/"));
        SetAppFileNameForTesting(QStringLiteral("/vkpanel"));
        QCOMPARE(GetAppDir(), QStringLiteral("/"));
        SetAppFileNameForTesting(QStringLiteral("vkpanel"));
        QCOMPARE(GetAppDir(), QString());
        SetAppFileNameForTesting(QString());
        QCOMPARE(GetAppFileName(), real);
    }

    // The longer of the link and the loader's record of the main program
    // (the path it was started by, resolved); the loader's on a tie or when
    // the link cannot be read. Links stand in for the process's own here.
    void appFileLongerName_data()
    {
        QTest::addColumn<int>("extra");   // the link's length beyond the loader's; -1: no link
        QTest::addColumn<bool>("linkWins");
        QTest::newRow("no link") << -1 << false;
        QTest::newRow("shorter link") << -1000 << false;
        QTest::newRow("link as long") << 0 << false;
        QTest::newRow("link one longer") << 1 << true;
    }
    void appFileLongerName()
    {
        QFETCH(int, extra);
        QFETCH(bool, linkWins);
        const QString loader = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("exe"));
        const QByteArray target = '/' + QByteArray(qMax(0, int(loader.toUtf8().size()) + extra - 1), 'x');
        if (extra != -1)
            QVERIFY(::symlink(target.constData(), QFile::encodeName(link).constData()) == 0);
        SetProgramLinkForTesting(QFile::encodeName(link));
        QCOMPARE(GetAppFileName(), linkWins ? QString::fromUtf8(target) : loader);
    }

    // A copy of this program, started by its full or by a relative path,
    // its file removed or not, with or without the link. The link names a
    // removed file with " (deleted)" behind it; the loader's record is the
    // path the program was started by, resolved, or as it was when it is
    // full and can no longer be resolved; a relative one is dropped then.
    void appFileOfACopy_data()
    {
        QTest::addColumn<bool>("relative");
        QTest::addColumn<bool>("removed");
        QTest::addColumn<bool>("link");
        QTest::addColumn<QString>("expected");   // after the copy's directory
        QTest::newRow("removed, the link longer") << false << true << true << "/vkcopy (deleted)";
        QTest::newRow("relative path resolved") << true << false << false << "/vkcopy";
        QTest::newRow("removed, full path kept") << false << true << false << "/vkcopy";
        QTest::newRow("removed, relative path dropped") << true << true << false << QString();
    }
    void appFileOfACopy()
    {
        QFETCH(bool, relative);
        QFETCH(bool, removed);
        QFETCH(bool, link);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString where = QFileInfo(dir.path()).canonicalFilePath();
        const QString copy = where + QStringLiteral("/vkcopy");
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VK_SAY_APPFILE"), where + QStringLiteral("/said"));
        if (!link)
            env.insert(QStringLiteral("VK_NO_LINK"), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(where);
        p.start(relative ? QStringLiteral("./vkcopy") : copy, {});
        QVERIFY(p.waitForStarted());
        if (removed)
            QVERIFY(QFile::remove(copy));
        p.write("\n");
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), 0);
        QFile said(where + QStringLiteral("/said"));
        QVERIFY(said.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(said.readAll()), expected.isNull() ? QString() : where + expected);
    }

    void ifThenStr()
    {
        QCOMPARE(IfThenStr(true, QStringLiteral("yes"), QStringLiteral("no")), QStringLiteral("yes"));
        QCOMPARE(IfThenStr(false, QStringLiteral("yes"), QStringLiteral("no")), QStringLiteral("no"));
    }

    void checkNotEmpty_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("raises");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("blank") << QStringLiteral(" ") << true;
        QTest::newRow("tab") << QStringLiteral("\t") << true;
        QTest::newRow("controls") << QStringLiteral("\r\n \x01") << true;
        QTest::newRow("padded letter") << QStringLiteral(" a ") << false;
        QTest::newRow("no-break space counts as text") << QStringLiteral("\u00a0") << false;
        QTest::newRow("exclamation mark") << QStringLiteral("!") << false;
    }
    void checkNotEmpty()
    {
        QFETCH(QString, value);
        QFETCH(bool, raises);
        const QString msg = QStringLiteral("  IP address is empty!  ");
        try {
            CheckNotEmpty(value, msg);
            QVERIFY(!raises);
        } catch (const Exception &e) {
            QVERIFY(raises);
            QCOMPARE(e.Message(), msg);
        }
    }

    // Everything up to and including the space goes at both ends; wider
    // characters whose low byte is a blank or a control stay.
    void trimCtl_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("only controls") << QStringLiteral(" \t\r\n\x01 ") << QString();
        QTest::newRow("both ends") << QStringLiteral("\t a b \x1f\n") << QStringLiteral("a b");
        QTest::newRow("one character left") << QStringLiteral("  x  ") << QStringLiteral("x");
        QTest::newRow("nothing to trim") << QStringLiteral("!x~") << QStringLiteral("!x~");
        QTest::newRow("wide characters kept")
            << QStringLiteral(" \u4e20\u00a0\u00e9\u0120 ") << QStringLiteral("\u4e20\u00a0\u00e9\u0120");
    }
    void trimCtl()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(TrimCtl(in), out);
        QCOMPARE(TrimCtl(QStringView(in)).toString(), out);
    }

    // %s, %d, %u, %x and %% take the next argument each; 64-bit values
    // keep every digit; a placeholder of another kind, or one without an
    // argument, raises.
    void format_data()
    {
        QTest::addColumn<QString>("fmt");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QString>("expected");   // null: raises
        QTest::newRow("every kind") << "%s|%d|%u|%x|%%" << QVariantList{"a", -5, 7u, 255} << "a|-5|7|FF|%";
        QTest::newRow("64-bit values")
            << "%d %u %x" << QVariantList{qlonglong(-5000000000LL), qulonglong(4294967296ULL), qulonglong(0xABCDEF012ULL)}
            << "-5000000000 4294967296 ABCDEF012";
        QTest::newRow("text only") << "no placeholder" << QVariantList{} << "no placeholder";
        QTest::newRow("percent at the end") << "100%" << QVariantList{} << "100%";
        QTest::newRow("doubled percent takes nothing") << "%%s" << QVariantList{} << "%s";
        QTest::newRow("arguments left over") << "%s" << QVariantList{"a", "b"} << "a";
        QTest::newRow("argument missing") << "%s %s" << QVariantList{"a"} << QString();
        QTest::newRow("unknown kind") << "%q" << QVariantList{"a"} << QString();
        QTest::newRow("upper-case kind") << "%S" << QVariantList{"a"} << QString();
    }
    void format()
    {
        QFETCH(QString, fmt);
        QFETCH(QVariantList, args);
        QFETCH(QString, expected);
        try {
            QCOMPARE(formatRow(fmt, args), expected);
            QVERIFY(!expected.isNull());
        } catch (const EConvertError &e) {
            QVERIFY(expected.isNull());
            QCOMPARE(e.Message(), "Format '" + fmt + "' invalid or incompatible with argument");
        }
    }

    // In a child started with some of descriptors 0 to 2 closed: each closed
    // one is /dev/null afterwards, open for reading and writing and kept
    // across exec; the open ones keep their targets; SIGPIPE is ignored.
    void prepareProcessStart_data()
    {
        QTest::addColumn<QByteArray>("closed");
        QTest::newRow("none") << QByteArray();
        QTest::newRow("input") << QByteArray("0");
        QTest::newRow("output") << QByteArray("1");
        QTest::newRow("error output") << QByteArray("2");
        QTest::newRow("output and error output") << QByteArray("12");
        QTest::newRow("all three") << QByteArray("012");
    }
    void prepareProcessStart()
    {
        QFETCH(QByteArray, closed);
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            std::signal(SIGPIPE, SIG_DFL);
            for (int fd = 0; fd <= 2; ++fd)   // the row decides which are closed, not how the test was started
                if (::fcntl(fd, F_GETFD) < 0)
                    ::dup2(::open("/dev/null", O_RDWR), fd);
            const int firstFree = ::fcntl(0, F_DUPFD, 3);   // above the three, before and after
            ::close(firstFree);
            QByteArray before[3];
            for (int fd = 0; fd <= 2; ++fd) {
                if (closed.contains(char('0' + fd)))
                    ::close(fd);
                else
                    before[fd] = fdTarget(fd);
            }
            PrepareProcessStart();
            int failed = 0;
            for (int fd = 0; fd <= 2; ++fd) {
                const bool wasClosed = closed.contains(char('0' + fd));
                const int fdFlags = ::fcntl(fd, F_GETFD);
                const int flFlags = ::fcntl(fd, F_GETFL);
                if (fdFlags < 0 || (fdFlags & FD_CLOEXEC))
                    failed |= 1;
                if (fdTarget(fd) != (wasClosed ? QByteArray("/dev/null") : before[fd]))
                    failed |= 2;
                if (wasClosed && (flFlags < 0 || (flFlags & O_ACCMODE) != O_RDWR))
                    failed |= 4;
            }
            // No stray descriptor is left behind.
            if (::fcntl(0, F_DUPFD, 3) != firstFree)
                failed |= 8;
            struct sigaction sa = {};
            if (::sigaction(SIGPIPE, nullptr, &sa) != 0 || sa.sa_handler != SIG_IGN)
                failed |= 16;
            ::_exit(failed);
        }
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void utf8ToWide_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("ascii") << QByteArray("abc") << QStringLiteral("abc");
        QTest::newRow("two bytes") << QByteArray("\xC3\xA9") << units({0x00E9});
        QTest::newRow("three bytes") << QByteArray("\xE4\xB8\xAD") << units({0x4E2D});
        QTest::newRow("four bytes, pair") << QByteArray("\xF0\x9F\x98\x80") << units({0xD83D, 0xDE00});
        QTest::newRow("last code point") << QByteArray("\xF4\x8F\xBF\xBF") << units({0xDBFF, 0xDFFF});
        QTest::newRow("above last code point") << QByteArray("\xF4\x90\x80\x80") << units({0xFFFD});
        QTest::newRow("stray continuation") << QByteArray("\x80") << units({0x0080});
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << units({0xD800});
        QTest::newRow("overlong lead eats next")
            << QByteArray("\xC0\x41") << units({0xFFFD});
        QTest::newRow("lead as continuation") << QByteArray("\xC3\xC3") << units({0x0103});
        QTest::newRow("five bytes") << QByteArray("\xF8\x88\x80\x80\x80") << units({0xFFFD});
        QTest::newRow("six bytes then text")
            << QByteArray("\xFC\x84\x80\x80\x80\x80z") << units({0xFFFD, 'z'});
        QTest::newRow("mixed") << QByteArray("a\xC3\xA9" "b") << units({'a', 0xE9, 'b'});
        // The last byte of each lead range, and overlong five- and six-byte
        // forms, which the offset table brings back to a small value.
        QTest::newRow("last continuation byte alone") << QByteArray("\xBF") << units({0x00BF});
        QTest::newRow("last four-byte lead") << QByteArray("\xF7\xBF\xBF\xBF" "z") << units({0xFFFD, 'z'});
        QTest::newRow("last five-byte lead") << QByteArray("\xFB\xBF\xBF\xBF\xBF" "z") << units({0xFFFD, 'z'});
        QTest::newRow("overlong five bytes") << QByteArray("\xF8\x80\x80\x81\x81") << units({'A'});
        QTest::newRow("overlong six bytes") << QByteArray("\xFC\x80\x80\x80\x81\x81") << units({'A'});
        // Cut-off tails: one replacement character, nothing read past the end.
        QTest::newRow("cut two-byte") << QByteArray("a\xC3") << units({'a', 0xFFFD});
        QTest::newRow("cut three-byte") << QByteArray("\xE4\xB8") << units({0xFFFD});
        QTest::newRow("cut four-byte") << QByteArray("x\xF0\x9F\x98") << units({'x', 0xFFFD});
        QTest::newRow("cut six-byte") << QByteArray("\xFC") << units({0xFFFD});
    }
    void utf8ToWide()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        // The text without its usual terminating zero, followed by a
        // continuation byte that changes the result should it ever be read.
        std::unique_ptr<char[]> raw(new char[size_t(bytes.size()) + 1]);
        std::memcpy(raw.get(), bytes.constData(), size_t(bytes.size()));
        raw[size_t(bytes.size())] = '\xBF';
        QCOMPARE(UTF8ToWide(QByteArray::fromRawData(raw.get(), bytes.size())), expected);
    }

    void utf8ToWideAgreesOnEveryWellFormedCodePoint()
    {
        QByteArray all;
        all.reserve(4 * 0x110000);
        for (char32_t cp = 1; cp <= 0x10FFFF; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF)
                continue;
            all += QString::fromUcs4(&cp, 1).toUtf8();
        }
        QCOMPARE(UTF8ToWide(all), QString::fromUtf8(all));
    }
};

QTEST_GUILESS_MAIN(TestSysUtils)
#include "tst_sysutils.moc"
