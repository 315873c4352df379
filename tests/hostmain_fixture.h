#pragma once
// A scratch server for driving the configuration tool's main window: a
// program directory for vkhostset.ini and modinfo.ini, the pseudo-files the
// window reads, a kernel module directory, and recording stand-ins on PATH.
// Nothing is there unless a test puts it there: no disks, no mount table, no
// modules file, no modules. Command windows close themselves once their
// command has ended; every run is kept in `runs`.
#include "testutil.h"
#include "untMain.h"
#include "untRunCmd.h"
#include "untSelModule.h"
#include "vkLangUtils.h"
#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkSystem.h"
#include "vkVariant.h"

#include <QCoreApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>

struct TRunRecord {
    QString Command;   // the full line, with its " 2>&1"
    QString Output;    // the memo's text, status lines included
};

class HostScratch {
public:
    ScratchRoot root;
    StandIns tools;
    DialogRecorder dialogs;
    QList<TRunRecord> runs;

    HostScratch()
    {
        if (!SystemInfo)
            FLibrary = std::make_unique<TLibraryScope>();
        SetLibVariant(TLibVariant::Tool);
        SetAppFileNameForTesting(root.path(QStringLiteral("/opt/vkhostset/vkhostset")));
        root.mkdir(QStringLiteral("/opt/vkhostset"));
        ResetLanguageForTesting();
        root.write(QStringLiteral("/proc/partitions"), "major minor  #blocks  name\n\n");
        root.write(QStringLiteral("/proc/net/dev"),
                   "Inter-|   Receive                            |  Transmit\n"
                   " face |bytes    packets errs drop fifo frame compressed multicast|"
                   "bytes    packets errs drop fifo colls carrier compressed\n");
        tools.addRecorder(QStringLiteral("modprobe"));
        SetRunCommandHook([this](const QString &Command, const QString &Output) {
            runs.append({Command, Output});
        });
    }
    ~HostScratch()
    {
        SetRunCommandHook(nullptr);
        SetSelectModuleHook(nullptr);
        SetAppFileNameForTesting(QString());
        ResetLanguageForTesting();
        SetLibVariant(TLibVariant::Console);
    }

    // The kernel's module directory as the window names it ("/lib/modules/<release>").
    static QString modulesDir() { return TfmMain::GetModulesDir(); }
    // An empty module file at a path below the module directory
    // ("kernel/drivers/net/e1000/e1000.ko").
    void module(const QString &relPath) const { root.write(modulesDir() + QLatin1Char('/') + relPath, {}); }
    void modulesConf(const QByteArray &text) const { root.write(QStringLiteral("/etc/velkora/modules.conf"), text); }
    QByteArray modulesConf() const { return root.read(QStringLiteral("/etc/velkora/modules.conf")); }
    void programFile(const QString &name, const QByteArray &text) const
    {
        root.write(QStringLiteral("/opt/vkhostset/") + name, text);
    }
    void mtab(const QByteArray &text) const { root.write(QStringLiteral("/etc/mtab"), text); }

    // From now on every driver chooser picks the row of this module and
    // presses OK (an empty name: presses Cancel). Each chooser is handed to
    // `inspect` first when given.
    void choose(const QString &module, std::function<void(TfmSelModule *)> inspect = {})
    {
        SetSelectModuleHook([module, inspect](TfmSelModule *d) {
            if (inspect)
                inspect(d);
            if (module.isEmpty()) {
                d->btnCancel->click();
                return;
            }
            const auto rows = d->lbModules->findItems(module, Qt::MatchExactly, 0);
            if (!rows.isEmpty())
                d->lbModules->setCurrentItem(rows.first());
            d->btnOK->click();
        });
    }

    // The window as the program builds it, after the event loop delivered
    // what construction queued.
    std::unique_ptr<TfmMain> open() const
    {
        auto w = std::make_unique<TfmMain>();
        QCoreApplication::processEvents();
        return w;
    }

private:
    std::unique_ptr<TLibraryScope> FLibrary;
};
