// Times the configuration tool's RefreshDiskTree over 256 disks of four
// partitions each, with a mount table of 1,000 lines in which half the
// partitions are mounted, and prints it as a ratio to a floor measured in
// the same run: the library's disk refresh plus filling the same tree with
// the same rows from the system object, the mount columns taken ready-made
// instead of reading the mount table and looking each node up.
//
//   bench_disktree [disks]      (default 256; the mount table grows with them,
//                                four lines a disk)
#include "benchutil.h"
#include "untMain.h"
#include "vkPaths.h"
#include "vkSystem.h"
#include "vkVariant.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

int diskCount = 256;
constexpr int kPartitions = 4;
int mtabLines = 1000;
constexpr int kRepetitions = 15;
constexpr qint64 kImageBytes = 64LL << 20;

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
}

// The images, the kernel listing and the mount table.
void build(const QString &root)
{
    QDir().mkpath(root + QStringLiteral("/dev"));
    QDir().mkpath(root + QStringLiteral("/proc/net"));
    QDir().mkpath(root + QStringLiteral("/etc/velkora"));
    QByteArray listing = "major minor  #blocks  name\n\n";
    QList<QByteArray> mounted, other;
    for (int i = 0; i < diskCount; ++i) {
        const QString name = bench::diskName(i);
        bench::TTableEntries parts;
        for (int p = 0; p < kPartitions; ++p)
            parts.push_back({0x83, {uint32_t(2048 + p * 16384), 16384}});
        const QString path = root + QStringLiteral("/dev/") + name;
        writeFile(path, bench::tableSector(parts));
        if (!QFile(path).resize(kImageBytes))
            qFatal("cannot size %s", qPrintable(path));
        listing += "   8 " + QByteArray::number(i) + " 65536 " + name.toLatin1() + "\n";
        for (int p = 1; p <= kPartitions; p += 2) {
            const QByteArray dev = "/dev/" + bench::partitionName(name, p).toLatin1();
            mounted << dev + " /data" + dev.mid(4) + " xfs rw,noatime,attr2,inode64 0 0";
        }
    }
    for (int i = 0; mounted.size() + other.size() < mtabLines; ++i)
        other << "tmpfs /run/user/" + QByteArray::number(i) + " tmpfs rw,nosuid,nodev,relatime 0 0";
    // The other mounts first and between, as a real table mixes them.
    QByteArray mtab;
    for (int i = 0; i < other.size() || i < mounted.size(); ++i) {
        if (i < other.size())
            mtab += other[i] + '\n';
        if (i < mounted.size())
            mtab += mounted[i] + '\n';
    }
    writeFile(root + QStringLiteral("/proc/partitions"), listing);
    writeFile(root + QStringLiteral("/proc/net/dev"), "Inter-|\n face |\n");
    writeFile(root + QStringLiteral("/etc/mtab"), mtab);
}

// What the lookups added to each node: the columns after the standard ones,
// disks and partitions in collection order.
using TMountColumns = QList<QStringList>;

TMountColumns mountColumns(const QTreeWidget *tree)
{
    TMountColumns extra;
    auto add = [&](const QString &name, int standard) {
        const QTreeWidgetItem *n = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive).value(0);
        QStringList c;
        for (int i = standard; n && i < n->columnCount(); ++i)
            c << n->text(i);
        extra << c;
    };
    const TDiskItems *disks = SystemInfo->Disks();
    for (int i = 0; i < disks->Count(); ++i) {
        add(disks->GetItem(i)->Name, 2);
        for (int j = 0; j < disks->GetItem(i)->VolItems()->Count(); ++j)
            add(disks->GetItem(i)->VolItems()->GetItem(j)->Name, 3);
    }
    return extra;
}

// The same rows from the system object into the same tree, built the way a
// rebuild builds them, the mount columns taken as they are.
void fill(QTreeWidget *tree, const TMountColumns &extra)
{
    tree->setUpdatesEnabled(false);
    tree->setSortingEnabled(false);
    tree->clear();
    QList<QTreeWidgetItem *> nodes;
    int k = 0;
    const TDiskItems *disks = SystemInfo->Disks();
    for (int i = 0; i < disks->Count(); ++i) {
        const TDiskItem *disk = disks->GetItem(i);
        auto *node = new QTreeWidgetItem(QStringList{disk->Name, disk->GetSizeText() + QLatin1Char(' ')} + extra[k++]);
        for (int j = 0; j < disk->VolItems()->Count(); ++j) {
            const TVolItem *part = disk->VolItems()->GetItem(j);
            new QTreeWidgetItem(node, QStringList{part->Name, part->GetSizeText() + QLatin1Char(' '),
                                                  QLatin1Char(' ') + part->GetTypeName()}
                                          + extra[k++]);
        }
        nodes << node;
    }
    tree->addTopLevelItems(nodes);
    tree->setSortingEnabled(true);
    tree->sortByColumn(0, Qt::AscendingOrder);
    tree->expandAll();
    tree->setUpdatesEnabled(true);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1) {
        diskCount = std::max(1, std::atoi(argv[1]));
        mtabLines = std::max(diskCount * kPartitions / 2, diskCount * 1000 / 256);
    }
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no scratch directory");
    build(dir.path());
    SetSystemRootForTesting(dir.path());
    SetLibVariant(TLibVariant::Tool);
    TLibraryScope library;
    QApplication app(argc, argv);
    TfmMain window;
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("tvDev"));

    const auto refresh = bench::timeRuns(kRepetitions, [&] { window.RefreshDiskTree(); });
    const TMountColumns extra = mountColumns(tree);
    int nodes = 0, mountedNodes = 0;
    for (const QStringList &c : extra) {
        ++nodes;
        mountedNodes += !c.isEmpty();
    }
    if (nodes != diskCount * (1 + kPartitions) || mountedNodes != diskCount * kPartitions / 2)
        qFatal("unexpected tree: %d nodes, %d mounted", nodes, mountedNodes);
    const auto floor = bench::timeRuns(kRepetitions, [&] {
        SystemInfo->Refresh();
        fill(tree, extra);
    });

    std::printf("disks %d, nodes %d, mounted %d, mount-table lines %d\n", diskCount, nodes, mountedNodes,
                int(window.MtabLines.size()));
    std::printf("refresh best %.2f ms, median %.2f ms\n", refresh.front() * 1e3, refresh[refresh.size() / 2] * 1e3);
    std::printf("floor   best %.2f ms, median %.2f ms\n", floor.front() * 1e3, floor[floor.size() / 2] * 1e3);
    const double median = refresh[refresh.size() / 2] / floor[floor.size() / 2];
    const bool met = median <= 1.5;
    std::printf("ratio best %.2f, median %.2f (target: median <= 1.5: %s)\n", refresh.front() / floor.front(),
                median, met ? "met" : "missed");
    SetSystemRootForTesting(QString());
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
