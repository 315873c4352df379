// vkpanel: the server console. Nothing is taken from the command line.
#include "untConMain.h"
#include "vkGuard.h"
#include "vkSystem.h"
#include "vkVariant.h"

#include <QPointer>

int main(int argc, char **argv)
{
    SetLibVariant(TLibVariant::Console);
    TLibraryScope library;   // the library's units: started first, finished last
    TGuardedApplication app(argc, argv);

    fmConMain = new TfmConMain();
    QPointer<TfmConMain> window(fmConMain);
    window->show();
    const int rc = app.exec();

    // The main window goes before the application object and the library.
    delete window.data();
    fmConMain = nullptr;
    return rc;
}
