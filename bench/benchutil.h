#pragma once
// Pieces the benchmarks share: partition-table sectors for scratch disk
// images, the disk names the kernel listing gives them, and timed runs taken
// in turns.
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
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
// A steady clock in seconds, for timing by hand where takeTurns does not fit.
inline double now() { return seconds(std::chrono::steady_clock::now().time_since_epoch()); }

// One job to time: Run on the clock; Before, when set, just ahead of each run
// and off the clock (to clear what the last run left, where the job proper
// does not).
struct TTimedJob {
    std::function<void()> Run;
    std::function<void()> Before = {};
};

// Runs the jobs in turns, one run of each a round, so that the load of a
// shared machine falls on all of them alike rather than on whichever ran
// while it lasted. A first round, not counted, warms the caches. Each job's
// times in seconds, fastest first, in the order of Jobs.
inline std::vector<std::vector<double>> takeTurns(int Rounds, const std::vector<TTimedJob> &Jobs)
{
    std::vector<std::vector<double>> times(Jobs.size());
    for (int r = -1; r < Rounds; ++r) {
        for (size_t j = 0; j < Jobs.size(); ++j) {
            if (Jobs[j].Before)
                Jobs[j].Before();
            const auto start = std::chrono::steady_clock::now();
            Jobs[j].Run();
            const double t = seconds(std::chrono::steady_clock::now() - start);
            if (r >= 0)
                times[j].push_back(t);
        }
    }
    for (std::vector<double> &t : times)
        std::sort(t.begin(), t.end());
    return times;
}

// The middle of times sorted fastest first (the upper middle of an even count).
inline double median(const std::vector<double> &Sorted) { return Sorted[Sorted.size() / 2]; }

} // namespace bench
