// The bonding file (its exact bytes, the read rules, the safe replace) and
// the host name.
#include "testutil.h"
#include "vkErrors.h"
#include "vkFileUtils.h"
#include "vkPaths.h"
#include "vkSocket.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(TBondInfo)

namespace {

// A private mount namespace for the whole process, made while it still has
// one thread: the failure tests mount over the scratch root's files.
const bool g_privateMounts = [] {
    return geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
           && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}();

const QString kBond = QStringLiteral("/etc/velkora/bond.conf");
const QString kDir = QStringLiteral("/etc/velkora");

TBondInfo bond(const QString &d, const QString &s, const QString &i, const QString &m, const QString &g)
{
    return TBondInfo{d, s, i, m, g};
}

QStringList fields(const TBondInfo &b)
{
    return {b.Device, b.Slaves, b.IP, b.Mask, b.Gateway};
}

mode_t modeOf(const QString &path)
{
    struct stat st{};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

// Everything in the directory but the bond file itself (left-over temp files).
QStringList strays(const ScratchRoot &root)
{
    QStringList all = QDir(root.path(kDir)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    all.removeAll(QStringLiteral("bond.conf"));
    return all;
}

} // namespace

class TestBond : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void missingFileLeavesInfo()
    {
        ScratchRoot root;
        TBondInfo info = bond("a", "b", "c", "d", "e");
        QVERIFY(!ReadBondConfig(info));
        QCOMPARE(fields(info), QStringList({"a", "b", "c", "d", "e"}));
    }

    void writesExactBytes()
    {
        ScratchRoot root;   // no /etc/velkora yet: made on the way
        QVERIFY(WriteBondConfig(bond("bond0", "eth0 eth1", "192.168.1.10", "255.255.255.0", "")));
        QCOMPARE(root.read(kBond), QByteArray("DEVICE=\"bond0\"\n"
                                              "SLAVES=\"eth0 eth1\"\n"
                                              "IP=\"192.168.1.10\"\n"
                                              "MASK=\"255.255.255.0\"\n"
                                              "GATEWAY=\"\"\n"));
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(modeOf(root.path(kBond)), mode_t(0666 & ~mask));
        QVERIFY(strays(root).isEmpty());
    }

    void writesValuesAsHeld()
    {
        ScratchRoot root;
        WriteBondConfig(bond(" sp ", "a\"b", "x=y", "\t", QString::fromUtf8("\xe7\xbd\x91")));
        QCOMPARE(root.read(kBond), QByteArray("DEVICE=\" sp \"\nSLAVES=\"a\"b\"\nIP=\"x=y\"\nMASK=\"\t\"\n"
                                              "GATEWAY=\"\xe7\xbd\x91\"\n"));
    }

    void roundTrip()
    {
        ScratchRoot root;
        const TBondInfo written = bond("bond0", "eth0 eth1 eth2", "10.0.0.5", "255.0.0.0", "10.0.0.1");
        WriteBondConfig(written);
        TBondInfo read;
        QVERIFY(ReadBondConfig(read));
        QCOMPARE(fields(read), fields(written));
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");   // Device Slaves IP Mask Gateway
        const QStringList none = {"", "", "", "", ""};
        QTest::newRow("empty file") << QByteArray() << none;
        QTest::newRow("no known key") << QByteArray("# bonding\nMODE=\"1\"\n") << none;
        QTest::newRow("key in lower case, no quotes") << QByteArray("device=bond1\n")
                                                      << QStringList{"bond1", "", "", "", ""};
        QTest::newRow("blank before equals") << QByteArray("DEVICE =\"bond0\"\n") << none;
        QTest::newRow("blank before key") << QByteArray(" DEVICE=\"bond0\"\n") << none;
        QTest::newRow("longer key") << QByteArray("DEVICES=\"x\"\nIPADDR=1\n") << none;
        QTest::newRow("no equals sign") << QByteArray("DEVICE\n") << none;
        QTest::newRow("quotes then trim") << QByteArray("IP=\"10.0.0.1 \" \n") << QStringList{"", "", "10.0.0.1", "", ""};
        QTest::newRow("quote inside value") << QByteArray("SLAVES=\"eth0\" \"eth1\"\nIP=10.\"0.0.1\n")
                                            << QStringList{"", "eth0 eth1", "10.0.0.1", "", ""};
        QTest::newRow("control characters trimmed") << QByteArray("MASK=\t\x01\"255.0.0.0\"\x1f\n")
                                                    << QStringList{"", "", "", "255.0.0.0", ""};
        QTest::newRow("equals in value") << QByteArray("GATEWAY=\"a=b\"\n") << QStringList{"", "", "", "", "a=b"};
        QTest::newRow("single quotes stay") << QByteArray("GATEWAY='1.2.3.4'\n")
                                            << QStringList{"", "", "", "", "'1.2.3.4'"};
        QTest::newRow("first line wins") << QByteArray("DEVICE=\"bond0\"\nDevice=\"bond7\"\n")
                                         << QStringList{"bond0", "", "", "", ""};
        QTest::newRow("CR line ends") << QByteArray("DEVICE=\"a\"\rIP=\"b\"\r")
                                      << QStringList{"a", "", "b", "", ""};
        QTest::newRow("CRLF and no final end") << QByteArray("DEVICE=\"a\"\r\nMASK=\"m\"\r\n\r\nGATEWAY=\"g\"")
                                               << QStringList{"a", "", "", "m", "g"};
        QTest::newRow("zero byte ends the text") << QByteArray("DEVICE=\"a\"\n") + '\0' + "IP=\"b\"\n"
                                                 << QStringList{"a", "", "", "", ""};
        QTest::newRow("all five, any order")
            << QByteArray("GATEWAY=\"g\"\nMASK=\"m\"\nIP=\"i\"\nSLAVES=\"s\"\nDEVICE=\"d\"\n")
            << QStringList{"d", "s", "i", "m", "g"};
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        ScratchRoot root;
        root.write(kBond, content);
        TBondInfo info = bond("old", "old", "old", "old", "old");   // every field overwritten
        QVERIFY(ReadBondConfig(info));
        QCOMPARE(fields(info), expected);
    }

    void unreadableFileRaisesOpenError()
    {
        ScratchRoot root;
        root.mkdir(kBond);   // there, but no file to read
        TBondInfo info = bond("a", "b", "c", "d", "e");
        try {
            ReadBondConfig(info);
            QFAIL("no error raised");
        } catch (const EFOpenError &e) {
            QCOMPARE(e.Message(), QStringLiteral("Cannot open file ") + root.path(kBond));
        }
        QCOMPARE(fields(info), QStringList({"a", "b", "c", "d", "e"}));
    }

    // The whole mode, setuid, setgid and sticky bits too, and both halves
    // of the owner: a file of root's in group adm stays root:adm although
    // the writer's own group is root.
    void replaceKeepsModeAndOwner_data()
    {
        QTest::addColumn<uint>("mode");
        QTest::addColumn<int>("uid");   // -1: the writer's own
        QTest::addColumn<int>("gid");
        const group *adm = ::getgrnam("adm");
        const int admGid = adm ? int(adm->gr_gid) : 4;
        QTest::newRow("another user and group") << 0640u << 4321 << 4322;
        QTest::newRow("root:adm") << 0640u << 0 << admGid;
        QTest::newRow("setuid, root:adm") << 04755u << 0 << admGid;
        QTest::newRow("setgid, root:adm") << 02750u << 0 << admGid;
        QTest::newRow("sticky") << 01644u << -1 << -1;
        QTest::newRow("all three, another user") << 07755u << 4321 << 4322;
    }
    void replaceKeepsModeAndOwner()
    {
        QFETCH(uint, mode);
        QFETCH(int, uid);
        QFETCH(int, gid);
        ScratchRoot root;
        root.write(kBond, "DEVICE=\"bond9\"\n# a comment\nMODE=\"4\"\n");
        const QByteArray path = QFile::encodeName(root.path(kBond));
        const bool privileged = ::geteuid() == 0;
        const bool owned = privileged && uid >= 0;
        if (owned)
            QCOMPARE(::chown(path.constData(), uid_t(uid), gid_t(gid)), 0);
        QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);   // after the chown, which clears setuid
        QCOMPARE(modeOf(root.path(kBond)), mode_t(mode));

        WriteBondConfig(bond("bond0", "eth0", "1.2.3.4", "255.0.0.0", ""));
        QVERIFY(!root.read(kBond).contains("comment"));   // the whole file replaced
        QVERIFY(root.read(kBond).startsWith("DEVICE=\"bond0\"\n"));
        QCOMPARE(modeOf(root.path(kBond)), mode_t(mode));
        if (owned) {
            struct stat st{};
            ::stat(path.constData(), &st);
            QCOMPARE(st.st_uid, uid_t(uid));
            QCOMPARE(st.st_gid, gid_t(gid));
        }
        QVERIFY(strays(root).isEmpty());
    }

    void replaceThroughSymlinkKeepsLink()
    {
        ScratchRoot root;
        root.write(QStringLiteral("/srv/bond.real"), "old\n");
        root.mkdir(kDir);
        QVERIFY(QFile::link(root.path(QStringLiteral("/srv/bond.real")), root.path(kBond)));
        WriteBondConfig(bond("bond0", "", "", "", ""));
        QVERIFY(QFileInfo(root.path(kBond)).isSymLink());
        QVERIFY(root.read(QStringLiteral("/srv/bond.real")).startsWith("DEVICE=\"bond0\"\n"));
    }

    void replaceSyncsNewFileBeforeRename()
    {
        ScratchRoot root;
        const QByteArray old = "DEVICE=\"old\"\n";
        root.write(kBond, old);
        struct Sync {
            QString path;
            bool regular;
            qint64 size;
            QByteArray target;   // what the bond file held at that moment
        };
        QList<Sync> syncs;
        SetFileSyncForTesting([&](int fd) {
            struct stat st{};
            ::fstat(fd, &st);
            syncs.append({QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd)), S_ISREG(st.st_mode),
                          qint64(st.st_size), root.read(kBond)});
            return ::fsync(fd);
        });
        const auto reset = qScopeGuard([] { SetFileSyncForTesting({}); });
        WriteBondConfig(bond("bond0", "eth0", "1.2.3.4", "255.0.0.0", ""));
        const QByteArray now = root.read(kBond);
        QVERIFY(now.startsWith("DEVICE=\"bond0\""));
        QCOMPARE(syncs.size(), 2);
        // The new text, whole, in a file of its own beside the old one, which
        // still stands ...
        QVERIFY(syncs[0].regular);
        QCOMPARE(QFileInfo(syncs[0].path).path(), root.path(kDir));
        QVERIFY(syncs[0].path != root.path(kBond));
        QCOMPARE(syncs[0].size, qint64(now.size()));
        QCOMPARE(syncs[0].target, old);
        // ... then the directory, which holds the rename.
        QVERIFY(!syncs[1].regular);
        QCOMPARE(syncs[1].path, root.path(kDir));
        QVERIFY(strays(root).isEmpty());
    }

    void readerNeverSeesMissingOrShortFile()
    {
        // The bonding script may read the file at any moment: while it is
        // replaced over and over, every open finds it, whole, old or new.
        ScratchRoot root;
        SetFileSyncForTesting([](int) { return 0; });   // the disk's pace is not the point here
        const auto reset = qScopeGuard([] { SetFileSyncForTesting({}); });
        const TBondInfo a = bond("bond0", "eth0 eth1", "10.0.0.5", "255.255.255.0", "10.0.0.1");
        const TBondInfo b = bond("bond1", "eth2", "192.168.100.200", "255.255.0.0", "");
        WriteBondConfig(a);
        const QByteArray textA = root.read(kBond);
        WriteBondConfig(b);
        const QByteArray textB = root.read(kBond);
        const QByteArray path = QFile::encodeName(root.path(kBond));

        std::atomic<bool> done{false}, failed{false};
        QByteArray seen;
        int reads = 0;
        std::thread reader([&] {
            char buf[4096];
            while (!done.load()) {
                const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
                if (fd < 0) {
                    seen = "no file: " + QByteArray(std::strerror(errno));
                    break;
                }
                QByteArray got;
                ssize_t n;
                while ((n = ::read(fd, buf, sizeof buf)) > 0)
                    got.append(buf, n);
                ::close(fd);
                if (got != textA && got != textB) {
                    seen = "read: " + got;
                    break;
                }
                ++reads;
            }
            failed = !seen.isEmpty();
        });
        for (int i = 0; i < 3000 && !failed.load(); ++i)
            WriteBondConfig(i % 2 ? b : a);
        done = true;
        reader.join();
        QVERIFY2(seen.isEmpty(), seen.constData());
        QVERIFY(reads > 100);
    }

    void failedWriteLeavesOldFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("directory is a file") << "dirIsFile";
        QTest::newRow("write cut by file size limit") << "sizeLimit";
        QTest::newRow("read-only directory") << "readOnly";
        QTest::newRow("directory in place of the file") << "targetIsDir";
        QTest::newRow("data cannot be synced") << "syncFails";
        QTest::newRow("mode cannot be set") << "modeFails";
        QTest::newRow("file is a mount point: no rename") << "mountPoint";
    }
    void failedWriteLeavesOldFile()
    {
        QFETCH(QString, how);
        ScratchRoot root;
        const QByteArray old = "DEVICE=\"bond0\"\nSLAVES=\"eth0 eth1\"\n";
        std::function<void()> undo = [] {};
        auto restore = qScopeGuard([&] { undo(); });

        if (how == QLatin1String("dirIsFile")) {
            root.write(kDir, "not a directory\n");
        } else if (how == QLatin1String("sizeLimit")) {
            root.write(kBond, old);
            rlimit saved{};
            ::getrlimit(RLIMIT_FSIZE, &saved);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = 16;   // the new text is longer
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
            undo = [saved, oldHandler] {
                ::setrlimit(RLIMIT_FSIZE, &saved);
                std::signal(SIGXFSZ, oldHandler);
            };
        } else if (how == QLatin1String("readOnly")) {
            root.write(kBond, old);
            const QByteArray dir = QFile::encodeName(root.path(kDir));
            if (::geteuid() != 0) {
                QCOMPARE(::chmod(dir.constData(), 0555), 0);
                undo = [dir] { ::chmod(dir.constData(), 0755); };
            } else {
                if (::mount(dir.constData(), dir.constData(), nullptr, MS_BIND, nullptr) != 0)
                    QSKIP("cannot bind-mount here: a privileged writer ignores permission bits");
                undo = [dir] { ::umount2(dir.constData(), MNT_DETACH); };
                if (::mount(nullptr, dir.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                    QSKIP("cannot make a read-only bind mount here");
            }
        } else if (how == QLatin1String("syncFails")) {
            root.write(kBond, old);
            SetFileSyncForTesting([](int) {
                errno = EIO;
                return -1;
            });
            undo = [] { SetFileSyncForTesting({}); };
        } else if (how == QLatin1String("modeFails")) {
            root.write(kBond, old);
            SetFileModeForTesting([](int, mode_t) {
                errno = EPERM;
                return -1;
            });
            undo = [] { SetFileModeForTesting({}); };
        } else if (how == QLatin1String("mountPoint")) {
            if (!g_privateMounts)
                QSKIP("needs root and a private mount namespace: a file is mounted over the bond file");
            root.write(kBond, old);
            root.write(QStringLiteral("/srv/bond.over"), old);
            const QByteArray target = QFile::encodeName(root.path(kBond));
            if (::mount(QFile::encodeName(root.path(QStringLiteral("/srv/bond.over"))).constData(), target.constData(),
                        nullptr, MS_BIND, nullptr)
                != 0)
                QSKIP("cannot bind-mount a file here");
            undo = [target] { ::umount2(target.constData(), MNT_DETACH); };
        } else {
            root.write(kBond + QStringLiteral("/keep"), old);
        }

        try {
            WriteBondConfig(bond("bond1", "eth2 eth3", "10.1.1.1", "255.255.0.0", "10.1.0.1"));
            QFAIL("no error raised");
        } catch (const EFCreateError &e) {
            QCOMPARE(e.Message(), QStringLiteral("Cannot create file ") + root.path(kBond));
        }
        undo();
        undo = [] {};

        if (how == QLatin1String("dirIsFile")) {
            QCOMPARE(root.read(kDir), QByteArray("not a directory\n"));
        } else if (how == QLatin1String("targetIsDir")) {
            QCOMPARE(root.read(kBond + QStringLiteral("/keep")), old);
        } else {
            QCOMPARE(root.read(kBond), old);
            QVERIFY(strays(root).isEmpty());
        }
    }

    // ---- host name -------------------------------------------------------------

    void hostNameIsTheKernels()
    {
        utsname u{};
        QCOMPARE(::uname(&u), 0);
        QCOMPARE(GetLocalHostName(), QString::fromLocal8Bit(u.nodename));
    }

    void hostNameLengths_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("one character") << QByteArray("h");
        QTest::newRow("63 characters") << QByteArray(63, 'a');
        QTest::newRow("64 characters, no room for the end mark") << QByteArray(63, 'b') + 'Z';
    }
    void hostNameLengths()
    {
        QFETCH(QByteArray, name);
        const int home = ::open("/proc/thread-self/ns/uts", O_RDONLY | O_CLOEXEC);
        if (home < 0 || ::unshare(CLONE_NEWUTS) != 0) {
            if (home >= 0)
                ::close(home);
            QSKIP("no private host name namespace here");
        }
        auto back = qScopeGuard([home] {
            if (::setns(home, CLONE_NEWUTS) != 0)
                qFatal("cannot return to the original host name namespace");
            ::close(home);
        });
        QCOMPARE(::sethostname(name.constData(), size_t(name.size())), 0);
        QCOMPARE(GetLocalHostName(), QString::fromLatin1(name));
    }
};

QTEST_GUILESS_MAIN(TestBond)
#include "tst_bond.moc"
