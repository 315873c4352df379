#pragma once
// The one place where the system's own absolute paths (/proc, /etc, /dev,
// /var/run, /usr/sbin, /lib/modules, /tmp) meet the file system.
//
// A production process always works on the real root: nothing in the
// environment or on the command line can move it. Tests call
// SetSystemRootForTesting() to point every such path at a scratch directory.
#include <QByteArray>
#include <QString>

// The file system location of the system path `path` (absolute, e.g. "/proc/partitions").
QString SysPath(const QString &path);
// Same, as the local 8-bit bytes that open(2) wants.
QByteArray SysPathBytes(const QString &path);

// Existence test for a path already mapped (or the program's own files):
// euidaccess(F_OK), so any directory entry counts, a directory too.
bool FileExists(const QString &path);

// --- test seams ------------------------------------------------------------
// Root prefix for SysPath(); empty restores the real root.
void SetSystemRootForTesting(const QString &root);
QString SystemRootForTesting();
// Replaces the running program's file name that GetAppFileName() reports
// (and with it GetAppDir()); empty restores the real one.
void SetAppFileNameForTesting(const QString &fileName);
QString AppFileNameOverride();
