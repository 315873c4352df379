// Locale font set-up from the font file, owner-drawn list entries and the
// decoding of stored list texts.
#include "testutil.h"
#include "testutil_locale.h"
#include "vkClxUtils.h"
#include "vkPaths.h"
#include "vkSysUtils.h"
#include "vkVariant.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(TFontCharSet)
Q_DECLARE_METATYPE(TLibVariant)

namespace {
const QString kFontFile = QStringLiteral(TEST_DATA_DIR "/font/fyq5lan.ini");

bool installed(const QString &family)
{
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive)
           || QFontDatabase::hasFamily(family);
}

const QRgb kWhite = qRgb(0xFF, 0xFF, 0xFF);
const QRgb kOutline = qRgb(0x00, 0x00, 0xFF);
const QRgb kFill = qRgb(0xD8, 0xE4, 0xF8);
const QRgb kGrey = qRgb(0x80, 0x80, 0x80);
const QRgb kRed = qRgb(0xFF, 0x00, 0x00);

// A font without smoothing, whose "Wg" height is `height` pixels when the
// machine has one.
QFont crispFont(int height)
{
    for (int px = 6; px < 40; ++px) {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(px);
        f.setStyleStrategy(QFont::NoAntialias);
        if (QFontMetrics(f).height() == height)
            return f;
    }
    return QFont();
}

struct TInk { int Left = -1, Top = -1; };
// The leftmost column and top row holding a pixel of colour `c` inside `area`.
TInk inkOf(const QImage &img, QRgb c, const QRect &area)
{
    TInk ink;
    for (int x = area.left(); x <= area.right() && ink.Left < 0; ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (img.pixel(x, y) == c) { ink.Left = x; break; }
    for (int y = area.top(); y <= area.bottom() && ink.Top < 0; ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (img.pixel(x, y) == c) { ink.Top = y; break; }
    return ink;
}
} // namespace

class TestClxUtils : public QObject {
    Q_OBJECT
    QFont FSavedFont;

private Q_SLOTS:
    void initTestCase() { FSavedFont = QApplication::font(); }
    void init()
    {
        // A known starting font, so "unchanged" can be seen.
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPointSize(7);
        SetFontCharSet(f, qApp, fcsLatin2);
        QApplication::setFont(f);
        SetLibVariant(TLibVariant::Console);
    }
    void cleanup()
    {
        SetLibVariant(TLibVariant::Console);
        SetAppFileNameForTesting(QString());
        QApplication::setFont(FSavedFont);
    }

    void localeFromLCID_data()
    {
        QTest::addColumn<QString>("lcid");
        QTest::addColumn<QString>("locale");
        QTest::newRow("2052") << "2052" << "zh_cn";
        QTest::newRow("1028") << "1028" << "zh_tw";
        QTest::newRow("1041") << "1041" << "ja_jp";
        QTest::newRow("1042") << "1042" << "ko_kr";
        QTest::newRow("1033 unknown") << "1033" << "";
        QTest::newRow("not a number") << "zh_cn" << "";
        QTest::newRow("empty") << "" << "";
    }
    void localeFromLCID()
    {
        QFETCH(QString, lcid);
        QFETCH(QString, locale);
        QCOMPARE(LocaleFromLCID(lcid), locale);
    }

    void charSetNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<TLibVariant>("variant");
        QTest::addColumn<bool>("known");
        QTest::addColumn<TFontCharSet>("value");
        const auto C = TLibVariant::Console, T = TLibVariant::Tool;
        QTest::newRow("lower case") << "fcsset_zh" << C << true << fcsSet_Zh;
        QTest::newRow("upper case") << "FCSSET_ZH_TW" << C << true << fcsSet_Zh_TW;
        QTest::newRow("windows name is itself") << "GB2312_CHARSET" << C << true << GB2312_CHARSET;
        QTest::newRow("windows name any case") << "oem_charset" << C << true << OEM_CHARSET;
        QTest::newRow("default set") << "fcsDefaultCharSet" << C << true << fcsDefaultCharSet;
        QTest::newRow("unknown") << "Big5" << C << false << fcsLatin1;
        QTest::newRow("empty") << "" << C << false << fcsLatin1;
        // The six sets only the configuration tool knows.
        const char *toolOnly[] = {"fcsSet_GBK", "fcsSet_Big5", "fcsTSCII", "fcsKOI8U", "fcsCP1251", "fcsPT154"};
        const TFontCharSet values[] = {fcsSet_GBK, fcsSet_Big5, fcsTSCII, fcsKOI8U, fcsCP1251, fcsPT154};
        for (int i = 0; i < 6; ++i) {
            QTest::addRow("console %s", toolOnly[i]) << QString::fromLatin1(toolOnly[i]).toUpper() << C << false << fcsLatin1;
            QTest::addRow("tool %s", toolOnly[i]) << QString::fromLatin1(toolOnly[i]).toUpper() << T << true << values[i];
        }
    }
    void charSetNames()
    {
        QFETCH(QString, name);
        QFETCH(TLibVariant, variant);
        QFETCH(bool, known);
        QFETCH(TFontCharSet, value);
        SetLibVariant(variant);
        TFontCharSet got = fcsLatin1;
        QCOMPARE(FontCharSetFromName(name, got), known);
        QCOMPARE(got, value);
    }

    void charSetFallsBackToAScriptFamily()
    {
        if (!installed(QStringLiteral("DejaVu Sans")) || QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
            QSKIP("needs DejaVu Sans and a Simplified Chinese family");
        QObject holder;
        QFont f(QStringLiteral("DejaVu Sans"));
        SetFontCharSet(f, &holder, fcsSet_Zh);
        QCOMPARE(FontCharSetOf(&holder), fcsSet_Zh);
        QCOMPARE(f.families().size(), 2);
        QCOMPARE(f.family(), QStringLiteral("DejaVu Sans"));
        QVERIFY(QFontDatabase::writingSystems(f.families().at(1)).contains(QFontDatabase::SimplifiedChinese));
        // A set without a script of its own drops the fallback again.
        SetFontCharSet(f, &holder, fcsUnicode);
        QCOMPARE(f.families(), QStringList{QStringLiteral("DejaVu Sans")});
        QCOMPARE(FontCharSetOf(&holder), fcsUnicode);
        QCOMPARE(FontCharSetOf(nullptr), fcsDefaultCharSet);
    }

    void setupLocaleFont_data()
    {
        QTest::addColumn<QString>("envLocale");
        QTest::addColumn<QString>("localeSel");
        QTest::addColumn<TLibVariant>("variant");
        QTest::addColumn<QString>("family");   // empty: unchanged
        QTest::addColumn<TFontCharSet>("charSet");
        QTest::addColumn<int>("points");
        const auto C = TLibVariant::Console, T = TLibVariant::Tool;
        // init() starts every row at DejaVu Sans, 7 points, fcsLatin2.
        QTest::newRow("first installed of three wins") << "zh_CN.UTF-8" << "" << C
            << "WenQuanYi Micro Hei" << fcsSet_Zh << 12;
        QTest::newRow("empty first name ends the list") << "zh_TW.UTF-8" << "" << C
            << "" << fcsLatin2 << 7;
        QTest::newRow("windows cset, size with unit") << "ja_JP.UTF-8" << "" << C
            << "DejaVu Serif" << GB2312_CHARSET << 7;
        QTest::newRow("empty cset is unicode") << "ko_KR.UTF-8" << "" << C
            << "DejaVu Sans Mono" << fcsUnicode << 7;
        QTest::newRow("tool-only cset in the console") << "en_US" << "" << C
            << "DejaVu Sans" << fcsLatin2 << 14;
        QTest::newRow("tool-only cset in the tool") << "en_US" << "" << T
            << "DejaVu Sans" << fcsSet_GBK << 14;
        QTest::newRow("unknown cset, first section") << "C" << "" << C
            << "DejaVu Serif" << fcsLatin2 << 10;
        QTest::newRow("unset locale is C") << "<unset>" << "" << C
            << "DejaVu Serif" << fcsLatin2 << 10;
        QTest::newRow("entry 128 is read") << "nl_NL.UTF-8" << "" << C
            << "DejaVu Serif" << fcsUnicode << 18;
        QTest::newRow("entry 129 never read") << "de_DE.UTF-8" << "" << C
            << "" << fcsLatin2 << 7;
        QTest::newRow("no section for the locale") << "it_IT.UTF-8" << "" << C
            << "" << fcsLatin2 << 7;
        QTest::newRow("family under another language's name") << "zh_HK.UTF-8" << "" << C
            << QString::fromUtf8("文泉驿微米黑") << fcsUnicode << 11;
        QTest::newRow("identifier beats the environment") << "fr_FR.UTF-8" << "2052" << C
            << "WenQuanYi Micro Hei" << fcsSet_Zh << 12;
        QTest::newRow("unknown identifier: environment") << "fr_FR.UTF-8" << "1033" << C
            << "DejaVu Sans Mono" << fcsUnicode << 16;
    }
    void setupLocaleFont()
    {
        QFETCH(QString, envLocale);
        QFETCH(QString, localeSel);
        QFETCH(TLibVariant, variant);
        QFETCH(QString, family);
        QFETCH(TFontCharSet, charSet);
        QFETCH(int, points);
        for (const char *f : {"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono", "WenQuanYi Micro Hei"})
            if (!installed(QLatin1String(f)))
                QSKIP(qPrintable(QStringLiteral("font not installed: ") + QLatin1String(f)));
        FakeLocales locales;
        if (!locales.available())
            QSKIP("no UTF-8 character data to make locales from");
        if (envLocale == QLatin1String("<unset>"))
            locales.useUnset();
        else
            locales.use(envLocale);
        SetLibVariant(variant);

        SetupLocaleFont(kFontFile, localeSel);

        const QFont f = QApplication::font();
        QCOMPARE(f.family(), family.isEmpty() ? QStringLiteral("DejaVu Sans") : family);
        QCOMPARE(FontCharSetOf(qApp), charSet);
        QCOMPARE(f.pointSize(), points);
    }

    void environmentLocaleIsSwitchedTo()
    {
        FakeLocales locales;
        if (!locales.available())
            QSKIP("no UTF-8 character data to make locales from");
        locales.use(QStringLiteral("zh_CN.UTF-8"));
        SetupLocaleFont(kFontFile, QString());
        QCOMPARE(QByteArray(setlocale(LC_CTYPE, nullptr)), QByteArray("zh_CN.UTF-8"));
    }

    void missingFontFileChangesNothing()
    {
        FakeLocales locales;
        locales.use(QStringLiteral("zh_CN.UTF-8"));
        SetupLocaleFont(QStringLiteral(TEST_DATA_DIR "/font/absent.ini"), QStringLiteral("2052"));
        QCOMPARE(QApplication::font().pointSize(), 7);
        QCOMPARE(FontCharSetOf(qApp), fcsLatin2);
    }

    void noFileNameTakesTheProgramsIni()
    {
        if (!installed(QStringLiteral("WenQuanYi Micro Hei")))
            QSKIP("WenQuanYi Micro Hei not installed");
        QTemporaryDir dir;
        QVERIFY(QFile::copy(kFontFile, dir.filePath(QStringLiteral("vkpanel.ini"))));
        SetAppFileNameForTesting(dir.filePath(QStringLiteral("vkpanel")));
        SetupLocaleFont(QString(), QStringLiteral("2052"));
        QCOMPARE(QApplication::font().family(), QStringLiteral("WenQuanYi Micro Hei"));
        QCOMPARE(QApplication::font().pointSize(), 12);
    }

    void unloadableLocaleIsLogged()
    {
        QTemporaryDir dir;
        CloseLogStream();
        SetAppFileNameForTesting(dir.filePath(QStringLiteral("vkpanel")));
        FakeLocales locales;
        locales.useMissing();
        SetupLocaleFont(kFontFile, QString());
        CloseLogStream();
        QCOMPARE(QApplication::font().pointSize(), 7);
        QCOMPARE(QApplication::font().family(), QStringLiteral("DejaVu Sans"));
        QStringList lines;
        QDirIterator it(dir.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            QVERIFY(f.open(QIODevice::ReadOnly));
            lines += QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        }
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QLatin1String("vkclx")) && lines.first().contains(QLatin1String("-1"))
                     && lines.first().contains(QLatin1String("locale is empty.")),
                 qPrintable(lines.first()));
    }

    // ---- list drawing ------------------------------------------------------

    void decodeText_data()
    {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QString>("text");
        QTest::newRow("three bytes") << QByteArray("QUJD") << "ABC";
        QTest::newRow("fill in fourth: two bytes") << QByteArray("QUI=") << "AB";
        QTest::newRow("fill in third: one byte") << QByteArray("QQ==") << "A";
        QTest::newRow("incomplete group only") << QByteArray("QUJ") << "";
        QTest::newRow("incomplete trailing group ignored") << QByteArray("QUJDRA") << "ABC";
        QTest::newRow("utf-8 Chinese") << QByteArray("572R57uc") << QString::fromUtf8("网络");
        QTest::newRow("empty") << QByteArray() << "";
    }
    void decodeText()
    {
        QFETCH(QByteArray, encoded);
        QFETCH(QString, text);
        QCOMPARE(DecodeText(encoded), text);
    }

    void selectedEntryPixels()
    {
        const QFont font = crispFont(14);
        if (font.family().isEmpty())
            QSKIP("no DejaVu Sans size with a 14-pixel text height");
        QListWidget list;
        list.addItem(QStringLiteral("HHHH"));
        QImage img(200, 24, QImage::Format_RGB32);
        img.fill(kWhite);
        {
            QPainter p(&img);
            p.setFont(font);
            p.setPen(kRed);
            bool handled = true;
            DrawListItem(&list, &p, 0, QRect(0, 0, 200, 24), odSelected, handled, false);
            QVERIFY(handled);
        }
        // Outline one pixel in from the left and top, on the last column and row.
        QCOMPARE(img.pixel(1, 12), kOutline);
        QCOMPARE(img.pixel(199, 12), kOutline);
        QCOMPARE(img.pixel(100, 1), kOutline);
        QCOMPARE(img.pixel(100, 23), kOutline);
        QCOMPARE(img.pixel(0, 12), kWhite);
        QCOMPARE(img.pixel(100, 0), kWhite);
        // Rounded, more down the side than along the top: the ellipse is 5
        // wide and 10 high.
        QCOMPARE(img.pixel(1, 1), kWhite);
        QCOMPARE(img.pixel(1, 3), kWhite);
        QCOMPARE(img.pixel(3, 1), kOutline);
        QCOMPARE(img.pixel(199, 22), kWhite);
        QCOMPARE(img.pixel(197, 23), kOutline);
        QCOMPARE(img.pixel(150, 12), kFill);
        QCOMPARE(img.pixel(2, 12), kFill);
        // Black text from x = 7 and, for a 23-pixel box and 14-pixel text, y = 5.
        const QFontMetrics fm(font);
        const QRect glyphs = fm.tightBoundingRect(QStringLiteral("HHHH"));
        const TInk ink = inkOf(img, qRgb(0, 0, 0), QRect(2, 2, 196, 20));
        QCOMPARE(ink.Left, 7 + glyphs.left());
        QCOMPARE(ink.Top, 5 + fm.ascent() + glyphs.top());
        QCOMPARE(inkOf(img, kRed, img.rect()).Left, -1);
    }

    void plainAndGrayedEntries_data()
    {
        QTest::addColumn<unsigned>("state");
        QTest::addColumn<QRgb>("textColour");
        QTest::newRow("plain keeps the canvas colour") << 0u << kRed;
        QTest::newRow("grayed is grey") << unsigned(odGrayed) << kGrey;
        QTest::newRow("focus alone is plain") << unsigned(odFocused) << kRed;
    }
    void plainAndGrayedEntries()
    {
        QFETCH(unsigned, state);
        QFETCH(QRgb, textColour);
        const QFont font = crispFont(14);
        if (font.family().isEmpty())
            QSKIP("no DejaVu Sans size with a 14-pixel text height");
        QListWidget list;
        list.addItems({QStringLiteral("one"), QStringLiteral("HHHH")});
        QImage img(200, 24, QImage::Format_RGB32);
        img.fill(kWhite);
        {
            QPainter p(&img);
            p.setFont(font);
            p.setPen(kRed);
            bool handled = false;
            DrawListItem(&list, &p, 1, QRect(0, 0, 200, 24), state, handled, false);
            QVERIFY(!handled);
        }
        const TInk ink = inkOf(img, textColour, img.rect());
        const QFontMetrics fm(font);
        QCOMPARE(ink.Left, 7 + fm.tightBoundingRect(QStringLiteral("HHHH")).left());
        // No box and no background: outside the text everything stays white.
        QCOMPARE(img.pixel(1, 12), kWhite);
        QCOMPARE(img.pixel(150, 12), kWhite);
    }

    void encodedEntryDrawsDecodedText()
    {
        QListWidget list;
        list.addItems({QStringLiteral("572R57uc"), QString::fromUtf8("网络")});
        auto draw = [&](int index, bool encoded) {
            QImage img(120, 24, QImage::Format_RGB32);
            img.fill(kWhite);
            QPainter p(&img);
            p.setPen(Qt::black);
            bool handled = false;
            DrawListItem(&list, &p, index, QRect(0, 0, 120, 24), odSelected, handled, encoded);
            return img;
        };
        const QImage decoded = draw(0, true);
        QCOMPARE(decoded, draw(1, false));
        QVERIFY(decoded != draw(0, false));
    }

    void textIsClippedToTheEntry()
    {
        QListWidget list;
        list.addItem(QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWWW"));
        QImage img(200, 40, QImage::Format_RGB32);
        img.fill(kWhite);
        {
            QPainter p(&img);
            p.setPen(kRed);
            bool handled = false;
            DrawListItem(&list, &p, 0, QRect(10, 8, 40, 24), 0, handled, false);
        }
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) != kWhite)
                    QVERIFY2(x >= 11 && x < 50 && y >= 9 && y < 32, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        bool inkNearTheEdge = false;
        for (int y = 9; y < 32; ++y)
            inkNearTheEdge |= img.pixel(49, y) != kWhite || img.pixel(48, y) != kWhite;
        QVERIFY(inkNearTheEdge);
    }

    void delegateForwardsRowsOnTheListsPainter()
    {
        QListWidget list;
        list.setFont(crispFont(14));
        list.resize(200, 120);
        list.addItems({QStringLiteral("Network"), QStringLiteral("Disks"), QStringLiteral("System")});
        struct TCall { int Index; QRect Rect; unsigned State; };
        QList<TCall> calls;
        auto *delegate = new TDrawItemDelegate(
            [&](QPainter *canvas, int index, const QRect &rect, unsigned state) {
                calls << TCall{index, rect, state};
                bool handled = false;
                DrawListItem(&list, canvas, index, rect, state, handled, false);
            },
            16, &list);
        delegate->SetItemHeight(24);
        list.setItemDelegate(delegate);
        list.setCurrentRow(1);

        const QRect second = list.visualItemRect(list.item(1));
        const QImage img = list.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(second.height(), 24);
        QCOMPARE(second.top(), 24);
        QCOMPARE(img.pixel(second.left() + 1, second.center().y()), kOutline);
        QCOMPARE(img.pixel(second.left() + 40, second.top() + 1), kOutline);
        QCOMPARE(img.pixel(second.right() - 2, second.center().y()), kFill);
        QVERIFY(img.pixel(second.left() + 1, 12) != kOutline);

        bool sawRows[3] = {false, false, false};
        for (const TCall &c : calls) {
            QVERIFY(c.Index >= 0 && c.Index < 3);
            sawRows[c.Index] = true;
            QCOMPARE(bool(c.State & odSelected), c.Index == 1);
            QCOMPARE(c.Rect, list.visualItemRect(list.item(c.Index)));
        }
        QVERIFY(sawRows[0] && sawRows[1] && sawRows[2]);
    }
};

QTEST_MAIN(TestClxUtils)
#include "tst_clxutils.moc"
