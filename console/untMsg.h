#pragma once
// The console's message window: a read-only text view of a list of lines,
// shown modally. Its texts are built in and never translated.
#include <QDialog>
#include <QStringList>
#include <functional>

namespace Ui {
class TfmMsg;
}
class QPlainTextEdit;

class TfmMsg : public QDialog {
    Q_OBJECT
public:
    explicit TfmMsg(QWidget *parent = nullptr);
    ~TfmMsg() override;

    QPlainTextEdit *Memo1;

private:
    Ui::TfmMsg *ui;
};

// Shows a copy of Lines in a new message window, centred over the main
// window, and returns once the window has been closed; the window is freed.
void ShowMessageWindow(const QStringList &Lines);

// Test seam: while a hook is set, ShowMessageWindow hands the filled window
// to it instead of running it modally (the hook may inspect and close it).
// Pass nullptr to restore the modal window.
using TMessageWindowHook = std::function<void(TfmMsg *)>;
void SetMessageWindowHook(TMessageWindowHook hook);
