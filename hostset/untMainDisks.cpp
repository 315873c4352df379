// The disks tab of the main window: disk tree and mount state,
// partitioning, software arrays, XFS format and mounts.
#include "untMain.h"
#include "ui_untMain.h"

#include "untRunCmd.h"
#include "vkClasses.h"
#include "vkCmdUtils.h"
#include "vkDialogs.h"
#include "vkDskUtils.h"
#include "vkErrors.h"
#include "vkFileUtils.h"
#include "vkFormUtils.h"
#include "vkGuard.h"
#include "vkLangUtils.h"
#include "vkLineFile.h"
#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkSystem.h"

#include <QFile>
#include <QScopeGuard>
#include <QTreeWidget>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kMdConf = QStringLiteral("/etc/velkora/md.conf");
const QString kMountConf = QStringLiteral("/etc/velkora/mount.conf");
const QString kFstab = QStringLiteral("/etc/fstab");
const QString kReleaseFile = QStringLiteral("/etc/orvix/version");
const QString kPartTable = QStringLiteral("/tmp/parttable");
const QString kMountOptions = QStringLiteral("noatime,nobarrier,logbufs=8,logbsize=256k");

// What a partition node carries of its partition, so that nothing in the
// tree points into the system object, which every refresh rebuilds.
constexpr int kPartNumberRole = Qt::UserRole;
constexpr int kPartTypeRole = Qt::UserRole + 1;
constexpr Qt::Alignment kSizeAlignment = Qt::AlignRight | Qt::AlignVCenter;

std::function<void()> g_partTableGap;

int Level(const QTreeWidgetItem *Node)
{
    int level = 0;
    for (const QTreeWidgetItem *p = Node->parent(); p; p = p->parent())
        ++level;
    return level;
}

int SubItemCount(const QTreeWidgetItem *Node) { return Node->columnCount() - 1; }
bool IsMounted(const QTreeWidgetItem *Node) { return SubItemCount(Node) > 2; }
bool NamesArray(const QString &Text) { return Text.contains(QLatin1String("md")); }
bool IsArrayNode(const QTreeWidgetItem *Node) { return Level(Node) == 0 && NamesArray(Node->text(0)); }
// An array device or a partition of one: nothing to partition or to add as a member.
bool OnArray(const QTreeWidgetItem *Node)
{
    return Level(Node) == 0 ? NamesArray(Node->text(0)) : NamesArray(Node->parent()->text(0));
}

// The first blank-separated field of a mount-table line, as CutToken with a
// blank cuts it, without copying the rest of the line.
QStringView FirstToken(QStringView Line)
{
    qsizetype start = 0;
    while (start < Line.size() && Line[start] == QLatin1Char(' '))
        ++start;
    const qsizetype end = Line.indexOf(QLatin1Char(' '), start);
    return Line.mid(start, end < 0 ? -1 : end - start);
}

// The array number of a device name: what follows "/dev/md", at most three characters.
QString ArrayNumber(const QString &Dev) { return Dev.mid(7, 3); }
QByteArray ArrayKey(const QString &Dev) { return "md[" + ArrayNumber(Dev).toLocal8Bit() + ']'; }

// Stripe unit (and array chunk) in KiB from the block chooser.
int StripeUnitKiB(int Index)
{
    static const int units[] = {16, 32, 64, 128};
    return Index >= 0 && Index < 4 ? units[Index] : 64;
}

bool AskYes(const QString &Text)
{
    return MessageDlg(Text, TMsgDlgType::Warning, mbYes | mbNo) == mrYes;
}

void ShowRefusal(const QString &Text) { MessageDlg(Text, TMsgDlgType::Error, mbYes); }

// The lines of a configuration file of the tool, none when it does not exist.
TLines LoadIfExists(const QString &Path)
{
    return FileExists(Path) ? LoadLineBytes(Path) : TLines();
}

// Reads the files a command's result goes into before the command runs: a
// mount or an array whose record could not be kept is not made. Each file
// is read again, afresh, when the result is written.
void CheckRecordFiles(std::initializer_list<QString> Files)
{
    for (const QString &file : Files)
        LoadIfExists(SysPath(file));
}

// Sets (or with an empty value deletes) one key of md.conf or mount.conf.
void StoreValue(const QString &File, const QByteArray &Key, const QByteArray &Value)
{
    const QString path = SysPath(File);
    TLines lines = LoadIfExists(path);
    SetValue(lines, Key, Value);
    SaveLineBytes(path, lines);
}

// The sfdisk script, made so that nothing planted at its name beforehand (a
// link to some other file, a file of another owner) is followed or reused:
// whatever is there is removed, and the new file must be created afresh.
void WritePartTable(const QString &PartType)
{
    const QString path = SysPath(kPartTable);
    const QByteArray name = QFile::encodeName(path);
    auto fail = [&](int err) {
        return EFCreateError(QStringLiteral("Cannot create file \"%1\". %2")
                                 .arg(path, QString::fromLocal8Bit(std::strerror(err))));
    };
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        throw fail(errno);
    if (g_partTableGap)
        g_partTableGap();
    TFdCloser fd(::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        throw fail(errno);
    if (!WriteAll(fd.get(), ",," + PartType.toLocal8Bit() + '\n') || fd.release() != 0) {
        const int err = errno;
        ::unlink(name.constData());
        throw fail(err);
    }
}

} // namespace

void TfmMain::SetPartTableGapHookForTesting(std::function<void()> Hook) { g_partTableGap = std::move(Hook); }

void TfmMain::ConnectDisksTab()
{
    auto click = [this](QAbstractButton *Button, void (TfmMain::*Handler)()) {
        connect(Button, &QAbstractButton::clicked, this, Guard(this, Handler));
    };
    click(ui->btnDiskRefresh, &TfmMain::btnDiskRefreshClick);
    click(ui->btnDiskPart, &TfmMain::btnDiskPartClick);
    click(ui->btnAddDev, &TfmMain::btnAddDevClick);
    click(ui->btnRmDev, &TfmMain::btnRmDevClick);
    click(ui->btnMdCreate, &TfmMain::btnMdCreateClick);
    click(ui->btnMdDelete, &TfmMain::btnMdDeleteClick);
    click(ui->btnMdView, &TfmMain::btnMdViewClick);
    click(ui->btnFormatDevice, &TfmMain::btnFormatDeviceClick);
    click(ui->btnMount, &TfmMain::btnMountClick);
    click(ui->btnUmount, &TfmMain::btnUmountClick);
    connect(ui->miPartData, &QAction::triggered, this, Guard(this, &TfmMain::miPartDataClick));
    connect(ui->miPartMd, &QAction::triggered, this, Guard(this, &TfmMain::miPartMdClick));
    connect(ui->tvDev, &QTreeWidget::itemSelectionChanged, this, Guard(this, &TfmMain::tvDevChange));
    ConnectDblClick(ui->tvDev, Guard(this, &TfmMain::tvDevDblClick));
    ConnectDblClick(ui->lbDev, Guard(this, &TfmMain::lbDevDblClick));
    connect(ui->cmbMdList, &QComboBox::currentIndexChanged, this, Guard(this, &TfmMain::cmbMdListChange));
}

QTreeWidgetItem *TfmMain::SelectedNode() const
{
    const QList<QTreeWidgetItem *> selected = ui->tvDev->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

// ---- mount table and disk tree ------------------------------------------------------

void TfmMain::ReadMtab()
{
    MtabLines.clear();
    FILE *f = std::fopen(SysPathBytes(QStringLiteral("/etc/mtab")).constData(), "re");
    if (!f)
        return;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, f)) {
        size_t len = std::strlen(buf);
        while (len > 0 && static_cast<unsigned char>(buf[len - 1]) <= ' ')
            --len;
        MtabLines << QString::fromLocal8Bit(buf, qsizetype(len));
    }
    std::fclose(f);
}

int TfmMain::MtabLineOf(const QString &Dev) const
{
    // A copy shares MtabLines' data until either changes, so equal data
    // pointers mean the index still describes the list.
    if (FMtabIndexed.constData() != MtabLines.constData() || FMtabIndexed.size() != MtabLines.size()) {
        FMtabIndex.clear();
        FMtabIndex.reserve(MtabLines.size());
        // Backwards, so that the first line of a device is the one kept.
        for (int i = int(MtabLines.size()) - 1; i >= 0; --i)
            FMtabIndex.insert(FirstToken(MtabLines[i]).toString(), i);
        FMtabIndexed = MtabLines;
    }
    return FMtabIndex.value(Dev, -1);
}

bool TfmMain::FindMount(const QString &Dev, QString &MountPoint, QString &FsType) const
{
    int line = MtabLineOf(Dev);
    if (line < 0 && FDevLinksKnown && Dev.startsWith(QLatin1String("/dev/")) && Dev.indexOf(QLatin1Char('/'), 5) < 0
        && !FDevLinks.contains(Dev))
        return false;
    if (line < 0) {
        // A device link (/dev/md0 -> md/0) may be listed by its target; one level only.
        const QByteArray path = SysPathBytes(Dev);
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return false;
        char buf[256];
        const ssize_t n = ::readlink(path.constData(), buf, sizeof buf);
        if (n <= 0)
            return false;
        QString target = QString::fromLocal8Bit(buf, n);
        if (!target.startsWith(QLatin1Char('/')))
            target.prepend(Dev.left(Dev.lastIndexOf(QLatin1Char('/')) + 1));
        line = MtabLineOf(target);
        if (line < 0)
            return false;
    }
    QString rest = MtabLines[line], device;
    CutToken(rest, QLatin1Char(' '), device);
    CutToken(rest, QLatin1Char(' '), MountPoint);
    CutToken(rest, QLatin1Char(' '), FsType);
    return true;
}

void TfmMain::ListDevLinks()
{
    FDevLinks.clear();
    DIR *dir = ::opendir(SysPathBytes(QStringLiteral("/dev")).constData());
    if (!dir)
        return;
    while (const dirent *e = ::readdir(dir))
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN)
            FDevLinks.insert(QStringLiteral("/dev/") + QString::fromLocal8Bit(e->d_name));
    ::closedir(dir);
    FDevLinksKnown = true;
}

void TfmMain::RefreshDiskTree()
{
    SystemInfo->Refresh();
    ReadMtab();
    ListDevLinks();
    const auto forgetLinks = qScopeGuard([this] { FDevLinksKnown = false; });
    QTreeWidget *tree = ui->tvDev;
    // Filled unsorted and sorted once at the end: one sort instead of one per row.
    tree->setUpdatesEnabled(false);
    tree->setSortingEnabled(false);
    tree->clear();
    QList<QTreeWidgetItem *> nodes;
    QString mountPoint, fsType;
    const TDiskItems *disks = SystemInfo->Disks();
    for (int i = 0; i < disks->Count(); ++i) {
        const TDiskItem *disk = disks->GetItem(i);
        QStringList columns{disk->Name, disk->GetSizeText() + QLatin1Char(' ')};
        if (FindMount(disk->Name, mountPoint, fsType))
            columns << QString() << mountPoint << fsType;
        auto *node = new QTreeWidgetItem(columns);
        node->setTextAlignment(1, kSizeAlignment);
        const TVolItems *parts = disk->VolItems();
        for (int j = 0; j < parts->Count(); ++j) {
            const TVolItem *part = parts->GetItem(j);
            QStringList cols{part->Name, part->GetSizeText() + QLatin1Char(' '), QLatin1Char(' ') + part->GetTypeName()};
            if (FindMount(part->Name, mountPoint, fsType))
                cols << mountPoint << fsType;
            auto *child = new QTreeWidgetItem(node, cols);
            child->setTextAlignment(1, kSizeAlignment);
            child->setData(0, kPartNumberRole, part->PartitionNumber);
            child->setData(0, kPartTypeRole, part->PartitionType);
        }
        nodes << node;
    }
    tree->addTopLevelItems(nodes);
    tree->setSortingEnabled(true);
    tree->sortByColumn(0, Qt::AscendingOrder);
    tree->expandAll();
    tree->setUpdatesEnabled(true);
    ui->lbDev->clear();
    ApplyMdCreateRule();
}

bool TfmMain::DiskHasMountedPart(const QTreeWidgetItem *Node) const
{
    switch (Level(Node)) {
    case 1:
        return IsMounted(Node);
    case 0:
        for (int i = 0; i < Node->childCount(); ++i)
            if (DiskHasMountedPart(Node->child(i)))
                return true;
        return false;
    default:
        throw Exception(QStringLiteral("Internal Error: D001"));
    }
}

void TfmMain::tvDevChange()
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node) {
        for (QWidget *b : {ui->btnDiskPart, ui->btnFormatDevice, ui->btnMount, ui->btnUmount})
            b->setEnabled(false);
        return;
    }
    const bool disk = Level(node) == 0;
    ui->btnDiskPart->setEnabled(!OnArray(node));
    if (disk) {
        // A language without this text keeps the design caption.
        const QString caption = GetTranslation(QStringLiteral("fmMain"), QStringLiteral("btnDiskPart"));
        ui->btnDiskPart->setText(caption.isEmpty() ? QStringLiteral("分区") : caption);
    } else {
        ui->btnDiskPart->setText(GetLangStr(QStringLiteral("ParType"), QStringLiteral("分区类型")));
    }
    const bool array = IsArrayNode(node);
    ui->btnMdView->setEnabled(array);
    ui->btnMdDelete->setEnabled(array);
    if (array || (!disk && node->data(0, kPartTypeRole).toUInt() == 0x83)) {
        ui->btnMount->setEnabled(!IsMounted(node));
        ui->btnUmount->setEnabled(IsMounted(node));
        ui->btnFormatDevice->setEnabled(!IsMounted(node));
    } else {
        for (QWidget *b : {ui->btnMount, ui->btnUmount, ui->btnFormatDevice})
            b->setEnabled(false);
    }
}

void TfmMain::btnDiskRefreshClick() { RefreshDiskTree(); }

// ---- partitioning ---------------------------------------------------------------------

void TfmMain::btnDiskPartClick()
{
    ui->pmDiskPart->popup(ui->btnDiskPart->mapToGlobal(QPoint(0, ui->btnDiskPart->height())));
}

void TfmMain::miPartDataClick() { PartitionSelected(QStringLiteral("83")); }

void TfmMain::miPartMdClick() { PartitionSelected(QStringLiteral("fd")); }

void TfmMain::PartitionSelected(const QString &PartType)
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node)
        return;
    if (Level(node) == 0)
        PartitionDisk(PartType);
    else
        SetPartitionType(PartType);
}

void TfmMain::PartitionDisk(const QString &PartType)
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node)
        return;
    const QString disk = node->text(0);
    if (node->childCount() > 0
        && !AskYes(GetLangStr(QStringLiteral("PartExists"), QStringLiteral("这个磁盘已经存在分区了，确定要重新分区吗？"))))
        return;
    if (DiskHasMountedPart(node)) {
        ShowRefusal(Format(GetLangStr(QStringLiteral("CannotPart"), QStringLiteral("磁盘\"%s\"已经有分区被挂载，不能分区")),
                           {disk}));
        return;
    }
    if (!AskYes(GetLangStr(QStringLiteral("OptClearData"), QStringLiteral("分区将清除所有的数据，确定要继续吗？"))))
        return;
    WritePartTable(PartType);
    struct TRemoveScript {
        ~TRemoveScript() { ::unlink(SysPathBytes(kPartTable).constData()); }
    } removeScript;
    RunCommandFmt(QStringLiteral("sfdisk -q %s < %s"), {ShellArg(disk), ShellArg(SysPath(kPartTable))});
    RefreshDiskTree();
}

void TfmMain::SetPartitionType(const QString &PartType)
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node || !node->parent())
        return;
    if (DiskHasMountedPart(node)) {
        ShowRefusal(Format(GetLangStr(QStringLiteral("CannotPart"), QStringLiteral("磁盘\"%s\"已经有分区被挂载，不能分区")),
                           {node->text(0)}));
        return;
    }
    if (!AskYes(GetLangStr(QStringLiteral("OptClearData"),
                           QStringLiteral("重新设定分区类型可能会丢失数据，确定要继续吗？"))))
        return;
    RunCommandFmt(QStringLiteral("sfdisk -c %s %d %s"),
                  {ShellArg(node->parent()->text(0)), node->data(0, kPartNumberRole).toInt(), PartType});
    RefreshDiskTree();
}

// ---- software arrays ------------------------------------------------------------------

void TfmMain::ApplyMdCreateRule()
{
    ui->btnMdCreate->setEnabled(ui->lbDev->count() > 0 && ui->cmbMdList->currentIndex() >= 0);
}

void TfmMain::btnAddDevClick()
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node || OnArray(node))
        return;
    if (ui->lbDev->findItems(node->text(0), Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty())
        ui->lbDev->addItem(node->text(0));
    ApplyMdCreateRule();
}

void TfmMain::tvDevDblClick()
{
    const QTreeWidgetItem *node = SelectedNode();
    if (node && node->childCount() == 0)
        btnAddDevClick();
}

void TfmMain::btnRmDevClick()
{
    const int row = ListItemIndex(ui->lbDev);
    if (row < 0)
        return;
    delete ui->lbDev->takeItem(row);
    ApplyMdCreateRule();
}

void TfmMain::lbDevDblClick() { btnRmDevClick(); }

void TfmMain::cmbMdListChange() { ApplyMdCreateRule(); }

void TfmMain::btnMdCreateClick()
{
    QStringList names, words;
    for (int i = 0; i < ui->lbDev->count(); ++i) {
        names << ui->lbDev->item(i)->text();
        words << ShellArg(names.last());
    }
    const QString members = names.join(QLatin1Char(' ')).trimmed();
    const QString levelText = ui->cmbRAIDLevel->currentText();
    QString level;
    if (levelText == QLatin1String("RAID 0"))
        level = QStringLiteral("0");
    else if (levelText == QLatin1String("RAID 1"))
        level = QStringLiteral("1");
    else if (levelText == QLatin1String("RAID 5"))
        level = QStringLiteral("5");
    else
        throw Exception(QStringLiteral("bad RAID level"));
    const QString chunk = QString::number(StripeUnitKiB(ui->cmbBlock->currentIndex()));
    const QString array = ui->cmbMdList->currentText();
    const int count = ui->lbDev->count();
    // The array file records only what mdadm has made, and forgets only what
    // it has stopped: a failed command leaves it as it was.
    const QString create = count == 1 ? QStringLiteral("yes | mdadm -C %s -l %s -fn %d -c %s %s")
                                      : QStringLiteral("yes | mdadm -C %s -l %s -n %d -c %s %s");
    CheckRecordFiles({kMdConf});
    if (RunCommandFmt(create, {ShellArg(array), level, count, chunk, words.join(QLatin1Char(' '))}) == 0)
        StoreValue(kMdConf, ArrayKey(array), '"' + members.toLocal8Bit() + '"');
    RefreshDiskTree();
}

void TfmMain::btnMdDeleteClick()
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node)
        return;
    const QString array = node->text(0);
    CheckRecordFiles({kMdConf});
    if (RunCommandFmt(QStringLiteral("mdadm --stop %s"), {ShellArg(array)}) == 0)
        StoreValue(kMdConf, ArrayKey(array), {});
    RefreshDiskTree();
}

void TfmMain::btnMdViewClick()
{
    if (const QTreeWidgetItem *node = SelectedNode())
        RunCommandFmt(QStringLiteral("mdadm -D %s"), {ShellArg(node->text(0))});
}

// ---- XFS format and mounts ------------------------------------------------------------

QString TfmMain::GetAgSize(const QString &Dev) const
{
    TFileStream64 stream(SysPath(Dev), 0x30, 0);
    const qint64 mib = (stream.Size() / 2097152) * 2;   // truncates toward zero: -1 gives 0
    if (mib > 1048576)
        return QStringLiteral("268435184b");
    return QStringLiteral("%1m").arg(mib);
}

void TfmMain::GetMdMembers(int &Members) const
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node)
        return;
    const QString name = node->text(0).toLower();
    if (!name.contains(QLatin1String("/dev/md")))
        return;
    bool ok = false;
    const int number = name.mid(7).toInt(&ok, 10);
    const QString path = SysPath(kMdConf);
    if (!ok || !FileExists(path))
        return;
    const QByteArray value = ValueOf(LoadLineBytes(path), "md[" + QByteArray::number(number) + ']');
    if (value.isEmpty())
        return;
    // One line per blank-separated piece; a blank at the very end starts no line.
    int count = int(value.count(' ')) + 1;
    if (value.endsWith(' '))
        --count;
    Members = count > 0 ? count : 1;
}

void TfmMain::btnFormatDeviceClick()
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node)
        return;
    const QString dev = node->text(0);
    if (DiskHasMountedPart(node)) {
        ShowRefusal(QStringLiteral("分区\"%1\"已经挂载，不能格式化").arg(dev));
        return;
    }
    if (!AskYes(GetLangStr(QStringLiteral("OptClearData"), QStringLiteral("格式化将清除所有的数据，确定要继续吗？"))))
        return;
    QByteArray release;
    const QString releaseFile = SysPath(kReleaseFile);
    if (FileExists(releaseFile) && !ReadWholeFile(releaseFile, release)) {
        const int err = errno;
        throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2")
                              .arg(releaseFile, QString::fromLocal8Bit(std::strerror(err))));
    }
    while (!release.isEmpty() && uchar(release.back()) <= ' ')
        release.chop(1);
    while (!release.isEmpty() && uchar(release.front()) <= ' ')
        release.remove(0, 1);
    const int unit = StripeUnitKiB(ui->cmbBlock->currentIndex());
    // Byte order, as the release files of the system's own releases compare.
    const QString options = release < QByteArray("3.0")
                                ? QStringLiteral("-b size=4096 -l size=128m,version=2,sunit=128")
                                : QStringLiteral("-b size=4096 -l size=128m,lazy-count=1,version=2,sunit=128");
    int members = 1;
    GetMdMembers(members);
    RunCommandFmt(QStringLiteral("mkfs.xfs -f -i size=512 %s -d agsize=%s,sunit=%d,swidth=%d %s"),
                  {options, GetAgSize(dev), unit * 2, unit * 2 * members, ShellArg(dev)});
}

void TfmMain::btnMountClick()
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node)
        return;
    const QString dev = node->text(0);
    QString mountPoint = QStringLiteral("/mnt");
    if (!InputQuery(QStringLiteral("Mount"), QStringLiteral("Mount \"%1\" to...").arg(dev), mountPoint, this))
        return;
    // mount.conf and fstab hold one mount per line: a line break in the
    // mount point would split its record and could forge another. An empty
    // one would match every fstab line without a second field, and record
    // a mount on nothing.
    if (mountPoint.contains(QLatin1Char('\n')) || mountPoint.contains(QLatin1Char('\r')))
        throw Exception(QStringLiteral("The mount point must not contain a line break"));
    if (mountPoint.trimmed().isEmpty())
        throw Exception(QStringLiteral("The mount point must not be empty"));
    // What the tool records is what is mounted: a failed mount leaves
    // mount.conf and fstab as they were. fstab must exist.
    CheckRecordFiles({kMountConf});
    LoadLineBytes(SysPath(kFstab));
    if (RunCommandFmt(QStringLiteral("mount -o ") + kMountOptions + QStringLiteral(" %s %s"),
                      {ShellArg(dev), ShellArg(mountPoint)})
        == 0) {
        StoreValue(kMountConf, dev.toLocal8Bit(), (mountPoint + QStringLiteral(" xfs ") + kMountOptions).toLocal8Bit());
        const QString fstab = SysPath(kFstab);
        TLines lines = LoadLineBytes(fstab);
        DropFstabLines(lines, dev.toLocal8Bit(), mountPoint.toLocal8Bit());
        SaveLineBytes(fstab, lines);
    }
    RefreshDiskTree();
}

void TfmMain::btnUmountClick()
{
    const QTreeWidgetItem *node = SelectedNode();
    if (!node)
        return;
    const QString dev = node->text(0);
    CheckRecordFiles({kMountConf});
    if (RunCommandFmt(QStringLiteral("umount %s"), {ShellArg(dev)}) == 0)
        StoreValue(kMountConf, dev.toLocal8Bit(), {});
    RefreshDiskTree();
}
