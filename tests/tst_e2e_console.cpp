// The console as a user meets it: the real vkpanel on an X server of its
// own, in private mount and network namespaces whose /usr/sbin, /etc,
// /var/run and /proc/partitions are fixtures and whose one link is a pair of
// virtual interfaces, so nothing on this machine changes. A click on the
// service page's start button must run the service's control program; the
// traffic monitor, opened through the speed dialog, must draw the traffic
// sent over the virtual link.
#include "testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <X11/Xlib.h>
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
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

// Runs a short tool to its end; its standard output, or an empty text.
QByteArray runTool(const QString &program, const QStringList &args,
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                   int *exitCode = nullptr)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool ok = p.waitForFinished(15000);
    if (!ok) {
        p.kill();
        p.waitForFinished(3000);
    }
    if (exitCode)
        *exitCode = ok && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

// Stops a child on every way out of the test: politely first, then for good.
void stopProcess(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

struct TChildren {
    QProcess xserver;
    QProcess console;
    TChildren()
    {
        // Should this test itself be killed, its X server and console go too.
        for (QProcess *p : {&xserver, &console})
            p->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    }
    ~TChildren()
    {
        stopProcess(console);
        stopProcess(xserver);
    }
};

struct TWindow {
    QString id;
    int x = 0, y = 0, width = 0, height = 0;
};

// The mapped top-level window with this title, from the X server's tree.
bool findWindow(const QProcessEnvironment &env, const QString &title, TWindow &win, QByteArray *tree)
{
    const QByteArray out = runTool(QStringLiteral("xwininfo"), {"-root", "-tree"}, env);
    if (tree)
        *tree = out;
    const QRegularExpression re(QStringLiteral("(0x[0-9a-f]+) \"%1\":.*\\s(\\d+)x(\\d+)[+-]-?\\d+[+-]-?\\d+"
                                               "\\s+\\+(-?\\d+)\\+(-?\\d+)")
                                    .arg(QRegularExpression::escape(title)));
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(out));
    if (!m.hasMatch())
        return false;
    const QByteArray info = runTool(QStringLiteral("xwininfo"), {"-id", m.captured(1)}, env);
    if (!info.contains("IsViewable"))
        return false;
    win.id = m.captured(1);
    win.width = m.captured(2).toInt();
    win.height = m.captured(3).toInt();
    win.x = m.captured(4).toInt();
    win.y = m.captured(5).toInt();
    return true;
}

// Counts the window's pixels of exactly these colours, through Xlib loaded
// at run time (the build links no X library).
bool countColours(const QString &display, const TWindow &win, const QList<unsigned long> &colours,
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
    XImage *img = getImage(d, Drawable(win.id.toULong(nullptr, 16)), 0, 0, unsigned(win.width),
                           unsigned(win.height), ~0UL, ZPixmap);
    counts = QList<int>(colours.size(), 0);
    if (img) {
        for (int y = 0; y < win.height; ++y)
            for (int x = 0; x < win.width; ++x) {
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

bool click(const QProcessEnvironment &env, int x, int y)
{
    int rc = -1;
    runTool(QStringLiteral("xdotool"),
            {"mousemove", "--sync", QString::number(x), QString::number(y), "click", "1"}, env, &rc);
    return rc == 0;
}
} // namespace

class TestE2EConsole : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serviceButtonRunsItsControlProgram();
};

void TestE2EConsole::serviceButtonRunsItsControlProgram()
{
    if (geteuid() != 0)
        QSKIP("needs root: the fixtures are mounted in a private mount namespace");
    QStringList missing;
    for (const char *tool : {"unshare", "Xvfb", "xwininfo", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    }
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("missing tools: ") + missing.join(QStringLiteral(", "))));
    int probe = -1;
    runTool(QStringLiteral("unshare"), {"-m", "-n", "--propagation", "private", "true"},
            QProcessEnvironment::systemEnvironment(), &probe);
    if (probe != 0)
        QSKIP("no private mount namespace can be made here");

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
    QByteArray setup = "#!/bin/sh\nW='" + QFile::encodeName(w) + "'\n"
                       "mount -t tmpfs tmpfs \"$W/ns\" || exit 97\n"
                       "layer() {\n"
                       "  mkdir -p \"$W/ns/$1.up\" \"$W/ns/$1.work\" || exit 97\n"
                       "  cp -a \"$W/fixture/$1/.\" \"$W/ns/$1.up/\" || exit 97\n"
                       "  mount -t overlay overlay -o \"lowerdir=$2,upperdir=$W/ns/$1.up,workdir=$W/ns/$1.work\" \"$2\" || exit 97\n"
                       "}\n"
                       "layer sbin /usr/sbin\nlayer etc /etc\nlayer run '"
                       + QFile::encodeName(runDir) + "'\n"
                       "mount --bind \"$W/fixture/partitions\" /proc/partitions || exit 97\n"
                       // The namespace's one link: traffic sent to 10.9.0.2 leaves by
                       // vkv0 and arrives at vkv1.
                       "{ ip link add vkv0 type veth peer name vkv1 && ip link set vkv0 up && ip link set vkv1 up\n"
                       "  ip addr add 10.9.0.1/24 dev vkv0 && ip neigh replace 10.9.0.2 lladdr 02:00:00:00:00:02 dev vkv0\n"
                       "} >\"$W/link.log\" 2>&1 || : > \"$W/nolink\"\n"
                       "exec '" + QFile::encodeName(vkpanel) + "'\n";
    writeFile(w + "/setup.sh", setup, true);

    TChildren children;
    children.xserver.setProgram(QStringLiteral("Xvfb"));
    children.xserver.setArguments({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                                   "tcp", "-noreset"});
    children.xserver.setProcessChannelMode(QProcess::SeparateChannels);
    children.xserver.start();
    QVERIFY2(children.xserver.waitForStarted(10000), "Xvfb does not start");
    QElapsedTimer clock;
    clock.start();
    QByteArray displayNo;
    while (!displayNo.contains('\n') && clock.elapsed() < 20000
           && children.xserver.state() == QProcess::Running) {
        children.xserver.waitForReadyRead(500);
        displayNo += children.xserver.readAllStandardOutput();
    }
    QVERIFY2(displayNo.contains('\n'),
             qPrintable("Xvfb gave no display: " + children.xserver.readAllStandardError()));
    const QString display = QLatin1Char(':') + QString::fromLatin1(displayNo.trimmed());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    QProcessEnvironment consoleEnv = env;
    consoleEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    consoleEnv.insert(QStringLiteral("PATH"), w + QStringLiteral("/bin:/usr/sbin:/usr/bin:/sbin:/bin"));
    consoleEnv.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    consoleEnv.insert(QStringLiteral("XDG_RUNTIME_DIR"), w + QStringLiteral("/xdg"));
    children.console.setProcessEnvironment(consoleEnv);
    children.console.setProcessChannelMode(QProcess::MergedChannels);
    children.console.start(QStringLiteral("unshare"),
                           {"-m", "-n", "--propagation", "private", "/bin/sh", w + "/setup.sh"});
    QVERIFY2(children.console.waitForStarted(10000), "unshare does not start");

    TWindow win;
    QByteArray tree;
    clock.restart();
    while (!findWindow(env, QString::fromLatin1(kTitle), win, &tree)) {
        if (children.console.state() != QProcess::Running) {
            const QByteArray out = children.console.readAll();
            if (children.console.exitCode() == 97)
                QSKIP(qPrintable("the fixture mounts cannot be made here: " + out));
            QFAIL(qPrintable("vkpanel ended early (" + QByteArray::number(children.console.exitCode())
                             + "): " + out));
        }
        if (clock.elapsed() > 30000)
            QFAIL(qPrintable("no window \"" + QByteArray(kTitle) + "\" appeared; windows:\n" + tree
                             + "\nvkpanel said:\n" + children.console.readAll()));
        QThread::msleep(200);
    }
    QCOMPARE(win.width, 600);
    QCOMPARE(win.height, 380);

    // The service page first, then its Fyr Me start button.
    QVERIFY(click(env, win.x + kNavX, win.y + navY(kServiceRow)));
    QThread::msleep(500);   // lets the page switch settle before the next click
    QVERIFY(click(env, win.x + kFyrStartX, win.y + kFyrStartY));

    clock.restart();
    while (!readFile(calls).contains("/usr/sbin/fyr start") && clock.elapsed() < 20000)
        QThread::msleep(100);
    QVERIFY2(readFile(calls).contains("/usr/sbin/fyr start"),
             qPrintable("the stand-in recorded: " + readFile(calls) + "\nvkpanel said:\n"
                        + children.console.readAll()));
    // Only the start button was pressed.
    const QList<QByteArray> lines = readFile(calls).trimmed().split('\n');
    QCOMPARE(lines, QList<QByteArray>{"/usr/sbin/fyr start"});
    QVERIFY(children.console.state() == QProcess::Running);

    // The traffic monitor: the network page, its monitor button, OK on the
    // speed dialog (100Mbit/s chosen), then a window whose graphs show what
    // is sent over the virtual link.
    const bool link = !QFileInfo::exists(w + "/nolink");
    QVERIFY(click(env, win.x + kNavX, win.y + navY(0)));
    QThread::msleep(500);
    QVERIFY(click(env, win.x + kNicMonX, win.y + kNicMonY));
    TWindow speed;
    clock.restart();
    while (!findWindow(env, QStringLiteral("Select Speed"), speed, &tree)) {
        if (clock.elapsed() > 15000)
            QFAIL(qPrintable("no speed dialog appeared; windows:\n" + tree));
        QThread::msleep(200);
    }
    QThread::msleep(300);
    QVERIFY(click(env, speed.x + kSpeedOkX, speed.y + kSpeedOkY));
    TWindow monitor;
    clock.restart();
    while (!findWindow(env, QStringLiteral("Network Traffic Watch - 100Mbit/s"), monitor, &tree)) {
        if (clock.elapsed() > 15000)
            QFAIL(qPrintable("no monitor window appeared; windows:\n" + tree));
        QThread::msleep(200);
    }
    QCOMPARE(monitor.width, 620);
    QCOMPARE(monitor.height, 440);
    if (!link)
        QSKIP(qPrintable("the service path passed; no virtual link can be made here for the monitor: "
                         + readFile(w + "/link.log")));

    // About 4 MB/s for three ticks: bars a third of a graph high, green for
    // what vkv0 sends, red for what vkv1 receives.
    const int sock = socketIn(children.console.processId());
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
            QVERIFY(countColours(display, monitor, {0x00FF00, 0xFF0000}, counts));
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

    stopProcess(children.console);
    // The fixtures lived in the namespace only.
    QCOMPARE(QFileInfo::exists(QStringLiteral("/usr/sbin/fyr")), fyrExisted);
    QCOMPARE(QFileInfo::exists(QStringLiteral("/etc/velkora")), velkoraEtcExisted);
}

QTEST_GUILESS_MAIN(TestE2EConsole)
#include "tst_e2e_console.moc"
