// The disk, device and module pages of the console's main window.
#include "conmain_fixture.h"
#include "vkSocket.h"

#include <QFile>
#include <QStandardPaths>
#include <QTreeWidget>

namespace {
QByteArray dataFile(const char *name)
{
    QFile f(QStringLiteral(TEST_DATA_DIR "/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", name);
    return f.readAll();
}

// The tree below the host name: each class, then its devices indented.
QStringList treeLines(const QTreeWidgetItem *root)
{
    QStringList lines;
    for (int i = 0; i < root->childCount(); ++i) {
        lines << root->child(i)->text(0);
        for (int j = 0; j < root->child(i)->childCount(); ++j)
            lines << QStringLiteral("  ") + root->child(i)->child(j)->text(0);
    }
    return lines;
}

QStringList rows(const QTreeWidget *view)
{
    QStringList r;
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *it = view->topLevelItem(i);
        QStringList cells;
        for (int c = 0; c < view->columnCount(); ++c)
            cells << it->text(c);
        r << cells.join(QLatin1Char('|'));
    }
    return r;
}

// A sparse disk image with a partition table written by the real sfdisk.
bool makeDisk(const ConsoleScratch &s, const QString &name, int mib, const QByteArray &table)
{
    const QString path = s.root.path(QStringLiteral("/dev/") + name);
    s.root.mkdir(QStringLiteral("/dev"));
    QFile img(path);
    if (!img.open(QIODevice::WriteOnly) || !img.resize(qint64(mib) << 20))
        return false;
    img.close();
    int rc = -1;
    runTool(QStringLiteral("printf '%1' | sfdisk -q --no-reread --no-tell-kernel '%2'")
                .arg(QString::fromLatin1(table), path),
            &rc);
    return rc == 0;
}
} // namespace

class TestConMainPages : public QObject {
    Q_OBJECT
    std::unique_ptr<TLibraryScope> library;

private Q_SLOTS:
    void initTestCase() { library = std::make_unique<TLibraryScope>(); }
    void cleanupTestCase() { library.reset(); }

    void diskListSortedFirstShown()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("sfdisk")).isEmpty())
            QSKIP("sfdisk is not installed");
        ConsoleScratch s;
        QVERIFY(makeDisk(s, QStringLiteral("sdb"), 64, "label: dos\\n,32MiB,83\\n,,fd\\n"));
        QVERIFY(makeDisk(s, QStringLiteral("sda"), 40, "label: dos\\n,,7\\n"));
        s.root.write(QStringLiteral("/proc/partitions"),
                     "major minor  #blocks  name\n\n   8       16      65536 sdb\n"
                     "   8       17      32768 sdb1\n   8        0      40960 sda\n");
        const auto w = s.open();
        QVERIFY(s.dialogs.requests().isEmpty());
        auto *disks = part<QListWidget>(*w, "lbDiskList");
        auto *parts = part<QTreeWidget>(*w, "lvPartitions");
        QCOMPARE(listTexts(disks), (QStringList{"/dev/sda 40 MB", "/dev/sdb 64 MB"}));
        QCOMPARE(disks->currentRow(), 0);
        QCOMPARE(rows(parts), QStringList{"/dev/sda1|NTFS|39 MB"});
        QCOMPARE(parts->headerItem()->text(0), QStringLiteral("Partiton"));

        disks->setCurrentRow(1);
        QCoreApplication::processEvents();
        QCOMPARE(rows(parts), (QStringList{"/dev/sdb1|Linux|32 MB", "/dev/sdb2|Linux RAID|31 MB"}));
        disks->setCurrentRow(-1);   // no selection: the partitions go
        QCoreApplication::processEvents();
        QCOMPARE(parts->topLevelItemCount(), 0);
    }

    void noDisks()
    {
        ConsoleScratch s;
        const auto w = s.open();
        QCOMPARE(part<QListWidget>(*w, "lbDiskList")->count(), 0);
        QCOMPARE(part<QListWidget>(*w, "lbDiskList")->currentRow(), -1);
        QCOMPARE(part<QTreeWidget>(*w, "lvPartitions")->topLevelItemCount(), 0);
    }

    void deviceTree_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QStringList>("tree");
        QTest::newRow("captured") << dataFile("lspci.txt") << QStringList{
            "Ethernet controller",
            "  Generic Systems Paravirtual 1.0 network device (rev 01) (00:03.0)",
            "Host bridge",
            "  Generic Semiconductor Device 0d57 (00:00.0)",
            "Mass storage controller",
            "  Generic Systems Paravirtual 1.0 block device (rev 01) (00:02.0)",
            "Unassigned class [ffff]",
            "  Generic Systems Paravirtual 1.0 RNG (rev 01) (00:05.0)",
            "  Generic Systems Paravirtual 1.0 memory balloon (rev 01) (00:01.0)",
            "  Generic Systems Paravirtual 1.0 socket (rev 01) (00:04.0)"};
        // Same class twice gives one node; classes differing in case give two.
        QTest::newRow("classes") << dataFile("lspci-classes.txt") << QStringList{
            "",
            "  Device line without a class (03:00.0)",
            "SATA controller",
            "  Example Chipset SATA AHCI Controller (rev 02) (00:1f.2)",
            "  Example Chipset SATA IDE Controller (rev 02) (00:1f.5)",
            "SMBus",
            "  Example Chipset SMBus Controller (rev 02) (00:1f.3)",
            "VGA Compatible Controller",
            "  Example Graphics Adapter 2 (02:00.0)",
            "VGA compatible controller",
            "  Example Graphics Adapter: rev a1 (01:00.0)"};
        QTest::newRow("no output") << QByteArray() << QStringList();
    }
    void deviceTree()
    {
        QFETCH(QByteArray, output);
        QFETCH(QStringList, tree);
        ConsoleScratch s;
        s.tools.addRecorder(QStringLiteral("lspci"), output, output.isEmpty() ? 1 : 0);
        const auto w = s.open();
        auto *view = part<QTreeWidget>(*w, "TreeView1");
        QCOMPARE(view->topLevelItemCount(), 1);
        const QTreeWidgetItem *root = view->topLevelItem(0);
        QCOMPARE(root->text(0), GetLocalHostName());
        QVERIFY(root->isExpanded());
        QCOMPARE(treeLines(root), tree);
        for (int i = 0; i < root->childCount(); ++i)
            QVERIFY(!root->child(i)->isExpanded());
        QCOMPARE(s.tools.calls(QStringLiteral("lspci")), QStringList{QString()});
    }

    void deviceTreeFromRealTool()
    {
        const QString lspci = QStandardPaths::findExecutable(QStringLiteral("lspci"));
        if (lspci.isEmpty())
            QSKIP("lspci is not installed");
        ConsoleScratch s;
        s.tools.addScript(QStringLiteral("lspci"), "exec '" + lspci.toUtf8() + "' \"$@\"\n");
        const QStringList real = QString::fromLocal8Bit(runTool(lspci)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const auto w = s.open();
        const QTreeWidgetItem *root = part<QTreeWidget>(*w, "TreeView1")->topLevelItem(0);
        int devices = 0;
        for (int i = 0; i < root->childCount(); ++i)
            devices += root->child(i)->childCount();
        QCOMPARE(devices, real.size());
    }

    void moduleRows()
    {
        ConsoleScratch s;
        s.root.write(QStringLiteral("/proc/modules"),
                     "vkmod_a 16384 0 - Live 0x0000000000000000\n"
                     "vkmod_b 20480 2 vkmod_a,vkmod_c, Live 0xffffffffc0a00000 (OE)\n"
                     "three 4096 1\n"
                     "spaced 8192 0  a  b \n"
                     "crlf 4096 0 -\r\n");
        const auto w = s.open();
        auto *view = part<QTreeWidget>(*w, "ListView2");
        QCOMPARE(rows(view), (QStringList{"vkmod_a|16384|0|- Live 0x0000000000000000",
                                          "vkmod_b|20480|2|vkmod_a,vkmod_c, Live 0xffffffffc0a00000 (OE)",
                                          "three|4096|1|", "spaced|8192|0| a  b ",
                                          "crlf|4096|0|-"}));
        QVERIFY(view->topLevelItem(0)->textAlignment(1) & Qt::AlignRight);
        QVERIFY(view->headerItem()->textAlignment(2) & Qt::AlignRight);
    }

    void moduleFileMissingOrUnreadable()
    {
        ConsoleScratch s;
        {
            const auto w = s.open();
            QCOMPARE(rows(part<QTreeWidget>(*w, "ListView2")), QStringList{"Read System Info Fail!|||"});
        }
        // A directory exists but cannot be read as text: the read error is shown.
        s.root.mkdir(QStringLiteral("/proc/modules"));
        const auto w = s.open();
        QCOMPARE(s.dialogs.texts(), QStringList{QStringLiteral("I/O error 21")});
        QCOMPARE(part<QTreeWidget>(*w, "ListView2")->topLevelItemCount(), 0);
    }
};

QTEST_MAIN(TestConMainPages)
#include "tst_conmain_pages.moc"
