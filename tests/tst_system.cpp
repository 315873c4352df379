// The system object: its life at library start and end, and its refresh of
// disks, then interfaces.
#include "testutil.h"
#include "vkErrors.h"
#include "vkPaths.h"
#include "vkSystem.h"

#include <QFile>
#include <QTest>

namespace {

const QByteArray kPartHeads = "major minor  #blocks  name\n\n";
const QByteArray kDevHeads = "Inter-|   Receive |  Transmit\n face |bytes |bytes\n";

// A 64 MiB sparse disk image with one Linux partition in slot 1.
void writeDiskImage(const ScratchRoot &root, const QString &sysPath)
{
    QByteArray mbr(512, '\0');
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            mbr[at + i] = char((v >> (8 * i)) & 0xFF);
    };
    mbr[446 + 4] = char(0x83);
    put32(446 + 8, 2048);
    put32(446 + 12, 4096);
    mbr[510] = char(0x55);
    mbr[511] = char(0xAA);
    root.write(sysPath, mbr);
    QFile f(root.path(sysPath));
    QVERIFY(f.resize(qint64(64) << 20));
}

// Everything the two lists hold, as text.
QStringList snapshot(const TSystem &s)
{
    QStringList out;
    for (int i = 0; i < s.Disks()->Count(); ++i) {
        const TDiskItem *d = s.Disks()->GetItem(i);
        out << QStringLiteral("disk %1 %2").arg(d->Name).arg(d->Size);
        for (int j = 0; j < d->VolItems()->Count(); ++j) {
            const TVolItem *v = d->VolItems()->GetItem(j);
            out << QStringLiteral(" part %1 %2 %3 %4 %5")
                       .arg(v->Name).arg(v->PartitionNumber).arg(v->StartingOffset)
                       .arg(v->PartitionLength).arg(v->PartitionType);
        }
    }
    for (int i = 0; i < s.NICs()->Count(); ++i) {
        const TNIC *n = s.NICs()->Items(i);
        QString mac;
        for (uint8_t b : n->MAC)
            mac += QString::number(b, 16);
        out << QStringLiteral("nic %1 %2 %3 %4 %5 %6%7%8%9%10")
                   .arg(n->Name, n->GetIPText()).arg(n->Mask).arg(n->IfIndex).arg(mac)
                   .arg(int(n->IsLoopback)).arg(int(n->IsUp)).arg(int(n->IsRunning))
                   .arg(int(n->IsMaster)).arg(int(n->IsSlave));
    }
    return out;
}

} // namespace

class TestSystem : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void libraryScopeMakesAndFreesSystemInfo()
    {
        QVERIFY(!SystemInfo);
        {
            TLibraryScope scope;
            QVERIFY(SystemInfo);
            QCOMPARE(SystemInfo->Disks()->Count(), 0);   // no refresh at start
            QCOMPARE(SystemInfo->NICs()->Count(), 0);
        }
        QVERIFY(!SystemInfo);
    }

    void refreshTwiceGivesSameContent()
    {
        ScratchRoot root;
        root.write(QStringLiteral("/proc/partitions"),
                   kPartHeads + "   8  0  65536 sda\n   8  1   2048 sda1\n");
        writeDiskImage(root, QStringLiteral("/dev/sda"));
        root.write(QStringLiteral("/proc/net/dev"), kDevHeads + "  vka0: 0\n  vkb0: 0\n");

        TSystem s;
        s.Refresh();
        const QStringList first = snapshot(s);
        QVERIFY(first.contains(QStringLiteral("disk /dev/sda 67108864")));
        QVERIFY(first.contains(QStringLiteral(" part /dev/sda1 1 1048576 2097152 131")));
        QCOMPARE(s.NICs()->Items(0)->Name, QStringLiteral("vka0"));

        s.Refresh();
        QCOMPARE(snapshot(s), first);   // rebuilt, not merged
    }

    // A fault of the disks does not keep the interfaces from being read;
    // the disks' error still reaches the caller, and outranks one of the
    // interfaces.
    void diskErrorStillReadsInterfaces_data()
    {
        QTest::addColumn<QByteArray>("partitions");
        QTest::addColumn<bool>("netReadable");
        QTest::addColumn<QString>("message");
        QTest::newRow("size not a number") << QByteArray("   8  0  lots sda\n") << true
                                           << "'lots' is not a valid integer value";
        QTest::newRow("device cannot be opened") << QByteArray("   8 16  65536 sdb\n") << true
                                                 << "error 2 open file \"%1\"";
        QTest::newRow("both fail") << QByteArray("   8 16  65536 sdb\n") << false
                                   << "error 2 open file \"%1\"";
    }
    void diskErrorStillReadsInterfaces()
    {
        QFETCH(QByteArray, partitions);
        QFETCH(bool, netReadable);
        QFETCH(QString, message);
        ScratchRoot root;
        root.write(QStringLiteral("/proc/partitions"), kPartHeads + partitions);
        if (netReadable)
            root.write(QStringLiteral("/proc/net/dev"), kDevHeads + "  vkc0: 0\n");
        else
            root.mkdir(QStringLiteral("/proc/net/dev"));
        TSystem s;
        QString got;
        try {
            s.Refresh();
        } catch (const Exception &e) {
            got = e.Message();
        }
        if (message.contains(QLatin1String("%1")))
            message = message.arg(root.path(QStringLiteral("/dev/sdb")));
        QCOMPARE(got, message);
        QStringList names;
        for (int i = 0; i < s.NICs()->Count(); ++i)
            names << s.NICs()->Items(i)->Name;
        QCOMPARE(names.contains(QStringLiteral("vkc0")), netReadable);
    }

    void interfaceErrorAfterDisks()
    {
        ScratchRoot root;
        root.write(QStringLiteral("/proc/partitions"), kPartHeads + "   8  0  65536 sda\n");
        writeDiskImage(root, QStringLiteral("/dev/sda"));
        root.mkdir(QStringLiteral("/proc/net/dev"));   // cannot be read
        TSystem s;
        QVERIFY_THROWS_EXCEPTION(EInOutError, s.Refresh());
        QCOMPARE(s.Disks()->Count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSystem)
#include "tst_system.moc"
