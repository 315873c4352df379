// vkhostset: the server configuration tool. Nothing is taken from the command line.
#include "untMain.h"
#include "vkGuard.h"
#include "vkSysUtils.h"
#include "vkSystem.h"
#include "vkVariant.h"

#include <QPointer>

#include <mutex>

namespace {
// Two process-wide locks that live from start to exit; nothing takes them.
std::mutex g_toolLockA;
std::mutex g_toolLockB;
}

int main(int, char **argv)
{
    PrepareProcessStart();   // before anything opens a descriptor
    // The tool's library: failed opens reported on standard output, not raised.
    DebugToConsole = true;
    SetLibVariant(TLibVariant::Tool);
    TLibraryScope library;   // the library's units: started first, finished last
    // The toolkit would act on options of its own (-style, -platformpluginpath,
    // ...); a program run as root takes nothing from its command line.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    TGuardedApplication app(qtArgc, qtArgv);

    fmMain = new TfmMain();
    QPointer<TfmMain> window(fmMain);
    window->show();
    const int rc = app.exec();

    // The main window goes before the application object and the library.
    delete window.data();
    fmMain = nullptr;
    return rc;
}
