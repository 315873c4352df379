// Times the configuration tool's RefreshDiskTree over 256 disks of four
// partitions each, with a mount table of 1,000 lines in which half the
// partitions are mounted (one disk in eight has a partition mounted twice,
// one in sixteen one more by way of a link in /dev), and prints it as a ratio to a floor measured in
// the same run, the two taking turns. The floor does the same job the plain
// way: the library's disk refresh, the mount table read once with fgets into
// a hash of each device's first line, /dev listed once for its links (a
// device the table lacks is looked up again by a link's target), the same
// rows (size column aligned, partition number and type kept on each
// partition) added at once to an emptied tree of its own, one sort, every
// level expanded. Its tree must equal the project's, every column.
// Target: the refresh at most 1.5 times the floor's time (medians).
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
#include <QHash>
#include <QHeaderView>
#include <QSet>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace {

int diskCount = 256;
constexpr int kPartitions = 4;
int mtabLines = 1000;
constexpr int kRepetitions = 15;
constexpr double kTarget = 1.5;
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
    QList<QByteArray> mounted, other, again;
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
        // One disk in eight has its first partition mounted a second time,
        // further down: the first line is the one shown.
        if (i % 8 == 0)
            again << "/dev/" + bench::partitionName(name, 1).toLatin1() + " /srv/" + QByteArray::number(i)
                         + " xfs rw,relatime 0 0";
        // One in sixteen has its second partition mounted by way of a link's
        // target, as a mapped device is listed.
        if (i % 16 == 0) {
            const QByteArray part = bench::partitionName(name, 2).toLatin1();
            if (::symlink("mapper/" + part, QFile::encodeName(root) + "/dev/" + part) != 0)
                qFatal("cannot link %s", part.constData());
            mounted << "/dev/mapper/" + part + " /vol/" + part + " ext4 rw,relatime 0 0";
        }
    }
    for (int i = 0; mounted.size() + other.size() + again.size() < mtabLines; ++i)
        other << "tmpfs /run/user/" + QByteArray::number(i) + " tmpfs rw,nosuid,nodev,relatime 0 0";
    // The other mounts first and between, as a real table mixes them.
    QByteArray mtab;
    for (int i = 0; i < other.size() || i < mounted.size(); ++i) {
        if (i < other.size())
            mtab += other[i] + '\n';
        if (i < mounted.size())
            mtab += mounted[i] + '\n';
    }
    for (const QByteArray &line : std::as_const(again))
        mtab += line + '\n';
    writeFile(root + QStringLiteral("/proc/partitions"), listing);
    writeFile(root + QStringLiteral("/proc/net/dev"), "Inter-|\n face |\n");
    writeFile(root + QStringLiteral("/etc/mtab"), mtab);
}

// What the tool keeps on a partition's row beside its texts.
constexpr int kPartNumberRole = Qt::UserRole;
constexpr int kPartTypeRole = Qt::UserRole + 1;
constexpr Qt::Alignment kSizeAlignment = Qt::AlignRight | Qt::AlignVCenter;

struct TMount {
    QString point, type;
};

// The plain tree: the mount table read once, each device's first line kept;
// /dev listed once for its links, so that a device the table lacks is looked
// up again by the link's target only where it is a link; the rows made apart
// and added at once; one sort.
void floorTree(QTreeWidget *tree, const QByteArray &root)
{
    SystemInfo->Refresh();

    QHash<QString, TMount> mounts;
    if (FILE *f = std::fopen(QByteArray(root + "/etc/mtab").constData(), "re")) {
        char line[4096];
        while (std::fgets(line, sizeof line, f)) {
            char *save = nullptr;
            const char *dev = strtok_r(line, " \t\r\n", &save);
            const char *point = dev ? strtok_r(nullptr, " \t\r\n", &save) : nullptr;
            const char *type = point ? strtok_r(nullptr, " \t\r\n", &save) : nullptr;
            if (!dev)
                continue;
            const QString key = QString::fromLocal8Bit(dev);
            if (!mounts.contains(key))
                mounts.insert(key, {QString::fromLocal8Bit(point), QString::fromLocal8Bit(type)});
        }
        std::fclose(f);
    }
    QSet<QString> links;
    if (DIR *d = ::opendir(QByteArray(root + "/dev").constData())) {
        while (const dirent *e = ::readdir(d))
            if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN)
                links.insert(QStringLiteral("/dev/") + QString::fromLocal8Bit(e->d_name));
        ::closedir(d);
    }
    auto mountOf = [&](const QString &dev) -> const TMount * {
        const auto found = mounts.constFind(dev);
        if (found != mounts.cend())
            return &*found;
        if (!links.contains(dev))
            return nullptr;
        char target[256];
        const ssize_t n = ::readlink(QByteArray(root + dev.toLocal8Bit()).constData(), target, sizeof target);
        if (n <= 0)
            return nullptr;
        QString path = QString::fromLocal8Bit(target, n);
        if (!path.startsWith(QLatin1Char('/')))
            path.prepend(dev.left(dev.lastIndexOf(QLatin1Char('/')) + 1));
        const auto byTarget = mounts.constFind(path);
        return byTarget == mounts.cend() ? nullptr : &*byTarget;
    };

    tree->setSortingEnabled(false);
    tree->clear();
    QList<QTreeWidgetItem *> nodes;
    const TDiskItems *disks = SystemInfo->Disks();
    for (int i = 0; i < disks->Count(); ++i) {
        const TDiskItem *disk = disks->GetItem(i);
        QStringList columns{disk->Name, disk->GetSizeText() + QLatin1Char(' ')};
        if (const TMount *m = mountOf(disk->Name))
            columns << QString() << m->point << m->type;
        auto *node = new QTreeWidgetItem(columns);
        node->setTextAlignment(1, kSizeAlignment);
        const TVolItems *parts = disk->VolItems();
        QList<QTreeWidgetItem *> children;
        for (int j = 0; j < parts->Count(); ++j) {
            const TVolItem *part = parts->GetItem(j);
            QStringList cols{part->Name, part->GetSizeText() + QLatin1Char(' '), QLatin1Char(' ') + part->GetTypeName()};
            if (const TMount *m = mountOf(part->Name))
                cols << m->point << m->type;
            auto *child = new QTreeWidgetItem(cols);
            child->setTextAlignment(1, kSizeAlignment);
            child->setData(0, kPartNumberRole, part->PartitionNumber);
            child->setData(0, kPartTypeRole, part->PartitionType);
            children << child;
        }
        node->addChildren(children);
        nodes << node;
    }
    tree->addTopLevelItems(nodes);
    tree->setSortingEnabled(true);   // the one sort: by the first column, rising, as the header shows
    tree->expandAll();
}

// Where two rows (and their children) first differ, or an empty text when
// they are equal: every column's text and alignment, the roles kept on a
// row, whether it is expanded.
QString firstDifference(const QTreeWidgetItem *a, const QTreeWidgetItem *b)
{
    const QString where = a->text(0) + QLatin1String(" / ") + b->text(0);
    if (a->columnCount() != b->columnCount())
        return where + QStringLiteral(": %1 columns against %2").arg(a->columnCount()).arg(b->columnCount());
    for (int c = 0; c < a->columnCount(); ++c) {
        if (a->text(c) != b->text(c))
            return where + QStringLiteral(": column %1 \"%2\" against \"%3\"").arg(c).arg(a->text(c), b->text(c));
        if (a->textAlignment(c) != b->textAlignment(c))
            return where + QStringLiteral(": column %1 aligned differently").arg(c);
    }
    for (const int role : {kPartNumberRole, kPartTypeRole})
        if (a->data(0, role) != b->data(0, role))
            return where + QStringLiteral(": role %1 \"%2\" against \"%3\"")
                               .arg(role)
                               .arg(a->data(0, role).toString(), b->data(0, role).toString());
    if (a->isExpanded() != b->isExpanded())
        return where + QStringLiteral(": expanded differently");
    if (a->childCount() != b->childCount())
        return where + QStringLiteral(": %1 children against %2").arg(a->childCount()).arg(b->childCount());
    for (int i = 0; i < a->childCount(); ++i) {
        const QString d = firstDifference(a->child(i), b->child(i));
        if (!d.isEmpty())
            return d;
    }
    return QString();
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

    QTreeWidget plain;
    plain.setColumnCount(tree->columnCount());
    plain.header()->setSortIndicator(0, Qt::AscendingOrder);
    const QByteArray root = QFile::encodeName(dir.path());

    // Each sort of a tree's rows changes its model's layout once.
    int toolSorts = 0, floorSorts = 0;
    QObject::connect(tree->model(), &QAbstractItemModel::layoutChanged, [&] { ++toolSorts; });
    QObject::connect(plain.model(), &QAbstractItemModel::layoutChanged, [&] { ++floorSorts; });
    // Refresh and floor take turns, so that both meet the same load. Each
    // empties its own tree on the clock, as a refresh does.
    const auto times = bench::takeTurns(kRepetitions, {{[&] { window.RefreshDiskTree(); }},
                                                       {[&] { floorTree(&plain, root); }}});
    const std::vector<double> &refresh = times[0], &floor = times[1];

    int nodes = 0, mountedNodes = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *disk = tree->topLevelItem(i);
        nodes += 1 + disk->childCount();
        mountedNodes += disk->columnCount() > 2;
        for (int j = 0; j < disk->childCount(); ++j)
            mountedNodes += disk->child(j)->columnCount() > 3;
    }
    if (nodes != diskCount * (1 + kPartitions) || mountedNodes != diskCount * kPartitions / 2 + (diskCount + 15) / 16)
        qFatal("unexpected tree: %d nodes, %d mounted", nodes, mountedNodes);
    if (floorSorts != kRepetitions + 1)
        qFatal("the floor sorted %d times in %d runs, once a run expected", floorSorts, kRepetitions + 1);
    if (plain.topLevelItemCount() != tree->topLevelItemCount())
        qFatal("the tree has %d disks, the floor's %d", tree->topLevelItemCount(), plain.topLevelItemCount());
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QString difference = firstDifference(tree->topLevelItem(i), plain.topLevelItem(i));
        if (!difference.isEmpty())
            qFatal("the trees differ at %s", qPrintable(difference));
    }

    using bench::median;
    std::printf("disks %d, nodes %d, mounted %d, mount-table lines %d (the same tree as the floor's, every column)\n",
                diskCount, nodes, mountedNodes, int(window.MtabLines.size()));
    std::printf("sorts a run: the tool %.0f, the floor 1\n", double(toolSorts) / (kRepetitions + 1));
    std::printf("refresh best %.2f ms, median %.2f ms\n", refresh.front() * 1e3, median(refresh) * 1e3);
    std::printf("floor   best %.2f ms, median %.2f ms\n", floor.front() * 1e3, median(floor) * 1e3);
    const double ratio = median(refresh) / median(floor);
    const bool met = ratio <= kTarget;
    std::printf("ratio best %.2f, median %.2f (target: median <= %.1f: %s)\n", refresh.front() / floor.front(), ratio,
                kTarget, met ? "met" : "missed");
    SetSystemRootForTesting(QString());
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
