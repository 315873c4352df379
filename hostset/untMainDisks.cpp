// The disks tab of the main window: disk tree and mount state,
// partitioning, software arrays, XFS format and mounts.
#include "untMain.h"
#include "ui_untMain.h"

#include "untRunCmd.h"
#include "vkCmdUtils.h"
#include "vkDskUtils.h"
#include "vkGuard.h"
#include "vkPaths.h"
#include "vkSystem.h"

#include <QTreeWidget>

#include <cstdio>
#include <cstring>

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
    connect(ui->tvDev, &QTreeWidget::itemDoubleClicked, this, Guard(this, &TfmMain::tvDevDblClick));
    connect(ui->lbDev, &QListWidget::itemDoubleClicked, this, Guard(this, &TfmMain::lbDevDblClick));
    connect(ui->cmbMdList, &QComboBox::currentIndexChanged, this, Guard(this, &TfmMain::cmbMdListChange));
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

bool TfmMain::FindMount(const QString &Dev, QString &MountPoint, QString &FsType) const
{
    for (const QString &line : MtabLines) {
        QString rest = line;
        QString device;
        CutToken(rest, QLatin1Char(' '), device);
        if (device != Dev)
            continue;
        CutToken(rest, QLatin1Char(' '), MountPoint);
        CutToken(rest, QLatin1Char(' '), FsType);
        return true;
    }
    return false;
}

void TfmMain::RefreshDiskTree()
{
    SystemInfo->Refresh();
    ReadMtab();
    QTreeWidget *tree = ui->tvDev;
    tree->setUpdatesEnabled(false);
    tree->clear();
    const TDiskItems *disks = SystemInfo->Disks();
    for (int i = 0; i < disks->Count(); ++i) {
        const TDiskItem *disk = disks->GetItem(i);
        auto *node = new QTreeWidgetItem(tree, QStringList{disk->Name, disk->GetSizeText() + QLatin1Char(' ')});
        QString mountPoint, fsType;
        if (FindMount(disk->Name, mountPoint, fsType)) {
            node->setText(3, mountPoint);
            node->setText(4, fsType);
        }
        const TVolItems *parts = disk->VolItems();
        for (int j = 0; j < parts->Count(); ++j) {
            const TVolItem *part = parts->GetItem(j);
            auto *child = new QTreeWidgetItem(node, QStringList{part->Name, part->GetSizeText() + QLatin1Char(' '),
                                                                 QLatin1Char(' ') + part->GetTypeName()});
            if (FindMount(part->Name, mountPoint, fsType)) {
                child->setText(3, mountPoint);
                child->setText(4, fsType);
            }
        }
    }
    tree->expandAll();
    tree->setUpdatesEnabled(true);
    ui->lbDev->clear();
}

bool TfmMain::DiskHasMountedPart(const QTreeWidgetItem *Node) const { return false; }

void TfmMain::tvDevChange() {}

void TfmMain::btnDiskRefreshClick() { RefreshDiskTree(); }

// ---- partitioning ---------------------------------------------------------------------

void TfmMain::btnDiskPartClick() {}
void TfmMain::miPartDataClick() {}
void TfmMain::miPartMdClick() {}
void TfmMain::PartitionDisk(const QString &PartType) {}
void TfmMain::SetPartitionType(const QString &PartType) {}

// ---- software arrays ------------------------------------------------------------------

void TfmMain::btnAddDevClick() {}
void TfmMain::tvDevDblClick() {}
void TfmMain::btnRmDevClick() {}
void TfmMain::lbDevDblClick() {}
void TfmMain::cmbMdListChange() {}
void TfmMain::btnMdCreateClick() {}
void TfmMain::btnMdDeleteClick() {}
void TfmMain::btnMdViewClick() {}

// ---- XFS format and mounts ------------------------------------------------------------

QString TfmMain::GetAgSize(const QString &Dev) const { return QString(); }
void TfmMain::GetMdMembers(int &Members) const {}
void TfmMain::btnFormatDeviceClick() {}
void TfmMain::btnMountClick() {}
void TfmMain::btnUmountClick() {}
