#pragma once
// The in-memory picture of the host's disks and partitions, and the
// partition-table reader that fills it.
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Copy protocol of the model: Assign from an unrelated class fails with
// EConvertError("Cannot assign a <source> to a <target>").
class TPersistent {
public:
    virtual ~TPersistent() = default;
    virtual const char *ClassName() const = 0;
    virtual void Assign(const TPersistent &Source);
};

class TVolItems;
class TDiskItems;

// An ordered collection that owns its items; TSelf is the collection class,
// which each item receives at construction. Items stay valid until the next
// Clear, Assign or the collection's destruction.
template <class TItem, class TSelf>
class TOwnedCollection {
public:
    TItem *Add()
    {
        FItems.push_back(std::make_unique<TItem>(static_cast<TSelf *>(this)));
        return FItems.back().get();
    }
    int Count() const { return int(FItems.size()); }
    TItem *GetItem(int Index) const   // nullptr outside the range
    {
        return Index < 0 || Index >= Count() ? nullptr : FItems[size_t(Index)].get();
    }
    void Clear() { FItems.clear(); }
    // New copies of the source's items; made aside first, so a failure
    // leaves this collection as it was.
    void Assign(const TSelf &Source)
    {
        if (&Source == this)
            return;
        const TOwnedCollection &from = Source;
        std::vector<std::unique_ptr<TItem>> copies;
        copies.reserve(from.FItems.size());
        for (const auto &item : from.FItems) {
            copies.push_back(std::make_unique<TItem>(static_cast<TSelf *>(this)));
            copies.back()->Assign(*item);
        }
        FItems.swap(copies);
    }

private:
    std::vector<std::unique_ptr<TItem>> FItems;
};

class TVolItem : public TPersistent {
public:
    explicit TVolItem(TVolItems *Collection) : FCollection(Collection) {}
    const char *ClassName() const override { return "TVolItem"; }
    void Assign(const TPersistent &Source) override;
    TVolItems *Collection() const { return FCollection; }

    QString Name;
    int64_t StartingOffset = 0;
    int64_t PartitionLength = 0;
    uint32_t HiddenSectors = 0;
    uint32_t PartitionNumber = 0;
    uint8_t PartitionType = 0;
    bool BootIndicator = false;
    bool RecognizedPartition = false;
    bool RewritePartition = false;
    QString RootName;
    QString VolName;
    QString MountVolName;

    int64_t GetSize() const { return PartitionLength; }
    QString GetSizeText() const;
    QString GetTypeName() const;

private:
    TVolItems *FCollection;
};

class TDiskItem;

class TVolItems : public TOwnedCollection<TVolItem, TVolItems> {
public:
    explicit TVolItems(TDiskItem *Owner) : FOwner(Owner) {}
    TDiskItem *Owner() const { return FOwner; }

private:
    TDiskItem *FOwner;
};

class TDiskItem : public TPersistent {
public:
    explicit TDiskItem(TDiskItems *Collection);
    const char *ClassName() const override { return "TDiskItem"; }
    void Assign(const TPersistent &Source) override;
    TDiskItems *Collection() const { return FCollection; }

    QString Name;          // "/dev/sda"
    int64_t Size = 0;      // bytes
    uint32_t PartitionCount = 0;
    uint32_t Signature = 0;
    int32_t Product = 0;
    int32_t LunType = 0;
    QString DiskStr;
    TVolItems *VolItems() const { return FVolItems.get(); }
    uint32_t Setting = 0;
    QString PartStr;
    QString WriteDrv;
    int32_t DiskIp = 0;
    int32_t DiskIndex = 0;
    // Only the configuration tool's build declares these; carried, never read.
    uint32_t DiskVersion = 0;
    QString HostName;

    QString GetSizeText() const;

private:
    TDiskItems *FCollection;
    std::unique_ptr<TVolItems> FVolItems;
};

// Owns its disks; a disk or partition pointer stays valid until the next
// Clear, Refresh or destruction.
class TDiskItems : public TOwnedCollection<TDiskItem, TDiskItems> {
public:
    // Rebuilds from /proc/partitions and each disk's partition table. A disk
    // that cannot be opened keeps no partitions; in the console it keeps its
    // listed size, every other disk is still read, and then one exception
    // carries the open error of each such disk, one line apiece. The tool
    // raises nothing and lists such a disk with Size -1.
    void Refresh();
    // The first half of Refresh: appends one disk per whole disk of at least
    // 32 MiB listed in /proc/partitions, its Size the listed blocks x 1024.
    // A block count that is no integer raises EConvertError; the disks
    // appended before it stay.
    void ScanKernelDisks();
};

QString GetPartTypeName(uint8_t PartType);
QString FormatDiskSize(int64_t Bytes);
bool IsWholeDiskName(const QString &Name);
// Sets Disk->Size (bytes) and appends its partitions.
void ReadPartitionTable(TDiskItem *Disk);

// The parsing core, free of any file: readSector(sector, buf) fills 512 bytes
// and answers whether all of them arrived. Used by ReadPartitionTable, the
// tests and the fuzzer.
//
// Primary partitions come first in slot order (numbers 1-4), then the logical
// ones in chain order (5 upward). The chain of extended boot records ends at
// a record that is short or unsigned, at a link to a record already read (so
// a loop cannot repeat), after MaxEmptyChainRecords records in a row that
// hold no partition, and once the disk has MaxDiskPartitions partitions (as
// many as the kernel can address on one disk; those found stay).
constexpr int MaxEmptyChainRecords = 100;
constexpr int MaxDiskPartitions = 256;
struct TPartEntry {
    uint32_t Number;
    uint8_t Type;
    int64_t StartingOffset;
    int64_t PartitionLength;
};
using TSectorReader = std::function<bool(uint64_t sector, uint8_t *buf)>;
std::vector<TPartEntry> ParsePartitionTable(const TSectorReader &readSector);
