#pragma once
// The configuration tool's key=value files (md.conf, mount.conf) as whole
// lists of lines (LoadLineBytes / SaveLineBytes, vkFileUtils.h), edited by
// key; and its one edit of /etc/fstab.
#include "vkFileUtils.h"

#include <QByteArray>
#include <QList>

using TLines = QList<QByteArray>;

// The first line whose text before its first "=" equals Name, ASCII letters
// compared without case; -1 when none.
int IndexOfName(const TLines &Lines, const QByteArray &Name);
// Everything after the first "=" of that line; empty when there is none.
QByteArray ValueOf(const TLines &Lines, const QByteArray &Name);
// A non-empty Value replaces that line in place or becomes a new last line;
// an empty one deletes the line.
void SetValue(TLines &Lines, const QByteArray &Name, const QByteArray &Value);

// Deletes every fstab line whose first blank-separated field is Dev, or
// whose second is MountPoint (exact bytes; only spaces separate, so a line
// laid out with tabs is one field). The other lines keep their bytes and order.
void DropFstabLines(TLines &Lines, const QByteArray &Dev, const QByteArray &MountPoint);
