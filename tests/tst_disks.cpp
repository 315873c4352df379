// The disk model, the /proc/partitions scan and the partition-table reader,
// the latter on images written by the real sfdisk.
#include "testutil.h"
#include "testutil_locale.h"
#include "vkDskUtils.h"
#include "vkErrors.h"
#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkVariant.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <limits>
#include <map>

namespace {

struct Part {
    uint32_t number;
    int type;
    int64_t start;   // bytes
    int64_t size;    // bytes
    bool operator==(const Part &o) const
    {
        return number == o.number && type == o.type && start == o.start && size == o.size;
    }
};

char *toString(const Part &p)
{
    return qstrdup(QString::asprintf("#%u type %x @%lld +%lld", p.number, p.type, qlonglong(p.start),
                                     qlonglong(p.size))
                       .toLatin1()
                       .constData());
}

QList<Part> partsOf(const TDiskItem *disk)
{
    QList<Part> parts;
    for (int i = 0; i < disk->VolItems()->Count(); ++i) {
        const TVolItem *v = disk->VolItems()->GetItem(i);
        parts.append({v->PartitionNumber, v->PartitionType, v->StartingOffset, v->PartitionLength});
    }
    return parts;
}

// What sfdisk itself reads from an image, in its own order (primaries, then logicals).
QList<Part> sfdiskParts(const QString &image)
{
    const QJsonObject table = QJsonDocument::fromJson(runTool(QStringLiteral("sfdisk -J '%1'").arg(image)))
                                  .object()
                                  .value(QStringLiteral("partitiontable"))
                                  .toObject();
    QList<Part> parts;
    for (const QJsonValue &v : table.value(QStringLiteral("partitions")).toArray()) {
        const QJsonObject o = v.toObject();
        QString n = o.value(QStringLiteral("node")).toString().mid(image.size());
        if (n.startsWith(QLatin1Char('p')))
            n.remove(0, 1);
        parts.append({n.toUInt(), o.value(QStringLiteral("type")).toString().toInt(nullptr, 16),
                      qint64(o.value(QStringLiteral("start")).toDouble()) * 512,
                      qint64(o.value(QStringLiteral("size")).toDouble()) * 512});
    }
    return parts;
}

QList<Part> withoutChainsAndAbove(QList<Part> parts, uint32_t maxNumber)
{
    parts.erase(std::remove_if(parts.begin(), parts.end(),
                               [&](const Part &p) {
                                   return p.type == 0x05 || p.type == 0x0F || p.number > maxNumber;
                               }),
                parts.end());
    return parts;
}

// A sparse image of `mib` MiB written by sfdisk from `script`.
void makeImage(const QString &path, const QByteArray &script, int mib = 64)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    const QString scriptFile = path + QStringLiteral(".sfdisk");
    QFile f(scriptFile);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("label: dos\n" + script);
    f.close();
    int rc = -1;
    runTool(QStringLiteral("truncate -s %1M '%2' && sfdisk -q '%2' < '%3'").arg(mib).arg(path, scriptFile), &rc);
    QCOMPARE(rc, 0);
    QFile::remove(scriptFile);
}

QByteArray readSector(const QString &image, uint64_t sector)
{
    QFile f(image);
    f.open(QIODevice::ReadOnly);
    f.seek(qint64(sector) * 512);
    return f.read(512);
}

void writeSector(const QString &image, uint64_t sector, const QByteArray &data)
{
    QFile f(image);
    f.open(QIODevice::ReadWrite);
    f.seek(qint64(sector) * 512);
    f.write(data);
}

uint32_t le32At(const QByteArray &s, int off)
{
    return uint32_t(uchar(s[off])) | uint32_t(uchar(s[off + 1])) << 8 | uint32_t(uchar(s[off + 2])) << 16
         | uint32_t(uchar(s[off + 3])) << 24;
}

void setEntry(QByteArray &s, int i, uint8_t type, uint32_t first, uint32_t count)
{
    const int e = 446 + 16 * i;
    s[e + 4] = char(type);
    for (int b = 0; b < 4; ++b) {
        s[e + 8 + b] = char(first >> (8 * b));
        s[e + 12 + b] = char(count >> (8 * b));
    }
}

// The sector of the record that the link of the record at `ebr` points to.
uint64_t linkOf(const QString &image, uint64_t base, uint64_t ebr)
{
    return base + le32At(readSector(image, ebr), 446 + 16 + 8);
}

} // namespace

class TestDisks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { SetLibVariant(TLibVariant::Console); }

    void formatDiskSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        const qint64 gib = qint64(1) << 30;
        QTest::newRow("zero") << qint64(0) << "0 MB";
        QTest::newRow("under 1 MiB") << qint64(1048575) << "0 MB";
        QTest::newRow("1 GiB - 1") << gib - 1 << "1023 MB";
        QTest::newRow("1 GiB") << gib << "1.0 GB";
        QTest::newRow("1.5 GiB") << gib + gib / 2 << "1.5 GB";
        QTest::newRow("1 GiB + 1 MiB - 1") << gib + 1048575 << "1.0 GB";
        QTest::newRow("2^40") << (qint64(1) << 40) << "1024.0 GB";
        QTest::newRow("-1") << qint64(-1) << "0 MB";
        QTest::newRow("-1 MiB") << qint64(-1048576) << "-1 MB";
    }
    void formatDiskSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(FormatDiskSize(bytes), text);
    }
    void formatDiskSizeUsesNumberFormat()
    {
        // The decimal separator is the one of the process's number format.
        FakeLocales locales;
        if (!locales.useNumeric(QStringLiteral("xx_COMMA"), QLatin1Char(',')))
            QSKIP("localedef cannot make a locale here");
        const qint64 gib = qint64(1) << 30;
        QCOMPARE(FormatDiskSize(gib + gib / 2), QStringLiteral("1,5 GB"));
        QCOMPARE(FormatDiskSize(gib - 1), QStringLiteral("1023 MB"));
    }

    void partTypeName_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name");
        const std::pair<int, const char *> rows[] = {
            {0x00, "<UNKNOWN>"}, {0x05, "Extern"}, {0x0F, "Extern"}, {0x06, "FAT16"},
            {0x0E, "FAT16"},     {0x07, "NTFS"},   {0x0B, "FAT32"},  {0x0C, "FAT32"},
            {0x0D, "<UNKNOWN>"}, {0x82, "Linux Swap"}, {0x83, "Linux"}, {0x85, "<UNKNOWN>"},
            {0x8E, "<UNKNOWN>"}, {0xFD, "Linux RAID"}, {0xFF, "<UNKNOWN>"}};
        for (const auto &r : rows)
            QTest::addRow("0x%02x", r.first) << r.first << QString::fromLatin1(r.second);
    }
    void partTypeName()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        QCOMPARE(GetPartTypeName(uint8_t(type)), name);
    }

    void collectionsAnswerNilOutsideTheirRange()
    {
        TDiskItems disks;
        QVERIFY(!disks.GetItem(0));
        TDiskItem *disk = disks.Add();
        QCOMPARE(disk->Collection(), &disks);
        QVERIFY(disk->VolItems() && disk->VolItems()->Count() == 0);
        QCOMPARE(disk->VolItems()->Owner(), disk);
        QVERIFY(!disk->VolItems()->GetItem(0));
        disk->VolItems()->Add();
        QVERIFY(!disk->VolItems()->GetItem(-1));
        QVERIFY(!disk->VolItems()->GetItem(1));
        QVERIFY(disk->VolItems()->GetItem(0));
        QVERIFY(!disks.GetItem(-1) && !disks.GetItem(1));
        QCOMPARE(disks.GetItem(0), disk);
    }

    void assignReplacesPartitionsWithCopies()
    {
        TDiskItems disks;
        TDiskItem *src = disks.Add();
        src->Name = QStringLiteral("/dev/sdb");
        src->Size = 123456789;
        src->DiskIndex = 7;
        src->HostName = QStringLiteral("h");
        src->DiskVersion = 3;
        for (int i = 1; i <= 3; ++i) {
            TVolItem *v = src->VolItems()->Add();
            v->Name = QStringLiteral("/dev/sdb%1").arg(i);
            v->PartitionNumber = uint32_t(i);
            v->StartingOffset = i * 1000;
            v->PartitionLength = i * 4096;
            v->PartitionType = uint8_t(0x80 + i);
            v->HiddenSectors = uint32_t(i * 7);
            v->RootName = QStringLiteral("r%1").arg(i);
            v->VolName = QStringLiteral("v%1").arg(i);
            v->MountVolName = QStringLiteral("m%1").arg(i);
            v->BootIndicator = i == 2;
            v->RecognizedPartition = i == 1;
            v->RewritePartition = i == 3;
        }
        TDiskItem *dst = disks.Add();
        for (int i = 0; i < 5; ++i)
            dst->VolItems()->Add()->Name = QStringLiteral("old");
        TVolItems *dstVols = dst->VolItems();

        dst->Assign(*src);
        QCOMPARE(dst->VolItems(), dstVols);
        QCOMPARE(dst->Name, src->Name);
        QCOMPARE(qint64(dst->Size), qint64(src->Size));
        QCOMPARE(dst->DiskIndex, 7);
        QCOMPARE(dst->HostName, QString());   // the console's build has no such property
        QCOMPARE(partsOf(dst), partsOf(src));
        for (int i = 0; i < 3; ++i) {
            const TVolItem *a = src->VolItems()->GetItem(i), *b = dstVols->GetItem(i);
            QVERIFY(a != b);
            QCOMPARE(b->Collection(), dstVols);
            QCOMPARE(b->Name, a->Name);
            QCOMPARE(b->HiddenSectors, a->HiddenSectors);
            QCOMPARE(b->RootName, a->RootName);
            QCOMPARE(b->VolName, a->VolName);
            QCOMPARE(b->MountVolName, a->MountVolName);
            QCOMPARE(b->BootIndicator, a->BootIndicator);
            QCOMPARE(b->RecognizedPartition, a->RecognizedPartition);
            QCOMPARE(b->RewritePartition, a->RewritePartition);
        }

        SetLibVariant(TLibVariant::Tool);
        dst->Assign(*src);
        QCOMPARE(dst->HostName, QStringLiteral("h"));
        QCOMPARE(dst->DiskVersion, 3u);
    }

    void assignFromAnotherClassFailsAndKeepsTarget()
    {
        TDiskItems disks;
        TDiskItem *disk = disks.Add();
        disk->Name = QStringLiteral("/dev/sda");
        TVolItem *vol = disk->VolItems()->Add();
        vol->Name = QStringLiteral("/dev/sda1");
        try {
            vol->Assign(*disk);
            QFAIL("no error");
        } catch (const EConvertError &e) {
            QCOMPARE(e.Message(), QStringLiteral("Cannot assign a TDiskItem to a TVolItem"));
        }
        try {
            disk->Assign(*vol);
            QFAIL("no error");
        } catch (const EConvertError &e) {
            QCOMPARE(e.Message(), QStringLiteral("Cannot assign a TVolItem to a TDiskItem"));
        }
        QCOMPARE(vol->Name, QStringLiteral("/dev/sda1"));
        QCOMPARE(disk->Name, QStringLiteral("/dev/sda"));
        QCOMPARE(disk->VolItems()->Count(), 1);
    }

    void wholeDiskName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("whole");
        for (const char *n : {"sda", "sdz", "hdc", "sd0", "md0", "md12", "ctrl0/c0d0", "ctrl0/c1d12", "ctrl0/c0d"})
            QTest::newRow(n) << QString::fromLatin1(n) << true;
        for (const char *n : {"sda1", "sdaa", "Sda", "sDa", "md0p1", "loop0", "ram0", "fd0", "sr0",
                              "ctrl0/c0d0p1", "ctrl0/c0", "nvme0n1", ""})
            QTest::newRow(n) << QString::fromLatin1(n) << false;
    }
    void wholeDiskName()
    {
        QFETCH(QString, name);
        QFETCH(bool, whole);
        QCOMPARE(IsWholeDiskName(name), whole);
    }

    void scanListing_data()
    {
        QTest::addColumn<QByteArray>("listing");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<qint64>>("sizes");
        const QByteArray head = "major minor  #blocks  name\n\n";
        QTest::newRow("disks, not partitions")
            << head + "   8        0   41943040 sda\n   8        1   41942016 sda1\n   9        0   83884032 md0\n"
            << QStringList{"/dev/sda", "/dev/md0"} << QList<qint64>{41943040LL * 1024, 83884032LL * 1024};
        QTest::newRow("32 MiB is the least")
            << head + "8 0 32767 sda\n8 16 32768 sdb\n8 32 -5 sdc\n"
            << QStringList{"/dev/sdb"} << QList<qint64>{32768LL * 1024};
        QTest::newRow("tabs, extra fields, no final newline")
            << QByteArray("8\t0\t65536\tsda\textra fields\n8 16 65536 sdb")
            << QStringList{"/dev/sda", "/dev/sdb"} << QList<qint64>{65536LL * 1024, 65536LL * 1024};
        const QByteArray name63 = "md" + QByteArray(61, 'x');
        QTest::newRow("field of 63 kept, of 64 skipped")
            << head + "9 1 65536 " + name63 + "\n9 2 65536 " + name63 + "y\n9 3 65536 md3\n"
            << QStringList{"/dev/" + QString::fromLatin1(name63), "/dev/md3"}
            << QList<qint64>{65536LL * 1024, 65536LL * 1024};
        QTest::newRow("very long line read in pieces")
            << head + "9 1 65536 md" + QByteArray(1000, 'x') + "\n8 0 65536 sda\n"
            << QStringList{"/dev/sda"} << QList<qint64>{65536LL * 1024};
        QTest::newRow("header only") << QByteArray("major minor  #blocks  name\n") << QStringList{}
                                     << QList<qint64>{};
        // A line of more than 255 characters is read as pieces, each a line.
        QTest::newRow("piece of 255 characters, then the rest")
            << "9 0 65536 md0" + QByteArray(255 - 13, ' ') + "8 0 65536 sda\n" << QStringList{"/dev/md0", "/dev/sda"}
            << QList<qint64>{65536LL * 1024, 65536LL * 1024};
        QTest::newRow("every kind of blank") << QByteArray("8\v0\f65536\tsda\r\n") << QStringList{"/dev/sda"}
                                             << QList<qint64>{65536LL * 1024};
        QTest::newRow("leading zeros are decimal") << QByteArray("8 0 0032768 sda\n") << QStringList{"/dev/sda"}
                                                   << QList<qint64>{32768LL * 1024};
        QTest::newRow("bytes past 63 bits")
            << QByteArray("8 0 9223372036854775807 sda\n8 16 9007199254740992 sdb\n")
            << QStringList{"/dev/sda", "/dev/sdb"}
            << QList<qint64>{std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()};
    }
    void scanListing()
    {
        QFETCH(QByteArray, listing);
        QFETCH(QStringList, names);
        QFETCH(QList<qint64>, sizes);
        ScratchRoot root;
        root.write(QStringLiteral("/proc/partitions"), listing);
        TDiskItems disks;
        disks.ScanKernelDisks();
        QStringList gotNames;
        QList<qint64> gotSizes;
        for (int i = 0; i < disks.Count(); ++i) {
            gotNames << disks.GetItem(i)->Name;
            gotSizes << disks.GetItem(i)->Size;
            QCOMPARE(disks.GetItem(i)->VolItems()->Count(), 0);
        }
        QCOMPARE(gotNames, names);
        QCOMPARE(gotSizes, sizes);
    }

    void missingListingGivesNoDisks()
    {
        ScratchRoot root;
        TDiskItems disks;
        disks.Add();
        disks.Refresh();
        QCOMPARE(disks.Count(), 0);
    }

    void nonIntegerCountEndsRefreshKeepingEarlierDisks()
    {
        ScratchRoot root;
        makeImage(root.path("/dev/sda"), ",8192,83\n");
        root.write(QStringLiteral("/proc/partitions"), "8 0 65536 sda\n8 16 12x sdb\n8 32 65536 sdc\n");
        TDiskItems disks;
        try {
            disks.Refresh();
            QFAIL("no error");
        } catch (const EConvertError &e) {
            QCOMPARE(e.Message(), QStringLiteral("'12x' is not a valid integer value"));
        }
        QCOMPARE(disks.Count(), 1);
        QCOMPARE(disks.GetItem(0)->VolItems()->Count(), 0);   // no table was read
        QCOMPARE(qint64(disks.GetItem(0)->Size), 65536LL * 1024);
    }

    // Each row: an image written by sfdisk (then maybe patched), read by
    // Refresh and compared with what sfdisk reads from it (or from the image
    // the patch took its records from).
    void realImages_data()
    {
        QTest::addColumn<QString>("disk");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("patch");
        QTest::addColumn<QString>("prefix");
        const QByteArray logicals = ",8192,83\n,,5\n,8192,83\n,4096,82\n,,fd\n";
        QTest::newRow("primaries") << "sda" << QByteArray(",8192,83\n,8192,c\n,4096,82\n,,fd\n") << ""
                                   << "/dev/sda";
        QTest::newRow("three logicals") << "sdb" << logicals << "" << "/dev/sdb";
        QTest::newRow("slot 3 only") << "sdc" << QByteArray("X3 : start=4096, size=8192, type=7\n")
                                     << "" << "/dev/sdc";
        QTest::newRow("0x85 is no chain")
            << "sdd"
            << QByteArray("X1 : start=2048, size=8192, type=83\nX2 : start=10240, size=40960, type=85\n"
                          "X5 : start=12288, size=8192, type=83\n")
            << "not followed" << "/dev/sdd";
        QTest::newRow("array name") << "md0" << logicals << "" << "/dev/md0p";
        QTest::newRow("array name ending in 9") << "md9" << logicals << "" << "/dev/md9p";
        QTest::newRow("controller name") << "ctrl0/c0d0" << logicals << "" << "/dev/ctrl0/c0d0p";
        QTest::newRow("two extended entries") << "hda" << logicals << "second extended" << "/dev/hda";
        QTest::newRow("second record unsigned") << "sde" << logicals << "unsign second" << "/dev/sde";
        QTest::newRow("table unsigned") << "sdh" << logicals << "unsign first" << "/dev/sdh";
        // Records past 4 GiB: their offsets and the disk's size take 64 bits.
        QTest::newRow("logicals past 4 GiB") << "sdi" << QByteArray(",8388608,83\n,,5\n,8192,83\n,8192,83\n")
                                            << "on a 5 GiB disk" << "/dev/sdi";
        QTest::newRow("chain loops back") << "sdf" << logicals << "loop" << "/dev/sdf";
        QTest::newRow("record links to itself") << "sdg" << logicals << "self link" << "/dev/sdg";
    }
    void realImages()
    {
        QFETCH(QString, disk);
        QFETCH(QByteArray, script);
        QFETCH(QString, patch);
        QFETCH(QString, prefix);
        ScratchRoot root;
        const QString image = root.path("/dev/" + disk);
        makeImage(image, script.replace("X", QFile::encodeName(image)), patch == "on a 5 GiB disk" ? 5120 : 64);
        const QList<Part> written = sfdiskParts(image);
        QVERIFY(!written.isEmpty());
        QList<Part> expected = withoutChainsAndAbove(written, 99);

        const uint64_t base = [&] {
            for (const Part &p : written)
                if (p.type == 5)
                    return uint64_t(p.start / 512);
            return uint64_t(0);
        }();
        if (patch == "not followed") {
            // sfdisk follows 0x85 into its logical partition; this reader lists
            // the entry itself and nothing behind it.
            QCOMPARE(written.last().number, 5u);
            expected = withoutChainsAndAbove(written, 4);
        } else if (patch == "second extended") {
            // sfdisk writes only one extended entry: take a second chain from
            // another image and enter it in slot 4 of this one's table.
            const QString other = root.path("/other");
            makeImage(other, ",51200,83\n,,5\n,4096,83\n,,83\n");
            const QList<Part> otherParts = sfdiskParts(other);
            const Part ext = otherParts.at(1);
            QCOMPARE(ext.type, 5);
            QVERIFY(ext.start / 512 > 30000);   // beyond this image's own records
            runTool(QStringLiteral("dd if='%1' of='%2' bs=512 skip=%3 seek=%3 count=%4 conv=notrunc status=none")
                        .arg(other, image)
                        .arg(ext.start / 512)
                        .arg(ext.size / 512));
            QByteArray mbr = readSector(image, 0);
            setEntry(mbr, 3, 0x0F, uint32_t(ext.start / 512), uint32_t(ext.size / 512));
            writeSector(image, 0, mbr);
            // Primaries of this table, then the later entry's logicals.
            expected = withoutChainsAndAbove(written, 4) + withoutChainsAndAbove(otherParts, 99).mid(1);
        } else if (patch == "unsign first") {
            // Byte 511 here, byte 510 in the chain's record below: each half
            // of the signature counts.
            QByteArray mbr = readSector(image, 0);
            mbr[511] = 0;
            writeSector(image, 0, mbr);
            expected.clear();
        } else if (patch == "on a 5 GiB disk") {
            QVERIFY(base > 8388608);
        } else if (!patch.isEmpty()) {
            const uint64_t second = linkOf(image, base, base);
            QByteArray rec = readSector(image, second);
            if (patch == "unsign second") {
                rec[510] = 0;
                expected = withoutChainsAndAbove(written, 5);
            } else {
                // Link of the second record back to the first, or to itself.
                setEntry(rec, 1, 0x05, patch == "loop" ? 0 : uint32_t(second - base), 1);
                expected = withoutChainsAndAbove(written, 6);
            }
            writeSector(image, second, rec);
        }

        const qint64 blocks = QFileInfo(image).size() / 1024;
        root.write("/proc/partitions", "major minor  #blocks  name\n\n 8 0 "
                                           + QByteArray::number(blocks) + " " + QFile::encodeName(disk) + "\n");
        TDiskItems disks;
        disks.Refresh();
        QCOMPARE(disks.Count(), 1);
        const TDiskItem *d = disks.GetItem(0);
        QCOMPARE(d->Name, "/dev/" + disk);
        QCOMPARE(qint64(d->Size), QFileInfo(image).size());
        QCOMPARE(partsOf(d), expected);
        for (int i = 0; i < d->VolItems()->Count(); ++i) {
            const TVolItem *v = d->VolItems()->GetItem(i);
            QCOMPARE(v->Name, prefix + QString::number(v->PartitionNumber));
        }
    }

    void chainOfEmptyRecordsIsBounded_data()
    {
        QTest::addColumn<int>("empties");
        QTest::addColumn<bool>("listed");
        QTest::newRow("bound - 1") << MaxEmptyChainRecords - 1 << true;
        QTest::newRow("bound") << MaxEmptyChainRecords << false;
    }
    void chainOfEmptyRecordsIsBounded()
    {
        // Records at sectors 100, 101, ...: `empties` holding only a link,
        // then one with a partition.
        QFETCH(int, empties);
        QFETCH(bool, listed);
        std::map<uint64_t, QByteArray> disk;
        QByteArray mbr(512, 0);
        mbr[510] = char(0x55);
        mbr[511] = char(0xAA);
        setEntry(mbr, 0, 0x05, 100, 100000);
        disk[0] = mbr;
        for (int i = 0; i <= empties; ++i) {
            QByteArray rec(512, 0);
            rec[510] = char(0x55);
            rec[511] = char(0xAA);
            if (i < empties)
                setEntry(rec, 1, 0x0F, uint32_t(i + 1), 1);
            else
                setEntry(rec, 0, 0x83, 1, 8);
            disk[100 + uint64_t(i)] = rec;
        }
        int reads = 0;
        const auto parts = ParsePartitionTable([&](uint64_t sector, uint8_t *buf) {
            ++reads;
            const auto it = disk.find(sector);
            if (it == disk.end())
                return false;
            memcpy(buf, it->second.constData(), 512);
            return true;
        });
        QCOMPARE(parts.size(), size_t(listed ? 1 : 0));
        QVERIFY(reads <= MaxEmptyChainRecords + 1);
        if (listed) {
            QCOMPARE(parts[0].Number, 5u);
            QCOMPARE(qint64(parts[0].StartingOffset), (100 + empties + 1) * 512LL);
        }
    }

    void chainStopsAtPartitionLimit_data()
    {
        QTest::addColumn<int>("primaries");
        QTest::addColumn<int>("perRecord");   // data entries in every chain record
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("listed");
        QTest::newRow("one short of the limit") << 0 << 1 << 255 << 255;
        QTest::newRow("exactly the limit") << 0 << 1 << 256 << 256;
        QTest::newRow("every sector a record") << 0 << 1 << 5000 << 256;
        QTest::newRow("primaries count too") << 3 << 1 << 400 << 256;
        QTest::newRow("limit inside a record") << 1 << 3 << 200 << 256;
    }
    void chainStopsAtPartitionLimit()
    {
        // A stick whose every sector is a chain record with data: records at
        // sectors 1, 2, 3, ... each linking to the next.
        QFETCH(int, primaries);
        QFETCH(int, perRecord);
        QFETCH(int, records);
        QFETCH(int, listed);
        QByteArray mbr(512, 0);
        mbr[510] = char(0x55);
        mbr[511] = char(0xAA);
        for (int i = 0; i < primaries; ++i)
            setEntry(mbr, i, 0x83, uint32_t(100000 + i), 1);
        setEntry(mbr, 3, 0x05, 1, uint32_t(records));
        QByteArray rec(512, 0);
        rec[510] = char(0x55);
        rec[511] = char(0xAA);
        for (int i = 0; i < perRecord; ++i)
            setEntry(rec, i, 0x83, uint32_t(i + 1), 1);
        int reads = 0;
        uint64_t last = 0;
        const auto parts = ParsePartitionTable([&](uint64_t sector, uint8_t *buf) {
            ++reads;
            last = sector;
            if (sector > uint64_t(records))
                return false;
            if (sector == 0) {
                memcpy(buf, mbr.constData(), 512);
                return true;
            }
            QByteArray s = rec;
            if (sector < uint64_t(records))
                setEntry(s, 3, 0x05, uint32_t(sector), 1);   // the next record, counted from the base
            memcpy(buf, s.constData(), 512);
            return true;
        });
        QCOMPARE(int(parts.size()), listed);
        const int logicals = listed - primaries;
        QCOMPARE(parts.back().Number, uint32_t(4 + logicals));
        QCOMPARE(int(last), (logicals + perRecord - 1) / perRecord);   // no record read past the limit
        QCOMPARE(reads, 1 + int(last));
    }

    void chainLinkingBackwardsIsFollowed()
    {
        // A logical partition added in a gap before the others: its record
        // sits earlier on the disk but comes last in the chain.
        auto record = [](uint32_t dataStart, uint32_t link) {
            QByteArray rec(512, 0);
            rec[510] = char(0x55);
            rec[511] = char(0xAA);
            setEntry(rec, 0, 0x83, dataStart, 8);
            if (link)
                setEntry(rec, 1, 0x05, link, 1);
            return rec;
        };
        std::map<uint64_t, QByteArray> disk;
        QByteArray mbr(512, 0);
        mbr[510] = char(0x55);
        mbr[511] = char(0xAA);
        setEntry(mbr, 0, 0x05, 100, 100000);
        disk[0] = mbr;
        disk[100] = record(1, 200);   // -> 300
        disk[300] = record(1, 100);   // -> 200, backwards
        disk[200] = record(1, 0);
        const auto parts = ParsePartitionTable([&](uint64_t sector, uint8_t *buf) {
            const auto it = disk.find(sector);
            if (it == disk.end())
                return false;
            memcpy(buf, it->second.constData(), 512);
            return true;
        });
        QCOMPARE(parts.size(), size_t(3));
        QCOMPARE(parts[2].Number, 7u);
        QCOMPARE(qint64(parts[2].StartingOffset), 201 * 512LL);
    }

    // Tables made by hand, sector by sector: entries as {sector, slot, type,
    // first, count}; a sector named by no entry cannot be read, one listed
    // in `unreadable` is filled all the same but reported short.
    void handMadeTables_data()
    {
        QTest::addColumn<QList<QList<qint64>>>("entries");
        QTest::addColumn<QList<qint64>>("unreadable");
        QTest::addColumn<QStringList>("parts");
        using E = QList<qint64>;
        const qint64 top = 0xFFFFFFFFLL;
        QTest::newRow("extended entry at sector 0 starts no chain")
            << QList<E>{{0, 0, 0x83, 2048, 8}, {0, 1, 0x05, 0, 100}} << E{} << QStringList{"#1 type 83 @1048576 +4096"};
        QTest::newRow("32-bit fields at their top")
            << QList<E>{{0, 1, 0x83, top - 255, top}} << E{}
            << QStringList{QStringLiteral("#2 type 83 @%1 +%2").arg((top - 255) * 512).arg(top * 512)};
        // The second record lies past 2^32 sectors: base and link add up in 64 bits.
        const qint64 base = top - 4095;
        QTest::newRow("chain past 2^32 sectors")
            << QList<E>{{0, 3, 0x0F, base, top}, {base, 0, 0x83, 2048, 8}, {base, 1, 0x05, 65536, 8},
                        {base + 65536, 0, 0x07, 2048, 8}}
            << E{}
            << QStringList{QStringLiteral("#5 type 83 @%1 +4096").arg((base + 2048) * 512),
                           QStringLiteral("#6 type 7 @%1 +4096").arg((base + 65536 + 2048) * 512)};
        // Runs of records that hold only a link, each shorter than the bound
        // but longer together: a record with data starts the count afresh.
        QList<E> runs{{0, 0, 0x05, 100, 100000}};
        const int run = MaxEmptyChainRecords - 10;
        QStringList found;
        for (int i = 0; i < 3 * (run + 1); ++i) {
            const bool data = i % (run + 1) == run;
            if (data) {
                runs << E{100 + i, 0, 0x83, 1, 8};
                found << QStringLiteral("#%1 type 83 @%2 +4096").arg(5 + found.size()).arg((101 + i) * 512LL);
            }
            if (i + 1 < 3 * (run + 1))
                runs << E{100 + i, 1, 0x05, i + 1, 1};
        }
        QTest::newRow("empty runs under the bound") << runs << E{} << found;
        QTest::newRow("the last link of a record counts")
            << QList<E>{{0, 0, 0x05, 100, 100}, {100, 0, 0x05, 50, 1}, {100, 1, 0x83, 1, 8}, {100, 2, 0x05, 10, 1},
                        {110, 0, 0x83, 1, 8}, {150, 0, 0x07, 1, 8}}
            << E{} << QStringList{"#5 type 83 @51712 +4096", "#6 type 83 @56832 +4096"};
        QTest::newRow("short read of sector 0")
            << QList<E>{{0, 0, 0x83, 2048, 8}} << E{0} << QStringList{};
        QTest::newRow("short read of a chain record")
            << QList<E>{{0, 0, 0x83, 2048, 8}, {0, 1, 0x05, 100, 100}, {100, 0, 0x83, 1, 8}} << E{100}
            << QStringList{"#1 type 83 @1048576 +4096"};
    }
    void handMadeTables()
    {
        QFETCH(QList<QList<qint64>>, entries);
        QFETCH(QList<qint64>, unreadable);
        QFETCH(QStringList, parts);
        std::map<uint64_t, QByteArray> disk;
        for (const QList<qint64> &e : entries) {
            QByteArray &s = disk[uint64_t(e[0])];
            if (s.isEmpty()) {
                s = QByteArray(512, 0);
                s[510] = char(0x55);
                s[511] = char(0xAA);
            }
            setEntry(s, int(e[1]), uint8_t(e[2]), uint32_t(e[3]), uint32_t(e[4]));
        }
        const auto got = ParsePartitionTable([&](uint64_t sector, uint8_t *buf) {
            const auto it = disk.find(sector);
            if (it == disk.end())
                return false;
            memcpy(buf, it->second.constData(), 512);
            return !unreadable.contains(qint64(sector));
        });
        QStringList texts;
        for (const TPartEntry &p : got)
            texts << QStringLiteral("#%1 type %2 @%3 +%4")
                         .arg(p.Number)
                         .arg(p.Type, 0, 16)
                         .arg(qint64(p.StartingOffset))
                         .arg(qint64(p.PartitionLength));
        QCOMPARE(texts, parts);
    }

    // A disk that cannot be opened keeps its listed size in bytes and no
    // partitions; every other disk is read; the open errors come afterwards,
    // once each, in one exception.
    void failedOpenSkippedInConsole_data()
    {
        QTest::addColumn<QByteArray>("partitions");
        QTest::addColumn<QStringList>("missing");
        QTest::addColumn<QStringList>("disks");   // name, size in bytes, partitions
        QTest::newRow("one in the middle")
            << QByteArray("3 0 40000 hda\n8 0 65536 sda\n8 16 409600 sdb\n8 32 65536 sdc\n")
            << QStringList{"/dev/sdb"}
            << QStringList{"/dev/hda 100 0", "/dev/sda 67108864 1", "/dev/sdb 419430400 0",
                           "/dev/sdc 67108864 2"};
        QTest::newRow("first and last")
            << QByteArray("8 16 409600 sdb\n8 0 65536 sda\n8 32 65536 sdc\n8 48 70000 sdd\n")
            << QStringList{"/dev/sdb", "/dev/sdd"}
            << QStringList{"/dev/sdb 419430400 0", "/dev/sda 67108864 1", "/dev/sdc 67108864 2",
                           "/dev/sdd 71680000 0"};
        QTest::newRow("none") << QByteArray("8 0 65536 sda\n8 32 65536 sdc\n") << QStringList()
                              << QStringList{"/dev/sda 67108864 1", "/dev/sdc 67108864 2"};
    }
    void failedOpenSkippedInConsole()
    {
        QFETCH(QByteArray, partitions);
        QFETCH(QStringList, missing);
        QFETCH(QStringList, disks);
        ScratchRoot root;
        makeImage(root.path("/dev/sda"), ",8192,83\n");
        makeImage(root.path("/dev/sdc"), ",8192,83\n,8192,82\n");
        root.write("/dev/hda", QByteArray(100, 'x'));   // shorter than one sector
        root.write("/proc/partitions", partitions);
        TDiskItems items;
        QStringList errors;
        try {
            items.Refresh();
        } catch (const Exception &e) {
            errors = e.Message().split(QLatin1Char('\n'));
        }
        QStringList expected;
        for (const QString &m : missing)
            expected << QStringLiteral("error 2 open file \"%1\"").arg(root.path(m));
        QCOMPARE(errors, expected);
        QStringList got;
        for (int i = 0; i < items.Count(); ++i) {
            const TDiskItem *d = items.GetItem(i);
            got << QStringLiteral("%1 %2 %3").arg(d->Name).arg(d->Size).arg(d->VolItems()->Count());
        }
        QCOMPARE(got, disks);
    }

    void failedOpenInToolKeepsGoing()
    {
        ScratchRoot root;
        makeImage(root.path("/dev/sdc"), ",8192,83\n");
        root.write("/proc/partitions", "8 16 70000 sdb\n8 32 65536 sdc\n");
        SetLibVariant(TLibVariant::Tool);
        const bool oldDebug = DebugToConsole;
        DebugToConsole = true;
        TDiskItems disks;
        disks.Refresh();
        DebugToConsole = oldDebug;
        QCOMPARE(disks.Count(), 2);
        QCOMPARE(qint64(disks.GetItem(0)->Size), qint64(-1));
        QCOMPARE(disks.GetItem(0)->VolItems()->Count(), 0);
        QCOMPARE(disks.GetItem(0)->GetSizeText(), QStringLiteral("0 MB"));
        QCOMPARE(disks.GetItem(1)->VolItems()->Count(), 1);
    }

    void fuzzRegressions_data()
    {
        QTest::addColumn<QString>("file");
        const QDir dir(QStringLiteral(TEST_DATA_DIR "/fuzz-regressions"));
        for (const QString &f : dir.entryList(QDir::Files))
            QTest::newRow(qPrintable(f)) << dir.filePath(f);
        if (dir.entryList(QDir::Files).isEmpty())
            QTest::newRow("none") << QString();
    }
    void fuzzRegressions()
    {
        QFETCH(QString, file);
        if (file.isEmpty())
            QSKIP("no stored inputs");
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray image = f.readAll();
        int reads = 0;
        const auto parts = ParsePartitionTable([&](uint64_t sector, uint8_t *buf) {
            ++reads;
            if (sector >= uint64_t(image.size()) / 512)
                return false;
            memcpy(buf, image.constData() + sector * 512, 512);
            return true;
        });
        QVERIFY(reads <= image.size() / 512 + 1);
        uint32_t logical = 4;
        for (const TPartEntry &p : parts) {
            QVERIFY(p.Number >= 1 && p.PartitionLength >= 0 && p.StartingOffset >= 0);
            QVERIFY(p.Type != 0 && p.Type != 0x05 && p.Type != 0x0F);
            if (p.Number > 4)
                QCOMPARE(p.Number, ++logical);
        }
    }
};

QTEST_GUILESS_MAIN(TestDisks)
#include "tst_disks.moc"
