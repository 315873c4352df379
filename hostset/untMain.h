#pragma once
// The configuration tool's main window: the drivers tab (the boot-time
// driver list in /etc/velkora/modules.conf) and the disks tab (disk tree,
// partitioning, software arrays, XFS format and mounts).
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

namespace Ui {
class TfmMain;
}
class QListWidgetItem;
class QTreeWidgetItem;

class TfmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfmMain(QWidget *Owner = nullptr);
    ~TfmMain() override;

    // The window definition's components, reachable by name as the
    // runtime's published components are.
    Ui::TfmMain *const ui;

    // Working lists, filled by FormCreate. The two module lists are sorted
    // ignoring case and hold each name once, whatever its case.
    QStringList NetModules;
    QStringList ScsiModules;
    QStringList MtabLines;   // the mount table as last read, in file order

    // ---- start-up
    void FormCreate();
    // "/lib/modules/<release>"; the release part is empty when uname fails.
    static QString GetModulesDir();
    // Adds to List every non-directory name below Dir, without its last
    // extension. A symbolic link to a directory is neither followed nor
    // listed; a link to anything else is listed by its own name.
    static void ScanModules(const QString &Dir, QStringList &List);

    // ---- drivers tab
    // Fills the list from modules.conf and notes what it came from. A read
    // that fails in any way leaves the list empty and guarded, and raises.
    void LoadModules();
    void btnModuleAddClick();
    void menuNICClick();
    void menuDiskClick();
    bool ModuleListed(const QString &Name) const;
    void btnModuleEditClick();
    void lbModulesDblClick();
    void btnModuleDelClick();
    void btnModuleInsertClick();
    void lbModulesClick();
    void btnModuleUpClick();
    void btnModuleDownClick();

    // ==== disks tab ==========================================================
    // Defined in untMainDisks.cpp, together with ConnectDisksTab, which wires
    // the tab's signals and is called once by the constructor.
    void ConnectDisksTab();
    // Mount table and disk tree. A node's text is its device path; a node is
    // mounted when it has more than two sub-items (columns after the first).
    void ReadMtab();
    // The first line of MtabLines whose device is Dev, else the first whose
    // device is the target of Dev when Dev is a symbolic link (one level).
    bool FindMount(const QString &Dev, QString &MountPoint, QString &FsType) const;
    void RefreshDiskTree();
    // Raises "Internal Error: D001" for a node below the partition level.
    bool DiskHasMountedPart(const QTreeWidgetItem *Node) const;
    void tvDevChange();
    void btnDiskRefreshClick();
    // Partitioning
    void btnDiskPartClick();
    void miPartDataClick();
    void miPartMdClick();
    void PartitionDisk(const QString &PartType);
    void SetPartitionType(const QString &PartType);
    // Software arrays
    void btnAddDevClick();
    void tvDevDblClick();
    void btnRmDevClick();
    void lbDevDblClick();
    void cmbMdListChange();
    void btnMdCreateClick();
    void btnMdDeleteClick();
    void btnMdViewClick();
    // XFS format and mounts
    QString GetAgSize(const QString &Dev) const;
    void GetMdMembers(int &Members) const;
    void btnFormatDeviceClick();
    void btnMountClick();
    void btnUmountClick();
    // Test seam: called when /tmp/parttable has just been removed and is
    // not yet made again, where a planted file would have to be refused.
    static void SetPartTableGapHookForTesting(std::function<void()> Hook);
    // Test seam: called with modules.conf's bytes once they are read, before
    // the list is filled from them; what it raises fails the load.
    static void SetModulesLoadHookForTesting(std::function<void(const QByteArray &Text)> Hook);

private:
    QTreeWidgetItem *SelectedNode() const;
    // A disk node: one partition of the type over it; a partition node: its new type.
    void PartitionSelected(const QString &PartType);
    void ApplyMdCreateRule();
    // MtabLines indexed by device: each device's first line. Rebuilt when
    // MtabLines is no longer the list it was built from.
    int MtabLineOf(const QString &Dev) const;
    mutable QStringList FMtabIndexed;
    mutable QHash<QString, int> FMtabIndex;
    // While a rebuild looks its nodes up: the links directly in /dev, from
    // one listing, so that a device that is no link needs no call of its own.
    void ListDevLinks();
    bool FDevLinksKnown = false;
    QSet<QString> FDevLinks;

public:
    // ==== end of disks tab ===================================================

private:
    void ConnectHandlers();
    void AddModule(const QStringList &Offered);
    // Writes the list over modules.conf, but only over the bytes it came
    // from: a file another program changed meanwhile is left as it is, the
    // list is read again, and an error says so.
    void SaveModules();
    // Why modules.conf, which exists, could not be read into the list; empty
    // when the list is the file's. The list then did not come from the file
    // and must never be written over it: every change raises the error
    // again instead (CheckModulesRead).
    QString FModulesUnread;
    void CheckModulesRead() const;
    // What the list was read from, or last saved as: the file's bytes, or
    // its absence.
    QByteArray FModulesText;
    bool FModulesAbsent = true;
    // The line's bytes: as read from the file unless it was edited.
    static QByteArray ModuleLineBytes(const QListWidgetItem *Item);
};

// The one main window of the tool.
extern TfmMain *fmMain;
