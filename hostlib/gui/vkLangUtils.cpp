#include "vkLangUtils.h"

#include "vkIniFile.h"
#include "vkPaths.h"
#include "vkSysUtils.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStackedWidget>
#include <QTabWidget>
#include <QWidget>

#include <algorithm>
#include <clocale>

std::optional<QStringList> Translations;
QString LangFontName;
QString LangCharSetName;
int LangFontSize = 9;
TFontCharSet LangCharset = fcsDefaultCharSet;

namespace {
const QString kGeneral = QStringLiteral("General");

// The language file InitLanguage is reading, for HasSection.
const TIniFile *g_openLangFile = nullptr;

bool LessIgnoringCase(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) < 0;
}

// Where the texts of the language file land on Qt objects; the only place
// that knows it.
//
//   "Caption"  the translated window itself: its window title
//              QAbstractButton (push, tool, radio, check box), QLabel,
//              QAction: text; QGroupBox, QMenu: title
//              a page of a QTabWidget: its tab text
//              a page of a QStackedWidget (a page control without tabs):
//              the page's windowTitle, where the window reads it back
//   "Text"     QLineEdit: text; editable QComboBox: edit text. A memo
//              (QPlainTextEdit, QTextEdit) has no such text: it keeps its
//              contents. A combo box without an edit field has none either.
//   "Font"     every QWidget and QAction
bool SetCaption(QObject *Component, const QString &Text)
{
    if (auto *w = qobject_cast<QWidget *>(Component)) {
        if (auto *stack = qobject_cast<QStackedWidget *>(w->parentWidget())) {
            if (stack->indexOf(w) >= 0) {
                auto *tabs = qobject_cast<QTabWidget *>(stack->parentWidget());
                const int tab = tabs ? tabs->indexOf(w) : -1;
                if (tab >= 0)
                    tabs->setTabText(tab, Text);
                else
                    w->setWindowTitle(Text);
                return true;
            }
        }
    }
    if (auto *b = qobject_cast<QAbstractButton *>(Component)) {
        b->setText(Text);
        return true;
    }
    if (auto *l = qobject_cast<QLabel *>(Component)) {
        l->setText(Text);
        return true;
    }
    if (auto *g = qobject_cast<QGroupBox *>(Component)) {
        g->setTitle(Text);
        return true;
    }
    if (auto *m = qobject_cast<QMenu *>(Component)) {
        m->setTitle(Text);
        return true;
    }
    if (auto *a = qobject_cast<QAction *>(Component)) {
        a->setText(Text);
        return true;
    }
    return false;
}

bool SetText(QObject *Component, const QString &Text)
{
    if (auto *e = qobject_cast<QLineEdit *>(Component)) {
        e->setText(Text);
        return true;
    }
    if (auto *c = qobject_cast<QComboBox *>(Component); c && c->isEditable()) {
        c->setEditText(Text);
        return true;
    }
    return false;
}

// The window's own components in creation order, depth first: named
// objects only (Qt's unnamed helpers and its "qt_" internals are passed
// through, not visited), tab pages and menus with their actions included,
// other windows parented here left out.
void CollectComponents(const QObject *Parent, QList<QObject *> &Out)
{
    for (QObject *child : Parent->children()) {
        if (auto *w = qobject_cast<QWidget *>(child); w && w->isWindow() && !qobject_cast<QMenu *>(w))
            continue;
        const QString name = child->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
            Out << child;
        CollectComponents(child, Out);
    }
}

struct TOpenLangFile {
    explicit TOpenLangFile(const TIniFile *Ini) { g_openLangFile = Ini; }
    ~TOpenLangFile() { g_openLangFile = nullptr; }
};
} // namespace

QString GetLanguageCode()
{
    const char *name = std::setlocale(LC_CTYPE, "");
    const QString locale = name ? QString::fromLocal8Bit(name).toLower() : QString();
    if (locale.contains(QLatin1String("zh_cn")))
        return QStringLiteral("GB");
    if (locale.contains(QLatin1String("zh_tw")))
        return QStringLiteral("B5");
    if (locale.contains(QLatin1String("ko_kr")))
        return QStringLiteral("KR");
    if (locale.contains(QLatin1String("ja_jp")))
        return QStringLiteral("JP");
    return QStringLiteral("EN");
}

TFontCharSet CharsetFromName(const QString &Name)
{
    if (Name.compare(QLatin1String("CHINESEBIG5_CHARSET"), Qt::CaseInsensitive) == 0)
        return fcsSet_Zh_TW;
    if (Name.compare(QLatin1String("HANGEUL_CHARSET"), Qt::CaseInsensitive) == 0)
        return fcsSet_Ko;
    if (Name.compare(QLatin1String("GB2312_CHARSET"), Qt::CaseInsensitive) == 0)
        return fcsSet_Zh;
    return fcsUnicode;
}

bool HasSection(const QString &Section)
{
    return g_openLangFile && g_openLangFile->SectionExistsAnyCase(Section);
}

void LoadLanguageSection(const QString &FileName, const QString &Section)
{
    if (!FileExists(FileName))
        return;
    const TIniFile ini(FileName, TIniFile::CaseSensitive);
    Translations = ini.ReadSectionValues(Section);
    // Whole lines ignoring case: of two entries with the same key, the one
    // whose line sorts first is the one found.
    std::stable_sort(Translations->begin(), Translations->end(), LessIgnoringCase);
    if (!LangCharSetName.isEmpty())
        LangCharset = CharsetFromName(LangCharSetName);
}

void InitLanguage(const QString &LangFile)
{
    Translations.emplace();
    QString file = LangFile;
    if (!file.contains(QLatin1Char('/')))
        file = GetAppDir() + file;
    if (!FileExists(file))
        return;

    // The file is only read: writing it back would drop the administrator's
    // comments and fail on a read-only program directory.
    const TIniFile ini(file, TIniFile::CaseSensitive);
    const TOpenLangFile open(&ini);
    QString code = GetLanguageCode();
    if (code.isEmpty() || !HasSection(code))
        code = ini.ReadString(kGeneral, QStringLiteral("LAN"), QString());
    if (code.isEmpty())
        return;
    LangFontName = ini.ReadString(kGeneral, QStringLiteral("FontName"), QString());
    LangCharSetName = ini.ReadString(kGeneral, QStringLiteral("CharSet"), QString());
    LangFontSize = ini.ReadInteger(kGeneral, QStringLiteral("FontSize"), 9);
    if (code.compare(QLatin1String("EN"), Qt::CaseInsensitive) == 0 && LangFontSize > 11)
        LangFontSize = 11;
    LoadLanguageSection(file, code);
}

QString GetTranslation(const QString &Section, const QString &Ident)
{
    const QString key = Ident.isEmpty() ? Section : Section + QLatin1Char('.') + Ident;
    if (!Translations || key.contains(QLatin1Char('=')))
        return QString();
    // Lines whose name is the key are exactly those that begin with "key="
    // and, the list being sorted, they stand together: the first of them is
    // the first line not below "key=".
    const QString prefix = key + QLatin1Char('=');
    const auto it = std::lower_bound(Translations->cbegin(), Translations->cend(), prefix,
                                     LessIgnoringCase);
    if (it != Translations->cend() && it->startsWith(prefix, Qt::CaseInsensitive))
        return it->mid(prefix.size());
    return QString();
}

QString GetLangStr(const QString &Key, const QString &Default)
{
    const QString text = GetTranslation(kGeneral, Key);
    return text.isEmpty() ? Default : text;
}

void ApplyFont(QObject *Component)
{
    auto *widget = qobject_cast<QWidget *>(Component);
    auto *action = qobject_cast<QAction *>(Component);
    if (!widget && !action)
        return;
    QFont font = widget ? widget->font() : action->font();
    if (LangFontSize > 0)   // Qt knows no font of zero or fewer points
        font.setPointSize(LangFontSize);
    if (!LangFontName.isEmpty())
        font.setFamily(LangFontName);
    SetFontCharSet(font, Component, LangCharset);
    if (widget)
        widget->setFont(font);
    else
        action->setFont(font);
}

void TranslateForm(QWidget *Form)
{
    if (!Form)
        return;
    const QString formName = Form->objectName();
    const QString title = GetTranslation(formName, QString());
    if (!title.isEmpty()) {
        Form->setWindowTitle(title);
        ApplyFont(Form);
    }
    QList<QObject *> components;
    CollectComponents(Form, components);
    for (QObject *component : components) {
        const QString text = GetTranslation(formName, component->objectName());
        if (!text.isEmpty() && !SetCaption(component, text))
            SetText(component, text);
        ApplyFont(component);
    }
}

void ResetLanguageForTesting()
{
    Translations.reset();
    LangFontName.clear();
    LangCharSetName.clear();
    LangFontSize = 9;
    LangCharset = fcsDefaultCharSet;
}
