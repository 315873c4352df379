#pragma once
// The driver chooser: a modal list of the kernel modules on offer, each
// with its description from modinfo.ini in the program directory.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

namespace Ui {
class TfmSelModule;
}
class QPushButton;
class QTreeWidget;

class TfmSelModule : public QDialog {
    Q_OBJECT
public:
    explicit TfmSelModule(QWidget *Owner = nullptr);
    ~TfmSelModule() override;

    QPushButton *btnOK;
    QPushButton *btnCancel;
    QTreeWidget *lbModules;

    void FormCreate();
    void lbModulesChange();
    void btnOKClick();
    void lbModulesDblClick();

private:
    Ui::TfmSelModule *ui;
};

// Runs the chooser over List; true when it ends with OK, Name then holding
// the chosen module.
bool SelectModule(const QStringList &List, QString &Name);
// Fills the chooser's list: one row per name of List, in List's order, with
// its description.
void FillModuleList(TfmSelModule *Dialog, const QStringList &List);
// The description of Module in modinfo.ini's lines: the text after the first
// "=" of the first line whose text before it is the name, ignoring case.
QString ModuleDescription(const QStringList &InfoLines, const QString &Module);

// Test seam: while a hook is set, SelectModule hands it the filled chooser
// instead of running it modally; the hook acts on it as a user would
// (selects rows, presses buttons), and the chooser's result is what it
// ended with. Pass nullptr to restore the modal chooser.
using TSelectModuleHook = std::function<void(TfmSelModule *)>;
void SetSelectModuleHook(TSelectModuleHook Hook);
