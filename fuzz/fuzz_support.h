#pragma once
// Shared set-up of the fuzz targets whose parsers read files: a scratch
// system root (on /dev/shm when there is one, so a run does not wear a disk)
// that every system path and the program directory point into, and a writer
// that puts the fuzzer's input at one of those paths.
#include "vkPaths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

inline const QString &FuzzRoot()
{
    static const QString root = [] {
        QByteArray tmpl = QDir(QStringLiteral("/dev/shm")).exists() ? "/dev/shm/vkfuzz.XXXXXX"
                                                                     : "/tmp/vkfuzz.XXXXXX";
        if (!::mkdtemp(tmpl.data()))
            std::abort();
        const QString r = QFile::decodeName(tmpl);
        SetSystemRootForTesting(r);
        SetAppFileNameForTesting(r + QStringLiteral("/opt/vk/vkpanel"));
        QDir().mkpath(r + QStringLiteral("/opt/vk"));
        // Removed at exit, whichever way libFuzzer ends the run.
        static const QString removeAtExit = r;
        std::atexit([] { QDir(removeAtExit).removeRecursively(); });
        return r;
    }();
    return root;
}

// Writes the input at a system path ("/proc/modules") under the scratch root.
inline void FuzzWrite(const QString &sysPath, const uint8_t *data, size_t size)
{
    const QString path = FuzzRoot() + sysPath;
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || f.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
}

inline void FuzzCheck(bool ok)
{
    if (!ok)
        __builtin_trap();
}
