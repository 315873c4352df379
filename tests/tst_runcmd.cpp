// The command window through the real shell: what the memo shows, the wait
// status, saving, the font, and a window that stays alive and shut while
// its command runs.
#include "hostmain_fixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <QScrollBar>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kRule = QString(64, QLatin1Char('-'));

QStringList memoLines(const QString &text) { return text.split(QLatin1Char('\n')); }

int openFds() { return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size()); }
} // namespace

class TestRunCmd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void output_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("lines");
        const QString a1024(1024, QLatin1Char('a'));
        QTest::newRow("silent, exit 0") << "true" << QStringList{"", kRule, "  RESULT: 0"};
        QTest::newRow("missing command")
            << "no-such-command-here"
            << QStringList{"sh: 1: no-such-command-here: not found", "", kRule, "  RESULT: 32512"};
        QTest::newRow("3000-byte line")
            << "printf '%03000d\\n' 0 | tr 0 a"
            << QStringList{a1024, a1024, QString(952, QLatin1Char('a')), "", kRule, "  RESULT: 0"};
        QTest::newRow("blanks, empty lines, last line without newline")
            << "printf '\\n  x \\t \\n\\n\\ty\\nb'" << QStringList{"", "  x", "", "\ty", "b", "", kRule, "  RESULT: 0"};
        QTest::newRow("error output merged") << "(echo out; echo err >&2; exit 3)"
                                             << QStringList{"out", "err", "", kRule, "  RESULT: 768"};
        QTest::newRow("UTF-8 cut by a piece")
            << "printf '%01023d\\n' 0 | tr 0 a | sed 's/$/é/'"
            << QStringList{QString(1023, QLatin1Char('a')), QString(QChar(0xe9)), "", kRule, "  RESULT: 0"};
        // A zero byte ends what a piece shows, not the line: the next piece
        // of a long line shows again.
        QTest::newRow("zero bytes")
            << "printf 'ab\\0cd\\n\\0x\\nef\\0'; printf '%01500d\\n' 0 | tr 0 a"
            << QStringList{"ab", "", "ef", QString(1500 - 1021, QLatin1Char('a')), "", kRule, "  RESULT: 0"};
    }
    void output()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, lines);
        HostScratch s;
        RunCommand(command);
        QCOMPARE(s.runs.size(), 1);
        QCOMPARE(s.runs[0].Command, command + " 2>&1");
        QCOMPARE(memoLines(s.runs[0].Output), lines);
        QVERIFY(!QApplication::overrideCursor());
    }

    // The window's texts come from the language file.
    void translated()
    {
        qputenv("LC_ALL", "C");
        HostScratch s;
        s.programFile("vkhostset.ini", "[EN]\nfmRunCmd=Running\nfmRunCmd.btnSave=Keep\n");
        InitLanguage(QStringLiteral("vkhostset.ini"));
        SetRunCommandHook(nullptr);
        TfmRunCmd w;
        w.Timer1->stop();
        QCOMPARE(w.windowTitle() + '|' + w.btnSave->text(), QStringLiteral("Running|Keep"));
    }

    // The line is formatted; the window takes back its own hourglass only,
    // not one its caller shows.
    void formatsTheLine()
    {
        HostScratch s;
        QApplication::setOverrideCursor(Qt::BusyCursor);
        RunCommandFmt(QStringLiteral("echo %s-%d%%"), {QStringLiteral("a b"), 42});
        QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor);
        QApplication::restoreOverrideCursor();
        QCOMPARE(s.runs.size(), 1);
        QCOMPARE(s.runs[0].Command, QStringLiteral("echo a b-42% 2>&1"));
        QCOMPARE(memoLines(s.runs[0].Output).first(), QStringLiteral("a b-42%"));
    }

    void pipeRunStatusAndPieces()
    {
        QStringList pieces;
        const int status = PipeRun(QStringLiteral("printf 'ab\\n\\ncd'; exit 2"),
                                   [&](const QString &p) { pieces << p; });
        QCOMPARE(status, 512);
        QCOMPARE(pieces, (QStringList{"ab\n", "\n", "cd"}));
        QCOMPARE(PipeRun(QStringLiteral("kill -9 $$"), {}), 9);
    }

    // No descriptor outlives a run; with none left to make the pipe the
    // command cannot start: -1 and no output.
    void pipeRunDescriptors()
    {
        const int before = openFds();
        QCOMPARE(PipeRun(QStringLiteral("echo x"), {}), 0);
        QCOMPARE(openFds(), before);
        rlimit old {};
        getrlimit(RLIMIT_NOFILE, &old);
        rlimit low = old;
        low.rlim_cur = 64;
        QList<int> fillers;
        QVERIFY(setrlimit(RLIMIT_NOFILE, &low) == 0);
        for (int fd; (fd = ::dup(0)) >= 0;)
            fillers << fd;
        int pieces = 0;
        const int status = PipeRun(QStringLiteral("echo x"), [&](const QString &) { ++pieces; });
        for (int fd : fillers)
            ::close(fd);
        setrlimit(RLIMIT_NOFILE, &old);
        QCOMPARE(status, -1);
        QCOMPARE(pieces, 0);
    }

    // The event loop is served while output keeps coming (however the reads
    // cut it), while the command is silent, and after it has closed its
    // output but still runs: from the moment the command says so (file
    // "go"), a timer must answer it (file "stop") before it gives up
    // waiting (status 256).
    void servedWhileRunning_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("output");       // the timer starts with the first piece
        const QString wait = QStringLiteral(": > go; i=0; while [ $i -lt 100 ]; do %1 sleep 0.01; i=$((i+1)); "
                                            "[ $i -gt 3 ] && [ -e stop ] && exit 0; done; exit 1");
        QTest::newRow("output keeps coming") << wait.arg("echo x;") << true;
        QTest::newRow("silent") << wait.arg("") << false;
        QTest::newRow("output closed, still running") << "exec >&-; " + wait.arg("") << false;
    }
    void servedWhileRunning()
    {
        QFETCH(QString, command);
        QFETCH(bool, output);
        QTemporaryDir dir;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            if (QFile::exists(dir.filePath("go")))
                QFile(dir.filePath("stop")).open(QIODevice::WriteOnly);
        });
        if (!output)
            answer.start(5);
        const int status = PipeRun("cd " + dir.path() + " && " + command, [&](const QString &) {
            if (!answer.isActive())
                answer.start(5);
            ::usleep(20000);   // slower than the command: output is always waiting
        });
        QVERIFY(answer.isActive());
        QCOMPARE(status, 0);
    }

    // The command starts about 300 ms after the window opens, and the
    // hourglass shows all the while it runs; the shell gets the default
    // SIGPIPE although the program ignores it.
    void runCommandStartsSoonUnderTheHourglass()
    {
        HostScratch s;
        struct sigaction ign {}, old {};
        ign.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ign, &old);
        int samples = 0, withoutHourglass = 0;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, [&] {
            auto *w = qobject_cast<TfmRunCmd *>(QApplication::activeModalWidget());
            if (!w || w->Ended())
                return;
            ++samples;
            const QCursor *c = QApplication::overrideCursor();
            if (!c || c->shape() != Qt::WaitCursor)
                ++withoutHourglass;
        });
        sampler.start(10);
        QElapsedTimer clock;
        clock.start();
        RunCommand(QStringLiteral("sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status; sleep 0.4"));
        const qint64 took = clock.elapsed();
        sigaction(SIGPIPE, &old, nullptr);
        QVERIFY2(took >= 650 && took < 2500, qPrintable(QString::number(took)));
        QVERIFY2(samples >= 20 && withoutHourglass == 0,
                 qPrintable(QStringLiteral("%1 of %2 looks without the hourglass").arg(withoutHourglass).arg(samples)));
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(s.runs.size(), 1);
        bool ok = false;
        const qulonglong ignored = memoLines(s.runs[0].Output).first().toULongLong(&ok, 16);
        QVERIFY(ok);
        QCOMPARE(ignored & (1ULL << (SIGPIPE - 1)), 0ULL);
    }

    // While the command is silent the window is served: timers run, Font
    // works, OK and Save stay off and the window will not close; the
    // hourglass shows until the end.
    void windowDuringARun()
    {
        HostScratch s;
        SetRunCommandHook(nullptr);
        TfmRunCmd w;
        const QFont memoFont = w.Memo1->font();   // 12 pixels at the window's 96 per inch
        QCOMPARE(memoFont.family(), QStringLiteral("Courier"));
        QCOMPARE(memoFont.pixelSize() > 0 ? memoFont.pixelSize() : qRound(memoFont.pointSizeF() * 96 / 72), 12);
        w.Command = QStringLiteral("echo first; sleep 1; echo done 2>&1");
        QApplication::setOverrideCursor(Qt::WaitCursor);
        w.show();
        bool checked = false;
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(20);
        s.dialogs.answer(mrOk, QFont(QStringLiteral("Monospace"), 17).toString());
        QTimer::singleShot(600, [&] {
            checked = true;
            QVERIFY(!w.Ended());
            QVERIFY(!w.btnOK->isEnabled());
            QVERIFY(!w.btnSave->isEnabled());
            QVERIFY(w.btnFont->isEnabled());
            QVERIFY(QApplication::overrideCursor());
            QCOMPARE(w.Memo1->toPlainText(), QStringLiteral("first"));   // shown as it came
            w.btnFont->click();
            QCOMPARE(w.Memo1->font().pointSize(), 17);
            QVERIFY(!w.close());
            QVERIFY(w.isVisible());
            w.reject();
            QVERIFY(w.isVisible());
        });
        QElapsedTimer clock;
        clock.start();
        while (!w.Ended() && clock.elapsed() < 10000)
            QTest::qWait(20);
        QVERIFY(checked);
        QVERIFY(w.Ended());
        QVERIFY2(ticks >= 25, qPrintable(QString::number(ticks)));
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(w.btnOK->isEnabled() && w.btnSave->isEnabled());
        QCOMPARE(memoLines(w.Memo1->toPlainText()), (QStringList{"first", "done", "", kRule, "  RESULT: 0"}));
        QTest::qWait(400);   // the command runs once only
        QCOMPARE(memoLines(w.Memo1->toPlainText()).size(), 5);
        QVERIFY(w.close());
    }

    // The memo follows new lines while it shows its end, and stays where
    // the user scrolled to otherwise.
    void memoFollowsItsEnd()
    {
        HostScratch s;
        SetRunCommandHook(nullptr);
        TfmRunCmd w;
        w.Timer1->stop();
        w.show();
        QScrollBar *bar = w.Memo1->verticalScrollBar();
        for (int i = 0; i < 100; ++i)
            w.AddOutputLine(QString::number(i));
        w.FlushOutput();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(3);
        w.AddOutputLine(QStringLiteral("more"));
        w.FlushOutput();
        QCOMPARE(bar->value(), 3);
    }

    // Save writes the memo's lines to a new file (its mode as the umask
    // leaves it) or over what the file held; a cancel writes nothing; a
    // file that cannot be made or written is reported.
    void save()
    {
        HostScratch s;
        SetRunCommandHook(nullptr);
        TfmRunCmd w;
        w.Command = QStringLiteral("printf ' a\\n\\nb\\303\\251 \\n' 2>&1");
        QApplication::setOverrideCursor(Qt::WaitCursor);
        w.Timer1Timer();
        const QString file = s.root.path(QStringLiteral("/out/run.txt"));
        const QByteArray saved = " a\n\nb\xc3\xa9\n\n" + kRule.toLatin1() + "\n  RESULT: 0\n";
        s.dialogs.answer(mrCancel);
        w.btnSave->click();
        QCOMPARE(s.dialogs.texts().size(), 1);
        s.dialogs.answer(mrOk, file);
        w.btnSave->click();
        QCOMPARE(s.dialogs.texts().at(2), "Cannot create file \"" + file + "\". No such file or directory");
        s.dialogs.answer(mrOk, QStringLiteral("/dev/full"));
        w.btnSave->click();
        QCOMPARE(s.dialogs.texts().at(4), QStringLiteral("Cannot create file \"/dev/full\". No space left on device"));
        // A new file.
        s.root.mkdir(QStringLiteral("/out"));
        const mode_t mask = ::umask(022);
        s.dialogs.answer(mrOk, file);
        w.btnSave->click();
        ::umask(mask);
        QCOMPARE(s.root.read(QStringLiteral("/out/run.txt")), saved);
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(file).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0644));
        // Over a longer file, which it replaces whole.
        s.root.write(QStringLiteral("/out/run.txt"), QByteArray(4096, 'x') + '\n');
        s.dialogs.answer(mrOk, file);
        w.btnSave->click();
        QCOMPARE(s.dialogs.requests().size(), 7);
        QCOMPARE(s.root.read(QStringLiteral("/out/run.txt")), saved);
    }
};

QTEST_MAIN(TestRunCmd)
#include "tst_runcmd.moc"
