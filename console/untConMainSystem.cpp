// The main window's traffic-monitor button and its install, remote-debug and
// system pages: each hands its work to a system command.
#include "untConMain.h"
#include "ui_untConMain.h"

#include "untNetFlux.h"
#include "untSelSpeed.h"
#include "vkCmdUtils.h"
#include "vkDialogs.h"
#include "vkGuard.h"
#include "vkSysUtils.h"
#include "vkSystem.h"

void TfmConMain::ConnectSystemPages()
{
    auto click = [this](QAbstractButton *Button, void (TfmConMain::*Handler)()) {
        connect(Button, &QAbstractButton::clicked, this, Guard(this, Handler));
    };
    click(ui->btnNicMon, &TfmConMain::btnNicMonClick);
    click(ui->SpeedButton1, &TfmConMain::SpeedButton1Click);
    connect(ui->Edit3, &QLineEdit::textChanged, this, Guard(this, &TfmConMain::Edit3Change));
    click(ui->btnInst, &TfmConMain::btnInstClick);
    click(ui->btnRdebug, &TfmConMain::btnRdebugClick);
    click(ui->chgAmdinPass, &TfmConMain::chgAmdinPassClick);
    click(ui->chgRemotePass, &TfmConMain::chgRemotePassClick);
    click(ui->btnShutDown, &TfmConMain::btnShutDownClick);
    click(ui->btnReboot, &TfmConMain::btnRebootClick);
}

void DestroyNicMonitor()
{
    delete fmNicStat;
    fmNicStat = nullptr;
}

// ---- traffic monitor -------------------------------------------------------------

void TfmConMain::btnNicMonClick()
{
    // The speed is asked once, before the first opening; a cancel asks again
    // at the next click.
    if (!fmNicStat && SelectSpeed())
        fmNicStat = new TfmNicStat();
    if (fmNicStat) {
        fmNicStat->show();
        fmNicStat->raise();
        fmNicStat->activateWindow();
    }
}

// ---- install page ----------------------------------------------------------------

void TfmConMain::SpeedButton1Click()
{
    OpenDialog1.InitialDir = QStringLiteral("/root");
    if (OpenDialog1.Execute(this))
        ui->Edit3->setText(OpenDialog1.FileName);
}

void TfmConMain::Edit3Change()
{
    ui->btnInst->setEnabled(!ui->Edit3->text().isEmpty());
}

void TfmConMain::btnInstClick()
{
    if (TrimCtl(ui->Edit3->text()).isEmpty()) {
        MessageDlg(ui->lblInstTitle->text(), TMsgDlgType::Error, mbYes, this);
        return;
    }
    // The path is one word to the shell, whatever its characters: a blank
    // does not split it and a ";" or "$(" in a file name runs nothing.
    RunShell(QStringLiteral("xterm -e sh ") + ShellQuote(ui->Edit3->text()));
}

// ---- remote-debug page -------------------------------------------------------------

void TfmConMain::btnRdebugClick()
{
    const QString server = ui->edtDebugServer->text();
    if (TrimCtl(server).isEmpty()) {
        MessageDlg(QStringLiteral("Remote Debug Server IP is Empty."), TMsgDlgType::Error, mbYes, this);
        return;
    }

    // This server's addresses as they were read at start, for the engineer's title bar.
    QString addresses;
    if (const TNICs *nics = SystemInfo ? SystemInfo->NICs() : nullptr) {
        for (int i = 0; i < nics->Count(); ++i) {
            const TNIC *nic = nics->Items(i);
            if (!nic || nic->IsLoopback)
                continue;
            const QString ip = nic->GetIPText();
            if (ip != QLatin1String("0.0.0.0"))
                addresses += QLatin1Char('/') + ip;
        }
    }
    if (!addresses.isEmpty())
        addresses.remove(0, 1);

    // The display is typed text and goes in as one quoted word; the terminal
    // text names the program the administrator chose and stays a command line.
    const QString display = ShellQuote(server);
    const QString terminal = ui->cmbTerminal->currentText();
    QString command;
    if (terminal.compare(QLatin1String("xterm"), Qt::CaseInsensitive) == 0)
        command = QStringLiteral("DISPLAY=") + display
                  + QStringLiteral(" LC_CTYPE=en_US xterm -title \"Remote Debug --- ") + addresses
                  + QStringLiteral("\" &");
    else
        command = QStringLiteral("DISPLAY=") + display + QStringLiteral(" LC_CTYPE=en_US ") + terminal
                  + QStringLiteral(" &");
    RunShell(command);
    MessageDlg(QStringLiteral("Please contact with Remote Administrator!"), TMsgDlgType::Information, mbYes,
               this);
}

// ---- system page -------------------------------------------------------------------

void TfmConMain::chgAmdinPassClick()
{
    RunShell(QStringLiteral("xterm -e passwd"));
}

void TfmConMain::chgRemotePassClick()
{
    RunShell(QStringLiteral("xterm -e vncpasswd"));
}

void TfmConMain::btnShutDownClick()
{
    if (MessageDlg(QStringLiteral("Confirm to Shutdown the Server?"), TMsgDlgType::Warning, mbYes | mbNo, this)
        != mrYes)
        return;
    RunShell(QStringLiteral("halt &"));
    close();
}

void TfmConMain::btnRebootClick()
{
    if (MessageDlg(QStringLiteral("Confirm to Reboot the Server?"), TMsgDlgType::Warning, mbYes | mbNo, this)
        != mrYes)
        return;
    RunShell(QStringLiteral("reboot &"));
    close();
}
