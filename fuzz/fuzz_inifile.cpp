// The INI reader on arbitrary bytes, as the three kinds of file use it: the
// font file (case-insensitive names, "font:<locale>" sections read up to
// entry 128), the language file (settings in "General", one language
// section loaded as sorted entry lines) and the page switches (integers).
#include "fuzz_support.h"
#include "vkClxUtils.h"
#include "vkIniFile.h"
#include "vkLangUtils.h"

#include <QApplication>

namespace {
bool trimmed(const QString &s)
{
    return s.isEmpty() || (s.front().unicode() > 0x20 && s.back().unicode() > 0x20);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char arg0[] = "fuzz_inifile";
    static char *argv[] = {arg0, nullptr};
    static const bool offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    (void)offscreen;

    const QString dir = FuzzRoot() + QStringLiteral("/opt/vk/");
    FuzzWrite(QStringLiteral("/opt/vk/vkpanel.ini"), data, size);
    const QString file = dir + QStringLiteral("vkpanel.ini");

    for (auto nameCase : {TIniFile::CaseSensitive, TIniFile::CaseInsensitive}) {
        const TIniFile ini(file, nameCase);
        for (const QString &section : {QStringLiteral("General"), QStringLiteral("EN"), QStringLiteral("font:zh_cn")}) {
            const QStringList lines = ini.ReadSectionValues(section);
            FuzzCheck(lines.isEmpty() || ini.SectionExists(section));
            for (const QString &line : lines) {
                const qsizetype eq = line.indexOf(QLatin1Char('='));
                FuzzCheck(eq >= 0);
                const QString name = line.left(eq);
                FuzzCheck(trimmed(name) && trimmed(line.mid(eq + 1)));
                // The first entry of a name is the one a lookup finds.
                if (name.indexOf(QLatin1Char('=')) < 0)
                    FuzzCheck(!ini.ReadString(section, name, QStringLiteral("\x01")).startsWith(QLatin1Char('\x01')));
            }
            int v = 7;
            const int got = ini.ReadInteger(section, QStringLiteral("FontSize"), v);
            (void)got;
            (void)ini.ReadBool(section, QStringLiteral("tsDisk"), true);
        }
    }

    // The language service and the font set-up over the same bytes.
    ResetLanguageForTesting();
    InitLanguage(QStringLiteral("vkpanel.ini"));
    FuzzCheck(Translations.has_value());
    const QString msg = GetLangStr(QStringLiteral("NoInst"), QStringLiteral("-"));
    FuzzCheck(!msg.isEmpty());
    (void)GetTranslation(QStringLiteral("fmConMain"), QStringLiteral("btnOK"));
    SetupLocaleFont(file, QStringLiteral("2052"));
    ResetLanguageForTesting();
    return 0;
}
