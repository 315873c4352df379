// The kernel's partition listing (/proc/partitions) on arbitrary text: the
// scan lists only whole disks of at least 32 MiB, in bytes, and a block
// count that is no integer raises the conversion error and nothing else.
#include "fuzz_support.h"
#include "vkDskUtils.h"
#include "vkErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzWrite(QStringLiteral("/proc/partitions"), data, size);
    TDiskItems disks;
    try {
        disks.ScanKernelDisks();
    } catch (const EConvertError &e) {
        FuzzCheck(e.Message().endsWith(QLatin1String("' is not a valid integer value")));
    }
    // Every listed disk came from one line: a line is at least 8 bytes.
    FuzzCheck(size_t(disks.Count()) <= size / 8 + 1);
    for (int i = 0; i < disks.Count(); ++i) {
        const TDiskItem *d = disks.GetItem(i);
        FuzzCheck(d->Name.startsWith(QLatin1String("/dev/")));
        const QString name = d->Name.mid(5);
        FuzzCheck(IsWholeDiskName(name) && !name.isEmpty() && name.size() <= 63);
        FuzzCheck(d->Size >= 32LL << 20 && d->VolItems()->Count() == 0);
    }
    return 0;
}
