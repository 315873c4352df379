#pragma once
// Locale font set-up, owner-drawn list entries and the decoding of stored
// list texts.
#include <QByteArray>
#include <QFont>
#include <QFontDatabase>
#include <QString>
#include <QStyledItemDelegate>
#include <functional>

class QListWidget;
class QPainter;
class QObject;

// A font's character set. The font file names these values (letter case
// ignored) and the language service maps three names onto them.
enum TFontCharSet {
    fcsLatin1, fcsAnyCharSet, fcsLatin2, fcsLatin3, fcsLatin4, fcsISO_8859_5, fcsISO_8859_6,
    fcsISO_8859_7, fcsISO_8859_8, fcsLatin5, fcsLatin6, fcsISO_8859_11, fcsISO_8859_12,
    fcsLatin7, fcsLatin8, fcsLatin9, fcsKOI8R, fcsSet_Ja, fcsSet_Ko, fcsSet_Th_TH, fcsSet_Zh,
    fcsSet_Zh_TW, fcsUnicode,
    // Known by name to the configuration tool only.
    fcsSet_GBK, fcsSet_Big5, fcsTSCII, fcsKOI8U, fcsCP1251, fcsPT154,
    fcsDefaultCharSet,
    ANSI_CHARSET, DEFAULT_CHARSET, SYMBOL_CHARSET, MAC_CHARSET, SHIFTJIS_CHARSET,
    HANGEUL_CHARSET, JOHAB_CHARSET, GB2312_CHARSET, CHINESEBIG5_CHARSET, GREEK_CHARSET,
    TURKISH_CHARSET, HEBREW_CHARSET, ARABIC_CHARSET, BALTIC_CHARSET, RUSSIAN_CHARSET,
    THAI_CHARSET, EASTEUROPE_CHARSET, OEM_CHARSET
};

// The value's own name ("fcsSet_Zh", "GB2312_CHARSET").
QString FontCharSetName(TFontCharSet CharSet);
// The value a font-file name selects, letter case ignored. False for a name
// that is not in the enumeration; in the console that includes the six
// names only the configuration tool knows.
bool FontCharSetFromName(const QString &Name, TFontCharSet &CharSet);
// The script a character set stands for in Qt; Any where Qt has no
// equivalent (the set covers every script, or none in particular).
QFontDatabase::WritingSystem FontCharSetWritingSystem(TFontCharSet CharSet);

// Qt fonts carry no character set. The set is kept as the dynamic property
// "fontCharSet" of the object that owns the font (a widget, an action, the
// application), and it makes the font fall back to an installed family
// that covers the set's script when its own family does not.
TFontCharSet FontCharSetOf(const QObject *Holder);   // fcsDefaultCharSet when never set
void SetFontCharSet(QFont &Font, QObject *Holder, TFontCharSet CharSet);

// Picks the application's default font for the locale from the font file
// (FontIni, else the program's file name with ".ini"). LocaleSel is a
// numeric language identifier or empty (then the environment's locale).
void SetupLocaleFont(const QString &FontIni, const QString &LocaleSel);
// "2052" -> "zh_cn", "1028" -> "zh_tw", "1041" -> "ja_jp", "1042" -> "ko_kr"; else "".
QString LocaleFromLCID(const QString &LCID);

// ---- owner-drawn list entries ---------------------------------------------
enum TOwnerDrawState : unsigned {
    odSelected = 1,
    odGrayed = 2,
    odDisabled = 4,
    odChecked = 8,
    odFocused = 16,
    odDefault = 32,
};

// Paints entry Index of ListBox on Canvas inside Rect: a selected entry as a
// light-blue box with a blue rounded outline and black text, a grayed one in
// grey text. Encoded entries hold base64 of UTF-8. Handled is left as given.
void DrawListItem(QListWidget *ListBox, QPainter *Canvas, int Index, const QRect &Rect,
                  unsigned State, bool &Handled, bool Encoded);
// Base64 (complete groups of four only) of UTF-8 text to text.
QString DecodeText(const QByteArray &S);

// Hands every row of a list to a window's own draw handler, on the list's
// painter, after setting the painter up as the list's canvas (its font, its
// text colour as pen); every row is ItemHeight pixels high.
class TDrawItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using THandler = std::function<void(QPainter *Canvas, int Index, const QRect &Rect, unsigned State)>;
    explicit TDrawItemDelegate(THandler Handler, int ItemHeight = 16, QObject *Parent = nullptr);

    int ItemHeight() const { return FItemHeight; }
    void SetItemHeight(int Height) { FItemHeight = Height; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    THandler FHandler;
    int FItemHeight;
};
