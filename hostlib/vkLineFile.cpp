#include "vkLineFile.h"

namespace {

char FoldAscii(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool SameNameAscii(const QByteArray &line, qsizetype nameLen, const QByteArray &name)
{
    if (nameLen != name.size())
        return false;
    for (qsizetype i = 0; i < nameLen; ++i)
        if (FoldAscii(line.at(i)) != FoldAscii(name.at(i)))
            return false;
    return true;
}

// The next blank-separated field of Line from From, as CutToken with a
// blank cuts it (empty when none is left); From moves past it.
QByteArrayView NextField(const QByteArray &Line, qsizetype &From)
{
    qsizetype start = From;
    while (start < Line.size() && Line.at(start) == ' ')
        ++start;
    qsizetype stop = Line.indexOf(' ', start);
    if (stop < 0)
        stop = Line.size();
    From = stop;
    return QByteArrayView(Line).sliced(start, stop - start);
}

} // namespace

int IndexOfName(const TLines &Lines, const QByteArray &Name)
{
    for (int i = 0; i < Lines.size(); ++i) {
        const qsizetype eq = Lines[i].indexOf('=');
        if (eq >= 0 && SameNameAscii(Lines[i], eq, Name))
            return i;
    }
    return -1;
}

QByteArray ValueOf(const TLines &Lines, const QByteArray &Name)
{
    const int i = IndexOfName(Lines, Name);
    return i < 0 ? QByteArray() : Lines[i].mid(Lines[i].indexOf('=') + 1);
}

void SetValue(TLines &Lines, const QByteArray &Name, const QByteArray &Value)
{
    const int i = IndexOfName(Lines, Name);
    if (Value.isEmpty()) {
        if (i >= 0)
            Lines.removeAt(i);
        return;
    }
    const QByteArray line = Name + '=' + Value;
    if (i >= 0)
        Lines[i] = line;
    else
        Lines << line;
}

void DropFstabLines(TLines &Lines, const QByteArray &Dev, const QByteArray &MountPoint)
{
    // One pass that keeps what stays: a line is judged once, whatever was
    // deleted before it.
    qsizetype kept = 0;
    for (qsizetype i = 0; i < Lines.size(); ++i) {
        qsizetype at = 0;
        const bool drop = NextField(Lines[i], at) == Dev || NextField(Lines[i], at) == MountPoint;
        if (!drop) {
            if (kept != i)
                Lines[kept] = std::move(Lines[i]);
            ++kept;
        }
    }
    Lines.resize(kept);
}
