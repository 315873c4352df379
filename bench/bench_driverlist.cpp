// The configuration tool's driver list at start (TfmMain::LoadModules: read
// modules.conf, split its lines, decode each, fill lbModules) for files of
// 256 KiB, 1, 4 and 16 MiB (the read bound), against a floor measured in the
// same run: the file read with QFile, split at line feeds, and one detached
// QListWidgetItem per line (UTF-8) added to a plain QListWidget.
// Targets: at the bound at most 1.5 times the floor (medians); and linear:
// the time per line at the largest size at most 2 times that at the
// smallest (a list that grows with the square of its lines would take 64).
//
//   bench_driverlist [KiB...]      (default 256 1024 4096 16384)
#include "benchutil.h"
#include "untMain.h"

#include "vkFileUtils.h"
#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkSystem.h"
#include "vkVariant.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kRepetitions = 7;
constexpr double kTarget = 1.5;
constexpr double kLinearTarget = 2.0;

// Driver lines as an administrator writes them: a module, most often with
// a parameter or two; about 21 bytes each.
QByteArray driverList(qint64 bytes, int &lines)
{
    QByteArray text;
    text.reserve(bytes);
    lines = 0;
    char line[64];
    while (true) {
        const int n = lines % 4 == 0 ? std::snprintf(line, sizeof line, "e1000e_%06d\n", lines)
                                     : std::snprintf(line, sizeof line, "bnx2_%06d opt=%04d\n", lines, lines % 9973);
        if (text.size() + n > bytes)
            break;
        text.append(line, n);
        ++lines;
    }
    return text;
}

int floorLoad(const QString &path, QListWidget &list)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    const QByteArray text = f.readAll();
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (const QByteArray &line : lines)
        list.addItem(new QListWidgetItem(QString::fromUtf8(line)));
    return list.count();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    std::vector<qint64> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(qint64(std::max(1, std::atoi(argv[i]))) * 1024);
    if (sizes.empty())
        sizes = {256 << 10, 1 << 20, 4 << 20, kMaxWholeFileSize};
    QApplication app(argc, argv);

    // A scratch server for the window: nothing but what its start reads.
    QTemporaryDir root;
    if (!root.isValid())
        qFatal("no scratch directory");
    const QString r = root.path();
    QDir().mkpath(r + "/proc/net");
    QDir().mkpath(r + "/etc/velkora");
    QDir().mkpath(r + "/opt/vkhostset");
    QFile partitions(r + "/proc/partitions"), netDev(r + "/proc/net/dev");
    if (!partitions.open(QIODevice::WriteOnly) || !netDev.open(QIODevice::WriteOnly))
        qFatal("cannot write the scratch server");
    partitions.write("major minor  #blocks  name\n\n");
    netDev.write("Inter-|   Receive |  Transmit\n face |bytes packets|bytes packets\n");
    partitions.close();
    netDev.close();
    SetSystemRootForTesting(r);
    SetAppFileNameForTesting(r + "/opt/vkhostset/vkhostset");
    SetLibVariant(TLibVariant::Tool);
    TLibraryScope library;
    TfmMain window;
    QListWidget *const shown = window.findChild<QListWidget *>(QStringLiteral("lbModules"));
    if (!shown)
        qFatal("the window has no driver list");
    const QString conf = SysPath(QStringLiteral("/etc/velkora/modules.conf"));

    bool met = true;
    double firstPerLine = 0, lastPerLine = 0;
    for (const qint64 bytes : sizes) {
        int lines = 0;
        {
            QFile f(conf);
            if (!f.open(QIODevice::WriteOnly) || f.write(driverList(bytes, lines)) < 0)
                qFatal("cannot write %s", qPrintable(conf));
        }
        // Floor and load take turns, each going first every other round, so
        // that both meet the same load; a first round, not counted, warms
        // the caches. Emptying the lists is not timed.
        std::vector<double> floor, load;
        for (int round = -1; round < kRepetitions; ++round) {
            double f = 0, l = 0;
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn == 0) == (round % 2 == 0)) {
                    QListWidget list;
                    const double t = bench::now();
                    if (floorLoad(conf, list) != lines)
                        qFatal("the floor read %d lines, not %d", list.count(), lines);
                    f = bench::now() - t;
                } else {
                    shown->clear();
                    const double t = bench::now();
                    window.LoadModules();
                    l = bench::now() - t;
                    if (shown->count() != lines)
                        qFatal("the window listed %d lines, not %d", shown->count(), lines);
                }
            }
            if (round >= 0) {
                floor.push_back(f);
                load.push_back(l);
            }
        }
        shown->clear();
        std::sort(floor.begin(), floor.end());
        std::sort(load.begin(), load.end());
        const double loadMedian = bench::median(load), floorMedian = bench::median(floor);
        const double ratio = loadMedian / floorMedian;
        const double perLine = loadMedian / lines;
        if (bytes == sizes.front())
            firstPerLine = perLine;
        lastPerLine = perLine;
        std::printf("%6lld KiB, %7d lines: load best %8.2f ms median %8.2f ms (%5.0f ns a line),"
                    " floor best %8.2f ms median %8.2f ms, ratio %.2f",
                    static_cast<long long>(bytes >> 10), lines, load.front() * 1e3, loadMedian * 1e3, perLine * 1e9,
                    floor.front() * 1e3, floorMedian * 1e3, ratio);
        if (bytes == kMaxWholeFileSize) {
            const bool ok = ratio <= kTarget;
            met = met && ok;
            std::printf(" (target <= %.1f: %s)", kTarget, ok ? "met" : "missed");
        }
        std::printf("\n");
    }
    if (sizes.size() > 1) {
        const double growth = lastPerLine / firstPerLine;
        const bool ok = growth <= kLinearTarget;
        met = met && ok;
        std::printf("time a line, largest against smallest: %.2f (target <= %.1f: %s)\n", growth, kLinearTarget,
                    ok ? "met" : "missed");
    }
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
