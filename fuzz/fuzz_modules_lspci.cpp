// The module page and the device tree of the console on arbitrary bytes: the
// input is the kernel's module list (/proc/modules) and, the same bytes,
// the output of lspci (a stand-in that prints them). The main window is made
// once; every input refills the two views.
//
// Module list: one row per line, its name a token without blanks. Device
// tree: one root; under it each class once; under each class the devices of
// that class, every level in sorted order, and together exactly one device
// per output line.
#include "fuzz_support.h"
#include "untConMain.h"
#include "vkCmdUtils.h"
#include "vkSocket.h"
#include "vkSysUtils.h"
#include "vkSystem.h"

#include <QApplication>
#include <QHash>
#include <QTreeWidget>

#include <algorithm>
#include <net/if.h>
#include <sys/ioctl.h>

namespace {

TfmConMain *window()
{
    static int argc = 1;
    static char arg0[] = "fuzz_modules_lspci";
    static char *argv[] = {arg0, nullptr};
    static TfmConMain *w = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const QString bin = FuzzRoot() + QStringLiteral("/bin");
        QDir().mkpath(bin);
        QFile lspci(bin + QStringLiteral("/lspci"));
        if (!lspci.open(QIODevice::WriteOnly))
            std::abort();
        lspci.write("#!/bin/sh\nexec cat '" + QFile::encodeName(FuzzRoot()) + "/lspci.out'\n");
        lspci.close();
        lspci.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        FuzzWrite(QStringLiteral("/lspci.out"), nullptr, 0);
        qputenv("PATH", QFile::encodeName(bin) + ":/usr/bin:/bin");
        SetNicIoctlForTesting([](int, unsigned long request, void *arg) {
            if (request == SIOCGIFCONF)
                static_cast<ifconf *>(arg)->ifc_len = 0;
            return 0;
        });
        static TLibraryScope library;
        static QApplication app(argc, argv);
        return new TfmConMain;
    }();
    return w;
}

QStringList texts(const QTreeWidgetItem *parent)
{
    QStringList t;
    for (int i = 0; i < parent->childCount(); ++i)
        t << parent->child(i)->text(0);
    return t;
}

void checkModules(TfmConMain *w, const QByteArray &bytes)
{
    QTreeWidget *list = w->findChild<QTreeWidget *>(QStringLiteral("ListView2"));
    list->clear();
    w->LoadModuleList();
    const int lines = int(bytes.count('\n')) + (bytes.isEmpty() || bytes.endsWith('\n') ? 0 : 1);
    FuzzCheck(list->topLevelItemCount() == lines);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        FuzzCheck(!list->topLevelItem(i)->text(0).contains(QLatin1Char(' ')));
}

void checkPciTree(TfmConMain *w)
{
    QTreeWidget *tree = w->findChild<QTreeWidget *>(QStringLiteral("TreeView1"));
    tree->clear();
    w->LoadPciTree();
    FuzzCheck(tree->topLevelItemCount() == 1);
    const QTreeWidgetItem *root = tree->topLevelItem(0);
    FuzzCheck(root->isExpanded());

    // What the tree must hold: class -> device texts, from the same output.
    QStringList lines;
    ReadCmdOutput(QStringLiteral("lspci"), lines);
    QHash<QString, QStringList> want;
    for (QString line : lines) {
        QString bus;
        CutToken(line, QLatin1Char(' '), bus);
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const QString cls = colon < 0 ? QString() : TrimCtl(line.left(colon));
        const QString desc = TrimCtl(colon < 0 ? line : line.mid(colon + 1));
        want[cls] << desc + QStringLiteral(" (") + bus + QLatin1Char(')');
    }
    const QStringList classes = texts(root);
    FuzzCheck(classes.size() == want.size());
    for (int i = 0; i < root->childCount(); ++i) {
        QStringList got = texts(root->child(i));
        QStringList expected = want.value(classes[i]);
        FuzzCheck(!expected.isEmpty());
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        FuzzCheck(got == expected);
    }
    // Same order as the toolkit's own sort of the same texts.
    QTreeWidget check;
    auto *r = new QTreeWidgetItem(&check, {QString()});
    for (const QString &c : classes)
        new QTreeWidgetItem(r, {c});
    check.sortItems(0, Qt::AscendingOrder);
    FuzzCheck(texts(r) == classes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TfmConMain *w = window();
    FuzzWrite(QStringLiteral("/proc/modules"), data, size);
    FuzzWrite(QStringLiteral("/lspci.out"), data, size);
    checkModules(w, QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    checkPciTree(w);
    return 0;
}
