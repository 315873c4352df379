#pragma once
// The command window: every system command of the configuration tool runs
// here. The window shows the command's standard and error output merged,
// line by line as it arrives, then the raw wait status; the output can be
// saved and its font changed. It stays responsive while a command is silent
// and cannot be closed before the command has ended.
#include <QDialog>
#include <QFont>
#include <QString>
#include <QVariant>
#include <functional>
#include <initializer_list>

namespace Ui {
class TfmRunCmd;
}
class QPlainTextEdit;
class QPushButton;
class QTimer;

class TfmRunCmd : public QDialog {
    Q_OBJECT
public:
    explicit TfmRunCmd(QWidget *Owner = nullptr);
    ~TfmRunCmd() override;

    QPlainTextEdit *Memo1;
    QPushButton *btnOK;
    QPushButton *btnSave;
    QTimer *Timer1;
    QPushButton *btnFont;
    // The save dialog's settings.
    QString SaveDialogTitle = QStringLiteral("Save As");
    QString SaveDialogFilter = QStringLiteral("Text File(*.txt)|All File(*.*)");

    // The full command line: the caller's text followed by " 2>&1".
    QString Command;

    void Timer1Timer();
    // Adds a line, its trailing blanks and control characters removed; lines
    // reach the memo together when the event loop next runs, or at
    // FlushOutput.
    void AddOutputLine(const QString &Line);
    void FlushOutput();
    void btnSaveClick();
    void btnFontClick();

    // True once the command has ended (and the status line is shown).
    bool Ended() const { return FEnded; }
    // The command's raw wait status once it has ended; -1 before.
    int Status() const { return FStatus; }
    // Escape and the title bar's close box end the window only once the
    // command has ended.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *Event) override;

private:
    Ui::TfmRunCmd *ui;
    bool FEnded = false;
    int FStatus = -1;
    int FLines = 0;          // lines in Memo1
    QString FPending;        // lines on their way to Memo1, "\n"-separated
    int FPendingLines = 0;
    QTimer *FFlush = nullptr;
};

// Runs Cmd through "/bin/sh -c" with its standard output read by the
// caller, handing Sink every piece of output as fgets(3) would cut it with a
// 1025-byte buffer: a line with its newline, or 1024 bytes of a longer line,
// or the last unterminated part. The event loop keeps running meanwhile.
// Returns the raw wait status (exit code x 256), -1 when it cannot start.
using TLineSink = std::function<void(const QString &)>;
int PipeRun(const QString &Cmd, const TLineSink &Sink);

// The window the tool's dialogs are centred over: the main window when there
// is one, else the active window.
QWidget *ToolOwnerWindow();

// Runs Cmd in a new modal command window and returns once it is closed,
// with the command's raw wait status (-1 when it could not start). The
// hourglass shows from the window's opening until the command has ended;
// the window cannot be closed before that, so every command runs.
int RunCommand(const QString &Cmd);

// Formats the line with Format (vkSysUtils.h) and runs it with RunCommand.
// Arguments from the user or the system must already be ShellArg'd.
int RunCommandFmt(const QString &Fmt, std::initializer_list<QVariant> Args);

// Test seam: while a hook is set, every command window closes itself once its
// command has ended, after handing the hook the full command line (with its
// " 2>&1") and the memo's text (lines joined by "\n", status lines included).
// The window runs for real otherwise: the command runs through the shell
// with PATH as the test set it. Pass nullptr to restore the user's OK.
using TRunCommandHook = std::function<void(const QString &Command, const QString &Output)>;
void SetRunCommandHook(TRunCommandHook Hook);
