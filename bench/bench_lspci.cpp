// Times the console's device tree (LoadPciTree) over a long lspci listing and
// prints it as a ratio to a floor measured in the same run: the plainest way
// Qt allows to do the same job. The floor runs the same command, reads it
// with fgets, makes a QTreeWidgetItem per class and per device apart from any
// tree, adds each class's devices to it and the classes to the host's root
// item in one call each, puts the root in the tree and switches Qt's own
// sorting on; its tree must equal the project's, node for node. Only the
// build is timed on either side: each tree is cleared of the last run's
// items off the clock. Target: the tree in at most 0.6 times the floor's time
// (medians). The ratio to running the command and reading its output raw
// into one buffer is printed for reading. lspci is a stand-in that prints a
// file of generated lines in the real tool's form.
//
//   bench_lspci [lines]      (default 16000)
#include "benchutil.h"
#include "untConMain.h"
#include "vkCmdUtils.h"
#include "vkPaths.h"
#include "vkSocket.h"
#include "vkSystem.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRepetitions = 15;
constexpr double kTarget = 0.6;

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

int countDevices(const QTreeWidget *tree)
{
    int n = 0;
    const QTreeWidgetItem *root = tree->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i)
        n += root->child(i)->childCount();
    return n;
}

// The plain tree: one item per class, found by its text, and one per device
// for it, in the listing's order, all made apart from the tree; each class
// takes its devices and the root its classes in one call, and the root joins
// the tree whole. Qt sorts every level when sorting is switched on.
void floorTree(QTreeWidget *tree)
{
    tree->setSortingEnabled(false);
    FILE *pipe = popen("lspci", "r");
    if (!pipe)
        qFatal("popen failed");
    auto *root = new QTreeWidgetItem(QStringList{GetLocalHostName()});
    QHash<QString, int> classIndex;
    QList<QTreeWidgetItem *> classes;
    std::vector<QList<QTreeWidgetItem *>> devices;
    char line[1025];
    while (std::fgets(line, sizeof line, pipe)) {
        const QString text = QString::fromLocal8Bit(line).trimmed();
        const qsizetype space = text.indexOf(QLatin1Char(' '));
        const QString bus = space < 0 ? text : text.left(space);
        const QString rest = space < 0 ? QString() : text.mid(space + 1);
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        const QString cls = colon < 0 ? QString() : rest.left(colon).trimmed();
        const QString description = (colon < 0 ? rest : rest.mid(colon + 1)).trimmed();
        const auto found = classIndex.constFind(cls);
        int k = 0;
        if (found != classIndex.cend()) {
            k = *found;
        } else {
            k = int(classes.size());
            classIndex.insert(cls, k);
            classes << new QTreeWidgetItem(QStringList{cls});
            devices.emplace_back();
        }
        devices[size_t(k)] << new QTreeWidgetItem(QStringList{description + QLatin1String(" (") + bus + QLatin1Char(')')});
    }
    pclose(pipe);
    for (int k = 0; k < classes.size(); ++k)
        classes[k]->addChildren(devices[size_t(k)]);
    root->addChildren(classes);
    tree->addTopLevelItem(root);
    tree->setSortingEnabled(true);
    root->setExpanded(true);
}

// Where two trees first differ, or an empty text when they are equal.
QString firstDifference(const QTreeWidgetItem *a, const QTreeWidgetItem *b, const QString &where)
{
    if (a->text(0) != b->text(0))
        return where + QStringLiteral(": \"%1\" against \"%2\"").arg(a->text(0), b->text(0));
    if (a->childCount() != b->childCount())
        return where + QStringLiteral(" \"%1\": %2 children against %3").arg(a->text(0)).arg(a->childCount()).arg(b->childCount());
    for (int i = 0; i < a->childCount(); ++i) {
        const QString d = firstDifference(a->child(i), b->child(i), where + QLatin1Char('/') + QString::number(i));
        if (!d.isEmpty())
            return d;
    }
    return QString();
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

    QTreeWidget plain;
    plain.header()->setSortIndicator(0, Qt::AscendingOrder);

    // Raw read, floor and measure take turns, so that all meet the same load.
    // Each tree is cleared of the last run's items off the clock.
    int read = 0;
    const auto times = bench::takeTurns(
        kRepetitions,
        {{[&] {
              FILE *pipe = popen("lspci", "r");
              if (!pipe)
                  qFatal("popen failed");
              static char buf[65536];
              int newlines = 0;
              ssize_t n;
              while ((n = ::read(fileno(pipe), buf, sizeof buf)) > 0)
                  for (const char *p = buf;
                       (p = static_cast<const char *>(std::memchr(p, '\n', size_t(buf + n - p)))); ++p)
                      ++newlines;
              pclose(pipe);
              read = newlines;
          }},
         {[&] { floorTree(&plain); }, [&] { plain.clear(); }},
         {[&] { window.LoadPciTree(); }, [&] { tree->clear(); }}});
    const std::vector<double> &raw = times[0], &floor = times[1], &load = times[2];
    if (read != lines || countDevices(tree) != lines)
        qFatal("read %d lines and shows %d devices, expected %d", read, countDevices(tree), lines);
    if (tree->topLevelItemCount() != 1 || plain.topLevelItemCount() != 1)
        qFatal("one root item expected");
    const QString difference = firstDifference(tree->topLevelItem(0), plain.topLevelItem(0), QStringLiteral("root"));
    if (!difference.isEmpty())
        qFatal("the trees differ at %s", qPrintable(difference));

    using bench::median;
    std::printf("lines %d, classes %d (the same tree as the floor's, node for node)\n", lines,
                tree->topLevelItem(0)->childCount());
    std::printf("LoadPciTree best %.1f ms, median %.1f ms\n", load.front() * 1e3, median(load) * 1e3);
    std::printf("floor tree  best %.1f ms, median %.1f ms\n", floor.front() * 1e3, median(floor) * 1e3);
    std::printf("raw read    best %.1f ms, median %.1f ms\n", raw.front() * 1e3, median(raw) * 1e3);
    const double ratio = median(load) / median(floor);
    const bool met = ratio <= kTarget;
    std::printf("for reading: ratio to the raw read best %.2f, median %.2f\n", load.front() / raw.front(),
                median(load) / median(raw));
    std::printf("ratio best %.2f, median %.2f (target: median <= %.1f: %s)\n", load.front() / floor.front(), ratio,
                kTarget, met ? "met" : "missed");
    SetSystemRootForTesting(QString());
    SetAppFileNameForTesting(QString());
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
