// The interface names of /proc/net/dev on arbitrary bytes (the name pass of
// TNICs::Refresh; the kernel's interface enumeration answers with nothing).
// The list must hold, in file order and once each (letter case of ASCII
// ignored), the trimmed text before the first colon of every line after the
// two headings, and nothing else.
#include "fuzz_support.h"
#include "vkSocket.h"
#include "vkSysUtils.h"

#include <net/if.h>
#include <sys/ioctl.h>

namespace {
bool sameName(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        ushort x = a.at(i).unicode(), y = b.at(i).unicode();
        if (x >= 'a' && x <= 'z')
            x = ushort(x - 32);
        if (y >= 'a' && y <= 'z')
            y = ushort(y - 32);
        if (x != y)
            return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool once = [] {
        SetNicIoctlForTesting([](int, unsigned long request, void *arg) {
            if (request == SIOCGIFCONF)
                static_cast<ifconf *>(arg)->ifc_len = 0;   // no addressed interfaces
            return 0;
        });
        return true;
    }();
    (void)once;
    FuzzWrite(QStringLiteral("/proc/net/dev"), data, size);
    TNICs nics;
    nics.Refresh();

    QStringList want;
    const QList<QByteArray> lines = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\n');
    for (int i = 2; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon < 0)
            continue;
        const QString name = TrimCtl(QString::fromLocal8Bit(lines[i].left(colon)));
        bool known = name.isEmpty();
        for (const QString &w : want)
            known = known || sameName(w, name);
        if (!known)
            want << name;
    }
    FuzzCheck(nics.Count() == want.size());
    for (int i = 0; i < nics.Count(); ++i) {
        const TNIC *n = nics.Items(i);
        FuzzCheck(n->Name == want[i] && n->Addr == 0 && n->IfIndex == 0 && !n->IsUp);
    }
    return 0;
}
