#include "vkDskUtils.h"

#include "vkClasses.h"
#include "vkErrors.h"
#include "vkPaths.h"
#include "vkVariant.h"

#include <QStringList>

#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_set>

// ---- copy protocol ----------------------------------------------------------

void TPersistent::Assign(const TPersistent &Source)
{
    throw EConvertError(QStringLiteral("Cannot assign a %1 to a %2")
                            .arg(QLatin1String(Source.ClassName()), QLatin1String(ClassName())));
}

// ---- partitions -------------------------------------------------------------

void TVolItem::Assign(const TPersistent &Source)
{
    const auto *src = dynamic_cast<const TVolItem *>(&Source);
    if (!src) {
        TPersistent::Assign(Source);
        return;
    }
    if (src == this)
        return;
    Name = src->Name;
    StartingOffset = src->StartingOffset;
    PartitionLength = src->PartitionLength;
    HiddenSectors = src->HiddenSectors;
    PartitionNumber = src->PartitionNumber;
    PartitionType = src->PartitionType;
    BootIndicator = src->BootIndicator;
    RecognizedPartition = src->RecognizedPartition;
    RewritePartition = src->RewritePartition;
    RootName = src->RootName;
    VolName = src->VolName;
    MountVolName = src->MountVolName;
}

QString TVolItem::GetSizeText() const { return FormatDiskSize(GetSize()); }

QString TVolItem::GetTypeName() const { return GetPartTypeName(PartitionType); }


// ---- disks ------------------------------------------------------------------

TDiskItem::TDiskItem(TDiskItems *Collection)
    : FCollection(Collection), FVolItems(std::make_unique<TVolItems>(this))
{
}

void TDiskItem::Assign(const TPersistent &Source)
{
    const auto *src = dynamic_cast<const TDiskItem *>(&Source);
    if (!src) {
        TPersistent::Assign(Source);
        return;
    }
    if (src == this)
        return;
    // The partitions are the only part that can fail (memory); they go first
    // so a failure leaves the whole disk unchanged.
    FVolItems->Assign(*src->FVolItems);
    Name = src->Name;
    Size = src->Size;
    PartitionCount = src->PartitionCount;
    Signature = src->Signature;
    Product = src->Product;
    LunType = src->LunType;
    DiskStr = src->DiskStr;
    Setting = src->Setting;
    PartStr = src->PartStr;
    WriteDrv = src->WriteDrv;
    DiskIp = src->DiskIp;
    DiskIndex = src->DiskIndex;
    if (IsToolVariant()) {
        HostName = src->HostName;
        DiskVersion = src->DiskVersion;
    }
}

QString TDiskItem::GetSizeText() const { return FormatDiskSize(Size); }


// ---- text rules -------------------------------------------------------------

QString GetPartTypeName(uint8_t PartType)
{
    switch (PartType) {
    case 0x05:
    case 0x0F:
        return QStringLiteral("Extern");
    case 0x06:
    case 0x0E:
        return QStringLiteral("FAT16");
    case 0x07:
        return QStringLiteral("NTFS");
    case 0x0B:
    case 0x0C:
        return QStringLiteral("FAT32");
    case 0x82:
        return QStringLiteral("Linux Swap");
    case 0x83:
        return QStringLiteral("Linux");
    case 0xFD:
        return QStringLiteral("Linux RAID");
    default:
        return QStringLiteral("<UNKNOWN>");
    }
}

QString FormatDiskSize(int64_t Bytes)
{
    // Whole MiB first (truncating toward zero), so the GB figure is that of
    // the MiB count. The C library formats the figure: its decimal separator
    // is that of the process's number format (the toolkit's start takes it
    // from the environment), where Qt's own formatting always writes a point.
    const int64_t mb = Bytes / 1048576;
    if (mb < 1024)
        return QString::asprintf("%d MB", int32_t(uint32_t(uint64_t(mb))));
    char text[64];
    std::snprintf(text, sizeof text, "%0.1f GB", double(mb) / 1024.0);
    return QString::fromLocal8Bit(text);
}

bool IsWholeDiskName(const QString &Name)
{
    const bool noP = !Name.contains(QLatin1Char('p'));
    // hda, sdb: three characters, "d" second, "h" or "s" first.
    if (Name.size() == 3 && Name.at(1) == QLatin1Char('d')
        && (Name.at(0) == QLatin1Char('h') || Name.at(0) == QLatin1Char('s')))
        return true;
    // Software arrays: md0, md15 (md0p1 is a partition).
    if (Name.contains(QLatin1String("md")) && noP)
        return true;
    // Controller disks: a five-character directory, "/c<n>d<n>".
    if (Name.size() >= 9 && Name.at(6) == QLatin1Char('c') && Name.at(8) == QLatin1Char('d') && noP)
        return true;
    return false;
}

// ---- partition table ----------------------------------------------------------

namespace {

constexpr int kSectorSize = 512;
constexpr int kEntryTable = 446;
constexpr int kEntrySize = 16;

struct TRawEntry {
    uint8_t Type;
    uint32_t FirstSector;
    uint32_t SectorCount;
};

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

TRawEntry entryAt(const uint8_t *sector, int i)
{
    const uint8_t *e = sector + kEntryTable + kEntrySize * i;
    return {e[4], le32(e + 8), le32(e + 12)};
}

bool isSigned(const uint8_t *sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

// Only these two lead to a chain; 0x85 is an ordinary partition here.
bool isExtended(uint8_t type) { return type == 0x05 || type == 0x0F; }

TPartEntry makeEntry(uint32_t number, const TRawEntry &e, uint64_t base)
{
    return {number, e.Type, int64_t((base + e.FirstSector) * kSectorSize),
            int64_t(uint64_t(e.SectorCount) * kSectorSize)};
}

} // namespace

std::vector<TPartEntry> ParsePartitionTable(const TSectorReader &readSector)
{
    std::vector<TPartEntry> parts;
    uint8_t sector[kSectorSize];
    if (!readSector(0, sector) || !isSigned(sector))
        return parts;

    // Only the last extended entry's chain is followed.
    uint64_t extendedBase = 0;
    for (int i = 0; i < 4; ++i) {
        const TRawEntry e = entryAt(sector, i);
        if (isExtended(e.Type))
            extendedBase = e.FirstSector;
        else if (e.Type != 0)
            parts.push_back(makeEntry(uint32_t(i + 1), e, 0));
    }

    // Links count from the extended base, data entries from their own record.
    // A chain may legitimately link backwards (a logical partition added in a
    // gap before the others), so it is followed in any direction, but no
    // record is read twice: a looping chain ends at the link that returns.
    // Records holding nothing but a link are bounded as well, so a crafted
    // run of them cannot keep the reader busy, and so is the number of
    // partitions: a stick whose every sector is a chain record would
    // otherwise list millions.
    uint64_t next = extendedBase;
    uint32_t number = 4;
    int emptyRun = 0;
    std::unordered_set<uint64_t> visited;
    while (next != 0 && visited.insert(next).second) {
        if (!readSector(next, sector) || !isSigned(sector))
            break;
        const uint64_t current = next;
        next = 0;
        bool anyData = false;
        for (int i = 0; i < 4; ++i) {
            const TRawEntry e = entryAt(sector, i);
            if (isExtended(e.Type)) {
                next = extendedBase + e.FirstSector;
            } else if (e.Type != 0) {
                parts.push_back(makeEntry(++number, e, current));
                if (parts.size() >= size_t(MaxDiskPartitions))
                    return parts;
                anyData = true;
            }
        }
        emptyRun = anyData ? 0 : emptyRun + 1;
        if (emptyRun >= MaxEmptyChainRecords)
            break;
    }
    return parts;
}

void ReadPartitionTable(TDiskItem *Disk)
{
    // Read-only, no lock. The console's stream raises when the device cannot
    // be opened; the tool's answers like a closed descriptor (Size -1, short
    // reads), so such a disk ends up with no partitions.
    TFileStream64 stream(SysPath(Disk->Name), fmOpenRead | fmShareDenyNone, 0);
    // The tool's stream measured itself at open. The console's stands at 0
    // after the open, so its end is its size; the table is then read with
    // positioned reads, which leave the position wherever it is.
    Disk->Size = IsToolVariant() ? stream.OpenSize : stream.Seek(0, soEnd);

    const auto parts = ParsePartitionTable([&stream](uint64_t sector, uint8_t *buf) {
        // A sector number of a table fits in 33 bits: its offset fits in 64.
        return stream.ReadAt(int64_t(sector * kSectorSize), buf, kSectorSize) == kSectorSize;
    });

    const QString &disk = Disk->Name;
    const bool endsInDigit = !disk.isEmpty() && disk.back() >= QLatin1Char('0') && disk.back() <= QLatin1Char('9');
    const QString prefix = endsInDigit ? disk + QLatin1Char('p') : disk;
    TVolItems *vols = Disk->VolItems();
    for (const TPartEntry &p : parts) {
        TVolItem *v = vols->Add();
        v->Name = prefix + QString::number(p.Number);
        v->PartitionType = p.Type;
        v->PartitionLength = p.PartitionLength;
        v->StartingOffset = p.StartingOffset;
        v->PartitionNumber = p.Number;
    }
}

// ---- discovery ----------------------------------------------------------------

namespace {

constexpr int kPieceSize = 256;   // one read of the listing: at most 255 characters
constexpr int kFieldMax = 63;     // longest field a listing line may carry

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Splits a piece into its first four blank-separated fields. A piece with
// fewer fields, or whose first four hold one longer than kFieldMax
// characters, is no listing line.
bool splitFields(const char *piece, QByteArray (&fields)[4])
{
    const char *p = piece;
    for (QByteArray &field : fields) {
        while (*p && isBlank(*p))
            ++p;
        const char *start = p;
        while (*p && !isBlank(*p))
            ++p;
        const auto len = p - start;
        if (len == 0 || len > kFieldMax)
            return false;
        field = QByteArray(start, int(len));
    }
    return true;
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

} // namespace

void TDiskItems::ScanKernelDisks()
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(SysPathBytes(QStringLiteral("/proc/partitions")).constData(), "re"));
    if (!file)
        return;
    char piece[kPieceSize];
    QByteArray fields[4];
    while (std::fgets(piece, kPieceSize, file.get())) {
        if (!splitFields(piece, fields))
            continue;
        if (fields[3] == "name")
            continue;
        const QString name = QString::fromLocal8Bit(fields[3]);
        if (!IsWholeDiskName(name))
            continue;
        bool ok = false;
        const qlonglong blocks = fields[2].toLongLong(&ok, 10);
        if (!ok)
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value")
                                    .arg(QString::fromLocal8Bit(fields[2])));
        if (blocks < 32768)
            continue;
        TDiskItem *disk = Add();
        disk->Name = QStringLiteral("/dev/") + name;
        // Bytes from the start, so a disk whose table is never read still
        // carries a true size.
        constexpr qlonglong maxBlocks = std::numeric_limits<int64_t>::max() / 1024;
        disk->Size = blocks > maxBlocks ? std::numeric_limits<int64_t>::max() : int64_t(blocks) * 1024;
    }
}

void TDiskItems::Refresh()
{
    Clear();
    ScanKernelDisks();
    // A disk that cannot be opened (it dropped off its bus, a path of a
    // multipath disk died) must not cost the others their partitions: it
    // keeps its listed size and no partitions, the rest are read, and its
    // open error is raised once the last disk has been read.
    QStringList failures;
    for (int i = 0; i < Count(); ++i) {
        try {
            ReadPartitionTable(GetItem(i));
        } catch (const Exception &e) {
            failures << e.Message();
        }
    }
    if (!failures.isEmpty())
        throw Exception(failures.join(QLatin1Char('\n')));
}
