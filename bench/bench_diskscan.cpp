// Times TDiskItems::Refresh over 256 disk images and prints it as a ratio to
// a floor measured in the same run: the kernel listing read whole, then for
// every disk one open, one 512-byte pread per table sector and one close.
// Target: the refresh at most twice the floor's time.
#include "benchutil.h"
#include "vkDskUtils.h"
#include "vkPaths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int kDisks = 256;
constexpr int kRepetitions = 15;
constexpr qint64 kImageBytes = 64LL << 20;

struct Bench {
    QByteArray listingPath;
    struct Disk {
        QByteArray path;
        std::vector<qint64> offsets;   // each table sector the refresh reads
    };
    std::vector<Disk> disks;
    int sectors = 0;
};

// Writes the images, the listing, and the list of sectors a refresh reads.
Bench build(const QString &root)
{
    Bench b;
    QByteArray listing = "major minor  #blocks  name\n\n";
    for (int i = 0; i < kDisks; ++i) {
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
        Bench::Disk d{QFile::encodeName(path), {}};
        for (qint64 s : sectors)
            d.offsets.push_back(s * 512);
        b.sectors += int(sectors.size());
        b.disks.push_back(std::move(d));
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

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no scratch directory");
    QDir().mkpath(dir.path() + QStringLiteral("/dev"));
    QDir().mkpath(dir.path() + QStringLiteral("/proc"));
    const Bench b = build(dir.path());
    SetSystemRootForTesting(dir.path());

    TDiskItems disks;
    int partitions = 0;
    long checksum = 0;
    auto refreshOnce = [&] {
        disks.Refresh();
        partitions = 0;
        for (int i = 0; i < disks.Count(); ++i)
            partitions += disks.GetItem(i)->VolItems()->Count();
    };
    auto floorOnce = [&] {
        static char listing[65536];
        const int lfd = ::open(b.listingPath.constData(), O_RDONLY | O_CLOEXEC);
        if (lfd < 0)
            qFatal("cannot open the listing");
        for (ssize_t n; (n = ::read(lfd, listing, sizeof listing)) > 0;)
            checksum += n;
        ::close(lfd);
        char buf[512];
        for (const Bench::Disk &d : b.disks) {
            const int fd = ::open(d.path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                qFatal("cannot open %s", d.path.constData());
            for (qint64 offset : d.offsets)
                checksum += ::pread(fd, buf, sizeof buf, offset);
            ::close(fd);
        }
    };
    // The two take turns, so that both meet the same load; a first round of
    // each, not counted, warms the caches.
    refreshOnce();
    floorOnce();
    std::vector<double> refresh, floor;
    for (int r = 0; r < kRepetitions; ++r) {
        refresh.push_back(bench::timeRuns(1, refreshOnce).front());
        floor.push_back(bench::timeRuns(1, floorOnce).front());
    }
    std::sort(refresh.begin(), refresh.end());
    std::sort(floor.begin(), floor.end());
    if (disks.Count() != kDisks)
        qFatal("listed %d disks, expected %d", disks.Count(), kDisks);

    const double best = refresh.front() / floor.front();
    const double median = refresh[refresh.size() / 2] / floor[floor.size() / 2];
    const bool met = median <= 2;
    std::printf("disks %d, partitions %d, table sectors %d (check %ld)\n", disks.Count(), partitions, b.sectors,
                checksum);
    std::printf("refresh best %.1f us, median %.1f us\n", refresh.front() * 1e6, refresh[refresh.size() / 2] * 1e6);
    std::printf("floor   best %.1f us, median %.1f us\n", floor.front() * 1e6, floor[floor.size() / 2] * 1e6);
    std::printf("ratio best %.2f, median %.2f (target: median <= 2: %s)\n", best, median, met ? "met" : "missed");
    SetSystemRootForTesting(QString());
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
