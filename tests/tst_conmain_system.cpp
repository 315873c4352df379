// The install, remote-debug and system pages of the console's main window:
// the command lines they run, their blank checks, notices and questions.
// Stand-ins record every argument apart, so typed text that must stay one
// word is seen to, and shell code in it is seen not to run.
#include "conmain_fixture.h"
#include "vkCmdUtils.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QApplication>
#include <QStackedWidget>
#include <QToolButton>

#include <arpa/inet.h>

using TArgs = QList<QByteArray>;

namespace {
// A stand-in keeping its arguments, then DISPLAY and LC_CTYPE, each ended
// by a NUL and led by the count; the record appears whole. Then runs Extra.
void argRecorder(StandIns &tools, const QString &name, const QByteArray &extra = {})
{
    const QByteArray base = QFile::encodeName(tools.dir() + QLatin1Char('/') + name);
    tools.addScript(name, "printf '%s\\0' \"$#\" \"$@\" \"$DISPLAY\" \"$LC_CTYPE\" > '" + base + ".tmp'\n"
                          "mv '" + base + ".tmp' '" + base + ".rec'\n" + extra);
}

TArgs recorded(const StandIns &tools, const QString &name)
{
    QFile f(tools.dir() + QLatin1Char('/') + name + QStringLiteral(".rec"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    TArgs a = f.readAll().split('\0');
    a.removeLast();
    a.removeFirst();
    return a;
}

// Runs a background command through the console's runner and waits until
// it has run: a command that a faulty handler started before it in the
// background has had its chance to show by then.
void settle(StandIns &tools)
{
    argRecorder(tools, QStringLiteral("vktsettle"));
    RunShell(ShellQuote(tools.dir() + QStringLiteral("/vktsettle")) + QStringLiteral(" &"));
    QTRY_VERIFY(!recorded(tools, QStringLiteral("vktsettle")).isEmpty());
}

const QString kMarker = QDir::tempPath() + QStringLiteral("/vkt-injected-")
                        + QString::number(QCoreApplication::applicationPid());

// Texts that would run a command if a shell read them as code.
QList<std::pair<const char *, QString>> hostileTexts()
{
    const QString touch = QStringLiteral("touch '") + kMarker + QLatin1Char('\'');
    return {{"semicolon", "/root/a.run; " + touch},
            {"command substitution", "/root/$(" + touch + ").run"},
            {"backquotes", "/root/`" + touch + "`.run"},
            {"both quotes", "/root/it's \"x\".run'; " + touch + "; '"},
            {"newline", "/root/a.run\n" + touch}};
}

void setInterfaces(const QStringList &entries)   // "name=address"; "lo" is the loopback
{
    TNICs *nics = SystemInfo->NICs();
    nics->Clear();
    for (const QString &entry : entries) {
        TNIC *nic = nics->FindNIC(entry.section(QLatin1Char('='), 0, 0), true);
        nic->IsLoopback = nic->Name == QLatin1String("lo");
        inet_pton(AF_INET, entry.section(QLatin1Char('='), 1).toLatin1().constData(), &nic->Addr);
    }
}
} // namespace

class TestConMainSystem : public QObject {
    Q_OBJECT
    std::unique_ptr<TLibraryScope> library;

private Q_SLOTS:
    void initTestCase() { library = std::make_unique<TLibraryScope>(); }
    void cleanupTestCase() { library.reset(); }
    void cleanup() { QFile::remove(kMarker); }

    // What a button runs, given the page's texts and the interfaces read at
    // start; or the notice it shows instead.
    void commands_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QStringList>("texts");   // "component=text"
        QTest::addColumn<QString>("program");     // empty: nothing runs
        QTest::addColumn<TArgs>("args");          // then DISPLAY and LC_CTYPE for the remote terminal
        QTest::addColumn<QString>("notice");
        QTest::addColumn<int>("noticeType");
        const QStringList nics{"lo=127.0.0.1", "vkt0=10.0.0.5", "vkt1=0.0.0.0", "vkt2=192.168.1.9"};
        const QString contact = QStringLiteral("Please contact with Remote Administrator!");
        const int info = int(TMsgDlgType::Information), error = int(TMsgDlgType::Error);
        QTest::newRow("administrator password") << QByteArray("chgAmdinPass") << QStringList() << "xterm"
                                                << TArgs{"-e", "passwd"} << "" << 0;
        QTest::newRow("remote password") << QByteArray("chgRemotePass") << QStringList() << "xterm"
                                         << TArgs{"-e", "vncpasswd"} << "" << 0;
        QTest::newRow("package path with a blank") << QByteArray("btnInst") << QStringList{"Edit3=/root/my pkg.run"}
                                                   << "xterm" << TArgs{"-e", "sh", "/root/my pkg.run"} << "" << 0;
        QTest::newRow("package path of blanks") << QByteArray("btnInst") << QStringList{"Edit3=   "} << ""
                                                << TArgs() << "请选择安装包：" << error;
        QTest::newRow("title from the addresses")
            << QByteArray("btnRdebug") << (QStringList{"edtDebugServer=10.1.1.1:0"} + nics) << "xterm"
            << TArgs{"-title", "Remote Debug --- 10.0.0.5/192.168.1.9", "10.1.1.1:0", "en_US"} << contact << info;
        QTest::newRow("XTerm is the xterm form, server untrimmed")
            << QByteArray("btnRdebug") << QStringList{"edtDebugServer= h:0", "cmbTerminal=XTerm", "vkt0=10.0.0.5"}
            << "xterm" << TArgs{"-title", "Remote Debug --- 10.0.0.5", " h:0", "en_US"} << contact << info;
        QTest::newRow("no address but the loopback")
            << QByteArray("btnRdebug") << QStringList{"edtDebugServer=h:1", "lo=127.0.0.1", "vkt1=0.0.0.0"}
            << "xterm" << TArgs{"-title", "Remote Debug --- ", "h:1", "en_US"} << contact << info;
        QTest::newRow("own terminal is a command line")
            << QByteArray("btnRdebug") << QStringList{"edtDebugServer=h:1", "cmbTerminal=vktterm -fg 'light red'"}
            << "vktterm" << TArgs{"-fg", "light red", "h:1", "en_US"} << contact << info;
        QTest::newRow("blank server") << QByteArray("btnRdebug") << QStringList{"edtDebugServer= \t "} << ""
                                      << TArgs() << "Remote Debug Server IP is Empty." << error;
        for (const auto &[name, text] : hostileTexts()) {
            QTest::addRow("package path, %s", name) << QByteArray("btnInst") << QStringList{"Edit3=" + text}
                                                    << "xterm" << TArgs{"-e", "sh", text.toUtf8()} << "" << 0;
            QTest::addRow("display, %s", name)
                << QByteArray("btnRdebug") << QStringList{"edtDebugServer=" + text} << "xterm"
                << TArgs{"-title", "Remote Debug --- ", text.toUtf8(), "en_US"} << contact << info;
        }
    }
    void commands()
    {
        QFETCH(QByteArray, button);
        QFETCH(QStringList, texts);
        QFETCH(QString, program);
        QFETCH(TArgs, args);
        QFETCH(QString, notice);
        QFETCH(int, noticeType);
        ConsoleScratch s;
        // The package stand-in runs sh on the path as the real terminal would.
        argRecorder(s.tools, QStringLiteral("xterm"), "[ \"$2\" = sh ] && exec sh \"$3\"\n");
        argRecorder(s.tools, QStringLiteral("vktterm"));
        const auto w = s.open();
        QStringList nics;
        for (const QString &t : texts) {
            const QString name = t.section(QLatin1Char('='), 0, 0), text = t.section(QLatin1Char('='), 1);
            if (auto *edit = w->findChild<QLineEdit *>(name))
                edit->setText(text);
            else if (auto *combo = w->findChild<QComboBox *>(name))
                combo->setEditText(text);
            else
                nics << t;
        }
        setInterfaces(nics);
        part<QPushButton>(*w, button.constData())->click();
        if (program.isEmpty()) {
            settle(s.tools);
            QVERIFY(recorded(s.tools, QStringLiteral("xterm")).isEmpty());
        } else {
            QTRY_VERIFY(!recorded(s.tools, program).isEmpty());   // the remote terminal starts in the background
            QCOMPARE(recorded(s.tools, program).mid(0, args.size()), args);
        }
        QVERIFY(!QFile::exists(kMarker));
        QCOMPARE(s.dialogs.texts(), notice.isEmpty() ? QStringList() : QStringList{notice});
        if (!notice.isEmpty())
            QCOMPARE(int(s.dialogs.requests().first().Type), noticeType);
    }

    // "...": the open dialog from /root; its file, whatever its name, is what
    // sh runs. Blanks enable the install button (the click refuses them).
    void choosePackage()
    {
        ConsoleScratch s;
        const QString ran = s.root.path(QStringLiteral("/ran"));
        const QString package = s.root.path(QStringLiteral("/root/pkg; touch '") + kMarker + "' $(id).run");
        writeFile(package, "echo ran > '" + QFile::encodeName(ran) + "'\n");
        argRecorder(s.tools, QStringLiteral("xterm"), "[ \"$2\" = sh ] && exec sh \"$3\"\n");
        const auto w = s.open();
        auto *edit = part<QLineEdit>(*w, "Edit3");
        auto *install = part<QPushButton>(*w, "btnInst");
        QVERIFY(!install->isEnabled());
        edit->setText(QStringLiteral(" "));
        QVERIFY(install->isEnabled());
        edit->clear();
        QVERIFY(!install->isEnabled());
        s.dialogs.answer(mrCancel);
        s.dialogs.answer(mrOk, package);
        part<QToolButton>(*w, "SpeedButton1")->click();
        QCOMPARE(edit->text(), QString());
        part<QToolButton>(*w, "SpeedButton1")->click();
        QCOMPARE(edit->text(), package);
        for (const TDialogRequest &r : s.dialogs.requests())
            QVERIFY(r.kind == TDialogRequest::OpenFile && r.InitialDir == QLatin1String("/root"));
        install->click();
        QVERIFY(QFile::exists(ran));
        QVERIFY(!QFile::exists(kMarker));
    }

    // The "..." button is a speed button: it never takes the keyboard focus,
    // so Tab passes it by and Enter never lands on it.
    void speedButtonTakesNoFocus()
    {
        ConsoleScratch s;
        const auto w = s.open();
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        part<QStackedWidget>(*w, "PageControl1")->setCurrentWidget(part<QWidget>(*w, "tsSetup"));
        auto *edit = part<QLineEdit>(*w, "Edit3");
        auto *speed = part<QToolButton>(*w, "SpeedButton1");
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != speed);
        edit->setFocus();
        s.dialogs.answer(mrCancel);
        QTest::mouseClick(speed, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), edit);
        QVERIFY(w->isVisible());
    }

    void shutdownAndReboot_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("yes");
        for (bool yes : {true, false}) {
            QTest::addRow("shutdown %d", yes) << QByteArray("btnShutDown") << "Confirm to Shutdown the Server?" << "halt" << yes;
            QTest::addRow("reboot %d", yes) << QByteArray("btnReboot") << "Confirm to Reboot the Server?" << "reboot" << yes;
        }
    }
    void shutdownAndReboot()
    {
        QFETCH(QByteArray, button);
        QFETCH(QString, question);
        QFETCH(QString, program);
        QFETCH(bool, yes);
        ConsoleScratch s;
        // Stand-ins that take their time: the console must not wait for them.
        const QString done = s.tools.dir() + QStringLiteral("/done");
        const QByteArray slow = "{ sleep 2; : > '" + QFile::encodeName(done) + "'; } 2>/dev/null\n";
        argRecorder(s.tools, QStringLiteral("halt"), slow);
        argRecorder(s.tools, QStringLiteral("reboot"), slow);
        const auto w = s.open();
        w->show();
        s.dialogs.answer(yes ? mrYes : mrNo);
        part<QPushButton>(*w, button.constData())->click();
        QVERIFY(!QFile::exists(done));
        QCOMPARE(s.dialogs.texts(), QStringList{question});
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Warning);
        QCOMPARE(s.dialogs.requests().first().Buttons, unsigned(mbYes | mbNo));
        if (yes)
            QTRY_COMPARE(recorded(s.tools, program).size(), 2);   // no arguments
        else
            settle(s.tools);
        QCOMPARE(w->isVisible(), !yes);
        QCOMPARE(recorded(s.tools, QStringLiteral("halt")).isEmpty(), !yes || program != QLatin1String("halt"));
        QCOMPARE(recorded(s.tools, QStringLiteral("reboot")).isEmpty(), !yes || program != QLatin1String("reboot"));
    }
};

QTEST_MAIN(TestConMainSystem)
#include "tst_conmain_system.moc"
