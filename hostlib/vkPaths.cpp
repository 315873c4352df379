#include "vkPaths.h"

#include <QFile>
#include <cerrno>
#include <unistd.h>

namespace {
QString g_root;          // empty: the real root
QString g_appFileName;   // empty: the real program file
}

QString SysPath(const QString &path)
{
    if (g_root.isEmpty())
        return path;
    return g_root + path;
}

QByteArray SysPathBytes(const QString &path)
{
    return QFile::encodeName(SysPath(path));
}

bool FileExists(const QString &path)
{
    if (path.isEmpty()) {
        errno = ENOENT;   // as euidaccess("") would say; callers report errno
        return false;
    }
    return euidaccess(QFile::encodeName(path).constData(), F_OK) == 0;
}

void SetSystemRootForTesting(const QString &root)
{
    g_root = root;
    while (g_root.endsWith(QLatin1Char('/')))
        g_root.chop(1);
}

QString SystemRootForTesting() { return g_root; }

void SetAppFileNameForTesting(const QString &fileName) { g_appFileName = fileName; }

QString AppFileNameOverride() { return g_appFileName; }
