#pragma once
// Network interfaces, the bonding file and the host name.
#include <QString>
#include <array>
#include <cstdint>
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
    TNIC *FindNIC(const QString &Name, bool AutoAdd);
    void Refresh();                 // EInOutError when /proc/net/dev cannot be read

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
