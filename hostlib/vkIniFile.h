#pragma once
// The INI reader of the system's own files (font file, language files,
// page switches). Lines are trimmed; empty lines and lines starting with ";"
// are ignored; "[name]" starts a section; "name=value" is an entry (both
// sides trimmed); lines before the first section are ignored; a lookup takes
// the first section and in it the first entry of the name. Whether names
// match with letter case is chosen per file.
#include <QString>
#include <QStringList>
#include <vector>

// The integer rule of these files: an optional sign, then decimal digits, or
// hexadecimal digits after "0x"/"0X" (up to 32 bits, wrapping like the
// runtime). False, with Value untouched, for anything else.
bool IniStrToInt(const QString &S, int &Value);

class TIniFile {
public:
    enum TCase { CaseSensitive, CaseInsensitive };
    // A missing or unreadable file reads as empty.
    TIniFile(const QString &FileName, TCase NameCase);

    bool SectionExists(const QString &Section) const;
    // Always case-insensitive (HasSection's rule).
    bool SectionExistsAnyCase(const QString &Section) const;
    QString ReadString(const QString &Section, const QString &Ident, const QString &Default) const;
    // Decimal, or hexadecimal after "0x"/"0X"; Default when missing or not an integer.
    int ReadInteger(const QString &Section, const QString &Ident, int Default) const;
    // ReadInteger(...) != 0, Default when missing or not an integer.
    bool ReadBool(const QString &Section, const QString &Ident, bool Default) const;
    // The entry lines "name=value" of the first section of that name.
    QStringList ReadSectionValues(const QString &Section) const;

private:
    struct Entry { QString Name, Value; };
    struct Section { QString Name; std::vector<Entry> Entries; };
    const Section *FindSection(const QString &Name) const;
    std::vector<Section> FSections;
    Qt::CaseSensitivity FCase;
};
