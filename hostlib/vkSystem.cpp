#include "vkSystem.h"

TSystem *SystemInfo = nullptr;

TSystem::TSystem()
    : FDisks(std::make_unique<TDiskItems>()), FNICs(std::make_unique<TNICs>())
{
}

TSystem::~TSystem()
{
    // Interfaces first, then the disks with their partitions.
    FNICs.reset();
    FDisks.reset();
}

void TSystem::Refresh()
{
    // An exception from the disks leaves the interfaces as they were.
    FDisks->Refresh();
    FNICs->Refresh();
}

TLibraryScope::TLibraryScope()
{
    // Both lists stay empty until the first Refresh.
    delete SystemInfo;
    SystemInfo = new TSystem;
}

TLibraryScope::~TLibraryScope()
{
    delete SystemInfo;
    SystemInfo = nullptr;
}
