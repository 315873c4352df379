#pragma once
// The console's main window: a navigation list of pages on the left and the
// chosen page on the right (network, bonding, disks, devices, drivers,
// install, remote debug, services, boot and I/O managers, system).
#include "vkCmdUtils.h"
#include "vkFormUtils.h"

#include <QWidget>
#include <memory>

namespace Ui {
class TfmConMain;
}
class QLabel;
class QPainter;
class TDiskItem;
class TNIC;
class TNICs;

class TfmConMain : public QWidget {
    Q_OBJECT
public:
    explicit TfmConMain(QWidget *Owner = nullptr);
    ~TfmConMain() override;

    // The window definition's components, reachable by name as the
    // runtime's published components are.
    Ui::TfmConMain *const ui;
    // The install page's file dialog (a component without a widget).
    TOpenDialog OpenDialog1;

    // ---- start-up and navigation
    void FillDebugNote();
    void FormCreate();
    bool IsPageEnabled(const QString &PageName) const;
    void listboxFuncDrawItem(QPainter *Canvas, int Index, const QRect &Rect, unsigned State,
                             bool &Handled);
    void listboxFuncClick();
    void btnOKClick();
    void FormClose();

    // ---- network and bonding pages
    void RefreshNicList();
    void ShowNicInfo(const TNIC *Nic);
    void lbNicListClick();
    void btnNicDetailClick();
    void RestoreBonding();
    void chkEnableBoundClick();
    void btnSetBoundClick();
    // The window's own interface list; empty before FormCreate and after closing.
    TNICs *NICs() const { return FNICs.get(); }

    // ---- disk, device and module pages
    void LoadDiskList();
    void lbDiskListClick();
    void ShowPartitions(const TDiskItem *Disk);
    void LoadPciTree();
    void LoadModuleList();

    // ---- service pages
    using TRefreshProc = void (TfmConMain::*)();
    void UpdateServiceState(const QString &ExePath, const QString &PidFile, const QString &Caption,
                            QLabel *StateLabel, QWidget *StartButton, QWidget *StopButton,
                            QWidget *ManagerButton, QWidget *CloseButton);
    void RefreshFyrMeState();
    void RefreshFyrXpState();
    void RefreshFyq5State();
    void RefreshKelvaskState();
    void ServiceCommand(const QString &ExePath, bool Start, TRefreshProc Refresh);
    void RunManager(const QString &ExePath, TRefreshProc Refresh);
    void CloseManager(const QString &Question, const QString &Command);

    void btnFyrStartClick();
    void btnFyrStopClick();
    void btnFyqStartClick();
    void btnFyqStopClick();
    void btnKVStartClick();
    void btnKVStopClick();
    void btnFyrManClick();
    void btnFyqManClick();
    void btnKVManClick();
    void btnFyq5BootMgrClick();
    void btnFyq5IOMgrClick();
    void btnKillFyqManClick();
    void btnKillFyq5BootMgrClick();
    void btnKillFyq5IoMgrClick();

    // ---- traffic monitor, install, remote debug and system pages
    void btnNicMonClick();
    void SpeedButton1Click();
    void Edit3Change();
    void btnInstClick();
    void btnRdebugClick();
    void chgAmdinPassClick();
    void chgRemotePassClick();
    void btnShutDownClick();
    void btnRebootClick();

protected:
    void closeEvent(QCloseEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;

private:
    void ConnectHandlers();
    void ConnectSystemPages();

    std::unique_ptr<TNICs> FNICs;
    // The device listing, started before the window is built so that it runs
    // meanwhile; the first LoadPciTree reads it.
    std::unique_ptr<TCmdOutputAhead> FPciListing;
};

// The one main window of the console.
extern TfmConMain *fmConMain;

// Ends the traffic monitor, when there is one (with the console's main window).
void DestroyNicMonitor();
