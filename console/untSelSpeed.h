#pragma once
// The speed dialog: asks for the link speed that fills a traffic graph's
// full height. Its texts are built in and never translated.
#include <QDialog>
#include <functional>

namespace Ui {
class TfmSelSpeed;
}
class QListWidget;
class QPushButton;

class TfmSelSpeed : public QDialog {
    Q_OBJECT
public:
    explicit TfmSelSpeed(QWidget *Owner = nullptr);
    ~TfmSelSpeed() override;

    QPushButton *btnOK;
    QPushButton *btnCancel;
    QListWidget *ListBox1;

    void FormCreate();
    void ListBox1Click();
    // Sets MaxRate and SpeedLabel from the selected entry; "error selection"
    // when none is selected.
    void btnOKClick();

private:
    Ui::TfmSelSpeed *ui;
};

// Runs the speed dialog modally; true when it ended with OK.
bool SelectSpeed();

// Test seam: while a hook is set, SelectSpeed hands the created dialog to it
// instead of running it modally; the hook acts on it and returns the
// dialog's result (QDialog::Accepted for OK).
using TSelectSpeedHook = std::function<int(TfmSelSpeed *)>;
void SetSelectSpeedHook(TSelectSpeedHook Hook);
