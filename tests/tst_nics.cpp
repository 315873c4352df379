// The interface list: the name pass, the kernel's enumeration (real and
// stand-in), the configuration tool's refresh and the lookup rules.
#include "testutil.h"
#include "vkErrors.h"
#include "vkPaths.h"
#include "vkSocket.h"
#include "vkSysUtils.h"
#include "vkVariant.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QScopeGuard>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

uint32_t ip(const char *text)
{
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return a.s_addr;
}

uint32_t maskOfPrefix(int prefix)
{
    return prefix <= 0 ? 0 : htonl(uint32_t(0xFFFFFFFFu << (32 - prefix)));
}

std::array<uint8_t, 6> macOf(const QString &text)
{
    std::array<uint8_t, 6> mac{};
    const QStringList parts = text.trimmed().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (int i = 0; i < 6 && i < parts.size(); ++i)
        mac[size_t(i)] = uint8_t(parts[i].toUInt(nullptr, 16));
    return mac;
}

QString sysText(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).trimmed();
}

// What the kernel's own tool says of the IPv4 addresses: per interface, the
// first address whose label is not an alias.
struct TKernelAddr {
    uint32_t addr = 0;
    uint32_t mask = 0;
};

QMap<QString, TKernelAddr> kernelAddresses()
{
    QMap<QString, TKernelAddr> out;
    const QJsonArray links = QJsonDocument::fromJson(runTool(QStringLiteral("ip -4 -j addr show"))).array();
    for (const QJsonValue &link : links) {
        const QString name = link[QLatin1String("ifname")].toString();
        for (const QJsonValue &a : link[QLatin1String("addr_info")].toArray()) {
            const QString label = a[QLatin1String("label")].toString(name);
            if (label.contains(QLatin1Char(':')) || out.contains(name))
                continue;
            out[name] = {ip(a[QLatin1String("local")].toString().toLatin1().constData()),
                         maskOfPrefix(a[QLatin1String("prefixlen")].toInt())};
        }
    }
    return out;
}

QJsonObject kernelLink(const QString &name)
{
    const QJsonArray links = QJsonDocument::fromJson(
        runTool(QStringLiteral("ip -j link show dev %1").arg(name))).array();
    return links.isEmpty() ? QJsonObject() : links.first().toObject();
}

QStringList names(const TNICs &nics)
{
    QStringList out;
    for (int i = 0; i < nics.Count(); ++i)
        out << nics.Items(i)->Name;
    return out;
}

bool allZero(const TNIC &n)
{
    return n.Addr == 0 && n.Mask == 0 && n.IfIndex == 0 && n.MAC == std::array<uint8_t, 6>{}
        && !n.IsLoopback && !n.IsUp && !n.IsRunning && !n.IsMaster && !n.IsSlave;
}

const QByteArray kHeads = "Inter-|   Receive                  |  Transmit\n"
                          " face |bytes    packets errs drop|bytes    packets\n";

// A stand-in kernel for the interface requests.
struct TFakeNic {
    QByteArray name;
    uint32_t addr = 0, mask = 0;
    short flags = 0;
    int index = 0;
    std::array<uint8_t, 6> mac{};
};

class TFakeKernel {
public:
    std::vector<TFakeNic> records;          // the enumeration, in order
    int confErrno = 0;                      // SIOCGIFCONF fails with it
    QMap<QByteArray, QPair<unsigned long, int>> failing;   // name -> request, errno
    int confCalls = 0;

    TFakeKernel()
    {
        SetNicIoctlForTesting([this](int, unsigned long req, void *arg) { return call(req, arg); });
    }
    ~TFakeKernel() { SetNicIoctlForTesting(nullptr); }

    void add(const QByteArray &name, const char *addr, int index, short flags = IFF_UP)
    {
        TFakeNic n;
        n.name = name;
        n.addr = ip(addr);
        n.mask = maskOfPrefix(8 + index % 17);
        n.flags = flags;
        n.index = index;
        n.mac = {0x02, 0, 0, 0, uint8_t(index >> 8), uint8_t(index)};
        records.push_back(n);
    }

private:
    const TFakeNic *find(const char *name) const
    {
        for (const auto &n : records)
            if (n.name == QByteArray(name, qsizetype(strnlen(name, IFNAMSIZ))))
                return &n;
        return nullptr;
    }

    int call(unsigned long req, void *arg)
    {
        if (req == SIOCGIFCONF) {
            ++confCalls;
            if (confErrno) {
                errno = confErrno;
                return -1;
            }
            auto *ifc = static_cast<ifconf *>(arg);
            const size_t room = size_t(ifc->ifc_len) / sizeof(ifreq);
            size_t n = 0;
            for (; n < records.size() && n < room; ++n) {
                ifreq &r = ifc->ifc_req[n];
                std::memset(&r, 0, sizeof r);
                std::memcpy(r.ifr_name, records[n].name.constData(),
                            size_t(std::min<qsizetype>(records[n].name.size(), IFNAMSIZ)));
                sockaddr_in sin{};
                sin.sin_family = AF_INET;
                sin.sin_addr.s_addr = records[n].addr;
                std::memcpy(&r.ifr_addr, &sin, sizeof sin);
            }
            ifc->ifc_len = int(n * sizeof(ifreq));
            return 0;
        }
        auto *r = static_cast<ifreq *>(arg);
        const TFakeNic *n = find(r->ifr_name);
        const QByteArray key(r->ifr_name, qsizetype(strnlen(r->ifr_name, IFNAMSIZ)));
        if (!n || (failing.contains(key) && failing[key].first == req)) {
            errno = n ? failing[key].second : ENODEV;
            return -1;
        }
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        switch (req) {
        case SIOCGIFNETMASK:
            sin.sin_addr.s_addr = n->mask;
            std::memcpy(&r->ifr_netmask, &sin, sizeof sin);
            return 0;
        case SIOCGIFFLAGS:
            r->ifr_flags = n->flags;
            return 0;
        case SIOCGIFINDEX:
            r->ifr_ifindex = n->index;
            return 0;
        case SIOCGIFHWADDR:
            std::memcpy(r->ifr_hwaddr.sa_data, n->mac.data(), 6);
            return 0;
        }
        errno = EINVAL;
        return -1;
    }
};

// A private network namespace for the calling thread while it lives.
class TPrivateNetns {
public:
    TPrivateNetns()
    {
        FHome = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (FHome < 0) {
            FWhy = QString::fromLocal8Bit(strerror(errno));
            return;
        }
        if (::unshare(CLONE_NEWNET) != 0) {
            FWhy = QString::fromLocal8Bit(strerror(errno));
            return;
        }
        FActive = true;
    }
    ~TPrivateNetns()
    {
        if (FActive && ::setns(FHome, CLONE_NEWNET) != 0)
            qFatal("cannot return to the original network namespace");
        if (FHome >= 0)
            ::close(FHome);
    }
    bool active() const { return FActive; }
    QString why() const { return FWhy; }

private:
    int FHome = -1;
    bool FActive = false;
    QString FWhy;
};

QByteArray logText()
{
    QFile f(GetAppDir() + QStringLiteral("syslog.txt"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestNics : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        SetLibVariant(TLibVariant::Console);
        SetNicIoctlForTesting(nullptr);
        SetAppFileNameForTesting(QString());
    }

    // ---- the real kernel ---------------------------------------------------

    void refreshMatchesKernel()
    {
        TNICs nics;
        nics.Refresh();

        QStringList sysNames = QDir(QStringLiteral("/sys/class/net"))
                                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
        QStringList got = names(nics);
        sysNames.sort();
        got.sort();
        QCOMPARE(got, sysNames);

        const auto addrs = kernelAddresses();
        for (int i = 0; i < nics.Count(); ++i) {
            const TNIC &n = *nics.Items(i);
            if (!addrs.contains(n.Name)) {
                QVERIFY2(allZero(n), qPrintable(n.Name));
                continue;
            }
            const QString dir = QStringLiteral("/sys/class/net/") + n.Name;
            const unsigned flags = sysText(dir + QStringLiteral("/flags")).toUInt(nullptr, 16);
            QCOMPARE(n.GetIPText(), QString::fromLatin1(inet_ntoa(in_addr{addrs[n.Name].addr})));
            QCOMPARE(n.Addr, addrs[n.Name].addr);
            QCOMPARE(n.Mask, addrs[n.Name].mask);
            QCOMPARE(n.IfIndex, sysText(dir + QStringLiteral("/ifindex")).toInt());
            QCOMPARE(n.MAC, macOf(sysText(dir + QStringLiteral("/address"))));
            QCOMPARE(n.IsLoopback, bool(flags & 0x8));
            QCOMPARE(n.IsUp, bool(flags & 0x1));
            // The kernel adds "running" to the stored flags from the operational state.
            const QString oper = sysText(dir + QStringLiteral("/operstate"));
            QCOMPARE(n.IsRunning, bool(flags & 0x1) && (oper == QLatin1String("up") || oper == QLatin1String("unknown")));
            QCOMPARE(n.IsMaster, bool(flags & 0x400));
            QCOMPARE(n.IsSlave, bool(flags & 0x800));
        }
    }

    void moreThan32AddressedInterfaces()
    {
        TPrivateNetns ns;
        if (!ns.active())
            QSKIP(qPrintable(QStringLiteral("no private network namespace here (%1)").arg(ns.why())));

        constexpr int kPairs = 23;   // 46 addressed interfaces
        QStringList batch;
        for (int i = 0; i < kPairs; ++i) {
            batch << QStringLiteral("link add vk%1a type veth peer name vk%1b").arg(i)
                  << QStringLiteral("addr add 10.%1.0.1/24 dev vk%2a").arg(i + 1).arg(i)
                  << QStringLiteral("addr add 10.%1.1.1/%2 dev vk%3b").arg(i + 1).arg(16 + i % 9).arg(i)
                  << QStringLiteral("link set vk%1a up").arg(i) << QStringLiteral("link set vk%1b up").arg(i);
        }
        // An alias and a secondary address: the primary one stays.
        batch << QStringLiteral("addr add 10.200.0.1/16 dev vk0a label vk0a:1")
              << QStringLiteral("addr add 10.1.0.77/24 dev vk0a");
        QFile script(QDir::tempPath() + QStringLiteral("/vk-nics-batch.txt"));
        QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(batch.join(QLatin1Char('\n')).toLatin1() + '\n');
        script.close();
        auto drop = qScopeGuard([&] { script.remove(); });
        int rc = 0;
        runTool(QStringLiteral("ip -batch %1 2>&1").arg(script.fileName()), &rc);
        if (rc != 0)
            QSKIP("virtual ethernet pairs cannot be made here");

        TNICs nics;
        nics.Refresh();
        QCOMPARE(nics.Count(), 2 * kPairs + 1);   // and lo from the name pass
        QVERIFY(!nics.FindNIC(QStringLiteral("vk0a:1"), false));
        for (int i = 0; i < kPairs; ++i) {
            for (const char side : {'a', 'b'}) {
                const QString name = QStringLiteral("vk%1%2").arg(i).arg(QLatin1Char(side));
                const TNIC *n = nics.FindNIC(name, false);
                QVERIFY2(n, qPrintable(name));
                const QString addr = side == 'a' ? QStringLiteral("10.%1.0.1").arg(i + 1)
                                                 : QStringLiteral("10.%1.1.1").arg(i + 1);
                QCOMPARE(n->GetIPText(), addr);
                QCOMPARE(n->Mask, side == 'a' ? maskOfPrefix(24) : maskOfPrefix(16 + i % 9));
                const QJsonObject link = kernelLink(name);
                QCOMPARE(n->IfIndex, link[QLatin1String("ifindex")].toInt());
                QCOMPARE(n->MAC, macOf(link[QLatin1String("address")].toString()));
                QVERIFY(n->IsUp);
                QVERIFY(!n->IsLoopback);
            }
        }
    }

    // ---- the name pass -----------------------------------------------------

    void namePassFollowsFile()
    {
        ScratchRoot root;
        root.write(QStringLiteral("/proc/net/dev"),
                   "hdr0: this heading holds a colon\n"
                   "hdr1: and so does this one\n"
                   "  vkx7:123 0 0\n"
                   "\t vkdumy9 \t: 0 0\n"
                   "no colon on this line\n"
                   "   : 0 0\n"
                   "  VKX7: 0 0\n"
                   "  vktail1: 0 0");   // no final line feed
        TFakeKernel kernel;
        kernel.add("f9", "10.0.0.9", 9);
        kernel.add("vkX7", "10.0.0.7", 7);
        TNICs nics;
        nics.Refresh();
        // File order first, then what only the kernel reported; the kernel's
        // vkX7 fills the file's vkx7.
        QCOMPARE(names(nics), QStringList({"vkx7", "vkdumy9", "vktail1", "f9"}));
        QCOMPARE(nics.Items(0)->IfIndex, 7);
        QVERIFY(allZero(*nics.Items(1)));   // named, not enumerated

        root.remove(QStringLiteral("/proc/net/dev"));
        nics.Refresh();
        QCOMPARE(names(nics), QStringList({"f9", "vkX7"}));
    }

    void unreadableNetDevRaises()
    {
        ScratchRoot root;
        root.mkdir(QStringLiteral("/proc/net/dev"));   // exists, cannot be read
        TNICs nics;
        nics.FindNIC(QStringLiteral("old0"), true);
        QVERIFY_THROWS_EXCEPTION(EInOutError, nics.Refresh());
        QCOMPARE(nics.Count(), 0);
    }

    // ---- lookup ------------------------------------------------------------

    void findNIC_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("autoAdd");
        QTest::addColumn<int>("expected");   // index, or -1 for none
        QTest::newRow("exact") << "eth0" << false << 0;
        QTest::newRow("other case") << "ETH0" << false << 0;
        QTest::newRow("mixed case, later entry") << "Bond0" << false << 2;
        QTest::newRow("prefix only") << "eth" << false << -1;
        QTest::newRow("trailing blank") << "eth0 " << false << -1;
        QTest::newRow("non-ASCII letters keep case") << QString::fromUtf8("w\xc3\x84n") << false << -1;
        QTest::newRow("non-ASCII exact") << QString::fromUtf8("w\xc3\xa4n") << false << 3;
        QTest::newRow("missing, added at the end") << "eth9" << true << 4;
        QTest::newRow("present, not added") << "ETH1" << true << 1;
    }
    void findNIC()
    {
        QFETCH(QString, query);
        QFETCH(bool, autoAdd);
        QFETCH(int, expected);
        TNICs nics;
        for (const char *n : {"eth0", "eth1", "bond0"})
            nics.FindNIC(QString::fromLatin1(n), true)->IfIndex = 7;
        nics.FindNIC(QString::fromUtf8("w\xc3\xa4n"), true)->IfIndex = 7;
        const int before = nics.Count();

        TNIC *found = nics.FindNIC(query, autoAdd);
        if (expected < 0) {
            QVERIFY(!found);
            QCOMPARE(nics.Count(), before);
            return;
        }
        QCOMPARE(found, nics.Items(expected));
        if (expected == before) {
            QCOMPARE(nics.Count(), before + 1);
            QCOMPARE(found->Name, query);
            QVERIFY(allZero(*found));
        } else {
            QCOMPARE(nics.Count(), before);
        }
    }

    void itemsOutsideRangeAreNull()
    {
        TNICs nics;
        QCOMPARE(nics.Count(), 0);
        QVERIFY(!nics.Items(0));
        QVERIFY(!nics.Items(-1));
        nics.FindNIC(QStringLiteral("a"), true);
        nics.FindNIC(QStringLiteral("b"), true);
        QVERIFY(!nics.Items(-1));
        QVERIFY(!nics.Items(2));
        QCOMPARE(nics.Items(1)->Name, QStringLiteral("b"));
        nics.Clear();
        QCOMPARE(nics.Count(), 0);
    }

    void ipText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("private") << "192.168.0.1";
        QTest::newRow("zero") << "0.0.0.0";
        QTest::newRow("broadcast") << "255.255.255.255";
        QTest::newRow("byte order") << "10.0.1.254";
    }
    void ipText()
    {
        QFETCH(QString, text);
        TNIC n;
        n.Addr = ip(text.toLatin1().constData());
        QCOMPARE(n.GetIPText(), text);
        QCOMPARE(n.GetIPText(), QString::fromLatin1(inet_ntoa(in_addr{n.Addr})));
    }

    // ---- a stand-in kernel ---------------------------------------------------

    void enumerationHasNoRecordLimit_data()
    {
        QTest::addColumn<int>("count");
        for (int n : {0, 1, 32, 33, 64, 65, 300})
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
    void enumerationHasNoRecordLimit()
    {
        QFETCH(int, count);
        ScratchRoot root;   // no /proc/net/dev: the enumeration alone
        TFakeKernel kernel;
        for (int i = 0; i < count; ++i)
            kernel.add("f" + QByteArray::number(i),
                       qPrintable(QStringLiteral("10.%1.%2.1").arg(i / 250).arg(i % 250)), i + 1);
        TNICs nics;
        nics.Refresh();
        QCOMPARE(nics.Count(), count);
        for (int i = 0; i < count; ++i) {
            const TNIC *n = nics.Items(i);
            QCOMPARE(n->Name, QStringLiteral("f%1").arg(i));
            QCOMPARE(n->Addr, kernel.records[size_t(i)].addr);
            QCOMPARE(n->Mask, kernel.records[size_t(i)].mask);
            QCOMPARE(n->IfIndex, i + 1);
            QCOMPARE(n->MAC, kernel.records[size_t(i)].mac);
        }
    }

    void flagBits_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("expected");   // loopback up running master slave
        QTest::newRow("none") << 0 << "00000";
        QTest::newRow("loopback up running") << 0x49 << "11100";
        QTest::newRow("bond master") << 0x1443 << "01110";
        QTest::newRow("bond member") << 0x1843 << "01101";
        QTest::newRow("all bits") << 0xFFFF << "11111";
        QTest::newRow("neighbours only") << (0xFFFF & ~0xC49) << "00000";
    }
    void flagBits()
    {
        QFETCH(int, flags);
        QFETCH(QString, expected);
        ScratchRoot root;
        TFakeKernel kernel;
        kernel.add("f0", "10.0.0.1", 3, short(flags));
        TNICs nics;
        nics.Refresh();
        const TNIC *n = nics.Items(0);
        const QString got = QStringLiteral("%1%2%3%4%5")
                                .arg(int(n->IsLoopback)).arg(int(n->IsUp)).arg(int(n->IsRunning))
                                .arg(int(n->IsMaster)).arg(int(n->IsSlave));
        QCOMPARE(got, expected);
    }

    void aliasesAndSecondaryAddresses()
    {
        ScratchRoot root;
        TFakeKernel kernel;
        kernel.add("f0", "10.0.0.1", 1);
        kernel.add("f0:1", "10.9.9.9", 1);
        kernel.add("f0", "10.0.0.2", 1);
        kernel.add("g0:1", "10.8.8.8", 2);   // an alias whose interface has no own address
        TNICs nics;
        nics.Refresh();
        QCOMPARE(names(nics), QStringList({QStringLiteral("f0")}));
        QCOMPARE(nics.Items(0)->GetIPText(), QStringLiteral("10.0.0.1"));
    }

    void failedRequestIsLogged_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("err");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("fieldsRead");   // 0 mask, 1 flags, 2 index, 3 MAC
        QTest::newRow("netmask") << int(SIOCGIFNETMASK) << EADDRNOTAVAIL << "3: 99" << 0;
        QTest::newRow("flags") << int(SIOCGIFFLAGS) << ENODEV << "4: 19" << 1;
        QTest::newRow("index") << int(SIOCGIFINDEX) << ENODEV << "5: 19" << 2;
        QTest::newRow("hardware address") << int(SIOCGIFHWADDR) << EINVAL << "6: 22" << 3;
    }
    void failedRequestIsLogged()
    {
        QFETCH(int, request);
        QFETCH(int, err);
        QFETCH(QString, message);
        QFETCH(int, fieldsRead);
        ScratchRoot root;
        root.mkdir(QStringLiteral("/opt/app"));
        SetAppFileNameForTesting(root.path(QStringLiteral("/opt/app/vktest")));
        TFakeKernel kernel;
        kernel.add("f0", "10.0.0.1", 1);
        kernel.add("f1", "10.0.0.2", 2);
        kernel.add("f2", "10.0.0.3", 3);
        kernel.failing["f1"] = {unsigned(request), err};
        TNICs nics;
        nics.Refresh();

        QVERIFY(logText().contains(QStringLiteral("C=\"RTL\" ID=10301 M=\"%1\"").arg(message).toUtf8()));
        QCOMPARE(nics.Count(), 3);
        const TNIC *f1 = nics.Items(1);
        QCOMPARE(f1->GetIPText(), QStringLiteral("10.0.0.2"));   // set before the requests
        QCOMPARE(f1->Mask != 0, fieldsRead > 0);
        QCOMPARE(f1->IsUp, fieldsRead > 1);
        QCOMPARE(f1->IfIndex, fieldsRead > 2 ? 2 : 0);
        QCOMPARE(f1->MAC != (std::array<uint8_t, 6>{}), fieldsRead > 3);
        // The interfaces around it are read whole.
        QCOMPARE(nics.Items(2)->IfIndex, 3);
        QCOMPARE(nics.Items(2)->MAC, kernel.records[2].mac);
    }

    void failedEnumerationKeepsNamePass()
    {
        ScratchRoot root;
        root.write(QStringLiteral("/proc/net/dev"), kHeads + "  vka0: 0\n  vkb0: 0\n");
        root.mkdir(QStringLiteral("/opt/app"));
        SetAppFileNameForTesting(root.path(QStringLiteral("/opt/app/vktest")));
        TFakeKernel kernel;
        kernel.add("f0", "10.0.0.1", 1);
        kernel.confErrno = EINVAL;
        TNICs nics;
        nics.Refresh();
        QCOMPARE(names(nics), QStringList({QStringLiteral("vka0"), QStringLiteral("vkb0")}));
        QVERIFY(allZero(*nics.Items(0)) && allZero(*nics.Items(1)));
        QVERIFY(logText().contains("C=\"RTL\" ID=10301 M=\"1: 22\""));
    }

    // ---- the configuration tool's refresh -------------------------------------

    void toolRefreshKeepsAndDrops()
    {
        const auto addrs = kernelAddresses();
        if (addrs.isEmpty())
            QSKIP("no interface with an IPv4 address here");
        const QString real = addrs.firstKey();
        SetLibVariant(TLibVariant::Tool);
        ScratchRoot root;
        root.write(QStringLiteral("/proc/net/dev"), kHeads + "  vkghost0: 0\n");

        TNICs nics;
        nics.FindNIC(QStringLiteral("vkstale1"), true);   // never read: dropped
        nics.Refresh();
        QVERIFY(!nics.FindNIC(QStringLiteral("vkstale1"), false));
        TNIC *ghost = nics.FindNIC(QStringLiteral("vkghost0"), false);
        QVERIFY(ghost);
        QCOMPARE(ghost->IfIndex, 0);   // new in this refresh: stays
        QCOMPARE(nics.Items(0), ghost);
        TNIC *kept = nics.FindNIC(real, false);
        QVERIFY(kept);
        QVERIFY(kept->IfIndex > 0);
        const int index = kept->IfIndex;

        nics.Refresh();
        QCOMPARE(nics.FindNIC(real, false), kept);   // the same object, read again
        QCOMPARE(kept->IfIndex, index);
        QVERIFY(!nics.FindNIC(QStringLiteral("vkghost0"), false));   // kept but not enumerated

        nics.Refresh();
        QVERIFY(nics.FindNIC(QStringLiteral("vkghost0"), false));   // back as a new entry
        QCOMPARE(nics.FindNIC(real, false), kept);
    }

    void toolRefreshDropsKeptEntryWhoseIndexFails()
    {
        SetLibVariant(TLibVariant::Tool);
        ScratchRoot root;
        TFakeKernel kernel;
        kernel.add("f0", "10.0.0.1", 1);
        kernel.add("f1", "10.0.0.2", 2);
        TNICs nics;
        nics.Refresh();
        TNIC *f1 = nics.FindNIC(QStringLiteral("f1"), false);

        kernel.add("f2", "10.0.0.3", 3);
        kernel.failing["f0"] = {SIOCGIFFLAGS, ENODEV};    // before the index: dropped
        kernel.failing["f1"] = {SIOCGIFHWADDR, ENODEV};   // after it: kept
        kernel.failing["f2"] = {SIOCGIFNETMASK, ENODEV};  // new: stays
        nics.Refresh();
        QCOMPARE(names(nics), QStringList({QStringLiteral("f1"), QStringLiteral("f2")}));
        QCOMPARE(nics.Items(0), f1);
        QCOMPARE(nics.Items(1)->IfIndex, 0);

        kernel.confErrno = EINVAL;   // a failed enumeration drops nothing
        nics.Refresh();
        QCOMPARE(nics.Count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestNics)
#include "tst_nics.moc"
