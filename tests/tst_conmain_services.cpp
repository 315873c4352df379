// The service pages of the console's main window: the state rows, the
// start, stop and manager commands, and the close-manager questions. The
// maker's programs are stand-in scripts under the scratch root that record
// their command lines and make or remove their pid files.
#include "conmain_fixture.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {
const QString kRun = QStringLiteral("/var/run/velkora/");

// A control program whose start and stop make and remove its pid file.
void addControl(ConsoleScratch &s, const QString &name, const QString &pid)
{
    const QByteArray file = s.root.path(kRun + pid).toUtf8();
    s.tools.addRecorderAt(s.root.path(QStringLiteral("/usr/sbin/") + name), name,
                          "mkdir -p \"$(dirname '" + file + "')\"\n"
                          "case \"$1\" in start) : > '" + file + "';; stop) rm -f '" + file + "';; esac\n");
}

bool enabled(const TfmConMain &w, const char *name) { return part(w, name)->isEnabled(); }
QString caption(const TfmConMain &w, const char *name) { return part<QLabel>(w, name)->text(); }
} // namespace

class TestConMainServices : public QObject {
    Q_OBJECT
    std::unique_ptr<TLibraryScope> library;

private Q_SLOTS:
    void initTestCase() { library = std::make_unique<TLibraryScope>(); }
    void cleanupTestCase() { library.reset(); }

    void rowStates_data()
    {
        QTest::addColumn<bool>("program");
        QTest::addColumn<bool>("pid");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("buttons");   // start, stop and manager enabled
        QTest::newRow("absent, pid file too") << false << true << "Fyr Me:未安装" << false;
        QTest::newRow("stopped") << true << false << "Fyr Me:已停止" << true;
        QTest::newRow("running") << true << true << "Fyr Me:已运行" << true;
    }
    void rowStates()
    {
        QFETCH(bool, program);
        QFETCH(bool, pid);
        QFETCH(QString, label);
        QFETCH(bool, buttons);
        ConsoleScratch s;
        if (program)
            s.root.mkdir(QStringLiteral("/usr/sbin/fyr"));   // any directory entry counts
        if (pid)
            s.root.write(kRun + QStringLiteral("fyrsrv.pid"), {});
        const auto w = s.open();
        QCOMPARE(caption(*w, "lbFyrState"), label);
        for (const char *b : {"btnFyrStart", "btnFyrStop", "btnFyrMan"})
            QCOMPARE(enabled(*w, b), buttons);
    }

    void installedStatesOnlyEnable()
    {
        ConsoleScratch s;
        const auto w = s.open();
        QVERIFY(!enabled(*w, "btnFyrStart") && !enabled(*w, "btnFyrStop"));
        s.root.mkdir(QStringLiteral("/usr/sbin/fyr"));
        w->RefreshFyrMeState();
        QVERIFY(enabled(*w, "btnFyrStart") && !enabled(*w, "btnFyrStop"));
        s.root.write(kRun + QStringLiteral("fyrsrv.pid"), {});
        w->RefreshFyrMeState();
        QVERIFY(enabled(*w, "btnFyrStart") && enabled(*w, "btnFyrStop"));
    }

    void xpProgramDecidesManagerRows()
    {
        ConsoleScratch s;
        for (const char *f : {"/usr/sbin/fyqman", "/usr/sbin/fyqbootmgr", "/usr/sbin/fyqiomgr"})
            s.root.write(QLatin1String(f), {});
        for (const char *p : {"fyqsrv.pid", "fyqboot.pid", "fyqio.pid"})
            s.root.write(kRun + QLatin1String(p), {});
        s.ini("[General]\nLAN=EN\n[EN]\nGeneral.NoInst=(none)\n");
        const auto w = s.open();
        QCOMPARE(caption(*w, "lbFyqState"), QStringLiteral("Fyr XP:(none)"));
        QCOMPARE(caption(*w, "lbFyq5BootState"), QStringLiteral("Fyr XP 5 Boot: (none)"));
        QCOMPARE(caption(*w, "lbFyq5IoState"), QStringLiteral("Fyr XP 5 IO: (none)"));
        for (const char *b : {"btnFyqMan", "btnKillFyqMan", "btnFyq5BootMgr", "btnKillFyq5BootMgr",
                              "btnFyq5IOMgr", "btnKillFyq5IoMgr"})
            QVERIFY2(!enabled(*w, b), b);
        // The hidden Kelvask row is refreshed all the same.
        QVERIFY(part(*w, "lbKVState")->isHidden());
        QCOMPARE(caption(*w, "lbKVState"), QStringLiteral("Kelvask:(none)"));
    }

    void startAndStopUnderHourglass()
    {
        ConsoleScratch s;
        addControl(s, QStringLiteral("fyr"), QStringLiteral("fyrsrv.pid"));
        s.ini("[General]\nLAN=EN\n[EN]\nGeneral.ProdFyrme=Me:\nGeneral.Started=on\n");
        const auto w = s.open();
        QCOMPARE(caption(*w, "lbFyrState"), QStringLiteral("Me:已停止"));

        bool hourglass = false;
        QTimer::singleShot(0, [&] {
            hourglass = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        });
        part<QPushButton>(*w, "btnFyrStart")->click();
        QVERIFY(hourglass);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(caption(*w, "lbFyrState"), QStringLiteral("Me:on"));

        part<QPushButton>(*w, "btnFyrStop")->click();
        QCOMPARE(caption(*w, "lbFyrState"), QStringLiteral("Me:已停止"));
        QCOMPARE(s.tools.calls(QStringLiteral("fyr")), (QStringList{"start", "stop"}));
        QVERIFY(!QApplication::overrideCursor());
    }

    void refreshWaitsForLatePidFile_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("delayMs");   // from the program's return to its pid file
        QTest::addColumn<QString>("label");
        QTest::newRow("service, 200 ms late") << "btnFyrStart" << 200 << "Fyr Me:已运行";
        QTest::newRow("service, 1500 ms late") << "btnFyrStart" << 1500 << "Fyr Me:已停止";
        QTest::newRow("manager, 200 ms late") << "btnFyrMan" << 200 << "Fyr Me:已运行";
    }
    void refreshWaitsForLatePidFile()
    {
        // The service writes its pid file a moment after its control program
        // (or manager) returns; the console waits 500 ms before it looks.
        QFETCH(QString, button);
        QFETCH(int, delayMs);
        QFETCH(QString, label);
        ConsoleScratch s;
        const QByteArray pid = s.root.path(kRun + QStringLiteral("fyrsrv.pid")).toUtf8();
        s.root.mkdir(kRun);
        const QByteArray late = "(sleep " + QByteArray::number(delayMs / 1000.0) + "; : > '" + pid
                                + "') > /dev/null 2>&1 &\n";
        s.tools.addRecorderAt(s.root.path(QStringLiteral("/usr/sbin/fyr")), QStringLiteral("fyr"), late);
        s.tools.addRecorderAt(s.root.path(QStringLiteral("/usr/sbin/fyrman")), QStringLiteral("fyrman"), late);
        // A program's path reaches the shell as one word, whatever the root it lies under.
        QVERIFY(QFile::link(QStringLiteral("."), s.root.path(QStringLiteral("/odd root;$x"))));
        SetSystemRootForTesting(s.root.path(QStringLiteral("/odd root;$x")));
        const auto w = s.open();
        part<QPushButton>(*w, button.toLatin1().constData())->click();
        QCOMPARE(caption(*w, "lbFyrState"), label);
        QCOMPARE(s.tools.calls(button == QLatin1String("btnFyrMan") ? QStringLiteral("fyrman") : QStringLiteral("fyr")),
                 QStringList{button == QLatin1String("btnFyrMan") ? QString() : QStringLiteral("start")});
    }

    void managersRunWithoutArgumentsAndRefreshTheirRows()
    {
        ConsoleScratch s;
        s.root.mkdir(QStringLiteral("/usr/sbin/fyq"));
        const QByteArray bootPid = s.root.path(kRun + QStringLiteral("fyqboot.pid")).toUtf8();
        const QByteArray ioPid = s.root.path(kRun + QStringLiteral("fyqio.pid")).toUtf8();
        // The boot manager starts both managers' services; the console learns
        // of the second one because both rows refresh.
        s.tools.addRecorderAt(s.root.path(QStringLiteral("/usr/sbin/fyqbootmgr")), QStringLiteral("bootmgr"),
                              "mkdir -p \"$(dirname '" + bootPid + "')\"; : > '" + bootPid + "'; : > '" + ioPid + "'\n");
        s.tools.addRecorderAt(s.root.path(QStringLiteral("/usr/sbin/fyqman")), QStringLiteral("fyqman"));
        const auto w = s.open();
        QCOMPARE(caption(*w, "lbFyq5IoState"), QStringLiteral("Fyr XP 5 IO: 已停止"));
        part<QPushButton>(*w, "btnFyq5BootMgr")->click();
        QCOMPARE(s.tools.calls(QStringLiteral("bootmgr")), QStringList{QString()});
        QCOMPARE(caption(*w, "lbFyq5BootState"), QStringLiteral("Fyr XP 5 Boot: 已运行"));
        QCOMPARE(caption(*w, "lbFyq5IoState"), QStringLiteral("Fyr XP 5 IO: 已运行"));
        part<QPushButton>(*w, "btnFyqMan")->click();
        QCOMPARE(s.tools.calls(QStringLiteral("fyqman")), QStringList{QString()});
        QVERIFY(!QApplication::overrideCursor());
    }

    void closeManagerAsks_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("process");
        QTest::newRow("manager") << "btnKillFyqMan" << "Do you confirm to close Manager?" << "fyqman.exe";
        QTest::newRow("boot") << "btnKillFyq5BootMgr" << "Do you confirm to close Boot Manager?" << "fyqbootmgr.exe";
        QTest::newRow("io") << "btnKillFyq5IoMgr" << "Do you confirm to close I/O Manager?" << "fyqiomgr.exe";
    }
    void closeManagerAsks()
    {
        QFETCH(QString, button);
        QFETCH(QString, question);
        QFETCH(QString, process);
        ConsoleScratch s;
        s.root.mkdir(QStringLiteral("/usr/sbin/fyq"));
        const auto w = s.open();
        const QString before = caption(*w, "lbFyqState") + caption(*w, "lbFyq5BootState") + caption(*w, "lbFyq5IoState");
        auto *b = part<QPushButton>(*w, button.toLatin1().constData());
        s.dialogs.answer(mrNo);
        b->click();
        QVERIFY(s.tools.calls(QStringLiteral("killall")).isEmpty());
        b->click();   // Yes
        QCOMPARE(s.tools.calls(QStringLiteral("killall")), QStringList{process});
        QCOMPARE(s.dialogs.texts(), (QStringList{question, question}));
        QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Warning);
        QCOMPARE(s.dialogs.requests().first().Buttons, unsigned(mbYes | mbNo));
        // No refresh follows, even though the state changed meanwhile.
        s.root.write(kRun + QStringLiteral("fyqsrv.pid"), {});
        b->click();
        QCOMPARE(caption(*w, "lbFyqState") + caption(*w, "lbFyq5BootState") + caption(*w, "lbFyq5IoState"), before);
    }
};

QTEST_MAIN(TestConMainServices)
#include "tst_conmain_services.moc"
