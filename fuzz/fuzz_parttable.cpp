// libFuzzer target for the partition-table reader: the input is a disk image,
// and a sector that lies (even partly) beyond its end reads as short.
#include "vkDskUtils.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint64_t sectors = size / 512;
    uint64_t reads = 0;
    uint64_t lastSector = 0;
    const auto parts = ParsePartitionTable([&](uint64_t sector, uint8_t *buf) {
        // Each record is read once, further into the disk than the one before.
        if (reads > 0 && sector <= lastSector)
            __builtin_trap();
        ++reads;
        lastSector = sector;
        if (sector >= sectors)
            return false;
        std::memcpy(buf, data + sector * 512, 512);
        return true;
    });
    if (reads > sectors + 1)
        __builtin_trap();
    uint32_t lastLogical = 4;
    for (const TPartEntry &p : parts) {
        if (p.Number == 0 || p.Type == 0 || p.Type == 0x05 || p.Type == 0x0F || p.StartingOffset < 0
            || p.PartitionLength < 0)
            __builtin_trap();
        if (p.Number > 4 && p.Number != ++lastLogical)
            __builtin_trap();
    }
    return 0;
}
