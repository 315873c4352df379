// The configuration tool's command window under load, against floors
// measured in the same run:
//  - throughput: `seq 1 200000` through RunCommand to its status line, as
//    lines per second, against the same output read by a bare popen/fgets
//    loop with no window, the two taking turns (target: at least 100,000
//    lines per second, median of three);
//  - responsiveness: the longest time a 5 ms timer of the window's event loop
//    went unserved while `sleep 3` runs silently, against the same timer on
//    an idle event loop (target: no gap over 100 ms).
// The peak resident memory before and after the flood is printed for reading.
//
//   bench_runcmd [lines]      (default 200000)
#include "benchutil.h"
#include "untRunCmd.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {
int lineCount = 200000;
QString seqCommand;

constexpr int kRounds = 3;

// The bare pipe: the same command and pieces, no window.
void floorRead()
{
    FILE *p = popen(seqCommand.toLocal8Bit().constData(), "r");
    if (!p)
        qFatal("popen failed");
    char buf[1025];
    long lines = 0;
    while (fgets(buf, sizeof buf, p))
        ++lines;
    pclose(p);
    if (lines != lineCount)
        qFatal("the floor read %ld lines", lines);
}

void windowRead()
{
    QString output;
    SetRunCommandHook([&](const QString &, const QString &Output) { output = Output; });
    RunCommand(seqCommand);
    SetRunCommandHook(nullptr);
    if (!output.endsWith(QStringLiteral("\n  RESULT: 0")) || output.count(QLatin1Char('\n')) != lineCount + 2)
        qFatal("the window did not show the whole output");
}

// The longest pause between ticks of a 5 ms timer while Body runs.
template <class F>
double longestGapMs(F Body)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start(5);
    Body();
    const qint64 now = clock.nsecsElapsed();
    return std::max(longest, now - last) / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1)
        lineCount = std::max(1, std::atoi(argv[1]));
    seqCommand = QStringLiteral("seq 1 %1").arg(lineCount);

    auto peakKiB = [] {
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        return ru.ru_maxrss;
    };
    const long before = peakKiB();
    const auto times = bench::takeTurns(kRounds, {{floorRead}, {windowRead}});
    const long after = peakKiB();
    const double floorRate = lineCount / bench::median(times[0]);
    const double rate = lineCount / bench::median(times[1]);
    const bool rateMet = rate >= 100000;
    std::printf("throughput: window %.0f lines/s, bare pipe %.0f lines/s, pipe/window %.1f"
                " (target: window >= 100000 lines/s: %s)\n",
                rate, floorRate, floorRate / rate, rateMet ? "met" : "missed");
    std::printf("for reading: %d lines in %.2f s; peak memory %ld KiB before the flood, %ld KiB after\n", lineCount,
                lineCount / rate, before, after);

    const double idleGap = longestGapMs([] {
        QEventLoop idle;
        QTimer::singleShot(3000, &idle, &QEventLoop::quit);
        idle.exec();
    });
    SetRunCommandHook([](const QString &, const QString &) {});
    const double gap = longestGapMs([] { RunCommand(QStringLiteral("sleep 3")); });
    SetRunCommandHook(nullptr);
    const bool gapMet = gap <= 100;
    std::printf("responsiveness: longest gap %.1f ms during sleep 3, idle loop %.1f ms, ratio %.2f"
                " (target: gap <= 100 ms: %s)\n",
                gap, idleGap, gap / idleGap, gapMet ? "met" : "missed");
    return rateMet && gapMet ? EXIT_SUCCESS : EXIT_FAILURE;
}
