// libFuzzer target for the partition-table reader: the input is a disk image,
// and a sector that lies (even partly) beyond its end reads as short.
//
// Chains may link backwards or anywhere else on the disk, so the oracle does
// not ask for any order of reads. It asks that no record is read twice, that
// the reads are exactly those the chain rules call for (which bounds them),
// and that the partitions are those of the records read, numbered 1-4 by
// slot and 5 upward in chain order, at most MaxDiskPartitions of them.
#include "vkDskUtils.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

struct Image {
    const uint8_t *data;
    uint64_t sectors;
    const uint8_t *sector(uint64_t s) const { return s < sectors ? data + s * 512 : nullptr; }
};

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool usable(const uint8_t *s) { return s && s[510] == 0x55 && s[511] == 0xAA; }
bool extended(uint8_t type) { return type == 0x05 || type == 0x0F; }

// The reads and partitions the rules call for, worked out from the image.
void expected(const Image &img, std::vector<uint64_t> &reads, std::vector<TPartEntry> &parts)
{
    reads.push_back(0);
    const uint8_t *mbr = img.sector(0);
    if (!usable(mbr))
        return;
    uint64_t base = 0;
    for (int i = 0; i < 4; ++i) {
        const uint8_t *e = mbr + 446 + 16 * i;
        if (extended(e[4]))
            base = le32(e + 8);
        else if (e[4] != 0)
            parts.push_back({uint32_t(i + 1), e[4], int64_t(uint64_t(le32(e + 8)) * 512),
                             int64_t(uint64_t(le32(e + 12)) * 512)});
    }
    std::set<uint64_t> seen;
    uint32_t number = 4;
    int emptyRun = 0;
    for (uint64_t next = base; next != 0 && seen.insert(next).second;) {
        reads.push_back(next);
        const uint8_t *rec = img.sector(next);
        if (!usable(rec))
            return;
        const uint64_t current = next;
        next = 0;
        bool any = false;
        for (int i = 0; i < 4; ++i) {
            const uint8_t *e = rec + 446 + 16 * i;
            if (extended(e[4])) {
                next = base + le32(e + 8);
            } else if (e[4] != 0) {
                parts.push_back({++number, e[4], int64_t((current + le32(e + 8)) * 512),
                                 int64_t(uint64_t(le32(e + 12)) * 512)});
                if (parts.size() == size_t(MaxDiskPartitions))
                    return;
                any = true;
            }
        }
        emptyRun = any ? 0 : emptyRun + 1;
        if (emptyRun >= MaxEmptyChainRecords)
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Image img{data, size / 512};
    std::vector<uint64_t> reads;
    std::set<uint64_t> seen;
    const auto parts = ParsePartitionTable([&](uint64_t sector, uint8_t *buf) {
        check(seen.insert(sector).second);   // no record twice
        check(reads.size() <= img.sectors);  // distinct sectors, one past the end at most
        reads.push_back(sector);
        const uint8_t *s = img.sector(sector);
        if (!s)
            return false;
        std::memcpy(buf, s, 512);
        return true;
    });

    std::vector<uint64_t> wantReads;
    std::vector<TPartEntry> wantParts;
    expected(img, wantReads, wantParts);
    check(reads == wantReads);
    check(parts.size() == wantParts.size() && parts.size() <= size_t(MaxDiskPartitions));
    uint32_t lastPrimary = 0, lastLogical = 4;
    for (size_t i = 0; i < parts.size(); ++i) {
        const TPartEntry &p = parts[i], &w = wantParts[i];
        check(p.Number == w.Number && p.Type == w.Type && p.StartingOffset == w.StartingOffset
              && p.PartitionLength == w.PartitionLength);
        check(p.Type != 0 && !extended(p.Type) && p.StartingOffset >= 0 && p.PartitionLength >= 0);
        if (p.Number <= 4) {
            check(lastLogical == 4 && p.Number > lastPrimary);   // slot order, before the logicals
            lastPrimary = p.Number;
        } else {
            check(p.Number == ++lastLogical);
        }
    }
    return 0;
}
