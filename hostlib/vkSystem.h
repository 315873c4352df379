#pragma once
#include "vkDskUtils.h"
#include "vkSocket.h"

class TSystem {
public:
    TSystem();
    ~TSystem();
    TSystem(const TSystem &) = delete;
    TSystem &operator=(const TSystem &) = delete;

    TDiskItems *Disks() const { return FDisks.get(); }
    TNICs *NICs() const { return FNICs.get(); }
    // Disks, then interfaces. An error of the disk refresh is raised after
    // the interfaces have been read too.
    void Refresh();

private:
    std::unique_ptr<TDiskItems> FDisks;
    std::unique_ptr<TNICs> FNICs;
};

// The one global system object: created by the library's start (see
// TLibraryScope), nullptr before and after.
extern TSystem *SystemInfo;

// The library's start and end, in the order the programs need: created first
// thing in main(), destroyed after the event loop.
class TLibraryScope {
public:
    TLibraryScope();
    ~TLibraryScope();
};
