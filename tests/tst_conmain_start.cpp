// The console's main window: its definition, the page switches of
// vkpanel.ini, the navigation list, the remote-debug note, a creation
// handler that fails part-way, and closing.
#include "conmain_fixture.h"

#include <sys/wait.h>

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

    void creationFailureShowsErrorAndWindowStillOpens()
    {
        ConsoleScratch s;
        // The kernel lists a disk whose device cannot be opened.
        s.root.write(QStringLiteral("/proc/partitions"),
                     "major minor  #blocks  name\n\n   8        0     65536 sdq\n");
        s.netDev({QStringLiteral("vkt0")});
        const auto w = s.open();
        QCOMPARE(s.dialogs.requests().size(), 1);
        const TDialogRequest &error = s.dialogs.requests().first();
        QCOMPARE(error.Type, TMsgDlgType::Error);
        QCOMPARE(error.Text, QStringLiteral("error 2 open file \"%1\"").arg(s.root.path("/dev/sdq")));
        // What the earlier steps filled is there; the rest is empty.
        QCOMPARE(noteLines(*w).size(), 6);
        QCOMPARE(part<QListWidget>(*w, "listboxFunc")->count(), 0);
        QCOMPARE(part<QListWidget>(*w, "lbNicList")->count(), 0);
        QCOMPARE(part<QTreeWidget>(*w, "TreeView1")->topLevelItemCount(), 0);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }

    // The device listing starts while the window is built. When creation
    // fails before the device page, the listing is not shown and its
    // command is not left behind: no process of it stays unreaped.
    void creationFailureLeavesNoListingBehind()
    {
        ConsoleScratch s;
        s.root.write(QStringLiteral("/proc/partitions"),
                     "major minor  #blocks  name\n\n   8        0     65536 sdq\n");
        s.tools.addRecorder(QStringLiteral("lspci"), "00:00.0 Host bridge: Maker Bridge\n");
        const auto w = s.open();
        QCOMPARE(part<QTreeWidget>(*w, "TreeView1")->topLevelItemCount(), 0);
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
