#pragma once
// Pieces the disk benchmarks share: partition-table sectors for scratch disk
// images, the disk names the kernel listing gives them, and timed runs.
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

namespace bench {

// (type, (first sector, sector count)) for each slot in use.
using TTableEntries = std::vector<std::pair<uint8_t, std::pair<uint32_t, uint32_t>>>;

inline QByteArray tableSector(const TTableEntries &entries)
{
    QByteArray s(512, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const int e = 446 + 16 * int(i);
        s[e + 4] = char(entries[i].first);
        for (int b = 0; b < 4; ++b) {
            s[e + 8 + b] = char(entries[i].second.first >> (8 * b));
            s[e + 12 + b] = char(entries[i].second.second >> (8 * b));
        }
    }
    s[510] = char(0x55);
    s[511] = char(0xAA);
    return s;
}

// 256 names that the kernel listing marks as whole disks.
inline QString diskName(int i)
{
    if (i < 26)
        return QStringLiteral("sd") + QChar(u'a' + i);
    if (i < 52)
        return QStringLiteral("hd") + QChar(u'a' + i - 26);
    return QStringLiteral("md%1").arg(i - 52);
}

// The name the partition reader gives partition n of that disk.
inline QString partitionName(const QString &disk, int n)
{
    return disk + (disk.back().isDigit() ? QStringLiteral("p") : QString()) + QString::number(n);
}

inline double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Times f Repetitions times; the times in seconds, fastest first.
template <typename F>
std::vector<double> timeRuns(int Repetitions, F &&f)
{
    std::vector<double> t;
    for (int r = 0; r < Repetitions; ++r) {
        const auto start = std::chrono::steady_clock::now();
        f();
        t.push_back(seconds(std::chrono::steady_clock::now() - start));
    }
    std::sort(t.begin(), t.end());
    return t;
}

} // namespace bench
