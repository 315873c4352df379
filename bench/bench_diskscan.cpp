// Times TDiskItems::Refresh over 256 disk images and prints it as a ratio to
// a floor measured in the same run: the plainest fast way to do the same
// job. The floor reads the kernel listing with fgets and strtoll, keeps the
// whole disks of at least 32 MiB with their names as QStrings, and for each
// disk makes one open, one lseek to its end for its size, one 512-byte pread
// per table sector (the master record, then the chain its last extended entry
// starts) and one close, and names and measures every partition. It must
// find the same disks, sizes and partitions as the refresh. Target: the
// refresh at most 1.3 times the floor's time (medians).
//
//   bench_diskscan [disks]      (default 256)
#include "benchutil.h"
#include "vkDskUtils.h"
#include "vkPaths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QVector>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

int diskCount = 256;
constexpr int kRepetitions = 15;
constexpr double kTarget = 1.3;
constexpr qint64 kImageBytes = 64LL << 20;

struct Bench {
    QByteArray listingPath;
    int sectors = 0;   // table sectors a refresh reads
};

// What the floor finds: the fields any caller of the refresh reads.
struct FloorPartition {
    QString name;
    int number;
    int type;
    qint64 start, length;
};
struct FloorDisk {
    QString name;
    qint64 size;
    std::vector<FloorPartition> partitions;
};

uint32_t le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// The plain partition reader: the four slots of the master record, then the
// chain of the last extended one, each data entry counted from its own
// record, each link from the chain's base; at most 256 records.
void floorPartitions(int fd, FloorDisk &d)
{
    unsigned char s[512];
    if (::pread(fd, s, 512, 0) != 512 || s[510] != 0x55 || s[511] != 0xAA)
        return;
    const QString prefix = d.name.back().isDigit() ? d.name + QLatin1Char('p') : d.name;
    auto add = [&](int number, const unsigned char *e, qint64 base) {
        d.partitions.push_back({prefix + QString::number(number), number, e[4], (base + le32(e + 8)) * 512,
                                qint64(le32(e + 12)) * 512});
    };
    qint64 extended = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned char *e = s + 446 + 16 * i;
        if (e[4] == 0x05 || e[4] == 0x0F)
            extended = le32(e + 8);
        else if (e[4])
            add(i + 1, e, 0);
    }
    int number = 4;
    for (qint64 record = extended, n = 0; record && n < 256; ++n) {
        if (::pread(fd, s, 512, record * 512) != 512 || s[510] != 0x55 || s[511] != 0xAA)
            break;
        const qint64 here = record;
        record = 0;
        for (int i = 0; i < 4; ++i) {
            const unsigned char *e = s + 446 + 16 * i;
            if (e[4] == 0x05 || e[4] == 0x0F)
                record = extended + le32(e + 8);
            else if (e[4])
                add(++number, e, here);
        }
    }
}

// Writes the images, the listing, and the list of sectors a refresh reads.
Bench build(const QString &root)
{
    Bench b;
    QByteArray listing = "major minor  #blocks  name\n\n";
    for (int i = 0; i < diskCount; ++i) {
        const QString name = bench::diskName(i);
        const QString path = root + QStringLiteral("/dev/") + name;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || !f.resize(kImageBytes))
            qFatal("cannot write %s", qPrintable(path));
        std::vector<qint64> sectors{0};
        if (i % 4 == 3) {
            // Primary, then an extended partition with three logicals.
            f.write(bench::tableSector({{0x83, {2048, 8192}}, {0x05, {10240, 120832}}}));
            const uint32_t ebr[3] = {10240, 20480, 30720};
            for (int r = 0; r < 3; ++r) {
                bench::TTableEntries e{{0x83, {2048, 8192}}};
                if (r < 2)
                    e.push_back({0x05, {ebr[r + 1] - ebr[0], 10240}});
                f.seek(qint64(ebr[r]) * 512);
                f.write(bench::tableSector(e));
                sectors.push_back(ebr[r]);
            }
        } else {
            f.write(bench::tableSector({{0x83, {2048, 65536}}, {0x82, {67584, 8192}}, {0xfd, {75776, 20480}}}));
        }
        b.sectors += int(sectors.size());
        listing += "   8 " + QByteArray::number(i) + " 65536 " + name.toLatin1() + "\n";
        listing += "   8 " + QByteArray::number(i) + " 32768 " + name.toLatin1() + (name.back().isDigit() ? "p1\n" : "1\n");
    }
    QFile l(root + QStringLiteral("/proc/partitions"));
    if (!l.open(QIODevice::WriteOnly))
        qFatal("cannot write the listing");
    l.write(listing);
    b.listingPath = QFile::encodeName(l.fileName());
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1)
        diskCount = std::max(1, std::atoi(argv[1]));
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no scratch directory");
    QDir().mkpath(dir.path() + QStringLiteral("/dev"));
    QDir().mkpath(dir.path() + QStringLiteral("/proc"));
    const Bench b = build(dir.path());
    SetSystemRootForTesting(dir.path());

    const QByteArray root = QFile::encodeName(dir.path());

    TDiskItems disks;
    auto refreshOnce = [&] { disks.Refresh(); };
    std::vector<FloorDisk> found;
    auto floorOnce = [&] {
        found.clear();
        FILE *listing = std::fopen(b.listingPath.constData(), "re");
        if (!listing)
            qFatal("cannot open the listing");
        char line[256];
        while (std::fgets(line, sizeof line, listing)) {
            // major, minor, blocks, name; the heading and the empty line
            // have no numbers.
            char *p = line, *end = nullptr;
            long long blocks = 0;
            int numbers = 0;
            for (; numbers < 3; ++numbers, p = end) {
                blocks = std::strtoll(p, &end, 10);
                if (end == p)
                    break;
            }
            if (numbers < 3 || blocks < 32768)
                continue;
            while (*p == ' ' || *p == '\t')
                ++p;
            const char *name = p;
            while (*p > ' ')
                ++p;
            *p = 0;
            const QString disk = QString::fromLocal8Bit(name, p - name);
            if (!IsWholeDiskName(disk))
                continue;
            FloorDisk d{QStringLiteral("/dev/") + disk, blocks * 1024, {}};
            const QByteArray path = root + "/dev/" + name;
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                qFatal("cannot open %s", path.constData());
            d.size = ::lseek(fd, 0, SEEK_END);
            floorPartitions(fd, d);
            ::close(fd);
            found.push_back(std::move(d));
        }
        std::fclose(listing);
    };
    // The two take turns, so that both meet the same load.
    const auto times = bench::takeTurns(kRepetitions, {{refreshOnce}, {floorOnce}});
    const std::vector<double> &refresh = times[0], &floor = times[1];

    // Both found the same: disks, sizes and partitions, field for field.
    if (disks.Count() != diskCount || int(found.size()) != diskCount)
        qFatal("the refresh listed %d disks, the floor %d, expected %d", disks.Count(), int(found.size()), diskCount);
    int partitions = 0;
    for (int i = 0; i < diskCount; ++i) {
        const TDiskItem *disk = disks.GetItem(i);
        const FloorDisk &f = found[size_t(i)];
        TVolItems *vols = disk->VolItems();
        if (disk->Name != f.name || disk->Size != f.size || vols->Count() != int(f.partitions.size()))
            qFatal("disk %d: the refresh found %s (%lld bytes, %d partitions), the floor %s (%lld bytes, %d)", i,
                   qPrintable(disk->Name), qlonglong(disk->Size), vols->Count(), qPrintable(f.name),
                   qlonglong(f.size), int(f.partitions.size()));
        for (int p = 0; p < vols->Count(); ++p) {
            const TVolItem *v = vols->GetItem(p);
            const FloorPartition &fp = f.partitions[size_t(p)];
            if (v->Name != fp.name || int(v->PartitionNumber) != fp.number || int(v->PartitionType) != fp.type
                || v->StartingOffset != fp.start || v->PartitionLength != fp.length)
                qFatal("%s: the refresh and the floor disagree on a partition", qPrintable(v->Name));
        }
        partitions += vols->Count();
    }

    const double best = refresh.front() / floor.front();
    const double median = bench::median(refresh) / bench::median(floor);
    const bool met = median <= kTarget;
    std::printf("disks %d, partitions %d, table sectors %d (the same in the refresh and the floor)\n", disks.Count(),
                partitions, b.sectors);
    std::printf("refresh best %.1f us, median %.1f us\n", refresh.front() * 1e6, bench::median(refresh) * 1e6);
    std::printf("floor   best %.1f us, median %.1f us\n", floor.front() * 1e6, bench::median(floor) * 1e6);
    std::printf("ratio best %.2f, median %.2f (target: median <= %.1f: %s)\n", best, median, kTarget,
                met ? "met" : "missed");
    SetSystemRootForTesting(QString());
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
