// The INI reader of the font file, the language files and the page switches.
#include "vkIniFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>

namespace {
QString fixture(const char *name)
{
    return QStringLiteral(TEST_DATA_DIR "/ini/") + QLatin1String(name);
}
} // namespace

class TestIniFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readString_data()
    {
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("ident");
        QTest::addColumn<QString>("expected");
        const QString dflt = QStringLiteral("<default>");
        auto row = [&](const char *tag, bool cs, const char *sec, const char *id, const QString &exp) {
            QTest::newRow(tag) << cs << QString::fromUtf8(sec) << QString::fromUtf8(id) << exp;
        };
        row("trimmed name and value", true, "General", "Name", QStringLiteral("First Value"));
        row("tabs trimmed", true, "General", "Tabbed", QStringLiteral("tab value"));
        row("empty value is not the default", true, "General", "Empty", QString(""));
        row("value keeps later equals signs", true, "General", "Eq", QStringLiteral("a=b=c"));
        row("second section of a name unread", true, "General", "Other", dflt);
        row("comment line is no entry", true, "General", "Hidden", dflt);
        row("comment marker kept in name", true, "General", ";Hidden", dflt);
        row("line without = is no entry", true, "General", "a line without an equals sign", dflt);
        row("lines before first section", true, "General", "orphan", dflt);
        row("section name trimmed", true, "Spaced Section", "Key", QStringLiteral("spaced"));
        row("exact case: other-case section", true, "general", "Name", QStringLiteral("lower-case twin"));
        row("exact case: key case differs", true, "General", "name", dflt);
        row("any case: first section wins", false, "GENERAL", "NAME", QStringLiteral("First Value"));
        row("any case: key", false, "general", "eq", QStringLiteral("a=b=c"));
        row("missing section", false, "Nowhere", "Name", dflt);
        row("empty section", false, "Empty Section", "Name", dflt);
    }
    void readString()
    {
        QFETCH(bool, caseSensitive);
        QFETCH(QString, section);
        QFETCH(QString, ident);
        QFETCH(QString, expected);
        const TIniFile ini(fixture("rules.ini"),
                           caseSensitive ? TIniFile::CaseSensitive : TIniFile::CaseInsensitive);
        const QString got = ini.ReadString(section, ident, QStringLiteral("<default>"));
        QCOMPARE(got, expected);
        QCOMPARE(got.isNull(), false);
    }

    void lineEndsAndLegacyEncoding()
    {
        QTemporaryDir dir;
        auto write = [&](const char *name, const QByteArray &bytes) {
            QFile f(dir.filePath(QLatin1String(name)));
            f.open(QIODevice::WriteOnly);
            f.write(bytes);
            return f.fileName();
        };
        // Old editors end lines with CR alone.
        const TIniFile cr(write("cr.ini", "[General]\rLAN=EN\rFontSize=12\r"), TIniFile::CaseSensitive);
        QCOMPARE(cr.ReadString(QStringLiteral("General"), QStringLiteral("LAN"), {}), QStringLiteral("EN"));
        QCOMPARE(cr.ReadInteger(QStringLiteral("General"), QStringLiteral("FontSize"), 9), 12);

        // A file in the locale's legacy encoding ("配置" in GB2312).
        const QByteArray gb = "[GB]\nfmMain=\xC5\xE4\xD6\xC3\n";
        const QString locales = dir.filePath(QStringLiteral("locales"));
        QDir().mkpath(locales);
        if (QProcess::execute(QStringLiteral("localedef"),
                              {QStringLiteral("-i"), QStringLiteral("zh_CN"), QStringLiteral("-f"),
                               QStringLiteral("GB2312"), locales + QStringLiteral("/zh_CN.GB2312")})
            != 0)
            QSKIP("localedef cannot build a GB2312 locale here (package locales missing)");
        const QByteArray oldLocale = setlocale(LC_CTYPE, nullptr);
        const QByteArray oldPath = qgetenv("LOCPATH");
        qputenv("LOCPATH", QFile::encodeName(locales));
        QVERIFY(setlocale(LC_CTYPE, "zh_CN.GB2312"));
        const TIniFile legacy(write("gb.ini", gb), TIniFile::CaseSensitive);
        setlocale(LC_CTYPE, oldLocale.constData());
        if (oldPath.isNull())
            qunsetenv("LOCPATH");
        else
            qputenv("LOCPATH", oldPath);
        QCOMPARE(legacy.ReadString(QStringLiteral("GB"), QStringLiteral("fmMain"), {}),
                 QString::fromUtf8("配置"));
    }

    void sectionExistence()
    {
        const TIniFile exact(fixture("rules.ini"), TIniFile::CaseSensitive);
        QVERIFY(exact.SectionExists(QStringLiteral("General")));
        QVERIFY(exact.SectionExists(QStringLiteral("Empty Section")));
        QVERIFY(!exact.SectionExists(QStringLiteral("GENERAL")));
        QVERIFY(exact.SectionExistsAnyCase(QStringLiteral("GENERAL")));
        QVERIFY(!exact.SectionExistsAnyCase(QStringLiteral("Spaced")));
        const TIniFile anyCase(fixture("rules.ini"), TIniFile::CaseInsensitive);
        QVERIFY(anyCase.SectionExists(QStringLiteral("spaced section")));
    }

    void integersAndBooleans_data()
    {
        QTest::addColumn<QString>("ident");
        QTest::addColumn<int>("integer");
        QTest::addColumn<bool>("boolean");
        // Defaults are 77 and true, so a fallback is visible.
        QTest::newRow("hex") << "Hex" << 31 << true;
        QTest::newRow("hex upper prefix") << "HexUpper" << 255 << true;
        QTest::newRow("negative") << "Negative" << -42 << true;
        QTest::newRow("zero is false") << "Zero" << 0 << false;
        QTest::newRow("unit suffix") << "Unit" << 77 << true;
        QTest::newRow("beyond int") << "TooBig" << 77 << true;
        QTest::newRow("word") << "Word" << 77 << true;
        QTest::newRow("empty") << "Empty" << 77 << true;
        QTest::newRow("missing") << "Nothing" << 77 << true;
    }
    void integersAndBooleans()
    {
        QFETCH(QString, ident);
        QFETCH(int, integer);
        QFETCH(bool, boolean);
        const TIniFile ini(fixture("rules.ini"), TIniFile::CaseSensitive);
        QCOMPARE(ini.ReadInteger(QStringLiteral("General"), ident, 77), integer);
        QCOMPARE(ini.ReadBool(QStringLiteral("General"), ident, true), boolean);
    }

    void integerRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("int max") << "2147483647" << true << 2147483647;
        QTest::newRow("above int max") << "2147483648" << false << 0;
        QTest::newRow("hex all bits") << "0xFFFFFFFF" << true << -1;
        QTest::newRow("hex beyond 32 bits") << "0x100000000" << false << 0;
        QTest::newRow("negative hex") << "-0x10" << true << -16;
        QTest::newRow("prefix only") << "0x" << false << 0;
        QTest::newRow("dollar hex") << "$10" << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
    }
    void integerRule()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        int got = 0;
        QCOMPARE(IniStrToInt(text, got), ok);
        QCOMPARE(got, value);
    }

    void sectionValuesAreNormalisedEntries()
    {
        const TIniFile ini(fixture("rules.ini"), TIniFile::CaseSensitive);
        const QStringList expected = {
            QStringLiteral("Name=First Value"), QStringLiteral("Name=second entry of the same name"),
            QStringLiteral("Empty="), QStringLiteral("Eq=a=b=c"), QStringLiteral("Hex=0x1F"),
            QStringLiteral("HexUpper=0XfF"), QStringLiteral("Negative=-42"), QStringLiteral("Unit=12pt"),
            QStringLiteral("TooBig=2147483648"), QStringLiteral("Zero=0"), QStringLiteral("Word=yes"),
            QStringLiteral("Tabbed=tab value")};
        QCOMPARE(ini.ReadSectionValues(QStringLiteral("General")), expected);
        QVERIFY(ini.ReadSectionValues(QStringLiteral("Empty Section")).isEmpty());
        QVERIFY(ini.ReadSectionValues(QStringLiteral("Nowhere")).isEmpty());
    }

    void dosLineEndsAndByteOrderMark()
    {
        const TIniFile ini(fixture("crlf_bom.ini"), TIniFile::CaseSensitive);
        QVERIFY(ini.SectionExists(QStringLiteral("General")));
        QCOMPARE(ini.ReadString(QStringLiteral("General"), QStringLiteral("Name"), {}),
                 QStringLiteral("dos line"));
        QCOMPARE(ini.ReadString(QStringLiteral("Next"), QStringLiteral("Name"), {}), QStringLiteral("next"));
    }

    void missingFileReadsEmpty()
    {
        const TIniFile ini(fixture("no-such-file.ini"), TIniFile::CaseInsensitive);
        QVERIFY(!ini.SectionExistsAnyCase(QStringLiteral("General")));
        QCOMPARE(ini.ReadInteger(QStringLiteral("General"), QStringLiteral("X"), 5), 5);
        const TIniFile directory(QStringLiteral(TEST_DATA_DIR), TIniFile::CaseInsensitive);
        QVERIFY(directory.ReadSectionValues(QStringLiteral("General")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
