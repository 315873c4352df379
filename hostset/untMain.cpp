#include "untMain.h"
#include "ui_untMain.h"

#include "untRunCmd.h"
#include "untSelModule.h"
#include "vkClxUtils.h"
#include "vkCmdUtils.h"
#include "vkDialogs.h"
#include "vkFileUtils.h"
#include "vkFormUtils.h"
#include "vkGuard.h"
#include "vkLangUtils.h"
#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkSystem.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QScreen>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>

TfmMain *fmMain = nullptr;

namespace {
const QString kModulesConf = QStringLiteral("/etc/velkora/modules.conf");
// Where a driver line keeps the bytes it was read from.
constexpr int kLineBytesRole = Qt::UserRole;

// The tab pages' client size in the window definition: anchored controls
// keep their distances to its edges whatever size the tabs end up with.
constexpr QSize kPageSize(642, 412);

// Adds Name to a list kept sorted ignoring case, unless it holds the name
// already in any case.
void AddSortedUnique(QStringList &List, const QString &Name)
{
    const auto less = [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    };
    const auto at = std::lower_bound(List.begin(), List.end(), Name, less);
    if (at != List.end() && at->compare(Name, Qt::CaseInsensitive) == 0)
        return;
    List.insert(at, Name);
}

// The name without its last extension: e1000.ko gives e1000, foo.ko.gz foo.ko.
QString WithoutLastExtension(const QString &Name)
{
    const qsizetype dot = Name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? Name : Name.left(dot);
}
} // namespace

TfmMain::TfmMain(QWidget *Owner) : QWidget(Owner), ui(new Ui::TfmMain)
{
    ui->setupUi(this);

    // System menu only: a close button, no minimise or maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    if (QScreen *s = screen()) {
        const QRect area = s->geometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    for (QWidget *page : {ui->tsModules, ui->tsDisks})
        page->resize(kPageSize);
    ApplyAnchors(this);

    QHeaderView *header = ui->tvDev->header();
    const int widths[] = {120, 70, 100, 70, 80};
    for (int i = 0; i < 5; ++i)
        header->resizeSection(i, widths[i]);
    header->setSortIndicator(0, Qt::AscendingOrder);
    ui->tvDev->sortByColumn(0, Qt::AscendingOrder);

    ConnectHandlers();
    ConnectDisksTab();
    ui->PageControl1->setFocus();   // the window's active control

    RunGuarded(this, [this] { FormCreate(); });
}

TfmMain::~TfmMain()
{
    if (fmMain == this)
        fmMain = nullptr;
    delete ui;
}

void TfmMain::ConnectHandlers()
{
    auto click = [this](QAbstractButton *Button, void (TfmMain::*Handler)()) {
        connect(Button, &QAbstractButton::clicked, this, Guard(this, Handler));
    };
    click(ui->btnModuleAdd, &TfmMain::btnModuleAddClick);
    click(ui->btnModuleEdit, &TfmMain::btnModuleEditClick);
    click(ui->btnModuleDel, &TfmMain::btnModuleDelClick);
    click(ui->btnModuleInsert, &TfmMain::btnModuleInsertClick);
    click(ui->btnModuleUp, &TfmMain::btnModuleUpClick);
    click(ui->btnModuleDown, &TfmMain::btnModuleDownClick);
    connect(ui->menuNIC, &QAction::triggered, this, Guard(this, &TfmMain::menuNICClick));
    connect(ui->menuDisk, &QAction::triggered, this, Guard(this, &TfmMain::menuDiskClick));
    ConnectListClick(ui->lbModules, Guard(this, &TfmMain::lbModulesClick));
    ConnectDblClick(ui->lbModules, Guard(this, &TfmMain::lbModulesDblClick));
}

// ---- start-up -------------------------------------------------------------------

void TfmMain::FormCreate()
{
    SetupLocaleFont(GetAppDir() + QStringLiteral("fyq5lan.ini"), QString());
    InitLanguage(QStringLiteral("vkhostset.ini"));
    TranslateForm(this);

    NetModules.clear();
    ScsiModules.clear();
    MtabLines.clear();

    SystemInfo->Refresh();
    // Later writes into the directory report their own failures.
    QDir().mkpath(SysPath(QStringLiteral("/etc/velkora/")));
    ScanModules(SysPath(GetModulesDir() + QStringLiteral("/kernel/drivers/net")), NetModules);
    ScanModules(SysPath(GetModulesDir() + QStringLiteral("/kernel/drivers/scsi")), ScsiModules);

    const QString conf = SysPath(kModulesConf);
    if (FileExists(conf)) {
        ui->lbModules->clear();
        for (const QByteArray &line : LoadLineBytes(conf)) {
            // Shown decoded; the bytes ride along, so that a line nobody
            // edits goes back and to modprobe exactly as it stands.
            auto *item = new QListWidgetItem(DecodeLocalText(line), ui->lbModules);
            item->setData(kLineBytesRole, line);
        }
    }
    RefreshDiskTree();
    ui->PageControl1->setCurrentWidget(ui->tsModules);
}

QString TfmMain::GetModulesDir()
{
    utsname u{};
    const QString release = ::uname(&u) == 0 ? QString::fromLocal8Bit(u.release) : QString();
    return QStringLiteral("/lib/modules/") + release;
}

void TfmMain::ScanModules(const QString &Dir, QStringList &List)
{
    const QString dir = IncludeTrailingSlash(Dir);
    DIR *d = ::opendir(QFile::encodeName(dir).constData());
    if (!d)
        return;
    // Closed on every way out, before returning.
    const std::unique_ptr<DIR, int (*)(DIR *)> closer(d, ::closedir);
    while (const dirent *e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const QString path = dir + name;
        unsigned char type = e->d_type;
        struct stat st;
        if (type == DT_UNKNOWN && ::lstat(QFile::encodeName(path).constData(), &st) == 0)
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        if (type == DT_DIR) {
            ScanModules(path, List);
            continue;
        }
        // A link to a directory is neither followed (a link back up the tree
        // would never end) nor offered as a module; a link to a file is.
        if (type == DT_LNK && ::stat(QFile::encodeName(path).constData(), &st) == 0
            && S_ISDIR(st.st_mode))
            continue;
        AddSortedUnique(List, WithoutLastExtension(name));
    }
}

// ---- drivers tab ------------------------------------------------------------------

QByteArray TfmMain::ModuleLineBytes(const QListWidgetItem *Item)
{
    return EncodeEditedLine(Item->text(), Item->data(kLineBytesRole).toByteArray());
}

void TfmMain::SaveModules()
{
    QList<QByteArray> lines;
    for (int i = 0; i < ui->lbModules->count(); ++i)
        lines << ModuleLineBytes(ui->lbModules->item(i));
    SaveLineBytes(SysPath(kModulesConf), lines);
}

void TfmMain::btnModuleAddClick()
{
    ui->pmAddModule->popup(ui->btnModuleAdd->mapToGlobal(QPoint(0, ui->btnModuleAdd->height())));
}

void TfmMain::menuNICClick() { AddModule(NetModules); }

void TfmMain::menuDiskClick() { AddModule(ScsiModules); }

void TfmMain::AddModule(const QStringList &Offered)
{
    QString name;
    if (!SelectModule(Offered, name))
        return;
    if (ModuleListed(name)) {
        MessageDlg(Format(GetLangStr(QStringLiteral("ModExists"), QStringLiteral("模块\"%s\"已经存在")),
                          {name}),
                   TMsgDlgType::Error, mbYes, this);
        return;
    }
    ui->lbModules->addItem(name);
    SaveModules();
}

bool TfmMain::ModuleListed(const QString &Name) const
{
    for (int i = 0; i < ui->lbModules->count(); ++i) {
        QString line = ui->lbModules->item(i)->text();
        QString token;
        CutToken(line, QLatin1Char(' '), token);
        if (token == Name)
            return true;
    }
    return false;
}

void TfmMain::btnModuleEditClick()
{
    QListWidgetItem *item = ui->lbModules->item(ListItemIndex(ui->lbModules));
    if (!item)
        return;
    const QString line = item->text();
    QString value = line;
    if (!InputQuery(GetLangStr(QStringLiteral("EditMod"), QStringLiteral("编辑参数")),
                    Format(GetLangStr(QStringLiteral("EditModDesc"), QStringLiteral("编辑模块\"%s\"的参数")),
                           {line}),
                    value, this))
        return;
    item->setText(value);
    SaveModules();
}

void TfmMain::lbModulesDblClick() { btnModuleEditClick(); }

void TfmMain::btnModuleDelClick()
{
    QListWidgetItem *item = ui->lbModules->item(ListItemIndex(ui->lbModules));
    if (!item)
        return;
    const QString text = Format(
        GetLangStr(QStringLiteral("DelMod"), QStringLiteral("确实要删除模块\"%s\"吗？")), {item->text()});
    if (MessageDlg(text, TMsgDlgType::Warning, mbYes | mbNo, this) != mrYes)
        return;
    // As in the runtime's list box, no line is selected after a deletion.
    delete item;
    ui->lbModules->setCurrentRow(-1);
    lbModulesClick();
    SaveModules();
}

void TfmMain::btnModuleInsertClick()
{
    const QListWidgetItem *item = ui->lbModules->item(ListItemIndex(ui->lbModules));
    if (!item)
        return;
    // The line is the module and its parameters, never shell code: each of
    // its words reaches modprobe as one quoted argument.
    QString command = QStringLiteral("modprobe");
    for (const QByteArray &word : SplitShellWords(ModuleLineBytes(item)))
        command += QLatin1Char(' ') + ShellQuoteBytes(word);
    RunCommand(command);
}

void TfmMain::lbModulesClick()
{
    const bool selected = ListItemIndex(ui->lbModules) >= 0;
    ui->btnModuleEdit->setEnabled(selected);
    ui->btnModuleDel->setEnabled(ui->btnModuleEdit->isEnabled());
    ui->btnModuleInsert->setEnabled(ui->btnModuleEdit->isEnabled());
}

// The list's order is the file's; it is not changed from here.
void TfmMain::btnModuleUpClick() {}

void TfmMain::btnModuleDownClick() {}
