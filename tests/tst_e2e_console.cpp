// The console as a user meets it: the real vkpanel on an X server of its
// own, in private mount and network namespaces whose /usr/sbin, /etc,
// /var/run and /proc/partitions are fixtures and whose one link is a pair of
// virtual interfaces, so nothing on this machine changes. A click on the
// service page's start button must run the service's control program; a
// click held while a password terminal runs must be applied when it closes;
// the traffic monitor, opened through the speed dialog, must draw the traffic
// sent over the virtual link.
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

#include <X11/Xlib.h>
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const char kTitle[] = "Velkora Linux Console";

// Window-relative click points, from the main window's layout: the
// navigation list at (8, 42) with a one-pixel frame and 24-pixel rows, the
// page area at (134, 39), the service group box filling it.
constexpr int kNavX = 8 + 60;
int navY(int row) { return 42 + 1 + row * 24 + 12; }
constexpr int kServiceRow = 7;   // the eighth listed page, "服务管理"
constexpr int kSystemRow = 9;    // the tenth, "系统管理": its two password buttons
constexpr int kPassX = 134 + 32 + 60;
constexpr int kAdminPassY = 39 + 24 + 12;
constexpr int kRemotePassY = 39 + 76 + 12;
constexpr int kFyrStartX = 134 + 16 + 37;
constexpr int kFyrStartY = 39 + 40 + 12;
// The network page's monitor button, and the speed dialog's OK button.
constexpr int kNicMonX = 134 + 72 + 37;
constexpr int kNicMonY = 39 + 256 + 12;
constexpr int kSpeedOkX = 67 + 37;
constexpr int kSpeedOkY = 113 + 12;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Counts the window's pixels of exactly these colours, through Xlib loaded
// at run time (the build links no X library).
bool countColours(const QString &display, const TXSession::TWindow &win, const QList<unsigned long> &colours,
                  QList<int> &counts)
{
    void *lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return false;
    auto open = reinterpret_cast<Display *(*)(const char *)>(dlsym(lib, "XOpenDisplay"));
    auto closeDisplay = reinterpret_cast<int (*)(Display *)>(dlsym(lib, "XCloseDisplay"));
    auto getImage = reinterpret_cast<XImage *(*)(Display *, Drawable, int, int, unsigned, unsigned,
                                                 unsigned long, int)>(dlsym(lib, "XGetImage"));
    Display *d = open && closeDisplay && getImage ? open(display.toLocal8Bit().constData()) : nullptr;
    if (!d) {
        dlclose(lib);
        return false;
    }
    XImage *img = getImage(d, Drawable(win.Id.toULong(nullptr, 0)), 0, 0, unsigned(win.Width),
                           unsigned(win.Height), ~0UL, ZPixmap);
    counts = QList<int>(colours.size(), 0);
    if (img) {
        for (int y = 0; y < win.Height; ++y)
            for (int x = 0; x < win.Width; ++x) {
                const qsizetype i = colours.indexOf(img->f.get_pixel(img, x, y) & 0xFFFFFF);
                if (i >= 0)
                    ++counts[i];
            }
        img->f.destroy_image(img);
    }
    closeDisplay(d);
    dlclose(lib);
    return img != nullptr;
}

// A datagram socket in the network namespace of process pid.
int socketIn(qint64 pid)
{
    const int own = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int theirs = ::open(QByteArray("/proc/" + QByteArray::number(pid) + "/ns/net").constData(),
                              O_RDONLY | O_CLOEXEC);
    int sock = -1;
    if (own >= 0 && theirs >= 0 && setns(theirs, CLONE_NEWNET) == 0) {
        sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (setns(own, CLONE_NEWNET) != 0)
            qFatal("cannot return to the test's own network namespace");
    }
    if (own >= 0)
        ::close(own);
    if (theirs >= 0)
        ::close(theirs);
    return sock;
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
    // The administrator's password terminal stays open a while; the time it
    // closes, and the time the next terminal opens, are kept.
    const QByteArray stamps = QFile::encodeName(w + "/stamps");
    writeFile(w + "/bin/xterm",
              record + "case \"$*\" in\n"
                       "*vncpasswd) echo \"open $(date +%s%N)\" >> '" + stamps + "' ;;\n"
                       "*passwd) sleep 1.5; echo \"closed $(date +%s%N)\" >> '" + stamps + "' ;;\n"
                       "esac\n",
              true);
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
                  // The namespace's one link: traffic sent to 10.9.0.2 leaves by
                  // vkv0 and arrives at vkv1.
                  "{ ip link add vkv0 type veth peer name vkv1 && ip link set vkv0 up && ip link set vkv1 up\n"
                  "  ip addr add 10.9.0.1/24 dev vkv0 && ip neigh replace 10.9.0.2 lladdr 02:00:00:00:00:02 dev vkv0\n"
                  "} >\"$W/link.log\" 2>&1 || : > \"$W/nolink\"\n"
                  "exec '" + QFile::encodeName(vkpanel) + "'\n",
              true);

    TXSession x;
    QString error;
    QVERIFY2(x.start(error), qPrintable(error));
    QProcess console;
    x.startInNamespace(console, w + "/setup.sh", w, {"-m", "-n"});   // a network of its own too
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

    // A click made while the console waits for a command is applied as soon
    // as the command ends, not when some later input arrives.
    QVERIFY(x.click(win.X + kNavX, win.Y + navY(kSystemRow)));
    QThread::msleep(500);
    QVERIFY(x.click(win.X + kPassX, win.Y + kAdminPassY));
    QThread::msleep(500);   // the first terminal is open now
    QVERIFY(x.click(win.X + kPassX, win.Y + kRemotePassY));
    clock.restart();
    while (!readFile(w + "/stamps").contains("open") && clock.elapsed() < 10000)
        QThread::msleep(50);
    const QList<QByteArray> stampLines = readFile(w + "/stamps").trimmed().split('\n');
    QCOMPARE(stampLines.size(), 2);
    QVERIFY(stampLines[0].startsWith("closed ") && stampLines[1].startsWith("open "));
    const double late = (stampLines[1].mid(5).toLongLong() - stampLines[0].mid(7).toLongLong()) / 1e9;
    qInfo("the held click came %.3f s after the wait", late);
    QVERIFY2(late < 0.8, qPrintable(QStringLiteral("the held click came %1 s after the wait").arg(late)));

    // The traffic monitor: the network page, its monitor button, OK on the
    // speed dialog (100Mbit/s chosen), then a window whose graphs show what
    // is sent over the virtual link.
    const bool link = !QFileInfo::exists(w + "/nolink");
    QVERIFY(x.click(win.X + kNavX, win.Y + navY(0)));
    QThread::msleep(500);
    QVERIFY(x.click(win.X + kNicMonX, win.Y + kNicMonY));
    TXSession::TWindow speed;
    QVERIFY2(x.waitWindow(QStringLiteral("Select Speed"), speed, 15000), "no speed dialog appeared");
    QThread::msleep(300);
    QVERIFY(x.click(speed.X + kSpeedOkX, speed.Y + kSpeedOkY));
    TXSession::TWindow monitor;
    QVERIFY2(x.waitWindow(QStringLiteral("Network Traffic Watch - 100Mbit/s"), monitor, 15000), "no monitor window appeared");
    QCOMPARE(monitor.Width, 620);
    QCOMPARE(monitor.Height, 440);
    if (!link)
        QSKIP(qPrintable("the service path passed; no virtual link can be made here for the monitor: "
                         + readFile(w + "/link.log")));

    // About 4 MB/s for three ticks: bars a third of a graph high, green for
    // what vkv0 sends, red for what vkv1 receives.
    const int sock = socketIn(console.processId());
    QVERIFY2(sock >= 0, "no socket in the console's network namespace");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    inet_pton(AF_INET, "10.9.0.2", &to.sin_addr);
    const QByteArray datagram(1400, 'x');
    QList<int> counts;
    clock.restart();
    for (int round = 1; clock.elapsed() < 20000; ++round) {
        for (int i = 0; i < 30; ++i)
            sendto(sock, datagram.constData(), size_t(datagram.size()), 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof to);
        QThread::msleep(10);
        if (clock.elapsed() > 5000 && round % 50 == 0) {   // two samples taken: look about twice a second
            QVERIFY(countColours(x.env().value(QStringLiteral("DISPLAY")), monitor, {0x00FF00, 0xFF0000}, counts));
            if (counts[0] > 40 && counts[1] > 40)
                break;
        }
    }
    ::close(sock);
    qInfo("monitor bar pixels: green %d, red %d", counts.value(0), counts.value(1));
    QVERIFY2(counts.size() == 2 && counts[0] > 40 && counts[1] > 40,
             qPrintable(QStringLiteral("bar pixels green %1, red %2")
                            .arg(counts.value(0))
                            .arg(counts.value(1))));

    StopProcess(console);
    // The fixtures lived in the namespace only.
    QCOMPARE(QFileInfo::exists(QStringLiteral("/usr/sbin/fyr")), fyrExisted);
    QCOMPARE(QFileInfo::exists(QStringLiteral("/etc/velkora")), velkoraEtcExisted);
}

QTEST_GUILESS_MAIN(TestE2EConsole)
#include "tst_e2e_console.moc"
