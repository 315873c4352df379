#pragma once
// The configuration tool's own text files (md.conf, mount.conf, /etc/fstab)
// as whole lists of lines: loaded whole, edited in memory, replaced whole.
// Lines are kept as bytes, so text the tool does not touch comes back
// exactly as it was, whatever its encoding.
#include <QByteArray>
#include <QList>
#include <QString>

using TLines = QList<QByteArray>;

// The file's lines, split at LF, CR LF or CR; a last line without its line
// end counts too. EFOpenError("Cannot open file "<Path>". <reason>") when the
// file cannot be read.
TLines LoadLines(const QString &Path);
// Replaces the file with Lines, each ended by a line feed, so that a reader
// sees the old text or the new, never a mix (a link is followed to its
// file). On failure the old file is whole and EFCreateError("Cannot create
// file "<Path>". <reason>") is raised.
void SaveLines(const QString &Path, const TLines &Lines);

// Lines of the form name=value: the first line whose text before its first
// "=" equals Name, ASCII letters compared without case; -1 when none.
int IndexOfName(const TLines &Lines, const QByteArray &Name);
// Everything after the first "=" of that line; empty when there is none.
QByteArray ValueOf(const TLines &Lines, const QByteArray &Name);
// A non-empty Value replaces that line in place or becomes a new last line;
// an empty one deletes the line.
void SetValue(TLines &Lines, const QByteArray &Name, const QByteArray &Value);
