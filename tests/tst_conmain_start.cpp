// The console's main window: its definition, the page switches of
// vkpanel.ini, the navigation list, the remote-debug note, a creation
// handler that fails part-way, and closing.
#include "conmain_fixture.h"

#include <sys/wait.h>

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTreeWidget>

namespace {
const QStringList kCaptions = {"网络设定", "网卡绑定", "磁盘信息", "设备信息", "驱动程序",
                               "升级软件", "远程调试", "服务管理", "FYR XP 5", "系统管理"};

QStringList noteLines(const TfmConMain &w)
{
    return part<QPlainTextEdit>(w, "Memo1")->toPlainText().split(QLatin1Char('\n'));
}
} // namespace

class TestConMainStart : public QObject {
    Q_OBJECT
    std::unique_ptr<TLibraryScope> library;

private Q_SLOTS:
    void initTestCase() { library = std::make_unique<TLibraryScope>(); }
    void cleanupTestCase() { library.reset(); }

    void windowDefinition()
    {
        ConsoleScratch s;
        const auto w = s.open();
        QCOMPARE(w->objectName(), QStringLiteral("fmConMain"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Velkora Linux Console"));
        QCOMPARE(w->size(), QSize(600, 380));
        QCOMPARE(w->minimumSize(), QSize(600, 380));
        QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(w->palette().color(QPalette::Window), QColor(236, 233, 216));
        QVERIFY(!part<QLabel>(*w, "Image1")->pixmap().isNull());
        QVERIFY(!part<QPushButton>(*w, "btnOK")->icon().isNull());
        QVERIFY(part<QPushButton>(*w, "btnOK")->isDefault());

        auto *pages = part<QStackedWidget>(*w, "PageControl1");
        QStringList captions;
        for (int i = 0; i < pages->count(); ++i)
            captions << pages->widget(i)->windowTitle();
        QCOMPARE(captions, kCaptions);
        QCOMPARE(pages->widget(6)->objectName(), QStringLiteral("tsRdebug"));
        QVERIFY(part(*w, "lbKVState")->isHidden());
        QVERIFY(part(*w, "btnNicSet")->isHidden() && !part(*w, "btnNicSet")->isEnabled());
        QVERIFY(!part(*w, "btnInst")->isEnabled());
        QVERIFY(part<QPlainTextEdit>(*w, "Memo1")->isReadOnly());
    }

    void opensOnFirstListedPageOnceTheLoopRuns()
    {
        ConsoleScratch s;
        TfmConMain w;
        auto *pages = part<QStackedWidget>(w, "PageControl1");
        auto *title = part<QLabel>(w, "lblTitle");
        QCOMPARE(listTexts(part<QListWidget>(w, "listboxFunc")), kCaptions);
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("tsRdebug"));
        QCOMPARE(title->text(), QStringLiteral("系统高级设置"));
        QCoreApplication::processEvents();
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("tsNetwork"));
        QCOMPARE(title->text(), QStringLiteral("网络设定"));

        part<QListWidget>(w, "listboxFunc")->setCurrentRow(7);
        QCoreApplication::processEvents();
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("tsService"));
        QCOMPARE(title->text(), QStringLiteral("服务管理"));
    }

    void pageSwitches_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QStringList>("hidden");
        const QStringList none;
        const QStringList rdebug = {QStringLiteral("远程调试")};
        QTest::newRow("0 hides") << QByteArray("[General]\ntsRdebug=0\n") << rdebug;
        QTest::newRow("0x0 hides") << QByteArray("[General]\ntsRdebug=0x0\n") << rdebug;
        QTest::newRow("0X0 hides") << QByteArray("[General]\n tsRdebug = 0X0 \n") << rdebug;
        QTest::newRow("1 shows") << QByteArray("[General]\ntsRdebug=1\n") << none;
        QTest::newRow("2 shows") << QByteArray("[General]\ntsRdebug=2\n") << none;
        QTest::newRow("yes shows") << QByteArray("[General]\ntsRdebug=yes\n") << none;
        QTest::newRow("key in other case") << QByteArray("[General]\ntsnetwork=0\n") << none;
        QTest::newRow("section in other case") << QByteArray("[general]\ntsRdebug=0\n") << none;
        QTest::newRow("other section") << QByteArray("[EN]\ntsRdebug=0\n") << none;
        QTest::newRow("two pages") << QByteArray("[General]\ntsSetup=0\n;tsPci=0\ntsSystem=0x00\n")
                                   << QStringList{QStringLiteral("升级软件"), QStringLiteral("系统管理")};
    }
    void pageSwitches()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QStringList, hidden);
        ConsoleScratch s;
        s.ini(ini);
        const auto w = s.open();
        QStringList expected = kCaptions;
        for (const QString &h : hidden)
            expected.removeAll(h);
        QCOMPARE(listTexts(part<QListWidget>(*w, "listboxFunc")), expected);
        QCOMPARE(part<QStackedWidget>(*w, "PageControl1")->count(), 10);   // the pages stay
    }

    void firstPageOffOpensOnSecond()
    {
        ConsoleScratch s;
        s.ini("[General]\ntsNetwork=0\n");
        const auto w = s.open();
        QCOMPARE(part<QStackedWidget>(*w, "PageControl1")->currentWidget()->objectName(),
                 QStringLiteral("tsBonding"));
        QCOMPARE(part<QLabel>(*w, "lblTitle")->text(), QStringLiteral("网卡绑定"));
    }

    void allPagesOffKeepsDefinition()
    {
        ConsoleScratch s;
        QByteArray ini = "[General]\n";
        for (const char *p : {"tsNetwork", "tsBonding", "tsDisk", "tsPci", "tsModules", "tsSetup",
                              "tsRdebug", "tsService", "tsFYQ5", "tsSystem"})
            ini += QByteArray(p) + "=0\n";
        s.ini(ini);
        const auto w = s.open();
        auto *nav = part<QListWidget>(*w, "listboxFunc");
        QCOMPARE(nav->count(), 0);
        QCOMPARE(nav->currentRow(), -1);
        QCOMPARE(part<QLabel>(*w, "lblTitle")->text(), QStringLiteral("系统高级设置"));
        QCOMPARE(part<QStackedWidget>(*w, "PageControl1")->currentWidget()->objectName(),
                 QStringLiteral("tsRdebug"));
    }

    void translatedCaptionIsEntryAndTitle()
    {
        ConsoleScratch s;
        s.ini("[General]\nLAN=EN\n[EN]\nfmConMain=Server Console\nfmConMain.tsDisk=Disks\n");
        const auto w = s.open();
        auto *nav = part<QListWidget>(*w, "listboxFunc");
        QCOMPARE(w->windowTitle(), QStringLiteral("Server Console"));
        QCOMPARE(nav->item(2)->text(), QStringLiteral("Disks"));
        nav->setCurrentRow(2);
        QCoreApplication::processEvents();
        QCOMPARE(part<QLabel>(*w, "lblTitle")->text(), QStringLiteral("Disks"));
        QCOMPARE(part<QStackedWidget>(*w, "PageControl1")->currentWidget()->objectName(),
                 QStringLiteral("tsDisk"));
    }

    void debugNoteStartsWithEmptyLine()
    {
        ConsoleScratch s;
        {
            const auto w = s.open();
            const QStringList lines = noteLines(*w);
            QCOMPARE(lines.size(), 6);
            QCOMPARE(lines[0], QString());
            QCOMPARE(lines[1], QStringLiteral("Note: "));
            QCOMPARE(lines[2], QStringLiteral("Please contact with us to get the RemoteServer Ip First."));
        }
        s.ini("[General]\nLAN=EN\n[EN]\nGeneral.Line1=L1\nGeneral.Line2=L2\nGeneral.Line3=L3\n"
              "General.Line4=L4\nGeneral.Line5=L5\n");
        ResetLanguageForTesting();
        const auto w = s.open();
        QCOMPARE(noteLines(*w), (QStringList{QString(), "L1", "L2", "L3", "L4", "L5"}));
    }

    // A step of the creation that fails shows its error and costs only its
    // own page: the navigation list, the other pages and the bonding
    // restore at the very end are all filled.
    void creationFailureCostsOnlyItsStep_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("disks");
        QTest::newRow("disk cannot be opened")
            << "disk" << "error 2 open file \"%1\"" << QStringList{"/dev/sdp 400 MB", "/dev/sdq 64 MB"};
        QTest::newRow("module list unreadable") << "modules" << "I/O error 21" << QStringList{"/dev/sdq 64 MB"};
    }
    void creationFailureCostsOnlyItsStep()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(QStringList, disks);
        ConsoleScratch s;
        // sdp is listed first; only its node may be missing.
        s.root.mkdir(QStringLiteral("/dev"));
        const QString sdq = s.root.path(QStringLiteral("/dev/sdq"));
        runTool(QStringLiteral("truncate -s 64M '%1' && printf 'label: dos\\n,8192,83\\n' | sfdisk -q '%1'").arg(sdq));
        s.root.write(QStringLiteral("/proc/partitions"),
                     QByteArray("major minor  #blocks  name\n\n") + (fault == "disk" ? "   8  240  409600 sdp\n" : "")
                         + "   8  16  65536 sdq\n");
        if (fault == "modules")
            s.root.mkdir(QStringLiteral("/proc/modules"));
        s.netDev({QStringLiteral("vkt0")});
        s.tools.addRecorder(QStringLiteral("lspci"), "00:00.0 Host bridge: Maker Bridge\n");
        s.root.write(QStringLiteral("/etc/velkora/bond.conf"), "SLAVES=\"vkt0\"\n");
        const auto w = s.open();

        if (message.contains(QLatin1String("%1")))
            message = message.arg(s.root.path(QStringLiteral("/dev/sdp")));
        QCOMPARE(s.dialogs.texts(), QStringList{message});
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Error);
        QCOMPARE(noteLines(*w).size(), 6);
        QCOMPARE(listTexts(part<QListWidget>(*w, "listboxFunc")), kCaptions);
        QCOMPARE(part<QLabel>(*w, "lblTitle")->text(), kCaptions.first());
        QVERIFY(findEntry(part<QListWidget>(*w, "lbNicList"), QStringLiteral("vkt0")));
        QCOMPARE(part<QTreeWidget>(*w, "TreeView1")->topLevelItem(0)->childCount(), 1);
        // The disk page: every listed disk, the readable one with its partition.
        auto *diskList = part<QListWidget>(*w, "lbDiskList");
        QCOMPARE(listTexts(diskList), disks);
        diskList->setCurrentRow(disks.size() - 1);
        QCoreApplication::processEvents();
        QCOMPARE(part<QTreeWidget>(*w, "lvPartitions")->topLevelItemCount(), 1);
        QVERIFY(!part<QLabel>(*w, "lbFyrState")->text().isEmpty());
        QVERIFY(part<QCheckBox>(*w, "chkEnableBound")->isChecked());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }

    // The device listing starts while the window is built; a step that
    // fails before the device page does not keep it from being shown, and
    // its command is not left behind: no process of it stays unreaped.
    void creationFailureLeavesNoListingBehind()
    {
        ConsoleScratch s;
        s.root.write(QStringLiteral("/proc/partitions"),
                     "major minor  #blocks  name\n\n   8        0     65536 sdq\n");
        s.tools.addRecorder(QStringLiteral("lspci"), "00:00.0 Host bridge: Maker Bridge\n");
        const auto w = s.open();
        QCOMPARE(part<QTreeWidget>(*w, "TreeView1")->topLevelItemCount(), 1);
        QCOMPARE(waitpid(-1, nullptr, WNOHANG), pid_t(-1));
    }

    void anchorsFollowWindowSize()
    {
        ConsoleScratch s;
        const auto w = s.open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->resize(800, 500);
        QCOMPARE(part(*w, "btnOK")->geometry(), QRect(703, 468, 75, 25));
        QCOMPARE(part(*w, "listboxFunc")->geometry(), QRect(8, 42, 121, 418));
        QCOMPARE(part(*w, "PageControl1")->geometry(), QRect(134, 39, 661, 425));
        QCOMPARE(part(*w, "grpAutoConfig")->size(), QSize(661, 425));
        QCOMPARE(part(*w, "lbNicList")->geometry(), QRect(72, 16, 241, 57));
    }

    void enterPressesCloseAndClosingFreesInterfaces()
    {
        ConsoleScratch s;
        const auto w = s.open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(w->NICs());
        QTest::keyClick(part(*w, "listboxFunc"), Qt::Key_Return);
        QVERIFY(!w->isVisible());
        QVERIFY(!w->NICs());
        // The interface entries no longer point anywhere: a late click shows nothing.
        w->lbNicListClick();
        QCOMPARE(part<QListWidget>(*w, "lbNicStatus")->count(), 0);
    }
};

QTEST_MAIN(TestConMainStart)
#include "tst_conmain_start.moc"
