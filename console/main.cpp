// vkpanel: the server console. Nothing is taken from the command line.
#include "untConMain.h"
#include "vkGuard.h"
#include "vkSysUtils.h"
#include "vkSystem.h"
#include "vkVariant.h"

#include <QPointer>

int main(int, char **argv)
{
    PrepareProcessStart();   // before anything opens a descriptor
    SetLibVariant(TLibVariant::Console);
    TLibraryScope library;   // the library's units: started first, finished last
    // The toolkit would act on options of its own (-style, -platformpluginpath,
    // ...); a program run as root takes nothing from its command line.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    TGuardedApplication app(qtArgc, qtArgv);

    fmConMain = new TfmConMain();
    QPointer<TfmConMain> window(fmConMain);
    window->show();
    const int rc = app.exec();

    // The main window goes before the application object and the library.
    delete window.data();
    fmConMain = nullptr;
    return rc;
}
