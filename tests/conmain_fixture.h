#pragma once
// A scratch server for driving the console's main window: a program
// directory for vkpanel.ini, the pseudo-files the window reads, and
// recording stand-ins for the tools it runs. Nothing is there unless a test
// puts it there: no disks, no modules file, no service programs, no lspci
// output, and only the interfaces this machine has addresses on.
#include "testutil.h"
#include "untConMain.h"
#include "untMsg.h"
#include "vkLangUtils.h"
#include "vkPaths.h"
#include "vkSystem.h"

#include <QCoreApplication>
#include <QListWidget>
#include <QTest>
#include <memory>

class ConsoleScratch {
public:
    ScratchRoot root;
    StandIns tools;
    DialogRecorder dialogs;

    ConsoleScratch()
    {
        SetAppFileNameForTesting(root.path(QStringLiteral("/opt/vkpanel/vkpanel")));
        root.mkdir(QStringLiteral("/opt/vkpanel"));
        ResetLanguageForTesting();
        netDev({});
        tools.addRecorder(QStringLiteral("lspci"));
        tools.addRecorder(QStringLiteral("ethtool"));
        tools.addRecorder(QStringLiteral("killall"));
    }
    ~ConsoleScratch()
    {
        SetMessageWindowHook(nullptr);
        SetAppFileNameForTesting(QString());
        ResetLanguageForTesting();
    }

    void ini(const QByteArray &text) const { root.write(QStringLiteral("/opt/vkpanel/vkpanel.ini"), text); }

    // /proc/net/dev naming these interfaces (all counters zero).
    void netDev(const QStringList &names) const
    {
        QByteArray text = "Inter-|   Receive                            |  Transmit\n"
                          " face |bytes    packets errs drop fifo frame compressed multicast|"
                          "bytes    packets errs drop fifo colls carrier compressed\n";
        for (const QString &n : names)
            text += "  " + n.toUtf8() + ":       0       0    0    0    0     0          0         0"
                    "        0       0    0    0    0     0       0          0\n";
        root.write(QStringLiteral("/proc/net/dev"), text);
    }

    // The window as the program builds it, after the event loop delivered
    // what construction queued.
    std::unique_ptr<TfmConMain> open() const
    {
        auto w = std::make_unique<TfmConMain>();
        QCoreApplication::processEvents();
        return w;
    }
};
