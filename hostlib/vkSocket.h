#pragma once
// Network interfaces, the bonding file and the host name.
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TNIC {
public:
    QString Name;
    int32_t IfIndex = 0;
    std::array<uint8_t, 6> MAC{};
    uint32_t Addr = 0;   // IPv4, network byte order
    uint32_t Mask = 0;   // IPv4, network byte order
    bool IsLoopback = false;
    bool IsUp = false;
    bool IsRunning = false;
    bool IsMaster = false;
    bool IsSlave = false;

    QString GetIPText() const;   // dotted decimal of Addr, as inet_ntoa forms it
};

// Owns its entries; a TNIC* taken from it is valid until the next Clear,
// Refresh or destruction.
class TNICs {
public:
    TNICs() = default;
    ~TNICs() { Clear(); }
    TNICs(const TNICs &) = delete;
    TNICs &operator=(const TNICs &) = delete;

    void Clear();
    int Count() const { return int(FItems.size()); }
    TNIC *Items(int Index) const;   // nullptr outside 0..Count-1
    // First entry whose Name equals Name with ASCII letters folded; with
    // AutoAdd a missing name is appended as a zeroed entry.
    TNIC *FindNIC(const QString &Name, bool AutoAdd);
    // Names from /proc/net/dev, then every IPv4-addressed interface the
    // kernel enumerates on a datagram socket, with mask, flags, index and
    // MAC. EInOutError when /proc/net/dev exists but cannot be read.
    // The configuration tool's build keeps the entries it has and drops the
    // old ones whose index was not read again.
    void Refresh();

private:
    std::vector<std::unique_ptr<TNIC>> FItems;
};

struct TBondInfo {
    QString Device;
    QString Slaves;
    QString IP;
    QString Mask;
    QString Gateway;
};

// False when /etc/velkora/bond.conf does not exist (Info untouched);
// EFOpenError("Cannot open file %s") when it exists but cannot be read.
bool ReadBondConfig(TBondInfo &Info);
// Replaces /etc/velkora/bond.conf; EFCreateError("Cannot create file %s").
bool WriteBondConfig(const TBondInfo &Info);
QString GetLocalHostName();

// An interface request (SIOCGIF...) to the kernel: ioctl(2), or the stand-in
// kernel that a test has set.
int NicIoctl(int Fd, unsigned long Request, void *Arg);

// --- test seam ---------------------------------------------------------------
// Replaces ioctl(2) for the interface requests (TNICs::Refresh, the traffic
// monitor's flag query: a stand-in kernel); an empty function restores the
// real call.
using TNicIoctl = std::function<int(int Fd, unsigned long Request, void *Arg)>;
void SetNicIoctlForTesting(TNicIoctl Fn);
