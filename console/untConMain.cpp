#include "untConMain.h"
#include "ui_untConMain.h"

#include "untMsg.h"
#include "vkClxUtils.h"
#include "vkCmdUtils.h"
#include "vkDialogs.h"
#include "vkDskUtils.h"
#include "vkErrors.h"
#include "vkGuard.h"
#include "vkIniFile.h"
#include "vkLangUtils.h"
#include "vkPaths.h"
#include "vkSocket.h"
#include "vkSysUtils.h"
#include "vkSystem.h"

#include <QCloseEvent>
#include <QIcon>
#include <QPixmap>
#include <QFile>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <unistd.h>

TfmConMain *fmConMain = nullptr;

// The window's pictures are compiled in: reading them from resources would
// scan the image-format plugins at every start.
#include "res/close.xpm"
#include "res/close_disabled.xpm"
#include "res/ok.xpm"
#include "res/program.xpm"

static void SetPictures(Ui::TfmConMain *ui)
{
    ui->Image1->setPixmap(QPixmap(program_xpm));
    ui->btnRdebug->setIcon(QIcon(QPixmap(ok_xpm)));
    QIcon close{QPixmap(close_xpm)};
    close.addPixmap(QPixmap(close_disabled_xpm), QIcon::Disabled);
    ui->btnOK->setIcon(close);
}

namespace {

// The maker's programs and the files that tell their state.
const QString kFyr = QStringLiteral("/usr/sbin/fyr");
const QString kFyq = QStringLiteral("/usr/sbin/fyq");
const QString kKelvask = QStringLiteral("/usr/sbin/kelvask");
const QString kBondScript = QStringLiteral("/usr/sbin/bond");
const QString kBondConf = QStringLiteral("/etc/velkora/bond.conf");

// An item's attached object (the runtime's Items.Objects).
template <class T>
T *ItemObject(const QListWidgetItem *Item)
{
    return Item ? reinterpret_cast<T *>(Item->data(Qt::UserRole).value<quintptr>()) : nullptr;
}

template <class T>
void SetItemObject(QListWidgetItem *Item, T *Object)
{
    Item->setData(Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(Object)));
}

QString DottedQuad(uint32_t NetOrder)
{
    in_addr a{};
    a.s_addr = NetOrder;
    return QString::fromLatin1(inet_ntoa(a));
}

// A device-tree entry that knows its place among its siblings. The entries
// are put in the order of their texts before they join the tree (Qt's order
// of texts: UTF-16 units compared, letter case counting; stable, so equal
// texts keep their order), and their place is their sort key from then on:
// the tree's own sort, which would fetch both texts as variants at every
// step, compares two integers and finds nothing to move. Entries of the
// device tree are never edited, so the key stays true.
class TDeviceTreeItem : public QTreeWidgetItem {
public:
    static constexpr int KeyType = QTreeWidgetItem::UserType + 1;
    TDeviceTreeItem(const QString &Text, int Place) : QTreeWidgetItem(KeyType), FText(Text), FPlace(Place) {}
    QVariant data(int Column, int Role) const override
    {
        if (Column == 0 && (Role == Qt::DisplayRole || Role == Qt::EditRole))
            return FText;
        return QTreeWidgetItem::data(Column, Role);
    }
    bool operator<(const QTreeWidgetItem &Other) const override
    {
        if (Other.type() == KeyType)
            return FPlace < static_cast<const TDeviceTreeItem &>(Other).FPlace;
        return QTreeWidgetItem::operator<(Other);
    }

private:
    QString FText;
    int FPlace;
};

void SetEnabledIfPresent(QWidget *Control, bool Enabled)
{
    if (Control)
        Control->setEnabled(Enabled);
}

} // namespace

TfmConMain::TfmConMain(QWidget *Owner)
    : QWidget(Owner), ui(new Ui::TfmConMain), FPciListing(std::make_unique<TCmdOutputAhead>(QStringLiteral("lspci")))
{
    ui->setupUi(this);
    SetPictures(ui);

    // System menu only: a close button, no minimise or maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    if (QScreen *s = screen()) {
        const QRect area = s->geometry();   // the screen, panels included
        move(area.center() - QPoint(width() / 2, height() / 2));
    }

    // Pages fill the page control from the start, so that their anchored
    // contents measure against the right size.
    for (int i = 0; i < ui->PageControl1->count(); ++i)
        ui->PageControl1->widget(i)->setGeometry(ui->PageControl1->contentsRect());
    ApplyAnchors(this);

    auto *draw = new TDrawItemDelegate(
        [this](QPainter *Canvas, int Index, const QRect &Rect, unsigned State) {
            bool handled = false;
            listboxFuncDrawItem(Canvas, Index, Rect, State, handled);
        },
        24, ui->listboxFunc);
    ui->listboxFunc->setItemDelegate(draw);

    ui->lvPartitions->header()->resizeSection(0, 80);
    ui->lvPartitions->header()->resizeSection(1, 80);
    ui->lvPartitions->header()->resizeSection(2, 90);
    ui->ListView2->header()->resizeSection(0, 110);
    ui->ListView2->header()->resizeSection(1, 60);
    ui->ListView2->header()->resizeSection(2, 40);
    ui->ListView2->header()->resizeSection(3, 210);
    for (QTreeWidget *view : {ui->lvPartitions, ui->ListView2}) {
        view->header()->setSectionsClickable(false);
        view->header()->setSectionsMovable(false);
    }
    // Sorted lists: the disks by their text, the device tree on every level.
    ui->lbDiskList->setSortingEnabled(true);
    ui->TreeView1->header()->setSortIndicator(0, Qt::AscendingOrder);
    ui->TreeView1->setSortingEnabled(true);
    ui->Memo1->setWordWrapMode(QTextOption::WrapAnywhere);

    OpenDialog1.Title = QStringLiteral("Open");
    OpenDialog1.Filter = QStringLiteral("安装包文件(*.run)|所有文件(*.*)");

    ConnectHandlers();
    ui->listboxFunc->setFocus();   // the window's active control

    // Commands are waited for with the window painting and taking no input.
    InstallShellIdleHook();

    SetupLocaleFont(GetAppDir() + QStringLiteral("fyq5lan.ini"), QString());
    InitLanguage(QStringLiteral("vkpanel.ini"));
    TranslateForm(this);
    AutoSizeLabels(this);
    FillDebugNote();

    RunGuarded(this, [this] { FormCreate(); });
    // A creation that failed before the device page leaves the listing unread.
    FPciListing.reset();
}

TfmConMain::~TfmConMain()
{
    // The monitor lasts as long as the console, which ends with this window.
    DestroyNicMonitor();
    if (fmConMain == this)
        fmConMain = nullptr;
    delete ui;
}

void TfmConMain::ConnectHandlers()
{
    auto click = [this](QAbstractButton *Button, void (TfmConMain::*Handler)()) {
        connect(Button, &QAbstractButton::clicked, this, Guard(this, Handler));
    };
    ConnectListClick(ui->listboxFunc, Guard(this, &TfmConMain::listboxFuncClick));
    click(ui->btnOK, &TfmConMain::btnOKClick);

    ConnectListClick(ui->lbNicList, Guard(this, &TfmConMain::lbNicListClick));
    click(ui->btnNicDetail, &TfmConMain::btnNicDetailClick);
    click(ui->chkEnableBound, &TfmConMain::chkEnableBoundClick);
    click(ui->btnSetBound, &TfmConMain::btnSetBoundClick);

    ConnectListClick(ui->lbDiskList, Guard(this, &TfmConMain::lbDiskListClick));

    click(ui->btnFyrStart, &TfmConMain::btnFyrStartClick);
    click(ui->btnFyrStop, &TfmConMain::btnFyrStopClick);
    click(ui->btnFyqStart, &TfmConMain::btnFyqStartClick);
    click(ui->btnFyqStop, &TfmConMain::btnFyqStopClick);
    click(ui->btnKVStart, &TfmConMain::btnKVStartClick);
    click(ui->btnKVStop, &TfmConMain::btnKVStopClick);
    click(ui->btnFyrMan, &TfmConMain::btnFyrManClick);
    click(ui->btnFyqMan, &TfmConMain::btnFyqManClick);
    click(ui->btnKVMan, &TfmConMain::btnKVManClick);
    click(ui->btnFyq5BootMgr, &TfmConMain::btnFyq5BootMgrClick);
    click(ui->btnFyq5IOMgr, &TfmConMain::btnFyq5IOMgrClick);
    click(ui->btnKillFyqMan, &TfmConMain::btnKillFyqManClick);
    click(ui->btnKillFyq5BootMgr, &TfmConMain::btnKillFyq5BootMgrClick);
    click(ui->btnKillFyq5IoMgr, &TfmConMain::btnKillFyq5IoMgrClick);

    ConnectSystemPages();
}

// ---- start-up and navigation --------------------------------------------------

void TfmConMain::FillDebugNote()
{
    // One text, not line by line: appending to an empty memo would swallow
    // the leading empty line.
    const QStringList lines = {
        QString(),
        GetLangStr(QStringLiteral("Line1"), QStringLiteral("Note: ")),
        GetLangStr(QStringLiteral("Line2"),
                   QStringLiteral("Please contact with us to get the RemoteServer Ip First.")),
        GetLangStr(QStringLiteral("Line3"), QStringLiteral("Tel: +86 10 0000 0000")),
        GetLangStr(QStringLiteral("Line4"), QStringLiteral("Web: http://www.velkora.example")),
        GetLangStr(QStringLiteral("Line5"), QStringLiteral("Mail: support@velkora.example")),
    };
    ui->Memo1->setPlainText(lines.join(QLatin1Char('\n')));
}

void TfmConMain::FormCreate()
{
    // Each step stands on its own: one that fails shows its error, and the
    // steps after it still run. A console opened because something on the
    // server is wrong must not lose its pages to that very fault.
    const auto step = [this](const std::function<void()> &Body) { RunGuarded(this, Body); };

    FNICs = std::make_unique<TNICs>();
    step([] { SystemInfo->Refresh(); });

    step([this] {
        ui->listboxFunc->setFrameStyle(QFrame::Box | QFrame::Plain);
        ui->listboxFunc->setLineWidth(1);
        ui->listboxFunc->clear();
        for (int i = 0; i < ui->PageControl1->count(); ++i) {
            QWidget *page = ui->PageControl1->widget(i);
            const QVariant tabVisible = page->property("tabVisible");   // unset: visible
            if (IsPageEnabled(page->objectName()) && (!tabVisible.isValid() || tabVisible.toBool())) {
                auto *entry = new QListWidgetItem(page->windowTitle(), ui->listboxFunc);
                SetItemObject(entry, page);
            }
        }
        ui->listboxFunc->setCurrentRow(0);
    });

    for (TRefreshProc filler : {&TfmConMain::RefreshNicList, &TfmConMain::LoadPciTree, &TfmConMain::LoadModuleList,
                                &TfmConMain::LoadDiskList, &TfmConMain::RefreshFyrMeState,
                                &TfmConMain::RefreshFyrXpState, &TfmConMain::RefreshFyq5State,
                                &TfmConMain::RefreshKelvaskState, &TfmConMain::RestoreBonding})
        step([this, filler] { (this->*filler)(); });
}

bool TfmConMain::IsPageEnabled(const QString &PageName) const
{
    const QString path = GetAppDir() + QStringLiteral("vkpanel.ini");
    if (!FileExists(path))
        return true;
    const TIniFile ini(path, TIniFile::CaseSensitive);
    return ini.ReadBool(QStringLiteral("General"), PageName, true);
}

void TfmConMain::listboxFuncDrawItem(QPainter *Canvas, int Index, const QRect &Rect, unsigned State,
                                     bool &Handled)
{
    DrawListItem(ui->listboxFunc, Canvas, Index, Rect, State, Handled, false);
}

void TfmConMain::listboxFuncClick()
{
    const int i = ListItemIndex(ui->listboxFunc);
    if (i < 0)
        return;
    const QListWidgetItem *entry = ui->listboxFunc->item(i);
    if (QWidget *page = ItemObject<QWidget>(entry))
        ui->PageControl1->setCurrentWidget(page);
    ui->lblTitle->setText(entry->text());
}

void TfmConMain::btnOKClick()
{
    close();
}

void TfmConMain::FormClose()
{
    // The interface list's entries point into FNICs: they let go first.
    for (int i = 0; i < ui->lbNicList->count(); ++i)
        SetItemObject<TNIC>(ui->lbNicList->item(i), nullptr);
    FNICs.reset();
}

void TfmConMain::closeEvent(QCloseEvent *Event)
{
    FormClose();
    QWidget::closeEvent(Event);
}

void TfmConMain::keyPressEvent(QKeyEvent *Event)
{
    // The close button is the window's default button: Enter presses it,
    // unless another button has the focus, which then takes the press.
    if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
        auto *focused = qobject_cast<QPushButton *>(focusWidget());
        QPushButton *target = focused ? focused : ui->btnOK;
        if (target->isEnabled() && target->isVisible())
            target->click();
        Event->accept();
        return;
    }
    QWidget::keyPressEvent(Event);
}

// ---- network page -------------------------------------------------------------

void TfmConMain::RefreshNicList()
{
    ui->edtIP->clear();
    ui->edtMask->clear();
    ui->lbNicStatus->clear();
    ui->clbNIC->clear();
    ui->lbNicList->clear();

    if (!FNICs)
        FNICs = std::make_unique<TNICs>();
    FNICs->Refresh();
    for (int i = 0; i < FNICs->Count(); ++i) {
        TNIC *nic = FNICs->Items(i);
        if (!nic || nic->IsLoopback)
            continue;
        auto *entry = new QListWidgetItem(nic->Name, ui->lbNicList);
        SetItemObject(entry, nic);
        auto *member = new QListWidgetItem(nic->Name, ui->clbNIC);
        member->setFlags(member->flags() | Qt::ItemIsUserCheckable);
        member->setCheckState(Qt::Unchecked);
    }
    if (ui->lbNicList->count() > 0) {
        ui->lbNicList->setCurrentRow(0);
        lbNicListClick();
    }
}

void TfmConMain::ShowNicInfo(const TNIC *Nic)
{
    ui->edtIP->setText(DottedQuad(Nic->Addr));
    ui->edtMask->setText(DottedQuad(Nic->Mask));
    ui->lbNicStatus->clear();
    ui->lbNicStatus->addItem(Nic->IsUp ? GetLangStr(QStringLiteral("Enabled"), QStringLiteral("已启用"))
                                       : GetLangStr(QStringLiteral("Disabled"), QStringLiteral("已禁用")));
    ui->lbNicStatus->addItem(Nic->IsRunning
                                 ? GetLangStr(QStringLiteral("Connected"), QStringLiteral("已连接"))
                                 : GetLangStr(QStringLiteral("DisConnected"), QStringLiteral("已断开")));
    if (Nic->IsMaster)
        ui->lbNicStatus->addItem(GetLangStr(QStringLiteral("PriBind"), QStringLiteral("绑定：主设备")));
    if (Nic->IsSlave)
        ui->lbNicStatus->addItem(GetLangStr(QStringLiteral("SlaBind"), QStringLiteral("绑定：从设备")));
}

void TfmConMain::lbNicListClick()
{
    const int i = ListItemIndex(ui->lbNicList);
    const TNIC *nic = i >= 0 ? ItemObject<TNIC>(ui->lbNicList->item(i)) : nullptr;
    if (nic) {
        ShowNicInfo(nic);
    } else {
        ui->edtIP->clear();
        ui->edtMask->clear();
        ui->lbNicStatus->clear();
    }
}

void TfmConMain::btnNicDetailClick()
{
    const int i = ListItemIndex(ui->lbNicList);
    if (i < 0 || i >= ui->lbNicList->count())
        throw EStringListError(QStringLiteral("List index out of bounds (%1)").arg(i));
    QStringList lines;
    // The kernel lets an interface name hold shell characters (";", "$",
    // quotes): the name goes into the line as one word.
    ReadCmdOutput(QStringLiteral("ethtool ") + ShellArg(ui->lbNicList->item(i)->text())
                      + QStringLiteral(" 2> /dev/null"),
                  lines);
    ShowMessageWindow(lines);
}

// ---- bonding page -------------------------------------------------------------

void TfmConMain::RestoreBonding()
{
    TBondInfo bond;
    bool on = false;
    // A file that exists but cannot be read leaves the page as no file
    // would, and its error is shown once the page is in that state.
    std::exception_ptr unread;
    try {
        on = ReadBondConfig(bond);
    } catch (...) {
        unread = std::current_exception();
    }
    ui->chkEnableBound->setChecked(on);
    if (on) {
        ui->edBondIP->setText(bond.IP);
        ui->edBondMask->setText(bond.Mask);
        ui->edBondGateway->setText(bond.Gateway);
        // Members by whole name: eth1 is no member of "eth10 eth11".
        const QStringList members = bond.Slaves.split(QRegularExpression(QStringLiteral("[ \\t]+")),
                                                      Qt::SkipEmptyParts);
        for (int i = 0; i < ui->clbNIC->count(); ++i) {
            QListWidgetItem *member = ui->clbNIC->item(i);
            if (members.contains(member->text()))
                member->setCheckState(Qt::Checked);
        }
    } else {
        ui->edBondIP->clear();
        ui->edBondMask->clear();
        ui->edBondGateway->clear();
    }
    chkEnableBoundClick();
    ui->btnSetBound->setEnabled(false);
    if (unread)
        std::rethrow_exception(unread);
}

void TfmConMain::chkEnableBoundClick()
{
    const bool on = ui->chkEnableBound->isChecked();
    const auto controls = ui->GrpBoundSetting->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *control : controls) {
        if (control != ui->chkEnableBound)
            control->setEnabled(on);
    }
    ui->btnSetBound->setEnabled(true);
}

void TfmConMain::btnSetBoundClick()
{
    if (!ui->chkEnableBound->isChecked()) {
        if (MessageDlg(QStringLiteral("Confirm to Cancel Bounding?"), TMsgDlgType::Warning, mbYes | mbNo, this)
            == mrYes) {
            // Left in place, the file brings bonding back at the next boot:
            // only a file that is already gone counts as deleted.
            const QString path = SysPath(kBondConf);
            const int err = ::unlink(QFile::encodeName(path).constData()) == 0 ? 0 : errno;
            if (err != 0 && err != ENOENT)
                throw EInOutError(QStringLiteral("Cannot delete file %1. %2")
                                      .arg(path, QString::fromLocal8Bit(std::strerror(err))));
            ui->btnSetBound->setEnabled(false);
        }
        return;
    }

    CheckNotEmpty(ui->edBondIP->text(), QStringLiteral("Ip Address is empty!"));
    CheckNotEmpty(ui->edBondMask->text(), QStringLiteral("Mask is empty!"));
    QString slaves;
    for (int i = 0; i < ui->clbNIC->count(); ++i) {
        const QListWidgetItem *member = ui->clbNIC->item(i);
        if (member->checkState() == Qt::Checked)
            slaves += member->text() + QLatin1Char(' ');
    }
    if (slaves.isEmpty())
        throw Exception(QStringLiteral("NO NIC adapter selected!"));

    TBondInfo bond;
    bond.Device = QStringLiteral("bond0");
    bond.Slaves = TrimCtl(slaves);
    bond.IP = ui->edBondIP->text();
    bond.Mask = ui->edBondMask->text();
    bond.Gateway = ui->edBondGateway->text();
    WriteBondConfig(bond);
    const QString script = SysPath(kBondScript) + QStringLiteral(" start");
    const int status = RunShell(ShellArg(SysPath(kBondScript)) + QStringLiteral(" start"));
    // A script that failed leaves Apply enabled for another try; the file
    // stays written, and the message says so.
    if (status != 0)
        throw Exception(QStringLiteral("Bonding script %1 failed (%2); file %3 has been written.")
                            .arg(script, ShellStatusText(status), SysPath(kBondConf)));
    ui->btnSetBound->setEnabled(false);
}

// ---- disk page ------------------------------------------------------------------

void TfmConMain::LoadDiskList()
{
    ui->lbDiskList->clear();
    TDiskItems *disks = SystemInfo->Disks();
    for (int i = 0; i < disks->Count(); ++i) {
        TDiskItem *disk = disks->GetItem(i);
        auto *entry = new QListWidgetItem(disk->Name + QLatin1Char(' ') + disk->GetSizeText());
        SetItemObject(entry, disk);
        ui->lbDiskList->addItem(entry);   // sorted in by its text
    }
    if (ui->lbDiskList->count() > 0) {
        ui->lbDiskList->setCurrentRow(0);
        lbDiskListClick();
    }
}

void TfmConMain::lbDiskListClick()
{
    const int i = ListItemIndex(ui->lbDiskList);
    ShowPartitions(i >= 0 ? ItemObject<TDiskItem>(ui->lbDiskList->item(i)) : nullptr);
}

void TfmConMain::ShowPartitions(const TDiskItem *Disk)
{
    ui->lvPartitions->clear();
    if (!Disk)
        return;
    const TVolItems *vols = Disk->VolItems();
    for (int i = 0; i < vols->Count(); ++i) {
        const TVolItem *vol = vols->GetItem(i);
        new QTreeWidgetItem(ui->lvPartitions, {vol->Name, vol->GetTypeName(), vol->GetSizeText()});
    }
}

// ---- device page ----------------------------------------------------------------

void TfmConMain::LoadPciTree()
{
    auto *root = new QTreeWidgetItem(ui->TreeView1, {GetLocalHostName()});
    QStringList lines;
    if (FPciListing) {
        FPciListing->Take(lines);
        FPciListing.reset();
    } else {
        ReadCmdOutput(QStringLiteral("lspci"), lines);
    }

    // The tree is built apart and sorted before it is shown: a sorted tree
    // sorts itself again after every insert, which makes a long listing
    // quadratic. Classes are told apart by their exact text, as the search
    // among the root's children does; each level is put in the order the
    // sorted tree keeps (stable: equal texts stay in output order), so the
    // tree's own sort, when sorting is switched back on, finds nothing to move.
    ui->TreeView1->setSortingEnabled(false);
    QHash<QStringView, QStringList> devices;   // views into `lines`
    for (const QString &line : std::as_const(lines)) {
        QStringView rest(line);
        const QStringView bus = CutToken(rest, QLatin1Char(' '));
        QStringView cls, description;
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        if (colon < 0) {
            description = TrimCtl(rest);
        } else {
            cls = TrimCtl(rest.left(colon));
            description = TrimCtl(rest.mid(colon + 1));
        }
        QString text;
        text.reserve(description.size() + bus.size() + 3);
        text.append(description).append(QLatin1String(" (")).append(bus).append(QLatin1Char(')'));
        devices[cls] << text;
    }
    QList<QStringView> classes = devices.keys();
    std::sort(classes.begin(), classes.end());
    QList<QTreeWidgetItem *> classNodes;
    classNodes.reserve(classes.size());
    for (QStringView cls : std::as_const(classes)) {
        QStringList &texts = devices[cls];
        std::stable_sort(texts.begin(), texts.end());
        QList<QTreeWidgetItem *> children;
        children.reserve(texts.size());
        for (const QString &text : std::as_const(texts))
            children << new TDeviceTreeItem(text, int(children.size()));
        auto *classNode = new TDeviceTreeItem(cls.toString(), int(classNodes.size()));
        classNode->addChildren(children);
        classNodes << classNode;
    }
    root->addChildren(classNodes);
    ui->TreeView1->setSortingEnabled(true);
    root->setExpanded(true);
}

// ---- module page ----------------------------------------------------------------

void TfmConMain::LoadModuleList()
{
    const QString path = SysPath(QStringLiteral("/proc/modules"));
    if (!FileExists(path)) {
        new QTreeWidgetItem(ui->ListView2, {QStringLiteral("Read System Info Fail!")});
        return;
    }
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "re");
    if (!file)
        throw EInOutError(QStringLiteral("I/O error %1").arg(errno));
    char *buf = nullptr;
    size_t cap = 0;
    auto release = [&] {
        std::free(buf);
        std::fclose(file);
    };
    try {
        for (;;) {
            errno = 0;
            const ssize_t n = getline(&buf, &cap, file);
            if (n < 0) {
                if (std::ferror(file))
                    throw EInOutError(QStringLiteral("I/O error %1").arg(errno ? errno : EIO));
                break;
            }
            QByteArray raw(buf, n);
            if (raw.endsWith('\n'))
                raw.chop(1);
            if (raw.endsWith('\r'))
                raw.chop(1);
            QString line = QString::fromLocal8Bit(raw);

            auto *row = new QTreeWidgetItem(ui->ListView2);
            QString field;
            CutToken(line, QLatin1Char(' '), field);
            row->setText(0, field);
            CutToken(line, QLatin1Char(' '), field);
            row->setText(1, field);
            CutToken(line, QLatin1Char(' '), field);
            row->setText(2, field);
            row->setText(3, line);
            row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        }
    } catch (...) {
        release();
        throw;
    }
    release();
}

// ---- service pages --------------------------------------------------------------

void TfmConMain::UpdateServiceState(const QString &ExePath, const QString &PidFile, const QString &Caption,
                                    QLabel *StateLabel, QWidget *StartButton, QWidget *StopButton,
                                    QWidget *ManagerButton, QWidget *CloseButton)
{
    if (!FileExists(SysPath(ExePath))) {
        StateLabel->setText(Caption + GetLangStr(QStringLiteral("NoInst"), QStringLiteral("未安装")));
        SetEnabledIfPresent(StartButton, false);
        SetEnabledIfPresent(StopButton, false);
        SetEnabledIfPresent(ManagerButton, false);
        SetEnabledIfPresent(CloseButton, false);
        return;
    }
    SetEnabledIfPresent(ManagerButton, true);
    SetEnabledIfPresent(CloseButton, true);
    // Running and stopped only ever enable: the other button keeps its state.
    if (FileExists(SysPath(PidFile))) {
        StateLabel->setText(Caption + GetLangStr(QStringLiteral("Started"), QStringLiteral("已运行")));
        SetEnabledIfPresent(StopButton, true);
    } else {
        StateLabel->setText(Caption + GetLangStr(QStringLiteral("Stopped"), QStringLiteral("已停止")));
        SetEnabledIfPresent(StartButton, true);
    }
}

void TfmConMain::RefreshFyrMeState()
{
    UpdateServiceState(kFyr, QStringLiteral("/var/run/velkora/fyrsrv.pid"),
                       GetLangStr(QStringLiteral("ProdFyrme"), QStringLiteral("Fyr Me:")), ui->lbFyrState,
                       ui->btnFyrStart, ui->btnFyrStop, ui->btnFyrMan, nullptr);
}

void TfmConMain::RefreshFyrXpState()
{
    UpdateServiceState(kFyq, QStringLiteral("/var/run/velkora/fyqsrv.pid"),
                       GetLangStr(QStringLiteral("ProdFyrxp"), QStringLiteral("Fyr XP:")), ui->lbFyqState,
                       ui->btnFyqStart, ui->btnFyqStop, ui->btnFyqMan, ui->btnKillFyqMan);
}

void TfmConMain::RefreshFyq5State()
{
    // Both manager rows count as installed by the XP control program.
    UpdateServiceState(kFyq, QStringLiteral("/var/run/velkora/fyqboot.pid"),
                       GetLangStr(QStringLiteral("ProdFyqBoot"), QStringLiteral("Fyr XP 5 Boot: ")),
                       ui->lbFyq5BootState, nullptr, nullptr, ui->btnFyq5BootMgr, ui->btnKillFyq5BootMgr);
    UpdateServiceState(kFyq, QStringLiteral("/var/run/velkora/fyqio.pid"),
                       GetLangStr(QStringLiteral("ProdFyqIo"), QStringLiteral("Fyr XP 5 IO: ")),
                       ui->lbFyq5IoState, nullptr, nullptr, ui->btnFyq5IOMgr, ui->btnKillFyq5IoMgr);
}

void TfmConMain::RefreshKelvaskState()
{
    UpdateServiceState(kKelvask, QStringLiteral("/var/run/velkora/kvsrv.pid"),
                       GetLangStr(QStringLiteral("ProdKelvask"), QStringLiteral("Kelvask:")), ui->lbKVState,
                       ui->btnKVStart, ui->btnKVStop, ui->btnKVMan, nullptr);
}

void TfmConMain::ServiceCommand(const QString &ExePath, bool Start, TRefreshProc Refresh)
{
    const TCursorGuard hourglass;
    RunShell(ShellArg(SysPath(ExePath)) + (Start ? QStringLiteral(" start") : QStringLiteral(" stop")));
    // The service writes its pid file shortly after its control program
    // returns; the refresh waits that long.
    WaitWithoutInput(500);
    (this->*Refresh)();
}

void TfmConMain::RunManager(const QString &ExePath, TRefreshProc Refresh)
{
    const TCursorGuard hourglass;
    RunShell(ShellArg(SysPath(ExePath)));
    WaitWithoutInput(500);
    (this->*Refresh)();
}

void TfmConMain::CloseManager(const QString &Question, const QString &Command)
{
    if (MessageDlg(Question, TMsgDlgType::Warning, mbYes | mbNo, this) == mrYes)
        RunShell(Command);
}

void TfmConMain::btnFyrStartClick() { ServiceCommand(kFyr, true, &TfmConMain::RefreshFyrMeState); }
void TfmConMain::btnFyrStopClick() { ServiceCommand(kFyr, false, &TfmConMain::RefreshFyrMeState); }
void TfmConMain::btnFyqStartClick() { ServiceCommand(kFyq, true, &TfmConMain::RefreshFyrXpState); }
void TfmConMain::btnFyqStopClick() { ServiceCommand(kFyq, false, &TfmConMain::RefreshFyrXpState); }
void TfmConMain::btnKVStartClick() { ServiceCommand(kKelvask, true, &TfmConMain::RefreshKelvaskState); }
void TfmConMain::btnKVStopClick() { ServiceCommand(kKelvask, false, &TfmConMain::RefreshKelvaskState); }

void TfmConMain::btnFyrManClick()
{
    RunManager(QStringLiteral("/usr/sbin/fyrman"), &TfmConMain::RefreshFyrMeState);
}

void TfmConMain::btnFyqManClick()
{
    RunManager(QStringLiteral("/usr/sbin/fyqman"), &TfmConMain::RefreshFyrXpState);
}

void TfmConMain::btnKVManClick()
{
    RunManager(QStringLiteral("/usr/sbin/kvman"), &TfmConMain::RefreshKelvaskState);
}

void TfmConMain::btnFyq5BootMgrClick()
{
    RunManager(QStringLiteral("/usr/sbin/fyqbootmgr"), &TfmConMain::RefreshFyq5State);
}

void TfmConMain::btnFyq5IOMgrClick()
{
    RunManager(QStringLiteral("/usr/sbin/fyqiomgr"), &TfmConMain::RefreshFyq5State);
}

void TfmConMain::btnKillFyqManClick()
{
    CloseManager(QStringLiteral("Do you confirm to close Manager?"), QStringLiteral("killall fyqman.exe"));
}

void TfmConMain::btnKillFyq5BootMgrClick()
{
    CloseManager(QStringLiteral("Do you confirm to close Boot Manager?"),
                 QStringLiteral("killall fyqbootmgr.exe"));
}

void TfmConMain::btnKillFyq5IoMgrClick()
{
    CloseManager(QStringLiteral("Do you confirm to close I/O Manager?"),
                 QStringLiteral("killall fyqiomgr.exe"));
}
