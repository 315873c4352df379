// The network and bonding pages of the console's main window. The
// interface lists hold the names of a scratch /proc/net/dev plus whatever
// interfaces this machine has addresses on, so the tests look at their own
// names ("vkt...") and never at the machine's.
#include "conmain_fixture.h"
#include "vkCmdUtils.h"
#include "vkSocket.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <arpa/inet.h>

namespace {
const QString kBondConf = QStringLiteral("/etc/velkora/bond.conf");

uint32_t ip(const char *text)
{
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return a.s_addr;
}

QStringList checkedNames(const QListWidget *list)
{
    QStringList t;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->checkState() == Qt::Checked)
            t << list->item(i)->text();
    return t;
}

// The bonding controls other than the check box.
const char *const kBondControls[] = {"lblIP", "edBondIP", "lblNetMask", "edBondMask", "lblGateway",
                                     "edBondGateway", "lblSelNic", "clbNIC"};
} // namespace

class TestConMainNetwork : public QObject {
    Q_OBJECT
    std::unique_ptr<TLibraryScope> library;

private Q_SLOTS:
    // A message built with an argument it has no place for is a fault of
    // the test's own making; it must not pass as a mere warning.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("^QString::arg"))); }

    void initTestCase() { library = std::make_unique<TLibraryScope>(); }
    void cleanupTestCase() { library.reset(); }

    void listsShowInterfacesButLoopback()
    {
        ConsoleScratch s;
        s.netDev({QStringLiteral("lo"), QStringLiteral("vkt0"), QStringLiteral("vkt1")});
        const auto w = s.open();
        auto *nics = part<QListWidget>(*w, "lbNicList");
        const QStringList names = listTexts(nics);
        QCOMPARE(names.mid(0, 2), (QStringList{"vkt0", "vkt1"}));
        QVERIFY(!names.contains(QStringLiteral("lo")));
        QCOMPARE(listTexts(part<QListWidget>(*w, "clbNIC")), names);
        // The first interface is shown: a name-only entry has no address and no flags.
        QCOMPARE(nics->currentRow(), 0);
        QCOMPARE(part<QLineEdit>(*w, "edtIP")->text(), QStringLiteral("0.0.0.0"));
        QCOMPARE(listTexts(part<QListWidget>(*w, "lbNicStatus")), (QStringList{"已禁用", "已断开"}));
    }

    void stateLines_data()
    {
        QTest::addColumn<int>("flags");   // up 1, running 2, master 4, slave 8
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("down") << 0 << QStringList{"已禁用", "已断开"};
        QTest::newRow("up running") << 3 << QStringList{"已启用", "已连接"};
        QTest::newRow("up, not running, slave") << 9 << QStringList{"已启用", "已断开", "绑定：从设备"};
        QTest::newRow("master and slave") << 15 << QStringList{"已启用", "已连接", "绑定：主设备", "绑定：从设备"};
    }
    void stateLines()
    {
        QFETCH(int, flags);
        QFETCH(QStringList, lines);
        ConsoleScratch s;
        const auto w = s.open();
        TNIC nic;
        nic.Addr = ip("192.168.10.7");
        nic.Mask = ip("255.255.252.0");
        nic.IsUp = flags & 1;
        nic.IsRunning = flags & 2;
        nic.IsMaster = flags & 4;
        nic.IsSlave = flags & 8;
        w->ShowNicInfo(&nic);
        QCOMPARE(part<QLineEdit>(*w, "edtIP")->text(), QStringLiteral("192.168.10.7"));
        QCOMPARE(part<QLineEdit>(*w, "edtMask")->text(), QStringLiteral("255.255.252.0"));
        QCOMPARE(listTexts(part<QListWidget>(*w, "lbNicStatus")), lines);
    }

    void stateLinesFromLanguageFile()
    {
        ConsoleScratch s;
        s.ini("[General]\nLAN=EN\n[EN]\nGeneral.Enabled=Up\nGeneral.SlaBind=Slave\n");
        const auto w = s.open();
        TNIC nic;
        nic.IsUp = nic.IsSlave = true;
        w->ShowNicInfo(&nic);
        QCOMPARE(listTexts(part<QListWidget>(*w, "lbNicStatus")), (QStringList{"Up", "已断开", "Slave"}));
    }

    void detailRunsEthtoolOnSelected()
    {
        ConsoleScratch s;
        // A name may carry shell characters: it must reach ethtool as one word.
        const QString odd = QStringLiteral("vkq;touch %1").arg(s.root.path("/pwned"));
        s.netDev({QStringLiteral("vkt0"), QStringLiteral("vkt1"), odd});
        s.tools.addRecorder(QStringLiteral("ethtool"), "Settings for vkt1:\n\tLink detected: no  \t\n");
        QStringList shown;
        SetMessageWindowHook([&](TfmMsg *m) { shown = m->Memo1->toPlainText().split(QLatin1Char('\n')); });
        const auto w = s.open();
        auto *nics = part<QListWidget>(*w, "lbNicList");
        nics->setCurrentRow(1);
        part<QPushButton>(*w, "btnNicDetail")->click();
        QCOMPARE(shown, (QStringList{"Settings for vkt1:", "\tLink detected: no"}));
        nics->setCurrentRow(2);
        part<QPushButton>(*w, "btnNicDetail")->click();
        QCOMPARE(s.tools.calls(QStringLiteral("ethtool")), (QStringList{"vkt1", odd}));
        // Its complaints stay out of the console's terminal.
        QCOMPARE(s.tools.shellLines(QStringLiteral("ethtool")),
                 (QStringList{"ethtool vkt1 2> /dev/null", "ethtool " + ShellQuote(odd) + " 2> /dev/null"}));
        QVERIFY(!s.root.exists(QStringLiteral("/pwned")));
        QVERIFY(s.dialogs.requests().isEmpty());
    }

    void detailWithoutSelectionIsIndexError()
    {
        ConsoleScratch s;
        const auto w = s.open();
        part<QListWidget>(*w, "lbNicList")->clear();
        part<QPushButton>(*w, "btnNicDetail")->click();
        QCOMPARE(s.dialogs.texts(), QStringList{QStringLiteral("List index out of bounds (-1)")});
        QVERIFY(s.tools.calls(QStringLiteral("ethtool")).isEmpty());
    }

    // No file, or one that cannot be read: the box clear, its controls and
    // Apply disabled; the unreadable file's error shown.
    void restoreWithoutFile_data()
    {
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("no file") << false;
        QTest::newRow("file cannot be read") << true;
    }
    void restoreWithoutFile()
    {
        QFETCH(bool, unreadable);
        ConsoleScratch s;
        if (unreadable)
            s.root.mkdir(kBondConf);
        const auto w = s.open();
        const QStringList shown{QStringLiteral("Cannot open file ") + s.root.path(kBondConf)};
        QCOMPARE(s.dialogs.texts(), unreadable ? shown : QStringList());
        QVERIFY(!part<QCheckBox>(*w, "chkEnableBound")->isChecked());
        QVERIFY(part(*w, "chkEnableBound")->isEnabled());
        for (const char *name : kBondControls)
            QVERIFY2(!part(*w, name)->isEnabled(), name);
        QVERIFY(!part(*w, "btnSetBound")->isEnabled());
        QCOMPARE(part<QLineEdit>(*w, "edBondIP")->text(), QString());
    }

    // Members are ticked by whole name; switching the box off and on and
    // applying writes back exactly the ticked names.
    void restoreTicksWholeNames_data()
    {
        QTest::addColumn<QByteArray>("slaves");
        QTest::addColumn<QStringList>("ticked");
        QTest::newRow("eth1 is no member of eth10 eth11") << QByteArray("vkt10 vkt11")
                                                           << QStringList{"vkt10", "vkt11"};
        QTest::newRow("a prefix of the others") << QByteArray("vkt1") << QStringList{"vkt1"};
        QTest::newRow("blanks and tabs between") << QByteArray("vkt2\t  vkt1") << QStringList{"vkt1", "vkt2"};
        QTest::newRow("part of a name") << QByteArray("vkt") << QStringList();
    }
    void restoreTicksWholeNames()
    {
        QFETCH(QByteArray, slaves);
        QFETCH(QStringList, ticked);
        ConsoleScratch s;
        s.netDev({QStringLiteral("vkt1"), QStringLiteral("vkt10"), QStringLiteral("vkt11"), QStringLiteral("vkt2")});
        s.tools.addRecorderAt(s.root.path("/usr/sbin/bond"), QStringLiteral("bond"));
        s.root.write(kBondConf, "DEVICE=\"bond0\"\nSLAVES=\"" + slaves + "\"\nIP=\"10.1.1.5\"\n"
                                "MASK=\"255.0.0.0\"\nGATEWAY=\"10.0.0.1\"\n");
        const auto w = s.open();
        QVERIFY(part<QCheckBox>(*w, "chkEnableBound")->isChecked());
        QCOMPARE(checkedNames(part<QListWidget>(*w, "clbNIC")), ticked);
        QCOMPARE(part<QLineEdit>(*w, "edBondIP")->text(), QStringLiteral("10.1.1.5"));
        QCOMPARE(part<QLineEdit>(*w, "edBondMask")->text(), QStringLiteral("255.0.0.0"));
        QCOMPARE(part<QLineEdit>(*w, "edBondGateway")->text(), QStringLiteral("10.0.0.1"));
        for (const char *name : kBondControls)
            QVERIFY2(part(*w, name)->isEnabled(), name);
        QVERIFY(!part(*w, "btnSetBound")->isEnabled());

        if (ticked.isEmpty())
            return;
        part<QCheckBox>(*w, "chkEnableBound")->click();
        part<QCheckBox>(*w, "chkEnableBound")->click();
        part<QPushButton>(*w, "btnSetBound")->click();
        QCOMPARE(s.dialogs.texts(), QStringList());
        QCOMPARE(s.root.read(kBondConf), "DEVICE=\"bond0\"\nSLAVES=\"" + ticked.join(' ').toUtf8()
                                             + "\"\nIP=\"10.1.1.5\"\nMASK=\"255.0.0.0\"\nGATEWAY=\"10.0.0.1\"\n");
    }

    void applyWritesFileThenRunsScript()
    {
        ConsoleScratch s;
        s.netDev({QStringLiteral("vkt0"), QStringLiteral("vkt1"), QStringLiteral("vkt2")});
        // The script finds the file already written.
        s.tools.addRecorderAt(s.root.path("/usr/sbin/bond"), QStringLiteral("bond"),
                              "cat '" + s.root.path(kBondConf).toUtf8() + "' > '"
                                  + s.root.path("/bond.seen").toUtf8() + "'\n");
        const auto w = s.open();
        part<QCheckBox>(*w, "chkEnableBound")->click();
        QVERIFY(part(*w, "btnSetBound")->isEnabled());
        part<QLineEdit>(*w, "edBondIP")->setText(QStringLiteral("10.0.0.5"));
        part<QLineEdit>(*w, "edBondMask")->setText(QStringLiteral("255.255.255.0 "));
        auto *members = part<QListWidget>(*w, "clbNIC");
        findEntry(members, QStringLiteral("vkt2"))->setCheckState(Qt::Checked);
        findEntry(members, QStringLiteral("vkt0"))->setCheckState(Qt::Checked);
        part<QPushButton>(*w, "btnSetBound")->click();

        const QByteArray expected = "DEVICE=\"bond0\"\nSLAVES=\"vkt0 vkt2\"\nIP=\"10.0.0.5\"\n"
                                    "MASK=\"255.255.255.0 \"\nGATEWAY=\"\"\n";
        QCOMPARE(s.root.read(kBondConf), expected);
        QCOMPARE(s.root.read(QStringLiteral("/bond.seen")), expected);
        QCOMPARE(s.tools.calls(QStringLiteral("bond")), QStringList{QStringLiteral("start")});
        QVERIFY(!part(*w, "btnSetBound")->isEnabled());
        QVERIFY(s.dialogs.requests().isEmpty());
    }

    void applyRefused_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<bool>("blockDir");
        QTest::addColumn<QString>("message");
        QTest::newRow("blank address") << "   " << "255.0.0.0" << true << false << "Ip Address is empty!";
        QTest::newRow("no mask") << "10.0.0.5" << "" << true << false << "Mask is empty!";
        QTest::newRow("nothing ticked") << "10.0.0.5" << "255.0.0.0" << false << false
                                        << "NO NIC adapter selected!";
        QTest::newRow("file cannot be made") << "10.0.0.5" << "255.0.0.0" << true << true
                                             << "Cannot create file %1";
    }
    void applyRefused()
    {
        QFETCH(QString, address);
        QFETCH(QString, mask);
        QFETCH(bool, tick);
        QFETCH(bool, blockDir);
        QFETCH(QString, message);
        ConsoleScratch s;
        s.netDev({QStringLiteral("vkt0")});
        s.tools.addRecorderAt(s.root.path("/usr/sbin/bond"), QStringLiteral("bond"));
        if (blockDir)
            s.root.write(QStringLiteral("/etc/velkora"), "a file where the directory belongs");
        const auto w = s.open();
        part<QCheckBox>(*w, "chkEnableBound")->click();
        part<QLineEdit>(*w, "edBondIP")->setText(address);
        part<QLineEdit>(*w, "edBondMask")->setText(mask);
        if (tick)
            findEntry(part<QListWidget>(*w, "clbNIC"), QStringLiteral("vkt0"))->setCheckState(Qt::Checked);
        part<QPushButton>(*w, "btnSetBound")->click();
        if (message.contains(QLatin1String("%1")))
            message = message.arg(s.root.path(kBondConf));
        QCOMPARE(s.dialogs.texts(), QStringList{message});
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Error);
        QVERIFY(!QFileInfo(s.root.path(kBondConf)).isFile());
        QVERIFY(s.tools.calls(QStringLiteral("bond")).isEmpty());
        QVERIFY(part(*w, "btnSetBound")->isEnabled());
    }

    // The script that cannot be run or fails is reported with its status
    // once it has ended; the file is written, and Apply stays enabled.
    void applyScriptFails_data()
    {
        QTest::addColumn<QByteArray>("script");   // empty: no script there
        QTest::addColumn<QString>("status");   // empty: the script succeeds
        QTest::newRow("exits 3") << QByteArray("exit 3\n") << "exit status 3";
        QTest::newRow("missing") << QByteArray() << "exit status 127";
        QTest::newRow("succeeds under an odd root") << QByteArray("exit 0\n") << QString();
    }
    void applyScriptFails()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, status);
        ConsoleScratch s;
        s.netDev({QStringLiteral("vkt0")});
        if (!script.isEmpty())
            s.tools.addRecorderAt(s.root.path("/usr/sbin/bond"), QStringLiteral("bond"), script);
        if (status.isEmpty()) {
            // The script's path reaches the shell as one word, whatever the root it lies under.
            QVERIFY(QFile::link(QStringLiteral("."), s.root.path(QStringLiteral("/odd root;$x"))));
            SetSystemRootForTesting(s.root.path(QStringLiteral("/odd root;$x")));
        }
        const auto w = s.open();
        part<QCheckBox>(*w, "chkEnableBound")->click();
        part<QLineEdit>(*w, "edBondIP")->setText(QStringLiteral("10.0.0.5"));
        part<QLineEdit>(*w, "edBondMask")->setText(QStringLiteral("255.0.0.0"));
        findEntry(part<QListWidget>(*w, "clbNIC"), QStringLiteral("vkt0"))->setCheckState(Qt::Checked);
        part<QPushButton>(*w, "btnSetBound")->click();
        if (status.isEmpty()) {
            QCOMPARE(s.dialogs.texts(), QStringList());
            QCOMPARE(s.tools.calls(QStringLiteral("bond")), QStringList{QStringLiteral("start")});
            QVERIFY(!part(*w, "btnSetBound")->isEnabled());
            return;
        }
        QCOMPARE(s.dialogs.texts(),
                 QStringList{QStringLiteral("Bonding script %1 start failed (%2); file %3 has been written.")
                                 .arg(s.root.path("/usr/sbin/bond"), status, s.root.path(kBondConf))});
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Error);
        QVERIFY(s.root.read(kBondConf).contains("SLAVES=\"vkt0\""));
        QVERIFY(part(*w, "btnSetBound")->isEnabled());
    }

    void cancelAsksAndDeletes_data()
    {
        QTest::addColumn<QString>("state");   // of bond.conf at start
        QTest::addColumn<QString>("error");   // after Yes
        QTest::newRow("a file") << "file" << QString();
        QTest::newRow("already gone") << "none" << QString();
        QTest::newRow("a directory") << "dir" << "Cannot delete file %1. Is a directory";
    }
    void cancelAsksAndDeletes()
    {
        QFETCH(QString, state);
        QFETCH(QString, error);
        ConsoleScratch s;
        s.tools.addRecorderAt(s.root.path("/usr/sbin/bond"), QStringLiteral("bond"));
        if (state == "file")
            s.root.write(kBondConf, "DEVICE=\"bond0\"\n");
        else if (state == "dir")
            s.root.mkdir(kBondConf);
        const auto w = s.open();
        s.dialogs.clear();
        auto *box = part<QCheckBox>(*w, "chkEnableBound");
        if (!box->isChecked())
            box->click();
        box->click();   // off
        QVERIFY(!part(*w, "edBondIP")->isEnabled());

        s.dialogs.answer(mrNo);
        part<QPushButton>(*w, "btnSetBound")->click();
        QCOMPARE(s.dialogs.texts(), QStringList{QStringLiteral("Confirm to Cancel Bounding?")});
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Warning);
        QCOMPARE(s.dialogs.requests().first().Buttons, unsigned(mbYes | mbNo));
        QCOMPARE(s.root.exists(kBondConf), state != "none");
        QVERIFY(part(*w, "btnSetBound")->isEnabled());

        s.dialogs.clear();
        part<QPushButton>(*w, "btnSetBound")->click();   // Yes
        QStringList shown{QStringLiteral("Confirm to Cancel Bounding?")};
        if (!error.isEmpty())
            shown << error.arg(s.root.path(kBondConf));
        QCOMPARE(s.dialogs.texts(), shown);
        QCOMPARE(s.root.exists(kBondConf), !error.isEmpty());
        QCOMPARE(part(*w, "btnSetBound")->isEnabled(), !error.isEmpty());
        QVERIFY(s.tools.calls(QStringLiteral("bond")).isEmpty());
    }
};

QTEST_MAIN(TestConMainNetwork)
#include "tst_conmain_network.moc"
