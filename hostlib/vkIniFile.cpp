#include "vkIniFile.h"

#include "vkFileUtils.h"

#include <QList>

namespace {
// The runtime's Trim: everything up to and including the blank goes, so a
// CR left by a DOS line end or a tab is trimmed as well.
QString TrimBlanks(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b).toString();
}
} // namespace

bool IniStrToInt(const QString &S, int &Value)
{
    QStringView s(S);
    bool negative = false;
    if (!s.isEmpty() && (s[0] == QLatin1Char('+') || s[0] == QLatin1Char('-'))) {
        negative = s[0] == QLatin1Char('-');
        s = s.mid(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == QLatin1Char('0') && (s[1] == QLatin1Char('x') || s[1] == QLatin1Char('X'))) {
        base = 16;
        s = s.mid(2);
    }
    if (s.isEmpty())
        return false;
    quint64 v = 0;
    for (QChar c : s) {
        const ushort u = c.unicode();
        int d;
        if (u >= '0' && u <= '9')
            d = u - '0';
        else if (base == 16 && u >= 'a' && u <= 'f')
            d = u - 'a' + 10;
        else if (base == 16 && u >= 'A' && u <= 'F')
            d = u - 'A' + 10;
        else
            return false;
        v = v * base + d;
        // Decimal must fit an int; hexadecimal may use all 32 bits.
        if (v > (base == 16 ? 0xFFFFFFFFull : 0x80000000ull))
            return false;
    }
    if (base == 10 && !negative && v > 0x7FFFFFFFull)
        return false;
    const quint32 bits = quint32(v);
    Value = negative ? int(0u - bits) : int(bits);
    return true;
}

namespace {
// Lines end at LF, CR or CR LF.
QList<QStringView> SplitLines(const QString &text)
{
    QList<QStringView> lines;
    const QStringView all(text);
    qsizetype start = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const QChar c = all.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        lines << all.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < all.size() && all.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    lines << all.mid(start);
    return lines;
}
} // namespace

TIniFile::TIniFile(const QString &FileName, TCase NameCase)
    : FCase(NameCase == CaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive)
{
    QByteArray bytes;
    if (FileName.isEmpty() || !ReadWholeFile(FileName, bytes))
        return;
    // An editor's byte-order mark would otherwise become part of the first
    // section's name.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    // Files written on a machine with a legacy locale (GB2312, Big5, ...) are
    // in that locale's encoding.
    const QString text = DecodeLocalText(bytes);

    Section *current = nullptr;
    for (QStringView raw : SplitLines(text)) {
        const QString line = TrimBlanks(raw);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.size() >= 2 && line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            FSections.push_back({TrimBlanks(QStringView(line).mid(1, line.size() - 2)), {}});
            current = &FSections.back();
            continue;
        }
        if (!current)
            continue;   // before the first section
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;   // not an entry
        current->Entries.push_back({TrimBlanks(QStringView(line).left(eq)),
                                    TrimBlanks(QStringView(line).mid(eq + 1))});
    }
}

const TIniFile::Section *TIniFile::FindSection(const QString &Name) const
{
    for (const Section &s : FSections)
        if (s.Name.compare(Name, FCase) == 0)
            return &s;
    return nullptr;
}

bool TIniFile::SectionExists(const QString &Section) const
{
    return FindSection(Section) != nullptr;
}

bool TIniFile::SectionExistsAnyCase(const QString &Section) const
{
    for (const auto &s : FSections)
        if (s.Name.compare(Section, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString TIniFile::ReadString(const QString &Section, const QString &Ident, const QString &Default) const
{
    if (const auto *s = FindSection(Section))
        for (const Entry &e : s->Entries)
            if (e.Name.compare(Ident, FCase) == 0)
                return e.Value;
    return Default;
}

int TIniFile::ReadInteger(const QString &Section, const QString &Ident, int Default) const
{
    int v = Default;
    if (!IniStrToInt(ReadString(Section, Ident, QString()), v))
        return Default;
    return v;
}

bool TIniFile::ReadBool(const QString &Section, const QString &Ident, bool Default) const
{
    int v = 0;
    if (!IniStrToInt(ReadString(Section, Ident, QString()), v))
        return Default;
    return v != 0;
}

QStringList TIniFile::ReadSectionValues(const QString &Section) const
{
    QStringList lines;
    if (const auto *s = FindSection(Section))
        for (const Entry &e : s->Entries)
            lines << e.Name + QLatin1Char('=') + e.Value;
    return lines;
}
