#pragma once
// The driver chooser: a modal list of the kernel modules on offer, each
// with its description from modinfo.ini in the program directory.
#include <QDialog>
#include <QHash>
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
// The descriptions of modinfo.ini's lines, gathered in one pass so that a
// long list of modules costs one look-up each. A module's description is
// the text after the first "=" of the first line whose text before it is
// the module's name, letters compared without regard to case (as the
// case-blind text comparison does), blanks counting.
class TModuleInfo {
public:
    explicit TModuleInfo(const QStringList &InfoLines);
    QString Description(const QString &Module) const;

private:
    QHash<QString, QString> FByName;   // by case-folded name
};

// Test seam: while a hook is set, SelectModule hands it the filled chooser
// instead of running it modally; the hook acts on it as a user would
// (selects rows, presses buttons), and the chooser's result is what it
// ended with. Pass nullptr to restore the modal chooser.
using TSelectModuleHook = std::function<void(TfmSelModule *)>;
void SetSelectModuleHook(TSelectModuleHook Hook);
