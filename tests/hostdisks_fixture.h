#pragma once
// Disks for the configuration tool's disks tab in a scratch root: sparse
// images under /dev with hand-made partition tables, the kernel listing that
// names them, the tree as text, and its nodes by device name.
#include "hostmain_fixture.h"
#include "vkErrors.h"

#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <initializer_list>

struct TTestPart {
    uint8_t Type;
    uint32_t Start, Sectors;   // in 512-byte sectors
};
struct TTestDisk {
    QString Name;                // "sda", "md0"
    qint64 Bytes = 64LL << 20;
    QList<TTestPart> Parts;      // slots 1..4; a type 0x05 slot gets one logical partition (number 5)
};

inline QByteArray testTableSector(const QList<TTestPart> &parts)
{
    QByteArray s(512, '\0');
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s[at + i] = char(v >> (8 * i));
    };
    for (int i = 0; i < parts.size(); ++i) {
        s[446 + 16 * i + 4] = char(parts[i].Type);
        put32(446 + 16 * i + 8, parts[i].Start);
        put32(446 + 16 * i + 12, parts[i].Sectors);
    }
    s[510] = char(0x55);
    s[511] = char(0xAA);
    return s;
}

// Writes the images and a kernel listing that names exactly these disks.
inline void writeDisks(const HostScratch &s, std::initializer_list<TTestDisk> disks)
{
    QByteArray listing = "major minor  #blocks  name\n\n";
    for (const TTestDisk &d : disks) {
        const QString path = s.root.path(QStringLiteral("/dev/") + d.Name);
        s.root.write(QStringLiteral("/dev/") + d.Name, d.Parts.isEmpty() ? QByteArray() : testTableSector(d.Parts));
        QFile f(path);
        if (!f.resize(d.Bytes))
            qFatal("cannot size %s", qPrintable(path));
        for (const TTestPart &p : d.Parts)
            if (p.Type == 0x05 && f.open(QIODevice::ReadWrite)) {   // the extended box: one logical partition
                f.seek(qint64(p.Start) * 512);
                f.write(testTableSector({{0x83, 2048, p.Sectors - 2048}}));
                f.close();
            }
        listing += "   8 0 " + QByteArray::number(d.Bytes / 1024) + ' ' + d.Name.toLatin1() + '\n';
    }
    s.root.write(QStringLiteral("/proc/partitions"), listing);
}

// Every node, children indented by two blanks: the columns it has, joined by "|".
inline QStringList treeRows(const QTreeWidget *tree)
{
    QStringList rows;
    std::function<void(const QTreeWidgetItem *, const QString &)> add = [&](const QTreeWidgetItem *n,
                                                                             const QString &indent) {
        QStringList cols;
        for (int c = 0; c < n->columnCount(); ++c)
            cols << n->text(c);
        rows << indent + cols.join(QLatin1Char('|'));
        for (int i = 0; i < n->childCount(); ++i)
            add(n->child(i), indent + QStringLiteral("  "));
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        add(tree->topLevelItem(i), QString());
    return rows;
}

inline QTreeWidgetItem *findNode(const QTreeWidget *tree, const QString &dev)
{
    const auto found = tree->findItems(dev, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// Selects the node of dev (none when empty), as a click would.
inline void selectNode(const TfmMain &w, const QString &dev)
{
    auto *tree = part<QTreeWidget>(w, "tvDev");
    if (dev.isEmpty())
        tree->clearSelection();
    else
        tree->setCurrentItem(findNode(tree, dev));
    QCoreApplication::processEvents();
}
