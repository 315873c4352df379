// The command helpers, the field cutter, the idle hook that keeps a window
// painting during a command, and the message window.
#include "untMsg.h"
#include "vkCmdUtils.h"
#include "vkFileUtils.h"
#include "vkGuard.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <fcntl.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Counts what reaches it, and notes input that slipped in during a wait.
class TProbe : public QWidget {
public:
    QStringList inputs;
    int paintsDuringWait = 0;
    bool inputDuringWait = false;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::MouseButtonPress)
            inputs << QStringLiteral("mouse");
        if (e->type() == QEvent::KeyPress)
            inputs << QStringLiteral("key");
        if (e->isInputEvent() && ShellWaitActive())
            inputDuringWait = true;
        if (e->type() == QEvent::Paint && ShellWaitActive())
            ++paintsDuringWait;
        return QWidget::event(e);
    }
};
} // namespace

class TestCmdUtils : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        SetShellIdleHook(nullptr);
        SetMessageWindowHook(nullptr);
    }

    // ---- CutToken --------------------------------------------------------
    void cutToken_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QChar>("sep");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("rest");
        const QChar blank(u' ');
        const QChar comma(u',');
        QTest::newRow("leading blanks, one blank kept") << "  ab  cd" << blank << "ab" << " cd";
        QTest::newRow("last field") << " cd" << blank << "cd" << "";
        QTest::newRow("single field") << "ab" << blank << "ab" << "";
        QTest::newRow("one separator behind is eaten") << "ab " << blank << "ab" << "";
        QTest::newRow("only the first separator behind") << "ab  " << blank << "ab" << " ";
        QTest::newRow("three blanks lose one") << "   " << blank << "" << "  ";
        QTest::newRow("one blank lost") << " " << blank << "" << "";
        QTest::newRow("empty stays empty") << "" << blank << "" << "";
        QTest::newRow("empty field between commas kept") << "a,,b" << comma << "a" << ",b";
        QTest::newRow("comma before field") << ",b" << comma << "b" << "";
        QTest::newRow("other separators are text") << "a b,c" << comma << "a b" << "c";
        QTest::newRow("tab is not a blank") << "\tab cd" << blank << "\tab" << "cd";
    }
    void cutToken()
    {
        QFETCH(QString, text);
        QFETCH(QChar, sep);
        QFETCH(QString, token);
        QFETCH(QString, rest);
        QString got = QStringLiteral("previous");
        CutToken(text, sep, got);
        QCOMPARE(got, token);
        QCOMPARE(text, rest);
    }
    void cutTokenRepeatedOnBlanksShrinksByOne()
    {
        QString s = QStringLiteral("   ");
        QString t;
        for (int left = 2; left >= 0; --left) {
            CutToken(s, u' ', t);
            QVERIFY(t.isEmpty());
            QCOMPARE(s, QString(left, u' '));
        }
        CutToken(s, u' ', t);
        QVERIFY(s.isEmpty());
        QVERIFY(t.isEmpty());
    }
    // ---- ReadCmdOutput ---------------------------------------------------
    void readCmdOutput_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("trailing blanks and tab") << "printf 'abc   \\t\\n'" << QStringList{"abc"};
        QTest::newRow("leading blanks kept") << "printf '  abc \\n'" << QStringList{"  abc"};
        QTest::newRow("carriage return removed") << "printf 'a\\r\\n'" << QStringList{"a"};
        QTest::newRow("empty line is an entry") << "printf 'a\\n\\nb\\n'" << QStringList{"a", "", "b"};
        QTest::newRow("last line without end") << "printf 'a\\nb'" << QStringList{"a", "b"};
        QTest::newRow("piece ends at NUL") << "printf 'ab\\000cd\\n'" << QStringList{"ab"};
        QTest::newRow("no output") << "true" << QStringList{};
        QTest::newRow("standard error not taken") << "echo out; echo err >&2" << QStringList{"out"};
        QTest::newRow("missing command") << "/nonexistent/cmd-xyz 2>/dev/null" << QStringList{};
        QTest::newRow("1023 characters: one entry")
            << "head -c 1023 /dev/zero | tr '\\000' x; echo" << QStringList{QString(1023, u'x')};
        // fgets stops at 1024 characters, so the line end comes as a piece of its own.
        QTest::newRow("1024 characters: line end read apart")
            << "head -c 1024 /dev/zero | tr '\\000' x; echo" << QStringList{QString(1024, u'x'), ""};
        // A two-byte character cut by the piece boundary arrives whole with the next piece.
        QTest::newRow("character split by a piece")
            << "head -c 1023 /dev/zero | tr '\\000' x; printf '\\303\\251\\n'"
            << QStringList{QString(1023, u'x'), QString::fromUtf8("\xC3\xA9")};
    }
    // A command started ahead gives the same lines.
    void readCmdOutput()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, lines);
        QStringList got;
        ReadCmdOutput(command, got);
        QCOMPARE(got, lines);
        QStringList ahead{QStringLiteral("kept")};
        TCmdOutputAhead(command).Take(ahead);
        QCOMPARE(ahead, QStringList{QStringLiteral("kept")} + lines);
    }

    // The command runs before its output is asked for, and its output is
    // taken once. An output never taken is dropped without waiting for the
    // command to write it all, also when a command started meanwhile runs
    // on: it must not hold the pipe open.
    void cmdOutputAheadRunsMeanwhileAndDrops()
    {
        QTemporaryDir dir;
        const QString mark = dir.filePath(QStringLiteral("started"));
        TCmdOutputAhead ahead(QStringLiteral("echo a; touch '%1'; echo b").arg(mark));
        QTRY_VERIFY(QFile::exists(mark));
        QStringList got;
        ahead.Take(got);
        // The pipe is closed once: a descriptor that takes its number later stays open.
        const TFdCloser later(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        ahead.Take(got);
        QCOMPARE(got, QStringList({"a", "b"}));
        QVERIFY(::fcntl(later.get(), F_GETFD) != -1);

        QElapsedTimer clock;
        clock.start();
        {
            TCmdOutputAhead flood(QStringLiteral("yes"));
            RunShell(QStringLiteral("sleep 5 >/dev/null 2>&1 &"));
        }
        QVERIFY2(clock.elapsed() < 4000, "dropping the output waited for a command started meanwhile");
        QVERIFY(::fcntl(later.get(), F_GETFD) != -1);
        errno = 0;
        QCOMPARE(waitpid(-1, nullptr, WNOHANG), -1);   // the dropped command was waited for: no child is left
        QCOMPARE(errno, ECHILD);
    }
    void readCmdOutputSplitsLongLine()
    {
        QStringList got;
        ReadCmdOutput(QStringLiteral("echo s; head -c 2000 /dev/zero | tr '\\000' y; echo"), got);
        QCOMPARE(got.size(), 3);
        QCOMPARE(got[0], QStringLiteral("s"));
        QCOMPARE(got[1], QString(1024, u'y'));
        QCOMPARE(got[2], QString(976, u'y'));
    }
    void readCmdOutputKeepsExistingLinesFirst()
    {
        QStringList got{QStringLiteral("one"), QStringLiteral("two")};
        ReadCmdOutput(QStringLiteral("printf 'three\\nfour\\n'"), got);
        QCOMPARE(got, QStringList({"one", "two", "three", "four"}));
    }
    void readCmdOutputGoesOnAfterSignal()
    {
        // A signal whose handler does not ask for restarted calls (as
        // timers and sanitizers install them) interrupts the read of the
        // pipe; the output must still arrive whole.
        struct sigaction act {}, old {};
        act.sa_handler = [](int) {};
        sigemptyset(&act.sa_mask);
        sigaction(SIGALRM, &act, &old);
        const itimerval every2ms{{0, 2000}, {0, 2000}};
        itimerval stopped{};
        setitimer(ITIMER_REAL, &every2ms, nullptr);
        QStringList got;
        // The output ends before the command does: the wait for it is interrupted too.
        ReadCmdOutput(QStringLiteral("for i in 1 2 3 4 5 6 7 8 9 10; do echo $i; sleep 0.02; done; exec >&-; sleep 0.1"),
                      got);
        setitimer(ITIMER_REAL, &stopped, nullptr);
        sigaction(SIGALRM, &old, nullptr);
        QCOMPARE(got, QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
        errno = 0;
        QCOMPARE(waitpid(-1, nullptr, WNOHANG), -1);   // the command was waited for
        QCOMPARE(errno, ECHILD);
    }
    // ---- RunShell ----------------------------------------------------------
    void runShellWaitsForTheCommand()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        RunShell(QStringLiteral("sleep 0.2; echo done > ") + ShellQuote(out));
        QCOMPARE(readFile(out), QByteArray("done\n"));
    }
    void runShellReturnsAtOnceForBackgroundLine()
    {
        // The background reader only finishes once this side writes to the
        // fifo, which happens after RunShell returned. Had RunShell waited,
        // the reader would have given up and nobody would read the fifo.
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        const QString out = dir.filePath(QStringLiteral("out"));
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        RunShell(QStringLiteral("timeout 20 cat ") + ShellQuote(fifo) + QStringLiteral(" > ")
                 + ShellQuote(out) + QStringLiteral(" &"));
        int fd = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            (fd = open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK)) >= 0, 10000);
        QCOMPARE(write(fd, "hello\n", 6), ssize_t(6));
        close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(out), QByteArray("hello\n"), 10000);
    }
    void runShellCallsHooks()
    {
        int idle = 0;
        int done = 0;
        bool waitingSeen = false;
        SetShellIdleHook([&] { ++idle; waitingSeen = waitingSeen || ShellWaitActive(); },
                         [&] { ++done; });
        QVERIFY(!ShellWaitActive());
        RunShell(QStringLiteral("sleep 0.1"));
        QVERIFY(idle > 0);
        QVERIFY(waitingSeen);
        QCOMPARE(done, 1);
        QVERIFY(!ShellWaitActive());
    }
    // The status as system(3) gives it, whether the wait polls for a hook
    // or blocks, and its words for a message.
    void runShellStatus_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("hook");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        for (const bool hook : {false, true}) {
            const char *how = hook ? " (hook)" : "";
            QTest::addRow("success%s", how) << "true" << hook << 0 << "exit status 0";
            QTest::addRow("exit 3%s", how) << "exit 3" << hook << 3 * 256 << "exit status 3";
            QTest::addRow("no such program%s", how) << "/nonexistent/vkt-prog" << hook << 127 * 256
                                                    << "exit status 127";
            QTest::addRow("killed%s", how) << "kill -9 $$" << hook << int(SIGKILL) << "ended by signal 9";
        }
    }
    void runShellStatus()
    {
        QFETCH(QString, line);
        QFETCH(bool, hook);
        QFETCH(int, status);
        QFETCH(QString, text);
        if (hook)
            SetShellIdleHook([] {});
        const int got = RunShell(line + QStringLiteral(" 2>/dev/null"));
        QCOMPARE(got, status);
        QCOMPARE(ShellStatusText(got), text);
        QCOMPARE(ShellStatusText(-1), QStringLiteral("could not be started"));
    }
    // A shell reaped by someone else (SIGCHLD ignored) has no status to give:
    // -1, as system(3) answers, never a made-up success.
    void runShellStatusOfReapedShell_data()
    {
        QTest::addColumn<bool>("hook");
        QTest::newRow("blocking wait") << false;
        QTest::newRow("polled wait") << true;
    }
    void runShellStatusOfReapedShell()
    {
        QFETCH(bool, hook);
        if (hook)
            SetShellIdleHook([] {});
        struct sigaction ign {}, old {};
        ign.sa_handler = SIG_IGN;
        sigaction(SIGCHLD, &ign, &old);
        const int got = RunShell(QStringLiteral("exit 0"));
        sigaction(SIGCHLD, &old, nullptr);
        QCOMPARE(got, -1);
    }
    // The programs ignore SIGPIPE for their own writes; the shell of every
    // command starts with the default one all the same (or a pipeline would
    // never end when its reader does), and with the default SIGINT and
    // SIGQUIT of a program that does not ignore them.
    void commandsStartWithDefaultSignals_data()
    {
        QTest::addColumn<bool>("runShell");   // else ReadCmdOutput
        QTest::newRow("RunShell") << true;
        QTest::newRow("ReadCmdOutput") << false;
    }
    void commandsStartWithDefaultSignals()
    {
        QFETCH(bool, runShell);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        struct sigaction ign {}, old {};
        ign.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ign, &old);
        const QString line = QStringLiteral("sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status");
        QStringList got;
        if (runShell)
            RunShell(line + QStringLiteral(" > ") + ShellQuote(out));
        else
            ReadCmdOutput(line, got);
        sigaction(SIGPIPE, &old, nullptr);
        const QString mask = runShell ? QString::fromLatin1(readFile(out)).trimmed() : got.value(0);
        bool ok = false;
        const qulonglong ignored = mask.toULongLong(&ok, 16);
        QVERIFY2(ok, qPrintable(mask));
        const qulonglong bit = 1;
        QCOMPARE(ignored & ((bit << (SIGPIPE - 1)) | (bit << (SIGINT - 1)) | (bit << (SIGQUIT - 1))), 0ULL);
    }
    // While it waits, the program ignores the interrupt and quit signals as
    // system(3) does: a command that sends one to its parent ends only
    // itself. Afterwards they act as before.
    void runShellIgnoresInterruptWhileWaiting_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGQUIT") << int(SIGQUIT);
    }
    void runShellIgnoresInterruptWhileWaiting()
    {
        QFETCH(int, sig);
        struct sigaction before {}, after {};
        sigaction(sig, nullptr, &before);
        RunShell(QStringLiteral("kill -%1 $PPID; sleep 0.1").arg(sig));
        sigaction(sig, nullptr, &after);
        QVERIFY(after.sa_handler == before.sa_handler && after.sa_handler != SIG_IGN);
    }
    void shellQuoteKeepsOneWord_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << "abc";
        QTest::newRow("empty") << "";
        QTest::newRow("quote and dollar") << "it's $HOME";
        QTest::newRow("metacharacters") << "a;b|c&d`e` \"f\" $(g) \\h *";
        QTest::newRow("only quotes") << "'''";
        QTest::newRow("chinese") << "网卡 绑定";
    }
    void shellQuoteKeepsOneWord()
    {
        QFETCH(QString, text);
        QStringList got;
        ReadCmdOutput(QStringLiteral("printf '[%s]\\n' ") + ShellQuote(text), got);
        QCOMPARE(got, QStringList{QLatin1Char('[') + text + QLatin1Char(']')});
    }

    // ---- the window's idle hook -------------------------------------------
    void idleHookPaintsButHoldsInput()
    {
        InstallShellIdleHook();
        TProbe probe;
        probe.resize(80, 60);
        probe.show();
        QVERIFY(QTest::qWaitForWindowExposed(&probe));

        bool timerDuringWait = false;
        QTimer::singleShot(0, this, [&] { timerDuringWait = ShellWaitActive(); });
        QCoreApplication::postEvent(&probe, new QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5),
                                                            QPointF(5, 5), Qt::LeftButton,
                                                            Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(&probe, new QKeyEvent(QEvent::KeyPress, Qt::Key_A,
                                                          Qt::NoModifier, QStringLiteral("a")));
        probe.update();

        RunShell(QStringLiteral("sleep 0.3"));

        QVERIFY(timerDuringWait);
        QVERIFY(probe.paintsDuringWait > 0);
        QVERIFY(!probe.inputDuringWait);
        QVERIFY(probe.inputs.isEmpty());
        QTRY_COMPARE(probe.inputs, QStringList({"mouse", "key"}));
    }
    void idleHookLetsNewModalWindowTakeInput()
    {
        // A box that a timer raises while a command runs must be answerable,
        // or the program would hang on it.
        InstallShellIdleHook();
        bool answered = false;
        QTimer::singleShot(0, this, [&] {
            QDialog box;
            TProbe *field = new TProbe;
            field->setParent(&box);
            QTimer::singleShot(0, &box, [&] {
                QCoreApplication::postEvent(field, new QKeyEvent(QEvent::KeyPress, Qt::Key_Y,
                                                                 Qt::NoModifier, QStringLiteral("y")));
            });
            QTimer::singleShot(0, &box, [&] { QTimer::singleShot(0, &box, [&] {
                answered = field->inputs == QStringList{"key"};
                box.accept();
            }); });
            QTimer::singleShot(10000, &box, &QDialog::reject);   // a held key must not hang the test
            box.exec();
        });
        RunShell(QStringLiteral("sleep 0.2"));
        QVERIFY(answered);
    }
    // Input held for a window that is gone by the end of the wait goes to
    // nothing and is freed; input for a live one still arrives.
    void idleHookDropsInputForDeletedReceiver()
    {
        InstallShellIdleHook();
        static int liveEvents = 0;
        struct TCountedKey : QKeyEvent {
            TCountedKey() : QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a")) { ++liveEvents; }
            TCountedKey(const TCountedKey &o) : QKeyEvent(o) { ++liveEvents; }
            ~TCountedKey() override { --liveEvents; }
            TCountedKey *clone() const override { return new TCountedKey(*this); }
        };
        TProbe survivor;
        auto *gone = new TProbe;
        int keysDelivered = 0;
        struct TKeyCounter : QObject {
            int *count;
            explicit TKeyCounter(int *c) : count(c) {}
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::KeyPress)
                    ++*count;
                return false;
            }
        } counter(&keysDelivered);
        QCoreApplication::postEvent(gone, new TCountedKey);
        QCoreApplication::postEvent(&survivor, new TCountedKey);
        QTimer::singleShot(0, gone, [gone] { delete gone; });
        RunShell(QStringLiteral("sleep 0.1"));
        qApp->installEventFilter(&counter);
        QTRY_COMPARE(survivor.inputs, QStringList{"key"});
        QCoreApplication::processEvents();
        qApp->removeEventFilter(&counter);
        QCOMPARE(keysDelivered, 1);
        QCOMPARE(liveEvents, 0);
    }

    // ---- the message window -------------------------------------------------
    void messageWindowShowsCopyOfLines()
    {
        QWidget owner;
        owner.setObjectName(QStringLiteral("fmConMain"));
        const QStringList lines{"Settings for eth0:", "\tSpeed: 1000Mb/s", "", "  Link detected: yes"};
        QPointer<TfmMsg> shown;
        bool checked = false;
        SetMessageWindowHook([&](TfmMsg *w) {
            shown = w;
            QCOMPARE(w->objectName(), QStringLiteral("fmMsg"));
            QCOMPARE(w->windowTitle(), QStringLiteral("Message Output"));
            QCOMPARE(w->size(), QSize(460, 380));
            QCOMPARE(w->parentWidget(), &owner);
            QCOMPARE(w->palette().color(QPalette::Window), QColor(236, 233, 216));
            QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
            QCOMPARE(w->Memo1->objectName(), QStringLiteral("Memo1"));
            QVERIFY(w->Memo1->isReadOnly());
            QCOMPARE(w->Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
            QCOMPARE(w->Memo1->font().family(), QStringLiteral("Courier"));
            QCOMPARE(w->Memo1->font().pixelSize(), 13);
            QVERIFY(w->font().family() != QStringLiteral("Courier"));
            QCOMPARE(w->Memo1->toPlainText().split(QLatin1Char('\n')), lines);
            checked = true;
        });
        ShowMessageWindow(lines);
        QVERIFY(checked);
        QVERIFY(shown.isNull());   // freed once closed
    }
    void messageWindowEmptyList()
    {
        QString text = QStringLiteral("unset");
        SetMessageWindowHook([&](TfmMsg *w) { text = w->Memo1->toPlainText(); });
        ShowMessageWindow({});
        QCOMPARE(text, QString());
    }
    void messageWindowFreedWhenShowingFails()
    {
        QPointer<TfmMsg> shown;
        SetMessageWindowHook([&](TfmMsg *w) {
            shown = w;
            throw std::runtime_error("cannot show");
        });
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, ShowMessageWindow({QStringLiteral("x")}));
        QVERIFY(shown.isNull());
    }
};

QTEST_MAIN(TestCmdUtils)
#include "tst_cmdutils.moc"
