#include "untSelModule.h"
#include "ui_untSelModule.h"

#include "untRunCmd.h"
#include "vkFileUtils.h"
#include "vkFormUtils.h"
#include "vkGuard.h"
#include "vkLangUtils.h"
#include "vkPaths.h"
#include "vkSysUtils.h"

#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>

#include <memory>

namespace {
TSelectModuleHook g_selectHook;
}

TfmSelModule::TfmSelModule(QWidget *Owner) : QDialog(Owner), ui(new Ui::TfmSelModule)
{
    ui->setupUi(this);
    btnOK = ui->btnOK;
    btnCancel = ui->btnCancel;
    lbModules = ui->lbModules;

    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    ApplyAnchors(this);
    btnOK->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    btnCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    QHeaderView *header = lbModules->header();
    header->resizeSection(0, 180);
    header->resizeSection(1, 400);
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    lbModules->setSelectionMode(QAbstractItemView::SingleSelection);

    connect(btnOK, &QPushButton::clicked, this, Guard(this, &TfmSelModule::btnOKClick));
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lbModules, &QTreeWidget::itemSelectionChanged, this,
            Guard(this, &TfmSelModule::lbModulesChange));
    connect(lbModules, &QTreeWidget::itemDoubleClicked, this,
            Guard(this, &TfmSelModule::lbModulesDblClick));

    TranslateForm(this);
    btnOK->setFocus();
    RunGuarded(this, [this] { FormCreate(); });
}

TfmSelModule::~TfmSelModule() { delete ui; }

// OK is there exactly when a row is chosen.
void TfmSelModule::FormCreate() { lbModulesChange(); }

void TfmSelModule::lbModulesChange()
{
    btnOK->setEnabled(!lbModules->selectedItems().isEmpty());
}

void TfmSelModule::btnOKClick()
{
    if (!lbModules->selectedItems().isEmpty())
        accept();
}

void TfmSelModule::lbModulesDblClick() { btnOKClick(); }

namespace {
// Name with each character case-folded on its own, as the case-blind text
// comparison folds them: two names are equal ignoring case exactly when
// their folded forms are.
QString FoldName(QStringView Name)
{
    QString folded;
    folded.reserve(Name.size());
    for (qsizetype i = 0; i < Name.size(); ++i) {
        char32_t c = Name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < Name.size() && Name[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), Name[++i].unicode());
        c = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(c)) {
            folded += QChar(QChar::highSurrogate(c));
            folded += QChar(QChar::lowSurrogate(c));
        } else {
            folded += QChar(char16_t(c));
        }
    }
    return folded;
}
} // namespace

TModuleInfo::TModuleInfo(const QStringList &InfoLines)
{
    FByName.reserve(InfoLines.size());
    for (const QString &line : InfoLines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        QString name = FoldName(QStringView(line).left(eq));
        if (!FByName.contains(name))   // the first line of a name stays
            FByName.insert(std::move(name), line.mid(eq + 1));
    }
}

QString TModuleInfo::Description(const QString &Module) const
{
    return FByName.value(FoldName(Module));
}

void FillModuleList(TfmSelModule *Dialog, const QStringList &List)
{
    Dialog->lbModules->clear();
    const QString info = GetAppDir() + QStringLiteral("modinfo.ini");
    const TModuleInfo descriptions(FileExists(info) ? LoadTextLines(info) : QStringList());
    QList<QTreeWidgetItem *> rows;
    rows.reserve(List.size());
    for (const QString &name : List)
        rows << new QTreeWidgetItem(QStringList{name, descriptions.Description(name)});
    Dialog->lbModules->addTopLevelItems(rows);
}

bool SelectModule(const QStringList &List, QString &Name)
{
    // Freed on every way out.
    std::unique_ptr<TfmSelModule> dialog(new TfmSelModule(ToolOwnerWindow()));
    FillModuleList(dialog.get(), List);
    const TSelectModuleHook hook = g_selectHook;
    bool ok;
    if (hook) {
        hook(dialog.get());
        ok = dialog->result() == QDialog::Accepted;
    } else {
        ok = dialog->exec() == QDialog::Accepted;
    }
    const QList<QTreeWidgetItem *> chosen = dialog->lbModules->selectedItems();
    if (!chosen.isEmpty())
        Name = chosen.first()->text(0);
    return ok;
}

void SetSelectModuleHook(TSelectModuleHook Hook) { g_selectHook = std::move(Hook); }
