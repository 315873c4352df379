// The disks tab's tree: the mount table and its lookups, the rows and the
// mounted rule, the partition test that guards destructive actions, and the
// buttons each selection allows.
#include "hostdisks_fixture.h"

#include <QDir>

class TestHostMainDiskTree : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void findMount_data()
    {
        QTest::addColumn<QByteArray>("mtab");
        QTest::addColumn<QString>("dev");
        QTest::addColumn<QString>("found");   // "mount point|type", or "-"
        const QByteArray md = "/dev/md/0 /data xfs rw 0 0\n";
        QTest::newRow("runs of blanks, leading blanks") << QByteArray("  /dev/sda1   /boot   ext4\n") << "/dev/sda1"
                                                        << "/boot|ext4";
        QTest::newRow("first of duplicates") << QByteArray("/dev/sda1 /a xfs\n/dev/sda1 /b ext4\n") << "/dev/sda1"
                                             << "/a|xfs";
        QTest::newRow("tabs separate nothing") << QByteArray("/dev/sda1\t/boot\text4 rw\n") << "/dev/sda1" << "-";
        QTest::newRow("whole tokens, case kept") << QByteArray("/dev/sda10 /x xfs\n/DEV/SDA1 /y xfs\n") << "/dev/sda1"
                                                 << "-";
        QTest::newRow("relative link") << md << "/dev/md0" << "/data|xfs";
        QTest::newRow("absolute link") << md << "/dev/md1" << "/data|xfs";
        QTest::newRow("one level only") << md << "/dev/md2" << "-";
        QTest::newRow("the device's own line first") << QByteArray("/dev/md/0 /data xfs\n/dev/md0 /own ext4\n")
                                                     << "/dev/md0" << "/own|ext4";
        QTest::newRow("a 4095-byte piece ends a line")
            << QByteArray(4095, 'x') + "/dev/sdb1 /cut xfs\n" << "/dev/sdb1" << "/cut|xfs";
        QTest::newRow("trailing tab and CR") << QByteArray("/dev/sda1 /boot ext4\t\r\n") << "/dev/sda1" << "/boot|ext4";
        QTest::newRow("no mount table") << QByteArray() << "/dev/sda1" << "-";
    }
    void findMount()
    {
        QFETCH(QByteArray, mtab);
        QFETCH(QString, dev);
        QFETCH(QString, found);
        HostScratch s;
        if (!mtab.isEmpty())
            s.mtab(mtab);
        s.root.mkdir(QStringLiteral("/dev/md"));
        QFile::link(QStringLiteral("md/0"), s.root.path(QStringLiteral("/dev/md0")));
        QFile::link(QStringLiteral("/dev/md/0"), s.root.path(QStringLiteral("/dev/md1")));
        QFile::link(QStringLiteral("md0"), s.root.path(QStringLiteral("/dev/md2")));
        const auto w = s.open();
        QString point = QStringLiteral("keep"), type = QStringLiteral("keep");
        const bool hit = w->FindMount(dev, point, type);
        QCOMPARE(hit ? point + QLatin1Char('|') + type : QStringLiteral("-"), found);
        if (!hit)
            QCOMPARE(point + type, QStringLiteral("keepkeep"));
        // A table read again, or set directly, is what the next lookup sees.
        s.mtab(dev.toLatin1() + " /later xfs\n");
        w->ReadMtab();
        QVERIFY(w->FindMount(dev, point, type) && point == QLatin1String("/later"));
        w->MtabLines = QStringList{dev + QStringLiteral(" /set ext2")};
        QVERIFY(w->FindMount(dev, point, type) && point == QLatin1String("/set"));
    }

    void treeRowsAndMountedRule()
    {
        HostScratch s;
        writeDisks(s, {{QStringLiteral("sdb"), 64LL << 20, {}},
                       {QStringLiteral("sda"), 64LL << 20, {{0x83, 2048, 65536}, {0x82, 67584, 16384}}},
                       {QStringLiteral("md0"), 96LL << 20, {}},
                       {QStringLiteral("cciss/c0d0"), 64LL << 20, {}}});
        // The array's node is a link that the mount table knows by its target.
        s.root.mkdir(QStringLiteral("/dev/md"));
        QVERIFY(QFile::rename(s.root.path(QStringLiteral("/dev/md0")), s.root.path(QStringLiteral("/dev/md/0"))));
        QVERIFY(QFile::link(QStringLiteral("md/0"), s.root.path(QStringLiteral("/dev/md0"))));
        // A link below a directory of /dev is followed too.
        QVERIFY(QFile::rename(s.root.path(QStringLiteral("/dev/cciss/c0d0")), s.root.path(QStringLiteral("/dev/cciss/real"))));
        QVERIFY(QFile::link(QStringLiteral("real"), s.root.path(QStringLiteral("/dev/cciss/c0d0"))));
        s.mtab("/dev/sda1 /boot ext4 rw 0 0\n/dev/md/0 /data xfs rw 0 0\n/dev/cciss/real /c xfs rw 0 0\n");
        const auto w = s.open();
        auto *tree = part<QTreeWidget>(*w, "tvDev");
        QCOMPARE(treeRows(tree), (QStringList{"/dev/cciss/c0d0|64 MB ||/c|xfs", "/dev/md0|96 MB ||/data|xfs", "/dev/sda|64 MB ",
                                              "  /dev/sda1|32 MB | Linux|/boot|ext4", "  /dev/sda2|8 MB | Linux Swap",
                                              "/dev/sdb|64 MB "}));
        QVERIFY(findNode(tree, QStringLiteral("/dev/sda"))->isExpanded());
        // Sizes line up on the right, header and cells alike.
        QVERIFY(tree->headerItem()->textAlignment(1) & Qt::AlignRight);
        for (const QString &dev : {"/dev/md0", "/dev/sda", "/dev/sda1", "/dev/sda2", "/dev/sdb"})
            QVERIFY2(findNode(tree, dev)->textAlignment(1) & Qt::AlignRight, qPrintable(dev));

        QVERIFY(w->DiskHasMountedPart(findNode(tree, QStringLiteral("/dev/sda"))));
        QVERIFY(w->DiskHasMountedPart(findNode(tree, QStringLiteral("/dev/sda1"))));
        QVERIFY(!w->DiskHasMountedPart(findNode(tree, QStringLiteral("/dev/sda2"))));
        QVERIFY(!w->DiskHasMountedPart(findNode(tree, QStringLiteral("/dev/md0"))));   // mounted whole, no partitions
        // What a rebuild learnt of /dev's links is not kept past it: a link made since is followed.
        QVERIFY(QFile::link(QStringLiteral("md/0"), s.root.path(QStringLiteral("/dev/md5"))));
        QString point, type;
        QVERIFY(w->FindMount(QStringLiteral("/dev/md5"), point, type) && point == QLatin1String("/data"));
    }

    void enableRules_data()
    {
        QTest::addColumn<QString>("dev");
        QTest::addColumn<QString>("states");   // part, caption, view and delete, mount, umount, format
        QTest::newRow("disk") << "/dev/sda" << "1 分区 0 000";
        QTest::newRow("array, not mounted") << "/dev/md0" << "0 分区 1 101";
        QTest::newRow("array, mounted") << "/dev/md3" << "0 分区 1 010";
        QTest::newRow("Linux partition") << "/dev/sda1" << "1 分区类型 0 101";
        QTest::newRow("Linux partition, mounted") << "/dev/sda2" << "1 分区类型 0 010";
        QTest::newRow("logical Linux partition") << "/dev/sda5" << "1 分区类型 0 101";
        QTest::newRow("swap partition") << "/dev/sda3" << "1 分区类型 0 000";
        QTest::newRow("partition of an array") << "/dev/md1p1" << "0 分区类型 0 101";
        QTest::newRow("array named md inside") << "/dev/xmd4" << "0 分区 1 101";
        QTest::newRow("none after an array") << "" << "0 分区 1 000";
    }
    void enableRules()
    {
        QFETCH(QString, dev);
        QFETCH(QString, states);
        HostScratch s;
        writeDisks(s, {{QStringLiteral("sda"), 64LL << 20,
                        {{0x83, 2048, 8192}, {0x83, 10240, 8192}, {0x82, 18432, 8192}, {0x05, 26624, 16384}}},
                       {QStringLiteral("md0"), 64LL << 20, {}},
                       {QStringLiteral("md1"), 64LL << 20, {{0x83, 2048, 8192}}},
                       {QStringLiteral("md3"), 64LL << 20, {}},
                       {QStringLiteral("xmd4"), 64LL << 20, {}}});
        s.mtab("/dev/sda2 /b xfs rw 0 0\n/dev/md3 /m xfs rw 0 0\n");
        const auto w = s.open();
        selectNode(*w, QStringLiteral("/dev/md0"));
        selectNode(*w, dev);
        auto on = [&](const char *name) { return part(*w, name)->isEnabled() ? '1' : '0'; };
        const QString got = QStringLiteral("%1 %2 %3 %4%5%6")
                                .arg(on("btnDiskPart"))
                                .arg(part<QPushButton>(*w, "btnDiskPart")->text())
                                .arg(on("btnMdView") == on("btnMdDelete") ? on("btnMdView") : '?')
                                .arg(on("btnMount"))
                                .arg(on("btnUmount"))
                                .arg(on("btnFormatDevice"));
        QCOMPARE(got, states);
    }
};

QTEST_MAIN(TestHostMainDiskTree)
#include "tst_hostmain_disktree.moc"
