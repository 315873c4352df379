// The console as a user meets it: the real vkpanel on an X server of its
// own, in a private mount namespace whose /usr/sbin, /etc, /var/run and
// /proc/partitions are fixtures, so nothing on this machine changes. A click
// on the service page's start button must run the service's control program.
#include "testutil.h"
#include "testutil_x11.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unistd.h>

namespace {
const char kTitle[] = "Velkora Linux Console";

// Window-relative click points, from the main window's layout: the
// navigation list at (8, 42) with a one-pixel frame and 24-pixel rows, the
// page area at (134, 39), the service group box filling it.
constexpr int kNavX = 8 + 60;
int navY(int row) { return 42 + 1 + row * 24 + 12; }
constexpr int kServiceRow = 7;   // the eighth listed page, "服务管理"
constexpr int kFyrStartX = 134 + 16 + 37;
constexpr int kFyrStartY = 39 + 40 + 12;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestE2EConsole : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serviceButtonRunsItsControlProgram();
};

void TestE2EConsole::serviceButtonRunsItsControlProgram()
{
    const QString why = EndToEndUnavailable({"unshare", "Xvfb", "xdotool"});
    if (!why.isEmpty())
        QSKIP(qPrintable(why));

    const QString vkpanel = QStringLiteral(TEST_BINARY_DIR "/console/vkpanel");
    QVERIFY2(QFileInfo(vkpanel).isExecutable(), qPrintable(vkpanel + " is not built"));
    const bool fyrExisted = QFileInfo::exists(QStringLiteral("/usr/sbin/fyr"));
    const bool velkoraEtcExisted = QFileInfo::exists(QStringLiteral("/etc/velkora"));

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString w = work.path();
    const QString calls = w + QStringLiteral("/calls");

    // The maker's programs as stand-ins that record how they were called; a
    // started service leaves its pid file as the real one would.
    const QByteArray record = "#!/bin/sh\necho \"$0 $*\" >> '" + QFile::encodeName(calls) + "'\n";
    for (const char *name : {"fyr", "fyq", "kelvask"})
        writeFile(w + "/fixture/sbin/" + name, record, true);
    writeFile(w + "/fixture/sbin/fyr",
              record + "[ \"$1\" = start ] && : > /var/run/velkora/fyrsrv.pid\n"
                       "[ \"$1\" = stop ] && rm -f /var/run/velkora/fyrsrv.pid\nexit 0\n",
              true);
    // Nothing that could end this machine's session runs for real, whatever is clicked.
    for (const char *name : {"fyrman", "fyqman", "kvman", "fyqbootmgr", "fyqiomgr", "bond", "halt",
                             "reboot", "poweroff", "shutdown", "killall"}) {
        writeFile(w + "/fixture/sbin/" + name, record, true);
        writeFile(w + "/bin/" + name, record, true);
    }
    for (const char *name : {"xterm", "passwd", "vncpasswd"})
        writeFile(w + "/bin/" + name, record, true);
    writeFile(w + "/bin/lspci", "#!/bin/sh\necho '00:00.0 Host bridge: Maker Bridge'\n", true);
    writeFile(w + "/fixture/etc/velkora/bond.conf",
              "DEVICE=\"bond0\"\nSLAVES=\"eth0 eth1\"\nIP=\"10.0.0.5\"\nMASK=\"255.255.255.0\"\n"
              "GATEWAY=\"10.0.0.1\"\n");
    writeFile(w + "/fixture/run/velkora/fyqsrv.pid", "4242\n");
    writeFile(w + "/fixture/partitions", "major minor  #blocks  name\n\n");
    QDir().mkpath(w + "/ns");
    QDir().mkpath(w + "/xdg");
    QFile::setPermissions(w + "/xdg", QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner);

    // Inside the namespace: each system directory becomes an overlay whose
    // upper layer holds the fixture; then the console replaces the shell.
    const QString runDir = QFileInfo(QStringLiteral("/var/run")).canonicalFilePath();
    writeFile(w + "/setup.sh",
              OverlayScriptHead(w) + "layer sbin /usr/sbin\nlayer etc /etc\nlayer run '"
                  + QFile::encodeName(runDir) + "'\n"
                  "mount --bind \"$W/fixture/partitions\" /proc/partitions || exit 97\n"
                  "exec '" + QFile::encodeName(vkpanel) + "'\n",
              true);

    TXSession x;
    QString error;
    QVERIFY2(x.start(error), qPrintable(error));
    QProcess console;
    DieWithParent(console);
    QProcessEnvironment consoleEnv = x.env();
    consoleEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    consoleEnv.insert(QStringLiteral("PATH"), w + QStringLiteral("/bin:/usr/sbin:/usr/bin:/sbin:/bin"));
    consoleEnv.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    consoleEnv.insert(QStringLiteral("XDG_RUNTIME_DIR"), w + QStringLiteral("/xdg"));
    console.setProcessEnvironment(consoleEnv);
    console.setProcessChannelMode(QProcess::MergedChannels);
    console.start(QStringLiteral("unshare"), {"-m", "--propagation", "private", "/bin/sh", w + "/setup.sh"});
    QVERIFY2(console.waitForStarted(10000), "unshare does not start");
    const auto stop = qScopeGuard([&] { StopProcess(console); });

    TXSession::TWindow win;
    QElapsedTimer clock;
    clock.start();
    while (!x.findWindow(QString::fromLatin1(kTitle), win)) {
        if (console.state() != QProcess::Running) {
            const QByteArray out = console.readAll();
            if (console.exitCode() == 97)
                QSKIP(qPrintable("the fixture mounts cannot be made here: " + out));
            QFAIL(qPrintable("vkpanel ended early (" + QByteArray::number(console.exitCode()) + "): " + out));
        }
        if (clock.elapsed() > 30000)
            QFAIL(qPrintable("no window \"" + QByteArray(kTitle) + "\" appeared; vkpanel said:\n"
                             + console.readAll()));
        QThread::msleep(200);
    }
    QCOMPARE(win.Width, 600);
    QCOMPARE(win.Height, 380);

    // The service page first, then its Fyr Me start button.
    QVERIFY(x.click(win.X + kNavX, win.Y + navY(kServiceRow)));
    QThread::msleep(500);   // lets the page switch settle before the next click
    QVERIFY(x.click(win.X + kFyrStartX, win.Y + kFyrStartY));

    clock.restart();
    while (!readFile(calls).contains("/usr/sbin/fyr start") && clock.elapsed() < 20000)
        QThread::msleep(100);
    QVERIFY2(readFile(calls).contains("/usr/sbin/fyr start"),
             qPrintable("the stand-in recorded: " + readFile(calls) + "\nvkpanel said:\n"
                        + console.readAll()));
    // Only the start button was pressed.
    const QList<QByteArray> lines = readFile(calls).trimmed().split('\n');
    QCOMPARE(lines, QList<QByteArray>{"/usr/sbin/fyr start"});
    QVERIFY(console.state() == QProcess::Running);

    StopProcess(console);
    // The fixtures lived in the namespace only.
    QCOMPARE(QFileInfo::exists(QStringLiteral("/usr/sbin/fyr")), fyrExisted);
    QCOMPARE(QFileInfo::exists(QStringLiteral("/etc/velkora")), velkoraEtcExisted);
}

QTEST_GUILESS_MAIN(TestE2EConsole)
#include "tst_e2e_console.moc"
