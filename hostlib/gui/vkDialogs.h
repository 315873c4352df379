#pragma once
// Every modal question and input of both programs goes through here, so
// that tests can answer them: a test installs a responder, and no dialog is
// ever shown while one is installed.
#include <QString>
#include <QStringList>
#include <functional>

class QFont;
class QWidget;

enum class TMsgDlgType { Warning, Error, Information, Confirmation, Custom };
// Buttons and results (one bit each, as the runtime's sets).
enum TMsgDlgBtn : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

struct TDialogRequest {
    enum Kind { Message, OpenFile, SaveFile, InputText, ChooseFont } kind = Message;
    QString Caption;        // window title
    QString Text;           // message text or input prompt
    TMsgDlgType Type = TMsgDlgType::Information;
    unsigned Buttons = mbOK;
    QString InitialDir;     // file dialogs
    QString Filter;         // file dialogs, "Desc(*.x)|All(*.*)" form
    QString Value;          // input box: the preset text; font dialog: the font (QFont::toString)
};
struct TDialogAnswer {
    int Result = mrNone;    // a TModalResult
    QString Value;          // file name, typed text or chosen font (QFont::toString); empty on cancel
};
using TDialogResponder = std::function<TDialogAnswer(const TDialogRequest &)>;

// Test seam: while a responder is set it answers every request instead of a
// real dialog. Pass nullptr to restore real dialogs.
void SetDialogResponder(TDialogResponder responder);

// The application's title: the caption of every message box.
QString AppTitle();

// A modal message box titled with the application title; returns the
// TModalResult of the pressed button (mrNone when closed otherwise).
int MessageDlg(const QString &Text, TMsgDlgType Type, unsigned Buttons, QWidget *Parent = nullptr);
// The error box of the default error handler: error icon, one OK button.
void ShowErrorMessage(const QString &Text, QWidget *Parent = nullptr);
// The same error box, opened without waiting for it: it stays modal to the
// application, and Closed runs once it has been answered. For errors of work
// that runs on its own (a timer), which must not hold its caller in a nested
// event loop. With a responder set, the responder answers and Closed runs at once.
void OpenErrorMessage(const QString &Text, QWidget *Parent, std::function<void()> Closed);
// Text for a dialog's label that is never wider than MaxWidth pixels in
// Font: a longer line is broken, at blanks where it has them; more than
// MaxLines lines keep their beginning and their last line around a line
// holding an ellipsis. Text that fits comes back unchanged.
QString FitDialogText(const QString &Text, const QFont &Font, int MaxWidth, int MaxLines);
// File dialogs; the empty text on cancel.
QString OpenFileDialog(const QString &Title, const QString &InitialDir, const QString &Filter,
                       QWidget *Parent = nullptr);
QString SaveFileDialog(const QString &Title, const QString &InitialDir, const QString &Filter,
                       QWidget *Parent = nullptr);
// An input box; false when cancelled.
bool InputQuery(const QString &Caption, const QString &Prompt, QString &Value,
                QWidget *Parent = nullptr);
// A font dialog showing Font; on OK Font becomes the chosen one and the
// result is true, on cancel Font stays and the result is false.
bool FontDialog(QFont &Font, QWidget *Parent = nullptr);
