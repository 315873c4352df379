// The configuration tool as a user meets it: the real vkhostset on an X
// server of its own, in a private mount namespace whose kernel module tree,
// /etc and /proc/partitions are fixtures, so nothing on this machine
// changes. A network driver is added through the chooser and loaded.
#include "testutil.h"
#include "testutil_x11.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/stat.h>
#include <sys/utsname.h>

namespace {
const QString kTitle = QStringLiteral("Velkora系统配置工具 - Velkora System Configuration");

// Window-relative click points, from the window definitions. The tab page
// ends two pixels above the window's bottom edge; its buttons keep their
// distance to that edge (the page is 412 high in the definition).
constexpr int kPageBottom = 440 - 2;
int pageButtonY(int y) { return kPageBottom - 412 + y + 12; }
int pageButtonX(int x) { return 2 + x + 37; }
constexpr int kFirstListRowY = 36;   // just below the tabs, on the first line of lbModules

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Lays out the work directory of a run in a namespace: the namespace's own
// mount point, a private runtime directory, the disk listing, and setup.sh,
// which puts the fixtures over the system (Layers: lines of "layer NAME DIR")
// and the listing over /proc/partitions, then runs Exec.
void writeRunSetup(const QString &w, const QByteArray &Layers, const QByteArray &Partitions, const QByteArray &Exec)
{
    QDir().mkpath(w + "/fixture/etc");
    QDir().mkpath(w + "/ns");
    QDir().mkpath(w + "/xdg");
    QFile::setPermissions(w + "/xdg", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    writeFile(w + "/fixture/partitions", Partitions);
    writeFile(w + "/setup.sh",
              OverlayScriptHead(w) + Layers + "mount --bind \"$W/fixture/partitions\" /proc/partitions || exit 97\n"
                  + Exec + '\n',
              true);
}
} // namespace

class TestE2EHostset : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addAndLoadNetworkDriver();
    void startsWithoutUsableStandardOutput_data();
    void startsWithoutUsableStandardOutput();
    void unreadDriverListIsKept();
    void driverListOnDiskWins_data();
    void driverListOnDiskWins();
    void namespaceRunTellsHowTheProgramEnded_data();
    void namespaceRunTellsHowTheProgramEnded();
};

// Both programs started with one of the standard streams closed, each on
// its own (the display connection or a file must not take its place: each
// closed one is /dev/null once the window shows), with all three closed, and
// with standard output on a pipe whose reader has gone (no death by
// SIGPIPE): the main window appears. The listing names a disk that cannot
// be opened, so each program writes about it; the tool's line to the broken
// pipe fails and is reported as an input/output error before its window
// opens.
void TestE2EHostset::startsWithoutUsableStandardOutput_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QByteArray>("start");   // the shell's way of starting PROGRAM
    QTest::addColumn<bool>("errorBox");      // a box titled with the program's name first
    QTest::addColumn<QByteArray>("closed");  // the descriptors the start closes, when PROGRAM is the shell's exec
    const QString tool = QStringLiteral("vkhostset"), console = QStringLiteral("vkpanel");
    const QString consoleTitle = QStringLiteral("Velkora Linux Console");
    QTest::newRow("tool, input closed") << tool << kTitle << QByteArray("exec \"$P\" <&-") << false << QByteArray("0");
    QTest::newRow("tool, output closed") << tool << kTitle << QByteArray("exec \"$P\" >&-") << false << QByteArray("1");
    QTest::newRow("tool, error output closed") << tool << kTitle << QByteArray("exec \"$P\" 2>&-") << false
                                               << QByteArray("2");
    QTest::newRow("tool, all closed") << tool << kTitle << QByteArray("exec \"$P\" <&- >&- 2>&-") << false
                                      << QByteArray("012");
    QTest::newRow("tool, reader gone") << tool << kTitle
                                       << QByteArray("{ sleep 1; exec \"$P\"; } | true; wait") << true << QByteArray();
    // The console raises on a disk it cannot open, whatever its streams.
    QTest::newRow("console, input closed") << console << consoleTitle << QByteArray("exec \"$P\" <&-") << true
                                           << QByteArray("0");
    QTest::newRow("console, output closed") << console << consoleTitle << QByteArray("exec \"$P\" >&-") << true
                                            << QByteArray("1");
    QTest::newRow("console, error output closed") << console << consoleTitle << QByteArray("exec \"$P\" 2>&-") << true
                                                  << QByteArray("2");
    QTest::newRow("console, reader gone") << console << consoleTitle
                                          << QByteArray("{ sleep 1; exec \"$P\"; } | true; wait") << true
                                          << QByteArray();
}

void TestE2EHostset::startsWithoutUsableStandardOutput()
{
    QFETCH(QString, program);
    QFETCH(QString, title);
    QFETCH(QByteArray, start);
    QFETCH(bool, errorBox);
    QFETCH(QByteArray, closed);
    const QString why = EndToEndUnavailable({"unshare", "Xvfb", "xdotool"});
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    const QString path = QStringLiteral(TEST_BINARY_DIR "/%1/%2")
                             .arg(program == QLatin1String("vkpanel") ? "console" : "hostset", program);
    QVERIFY2(QFileInfo(path).isExecutable(), qPrintable(path + " is not built"));
    // The pipe's writer must meet the signal's default action, as from a shell.
    signal(SIGPIPE, SIG_DFL);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString w = work.path();
    writeFile(w + "/bin/lspci", "#!/bin/sh\n", true);
    writeRunSetup(w, "layer etc /etc\n", "major minor  #blocks  name\n\n   8        0    1048576 md99\n",
                  "P='" + QFile::encodeName(path) + "'\n" + start);

    TNamespaceRun app;
    QVERIFY2(app.start(w + "/setup.sh", w), qPrintable(app.Error));
    TXSession &x = app.X;
    QProcess &proc = app.Proc;

    // The error box may come before the main window or over it.
    TXSession::TWindow win, box;
    QVERIFY2(waitFor([&] {
                 return x.findWindow(title, win) || x.findWindow(program, box)
                        || proc.state() != QProcess::Running;
             }, 30000),
             qPrintable("no window appeared; it said:\n" + app.said()));
    SKIP_IF_NO_FIXTURES(app);
    QVERIFY2(proc.state() == QProcess::Running,
             qPrintable(QStringLiteral("%1 ended (%2) before any window; it said:\n%3")
                            .arg(program).arg(proc.exitCode()).arg(app.said())));
    QCOMPARE(x.waitWindow(program, box, errorBox ? 15000 : 1500), errorBox);
    // Each step of the start that writes to a dead output reports it on its
    // own: every box is answered until the window shows.
    QVERIFY2(waitFor([&] {
                 if (x.findWindow(title, win))
                     return true;
                 if (x.findWindow(program, box)) {
                     QThread::msleep(300);
                     x.keys({"Return"}, box.Id);
                 }
                 return false;
             }, 30000),
             qPrintable(app.said()));
    QThread::msleep(500);
    QVERIFY2(proc.state() == QProcess::Running, qPrintable(app.said()));
    for (const char fd : closed) {   // unshare and sh exec'd in turn: the process is PROGRAM
        const QString link = QStringLiteral("/proc/%1/fd/%2").arg(proc.processId()).arg(QLatin1Char(fd));
        QCOMPARE(QFile::symLinkTarget(link), QStringLiteral("/dev/null"));
    }
}

void TestE2EHostset::addAndLoadNetworkDriver()
{
    const QString why = EndToEndUnavailable({"unshare", "Xvfb", "xdotool"});
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    const QString vkhostset = QStringLiteral(TEST_BINARY_DIR "/hostset/vkhostset");
    QVERIFY2(QFileInfo(vkhostset).isExecutable(), qPrintable(vkhostset + " is not built"));
    const bool velkoraEtcExisted = QFileInfo::exists(QStringLiteral("/etc/velkora"));
    utsname u{};
    QVERIFY(uname(&u) == 0);
    const QString release = QString::fromLocal8Bit(u.release);
    const QString libDir = QFileInfo(QStringLiteral("/lib")).canonicalFilePath();
    const bool modulesExisted = QFileInfo::exists(libDir + "/modules/" + release);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString w = work.path();
    const QString calls = w + QStringLiteral("/calls");
    const QString saved = w + QStringLiteral("/output.txt");

    // The module tree of the running kernel, and a modprobe that records.
    writeFile(w + "/fixture/lib/modules/" + release + "/kernel/drivers/net/e1000/e1000.ko", {});
    writeFile(w + "/fixture/lib/modules/" + release + "/kernel/drivers/scsi/aacraid.ko", {});
    writeFile(w + "/bin/modprobe",
              "#!/bin/sh\necho \"$*\" >> '" + QFile::encodeName(calls) + "'\necho \"$1 loaded\"\n", true);
    writeRunSetup(w, "layer lib '" + QFile::encodeName(libDir) + "'\nlayer etc /etc\n", "major minor  #blocks  name\n\n",
                  "exec '" + QFile::encodeName(vkhostset) + "'");

    TNamespaceRun app;
    QVERIFY2(app.start(w + "/setup.sh", w), qPrintable(app.Error));
    TXSession &x = app.X;
    QProcess &tool = app.Proc;

    TXSession::TWindow main;
    QElapsedTimer clock;
    clock.start();
    while (!x.findWindow(kTitle, main)) {
        if (tool.state() != QProcess::Running) {
            SKIP_IF_NO_FIXTURES(app);
            QFAIL(qPrintable("vkhostset ended early (" + QString::number(tool.exitCode()) + "): " + app.said()));
        }
        if (clock.elapsed() > 30000)
            QFAIL(qPrintable("no window \"" + kTitle + "\" appeared; vkhostset said:\n" + app.said()));
        QThread::msleep(200);
    }
    QCOMPARE(main.Width, 650);
    QCOMPARE(main.Height, 440);
    // The tool's files, as the tool sees them in its namespace.
    const QString toolRoot = QStringLiteral("/proc/%1/root").arg(tool.processId());
    const QString conf = toolRoot + QStringLiteral("/etc/velkora/modules.conf");

    // Add, the network item of its menu, the driver's row, OK.
    QThread::msleep(300);
    QVERIFY(x.click(main.X + pageButtonX(16), main.Y + pageButtonY(368)));
    QThread::msleep(300);
    QVERIFY(x.keys({"Down", "Return"}));
    TXSession::TWindow chooser;
    QVERIFY2(x.waitWindow(QStringLiteral("选择驱动"), chooser, 10000), qPrintable(app.said()));
    QVERIFY(x.click(chooser.X + 60, chooser.Y + 28));   // the first row, below the header
    QThread::msleep(300);
    QVERIFY(x.click(chooser.X + 418 + 37, chooser.Y + 416 + 12));
    QVERIFY2(waitFor([&] { return readFile(conf) == "e1000\n"; }, 10000),
             qPrintable("modules.conf holds: " + readFile(conf) + "\nvkhostset said:\n" + app.said()));

    // The new line, then Load.
    QThread::msleep(300);
    QVERIFY(x.click(main.X + 40, main.Y + kFirstListRowY));
    QThread::msleep(300);
    QVERIFY(x.click(main.X + pageButtonX(286), main.Y + pageButtonY(368)));
    QVERIFY2(waitFor([&] { return readFile(calls) == "e1000\n"; }, 10000),
             qPrintable("modprobe recorded: " + readFile(calls) + "\nvkhostset said:\n" + app.said()));

    // What the command window shows, through its Save button.
    TXSession::TWindow run;
    QVERIFY(x.waitWindow(QStringLiteral("运行命令... "), run, 10000));
    // Save works once the command has ended.
    TXSession::TWindow saveAs;
    QVERIFY2(waitFor([&] {
                 x.click(run.X + 459 + 37, run.Y + 386 + 12);
                 return x.waitWindow(QStringLiteral("Save As"), saveAs, 1000);
             }, 15000),
             qPrintable(app.said()));
    // A loaded machine may drop keys typed before the dialog has focus:
    // while the dialog stays open without the file, its name is typed anew.
    QVERIFY2(waitFor([&] {
                 TXSession::TWindow open;
                 if (x.findWindow(QStringLiteral("Save As"), open)) {
                     x.keys({"ctrl+a"}, open.Id);
                     x.type(saved);
                     x.keys({"Return"});
                 }
                 return waitFor([&] { return QFileInfo::exists(saved); }, 3000);
             }, 30000),
             qPrintable(app.said()));
    QCOMPARE(readFile(saved), "e1000 loaded\n\n" + QByteArray(64, '-') + "\n  RESULT: 0\n");
    QVERIFY(x.click(run.X + 547 + 37, run.Y + 386 + 12));
    QVERIFY(waitFor([&] { TXSession::TWindow gone; return !x.findWindow(QStringLiteral("运行命令... "), gone); }, 10000));

    QCOMPARE(readFile(calls), QByteArray("e1000\n"));
    QCOMPARE(readFile(conf), QByteArray("e1000\n"));
    QVERIFY(tool.state() == QProcess::Running);
    StopProcess(tool);
    // The fixtures lived in the namespace only.
    QCOMPARE(QFileInfo::exists(QStringLiteral("/etc/velkora")), velkoraEtcExisted);
    QCOMPARE(QFileInfo::exists(libDir + "/modules/" + release), modulesExisted);
}

// A driver list the tool could not read at start (here: a file of mode 000
// and a tool without root's override of the mode bits) is never written:
// the start reports the file, Add reports it again instead of offering the
// chooser, and the file keeps every byte. The rest of the start still runs:
// the disk tree is filled (its refresh opens the listed disk, whose node is
// missing, a second time) and the drivers tab is in front.
void TestE2EHostset::unreadDriverListIsKept()
{
    const QString why = EndToEndUnavailable({"unshare", "Xvfb", "xdotool", "setpriv"});
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    const QString vkhostset = QStringLiteral(TEST_BINARY_DIR "/hostset/vkhostset");
    QVERIFY2(QFileInfo(vkhostset).isExecutable(), qPrintable(vkhostset + " is not built"));
    if (QFileInfo::exists(QStringLiteral("/dev/hdz")))
        QSKIP("/dev/hdz, which must be missing here, exists on this machine");
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString w = work.path();
    const QByteArray kept = "e1000 debug=1\nbnx2\ntg3 opt=x\naacraid\n";
    writeFile(w + "/fixture/etc/velkora/modules.conf", kept);
    QVERIFY(QFile::setPermissions(w + "/fixture/etc/velkora/modules.conf", {}));
    writeRunSetup(w, "layer etc /etc\n", "major minor  #blocks  name\n\n   3      640     409600 hdz\n",
                  "exec setpriv --bounding-set -dac_override,-dac_read_search '" + QFile::encodeName(vkhostset) + "'");

    TNamespaceRun app;
    QVERIFY2(app.start(w + "/setup.sh", w), qPrintable(app.Error));
    TXSession &x = app.X;
    QProcess &tool = app.Proc;
    const QString conf = QStringLiteral("/proc/%1/root/etc/velkora/modules.conf").arg(tool.processId());

    TXSession::TWindow box, main, chooser;
    QVERIFY2(app.waitWindowOrEnd(QStringLiteral("vkhostset"), box, 30000),
             qPrintable("no error box at start; vkhostset said:\n" + app.said()));
    SKIP_IF_NO_FIXTURES(app);
    QThread::msleep(300);
    QVERIFY(x.keys({"Return"}, box.Id));
    QVERIFY2(x.waitWindow(kTitle, main, 15000), qPrintable(app.said()));
    QVERIFY(waitFor([&] { return !x.findWindow(QStringLiteral("vkhostset"), box); }, 5000));

    // Both refreshes ran: the start's and the disk tree's.
    const bool readTwice = waitFor([&] {
        tool.waitForReadyRead(100);
        return app.said().count(QStringLiteral("open file:/dev/hdz")) == 2;
    }, 10000);
    QVERIFY2(readTwice, qPrintable("the disks were not read twice; vkhostset said:\n" + app.said()));
    // Add on the drivers tab, in front as always, and the network item of
    // its menu: the error again, no chooser.
    QThread::msleep(300);
    QVERIFY(x.click(main.X + pageButtonX(16), main.Y + pageButtonY(368)));
    QThread::msleep(300);
    QVERIFY(x.keys({"Down", "Return"}));
    QVERIFY2(x.waitWindow(QStringLiteral("vkhostset"), box, 10000), qPrintable(app.said()));
    QVERIFY(!x.findWindow(QStringLiteral("选择驱动"), chooser));
    QVERIFY(x.keys({"Return"}, box.Id));
    QVERIFY(waitFor([&] { return !x.findWindow(QStringLiteral("vkhostset"), box); }, 5000));

    QVERIFY(tool.state() == QProcess::Running);
    QCOMPARE(readFile(conf), kept);
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(conf).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, 0u);
}

// What is on disk is never lost to an Add. A driver list of 30 GiB (a
// sparse file behind three lines) with the tool under a 6 GiB address-space
// limit: the start says the file is too large, Add says it again and
// offers no chooser, and the file keeps every byte. A line another program
// appends while the tool is open, or a file another program writes where
// there was none: Add writes nothing and says the file was changed; the
// list is read again, so the next Add keeps the other program's lines.
void TestE2EHostset::driverListOnDiskWins_data()
{
    QTest::addColumn<QByteArray>("start");     // empty: no file
    QTest::addColumn<QByteArray>("outside");   // written by another program once the window shows; empty: none
    QTest::newRow("30 GiB file") << QByteArray("e1000 debug=1\nbnx2\ntg3 opt=x\n") << QByteArray();
    QTest::newRow("line appended") << QByteArray("bnx2\n") << QByteArray("bnx2\ntg3 opt=x\n");
    QTest::newRow("absent, then written") << QByteArray() << QByteArray("tg3\naacraid\n");
}

void TestE2EHostset::driverListOnDiskWins()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, outside);
    const QString why = EndToEndUnavailable({"unshare", "Xvfb", "xdotool"});
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    const QString vkhostset = QStringLiteral(TEST_BINARY_DIR "/hostset/vkhostset");
    QVERIFY2(QFileInfo(vkhostset).isExecutable(), qPrintable(vkhostset + " is not built"));
    utsname u{};
    QVERIFY(uname(&u) == 0);
    const QString release = QString::fromLocal8Bit(u.release);
    const QString libDir = QFileInfo(QStringLiteral("/lib")).canonicalFilePath();

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString w = work.path();
    const bool huge = outside.isEmpty();
    const qint64 hugeSize = qint64(30) << 30;
    writeFile(w + "/fixture/lib/modules/" + release + "/kernel/drivers/net/e1000/e1000.ko", {});
    QDir().mkpath(w + "/fixture/etc/velkora");
    if (!start.isEmpty())
        writeFile(w + "/fixture/etc/velkora/modules.conf", start);
    if (huge)
        QVERIFY(QFile::resize(w + "/fixture/etc/velkora/modules.conf", hugeSize));
    // The address-space limit would starve a sanitizer's shadow memory.
#if defined(__SANITIZE_ADDRESS__)
    const QByteArray limit;
#else
    const QByteArray limit = huge ? "ulimit -v 6291456 || exit 97\n" : "";
#endif
    writeRunSetup(w, "layer lib '" + QFile::encodeName(libDir) + "'\nlayer etc /etc\n", "major minor  #blocks  name\n\n",
                  limit + "exec '" + QFile::encodeName(vkhostset) + "'");

    TNamespaceRun app;
    QVERIFY2(app.start(w + "/setup.sh", w), qPrintable(app.Error));
    TXSession &x = app.X;
    QProcess &tool = app.Proc;

    TXSession::TWindow box, main, chooser;
    if (huge) {
        QVERIFY2(app.waitWindowOrEnd(QStringLiteral("vkhostset"), box, 30000),
                 qPrintable("no error box at start; vkhostset said:\n" + app.said()));
        SKIP_IF_NO_FIXTURES(app);
        QThread::msleep(300);
        QVERIFY(x.keys({"Return"}, box.Id));
    }
    QVERIFY2(app.waitWindowOrEnd(kTitle, main, 30000), qPrintable(app.said()));
    SKIP_IF_NO_FIXTURES(app);
    QVERIFY2(tool.state() == QProcess::Running, qPrintable(app.said()));
    QVERIFY(waitFor([&] { return !x.findWindow(QStringLiteral("vkhostset"), box); }, 5000));
    const QString conf = QStringLiteral("/proc/%1/root/etc/velkora/modules.conf").arg(tool.processId());
    if (!outside.isEmpty())
        writeFile(conf, outside);

    // Add, the network item; the chooser's first row and OK when it comes.
    const auto add = [&] {
        QThread::msleep(300);
        x.click(main.X + pageButtonX(16), main.Y + pageButtonY(368));
        QThread::msleep(300);
        x.keys({"Down", "Return"});
        TXSession::TWindow any;
        if (!waitFor([&] { return x.findWindow(QStringLiteral("选择驱动"), chooser) || x.findWindow(QStringLiteral("vkhostset"), any); },
                     10000))
            return false;
        if (!x.findWindow(QStringLiteral("选择驱动"), chooser))
            return true;
        x.click(chooser.X + 60, chooser.Y + 28);
        QThread::msleep(300);
        x.click(chooser.X + 418 + 37, chooser.Y + 416 + 12);
        return waitFor([&] { return !x.findWindow(QStringLiteral("选择驱动"), chooser); }, 10000);
    };
    QVERIFY2(add(), qPrintable(app.said()));
    // The refusal: a box with the application's title (the file tells
    // which refusal it was).
    QVERIFY2(x.waitWindow(QStringLiteral("vkhostset"), box, 10000), qPrintable(app.said()));
    QThread::msleep(300);
    QVERIFY(x.keys({"Return"}, box.Id));
    QVERIFY(waitFor([&] { return !x.findWindow(QStringLiteral("vkhostset"), box); }, 5000));
    QVERIFY(tool.state() == QProcess::Running);
    if (huge) {
        QFile f(conf);
        QCOMPARE(f.size(), hugeSize);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(start.size() + 4), start + QByteArray(4, '\0'));
        return;
    }
    QCOMPARE(readFile(conf), outside);
    // The list is the file's now: Add again, and the other program's lines stay.
    QVERIFY2(add(), qPrintable(app.said()));
    QVERIFY2(waitFor([&] { return readFile(conf) == outside + "e1000\n"; }, 10000),
             qPrintable("modules.conf holds: " + readFile(conf) + "\nvkhostset said:\n" + app.said()));
}

// The run the tests above start their programs with: what the program
// wrote in two parts is said whole, in order; an end ends the wait for a
// window, and only the setup script's code 97 counts as fixtures that could
// not be made.
void TestE2EHostset::namespaceRunTellsHowTheProgramEnded_data()
{
    QTest::addColumn<QByteArray>("end");   // the script's last line
    QTest::addColumn<bool>("ended");
    QTest::addColumn<bool>("fixturesFailed");
    QTest::newRow("fixtures failed") << QByteArray("exit 97") << true << true;
    QTest::newRow("another failure") << QByteArray("exit 1") << true << false;
    QTest::newRow("success") << QByteArray("exit 0") << true << false;
    QTest::newRow("still running") << QByteArray("exec sleep 60") << false << false;
}

void TestE2EHostset::namespaceRunTellsHowTheProgramEnded()
{
    QFETCH(QByteArray, end);
    QFETCH(bool, ended);
    QFETCH(bool, fixturesFailed);
    const QString why = EndToEndUnavailable({"unshare", "Xvfb"});
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString w = work.path();
    writeFile(w + "/setup.sh", "echo one\nsleep 0.5\necho two\nsleep 0.5\n" + end + '\n', true);

    TNamespaceRun app;
    QVERIFY2(app.start(w + "/setup.sh", w), qPrintable(app.Error));
    const auto saidAtLeast = [&](const QString &Line) {
        return waitFor([&] { return app.said().contains(Line); }, 10000);
    };
    QVERIFY2(saidAtLeast(QStringLiteral("one\n")), qPrintable(app.said()));
    QVERIFY2(saidAtLeast(QStringLiteral("two\n")), qPrintable(app.said()));
    QCOMPARE(app.said(), QStringLiteral("one\ntwo\n"));
    // The end is seen without an event loop, by the wait itself.
    TXSession::TWindow none;
    QCOMPARE(app.waitWindowOrEnd(QStringLiteral("no such window"), none, 5000), ended);
    QCOMPARE(app.fixturesFailed(), fixturesFailed);
}

QTEST_GUILESS_MAIN(TestE2EHostset)
#include "tst_e2e_hostset.moc"
