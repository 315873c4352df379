// The configuration tool's disks tab on real devices: the real vkhostset on
// an X server of its own, in a private mount namespace whose /dev is a
// tmpfs holding two loop devices as /dev/sdb and /dev/sdb1 (the disk image,
// and the same image from its first partition's start), whose
// /proc/partitions lists sdb alone and whose /etc is an overlay of
// fixtures. The tool partitions the disk with the real sfdisk, formats the
// partition with the real mkfs.xfs, tries the real mount (which this kernel
// refuses, so nothing is recorded), mounts through a stand-in that drops the
// refused option and runs the real mount, which records the mount and edits
// the fixture fstab, and unmounts with the real umount; mdadm is a recording
// stand-in, as this kernel has no software RAID. The tool writes its files
// just after the command window closes: each is waited for.
#include "hostmain_fixture.h"
#include "testutil_x11.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
const char kTitle[] = "Velkora系统配置工具 - Velkora System Configuration";
// A little over 1 TiB: with less, the fixed allocation-group size makes one
// group, which current mkfs.xfs refuses. Sparse, so only what mkfs.xfs
// writes takes room (about 130 MB).
constexpr qint64 kDiskBytes = 1126LL << 30;
constexpr qint64 kPartStart = 1LL << 20;   // where sfdisk puts the one partition
constexpr int kCmdWidth = 640, kCmdHeight = 420;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray readAt(const QString &path, qint64 offset, int size)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return {};
    return f.read(size);
}

quint32 bigEndian32(const QByteArray &b, int at)
{
    return quint32(uchar(b[at])) << 24 | quint32(uchar(b[at + 1])) << 16 | quint32(uchar(b[at + 2])) << 8
           | quint32(uchar(b[at + 3]));
}

// Loop devices for the test. Each is held open and detached at once: the
// kernel frees it when the last user closes it, so none outlives the test,
// however the test ends.
class TLoops {
public:
    ~TLoops()
    {
        for (int fd : FFds)
            ::close(fd);
    }
    // The loop device now showing the image from offset, or empty.
    QString attach(const QString &image, qint64 offset)
    {
        int rc = -1;
        const QString dev = QString::fromLocal8Bit(
            RunProgram(QStringLiteral("losetup"), {"-f", "--show", "-o", QString::number(offset), image},
                       QProcessEnvironment::systemEnvironment(), &rc)
                .trimmed());
        if (rc != 0 || !dev.startsWith(QLatin1String("/dev/loop")))
            return {};
        const int fd = ::open(QFile::encodeName(dev).constData(), O_RDONLY | O_CLOEXEC);
        RunProgram(QStringLiteral("losetup"), {"-d", dev});
        if (fd < 0)
            return {};
        FFds << fd;
        return dev;
    }

private:
    QList<int> FFds;
};

QByteArray nodeNumbers(const QString &dev)
{
    struct stat st {};
    if (::stat(QFile::encodeName(dev).constData(), &st) != 0)
        return {};
    return QByteArray::number(major(st.st_rdev)) + ' ' + QByteArray::number(minor(st.st_rdev));
}

// Where the disks tab's page and its tab sit in the main window, measured
// on the window itself.
struct TLayout {
    QPoint page, disksTab;
};
TLayout measureLayout()
{
    HostScratch scratch;
    const auto w = scratch.open();
    w->show();
    auto *pages = part<QTabWidget>(*w, "PageControl1");
    QWidget *disks = part(*w, "tsDisks");
    pages->setCurrentWidget(disks);
    QCoreApplication::processEvents();
    QTabBar *tabs = pages->tabBar();
    return {disks->mapTo(w.get(), QPoint()), tabs->mapTo(w.get(), tabs->tabRect(pages->indexOf(disks)).center())};
}
} // namespace

class TestE2EHostsetDisks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void partitionFormatMountUnmount();
};

void TestE2EHostsetDisks::partitionFormatMountUnmount()
{
    const QString unavailable = EndToEndUnavailable(
        {"unshare", "losetup", "sfdisk", "mkfs.xfs", "mount", "umount", "Xvfb", "xdotool"});
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    const QString vkhostset = QStringLiteral(TEST_BINARY_DIR "/hostset/vkhostset");
    QVERIFY2(QFileInfo(vkhostset).isExecutable(), qPrintable(vkhostset + " is not built"));

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString w = work.path();
    const QString image = w + QStringLiteral("/disk.img");
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(kDiskBytes));
    }
    TLoops loops;
    const QString diskLoop = loops.attach(image, 0);
    const QString partLoop = diskLoop.isEmpty() ? QString() : loops.attach(image, kPartStart);
    if (partLoop.isEmpty())
        QSKIP("no free loop devices here");

    // The namespace has a /tmp of its own (the tool's sfdisk script goes
    // there), holding the mount point and the mdadm stand-in.
    const QByteArray data = "/tmp/data";
    QDir().mkpath(w + "/tmp/data");
    const QByteArray fstab = "# static file system information\n"
                             "UUID=1234 / ext4 errors=remount-ro 0 1\n"
                             "/dev/sdb1 /old xfs defaults 0 0\n"
                             "/dev/sdb1\t/data\txfs\tdefaults\t0 0\n"
                             "#x /tmp/data\n"
                             "/dev/sdc1 /tmp/data ext3 defaults 1 2\n"
                             "proc /proc proc defaults 0 0\n";
    writeFile(w + "/fixture/etc/fstab", fstab);
    writeFile(w + "/fixture/etc/orvix/version", "3.1\n");
    writeFile(w + "/fixture/partitions",
              "major minor  #blocks  name\n\n   8       16 " + QByteArray::number(kDiskBytes / 1024) + " sdb\n");
    writeFile(w + "/tmp/bin/mdadm", "#!/bin/sh\necho \"$*\" >> /tmp/mdadm.calls\n", true);
    // The program runs from the namespace's own /tmp: a build directory
    // below the real /tmp would be hidden there.
    QVERIFY(QFile::copy(vkhostset, w + "/tmp/bin/vkhostset"));
    QDir().mkpath(w + "/ns");
    QDir().mkpath(w + "/tmp/xdg");
    QFile::setPermissions(w + "/tmp/xdg", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // Inside the namespace: /etc becomes an overlay whose upper layer holds
    // the fixtures, /dev a tmpfs with the basic nodes and the two disks.
    const QByteArray setup = OverlayScriptHead(w) + "layer etc /etc\n"
                             "mount -t tmpfs -o mode=755 tmpfs /dev || exit 97\n"
                             "mknod -m 666 /dev/null c 1 3 && mknod -m 666 /dev/zero c 1 5 &&"
                             " mknod -m 666 /dev/full c 1 7 && mknod -m 666 /dev/random c 1 8 &&"
                             " mknod -m 666 /dev/urandom c 1 9 && mknod -m 666 /dev/tty c 5 0 || exit 97\n"
                             "ln -s /proc/self/fd /dev/fd && mkdir /dev/pts /dev/shm || exit 97\n"
                             "mknod -m 660 /dev/sdb b " + nodeNumbers(diskLoop) + " || exit 97\n"
                             "mknod -m 660 /dev/sdb1 b " + nodeNumbers(partLoop) + " || exit 97\n"
                             "mount --bind \"$W/fixture/partitions\" /proc/partitions || exit 97\n"
                             "mount --bind \"$W/tmp\" /tmp || exit 97\n"
                             "exec /tmp/bin/vkhostset\n";
    writeFile(w + "/setup.sh", setup, true);

    const TLayout layout = measureLayout();
    TXSession x;
    QString xError;
    QVERIFY2(x.start(xError), qPrintable(xError));
    QProcess tool;
    struct TStop {
        QProcess &P;
        ~TStop() { StopProcess(P); }
    } stopTool{tool};
    // The namespace's own /tmp holds the stand-ins and the runtime directory.
    x.startInNamespace(tool, w + "/setup.sh", QStringLiteral("/tmp"));
    QVERIFY2(tool.waitForStarted(10000), "unshare does not start");
    const qint64 pid = tool.processId();   // unshare, sh and vkhostset in turn
    const QString inside = QStringLiteral("/proc/%1/root").arg(pid);
    auto said = [&] { return QString::fromLocal8Bit(tool.readAll()); };

    TXSession::TWindow main;
    QElapsedTimer clock;
    clock.start();
    while (!x.findWindow(QString::fromUtf8(kTitle), main)) {
        if (tool.state() != QProcess::Running) {
            if (tool.exitCode() == 97)
                QSKIP(qPrintable(QStringLiteral("the fixture mounts cannot be made here: ") + said()));
            QFAIL(qPrintable(QStringLiteral("vkhostset ended early: ") + said()));
        }
        if (clock.elapsed() > 30000)
            QFAIL(qPrintable(QStringLiteral("no main window appeared; vkhostset said:\n") + said()));
        QThread::msleep(200);
    }

    auto pageClick = [&](int px, int py) { return x.click(main.X + layout.page.x() + px, main.Y + layout.page.y() + py); };
    // The window other than the main one that appears next.
    auto waitDialog = [&](TXSession::TWindow &dlg, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            for (const TXSession::TWindow &win : x.windowsOf(pid))
                if (win.Id != main.Id) {
                    dlg = win;
                    return true;
                }
            QThread::msleep(100);
        }
        return false;
    };
    auto gone = [&](const TXSession::TWindow &dlg) {
        for (const TXSession::TWindow &win : x.windowsOf(pid))
            if (win.Id == dlg.Id)
                return false;
        return true;
    };
    // A question box: answered by its default button, Yes.
    auto answerYes = [&] {
        TXSession::TWindow dlg;
        if (!waitDialog(dlg, 10000) || dlg.Width == kCmdWidth)
            return false;
        x.keys({"Return"}, dlg.Id);
        QElapsedTimer t;
        t.start();
        while (!gone(dlg) && t.elapsed() < 5000)
            QThread::msleep(100);
        return gone(dlg);
    };
    // The command window: OK is pressed once its command has ended (it
    // starts 300 ms after the window shows; then the tool has no child left),
    // and again should a click go astray.
    auto closeCommandWindow = [&] {
        TXSession::TWindow dlg;
        if (!waitDialog(dlg, 10000) || dlg.Width != kCmdWidth || dlg.Height != kCmdHeight)
            return false;
        QThread::msleep(1500);
        QElapsedTimer t;
        t.start();
        const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(pid);
        while (!readFile(children).trimmed().isEmpty() && t.elapsed() < 120000)
            QThread::msleep(100);
        while (!gone(dlg) && t.elapsed() < 120000) {
            QThread::msleep(500);
            x.click(dlg.X + 547 + 37, dlg.Y + 386 + 12);
            QThread::msleep(500);
        }
        return gone(dlg);
    };
    // Row n of the tree (0: the disk, 1: its partition) becomes the selection.
    auto selectRow = [&](int n) {
        pageClick(200, 340);   // below the rows: focus, no selection change
        QStringList keys{"Home"};
        for (int i = 0; i < n; ++i)
            keys << QStringLiteral("Down");
        return x.keys(keys, main.Id);
    };
    const QString failInfo = QStringLiteral("\nvkhostset said:\n");

    // The disks tab, then the empty disk: a data partition over all of it.
    QVERIFY(x.click(main.X + layout.disksTab.x(), main.Y + layout.disksTab.y()));
    QThread::msleep(300);
    QVERIFY(selectRow(0));
    QVERIFY(pageClick(106 + 37, 368 + 12));
    QThread::msleep(300);
    QVERIFY(x.keys({"Down", "Return"}));
    QVERIFY2(answerYes(), qPrintable(failInfo + said()));   // partitioning erases all data
    QVERIFY2(closeCommandWindow(), qPrintable(failInfo + said()));
    const QByteArray mbr = readAt(image, 0, 512);
    QCOMPARE(mbr.mid(510, 2), QByteArray("\x55\xAA"));
    QCOMPARE(uchar(mbr[446 + 4]), uchar(0x83));
    QCOMPARE(mbr.mid(446 + 8, 4), QByteArray("\x00\x08\x00\x00", 4));   // first sector 2048
    QVERIFY(waitFor([&] { return !QFileInfo::exists(inside + "/tmp/parttable"); }, 10000));

    // The new partition: formatted with the exact command.
    QVERIFY(selectRow(1));
    QVERIFY(pageClick(196 + 37, 368 + 12));
    QVERIFY2(answerYes(), qPrintable(failInfo + said()));   // formatting erases all data
    QVERIFY2(closeCommandWindow(), qPrintable(failInfo + said()));
    const QByteArray sb = readAt(image, kPartStart, 512);
    QCOMPARE(sb.left(4), QByteArray("XFSB"));
    QCOMPARE(bigEndian32(sb, 84), quint32(268435184));   // allocation-group blocks

    // An /etc/fstab that cannot be read (a directory in its place): its
    // error shows before anything runs, so no mount is made that could not
    // be recorded, and nothing is recorded.
    const QString fstabInside = inside + QStringLiteral("/etc/fstab");
    QVERIFY(QFile::remove(fstabInside) && QDir().mkdir(fstabInside));
    writeFile(w + "/tmp/bin/mount", "#!/bin/sh\necho \"$*\" >> /tmp/mount.calls\n", true);
    QVERIFY(selectRow(1));
    QVERIFY(pageClick(286 + 37, 368 + 12));
    {
        TXSession::TWindow input, box;
        QVERIFY2(waitDialog(input, 10000), qPrintable(failInfo + said()));
        QVERIFY(x.keys({"ctrl+a"}, input.Id) && x.type(QString::fromLatin1(data)) && x.keys({"Return"}));
        QVERIFY(waitFor([&] { return gone(input); }, 5000));
        QVERIFY2(waitDialog(box, 10000), qPrintable(failInfo + said()));
        QVERIFY2(box.Width != kCmdWidth || box.Height != kCmdHeight, "a command window came instead of the error");
        QThread::msleep(300);
        QVERIFY(x.keys({"Return"}, box.Id));
        QVERIFY(waitFor([&] { return gone(box); }, 5000));
    }
    QThread::msleep(500);
    QVERIFY(!QFileInfo::exists(w + "/tmp/mount.calls"));
    QVERIFY(!QFileInfo::exists(inside + "/etc/velkora/mount.conf"));
    QVERIFY(QDir().rmdir(fstabInside));
    writeFile(fstabInside, fstab);
    QVERIFY(QFile::remove(w + "/tmp/bin/mount"));

    // Mounted on the data directory: this kernel refuses "nobarrier", and a
    // failed mount leaves mount.conf and fstab as they were.
    auto typeMountPoint = [&] {
        TXSession::TWindow input;
        return waitDialog(input, 10000) && x.keys({"ctrl+a"}, input.Id) && x.type(QString::fromLatin1(data))
               && x.keys({"Return"});
    };
    QVERIFY(selectRow(1));
    QVERIFY(pageClick(286 + 37, 368 + 12));
    QVERIFY2(typeMountPoint(), qPrintable(failInfo + said()));
    QVERIFY2(closeCommandWindow(), qPrintable(failInfo + said()));
    QVERIFY(!readFile(QStringLiteral("/proc/%1/mounts").arg(pid)).contains("/dev/sdb1"));

    // The same through a mount that drops the refused option: mounted,
    // recorded, fstab edited, and the rebuilt tree offers the unmount. The
    // tool has long finished with the failed mount when it asks again.
    writeFile(w + "/tmp/bin/mount",
              "#!/bin/sh\nPATH=/usr/sbin:/usr/bin:/sbin:/bin exec mount \"$1\" \"$(echo \"$2\" | sed s/nobarrier,//)\" \"$3\" \"$4\"\n",
              true);
    QVERIFY(selectRow(1));
    QVERIFY(pageClick(286 + 37, 368 + 12));
    QVERIFY2(typeMountPoint(), qPrintable(failInfo + said()));
    QVERIFY(!QFileInfo::exists(inside + "/etc/velkora/mount.conf"));
    QCOMPARE(readFile(inside + "/etc/fstab"), fstab);
    QVERIFY2(closeCommandWindow(), qPrintable(failInfo + said()));
    const QByteArray recorded = "/dev/sdb1=" + data + " xfs noatime,nobarrier,logbufs=8,logbsize=256k\n";
    QVERIFY2(waitFor([&] { return readFile(inside + "/etc/velkora/mount.conf") == recorded; }, 10000),
             qPrintable(failInfo + said()));
    const QByteArray edited = "# static file system information\n"
                              "UUID=1234 / ext4 errors=remount-ro 0 1\n"
                              "/dev/sdb1\t/data\txfs\tdefaults\t0 0\n"
                              "proc /proc proc defaults 0 0\n";
    QVERIFY(waitFor([&] { return readFile(inside + "/etc/fstab") == edited; }, 10000));
    QVERIFY(readFile(QStringLiteral("/proc/%1/mounts").arg(pid)).contains("/dev/sdb1 " + data));
    // (The tool rebuilds the tree before it reads these keys.)
    QVERIFY(selectRow(1));
    QVERIFY(pageClick(376 + 37, 368 + 12));
    QVERIFY2(closeCommandWindow(), qPrintable(failInfo + said()));
    QVERIFY(!readFile(QStringLiteral("/proc/%1/mounts").arg(pid)).contains("/dev/sdb1"));
    QVERIFY(waitFor([&] { return readFile(inside + "/etc/velkora/mount.conf").isEmpty(); }, 10000));

    // An array of the one partition: the stand-in is called, md.conf records it.
    QVERIFY(selectRow(1));
    QVERIFY(pageClick(428 + 12, 70 + 12));
    QVERIFY(pageClick(458 + 90, 170 + 10));   // the list opens on its first entry
    QThread::msleep(300);
    QVERIFY(x.keys({"Return"}));
    QThread::msleep(300);
    QVERIFY(pageClick(458 + 90, 256 + 12));
    QVERIFY2(closeCommandWindow(), qPrintable(failInfo + said()));
    QVERIFY(waitFor([&] { return readFile(w + "/tmp/mdadm.calls") == "-C /dev/md0 -l 0 -fn 1 -c 64 /dev/sdb1\n"; }, 10000));
    QVERIFY(waitFor([&] { return readFile(inside + "/etc/velkora/md.conf") == "md[0]=\"/dev/sdb1\"\n"; }, 10000));

    QVERIFY(tool.state() == QProcess::Running);
}

QTEST_MAIN(TestE2EHostsetDisks)
#include "tst_e2e_hostset_disks.moc"
