#include "vkLineFile.h"

#include "vkErrors.h"
#include "vkFileUtils.h"

#include <cerrno>
#include <cstring>

namespace {

QString SystemErrorText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

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

} // namespace

TLines LoadLines(const QString &Path)
{
    QByteArray text;
    if (!ReadWholeFile(Path, text)) {
        const int err = errno;
        throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(Path, SystemErrorText(err)));
    }
    TLines lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\n' && c != '\r')
            continue;
        lines << text.mid(start, i - start);
        if (c == '\r' && i + 1 < text.size() && text.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

void SaveLines(const QString &Path, const TLines &Lines)
{
    QByteArray text;
    for (const QByteArray &line : Lines)
        text += line + '\n';
    if (!ReplaceFileAtomically(Path, text)) {
        const int err = errno;
        throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2").arg(Path, SystemErrorText(err)));
    }
}

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
