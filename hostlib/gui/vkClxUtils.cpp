#include "vkClxUtils.h"

#include "vkIniFile.h"
#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkVariant.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>

#include <clocale>
#include <iterator>

namespace {
using WS = QFontDatabase::WritingSystem;

struct TCharSetInfo {
    TFontCharSet Value;
    const char *Name;
    WS Script;
    bool ToolOnly;   // the console reads the name as unknown
};

// Every value of TFontCharSet, in enumeration order, with the Qt writing
// system it stands for and why.
const TCharSetInfo kCharSets[] = {
    {fcsLatin1, "fcsLatin1", WS::Latin, false},                   // ISO 8859-1, Western European
    {fcsAnyCharSet, "fcsAnyCharSet", WS::Any, false},             // no script asked for
    {fcsLatin2, "fcsLatin2", WS::Latin, false},                   // ISO 8859-2, Central European
    {fcsLatin3, "fcsLatin3", WS::Latin, false},                   // ISO 8859-3, South European
    {fcsLatin4, "fcsLatin4", WS::Latin, false},                   // ISO 8859-4, North European
    {fcsISO_8859_5, "fcsISO_8859_5", WS::Cyrillic, false},        // ISO 8859-5 is Cyrillic
    {fcsISO_8859_6, "fcsISO_8859_6", WS::Arabic, false},          // ISO 8859-6 is Arabic
    {fcsISO_8859_7, "fcsISO_8859_7", WS::Greek, false},           // ISO 8859-7 is Greek
    {fcsISO_8859_8, "fcsISO_8859_8", WS::Hebrew, false},          // ISO 8859-8 is Hebrew
    {fcsLatin5, "fcsLatin5", WS::Latin, false},                   // ISO 8859-9, Turkish Latin
    {fcsLatin6, "fcsLatin6", WS::Latin, false},                   // ISO 8859-10, Nordic Latin
    {fcsISO_8859_11, "fcsISO_8859_11", WS::Thai, false},          // ISO 8859-11 is Thai
    {fcsISO_8859_12, "fcsISO_8859_12", WS::Any, false},           // never published: no script
    {fcsLatin7, "fcsLatin7", WS::Latin, false},                   // ISO 8859-13, Baltic Latin
    {fcsLatin8, "fcsLatin8", WS::Latin, false},                   // ISO 8859-14, Celtic Latin
    {fcsLatin9, "fcsLatin9", WS::Latin, false},                   // ISO 8859-15, Latin with euro
    {fcsKOI8R, "fcsKOI8R", WS::Cyrillic, false},                  // Russian Cyrillic
    {fcsSet_Ja, "fcsSet_Ja", WS::Japanese, false},                // Japanese sets
    {fcsSet_Ko, "fcsSet_Ko", WS::Korean, false},                  // Korean sets
    {fcsSet_Th_TH, "fcsSet_Th_TH", WS::Thai, false},              // Thai sets
    {fcsSet_Zh, "fcsSet_Zh", WS::SimplifiedChinese, false},       // mainland Chinese sets
    {fcsSet_Zh_TW, "fcsSet_Zh_TW", WS::TraditionalChinese, false}, // Taiwanese Chinese sets
    {fcsUnicode, "fcsUnicode", WS::Any, false},                   // covers all: Qt falls back per script itself
    {fcsSet_GBK, "fcsSet_GBK", WS::SimplifiedChinese, true},      // GBK extends GB 2312
    {fcsSet_Big5, "fcsSet_Big5", WS::TraditionalChinese, true},   // Big5 is Traditional Chinese
    {fcsTSCII, "fcsTSCII", WS::Tamil, true},                      // TSCII is Tamil
    {fcsKOI8U, "fcsKOI8U", WS::Cyrillic, true},                   // Ukrainian Cyrillic
    {fcsCP1251, "fcsCP1251", WS::Cyrillic, true},                 // Windows Cyrillic
    {fcsPT154, "fcsPT154", WS::Cyrillic, true},                   // Kazakh Cyrillic
    {fcsDefaultCharSet, "fcsDefaultCharSet", WS::Any, false},     // whatever the font has
    {ANSI_CHARSET, "ANSI_CHARSET", WS::Latin, false},             // Windows Western Latin
    {DEFAULT_CHARSET, "DEFAULT_CHARSET", WS::Any, false},         // whatever the font has
    {SYMBOL_CHARSET, "SYMBOL_CHARSET", WS::Symbol, false},        // symbol fonts
    {MAC_CHARSET, "MAC_CHARSET", WS::Latin, false},               // Mac Roman Latin
    {SHIFTJIS_CHARSET, "SHIFTJIS_CHARSET", WS::Japanese, false},  // Shift JIS is Japanese
    {HANGEUL_CHARSET, "HANGEUL_CHARSET", WS::Korean, false},      // Hangul Korean
    {JOHAB_CHARSET, "JOHAB_CHARSET", WS::Korean, false},          // Johab Korean
    {GB2312_CHARSET, "GB2312_CHARSET", WS::SimplifiedChinese, false}, // GB 2312 is Simplified Chinese
    {CHINESEBIG5_CHARSET, "CHINESEBIG5_CHARSET", WS::TraditionalChinese, false}, // Big5
    {GREEK_CHARSET, "GREEK_CHARSET", WS::Greek, false},           // Greek
    {TURKISH_CHARSET, "TURKISH_CHARSET", WS::Latin, false},       // Turkish Latin
    {HEBREW_CHARSET, "HEBREW_CHARSET", WS::Hebrew, false},        // Hebrew
    {ARABIC_CHARSET, "ARABIC_CHARSET", WS::Arabic, false},        // Arabic
    {BALTIC_CHARSET, "BALTIC_CHARSET", WS::Latin, false},         // Baltic Latin
    {RUSSIAN_CHARSET, "RUSSIAN_CHARSET", WS::Cyrillic, false},    // Cyrillic
    {THAI_CHARSET, "THAI_CHARSET", WS::Thai, false},              // Thai
    {EASTEUROPE_CHARSET, "EASTEUROPE_CHARSET", WS::Latin, false}, // Central European Latin
    {OEM_CHARSET, "OEM_CHARSET", WS::Any, false},                 // a DOS code page: no script of its own
};
static_assert(std::size(kCharSets) == OEM_CHARSET + 1, "one row per TFontCharSet value");

const char *const kCharSetProperty = "fontCharSet";

// The program file with its extension replaced ("/opt/x/vkpanel" -> "/opt/x/vkpanel.ini").
QString ChangeExtToIni(const QString &FileName)
{
    const QFileInfo fi(FileName);
    QString base = fi.suffix().isEmpty() ? fi.fileName() : fi.completeBaseName();
    return fi.path() + QLatin1Char('/') + base + QStringLiteral(".ini");
}

// The installed family a font-file name stands for, in the database's
// spelling; empty when nothing is installed under it. Qt lists a family
// under its name in the user's language (文泉驿微米黑 under a Chinese
// locale), so its other names count as well.
QString InstalledFamily(const QStringList &Installed, const QString &Family)
{
    for (const QString &f : Installed)
        if (f.compare(Family, Qt::CaseInsensitive) == 0)
            return f;
    return QFontDatabase::hasFamily(Family) ? Family : QString();
}
} // namespace

QString FontCharSetName(TFontCharSet CharSet)
{
    return QLatin1String(kCharSets[CharSet].Name);
}

bool FontCharSetFromName(const QString &Name, TFontCharSet &CharSet)
{
    for (const auto &c : kCharSets) {
        if (Name.compare(QLatin1String(c.Name), Qt::CaseInsensitive) != 0)
            continue;
        if (c.ToolOnly && !IsToolVariant())
            return false;
        CharSet = c.Value;
        return true;
    }
    return false;
}

QFontDatabase::WritingSystem FontCharSetWritingSystem(TFontCharSet CharSet)
{
    return kCharSets[CharSet].Script;
}

TFontCharSet FontCharSetOf(const QObject *Holder)
{
    if (!Holder)
        return fcsDefaultCharSet;
    bool ok = false;
    const int v = Holder->property(kCharSetProperty).toInt(&ok);
    if (!ok || v < 0 || v > OEM_CHARSET)
        return fcsDefaultCharSet;
    return TFontCharSet(v);
}

void SetFontCharSet(QFont &Font, QObject *Holder, TFontCharSet CharSet)
{
    if (Holder)
        Holder->setProperty(kCharSetProperty, int(CharSet));
    const QString family = Font.family();
    QStringList families{family};
    const WS script = FontCharSetWritingSystem(CharSet);
    if (script != WS::Any && !family.isEmpty() && qGuiApp
        && !QFontDatabase::writingSystems(family).contains(script)) {
        for (const QString &f : QFontDatabase::families(script)) {
            if (f.compare(family, Qt::CaseInsensitive) != 0) {
                families << f;
                break;
            }
        }
    }
    // A single family is left as it is, so an inherited family stays inherited.
    if (families.size() > 1 || Font.families().size() > 1)
        Font.setFamilies(families);
}

QString LocaleFromLCID(const QString &LCID)
{
    int id = 0;
    if (!IniStrToInt(LCID.trimmed(), id))
        id = 0;
    switch (id) {
    case 2052: return QStringLiteral("zh_cn");
    case 1028: return QStringLiteral("zh_tw");
    case 1041: return QStringLiteral("ja_jp");
    case 1042: return QStringLiteral("ko_kr");
    default: return QString();
    }
}

void SetupLocaleFont(const QString &FontIni, const QString &LocaleSel)
{
    QString file = FontIni;
    if (file.isEmpty()) {
        const QString app = GetAppFileName();
        if (app.isEmpty())
            return;
        file = ChangeExtToIni(app);
    }
    if (!FileExists(file))
        return;

    QString locale = LocaleFromLCID(LocaleSel);
    if (locale.isEmpty()) {
        const char *name = std::setlocale(LC_CTYPE, "");
        locale = name ? QString::fromLocal8Bit(name) : QString();
        const qsizetype dot = locale.indexOf(QLatin1Char('.'));
        if (dot >= 0)
            locale.truncate(dot);
        locale = locale.toLower();
        if (locale.isEmpty()) {
            WriteLog(QStringLiteral("vkclx"), -1, QStringLiteral("locale is empty."));
            return;
        }
    }

    if (!qGuiApp)
        return;   // no application font to set
    const TIniFile ini(file, TIniFile::CaseInsensitive);
    const QString section = QStringLiteral("font:") + locale;
    const QStringList installed = QFontDatabase::families();
    for (int n = 1; n <= 128; ++n) {
        const QString name = ini.ReadString(section, QStringLiteral("name[%1]").arg(n), QString());
        const QString cset = ini.ReadString(section, QStringLiteral("cset[%1]").arg(n), QString());
        const QString size = ini.ReadString(section, QStringLiteral("size[%1]").arg(n), QString());
        if (name.isEmpty())
            break;
        const QString family = InstalledFamily(installed, name);
        if (family.isEmpty())
            continue;

        QFont font = QApplication::font();
        font.setFamily(family);
        TFontCharSet charSet = FontCharSetOf(qApp);
        if (cset.isEmpty())
            charSet = fcsUnicode;
        else
            FontCharSetFromName(cset, charSet);   // an unknown name keeps the current set
        SetFontCharSet(font, qApp, charSet);
        int points = 0;
        // Qt has no font of zero or fewer points: such a size is ignored
        // like one that is not a number.
        if (!size.isEmpty() && IniStrToInt(size, points) && points > 0)
            font.setPointSize(points);
        QApplication::setFont(font);
        break;
    }
}

// ---- owner-drawn list entries ---------------------------------------------

void DrawListItem(QListWidget *ListBox, QPainter *Canvas, int Index, const QRect &Rect,
                  unsigned State, bool &Handled, bool Encoded)
{
    Q_UNUSED(Handled);
    if (!ListBox || !Canvas)
        return;
    // Edges as the canvas counts them: right and bottom lie just outside.
    const int left = Rect.x() + 1;
    const int top = Rect.y() + 1;
    const int right = Rect.x() + Rect.width();
    const int bottom = Rect.y() + Rect.height();

    Canvas->setRenderHint(QPainter::Antialiasing, false);
    QColor textColour = Canvas->pen().color();
    if (State & odSelected) {
        Canvas->setBrush(QColor(0xD8, 0xE4, 0xF8));
        Canvas->setPen(QPen(QColor(0x00, 0x00, 0xFF), 0));
        // Corner ellipses 5 wide and 10 high; the outline covers the
        // columns left..right-1 and the rows top..bottom-1. Pixel centres
        // keep the small corners alike on all four sides.
        Canvas->drawRoundedRect(QRectF(left + 0.5, top + 0.5, right - left - 1, bottom - top - 1),
                                2.5, 5.0, Qt::AbsoluteSize);
        textColour = Qt::black;
    } else if (State & odGrayed) {
        textColour = QColor(0x80, 0x80, 0x80);
    }

    const QFontMetrics fm(Canvas->font());
    const int textHeight = fm.height();   // the height of "Wg": ascent plus descent
    const int h = bottom - top;
    const int y = top + (h - textHeight) / 2;
    const int x = left + 6;

    QString text;
    if (const QListWidgetItem *item = ListBox->item(Index))
        text = Encoded ? DecodeText(item->text().toLatin1()) : item->text();

    Canvas->setPen(textColour);
    Canvas->save();
    Canvas->setClipRect(QRect(left, top, right - left, bottom - top), Qt::IntersectClip);
    Canvas->drawText(QPoint(x, y + fm.ascent()), text);
    Canvas->restore();
}

QString DecodeText(const QByteArray &S)
{
    auto value = [](char c) -> unsigned {
        if (c >= 'A' && c <= 'Z') return unsigned(c - 'A');
        if (c >= 'a' && c <= 'z') return unsigned(c - 'a' + 26);
        if (c >= '0' && c <= '9') return unsigned(c - '0' + 52);
        if (c == '+') return 62;
        if (c == '/') return 63;
        return 0;   // the fill character, and anything outside the alphabet
    };
    QByteArray bytes;
    bytes.reserve(S.size() / 4 * 3);
    for (qsizetype i = 0; i + 4 <= S.size(); i += 4) {
        const unsigned v = value(S[i]) << 18 | value(S[i + 1]) << 12 | value(S[i + 2]) << 6
                           | value(S[i + 3]);
        bytes += char(v >> 16);
        if (S[i + 2] == '=')
            continue;
        bytes += char(v >> 8 & 0xFF);
        if (S[i + 3] == '=')
            continue;
        bytes += char(v & 0xFF);
    }
    return UTF8ToWide(bytes);
}

TDrawItemDelegate::TDrawItemDelegate(THandler Handler, int ItemHeight, QObject *Parent)
    : QStyledItemDelegate(Parent), FHandler(std::move(Handler)), FItemHeight(ItemHeight)
{
}

void TDrawItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const
{
    if (!FHandler)
        return;
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    unsigned state = 0;
    if (opt.state & QStyle::State_Selected)
        state |= odSelected;
    if (!(opt.state & QStyle::State_Enabled))
        state |= odGrayed | odDisabled;
    if (opt.state & QStyle::State_HasFocus)
        state |= odFocused;
    // The list's canvas for this row: its font, its text colour, its base.
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(QPalette::Active, QPalette::Text));
    painter->setBrush(opt.palette.base());
    FHandler(painter, index.row(), opt.rect, state);
    painter->restore();
}

QSize TDrawItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), FItemHeight);
}
