#include "untMain.h"
#include "ui_untMain.h"

#include "untRunCmd.h"
#include "untSelModule.h"
#include "vkClxUtils.h"
#include "vkCmdUtils.h"
#include "vkDialogs.h"
#include "vkErrors.h"
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
#include <memory>
#include <cstring>
#include <string>
#include <vector>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>

TfmMain *fmMain = nullptr;

namespace {
const QString kModulesConf = QStringLiteral("/etc/velkora/modules.conf");
// Where a driver line keeps the bytes it was read from.
constexpr int kLineBytesRole = Qt::UserRole;

std::function<void(const QByteArray &)> g_modulesLoadHook;

// The tab pages' client size in the window definition: anchored controls
// keep their distances to its edges whatever size the tabs end up with.
constexpr QSize kPageSize(642, 412);

// Appends Found to List, then sorts the whole list ignoring case and keeps
// one name of each group that differs only in case: the one that came first
// (List's own names before Found's, Found's in walk order).
void MergeSortedUnique(QStringList &List, QStringList &&Found)
{
    if (Found.isEmpty())
        return;
    List.append(std::move(Found));
    // Module names are plain ASCII: theirs is compared as lower-case bytes,
    // which orders them exactly as the case-blind text comparison does and
    // costs a fraction of it. Any other name takes that comparison.
    struct TKey {
        std::string Folded;   // lower-case ASCII; empty for other names
        bool Ascii;
        qsizetype Index;
    };
    std::vector<TKey> keys;
    keys.reserve(size_t(List.size()));
    for (qsizetype i = 0; i < List.size(); ++i) {
        const QString &name = List.at(i);
        TKey key{std::string(size_t(name.size()), '\0'), true, i};
        for (qsizetype c = 0; c < name.size() && key.Ascii; ++c) {
            const char16_t u = name.at(c).unicode();
            key.Ascii = u < 0x80;
            key.Folded[size_t(c)] = char(u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u);
        }
        if (!key.Ascii)
            key.Folded.clear();
        keys.push_back(std::move(key));
    }
    const auto order = [&List](const TKey &a, const TKey &b) {
        if (a.Ascii && b.Ascii)
            return a.Folded.compare(b.Folded);
        return List.at(a.Index).compare(List.at(b.Index), Qt::CaseInsensitive);
    };
    std::stable_sort(keys.begin(), keys.end(), [&](const TKey &a, const TKey &b) { return order(a, b) < 0; });
    QStringList sorted;
    sorted.reserve(qsizetype(keys.size()));
    for (size_t i = 0; i < keys.size(); ++i)
        if (i == 0 || order(keys[i - 1], keys[i]) != 0)
            sorted.append(std::move(List[keys[i].Index]));
    List = std::move(sorted);
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

    // Every driver line is one line of text in the one font: with rows of
    // one height the view lays out a long list at once, where measuring
    // each row's text would hold the window back for seconds.
    ui->lbModules->setUniformItemSizes(true);

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
    // Each step stands on its own: one that fails shows its error, and the
    // steps after it still run, so that the window offers whatever could be
    // read (a driver list that could not be read stays guarded).
    const auto step = [this](const std::function<void()> &Body) { RunGuarded(this, Body); };
    step([] { SetupLocaleFont(GetAppDir() + QStringLiteral("fyq5lan.ini"), QString()); });
    step([] { InitLanguage(QStringLiteral("vkhostset.ini")); });
    step([this] { TranslateForm(this); });

    NetModules.clear();
    ScsiModules.clear();
    MtabLines.clear();

    step([] { SystemInfo->Refresh(); });
    // Later writes into the directory report their own failures.
    QDir().mkpath(SysPath(QStringLiteral("/etc/velkora/")));
    step([this] { ScanModules(SysPath(GetModulesDir() + QStringLiteral("/kernel/drivers/net")), NetModules); });
    step([this] { ScanModules(SysPath(GetModulesDir() + QStringLiteral("/kernel/drivers/scsi")), ScsiModules); });
    step([this] { LoadModules(); });
    step([this] { RefreshDiskTree(); });
    ui->PageControl1->setCurrentWidget(ui->tsModules);
}

void TfmMain::SetModulesLoadHookForTesting(std::function<void(const QByteArray &Text)> Hook)
{
    g_modulesLoadHook = std::move(Hook);
}

QString TfmMain::GetModulesDir()
{
    utsname u{};
    const QString release = ::uname(&u) == 0 ? QString::fromLocal8Bit(u.release) : QString();
    return QStringLiteral("/lib/modules/") + release;
}

namespace {
// Every non-directory name below Dir (which ends in "/"), without its last
// extension, in walk order: depth first, entries as the directory returns them.
void CollectModules(const QByteArray &Dir, QStringList &Names)
{
    DIR *d = ::opendir(Dir.constData());
    if (!d)
        return;
    // Closed on every way out, before returning.
    const std::unique_ptr<DIR, int (*)(DIR *)> closer(d, ::closedir);
    while (const dirent *e = ::readdir(d)) {
        const char *name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        unsigned char type = e->d_type;
        if (type == DT_DIR || type == DT_UNKNOWN || type == DT_LNK) {
            const QByteArray path = Dir + name;
            struct stat st;
            if (type == DT_UNKNOWN && ::lstat(path.constData(), &st) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
            if (type == DT_DIR) {
                CollectModules(path + '/', Names);
                continue;
            }
            // A link to a directory is neither followed (a link back up the
            // tree would never end) nor offered as a module; a link to a file is.
            if (type == DT_LNK && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
        }
        // The last dot is cut before decoding: no encoding the system uses
        // for file names puts the byte of "." inside another character.
        const char *dot = std::strrchr(name, '.');
        Names.append(QFile::decodeName(QByteArray::fromRawData(name, dot ? int(dot - name) : int(std::strlen(name)))));
    }
}
} // namespace

void TfmMain::ScanModules(const QString &Dir, QStringList &List)
{
    // Collected first and sorted once: keeping the list sorted while walking
    // moves half of it for every name, which a large module tree feels.
    QStringList found;
    CollectModules(QFile::encodeName(IncludeTrailingSlash(Dir)), found);
    MergeSortedUnique(List, std::move(found));
}

// ---- drivers tab ------------------------------------------------------------------

QByteArray TfmMain::ModuleLineBytes(const QListWidgetItem *Item)
{
    return EncodeEditedLine(Item->text(), Item->data(kLineBytesRole).toByteArray());
}

void TfmMain::LoadModules()
{
    ui->lbModules->clear();
    FModulesUnread.clear();
    FModulesText.clear();
    const QString conf = SysPath(kModulesConf);
    FModulesAbsent = !FileExists(conf);
    if (FModulesAbsent)
        return;
    // Whatever stops the read, the list is not the file's: guarded, whatever
    // was raised (an allocation that failed included).
    const auto guard = [this](const QString &Why) {
        ui->lbModules->clear();
        FModulesUnread = Why.isEmpty() ? QStringLiteral("Unknown error") : Why;
    };
    try {
        QByteArray text;
        const QList<QByteArray> lines = LoadLineBytes(conf, &text);
        if (g_modulesLoadHook)
            g_modulesLoadHook(text);
        // Items are made on their own and then added: an item made with its
        // list searches the whole list, which makes a long file quadratic.
        std::vector<std::unique_ptr<QListWidgetItem>> items;
        items.reserve(size_t(lines.size()));
        for (const QByteArray &line : lines) {
            // Shown decoded; where that does not give the bytes back, the
            // bytes ride along, so that a line nobody edits goes back and to
            // modprobe exactly as it stands.
            items.push_back(std::make_unique<QListWidgetItem>(DecodeLocalText(line)));
            if (items.back()->text().toUtf8() != line)
                items.back()->setData(kLineBytesRole, line);
        }
        for (std::unique_ptr<QListWidgetItem> &item : items)
            ui->lbModules->addItem(item.release());
        FModulesText = std::move(text);
    } catch (const Exception &e) {
        guard(e.Message());
        throw;
    } catch (const std::exception &e) {
        guard(QString::fromLocal8Bit(e.what()));
        throw;
    } catch (...) {
        guard(QString());
        throw;
    }
}

void TfmMain::CheckModulesRead() const
{
    if (!FModulesUnread.isEmpty())
        throw EFOpenError(FModulesUnread);
}

void TfmMain::SaveModules()
{
    const QString conf = SysPath(kModulesConf);
    // The list is written back only over what it was read from: a line
    // another program added meanwhile must not go. What cannot be read now
    // counts as changed.
    bool same = false;
    try {
        same = FileExists(conf) ? !FModulesAbsent && LoadFileBytes(conf) == FModulesText : FModulesAbsent;
    } catch (...) {
    }
    if (!same) {
        QString message = QStringLiteral("The file \"%1\" was changed by another program. The list is read again.")
                              .arg(conf);
        try {
            LoadModules();
        } catch (...) {
            message += QLatin1Char('\n') + FModulesUnread;
        }
        lbModulesClick();
        throw Exception(message);
    }
    QList<QByteArray> lines;
    for (int i = 0; i < ui->lbModules->count(); ++i)
        lines << ModuleLineBytes(ui->lbModules->item(i));
    FModulesText = SaveLineBytes(conf, lines);
    FModulesAbsent = false;
}

void TfmMain::btnModuleAddClick()
{
    ui->pmAddModule->popup(ui->btnModuleAdd->mapToGlobal(QPoint(0, ui->btnModuleAdd->height())));
}

void TfmMain::menuNICClick() { AddModule(NetModules); }

void TfmMain::menuDiskClick() { AddModule(ScsiModules); }

void TfmMain::AddModule(const QStringList &Offered)
{
    CheckModulesRead();   // before anything is asked that could not be kept
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
    CheckModulesRead();
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
    CheckModulesRead();
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
    // its words reaches modprobe as one argument, quoted only when it needs
    // it, so that an ordinary line runs as typed. "=" and "," are plain in
    // an argument, where no shell gives them a meaning.
    QString command = QStringLiteral("modprobe");
    for (const QByteArray &word : SplitShellWords(ModuleLineBytes(item)))
        command += QLatin1Char(' ') + ShellArg(word, "=,");
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
