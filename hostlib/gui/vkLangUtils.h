#pragma once
// The language service: one section of the program's language file, loaded
// at start, gives the windows' texts, the messages and the language font.
#include "vkClxUtils.h"

#include <QString>
#include <QStringList>
#include <optional>

class QObject;
class QWidget;

// The chosen section's entry lines ("name=value"), sorted ignoring case;
// no list before InitLanguage.
extern std::optional<QStringList> Translations;
extern QString LangFontName;       // "General"/"FontName"
extern QString LangCharSetName;    // "General"/"CharSet"
extern int LangFontSize;           // "General"/"FontSize", 9 by default
extern TFontCharSet LangCharset;   // from LangCharSetName, fcsDefaultCharSet by default

// Loads the settings and the chosen section of LangFile (a bare name is
// looked up in the program directory). Once per program, before any window
// is translated.
void InitLanguage(const QString &LangFile);
// Puts the translated caption on the window and on its components (keys
// "<window>" and "<window>.<component>") and the language font on them.
void TranslateForm(QWidget *Form);
// The value of "Section.Ident" (or of "Section" when Ident is empty); empty
// when missing.
QString GetTranslation(const QString &Section, const QString &Ident);
// The message "General.Key", else Default (also when the stored text is empty).
QString GetLangStr(const QString &Key, const QString &Default);
// "GB", "B5", "KR", "JP" or "EN" by the process's character-type locale
// (which it switches to the environment's).
QString GetLanguageCode();
// CHINESEBIG5_CHARSET, HANGEUL_CHARSET, GB2312_CHARSET (any case) to the
// Chinese, Korean and Simplified Chinese sets; anything else fcsUnicode.
TFontCharSet CharsetFromName(const QString &Name);
// Replaces Translations with the entry lines of one section of the file.
void LoadLanguageSection(const QString &FileName, const QString &Section);
// Whether the language file InitLanguage has open holds the section (any
// letter case). False outside InitLanguage.
bool HasSection(const QString &Section);
// The language font (size, family when set, character set) on one object
// that has a font; anything else is left alone.
void ApplyFont(QObject *Component);

// Back to the state before InitLanguage, for tests.
void ResetLanguageForTesting();
