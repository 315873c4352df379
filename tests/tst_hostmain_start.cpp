// The configuration tool's main window: its definition, the start-up steps,
// the module tree scan and the loading of modules.conf.
#include "hostmain_fixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

class TestHostMainStart : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void windowDefinition()
    {
        HostScratch s;
        const auto w = s.open();
        QCOMPARE(w->objectName(), QStringLiteral("fmMain"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Velkora系统配置工具 - Velkora System Configuration"));
        QCOMPARE(w->size(), QSize(650, 440));
        QCOMPARE(w->minimumSize(), QSize(650, 440));
        QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

        auto *tabs = hostPart<QTabWidget>(*w, "PageControl1");
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("tsModules"));
        QCOMPARE(tabs->tabText(0), QStringLiteral("驱动程序"));
        QCOMPARE(tabs->widget(1)->objectName(), QStringLiteral("tsDisks"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("磁盘管理"));
        // Shown first: the drivers tab, whatever the definition says.
        QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("tsModules"));

        const struct {
            const char *name, *caption;
            int x;
            bool enabled, hidden;
        } buttons[] = {{"btnModuleAdd", "添加", 16, true, false},     {"btnModuleEdit", "编辑", 106, false, false},
                       {"btnModuleDel", "删除", 196, false, false},   {"btnModuleInsert", "加载", 286, false, false},
                       {"btnModuleUp", "上移", 375, false, true},     {"btnModuleDown", "下移", 452, false, true}};
        for (const auto &b : buttons) {
            auto *button = hostPart<QPushButton>(*w, b.name);
            QCOMPARE(button->text(), QString::fromUtf8(b.caption));
            QCOMPARE(button->geometry(), QRect(b.x, 368, 75, 25));
            QCOMPARE(button->isEnabled(), b.enabled);
            QCOMPARE(button->isHidden(), b.hidden);
        }
        QCOMPARE(hostPart(*w, "lbModules")->geometry(), QRect(2, 2, 635, 345));
        auto *menu = hostPart<QMenu>(*w, "pmAddModule");
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions().at(0)->objectName(), QStringLiteral("menuNIC"));
        QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("网卡"));
        QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("磁盘"));

        // The disks tab is laid out with the states it starts in.
        for (const char *off : {"btnDiskPart", "btnMdCreate", "btnMdDelete", "btnMdView"})
            QVERIFY2(!hostPart(*w, off)->isEnabled(), off);
        for (const char *on : {"btnFormatDevice", "btnMount", "btnUmount", "btnDiskRefresh"})
            QVERIFY2(hostPart(*w, on)->isEnabled(), on);
        auto *tree = hostPart<QTreeWidget>(*w, "tvDev");
        QCOMPARE(tree->columnCount(), 5);
        QCOMPARE(tree->headerItem()->text(4), QStringLiteral("File System"));
        QCOMPARE(tree->header()->sectionSize(1), 70);
        QCOMPARE(hostPart<QComboBox>(*w, "cmbMdList")->count(), 16);
        QCOMPARE(hostPart<QComboBox>(*w, "cmbMdList")->currentIndex(), -1);
        QCOMPARE(hostPart<QComboBox>(*w, "cmbRAIDLevel")->currentText(), QStringLiteral("RAID 0"));
        QCOMPARE(hostPart<QComboBox>(*w, "cmbBlock")->currentText(), QStringLiteral("64k block"));
        QCOMPARE(hostPart<QToolButton>(*w, "btnAddDev")->text(), QStringLiteral("->"));
        QCOMPARE(hostPart<QMenu>(*w, "pmDiskPart")->actions().size(), 2);
    }
};

QTEST_MAIN(TestHostMainStart)
#include "tst_hostmain_start.moc"
