// Times TDiskItems::Refresh over 256 disk images and prints it as a ratio to
// a floor measured in the same run: for every table sector the refresh reads,
// one open, one 512-byte pread and one close.
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
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int kDisks = 256;
constexpr int kRepetitions = 15;
constexpr qint64 kImageBytes = 64LL << 20;

struct Bench {
    QList<QByteArray> floorPaths;     // one per table sector read
    QList<qint64> floorOffsets;
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
        const QByteArray enc = QFile::encodeName(path);
        for (qint64 s : sectors) {
            b.floorPaths << enc;
            b.floorOffsets << s * 512;
        }
        listing += "   8 " + QByteArray::number(i) + " 65536 " + name.toLatin1() + "\n";
        listing += "   8 " + QByteArray::number(i) + " 32768 " + name.toLatin1() + (name.back().isDigit() ? "p1\n" : "1\n");
    }
    QFile l(root + QStringLiteral("/proc/partitions"));
    if (!l.open(QIODevice::WriteOnly))
        qFatal("cannot write the listing");
    l.write(listing);
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
    const auto refresh = bench::timeRuns(kRepetitions, [&] {
        disks.Refresh();
        partitions = 0;
        for (int i = 0; i < disks.Count(); ++i)
            partitions += disks.GetItem(i)->VolItems()->Count();
    });
    if (disks.Count() != kDisks)
        qFatal("listed %d disks, expected %d", disks.Count(), kDisks);

    long checksum = 0;
    const auto floor = bench::timeRuns(kRepetitions, [&] {
        char buf[512];
        for (int i = 0; i < b.floorPaths.size(); ++i) {
            const int fd = ::open(b.floorPaths[i].constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                qFatal("cannot open %s", b.floorPaths[i].constData());
            checksum += ::pread(fd, buf, sizeof buf, b.floorOffsets[i]);
            ::close(fd);
        }
    });

    const double best = refresh.front() / floor.front();
    const double median = refresh[refresh.size() / 2] / floor[floor.size() / 2];
    std::printf("disks %d, partitions %d, table sectors %lld (check %ld)\n", disks.Count(), partitions,
                static_cast<long long>(b.floorPaths.size()), checksum);
    std::printf("refresh best %.1f us, median %.1f us\n", refresh.front() * 1e6, refresh[refresh.size() / 2] * 1e6);
    std::printf("floor   best %.1f us, median %.1f us\n", floor.front() * 1e6, floor[floor.size() / 2] * 1e6);
    std::printf("ratio best %.2f, median %.2f (target <= 2)\n", best, median);
    SetSystemRootForTesting(QString());
    return 0;
}
