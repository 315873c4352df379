// /proc/net/dev on arbitrary bytes, through both of its readers.
//
// The interface list's name pass (TNICs::Refresh; the kernel's interface
// enumeration answers with nothing) must hold, in file order and once each
// (letter case of ASCII ignored), the trimmed text before the first colon of
// every line after the two headings, and nothing else.
//
// The traffic monitor's counter reader hands on one record per line with a
// colon, in file order, named by the text before the colon; a counter that
// is no number stops it with the conversion error, and nothing else may.
#include "fuzz_support.h"
#include "untNetFlux.h"
#include "vkDialogs.h"
#include "vkErrors.h"
#include "vkSocket.h"
#include "vkSysUtils.h"

#include <QApplication>

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
void checkMonitorReader(const QByteArray &bytes)
{
    static int argc = 1;
    static char arg0[] = "fuzz_netdev";
    static char *argv[] = {arg0, nullptr};
    static const bool offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    static TfmNicStat *monitor = [] {
        // An error the window shows would wait for an answer: none may come.
        SetDialogResponder([](const TDialogRequest &) -> TDialogAnswer { std::abort(); });
        return new TfmNicStat;
    }();
    (void)offscreen;

    QStringList names;
    bool stopped = false;
    try {
        monitor->ReadNetDev([&](const TNicStat &rec) { names << rec.Name; });
    } catch (const EConvertError &e) {
        FuzzCheck(e.Message().endsWith(QLatin1String("' is not a valid integer value")));
        stopped = true;
    }
    int withColon = 0;
    for (const QByteArray &line : bytes.split('\n'))
        withColon += line.contains(':') ? 1 : 0;
    FuzzCheck(stopped ? names.size() < withColon : names.size() == withColon);
    for (const QString &n : names)
        FuzzCheck(!n.contains(QLatin1Char(':')));
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
    checkMonitorReader(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
