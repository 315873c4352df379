// The install, remote-debug and system pages of the console's main window:
// the command lines they run (stand-ins record every argument apart, so a
// text that should stay one word is seen to), their blank checks and
// questions. Typed text reaches the shell as one word and never as code.
#include "conmain_fixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <arpa/inet.h>

using TArgs = QList<QByteArray>;
Q_DECLARE_METATYPE(TArgs)

namespace {
// A stand-in that keeps its arguments (each ended by a NUL) and its DISPLAY
// and LC_CTYPE, then runs Extra. The record appears whole or not at all.
void argRecorder(StandIns &tools, const QString &name, const QByteArray &extra = {})
{
    const QByteArray base = QFile::encodeName(tools.dir() + QLatin1Char('/') + name);
    tools.addScript(name, "printf '%s\\0' \"$#\" \"$@\" > '" + base + ".tmp'\n"
                          "printf '%s\\0' \"$DISPLAY\" \"$LC_CTYPE\" >> '" + base + ".tmp'\n"
                          "mv '" + base + ".tmp' '" + base + ".rec'\n" + extra);
}

// The arguments, then DISPLAY and LC_CTYPE, of the stand-in's last run.
TArgs recorded(const StandIns &tools, const QString &name)
{
    QFile f(tools.dir() + QLatin1Char('/') + name + QStringLiteral(".rec"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    TArgs a = f.readAll().split('\0');
    a.removeLast();
    a.removeFirst();   // the count, which tells no arguments from one empty one
    return a;
}

bool ran(const StandIns &tools, const QString &name)
{
    return QFile::exists(tools.dir() + QLatin1Char('/') + name + QStringLiteral(".rec"));
}

// Texts that would run the command when handed to a shell unquoted.
void hostileRows(const QString &marker)
{
    const QString touch = QStringLiteral("touch '") + marker + QLatin1Char('\'');
    QTest::newRow("semicolon") << QString("/root/a.run; " + touch);
    QTest::newRow("command substitution") << QString("/root/$(" + touch + ").run");
    QTest::newRow("backquotes") << QString("/root/`" + touch + "`.run");
    QTest::newRow("both quotes") << QString("/root/it's \"x\".run'; " + touch + "; '");
    QTest::newRow("newline") << QString("/root/a.run\n" + touch);
    QTest::newRow("blank") << QStringLiteral("/root/my package.run");
}

QString markerPath()
{
    return QDir::tempPath() + QStringLiteral("/vkt-injected-") + QString::number(QCoreApplication::applicationPid());
}

void setInterfaces(const QStringList &spec)   // "name=address", "lo" for the loopback
{
    TNICs *nics = SystemInfo->NICs();
    nics->Clear();
    for (const QString &entry : spec) {
        const QStringList p = entry.split(QLatin1Char('='));
        TNIC *nic = nics->FindNIC(p[0], true);
        nic->IsLoopback = p[0] == QLatin1String("lo");
        in_addr a{};
        inet_pton(AF_INET, p.value(1, QStringLiteral("0.0.0.0")).toLatin1().constData(), &a);
        nic->Addr = a.s_addr;
    }
}
} // namespace

class TestConMainSystem : public QObject {
    Q_OBJECT
    std::unique_ptr<TLibraryScope> library;

private Q_SLOTS:
    void initTestCase() { library = std::make_unique<TLibraryScope>(); }
    void cleanupTestCase() { library.reset(); }
    void cleanup() { QFile::remove(markerPath()); }

    void choosePackage()
    {
        ConsoleScratch s;
        const auto w = s.open();
        auto *edit = part<QLineEdit>(*w, "Edit3");
        auto *install = part<QPushButton>(*w, "btnInst");
        QVERIFY(!install->isEnabled());
        s.dialogs.answer(mrCancel);
        part<QToolButton>(*w, "SpeedButton1")->click();
        QCOMPARE(edit->text(), QString());
        s.dialogs.answer(mrOk, QStringLiteral("/root/pkg 1.run"));
        part<QToolButton>(*w, "SpeedButton1")->click();
        QCOMPARE(edit->text(), QStringLiteral("/root/pkg 1.run"));
        QVERIFY(install->isEnabled());
        for (const TDialogRequest &r : s.dialogs.requests()) {
            QCOMPARE(r.kind, TDialogRequest::OpenFile);
            QCOMPARE(r.Caption, QStringLiteral("Open"));
            QCOMPARE(r.InitialDir, QStringLiteral("/root"));
            QCOMPARE(r.Filter, QStringLiteral("安装包文件(*.run)|所有文件(*.*)"));
        }
        edit->clear();
        QVERIFY(!install->isEnabled());
        edit->setText(QStringLiteral("   "));   // blanks enable the button, the click refuses them
        QVERIFY(install->isEnabled());
        argRecorder(s.tools, QStringLiteral("xterm"));
        install->click();
        QCOMPARE(s.dialogs.requests().size(), 3);
        const TDialogRequest &blank = s.dialogs.requests().last();
        QCOMPARE(blank.Text, QStringLiteral("请选择安装包："));
        QCOMPARE(blank.Type, TMsgDlgType::Error);
        QCOMPARE(blank.Buttons, unsigned(mbYes));
        QVERIFY(!ran(s.tools, QStringLiteral("xterm")));
    }

    // The package path is one argument of sh, whatever it holds.
    void installPath_data()
    {
        QTest::addColumn<QString>("path");
        hostileRows(markerPath());
    }
    void installPath()
    {
        QFETCH(QString, path);
        ConsoleScratch s;
        argRecorder(s.tools, QStringLiteral("xterm"), "[ \"$2\" = sh ] && exec sh \"$3\"\n");
        const auto w = s.open();
        part<QLineEdit>(*w, "Edit3")->setText(path);
        part<QPushButton>(*w, "btnInst")->click();
        QCOMPARE(recorded(s.tools, QStringLiteral("xterm")).mid(0, 3), (TArgs{"-e", "sh", path.toUtf8()}));
        QVERIFY(!QFile::exists(markerPath()));
        QVERIFY(s.dialogs.requests().isEmpty());
    }

    // A file chosen in the dialog whose name holds shell characters: sh runs
    // that file, and nothing else runs.
    void chosenFileRunsAsItself()
    {
        ConsoleScratch s;
        const QString ranMark = s.root.path(QStringLiteral("/ran"));
        const QString package = s.root.path(QStringLiteral("/root/pkg; touch '") + markerPath() + "' $(id).run");
        writeFile(package, "echo ran > '" + QFile::encodeName(ranMark) + "'\n");
        argRecorder(s.tools, QStringLiteral("xterm"), "[ \"$2\" = sh ] && exec sh \"$3\"\n");
        const auto w = s.open();
        s.dialogs.answer(mrOk, package);
        part<QToolButton>(*w, "SpeedButton1")->click();
        part<QPushButton>(*w, "btnInst")->click();
        QVERIFY(QFile::exists(ranMark));
        QVERIFY(!QFile::exists(markerPath()));
    }

    void terminals_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<TArgs>("args");
        QTest::newRow("administrator password") << QByteArray("chgAmdinPass") << TArgs{"-e", "passwd"};
        QTest::newRow("remote password") << QByteArray("chgRemotePass") << TArgs{"-e", "vncpasswd"};
    }
    void terminals()
    {
        QFETCH(QByteArray, button);
        QFETCH(TArgs, args);
        ConsoleScratch s;
        argRecorder(s.tools, QStringLiteral("xterm"));
        const auto w = s.open();
        part<QPushButton>(*w, button.constData())->click();
        QCOMPARE(recorded(s.tools, QStringLiteral("xterm")).mid(0, 2), args);
        QVERIFY(s.dialogs.requests().isEmpty());
    }

    // The remote terminal: its program, arguments and DISPLAY.
    void remoteDebug_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("terminal");
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QString>("program");
        QTest::addColumn<TArgs>("args");
        const QStringList nics{"lo=127.0.0.1", "vkt0=10.0.0.5", "vkt1", "vkt2=192.168.1.9"};
        QTest::newRow("title from the addresses") << "10.1.1.1:0" << "xterm" << nics << "xterm"
                                                  << TArgs{"-title", "Remote Debug --- 10.0.0.5/192.168.1.9"};
        QTest::newRow("XTerm is the xterm form") << " 10.1.1.1:0" << "XTerm" << QStringList{"vkt0=10.0.0.5"}
                                                 << "xterm" << TArgs{"-title", "Remote Debug --- 10.0.0.5"};
        QTest::newRow("loopback only") << "h:1" << "xterm" << QStringList{"lo=127.0.0.1", "vkt1"} << "xterm"
                                       << TArgs{"-title", "Remote Debug --- "};
        QTest::newRow("own terminal is a command line") << "h:1" << "vktterm -fg 'light red'" << nics
                                                        << "vktterm" << TArgs{"-fg", "light red"};
    }
    void remoteDebug()
    {
        QFETCH(QString, server);
        QFETCH(QString, terminal);
        QFETCH(QStringList, interfaces);
        QFETCH(QString, program);
        QFETCH(TArgs, args);
        ConsoleScratch s;
        argRecorder(s.tools, program);
        const auto w = s.open();
        setInterfaces(interfaces);
        part<QLineEdit>(*w, "edtDebugServer")->setText(server);
        part<QComboBox>(*w, "cmbTerminal")->setEditText(terminal);
        part<QPushButton>(*w, "btnRdebug")->click();
        QTRY_VERIFY(ran(s.tools, program));   // started in the background
        QCOMPARE(recorded(s.tools, program), args + (TArgs{server.toUtf8(), "en_US"}));
        QCOMPARE(s.dialogs.texts(), QStringList{"Please contact with Remote Administrator!"});
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Information);
        QCOMPARE(s.dialogs.requests().first().Buttons, unsigned(mbYes));
    }

    // The display is one word: DISPLAY holds the text as typed, nothing runs.
    void remoteDebugDisplay_data()
    {
        QTest::addColumn<QString>("path");
        hostileRows(markerPath());
    }
    void remoteDebugDisplay()
    {
        QFETCH(QString, path);
        ConsoleScratch s;
        argRecorder(s.tools, QStringLiteral("xterm"));
        const auto w = s.open();
        part<QLineEdit>(*w, "edtDebugServer")->setText(path);
        part<QPushButton>(*w, "btnRdebug")->click();
        QTRY_VERIFY(ran(s.tools, QStringLiteral("xterm")));
        const TArgs got = recorded(s.tools, QStringLiteral("xterm"));
        QCOMPARE(got.mid(got.size() - 2), (TArgs{path.toUtf8(), "en_US"}));
        QTest::qWait(100);
        QVERIFY(!QFile::exists(markerPath()));
    }

    void remoteDebugBlankServer()
    {
        ConsoleScratch s;
        argRecorder(s.tools, QStringLiteral("xterm"));
        const auto w = s.open();
        part<QLineEdit>(*w, "edtDebugServer")->setText(QStringLiteral(" \t "));
        part<QPushButton>(*w, "btnRdebug")->click();
        QCOMPARE(s.dialogs.texts(), QStringList{"Remote Debug Server IP is Empty."});
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Error);
        QCOMPARE(s.dialogs.requests().first().Buttons, unsigned(mbYes));
    }

    void shutdownAndReboot_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("yes");
        QTest::newRow("shutdown yes") << QByteArray("btnShutDown") << "Confirm to Shutdown the Server?" << "halt" << true;
        QTest::newRow("shutdown no") << QByteArray("btnShutDown") << "Confirm to Shutdown the Server?" << "halt" << false;
        QTest::newRow("reboot yes") << QByteArray("btnReboot") << "Confirm to Reboot the Server?" << "reboot" << true;
        QTest::newRow("reboot no") << QByteArray("btnReboot") << "Confirm to Reboot the Server?" << "reboot" << false;
    }
    void shutdownAndReboot()
    {
        QFETCH(QByteArray, button);
        QFETCH(QString, question);
        QFETCH(QString, program);
        QFETCH(bool, yes);
        ConsoleScratch s;
        argRecorder(s.tools, QStringLiteral("halt"));
        argRecorder(s.tools, QStringLiteral("reboot"));
        const auto w = s.open();
        w->show();
        s.dialogs.answer(yes ? mrYes : mrNo);
        part<QPushButton>(*w, button.constData())->click();
        QCOMPARE(s.dialogs.texts(), QStringList{question});
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Warning);
        QCOMPARE(s.dialogs.requests().first().Buttons, unsigned(mbYes | mbNo));
        if (yes) {
            QTRY_VERIFY(ran(s.tools, program));
            QCOMPARE(recorded(s.tools, program).size(), 2);   // no arguments, then DISPLAY and LC_CTYPE
            QVERIFY(!w->isVisible());
        } else {
            QTest::qWait(200);
            QVERIFY(w->isVisible());
        }
        QVERIFY(!ran(s.tools, QStringLiteral("halt")) || program == QLatin1String("halt"));
        QVERIFY(!ran(s.tools, QStringLiteral("reboot")) || program == QLatin1String("reboot"));
        QCOMPARE(ran(s.tools, program), yes);
    }
};

QTEST_MAIN(TestConMainSystem)
#include "tst_conmain_system.moc"
