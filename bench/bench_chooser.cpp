// The driver chooser's open at 80,000 modules: the module scan
// (TfmMain::ScanModules over a tree of that many files), the chooser made
// (TfmSelModule) and filled (FillModuleList, descriptions from a
// modinfo.ini of one line per module), against a floor measured in the
// same run that makes the same scan and the same chooser, reads modinfo.ini
// with QFile, keys its lines by lower-cased name in a QHash, and fills the
// chooser with one hash lookup per module. Target: at most 1.5 times the
// floor (medians). Smaller trees are measured alongside for reading.
//
//   bench_chooser [modules...]      (default 5000 20000 80000)
#include "benchutil.h"
#include "untMain.h"
#include "untSelModule.h"

#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkVariant.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRepetitions = 7;
constexpr int kTargetModules = 80000;
constexpr double kTarget = 1.5;
constexpr int kFilesPerDir = 100;

QByteArray moduleName(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "mod_%c%05d", 'a' + i % 26, i);
    return name;
}

// The module tree, in directories of kFilesPerDir, and modinfo.ini with one
// line per module in another order and another letter case for some.
void build(const QString &tree, const QString &info, int modules)
{
    QByteArray ini;
    for (int i = 0; i < modules; ++i) {
        const QByteArray dir = QFile::encodeName(tree) + "/drv" + QByteArray::number(i / kFilesPerDir);
        if (i % kFilesPerDir == 0)
            ::mkdir(dir.constData(), 0755);
        const int fd = ::open((dir + '/' + moduleName(i) + ".ko").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            qFatal("cannot create a module file");
        ::close(fd);
        const int j = (i * 7919) % modules;
        const QByteArray name = moduleName(j);
        ini += (j % 3 == 0 ? name.toUpper() : name) + "=Driver for the device family " + QByteArray::number(j) + '\n';
    }
    QFile f(info);
    if (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size())
        qFatal("cannot write modinfo.ini");
}

void floorFill(TfmSelModule &dialog, const QStringList &names, const QString &info)
{
    dialog.lbModules->clear();
    QFile f(info);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read modinfo.ini");
    QHash<QString, QString> byName;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QString name = QString::fromUtf8(line.left(eq)).toLower();
        if (!byName.contains(name))
            byName.insert(name, QString::fromUtf8(line.mid(eq + 1)));
    }
    QList<QTreeWidgetItem *> rows;
    rows.reserve(names.size());
    for (const QString &name : names)
        rows << new QTreeWidgetItem(QStringList{name, byName.value(name.toLower())});
    dialog.lbModules->addTopLevelItems(rows);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::max(1, std::atoi(argv[i])));
    if (sizes.empty())
        sizes = {5000, 20000, kTargetModules};
    QApplication app(argc, argv);
    SetLibVariant(TLibVariant::Tool);

    bool met = true;
    for (const int modules : sizes) {
        QTemporaryDir dir;
        if (!dir.isValid())
            qFatal("no scratch directory");
        const QString tree = dir.path() + "/net";
        QDir().mkpath(tree);
        QDir().mkpath(dir.path() + "/opt");
        const QString info = dir.path() + "/opt/modinfo.ini";
        build(tree, info, modules);
        SetAppFileNameForTesting(dir.path() + "/opt/vkhostset");

        // Floor and chooser take turns, each going first every other round;
        // a first round, not counted, warms the caches.
        std::vector<double> floor, open;
        QString floorCheck, openCheck;
        for (int round = -1; round < kRepetitions; ++round) {
            double f = 0, o = 0;
            for (int turn = 0; turn < 2; ++turn) {
                const bool isFloor = (turn == 0) == (round % 2 == 0);
                const double t = bench::now();
                QStringList names;
                TfmMain::ScanModules(tree, names);
                TfmSelModule dialog;
                if (isFloor)
                    floorFill(dialog, names, info);
                else
                    FillModuleList(&dialog, names);
                const double elapsed = bench::now() - t;
                QTreeWidgetItem *last = dialog.lbModules->topLevelItem(dialog.lbModules->topLevelItemCount() - 1);
                (isFloor ? floorCheck : openCheck) = last ? last->text(0) + '=' + last->text(1) : QString();
                (isFloor ? f : o) = elapsed;
                if (dialog.lbModules->topLevelItemCount() != modules)
                    qFatal("%d rows, not %d", dialog.lbModules->topLevelItemCount(), modules);
            }
            if (round >= 0) {
                floor.push_back(f);
                open.push_back(o);
            }
        }
        if (floorCheck != openCheck || !openCheck.contains(QLatin1String("family")))
            qFatal("the chooser and the floor disagree: %s against %s", qPrintable(openCheck), qPrintable(floorCheck));
        std::sort(floor.begin(), floor.end());
        std::sort(open.begin(), open.end());
        const double ratio = bench::median(open) / bench::median(floor);
        std::printf("%6d modules: open best %8.2f ms median %8.2f ms, floor best %8.2f ms median %8.2f ms, ratio %.2f",
                    modules, open.front() * 1e3, bench::median(open) * 1e3, floor.front() * 1e3,
                    bench::median(floor) * 1e3, ratio);
        if (modules == kTargetModules) {
            const bool ok = ratio <= kTarget;
            met = met && ok;
            std::printf(" (target <= %.1f: %s)", kTarget, ok ? "met" : "missed");
        }
        std::printf("\n");
    }
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
