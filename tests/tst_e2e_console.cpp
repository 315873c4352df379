// The console as a user meets it: the real vkpanel on an X server of its
// own, in private mount and network namespaces whose /usr/sbin, /etc,
// /var/run and /proc/partitions are fixtures and whose one link is a pair of
// virtual interfaces, so nothing on this machine changes. A click on the
// service page's start button must run the service's control program; a
// click held while a password terminal runs must be applied when it closes;
// the traffic monitor, opened through the speed dialog, must draw the traffic
// sent over the virtual link. On a server with a dead disk, the console must
// still open with every page, and its bonding page must write back exactly
// the members it found and report a cancel that cannot delete the file.
#include "testutil.h"
#include "testutil_x11.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>

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
// The bonding page (second row): its check box and Apply; the disk page
// (third row): its disk list and partition list.
constexpr int kBondingRow = 1;
constexpr int kDiskRow = 2;
constexpr int kBondBoxX = 134 + 27 + 8;
constexpr int kBondBoxY = 39 + 24 + 11;
constexpr int kApplyX = 134 + 72 + 37;
constexpr int kApplyY = 39 + 245 + 12;
constexpr int kDiskListX = 134 + 72 + 60;
constexpr int kDiskListY = 39 + 32 + 10;
const QRect kPartitionList(134 + 72, 39 + 120, 313, 161);

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Hands every pixel of the window (x, y, 0xRRGGBB) to Visit, through Xlib
// loaded at run time (the build links no X library).
bool visitPixels(const QString &display, const TXSession::TWindow &win,
                 const std::function<void(int, int, unsigned long)> &Visit)
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
    if (img) {
        for (int y = 0; y < win.Height; ++y)
            for (int x = 0; x < win.Width; ++x)
                Visit(x, y, img->f.get_pixel(img, x, y) & 0xFFFFFF);
        img->f.destroy_image(img);
    }
    closeDisplay(d);
    dlclose(lib);
    return img != nullptr;
}

// Counts the window's pixels of exactly these colours.
bool countColours(const QString &display, const TXSession::TWindow &win, const QList<unsigned long> &colours,
                  QList<int> &counts)
{
    counts = QList<int>(colours.size(), 0);
    return visitPixels(display, win, [&](int, int, unsigned long px) {
        const qsizetype i = colours.indexOf(px);
        if (i >= 0)
            ++counts[i];
    });
}

// Pixels of text (dark in every channel) inside Area of the window; -1
// when the window cannot be read.
int darkPixels(const QString &display, const TXSession::TWindow &win, const QRect &area)
{
    int n = 0;
    const bool read = visitPixels(display, win, [&](int x, int y, unsigned long px) {
        if (area.contains(x, y) && (px >> 16 & 0xFF) < 0x60 && (px >> 8 & 0xFF) < 0x60 && (px & 0xFF) < 0x60)
            ++n;
    });
    return read ? n : -1;
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
    void oneFaultLeavesTheRestWorking();
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

    TNamespaceRun app;
    QVERIFY2(app.start(w + "/setup.sh", w, {"-m", "-n"}), qPrintable(app.Error));   // a network of its own too
    TXSession &x = app.X;
    QProcess &console = app.Proc;

    TXSession::TWindow win;
    QElapsedTimer clock;
    clock.start();
    while (!x.findWindow(QString::fromLatin1(kTitle), win)) {
        if (console.state() != QProcess::Running) {
            SKIP_IF_NO_FIXTURES(app);
            QFAIL(qPrintable("vkpanel ended early (" + QString::number(console.exitCode()) + "): " + app.said()));
        }
        if (clock.elapsed() > 30000)
            QFAIL(qPrintable("no window \"" + QString::fromLatin1(kTitle) + "\" appeared; vkpanel said:\n"
                             + app.said()));
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
                        + app.said()));
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

// A server with a disk that has dropped off its bus and a bonding file
// naming eth10 and eth11 beside an eth1: the disk's open error shows, and
// still every page is there, the other disk with its partitions, the
// bonding members by whole name; a cancel whose delete fails says so.
void TestE2EConsole::oneFaultLeavesTheRestWorking()
{
    const QString why = EndToEndUnavailable({"unshare", "Xvfb", "xdotool", "setpriv", "sfdisk"});
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    const QString vkpanel = QStringLiteral(TEST_BINARY_DIR "/console/vkpanel");
    QVERIFY2(QFileInfo(vkpanel).isExecutable(), qPrintable(vkpanel + " is not built"));
    const bool velkoraEtcExisted = QFileInfo::exists(QStringLiteral("/etc/velkora"));

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString w = work.path();
    const QString calls = w + QStringLiteral("/calls");
    const QByteArray record = "#!/bin/sh\necho \"$0 $*\" >> '" + QFile::encodeName(calls) + "'\n";
    for (const char *name : {"fyr", "fyq", "kelvask", "fyrman", "fyqman", "kvman", "fyqbootmgr", "fyqiomgr",
                             "bond", "halt", "reboot", "poweroff", "shutdown", "killall"}) {
        writeFile(w + "/fixture/sbin/" + name, record, true);
        writeFile(w + "/bin/" + name, record, true);
    }
    writeFile(w + "/bin/lspci", "#!/bin/sh\necho '00:00.0 Host bridge: Maker Bridge'\n", true);
    const QByteArray bond = "DEVICE=\"bond0\"\nSLAVES=\"eth10 eth11\"\nIP=\"10.0.0.5\"\n"
                            "MASK=\"255.255.255.0\"\nGATEWAY=\"10.0.0.1\"\n";
    writeFile(w + "/fixture/etc/velkora/bond.conf", bond);
    // sdz is listed first and has no node; sdy after it holds two partitions.
    writeFile(w + "/fixture/partitions", "major minor  #blocks  name\n\n"
                                         "   8      400     409600 sdz\n   8      384      65536 sdy\n");
    int rc = -1;
    RunProgram(QStringLiteral("sh"),
               {"-c", "truncate -s 64M \"$0\" && printf 'label: dos\\n,8192,83\\n,8192,82\\n' | sfdisk -q \"$0\"",
                w + "/sdy.img"},
               QProcessEnvironment::systemEnvironment(), &rc);
    QCOMPARE(rc, 0);
    QDir().mkpath(w + "/ns");
    QDir().mkpath(w + "/xdg");
    QFile::setPermissions(w + "/xdg", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Inside the namespace: /dev a tmpfs with the basic nodes and sdy, the
    // interfaces eth1, eth10 and eth11, and a console that, like any
    // program, cannot write where the permissions forbid it.
    writeFile(w + "/setup.sh",
              OverlayScriptHead(w) + "layer sbin /usr/sbin\nlayer etc /etc\n"
                  "mount -t tmpfs -o mode=755 tmpfs /dev || exit 97\n"
                  "mknod -m 666 /dev/null c 1 3 && mknod -m 666 /dev/zero c 1 5 &&"
                  " mknod -m 666 /dev/urandom c 1 9 && mknod -m 666 /dev/tty c 5 0 || exit 97\n"
                  "ln -s /proc/self/fd /dev/fd && mkdir /dev/pts /dev/shm || exit 97\n"
                  "ln -s \"$W/sdy.img\" /dev/sdy || exit 97\n"
                  "mount --bind \"$W/fixture/partitions\" /proc/partitions || exit 97\n"
                  "{ ip link add eth1 type veth peer name eth10 && ip link add eth11 type veth peer name vkp0\n"
                  "} >\"$W/link.log\" 2>&1 || : > \"$W/nolink\"\n"
                  "exec setpriv --bounding-set -dac_override,-dac_read_search '" + QFile::encodeName(vkpanel) + "'\n",
              true);

    TNamespaceRun app;
    QVERIFY2(app.start(w + "/setup.sh", w, {"-m", "-n"}), qPrintable(app.Error));
    TXSession &x = app.X;
    QProcess &console = app.Proc;
    const QString display = x.env().value(QStringLiteral("DISPLAY"));

    // The disk's open error, before the window.
    TXSession::TWindow box, win;
    QVERIFY2(app.waitWindowOrEnd(QStringLiteral("vkpanel"), box, 30000),
             qPrintable("no error box at start; vkpanel said:\n" + app.said()));
    SKIP_IF_NO_FIXTURES(app);
    QThread::msleep(300);
    QVERIFY(x.keys({"Return"}, box.Id));
    QVERIFY2(x.waitWindow(QString::fromLatin1(kTitle), win, 15000), qPrintable(app.said()));
    QVERIFY(waitFor([&] { return !x.findWindow(QStringLiteral("vkpanel"), box); }, 5000));   // shown once
    QThread::msleep(500);

    // The navigation list is full: the service page's start button works.
    QVERIFY(x.click(win.X + kNavX, win.Y + navY(kServiceRow)));
    QThread::msleep(500);
    QVERIFY(x.click(win.X + kFyrStartX, win.Y + kFyrStartY));
    QVERIFY2(waitFor([&] { return readFile(calls).contains("/usr/sbin/fyr start"); }, 20000),
             qPrintable("no start recorded: " + readFile(calls)));

    // The disk page: sdy first, with its partitions; sdz below it, with none.
    QVERIFY(x.click(win.X + kNavX, win.Y + navY(kDiskRow)));
    QThread::msleep(500);
    const int withPartitions = darkPixels(display, win, kPartitionList);
    QVERIFY(x.click(win.X + kDiskListX, win.Y + kDiskListY));
    QThread::msleep(300);
    QVERIFY(x.keys({"Down"}));
    QThread::msleep(500);
    const int without = darkPixels(display, win, kPartitionList);
    qInfo("text pixels in the partition list: sdy %d, sdz %d", withPartitions, without);
    QVERIFY2(without >= 0 && withPartitions > without + 40,
             qPrintable(QStringLiteral("partition list text: sdy %1, sdz %2").arg(withPartitions).arg(without)));

    if (QFileInfo::exists(w + "/nolink"))
        QSKIP(qPrintable("the disk path passed; no interfaces can be made here for bonding: "
                         + readFile(w + "/link.log")));
    // Bonding: the box off and on, Apply. The file holds exactly the members
    // ticked at start, and the script ran.
    const QString root = QStringLiteral("/proc/%1/root").arg(console.processId());
    const QString conf = root + QStringLiteral("/etc/velkora/bond.conf");
    QVERIFY(x.click(win.X + kNavX, win.Y + navY(kBondingRow)));
    QThread::msleep(500);
    QVERIFY(x.click(win.X + kBondBoxX, win.Y + kBondBoxY));
    QThread::msleep(300);
    QVERIFY(x.click(win.X + kBondBoxX, win.Y + kBondBoxY));
    QThread::msleep(300);
    QFile::remove(conf);   // so that the one seen next is the one written
    QVERIFY(x.click(win.X + kApplyX, win.Y + kApplyY));
    QVERIFY2(waitFor([&] { return readFile(calls).contains("/usr/sbin/bond start"); }, 20000),
             qPrintable("no bonding script recorded: " + readFile(calls)));
    QCOMPARE(readFile(conf), bond);
    QVERIFY(!x.waitWindow(QStringLiteral("vkpanel"), box, 1000));

    // A cancel whose delete fails: /etc/velkora read-only. Its error shows
    // after the confirmation, and the file stays.
    QVERIFY(QFile::setPermissions(root + QStringLiteral("/etc/velkora"),
                                  QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                      | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther));
    QVERIFY(x.click(win.X + kBondBoxX, win.Y + kBondBoxY));
    QThread::msleep(300);
    QVERIFY(x.click(win.X + kApplyX, win.Y + kApplyY));
    TXSession::TWindow confirm;
    QVERIFY2(x.waitWindow(QStringLiteral("vkpanel"), confirm, 10000), "no confirmation asked");
    QThread::msleep(300);
    QVERIFY(x.keys({"Return"}, confirm.Id));   // Yes, the default
    QVERIFY2(waitFor([&] { return x.findWindow(QStringLiteral("vkpanel"), box) && box.Id != confirm.Id; }, 10000),
             "the failed delete showed no error");
    QCOMPARE(readFile(conf), bond);
    QThread::msleep(300);
    QVERIFY(x.keys({"Return"}, box.Id));
    QVERIFY(waitFor([&] { return !x.findWindow(QStringLiteral("vkpanel"), box); }, 5000));
    QVERIFY(console.state() == QProcess::Running);

    StopProcess(console);
    QCOMPARE(QFileInfo::exists(QStringLiteral("/etc/velkora")), velkoraEtcExisted);
}

QTEST_GUILESS_MAIN(TestE2EConsole)
#include "tst_e2e_console.moc"
