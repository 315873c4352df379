#include "untRunCmd.h"
#include "ui_untRunCmd.h"

#include "untMain.h"
#include "vkClxUtils.h"
#include "vkCmdUtils.h"
#include "vkDialogs.h"
#include "vkErrors.h"
#include "vkFileUtils.h"
#include "vkFormUtils.h"
#include "vkGuard.h"
#include "vkLangUtils.h"
#include "vkSysUtils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScopeGuard>
#include <QPushButton>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {
TRunCommandHook g_runHook;

// The command with its standard output on a pipe, everything else
// inherited; the read end, non-blocking, and the child's pid; -1 on failure.
pid_t SpawnReader(const QByteArray &Line, int &ReadFd)
{
    const pid_t pid = SpawnShellReader(Line, ReadFd);
    if (pid >= 0)
        ::fcntl(ReadFd, F_SETFL, ::fcntl(ReadFd, F_GETFL) | O_NONBLOCK);
    return pid;
}

// Hands the sink the output in fgets(3)'s pieces (TPieceCutter), each as
// text up to its first zero byte, decoded as one stream so that a character
// cut between two pieces arrives whole with the second.
class TPieceReader {
public:
    explicit TPieceReader(const TLineSink &Sink)
        : FSink(Sink), FCutter([this](QByteArrayView Piece) { deliver(Piece); })
    {
    }
    void feed(const char *Data, qsizetype Len) { FCutter.feed(Data, Len); }
    void finish() { FCutter.finish(); }

private:
    void deliver(QByteArrayView Piece)
    {
        const QString text = FDecode(Piece.first(qsizetype(strnlen(Piece.data(), size_t(Piece.size())))));
        if (FSink)
            FSink(text);
    }

    const TLineSink &FSink;
    QStringDecoder FDecode{QStringDecoder::System};
    TPieceCutter FCutter;
};

// Serves the event loop for about Ms milliseconds.
void ServeEventLoop(int Ms)
{
    QEventLoop pause;
    QTimer::singleShot(Ms, &pause, &QEventLoop::quit);
    pause.exec();
}
} // namespace

int PipeRun(const QString &Cmd, const TLineSink &Sink)
{
    int fd = -1;
    const pid_t pid = SpawnReader(Cmd.toLocal8Bit(), fd);
    if (pid < 0)
        return -1;
    TFdCloser reader(fd);
    TPieceReader cutter(Sink);

    // The output is read as it arrives, with the event loop running between
    // reads: the window repaints and answers while the command is silent.
    {
        QEventLoop loop;
        QSocketNotifier notifier(fd, QSocketNotifier::Read);
        bool atEnd = false;
        auto drain = [&] {
            char buf[65536];
            for (;;) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0) {
                    // One read, then back to the event loop: output that
                    // keeps coming, however it is cut, cannot starve it. The
                    // notifier calls again while more is waiting.
                    cutter.feed(buf, n);
                    return;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                    return;
                atEnd = true;   // end of output, or a read error as fgets sees it
                notifier.setEnabled(false);
                loop.quit();
                return;
            }
        };
        QObject::connect(&notifier, &QSocketNotifier::activated, &loop, drain);
        drain();
        if (!atEnd)
            loop.exec();
    }
    cutter.finish();
    reader.release();

    // What pclose returns: the shell's raw wait status.
    int status = 0;
    int pauseMs = 1;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        ServeEventLoop(pauseMs);
        pauseMs = std::min(pauseMs * 2, 20);
    }
}

// ---- the window ---------------------------------------------------------------

TfmRunCmd::TfmRunCmd(QWidget *Owner) : QDialog(Owner), ui(new Ui::TfmRunCmd)
{
    ui->setupUi(this);
    Memo1 = ui->Memo1;
    btnOK = ui->btnOK;
    btnSave = ui->btnSave;
    btnFont = ui->btnFont;
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(300);

    // A dialog frame: a fixed size and a close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    ApplyAnchors(this);

    btnSave->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    btnFont->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));

    QFont memoFont(QStringLiteral("Courier"));
    memoFont.setPixelSize(12);
    memoFont.setWeight(QFont::Normal);
    memoFont.setStyleHint(QFont::TypeWriter);
    SetFontCharSet(memoFont, Memo1, fcsLatin1);
    Memo1->setFont(memoFont);
    QPalette memoPal = Memo1->palette();
    memoPal.setColor(QPalette::Text, Qt::black);
    Memo1->setPalette(memoPal);
    Memo1->setFocus();

    connect(btnOK, &QPushButton::clicked, this, [this] {
        if (FEnded)
            accept();
    });
    connect(btnSave, &QPushButton::clicked, this, Guard(this, &TfmRunCmd::btnSaveClick));
    connect(btnFont, &QPushButton::clicked, this, Guard(this, &TfmRunCmd::btnFontClick));
    connect(Timer1, &QTimer::timeout, this, [this] {
        RunGuarded(this, [this] { Timer1Timer(); });
        const TRunCommandHook hook = g_runHook;
        if (hook && FEnded) {
            hook(Command, Memo1->toPlainText());
            accept();
        }
    });
    Timer1->start();
    FFlush = new QTimer(this);
    FFlush->setSingleShot(true);
    FFlush->setInterval(0);
    connect(FFlush, &QTimer::timeout, this, [this] { FlushOutput(); });

    TranslateForm(this);
}

TfmRunCmd::~TfmRunCmd() { delete ui; }

void TfmRunCmd::Timer1Timer()
{
    Timer1->stop();
    // Whatever ends the run, the window can be closed afterwards.
    const auto ended = qScopeGuard([this] {
        FlushOutput();
        FEnded = true;
        QApplication::restoreOverrideCursor();
        btnOK->setEnabled(true);
        btnSave->setEnabled(true);
    });
    FStatus = PipeRun(Command, [this](const QString &Line) { AddOutputLine(Line); });
    AddOutputLine(QString());
    AddOutputLine(QString(64, QLatin1Char('-')));
    AddOutputLine(QStringLiteral("  RESULT: ") + QString::number(FStatus));
}

void TfmRunCmd::AddOutputLine(const QString &Line)
{
    qsizetype len = Line.size();
    while (len > 0 && Line.at(len - 1).unicode() <= ' ')
        --len;
    // Lines gather until the event loop runs again and go into the memo
    // together: a flood of output costs one layout per read, not per line.
    if (FLines > 0 || FPendingLines > 0)
        FPending += QLatin1Char('\n');
    FPending += QStringView(Line).left(len);
    ++FPendingLines;
    if (!FFlush->isActive())
        FFlush->start();
}

void TfmRunCmd::FlushOutput()
{
    FFlush->stop();
    if (FPendingLines == 0)
        return;
    QScrollBar *bar = Memo1->verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    // Appending to an empty memo would fill its one empty line instead of
    // adding one, losing a leading empty line: the text goes in at the end,
    // starting with the line break that separates it from what is there.
    QTextCursor end(Memo1->document());
    end.movePosition(QTextCursor::End);
    end.insertText(FPending);
    FLines += FPendingLines;
    FPending.clear();
    FPendingLines = 0;
    if (atBottom)
        bar->setValue(bar->maximum());
}

void TfmRunCmd::btnSaveClick()
{
    const QString name = SaveFileDialog(SaveDialogTitle, QString(), SaveDialogFilter, this);
    if (name.isEmpty())
        return;
    FlushOutput();
    QStringEncoder encode(QStringEncoder::System);
    QByteArray text;
    for (const QString &line : Memo1->toPlainText().split(QLatin1Char('\n'))) {
        text += encode(line);
        text += '\n';
    }
    const QByteArray path = QFile::encodeName(name);
    TFdCloser fd(::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0 || !WriteAll(fd.get(), text) || fd.release() != 0) {
        const int err = errno;
        throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2")
                                .arg(name, QString::fromLocal8Bit(std::strerror(err))));
    }
}

void TfmRunCmd::btnFontClick()
{
    QFont font = Memo1->font();
    if (FontDialog(font, this))
        Memo1->setFont(font);
}

void TfmRunCmd::closeEvent(QCloseEvent *Event)
{
    // The window goes only once its command has ended.
    if (!FEnded) {
        Event->ignore();
        return;
    }
    QDialog::closeEvent(Event);
}

void TfmRunCmd::reject()
{
    if (FEnded)
        QDialog::reject();
}

// ---- running a command --------------------------------------------------------

int RunCommand(const QString &Cmd)
{
    std::unique_ptr<TfmRunCmd> window(new TfmRunCmd(ToolOwnerWindow()));
    window->Command = Cmd + QStringLiteral(" 2>&1");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The hourglass goes when the command ends; should the modal run end
    // any other way, it goes here.
    struct TCursorBack {
        const TfmRunCmd *Window;
        ~TCursorBack()
        {
            if (!Window->Ended())
                QApplication::restoreOverrideCursor();
        }
    } cursorBack{window.get()};
    window->exec();
    return window->Status();
}

int RunCommandFmt(const QString &Fmt, std::initializer_list<QVariant> Args)
{
    return RunCommand(Format(Fmt, Args));
}

QWidget *ToolOwnerWindow()
{
    return fmMain ? static_cast<QWidget *>(fmMain) : QApplication::activeWindow();
}

void SetRunCommandHook(TRunCommandHook Hook) { g_runHook = std::move(Hook); }
