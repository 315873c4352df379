// Times the console's device tree (LoadPciTree) over a long lspci listing and
// prints it as a ratio to a floor measured in the same run: running the same
// command and reading its output raw (popen and read into one buffer, lines
// counted). lspci is a stand-in that prints a file of generated lines in the
// real tool's form. Target: the tree in less than twice the floor's time.
//
//   bench_lspci [lines]      (default 16000)
#include "untConMain.h"
#include "vkCmdUtils.h"
#include "vkPaths.h"
#include "vkSystem.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <functional>
#include <vector>

namespace {

constexpr int kRepetitions = 15;

const char *const kClasses[] = {
    "Host bridge", "PCI bridge", "ISA bridge", "IDE interface", "SATA controller",
    "SMBus", "USB controller", "Ethernet controller", "Network controller",
    "VGA compatible controller", "Audio device", "Communication controller",
    "Serial bus controller", "RAID bus controller", "Non-Volatile memory controller",
    "Signal processing controller", "System peripheral", "Memory controller",
    "Encryption controller", "Unassigned class [ff00]"};

// `lines` devices spread over the classes, as lspci lists them: in bus order.
QByteArray listing(int lines)
{
    QByteArray out;
    const int nClasses = int(sizeof kClasses / sizeof *kClasses);
    for (int i = 0; i < lines; ++i) {
        const int bus = i / 256, dev = (i / 8) % 32, fn = i % 8;
        out += QString::asprintf("%04x:%02x:%02x.%d %s: Example Systems Device %04x (rev %02x)\n", bus / 256,
                                 bus % 256, dev, fn, kClasses[(i * 7) % nClasses],
                                 unsigned(i * 2654435761u) >> 16 & 0xffff, i % 7)
                   .toLatin1();
    }
    return out;
}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double timeOnce(const std::function<void()> &f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return seconds(std::chrono::steady_clock::now() - start);
}

int countDevices(const QTreeWidget *tree)
{
    int n = 0;
    const QTreeWidgetItem *root = tree->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i)
        n += root->child(i)->childCount();
    return n;
}

} // namespace

int main(int argc, char **argv)
{
    const int lines = argc > 1 ? std::atoi(argv[1]) : 16000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no scratch directory");
    // An empty server: no disks, no modules, no language file; lspci prints
    // nothing until the window stands.
    const QString out = dir.filePath(QStringLiteral("lspci.out"));
    QDir().mkpath(dir.filePath(QStringLiteral("bin")));
    QDir().mkpath(dir.filePath(QStringLiteral("opt/vkpanel")));
    QFile script(dir.filePath(QStringLiteral("bin/lspci")));
    if (!script.open(QIODevice::WriteOnly))
        qFatal("cannot write the stand-in");
    script.write("#!/bin/sh\nexec cat '" + QFile::encodeName(out) + "'\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile(out).open(QIODevice::WriteOnly);
    qputenv("PATH", QFile::encodeName(dir.filePath(QStringLiteral("bin"))) + ":/usr/bin:/bin");
    SetSystemRootForTesting(dir.path());
    SetAppFileNameForTesting(dir.filePath(QStringLiteral("opt/vkpanel/vkpanel")));

    TLibraryScope library;
    QApplication app(argc, argv);
    TfmConMain window;
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("TreeView1"));
    if (!tree)
        qFatal("no device tree");

    QFile listFile(out);
    if (!listFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the listing");
    listFile.write(listing(lines));
    listFile.close();

    // Floor and measure take turns, so that both meet the same load.
    int read = 0;
    std::vector<double> floor, load;
    for (int r = 0; r < kRepetitions; ++r) {
        floor.push_back(timeOnce([&] {
            FILE *pipe = popen("lspci", "r");
            if (!pipe)
                qFatal("popen failed");
            static char buf[65536];
            int newlines = 0;
            ssize_t n;
            while ((n = ::read(fileno(pipe), buf, sizeof buf)) > 0)
                for (const char *p = buf; (p = static_cast<const char *>(std::memchr(p, '\n', size_t(buf + n - p))));
                     ++p)
                    ++newlines;
            pclose(pipe);
            read = newlines;
        }));
        tree->clear();
        load.push_back(timeOnce([&] { window.LoadPciTree(); }));
    }
    std::sort(floor.begin(), floor.end());
    std::sort(load.begin(), load.end());
    if (read != lines || countDevices(tree) != lines)
        qFatal("read %d lines and shows %d devices, expected %d", read, countDevices(tree), lines);

    std::printf("lines %d, classes %d\n", lines, tree->topLevelItem(0)->childCount());
    std::printf("LoadPciTree best %.1f ms, median %.1f ms\n", load.front() * 1e3, load[load.size() / 2] * 1e3);
    std::printf("raw read    best %.1f ms, median %.1f ms\n", floor.front() * 1e3, floor[floor.size() / 2] * 1e3);
    const double median = load[load.size() / 2] / floor[floor.size() / 2];
    const bool met = median < 2;
    std::printf("ratio best %.2f, median %.2f (target: median < 2: %s)\n", load.front() / floor.front(), median,
                met ? "met" : "missed");
    SetSystemRootForTesting(QString());
    SetAppFileNameForTesting(QString());
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
