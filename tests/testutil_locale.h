#pragma once
// Switches the locale that the environment names, for code that asks the C
// library with setlocale(LC_CTYPE, ""). Locale names are made up on the spot
// (a private locale directory on LOCPATH whose entries carry the C library's
// own UTF-8 character data), so no language packs need to be installed.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class FakeLocales {
public:
    FakeLocales();
    ~FakeLocales();
    // False when this machine has no UTF-8 character data to copy.
    bool available() const { return !FSource.isEmpty(); }
    // LC_ALL = Name (LC_CTYPE and LANG unset); Name becomes a loadable
    // locale unless it carries a character set other than UTF-8.
    void use(const QString &Name);
    // LC_ALL names a locale that cannot be loaded: setlocale gives no name.
    void useMissing();
    // No locale variables at all: the C locale.
    void useUnset();
    // LC_ALL = Name, a locale whose number format has DecimalPoint (a
    // character such as ','), compiled with localedef; the process's
    // LC_NUMERIC is switched to it as the toolkit's start does, and back to
    // C when this object goes. False when localedef cannot make it.
    bool useNumeric(const QString &Name, QChar DecimalPoint);

private:
    QTemporaryDir FDir;
    QString FSource;
    struct Saved { const char *Name; bool Set; QByteArray Value; };
    Saved FSaved[4];
    QByteArray FOldCType;
};
