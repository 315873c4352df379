#include "vkSocket.h"

#include "vkErrors.h"
#include "vkFileUtils.h"
#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkVariant.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace {

TNicIoctl g_ioctl;   // empty: the real ioctl(2)

ushort foldAscii(ushort c)
{
    return (c >= 'a' && c <= 'z') ? ushort(c - 'a' + 'A') : c;
}

// Equal lengths and equal units, ASCII letters compared without case.
bool sameTextAscii(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (foldAscii(a.at(i).unicode()) != foldAscii(b.at(i).unicode()))
            return false;
    return true;
}

QString ioErrorText(int err)
{
    return QStringLiteral("I/O error %1").arg(err);
}

// The name pass: every line after the two headings names one interface by
// the text before its first colon. A line without a colon, or with nothing
// before it, names none. Entries are added while the file is read, so a read
// error leaves the names met so far.
void readNetDevNames(TNICs &list, const QString &path)
{
    TFdCloser fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        throw EInOutError(ioErrorText(errno));

    int lineNo = 0;
    auto takeLine = [&](const QByteArray &line) {
        if (++lineNo <= 2)
            return;
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            return;
        const QString name = TrimCtl(QString::fromLocal8Bit(line.left(colon)));
        if (!name.isEmpty())
            list.FindNIC(name, true);
    };

    QByteArray pending;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EInOutError(ioErrorText(errno));
        }
        if (n == 0)
            break;
        pending.append(buf, n);
        qsizetype start = 0, nl;
        while ((nl = pending.indexOf('\n', start)) >= 0) {
            takeLine(pending.mid(start, nl - start));
            start = nl + 1;
        }
        pending.remove(0, start);
    }
    if (!pending.isEmpty())
        takeLine(pending);
}

// SIOCGIFCONF into a buffer that grows until the kernel's answer fits: the
// kernel fills what fits and says nothing of the rest, so an answer that
// leaves no room for one more record may have been cut short.
bool enumerateInterfaces(int sock, std::vector<ifreq> &records, int &err)
{
    constexpr size_t kMaxRecords = size_t(1) << 20;
    size_t capacity = 32;
    for (;;) {
        std::vector<ifreq> buf(capacity);
        ifconf ifc{};
        ifc.ifc_len = int(capacity * sizeof(ifreq));
        ifc.ifc_req = buf.data();
        if (NicIoctl(sock, SIOCGIFCONF, &ifc) < 0) {
            err = errno;
            return false;
        }
        const size_t bytes = size_t(std::max(ifc.ifc_len, 0));
        const size_t room = capacity * sizeof(ifreq);
        if (bytes + sizeof(ifreq) <= room || capacity >= kMaxRecords) {
            buf.resize(std::min(capacity, bytes / sizeof(ifreq)));
            records.swap(buf);
            return true;
        }
        capacity *= 2;
    }
}

uint32_t ipv4Of(const sockaddr &sa)
{
    sockaddr_in sin;
    std::memcpy(&sin, &sa, sizeof sin);
    return sin.sin_addr.s_addr;
}

// Mask, flags, index and hardware address of one enumerated interface. The
// first failing request is logged with its step number and ends the
// interface's requests; the fields read before it stay.
void readInterfaceDetails(int sock, const char (&name)[IFNAMSIZ], TNIC &nic)
{
    ifreq req;
    auto prepare = [&] {
        std::memset(&req, 0, sizeof req);
        std::memcpy(req.ifr_name, name, IFNAMSIZ);
    };

    prepare();
    if (NicIoctl(sock, SIOCGIFNETMASK, &req) < 0) {
        LogFmt(QStringLiteral("RTL"), 10301, "3: %d", errno);
        return;
    }
    nic.Mask = ipv4Of(req.ifr_netmask);

    prepare();
    if (NicIoctl(sock, SIOCGIFFLAGS, &req) < 0) {
        LogFmt(QStringLiteral("RTL"), 10301, "4: %d", errno);
        return;
    }
    const unsigned flags = ushort(req.ifr_flags);
    nic.IsLoopback = flags & IFF_LOOPBACK;
    nic.IsUp = flags & IFF_UP;
    nic.IsRunning = flags & IFF_RUNNING;
    nic.IsMaster = flags & IFF_MASTER;
    nic.IsSlave = flags & IFF_SLAVE;

    prepare();
    if (NicIoctl(sock, SIOCGIFINDEX, &req) < 0) {
        LogFmt(QStringLiteral("RTL"), 10301, "5: %d", errno);
        return;
    }
    nic.IfIndex = req.ifr_ifindex;

    prepare();
    if (NicIoctl(sock, SIOCGIFHWADDR, &req) < 0) {
        LogFmt(QStringLiteral("RTL"), 10301, "6: %d", errno);
        return;
    }
    std::memcpy(nic.MAC.data(), req.ifr_hwaddr.sa_data, nic.MAC.size());
}

} // namespace

int NicIoctl(int Fd, unsigned long Request, void *Arg)
{
    if (g_ioctl)
        return g_ioctl(Fd, Request, Arg);
    return ::ioctl(Fd, Request, Arg);
}

void SetNicIoctlForTesting(TNicIoctl Fn)
{
    g_ioctl = std::move(Fn);
}

// ---- TNIC -------------------------------------------------------------------

QString TNIC::GetIPText() const
{
    uint8_t b[4];
    std::memcpy(b, &Addr, sizeof b);   // first byte in memory first, as inet_ntoa
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

// ---- TNICs ------------------------------------------------------------------

void TNICs::Clear()
{
    for (auto &item : FItems)
        item.reset();
    FItems.clear();
}

TNIC *TNICs::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FItems[size_t(Index)].get();
}

TNIC *TNICs::FindNIC(const QString &Name, bool AutoAdd)
{
    for (const auto &item : FItems)
        if (sameTextAscii(item->Name, Name))
            return item.get();
    if (!AutoAdd)
        return nullptr;
    auto nic = std::make_unique<TNIC>();
    nic->Name = Name;
    FItems.push_back(std::move(nic));
    return FItems.back().get();
}

void TNICs::Refresh()
{
    // The configuration tool keeps its objects: each one is marked unread
    // and dropped at the end unless the kernel reports its index again.
    const bool keep = IsToolVariant();
    if (keep) {
        for (auto &item : FItems)
            item->IfIndex = -1;
    } else {
        Clear();
    }

    const QString devPath = SysPath(QStringLiteral("/proc/net/dev"));
    if (FileExists(devPath))
        readNetDevNames(*this, devPath);

    TFdCloser sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        return;

    std::vector<ifreq> records;
    int err = 0;
    if (!enumerateInterfaces(sock.get(), records, err)) {
        LogFmt(QStringLiteral("RTL"), 10301, "1: %d", err);
        return;
    }

    // An interface with several addresses appears once per address; its
    // first record (the primary address) is the one that pairs with the
    // netmask the kernel answers, so the later ones are passed over.
    std::unordered_set<const TNIC *> done;
    for (const ifreq &rec : records) {
        char name[IFNAMSIZ];
        std::memcpy(name, rec.ifr_name, IFNAMSIZ);
        const QByteArray raw(name, qsizetype(strnlen(name, IFNAMSIZ)));
        if (raw.isEmpty() || raw.contains(':'))   // address aliases such as eth0:1
            continue;
        TNIC *nic = FindNIC(QString::fromLocal8Bit(raw), true);
        if (!done.insert(nic).second)
            continue;
        nic->Addr = ipv4Of(rec.ifr_addr);
        readInterfaceDetails(sock.get(), name, *nic);
    }
    sock.release();

    if (keep) {
        for (size_t i = FItems.size(); i-- > 0;)
            if (FItems[i]->IfIndex == -1)
                FItems.erase(FItems.begin() + std::ptrdiff_t(i));
    }
}

// ---- bonding file -----------------------------------------------------------

namespace {

const char *const kBondKeys[5] = {"DEVICE", "SLAVES", "IP", "MASK", "GATEWAY"};

QString bondFilePath()
{
    return SysPath(QStringLiteral("/etc/velkora/bond.conf"));
}

// Lines end at LF, CR or CR LF.
QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

} // namespace

bool ReadBondConfig(TBondInfo &Info)
{
    const QString path = bondFilePath();
    if (!FileExists(path))
        return false;

    QByteArray data;
    if (!ReadWholeFile(path, data))
        throw EFOpenError(QStringLiteral("Cannot open file %1").arg(path));
    const qsizetype nul = data.indexOf('\0');
    if (nul >= 0)
        data.truncate(nul);
    const QStringList lines = splitLines(QString::fromLocal8Bit(data));

    QString values[5];
    for (int k = 0; k < 5; ++k) {
        const QString key = QLatin1String(kBondKeys[k]);
        for (const QString &line : lines) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq < 0 || !sameTextAscii(line.left(eq), key))
                continue;
            QString value = line.mid(eq + 1);
            value.remove(QLatin1Char('"'));
            values[k] = TrimCtl(value);
            break;
        }
    }
    Info.Device = values[0];
    Info.Slaves = values[1];
    Info.IP = values[2];
    Info.Mask = values[3];
    Info.Gateway = values[4];
    return true;
}

bool WriteBondConfig(const TBondInfo &Info)
{
    const QString *fields[5] = {&Info.Device, &Info.Slaves, &Info.IP, &Info.Mask, &Info.Gateway};
    QByteArray text;
    for (int k = 0; k < 5; ++k)
        text += QByteArray(kBondKeys[k]) + "=\"" + fields[k]->toLocal8Bit() + "\"\n";

    // Whether the directory could be made shows in the create below.
    QDir().mkpath(SysPath(QStringLiteral("/etc/velkora")));

    const QString path = bondFilePath();
    if (!ReplaceFileAtomically(path, text))
        throw EFCreateError(QStringLiteral("Cannot create file %1").arg(path));
    return true;
}

QString GetLocalHostName()
{
    char buf[64];
    std::memset(buf, 0, sizeof buf);
    (void)::gethostname(buf, sizeof buf);
    return QString::fromLocal8Bit(buf, qsizetype(strnlen(buf, sizeof buf)));
}
