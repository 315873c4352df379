#include "vkSystem.h"

#include <exception>

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
    // A fault in the disks says nothing about the interfaces: they are read
    // all the same, and the disks' error goes on to the caller afterwards
    // (before any error of the interfaces, which it outranks).
    std::exception_ptr diskError;
    try {
        FDisks->Refresh();
    } catch (...) {
        diskError = std::current_exception();
    }
    if (!diskError) {
        FNICs->Refresh();
        return;
    }
    try {
        FNICs->Refresh();
    } catch (...) {
    }
    std::rethrow_exception(diskError);
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
