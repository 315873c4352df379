// What the disks tab runs and writes: partitioning, arrays, formatting,
// mounts. Every command runs through the shell against recording stand-ins;
// the files it keeps are compared byte for byte.
#include "hostdisks_fixture.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QScopeGuard>

#include <iterator>

#include <fcntl.h>
#include <csignal>
#include <sched.h>
#include <sys/resource.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// A private mount namespace for the whole process, made while it still has
// one thread: the failure tests mount small file systems in the scratch root.
const bool g_privateMounts = [] {
    return geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
           && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}();

const QByteArray kOpts = "noatime,nobarrier,logbufs=8,logbsize=256k";

// The scratch server with a stand-in for every command the tab runs: no
// test can reach a real disk.
struct TDiskOps : HostScratch {
    QString dir;
    TDiskOps()
    {
        dir = tools.dir();
        const QByteArray d = QFile::encodeName(dir);
        tools.addScript(QStringLiteral("sfdisk"), "echo \"$*\" >> '" + d + "/sfdisk.calls'\nstat -L -c %a /dev/stdin > '" + d + "/sfdisk.mode'\n"
                                                 "cat > '" + d + "/sfdisk.stdin'\n");
        tools.addScript(QStringLiteral("mount"), "printf '%s|' \"$#\" \"$@\" >> '" + d + "/mount.calls'\n");
        for (const char *name : {"mdadm", "mkfs.xfs", "umount"})
            tools.addRecorder(QString::fromLatin1(name));
        writeDisks(*this, {{QStringLiteral("sda"), 64LL << 20, {{0x83, 2048, 8192}, {0x83, 10240, 8192}, {0x05, 18432, 16384}}},
                           {QStringLiteral("sdb"), 64LL << 20, {{0x83, 2048, 8192}}},
                           {QStringLiteral("sdc"), 64LL << 20, {}},
                           {QStringLiteral("md0"), 200LL << 30, {}},
                           {QStringLiteral("md1"), 64LL << 20, {{0x83, 2048, 8192}}}});
        mtab("/dev/sda1 /a xfs rw 0 0\n");
        root.mkdir(QStringLiteral("/tmp"));
    }
    QStringList commands() const
    {
        QStringList c;
        for (const TRunRecord &r : runs)
            c << r.Command;
        return c;
    }
    QByteArray file(const QString &name) const
    {
        QFile f(dir + QLatin1Char('/') + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Selects dev and clicks the named button or menu item; a sentinel in the
    // member list tells whether the tree was rebuilt (a rebuild empties it).
    void act(const TfmMain &w, const QString &dev, const char *control) const
    {
        selectNode(w, dev);
        part<QListWidget>(w, "lbDev")->addItem(QStringLiteral("sentinel"));
        if (auto *action = w.findChild<QAction *>(QLatin1String(control)))
            action->trigger();
        else
            part<QAbstractButton>(w, control)->click();
        QCoreApplication::processEvents();
    }
    bool rebuilt(const TfmMain &w) const { return part<QListWidget>(w, "lbDev")->count() == 0; }
};

// mount.conf, md.conf and /etc/fstab as the status rows start them.
QByteArrayList initialFiles()
{
    return {"/dev/sda1=/a xfs " + kOpts + "\nx=1\n", "md[0]=\"/dev/sda1\"\nmd[1]=\"/dev/sdb1\"\n",
            "/dev/sdb1 /old xfs defaults 0 0\nUUID=1 / ext4 defaults 0 1\n"};
}

} // namespace

class TestHostMainDiskOps : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void partitioning_data()
    {
        QTest::addColumn<QString>("dev");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QString>("command");   // without the scratch root; empty: none
        const QString whole = QStringLiteral("分区将清除所有的数据，确定要继续吗？");
        const QString exists = QStringLiteral("这个磁盘已经存在分区了，确定要重新分区吗？");
        const QString change = QStringLiteral("重新设定分区类型可能会丢失数据，确定要继续吗？");
        QTest::newRow("empty disk: one question") << "/dev/sdc" << "miPartData" << QList<int>{mrYes}
                                                  << QStringList{whole} << "sfdisk -q /dev/sdc < /tmp/parttable";
        QTest::newRow("No: nothing") << "/dev/sdc" << "miPartData" << QList<int>{mrNo} << QStringList{whole} << "";
        QTest::newRow("partitions: asked first") << "/dev/sdb" << "miPartMd" << QList<int>{mrYes, mrYes}
                                                 << QStringList{exists, whole} << "sfdisk -q /dev/sdb < /tmp/parttable";
        QTest::newRow("partitions, No") << "/dev/sdb" << "miPartMd" << QList<int>{mrNo} << QStringList{exists} << "";
        QTest::newRow("mounted partition: refused")
            << "/dev/sda" << "miPartData" << QList<int>{mrYes}
            << QStringList{exists, QStringLiteral("磁盘\"/dev/sda\"已经有分区被挂载，不能分区")} << "";
        QTest::newRow("type, beside a mounted one") << "/dev/sda2" << "miPartMd" << QList<int>{mrYes}
                                                    << QStringList{change} << "sfdisk -c /dev/sda 2 fd";
        QTest::newRow("type of a logical partition") << "/dev/sda5" << "miPartData" << QList<int>{mrYes}
                                                     << QStringList{change} << "sfdisk -c /dev/sda 5 83";
        QTest::newRow("type, mounted: refused") << "/dev/sda1" << "miPartData" << QList<int>{}
                                                << QStringList{QStringLiteral("磁盘\"/dev/sda1\"已经有分区被挂载，不能分区")}
                                                << "";
        QTest::newRow("type, No") << "/dev/sda2" << "miPartData" << QList<int>{mrNo} << QStringList{change} << "";
    }
    void partitioning()
    {
        QFETCH(QString, dev);
        QFETCH(QString, item);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, asked);
        QFETCH(QString, command);
        TDiskOps s;
        const auto w = s.open();
        for (int a : answers)
            s.dialogs.answer(a);
        s.act(*w, dev, qPrintable(item));
        QCOMPARE(s.dialogs.texts(), asked);
        const QString parttable = s.root.path(QStringLiteral("/tmp/parttable"));
        QCOMPARE(s.commands(),
                 command.isEmpty() ? QStringList() : QStringList{QString(command).replace(QLatin1String("/tmp/parttable"), parttable) + " 2>&1"});
        if (command.startsWith(QLatin1String("sfdisk -q"))) {
            QCOMPARE(s.file(QStringLiteral("sfdisk.stdin")), item == QLatin1String("miPartMd") ? QByteArray(",,fd\n") : QByteArray(",,83\n"));
            QCOMPARE(s.file(QStringLiteral("sfdisk.mode")), QByteArray("600\n"));   // no one else reads it
        }
        QVERIFY(!QFileInfo::exists(parttable));
        QCOMPARE(s.rebuilt(*w), !command.isEmpty());
    }

    void partTableIsMadeAfresh()
    {
        TDiskOps s;
        s.root.write(QStringLiteral("/etc/victim"), "victim\n");
        QVERIFY(QFile::link(s.root.path(QStringLiteral("/etc/victim")), s.root.path(QStringLiteral("/tmp/parttable"))));
        const auto w = s.open();
        // The script's path reaches the shell as one word, whatever the root it lies under.
        QVERIFY(QFile::link(QStringLiteral("."), s.root.path(QStringLiteral("/odd root;$x"))));
        SetSystemRootForTesting(s.root.path(QStringLiteral("/odd root;$x")));
        s.act(*w, QStringLiteral("/dev/sdc"), "miPartData");
        SetSystemRootForTesting(s.root.root());
        QCOMPARE(s.file(QStringLiteral("sfdisk.stdin")), QByteArray(",,83\n"));
        QCOMPARE(s.root.read(QStringLiteral("/etc/victim")), QByteArray("victim\n"));
        QVERIFY(!QFileInfo(s.root.path(QStringLiteral("/tmp/parttable"))).isSymLink());

        // What cannot be removed stops the partitioning before anything runs.
        s.root.mkdir(QStringLiteral("/tmp/parttable"));
        s.runs.clear();
        s.dialogs.clear();
        s.act(*w, QStringLiteral("/dev/sdc"), "miPartData");
        QCOMPARE(s.dialogs.texts().last(), QStringLiteral("Cannot create file \"%1\". Is a directory")
                                               .arg(s.root.path(QStringLiteral("/tmp/parttable"))));
        QVERIFY(s.runs.isEmpty() && !s.rebuilt(*w));
    }

    void arrays_data()
    {
        QTest::addColumn<QStringList>("members");   // added in this order
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("array");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("one member") << QStringList{"/dev/sdb1"} << 1 << 1 << 3 << QByteArray()
                                    << "yes | mdadm -C /dev/md3 -l 1 -fn 1 -c 32 /dev/sdb1"
                                    << QByteArray("md[3]=\"/dev/sdb1\"\n");
        QTest::newRow("several, twice one, a whole disk")
            << QStringList{"/dev/sda1", "/dev/sdb1", "/dev/sda1", "/dev/sdc"} << 2 << 3 << 1 << QByteArray("x=1\n")
            << "yes | mdadm -C /dev/md1 -l 5 -n 3 -c 128 /dev/sda1 /dev/sdb1 /dev/sdc"
            << QByteArray("x=1\nmd[1]=\"/dev/sda1 /dev/sdb1 /dev/sdc\"\n");
        QTest::newRow("two members") << QStringList{"/dev/sdb1", "/dev/sdc"} << 2 << 2 << 4 << QByteArray()
                                     << "yes | mdadm -C /dev/md4 -l 5 -n 2 -c 64 /dev/sdb1 /dev/sdc"
                                     << QByteArray("md[4]=\"/dev/sdb1 /dev/sdc\"\n");
        QTest::newRow("arrays are no members; key replaced in place")
            << QStringList{"/dev/md0", "/dev/md1p1", "/dev/sda2"} << 0 << 2 << 12
            << QByteArray("a=1\nMD[12]=\"old\"\nb=2\n") << "yes | mdadm -C /dev/md12 -l 0 -fn 1 -c 64 /dev/sda2"
            << QByteArray("a=1\nmd[12]=\"/dev/sda2\"\nb=2\n");
    }
    void arrays()
    {
        QFETCH(QStringList, members);
        QFETCH(int, level);
        QFETCH(int, block);
        QFETCH(int, array);
        QFETCH(QByteArray, before);
        QFETCH(QString, command);
        QFETCH(QByteArray, after);
        TDiskOps s;
        if (!before.isEmpty())
            s.root.write(QStringLiteral("/etc/velkora/md.conf"), before);
        const auto w = s.open();
        auto *create = part(*w, "btnMdCreate");
        part<QComboBox>(*w, "cmbRAIDLevel")->setCurrentIndex(level);
        part<QComboBox>(*w, "cmbBlock")->setCurrentIndex(block);
        part<QComboBox>(*w, "cmbMdList")->setCurrentIndex(array);
        QVERIFY(!create->isEnabled());
        for (const QString &m : members) {
            selectNode(*w, m);
            w->btnAddDevClick();
        }
        QVERIFY(create->isEnabled());
        part<QAbstractButton>(*w, "btnMdCreate")->click();
        QCOMPARE(s.commands(), QStringList{command + " 2>&1"});
        QCOMPARE(s.root.read(QStringLiteral("/etc/velkora/md.conf")), after);
        QCOMPARE(part<QListWidget>(*w, "lbDev")->count(), 0);
        QVERIFY(!create->isEnabled());
    }

    void memberListAndArrayStop()
    {
        TDiskOps s;
        s.root.write(QStringLiteral("/etc/velkora/md.conf"), "md[0]=\"/dev/sda1\"\nmd[1]=\"/dev/sdb1\"\n");
        const auto w = s.open();
        auto *list = part<QListWidget>(*w, "lbDev");
        // A member alone is not enough: an array must be chosen too.
        selectNode(*w, QStringLiteral("/dev/sdc"));
        w->btnAddDevClick();
        QVERIFY(!part(*w, "btnMdCreate")->isEnabled());
        part<QComboBox>(*w, "cmbMdList")->setCurrentIndex(0);
        QVERIFY(part(*w, "btnMdCreate")->isEnabled());
        selectNode(*w, QStringLiteral("/dev/sda"));
        w->tvDevDblClick();   // a disk with partitions is not added by a double click
        selectNode(*w, QStringLiteral("/dev/sdc"));
        w->tvDevDblClick();
        QCOMPARE(listTexts(list), QStringList{"/dev/sdc"});
        list->setCurrentRow(0);
        w->lbDevDblClick();
        QVERIFY(list->count() == 0 && !part(*w, "btnMdCreate")->isEnabled());

        s.act(*w, QStringLiteral("/dev/md0"), "btnMdView");
        QVERIFY(!s.rebuilt(*w));
        s.act(*w, QStringLiteral("/dev/md0"), "btnMdDelete");
        QCOMPARE(s.commands(), (QStringList{"mdadm -D /dev/md0 2>&1", "mdadm --stop /dev/md0 2>&1"}));
        QCOMPARE(s.root.read(QStringLiteral("/etc/velkora/md.conf")), QByteArray("md[1]=\"/dev/sdb1\"\n"));
        s.root.remove(QStringLiteral("/etc/velkora/md.conf"));
        s.act(*w, QStringLiteral("/dev/md0"), "btnMdDelete");
        QVERIFY(s.root.exists(QStringLiteral("/etc/velkora/md.conf")) && s.root.read(QStringLiteral("/etc/velkora/md.conf")).isEmpty());
        // The key takes up to three digits: /dev/md127 is array 127, not 12.
        writeDisks(s, {{QStringLiteral("md127"), 64LL << 20, {}}});
        s.root.write(QStringLiteral("/etc/velkora/md.conf"), "md[12]=\"/dev/sdb1\"\nmd[127]=\"/dev/sdc\"\n");
        w->RefreshDiskTree();
        s.act(*w, QStringLiteral("/dev/md127"), "btnMdDelete");
        QCOMPARE(s.root.read(QStringLiteral("/etc/velkora/md.conf")), QByteArray("md[12]=\"/dev/sdb1\"\n"));
    }

    // The member list's remove button takes the selected row, not the one
    // the keyboard focus stands on; with nothing selected (the list tabbed
    // into) it takes none.
    void memberRemovalTakesTheSelectedRow_data()
    {
        QTest::addColumn<int>("selected");   // -1: none
        QTest::addColumn<int>("focused");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("focus on the selected row") << 1 << 1 << QStringList{"/dev/sdb1", "/dev/sda2"};
        QTest::newRow("focus on a later row") << 0 << 2 << QStringList{"/dev/sdc", "/dev/sda2"};
        QTest::newRow("focus on an earlier row") << 2 << 0 << QStringList{"/dev/sdb1", "/dev/sdc"};
        QTest::newRow("focus, nothing selected") << -1 << 1 << QStringList{"/dev/sdb1", "/dev/sdc", "/dev/sda2"};
    }
    void memberRemovalTakesTheSelectedRow()
    {
        QFETCH(int, selected);
        QFETCH(int, focused);
        QFETCH(QStringList, left);
        TDiskOps s;
        const auto w = s.open();
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        auto *list = part<QListWidget>(*w, "lbDev");
        for (const char *dev : {"/dev/sdb1", "/dev/sdc", "/dev/sda2"}) {
            selectNode(*w, QString::fromLatin1(dev));
            w->btnAddDevClick();
        }
        QCOMPARE(listTexts(list), (QStringList{"/dev/sdb1", "/dev/sdc", "/dev/sda2"}));
        list->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        if (selected >= 0)
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(selected)).center());
        list->setCurrentRow(focused, QItemSelectionModel::NoUpdate);
        QCOMPARE(list->currentRow(), focused);
        QCOMPARE(list->selectedItems().size(), selected >= 0 ? 1 : 0);
        if (selected >= 0)
            QVERIFY(list->item(selected)->isSelected());
        part<QAbstractButton>(*w, "btnRmDev")->click();
        QCOMPARE(listTexts(list), left);
    }

    void agSize_data()
    {
        QTest::addColumn<qint64>("bytes");   // (no such device: the format rows of a partition)
        QTest::addColumn<QString>("agsize");
        QTest::newRow("3073 MiB") << (3073LL << 20) << "3072m";
        QTest::newRow("1 TiB") << (1LL << 40) << "1048576m";
        QTest::newRow("1 TiB + 2 MiB") << ((1LL << 40) + (2LL << 20)) << "268435184b";
        QTest::newRow("4 TiB") << (4LL << 40) << "268435184b";
    }
    void agSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, agsize);
        TDiskOps s;
        s.root.write(QStringLiteral("/dev/sdq"), {});
        QVERIFY(QFile(s.root.path(QStringLiteral("/dev/sdq"))).resize(bytes));
        QCOMPARE(s.open()->GetAgSize(QStringLiteral("/dev/sdq")), agsize);
    }

    void format_data()
    {
        QTest::addColumn<QString>("dev");
        QTest::addColumn<QByteArray>("release");   // "-": no release file
        QTest::addColumn<int>("block");
        QTest::addColumn<QByteArray>("mdconf");
        QTest::addColumn<QString>("command");
        const QString lazy = QStringLiteral("mkfs.xfs -f -i size=512 -b size=4096 -l size=128m,lazy-count=1,version=2,sunit=128 -d ");
        const QString plain = QStringLiteral("mkfs.xfs -f -i size=512 -b size=4096 -l size=128m,version=2,sunit=128 -d ");
        const QByteArray three = "md[0]=\"/dev/sda1 /dev/sdb1 /dev/sdc1\"\n";
        QTest::newRow("array of 3, 3.1") << "/dev/md0" << QByteArray("3.1") << 2 << three
                                         << lazy + "agsize=204800m,sunit=128,swidth=384 /dev/md0";
        QTest::newRow("3.0") << "/dev/sdb1" << QByteArray("3.0\n") << 2 << QByteArray() << lazy + "agsize=0m,sunit=128,swidth=128 /dev/sdb1";
        QTest::newRow("4, blanks around") << "/dev/sdb1" << QByteArray(" \t4\n\n") << 2 << three
                                          << lazy + "agsize=0m,sunit=128,swidth=128 /dev/sdb1";
        for (const char *old : {"2.9", "3", "10.0", ""})
            QTest::newRow(qPrintable(QStringLiteral("release \"%1\"").arg(QLatin1String(old))))
                << "/dev/sdb1" << QByteArray(old) << 1 << QByteArray() << plain + "agsize=0m,sunit=64,swidth=64 /dev/sdb1";
        QTest::newRow("no release file") << "/dev/sdb1" << QByteArray("-") << 3 << QByteArray()
                                         << plain + "agsize=0m,sunit=256,swidth=256 /dev/sdb1";
        QTest::newRow("16k, 4 members") << "/dev/md0" << QByteArray("3.1") << 0
                                        << QByteArray("md[0]=\"/dev/sda1 /dev/sdb1 /dev/sdc1 /dev/sdd1\"\n")
                                        << lazy + "agsize=204800m,sunit=32,swidth=128 /dev/md0";
        // A partition of an array is no array: its number is no number.
        QTest::newRow("partition of an array") << "/dev/md1p1" << QByteArray("3.1") << 2 << three
                                               << lazy + "agsize=0m,sunit=128,swidth=128 /dev/md1p1";
        QTest::newRow("hand-written line, trailing blank") << "/dev/md0" << QByteArray("3.1") << 2
                                                           << QByteArray("md[0]=/dev/sda1 /dev/sdb1 \n")
                                                           << lazy + "agsize=204800m,sunit=128,swidth=256 /dev/md0";
        QTest::newRow("array, no array file") << "/dev/md0" << QByteArray("3.1") << 2 << QByteArray()
                                              << lazy + "agsize=204800m,sunit=128,swidth=128 /dev/md0";
        QTest::newRow("array without a line") << "/dev/md0" << QByteArray("3.1") << 2 << QByteArray("md[1]=\"a b\"\nmd[0]=\n")
                                              << lazy + "agsize=204800m,sunit=128,swidth=128 /dev/md0";
    }
    void format()
    {
        QFETCH(QString, dev);
        QFETCH(QByteArray, release);
        QFETCH(int, block);
        QFETCH(QByteArray, mdconf);
        QFETCH(QString, command);
        TDiskOps s;
        if (release != "-")
            s.root.write(QStringLiteral("/etc/orvix/version"), release);
        if (!mdconf.isEmpty())
            s.root.write(QStringLiteral("/etc/velkora/md.conf"), mdconf);
        const auto w = s.open();
        part<QComboBox>(*w, "cmbBlock")->setCurrentIndex(block);
        s.act(*w, dev, "btnFormatDevice");
        QCOMPARE(s.dialogs.texts(), QStringList{QStringLiteral("格式化将清除所有的数据，确定要继续吗？")});
        QCOMPARE(s.commands(), QStringList{command + " 2>&1"});
        QVERIFY(!s.rebuilt(*w));
    }

    void formatRefused()
    {
        TDiskOps s;
        const auto w = s.open();
        selectNode(*w, QStringLiteral("/dev/sda1"));
        w->btnFormatDeviceClick();   // the button is off: a mounted node is refused all the same
        s.dialogs.answer(mrNo);
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnFormatDevice");
        QCOMPARE(s.dialogs.texts(), (QStringList{QStringLiteral("分区\"/dev/sda1\"已经挂载，不能格式化"),
                                                 QStringLiteral("格式化将清除所有的数据，确定要继续吗？")}));
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Error);
        QVERIFY(s.runs.isEmpty());
        // A release file that is there but cannot be read stops the format.
        s.root.mkdir(QStringLiteral("/etc/orvix/version"));
        s.dialogs.answer(mrYes);
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnFormatDevice");
        QCOMPARE(s.dialogs.texts().last(), QStringLiteral("Cannot open file \"%1\". Is a directory")
                                               .arg(s.root.path(QStringLiteral("/etc/orvix/version"))));
        QVERIFY(s.runs.isEmpty());
    }

    void mountAndUnmount()
    {
        TDiskOps s;
        s.root.write(QStringLiteral("/etc/velkora/mount.conf"), "/dev/sda1=/a xfs " + kOpts + "\n/DEV/SDB1=/x xfs o\n");
        // Lines it keeps come back byte for byte, whatever their encoding; CR LF ends become LF.
        s.root.write(QStringLiteral("/etc/fstab.real"), "# caf\xe9 \xff\r\n/dev/sdb1 /old xfs defaults 0 0\n"
                                                        "/dev/sdc1 /data ext3 defaults 1 2\n/dev/sdb1\t/data\txfs\n"
                                                        "#x /data\nUUID=1 / ext4 defaults 0 1");
        QVERIFY(QFile::link(QStringLiteral("fstab.real"), s.root.path(QStringLiteral("/etc/fstab"))));
        const auto w = s.open();
        s.dialogs.answer(mrCancel);
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnMount");
        QVERIFY(s.runs.isEmpty() && !s.rebuilt(*w));

        s.dialogs.answer(mrOk, QStringLiteral("/data"));
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnMount");
        QCOMPARE(s.dialogs.requests().last().Text, QStringLiteral("Mount \"/dev/sdb1\" to..."));
        QCOMPARE(s.dialogs.requests().last().Value, QStringLiteral("/mnt"));
        QCOMPARE(s.commands(), QStringList{"mount -o " + kOpts + " /dev/sdb1 /data 2>&1"});
        QCOMPARE(s.root.read(QStringLiteral("/etc/velkora/mount.conf")),
                 "/dev/sda1=/a xfs " + kOpts + "\n/dev/sdb1=/data xfs " + kOpts + "\n");
        QVERIFY(QFileInfo(s.root.path(QStringLiteral("/etc/fstab"))).isSymLink());
        QCOMPARE(s.root.read(QStringLiteral("/etc/fstab")),
                 QByteArray("# caf\xe9 \xff\n/dev/sdb1\t/data\txfs\nUUID=1 / ext4 defaults 0 1\n"));
        QVERIFY(s.rebuilt(*w));

        s.mtab("/dev/sdb1 /data xfs rw 0 0\n");
        part<QAbstractButton>(*w, "btnDiskRefresh")->click();
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnUmount");
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnUmount");
        QCOMPARE(s.commands().mid(1), (QStringList{"umount /dev/sdb1 2>&1", "umount /dev/sdb1 2>&1"}));
        QCOMPARE(s.root.read(QStringLiteral("/etc/velkora/mount.conf")), "/dev/sda1=/a xfs " + kOpts + "\n");
        s.root.remove(QStringLiteral("/etc/velkora/mount.conf"));
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnUmount");
        QVERIFY(s.root.exists(QStringLiteral("/etc/velkora/mount.conf")));

        // No fstab: its error, before anything runs or is recorded; the tree stays.
        s.root.remove(QStringLiteral("/etc/fstab"));
        s.mtab({});
        w->RefreshDiskTree();
        s.dialogs.answer(mrOk, QStringLiteral("/d"));
        const int ran = s.runs.size();
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnMount");
        QCOMPARE(s.dialogs.texts().last(), QStringLiteral("Cannot open file \"%1\". No such file or directory")
                                               .arg(s.root.path(QStringLiteral("/etc/fstab"))));
        QCOMPARE(s.runs.size(), ran);
        QVERIFY(s.root.exists(QStringLiteral("/etc/velkora/mount.conf")));
        QCOMPARE(s.root.read(QStringLiteral("/etc/velkora/mount.conf")), QByteArray());
        QVERIFY(!s.rebuilt(*w));
    }

    void hostileMountPoints_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("refusal");   // empty: the mount runs
        QTest::newRow("semicolon") << "/mnt; touch MARK" << "";
        QTest::newRow("command substitution") << "/mnt$(touch MARK)" << "";
        QTest::newRow("backquotes") << "/mnt`touch MARK`" << "";
        QTest::newRow("quotes") << "/mnt' ; touch MARK; echo '\"" << "";
        QTest::newRow("blanks") << "/mnt/my data && touch MARK" << "";
        QTest::newRow("a blank alone") << "/mnt/my data" << "";   // one word all the same
        const QString lineBreak = QStringLiteral("The mount point must not contain a line break");
        const QString empty = QStringLiteral("The mount point must not be empty");
        QTest::newRow("line break") << "/mnt\ntouch MARK" << lineBreak;
        QTest::newRow("carriage return") << "/mnt\rtouch MARK" << lineBreak;   // read back, CR ends a line too
        QTest::newRow("empty") << "" << empty;
        QTest::newRow("blanks only") << "  " << empty;
        QTest::newRow("tab only") << "\t" << empty;
    }
    void hostileMountPoints()
    {
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        TDiskOps s;
        // Lines without a second blank-separated field: an empty mount point matched them all.
        const QByteArray fstab = "UUID=1\t/\text4\tdefaults\t0 1\n\nproc /proc proc defaults 0 0\nnone\n";
        s.root.write(QStringLiteral("/etc/fstab"), fstab);
        const QString mark = s.root.path(QStringLiteral("/MARK"));
        typed.replace(QLatin1String("MARK"), mark);
        const auto w = s.open();
        s.dialogs.answer(mrOk, typed);
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnMount");
        QVERIFY(!QFileInfo::exists(mark));
        QCOMPARE(s.root.read(QStringLiteral("/etc/fstab")), fstab);
        if (!refusal.isEmpty()) {
            QCOMPARE(s.dialogs.texts().last(), refusal);
            QVERIFY(s.runs.isEmpty() && !s.root.exists(QStringLiteral("/etc/velkora/mount.conf")) && !s.rebuilt(*w));
            return;
        }
        QCOMPARE(QString::fromLocal8Bit(s.file(QStringLiteral("mount.calls"))), "4|-o|" + kOpts + "|/dev/sdb1|" + typed + "|");
        QCOMPARE(s.root.read(QStringLiteral("/etc/velkora/mount.conf")), "/dev/sdb1=" + typed.toLocal8Bit() + " xfs " + kOpts + "\n");
    }

    // A command that fails leaves the tool's files as they were; the window
    // still shows its result and the tree is rebuilt either way. The umount
    // stand-in takes the device out of the mount table when it succeeds, as
    // the real one does: only a rebuild shows that.
    void commandStatusGuardsFiles_data()
    {
        QTest::addColumn<QString>("dev");       // selected
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArrayList>("after");   // mount.conf, md.conf, fstab on success
        QTest::addColumn<QString>("mounted");   // the node's mount point after the rebuild, "-": none
        const QByteArrayList before = initialFiles();
        struct TRow {
            const char *name, *dev, *control;
            QByteArrayList after;
            const char *mountedOnSuccess, *mountedOnFailure;
        };
        const TRow rows[] = {
            {"mount", "/dev/sdb1", "btnMount",
             {before[0] + "/dev/sdb1=/data xfs " + kOpts + "\n", before[1], "UUID=1 / ext4 defaults 0 1\n"}, "-", "-"},
            {"umount", "/dev/sda1", "btnUmount", {"x=1\n", before[1], before[2]}, "-", "/a"},
            {"mdadm -C", "/dev/sdc", "btnMdCreate", {before[0], "md[0]=\"/dev/sdc\"\nmd[1]=\"/dev/sdb1\"\n", before[2]}, "-", "-"},
            {"mdadm --stop", "/dev/md1", "btnMdDelete", {before[0], "md[0]=\"/dev/sda1\"\n", before[2]}, "-", "-"},
        };
        for (const TRow &r : rows)
            for (int code : {0, 1})
                QTest::addRow("%s, exit %d", r.name, code)
                    << r.dev << r.control << code << (code == 0 ? r.after : before)
                    << (code == 0 ? r.mountedOnSuccess : r.mountedOnFailure);
    }
    void commandStatusGuardsFiles()
    {
        QFETCH(QString, dev);
        QFETCH(QString, control);
        QFETCH(int, exitCode);
        QFETCH(QByteArrayList, after);
        QFETCH(QString, mounted);
        TDiskOps s;
        const QByteArray code = "exit " + QByteArray::number(exitCode) + "\n";
        const QByteArray mtab = QFile::encodeName(s.root.path(QStringLiteral("/etc/mtab")));
        s.tools.addScript(QStringLiteral("mount"), code);
        s.tools.addScript(QStringLiteral("umount"), (exitCode == 0 ? ": > '" + mtab + "'\n" : QByteArray()) + code);
        s.tools.addRecorder(QStringLiteral("mdadm"), {}, exitCode);
        const QStringList files{"/etc/velkora/mount.conf", "/etc/velkora/md.conf", "/etc/fstab"};
        for (int i = 0; i < files.size(); ++i)
            s.root.write(files[i], initialFiles()[i]);
        const auto w = s.open();
        part<QComboBox>(*w, "cmbMdList")->setCurrentIndex(0);
        s.dialogs.answer(mrOk, QStringLiteral("/data"));
        if (control == QLatin1String("btnMdCreate")) {   // the member list itself shows the rebuild
            selectNode(*w, dev);
            w->btnAddDevClick();
            part<QAbstractButton>(*w, "btnMdCreate")->click();
        } else {
            s.act(*w, dev, qPrintable(control));
        }
        QCOMPARE(s.runs.size(), 1);
        QVERIFY(s.runs[0].Output.endsWith("  RESULT: " + QString::number(exitCode * 256)));
        for (int i = 0; i < files.size(); ++i)
            QCOMPARE(s.root.read(files[i]), after[i]);
        QVERIFY(s.rebuilt(*w));
        const QTreeWidgetItem *node = findNode(part<QTreeWidget>(*w, "tvDev"), dev);
        QCOMPARE(node->columnCount() > 3 ? node->text(3) : QStringLiteral("-"), mounted);
    }

    // A command whose result could not be recorded does not run: each file
    // it records into (or, for a format, reads its options from) is read
    // first, and one that cannot be read (a directory, a file over the
    // bound) is reported, naming the file, before anything runs.
    void unreadableRecordRunsNothing_data()
    {
        QTest::addColumn<QString>("dev");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("broken");   // index into mount.conf, md.conf, fstab
        QTest::addColumn<bool>("huge");    // else a directory
        QTest::newRow("mount, mount.conf a directory") << "/dev/sdb1" << "btnMount" << 0 << false;
        QTest::newRow("mount, fstab over the bound") << "/dev/sdb1" << "btnMount" << 2 << true;
        QTest::newRow("umount, mount.conf over the bound") << "/dev/sda1" << "btnUmount" << 0 << true;
        QTest::newRow("array create, md.conf a directory") << "/dev/sdc" << "btnMdCreate" << 1 << false;
        QTest::newRow("array stop, md.conf over the bound") << "/dev/md1" << "btnMdDelete" << 1 << true;
        QTest::newRow("format, md.conf over the bound") << "/dev/md0" << "btnFormatDevice" << 1 << true;
        QTest::newRow("format, release file over the bound") << "/dev/md0" << "btnFormatDevice" << 3 << true;
    }
    void unreadableRecordRunsNothing()
    {
        QFETCH(QString, dev);
        QFETCH(QString, control);
        QFETCH(int, broken);
        QFETCH(bool, huge);
        TDiskOps s;
        const QStringList files{"/etc/velkora/mount.conf", "/etc/velkora/md.conf", "/etc/fstab", "/etc/orvix/version"};
        const QByteArrayList initial = initialFiles() << "3.1\n";
        for (int i = 0; i < files.size(); ++i)
            if (i != broken || huge)
                s.root.write(files[i], initial[i]);
        const QString path = s.root.path(files[broken]);
        if (huge)
            QVERIFY(QFile::resize(path, qint64(30) << 30));
        else
            s.root.mkdir(files[broken]);
        const auto w = s.open();
        part<QComboBox>(*w, "cmbMdList")->setCurrentIndex(0);
        s.dialogs.answer(control == QLatin1String("btnFormatDevice") ? mrYes : mrOk, QStringLiteral("/data"));
        selectNode(*w, dev);
        if (control == QLatin1String("btnMdCreate"))
            w->btnAddDevClick();
        part<QListWidget>(*w, "lbDev")->addItem(QStringLiteral("sentinel"));
        part<QAbstractButton>(*w, qPrintable(control))->click();
        QCOMPARE(s.dialogs.texts().last(), QStringLiteral("Cannot open file \"%1\". %2")
                                               .arg(path, huge ? "File too large" : "Is a directory"));
        QCOMPARE(s.commands(), QStringList());
        for (int i = 0; i < files.size(); ++i)
            if (i != broken)
                QCOMPARE(s.root.read(files[i]), initial[i]);
        QCOMPARE(QFileInfo(path).size(), huge ? qint64(30) << 30 : QFileInfo(path).size());
        QVERIFY(!s.rebuilt(*w));
    }

    // Which fstab lines a mount takes away: the device's and the mount
    // point's, each line judged on its own, wherever it stands.
    void fstabEdit_data()
    {
        QTest::addColumn<QString>("dev");
        QTest::addColumn<QString>("point");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const QByteArray proc = "proc /proc proc defaults 0 0\n";
        QTest::newRow("a line naming both, then another") << "/dev/sdb1" << "/data"
                                                          << "/dev/sdb1 /data xfs defaults 0 0\n" + proc << proc;
        QTest::newRow("a line naming both, last") << "/dev/sdb1" << "/data" << proc + "/dev/sdb1 /data xfs defaults 0 0\n"
                                                  << proc;
        QTest::newRow("device, then mount point, then both")
            << "/dev/sdb1" << "/data"
            << "/dev/sdb1 /old xfs\n" + proc + "/dev/sdc1 /data ext3\n/dev/sdb1 /data xfs\n#x /data\n" << proc;
        QTest::newRow("blank runs, case, tabs, prefixes")
            << "/dev/sdb1" << "/data"
            << QByteArray("  /dev/sdb1   /x\n/DEV/SDB1 /y\na\t/data\n/dev/sdb10 /data1\nb    /data\n\n/dev/sdb1\n")
            << QByteArray("/DEV/SDB1 /y\na\t/data\n/dev/sdb10 /data1\n\n");
        // A tab is no separator: one that begins a field is part of it.
        QTest::newRow("tab before a field")
            << "/dev/sdb1" << "/data" << QByteArray("\t/dev/sdb1 /x\nb \t/data\n\t/y /data\n")
            << QByteArray("\t/dev/sdb1 /x\nb \t/data\n");
        // Only the first field is the device and only the second the mount
        // point; a field shorter than the name is not it.
        QTest::newRow("other fields, shorter fields")
            << "/dev/sdb1" << "/data"
            << QByteArray("/data /dev/sdb1\nnone /x /data\n/dev/sdb /x\n/dev/sdb11 /dat\nb /DATA\n")
            << QByteArray("/data /dev/sdb1\nnone /x /data\n/dev/sdb /x\n/dev/sdb11 /dat\nb /DATA\n");
        QTest::newRow("every line goes") << "/dev/sdb1" << "/data" << QByteArray("/dev/sdb1 /x\nb /data\n") << QByteArray();
        const QByteArray large = '#' + QByteArray(5 << 20, 'x') + '\n';
        QTest::newRow("a file over 4 MiB") << "/dev/sdb1" << "/data" << large + "/dev/sdb1 /data xfs\n" + proc
                                           << large + proc;
    }
    void fstabEdit()
    {
        QFETCH(QString, dev);
        QFETCH(QString, point);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        TDiskOps s;
        s.root.write(QStringLiteral("/etc/fstab"), before);
        const auto w = s.open();
        s.dialogs.answer(mrOk, point);
        s.act(*w, dev, "btnMount");
        QCOMPARE(s.root.read(QStringLiteral("/etc/fstab")), after);
    }

    // Device names come from the kernel's listing and reach the shell only
    // as single words: a name built to run a command runs nothing, through
    // every action, and each command gets the name as it is.
    void hostileDeviceNames_data()
    {
        QTest::addColumn<QString>("shape");   // X: where the name's command goes
        QTest::newRow("semicolons") << ";X;";
        QTest::newRow("command substitution") << "$(X)";
        QTest::newRow("backquotes") << "`X`";
        QTest::newRow("quotes in a word") << "'\"$(X)\"'\\";
    }
    void hostileDeviceNames()
    {
        QFETCH(QString, shape);
        TDiskOps s;
        const QString mark = s.root.path(QStringLiteral("/marks"));
        QDir().mkpath(mark);
        qputenv("VKMARK", QFile::encodeName(mark));
        const auto unsetMark = qScopeGuard([] { qunsetenv("VKMARK"); });
        // An array (a name with "md", no "p") and a controller disk with one partition.
        const QString array = "md9" + QString(shape).replace(QLatin1String("X"), QStringLiteral("touch${IFS}${VKMARK}/a"));
        const QString disk = "abcde/c0d0" + QString(shape).replace(QLatin1String("X"), QStringLiteral("touch${IFS}${VKMARK}/d"));
        writeDisks(s, {{array, 64LL << 20, {}}, {disk, 64LL << 20, {{0x83, 2048, 8192}}}});
        const QString md = "/dev/" + array, dsk = "/dev/" + disk;
        const QString partition = dsk + (dsk.back().isDigit() ? "p1" : "1");
        s.mtab((md + " /m xfs rw 0 0\n").toLocal8Bit());
        s.root.write(QStringLiteral("/etc/fstab"), {});
        const auto w = s.open();
        QVERIFY(findNode(part<QTreeWidget>(*w, "tvDev"), partition));
        part<QComboBox>(*w, "cmbMdList")->setCurrentIndex(2);
        struct TAction {
            QString Dev;
            void (TfmMain::*Handler)();
            QString Tool, Args;   // the stand-in and the arguments it must get
        };
        const TAction actions[] = {
            {md, &TfmMain::btnMdViewClick, "mdadm", "-D " + md},
            {md, &TfmMain::btnFormatDeviceClick, "mkfs.xfs", "-f -i size=512 -b size=4096 -l size=128m,version=2,sunit=128 "
                                                             "-d agsize=64m,sunit=128,swidth=128 " + md},
            {partition, &TfmMain::btnMountClick, "mount.calls", "4|-o|" + kOpts + "|" + partition + "|/data|"},
            {md, &TfmMain::btnUmountClick, "umount", "" + md},
            {md, &TfmMain::btnMdDeleteClick, "mdadm", "--stop " + md},
            {dsk, &TfmMain::miPartDataClick, "sfdisk", "-q " + dsk},
            {partition, &TfmMain::miPartMdClick, "sfdisk", "-c " + dsk + " 1 fd"},
            {partition, &TfmMain::btnMdCreateClick, "mdadm", "-C /dev/md2 -l 0 -n 2 -c 64 " + partition + " " + dsk},
        };
        for (const TAction &a : actions) {
            selectNode(*w, a.Dev);
            if (a.Handler == &TfmMain::btnMdCreateClick) {
                w->btnAddDevClick();
                selectNode(*w, dsk);
                w->btnAddDevClick();
            }
            if (a.Handler == &TfmMain::btnMountClick)
                s.dialogs.answer(mrOk, QStringLiteral("/data"));
            (w.get()->*a.Handler)();
            QCoreApplication::processEvents();
            QCOMPARE(QDir(mark).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
            const QStringList calls = a.Tool.endsWith(QLatin1String(".calls"))
                                          ? QStringList{QString::fromLocal8Bit(s.file(a.Tool))}
                                          : s.tools.calls(a.Tool);
            QVERIFY2(!calls.isEmpty() && calls.last() == a.Args, qPrintable(calls.join(QLatin1Char('\n'))));
        }
        QCOMPARE(s.runs.size(), int(std::size(actions)));
        // The array file holds the names themselves, not their shell quoting.
        QCOMPARE(s.root.read(QStringLiteral("/etc/velkora/md.conf")), ("md[2]=\"" + partition + ' ' + dsk + "\"\n").toLocal8Bit());
    }

    // The script's name is free for a moment between its removal and its
    // making: a link or a second name for another file planted there then
    // is refused, and nothing runs.
    void partTablePlantedInTheGap_data()
    {
        QTest::addColumn<bool>("symlink");   // else a hard link
        QTest::newRow("symbolic link") << true;
        QTest::newRow("hard link") << false;
    }
    void partTablePlantedInTheGap()
    {
        QFETCH(bool, symlink);
        TDiskOps s;
        s.root.write(QStringLiteral("/tmp/victim"), "victim\n");
        const QByteArray victim = QFile::encodeName(s.root.path(QStringLiteral("/tmp/victim")));
        const QByteArray table = QFile::encodeName(s.root.path(QStringLiteral("/tmp/parttable")));
        bool planted = false;
        TfmMain::SetPartTableGapHookForTesting([&] {
            planted = (symlink ? ::symlink(victim.constData(), table.constData())
                               : ::link(victim.constData(), table.constData())) == 0;
        });
        const auto unhook = qScopeGuard([] { TfmMain::SetPartTableGapHookForTesting(nullptr); });
        const auto w = s.open();
        s.act(*w, QStringLiteral("/dev/sdc"), "miPartData");
        QVERIFY(planted);
        QCOMPARE(s.dialogs.texts().last(),
                 QStringLiteral("Cannot create file \"%1\". File exists").arg(QFile::decodeName(table)));
        QCOMPARE(s.root.read(QStringLiteral("/tmp/victim")), QByteArray("victim\n"));
        QVERIFY(s.runs.isEmpty() && !s.rebuilt(*w));
    }

    // A script that cannot be written whole is removed, and nothing runs.
    void partTableWriteFails()
    {
        TDiskOps s;
        const auto w = s.open();
        struct rlimit saved {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        TfmMain::SetPartTableGapHookForTesting([&] {
            struct rlimit none = saved;
            none.rlim_cur = 0;
            ::setrlimit(RLIMIT_FSIZE, &none);
        });
        const auto restore = qScopeGuard([&] {
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
            TfmMain::SetPartTableGapHookForTesting(nullptr);
        });
        s.act(*w, QStringLiteral("/dev/sdc"), "miPartData");
        ::setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(s.dialogs.texts().last(), QStringLiteral("Cannot create file \"%1\". File too large")
                                               .arg(s.root.path(QStringLiteral("/tmp/parttable"))));
        QVERIFY(!s.root.exists(QStringLiteral("/tmp/parttable")));
        QVERIFY(s.runs.isEmpty() && !s.rebuilt(*w));
    }

    void filesStayWholeOnFailure_data()
    {
        QTest::addColumn<QString>("where");   // the file system that fails
        QTest::addColumn<bool>("full");       // else read-only
        QTest::addColumn<QString>("broken");  // the file named in the error
        QTest::newRow("read-only /etc/velkora") << "/etc/velkora" << false << "/etc/velkora/mount.conf";
        QTest::newRow("read-only /etc") << "/etc" << false << "/etc/fstab";
        QTest::newRow("full /etc/velkora") << "/etc/velkora" << true << "/etc/velkora/mount.conf";
        QTest::newRow("full /etc") << "/etc" << true << "/etc/fstab";
    }
    void filesStayWholeOnFailure()
    {
        QFETCH(QString, where);
        QFETCH(bool, full);
        QFETCH(QString, broken);
        if (!g_privateMounts)
            QSKIP("needs root and a private mount namespace");
        TDiskOps s;
        const QByteArray etc = QFile::encodeName(s.root.path(QStringLiteral("/etc")));
        const QByteArray velkora = etc + "/velkora";
        const QByteArray files[3][2] = {{"/etc/fstab", "/dev/sdb1 /old xfs defaults 0 0\nproc /proc proc defaults 0 0\n"},
                                        {"/etc/velkora/md.conf", "md[0]=\"/dev/sda1\"\n"},
                                        {"/etc/velkora/mount.conf", "/dev/sdb1=/old xfs o\n"}};
        QByteArray keep = s.root.read(QStringLiteral("/etc/mtab"));
        struct TUnmount {
            QByteArray Etc, Velkora;
            ~TUnmount()
            {
                ::umount2(Velkora.constData(), MNT_DETACH);
                ::umount2(Etc.constData(), MNT_DETACH);
            }
        } unmount{etc, velkora};
        QVERIFY(::mount("tmpfs", etc.constData(), "tmpfs", 0, "size=256k") == 0);
        s.mtab(keep);
        s.root.mkdir(QStringLiteral("/etc/velkora"));
        QVERIFY(::mount("tmpfs", velkora.constData(), "tmpfs", 0, "size=256k") == 0);
        for (const auto &f : files)
            s.root.write(QString::fromLatin1(f[0]), f[1]);
        const auto w = s.open();
        const QByteArray target = QFile::encodeName(s.root.path(where));
        if (full) {
            const int fd = ::open((target + "/filler").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            const QByteArray chunk(4096, 'x');
            while (::write(fd, chunk.constData(), size_t(chunk.size())) > 0 || ::write(fd, chunk.constData(), 1) > 0) {
            }
            ::close(fd);
        } else {
            QVERIFY(::mount(nullptr, target.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        }
        s.dialogs.answer(mrOk, QStringLiteral("/data"));
        s.act(*w, QStringLiteral("/dev/sdb1"), "btnMount");
        QVERIFY2(s.dialogs.texts().last().startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(s.root.path(broken))),
                 qPrintable(s.dialogs.texts().last()));
        part<QComboBox>(*w, "cmbMdList")->setCurrentIndex(0);
        selectNode(*w, QStringLiteral("/dev/sdc"));
        w->btnAddDevClick();
        part<QAbstractButton>(*w, "btnMdCreate")->click();
        for (const auto &f : files)
            if (where == QLatin1String("/etc/velkora") || f[0] == "/etc/fstab")
                QCOMPARE(s.root.read(QString::fromLatin1(f[0])), f[1]);
        QCOMPARE(QDir(s.root.path(where)).entryList({QStringLiteral(".*")}, QDir::Hidden | QDir::Files), QStringList());
    }
};

QTEST_MAIN(TestHostMainDiskOps)
#include "tst_hostmain_diskops.moc"
