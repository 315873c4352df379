// The bonding file (/etc/velkora/bond.conf) on arbitrary bytes. What is read
// must survive being written and read again unchanged: values come back
// without quotes, trimmed, one line each.
#include "fuzz_support.h"
#include "vkErrors.h"
#include "vkSocket.h"

namespace {
bool same(const TBondInfo &a, const TBondInfo &b)
{
    return a.Device == b.Device && a.Slaves == b.Slaves && a.IP == b.IP && a.Mask == b.Mask
           && a.Gateway == b.Gateway;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzWrite(QStringLiteral("/etc/velkora/bond.conf"), data, size);
    TBondInfo first;
    FuzzCheck(ReadBondConfig(first));
    for (const QString *v : {&first.Device, &first.Slaves, &first.IP, &first.Mask, &first.Gateway}) {
        FuzzCheck(!v->contains(QLatin1Char('"')) && !v->contains(QLatin1Char('\n'))
                  && !v->contains(QLatin1Char('\r')));
        FuzzCheck(v->isEmpty() || (v->front().unicode() > 0x20 && v->back().unicode() > 0x20));
    }
    WriteBondConfig(first);
    TBondInfo second;
    FuzzCheck(ReadBondConfig(second));
    FuzzCheck(same(first, second));
    return 0;
}
