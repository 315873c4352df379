// The language service: choosing and loading a language section, message
// and caption lookups, and translating a real window.
#include "testutil.h"
#include "testutil_locale.h"
#include "vkLangUtils.h"
#include "vkPaths.h"
#include "vkVariant.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

Q_DECLARE_METATYPE(TFontCharSet)

namespace {
QString langFile(const char *name)
{
    return QStringLiteral(TEST_DATA_DIR "/lang/") + QLatin1String(name);
}

template <class T>
T *named(const char *name, T *object)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// The window the way a window definition builds it: a menu bar with a
// menu, actions owned by the window and by the menu, a page control with
// a nested page control, a page control without tabs, a pop-up menu, a
// timer and a dialog of its own.
struct TTestWindow {
    QMainWindow *Form;
    QMenu *menuFile, *pmTree;
    QAction *miExit, *miAbout, *miRefresh;
    QTabWidget *PageControl1, *PageControl2;
    QWidget *tsModules, *tsDisks, *tsParts, *tsArrays, *tsNetwork, *tsSystem;
    QStackedWidget *pcMain;
    QPushButton *btnModuleAdd, *btnModuleDel, *btnSub;
    QLabel *lblInfo;
    QCheckBox *chkAuto;
    QGroupBox *grpDisk;
    QLineEdit *edtPath;
    QComboBox *cmbTerminal, *cmbLevel;
    QPlainTextEdit *Memo1;
    QDialog *fmSub;

    explicit TTestWindow(const char *formName = "fmMain")
    {
        Form = new QMainWindow;
        Form->setObjectName(QLatin1String(formName));
        Form->setWindowTitle(QStringLiteral("design title"));
        miExit = named("miExit", new QAction(QStringLiteral("退出"), Form));
        auto *central = new QWidget(Form);
        central->setObjectName(QStringLiteral("centralwidget"));
        auto *layout = new QVBoxLayout(central);
        PageControl1 = named("PageControl1", new QTabWidget(central));
        tsModules = named("tsModules", new QWidget);
        btnModuleAdd = named("btnModuleAdd", new QPushButton(QStringLiteral("添加"), tsModules));
        btnModuleDel = named("btnModuleDel", new QPushButton(QStringLiteral("删除"), tsModules));
        lblInfo = named("lblInfo", new QLabel(QStringLiteral("说明"), tsModules));
        chkAuto = named("chkAuto", new QCheckBox(QStringLiteral("自动"), tsModules));
        grpDisk = named("grpDisk", new QGroupBox(QStringLiteral("磁盘"), tsModules));
        edtPath = named("edtPath", new QLineEdit(QStringLiteral("/mnt"), grpDisk));
        cmbTerminal = named("cmbTerminal", new QComboBox(grpDisk));
        cmbTerminal->setEditable(true);
        cmbTerminal->addItems({QStringLiteral("xterm")});
        cmbLevel = named("cmbLevel", new QComboBox(grpDisk));
        cmbLevel->addItems({QStringLiteral("RAID0"), QStringLiteral("RAID1")});
        Memo1 = named("Memo1", new QPlainTextEdit(QStringLiteral("log"), grpDisk));
        PageControl1->addTab(tsModules, QStringLiteral("驱动"));
        tsDisks = named("tsDisks", new QWidget);
        PageControl2 = named("PageControl2", new QTabWidget(tsDisks));
        tsParts = named("tsParts", new QWidget);
        tsArrays = named("tsArrays", new QWidget);
        PageControl2->addTab(tsParts, QStringLiteral("分区"));
        PageControl2->addTab(tsArrays, QStringLiteral("阵列"));
        PageControl1->addTab(tsDisks, QStringLiteral("磁盘"));
        pcMain = named("pcMain", new QStackedWidget(central));
        tsNetwork = named("tsNetwork", new QWidget);
        tsNetwork->setWindowTitle(QStringLiteral("Network"));
        tsSystem = named("tsSystem", new QWidget);
        tsSystem->setWindowTitle(QStringLiteral("System"));
        pcMain->addWidget(tsNetwork);
        pcMain->addWidget(tsSystem);
        layout->addWidget(PageControl1);
        layout->addWidget(pcMain);
        Form->setCentralWidget(central);
        auto *menubar = new QMenuBar(Form);
        menubar->setObjectName(QStringLiteral("menubar"));
        menuFile = named("menuFile", new QMenu(QStringLiteral("文件"), menubar));
        menuFile->addAction(miExit);
        miAbout = named("miAbout", menuFile->addAction(QStringLiteral("关于")));
        menubar->addMenu(menuFile);
        Form->setMenuBar(menubar);
        pmTree = named("pmTree", new QMenu(QStringLiteral("树"), Form));
        miRefresh = named("miRefresh", pmTree->addAction(QStringLiteral("刷新")));
        named("Timer1", new QTimer(Form));
        fmSub = named("fmSub", new QDialog(Form));
        btnSub = named("btnSub", new QPushButton(QStringLiteral("sub"), fmSub));
    }
    ~TTestWindow() { delete Form; }

    // Every named component of the window itself (not of its dialog).
    QList<QObject *> components() const
    {
        return {menuFile, pmTree, miExit, miAbout, miRefresh, PageControl1, PageControl2, tsModules,
                tsDisks, tsParts, tsArrays, tsNetwork, tsSystem, pcMain, btnModuleAdd, btnModuleDel,
                lblInfo, chkAuto, grpDisk, edtPath, cmbTerminal, cmbLevel, Memo1};
    }
};

QFont fontOf(QObject *o)
{
    if (auto *a = qobject_cast<QAction *>(o))
        return a->font();
    return qobject_cast<QWidget *>(o)->font();
}
} // namespace

class TestLangUtils : public QObject {
    Q_OBJECT
    FakeLocales *FLocales = nullptr;

    void useLocale(const QString &name)
    {
        if (name == QLatin1String("<unset>"))
            FLocales->useUnset();
        else
            FLocales->use(name);
    }

private Q_SLOTS:
    void init()
    {
        ResetLanguageForTesting();
        SetLibVariant(TLibVariant::Console);
        FLocales = new FakeLocales;
        if (!FLocales->available())
            QSKIP("no UTF-8 character data to make locales from");
    }
    void cleanup()
    {
        delete FLocales;
        FLocales = nullptr;
        ResetLanguageForTesting();
        SetLibVariant(TLibVariant::Console);
        SetAppFileNameForTesting(QString());
    }

    void languageCode_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("code");
        QTest::newRow("zh_CN.UTF-8") << "zh_CN.UTF-8" << "GB";
        QTest::newRow("zh_CN") << "zh_CN" << "GB";
        QTest::newRow("zh_TW.UTF-8") << "zh_TW.UTF-8" << "B5";
        QTest::newRow("ko_KR.UTF-8") << "ko_KR.UTF-8" << "KR";
        QTest::newRow("ja_JP.UTF-8") << "ja_JP.UTF-8" << "JP";
        QTest::newRow("en_US") << "en_US" << "EN";
        QTest::newRow("C") << "C" << "EN";
        QTest::newRow("unset") << "<unset>" << "EN";
    }
    void languageCode()
    {
        QFETCH(QString, locale);
        QFETCH(QString, code);
        useLocale(locale);
        QCOMPARE(GetLanguageCode(), code);
    }

    void unloadableLocaleIsEnglish()
    {
        FLocales->useMissing();
        QCOMPARE(GetLanguageCode(), QStringLiteral("EN"));
    }

    void charsetFromName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<TFontCharSet>("value");
        QTest::newRow("big5") << "CHINESEBIG5_CHARSET" << fcsSet_Zh_TW;
        QTest::newRow("hangeul any case") << "Hangeul_Charset" << fcsSet_Ko;
        QTest::newRow("gb2312 lower") << "gb2312_charset" << fcsSet_Zh;
        QTest::newRow("other windows name") << "ANSI_CHARSET" << fcsUnicode;
        QTest::newRow("own name is not mapped") << "fcsSet_Zh" << fcsUnicode;
        QTest::newRow("empty") << "" << fcsUnicode;
    }
    void charsetFromName()
    {
        QFETCH(QString, name);
        QFETCH(TFontCharSet, value);
        QCOMPARE(CharsetFromName(name), value);
    }

    void initLanguage_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("title");   // GetTranslation of the window's key
        QTest::addColumn<int>("entries");
        QTest::addColumn<QString>("fontName");
        QTest::addColumn<int>("fontSize");
        QTest::addColumn<TFontCharSet>("charset");
        const QString wqy = QStringLiteral("WenQuanYi Micro Hei");
        QTest::newRow("zh_CN: GB section") << "vkpanel.ini" << "zh_CN.UTF-8"
            << QString::fromUtf8("Velkora 控制台") << 2 << wqy << 14 << fcsSet_Zh;
        QTest::newRow("zh_TW: B5 section") << "vkpanel.ini" << "zh_TW.UTF-8"
            << "Velkora 控制台 (B5)" << 1 << wqy << 14 << fcsSet_Zh;
        QTest::newRow("ko_KR: KR section") << "vkpanel.ini" << "ko_KR.UTF-8"
            << QString::fromUtf8("Velkora 콘솔") << 1 << wqy << 14 << fcsSet_Zh;
        QTest::newRow("ja_JP: JP section") << "vkpanel.ini" << "ja_JP.UTF-8"
            << QString::fromUtf8("Velkora コンソール") << 1 << wqy << 14 << fcsSet_Zh;
        QTest::newRow("en_US: EN, size cut to 11") << "vkpanel.ini" << "en_US"
            << "Velkora Console" << 2 << wqy << 11 << fcsSet_Zh;
        QTest::newRow("C: EN") << "vkpanel.ini" << "C" << "Velkora Console" << 2 << wqy << 11 << fcsSet_Zh;
        QTest::newRow("no GB section: LAN=EN, cut") << "en_only.ini" << "zh_CN.UTF-8"
            << "Server Configuration" << 1 << "" << 11 << fcsDefaultCharSet;
        QTest::newRow("no section, no LAN: nothing") << "no_lan.ini" << "ja_JP.UTF-8"
            << "" << 0 << "" << 9 << fcsDefaultCharSet;
        QTest::newRow("own section with LAN unused") << "no_lan.ini" << "zh_CN.UTF-8"
            << QString::fromUtf8("服务器配置") << 1 << "DejaVu Serif" << 12 << fcsSet_Zh_TW;
        QTest::newRow("other-case section: not loaded") << "lower_section.ini" << "zh_CN.UTF-8"
            << "" << 0 << "" << 12 << fcsDefaultCharSet;
        QTest::newRow("LAN names no section") << "lan_missing.ini" << "en_US"
            << "" << 0 << "DejaVu Serif" << 9 << fcsUnicode;
        QTest::newRow("General keys exact case") << "general_case.ini" << "zh_TW.UTF-8"
            << "right section" << 1 << "" << 10 << fcsDefaultCharSet;
        QTest::newRow("missing file") << "absent.ini" << "zh_CN.UTF-8"
            << "" << 0 << "" << 9 << fcsDefaultCharSet;
    }
    void initLanguage()
    {
        QFETCH(QString, file);
        QFETCH(QString, locale);
        QFETCH(QString, title);
        QFETCH(int, entries);
        QFETCH(QString, fontName);
        QFETCH(int, fontSize);
        QFETCH(TFontCharSet, charset);
        useLocale(locale);
        InitLanguage(langFile(file.toLatin1().constData()));
        QVERIFY(Translations.has_value());
        QCOMPARE(Translations->size(), entries);
        const QString window = file == QLatin1String("vkpanel.ini") ? QStringLiteral("fmConMain")
                                                                    : QStringLiteral("fmMain");
        QCOMPARE(GetTranslation(window, QString()), title);
        QCOMPARE(LangFontName, fontName);
        QCOMPARE(LangFontSize, fontSize);
        QCOMPARE(LangCharset, charset);
    }

    void bareNameIsLookedUpInTheProgramDirectory()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(langFile("vkpanel.ini"), dir.filePath(QStringLiteral("vkpanel.ini"))));
        SetAppFileNameForTesting(dir.filePath(QStringLiteral("vkpanel")));
        useLocale(QStringLiteral("zh_CN.UTF-8"));
        InitLanguage(QStringLiteral("vkpanel.ini"));
        QCOMPARE(GetLangStr(QStringLiteral("NoInst"), QString()), QString::fromUtf8("未安装"));
    }

    void toolReadsItsLanguageFileWithoutWritingIt()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("vkhostset.ini"));
        QVERIFY(QFile::copy(langFile("vkpanel.ini"), file));
        QFile original(langFile("vkpanel.ini"));
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray before = original.readAll();
        const QDateTime modified = QFileInfo(file).lastModified();
        SetAppFileNameForTesting(dir.filePath(QStringLiteral("vkhostset")));
        SetLibVariant(TLibVariant::Tool);
        useLocale(QStringLiteral("en_US"));
        InitLanguage(QStringLiteral("vkhostset.ini"));
        QCOMPARE(GetLangStr(QStringLiteral("NoInst"), QString()), QStringLiteral("Not installed"));
        QFile after(file);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);   // comments and layout kept
        QCOMPARE(QFileInfo(file).lastModified(), modified);
    }

    void lookups_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("ident");
        QTest::addColumn<QString>("value");
        QTest::newRow("duplicate key: sorted line first") << "fmMain" << "btnModuleAdd" << "Alpha";
        QTest::newRow("key in other case") << "fmMain" << "btnDiskPart" << "Partition";
        QTest::newRow("window key") << "fmMain" << "" << "Main Title";
        QTest::newRow("window key any case") << "FMMAIN" << "" << "Main Title";
        QTest::newRow("prefix of longer keys") << "fmMain" << "lb" << "short";
        QTest::newRow("dotted ident") << "fmMain" << "lb.x" << "dotted";
        QTest::newRow("longer key") << "fmMain" << "lbA" << "longer";
        QTest::newRow("missing") << "fmMain" << "lbB" << "";
        QTest::newRow("message through GetTranslation") << "General" << "Hello" << "Hello there";
        QTest::newRow("whole key as section") << "General.Hello" << "" << "Hello there";
        QTest::newRow("value with equals") << "General" << "Eq" << "a=b";
        QTest::newRow("other section's key") << "General" << "Nothing" << "";
    }
    void lookups()
    {
        QFETCH(QString, section);
        QFETCH(QString, ident);
        QFETCH(QString, value);
        useLocale(QStringLiteral("en_US"));
        InitLanguage(langFile("lookup.ini"));
        QCOMPARE(GetTranslation(section, ident), value);
    }

    void messagesFallBackToTheirDefault()
    {
        QCOMPARE(GetTranslation(QStringLiteral("General"), QStringLiteral("Hello")), QString());
        QCOMPARE(GetLangStr(QStringLiteral("Hello"), QStringLiteral("before start")),
                 QStringLiteral("before start"));
        useLocale(QStringLiteral("en_US"));
        InitLanguage(langFile("lookup.ini"));
        QCOMPARE(GetLangStr(QStringLiteral("Hello"), QStringLiteral("d")), QStringLiteral("Hello there"));
        QCOMPARE(GetLangStr(QStringLiteral("NoInst"), QStringLiteral("built-in")), QStringLiteral("built-in"));
        QCOMPARE(GetLangStr(QStringLiteral("Missing"), QStringLiteral("built-in")), QStringLiteral("built-in"));
    }

    void loadLanguageSectionReplacesTheList()
    {
        useLocale(QStringLiteral("en_US"));
        InitLanguage(langFile("lookup.ini"));
        QVERIFY(!HasSection(QStringLiteral("EN")));   // only while InitLanguage reads
        LoadLanguageSection(langFile("lookup.ini"), QStringLiteral("GB"));
        QCOMPARE(*Translations, QStringList{QString::fromUtf8("General.Hello=你好")});
        LoadLanguageSection(langFile("absent.ini"), QStringLiteral("EN"));
        QCOMPARE(Translations->size(), 1);
        LoadLanguageSection(langFile("lookup.ini"), QStringLiteral("en"));
        QVERIFY(Translations->isEmpty());
    }

    void translateFormPutsTextsAndFonts()
    {
        if (!QFontDatabase::families().contains(QStringLiteral("DejaVu Serif")))
            QSKIP("DejaVu Serif not installed");
        useLocale(QStringLiteral("en_US"));
        InitLanguage(langFile("form.ini"));
        TTestWindow w;
        TranslateForm(w.Form);

        QCOMPARE(w.Form->windowTitle(), QStringLiteral("Title"));
        QCOMPARE(w.PageControl1->tabText(0), QStringLiteral("Drivers"));
        QCOMPARE(w.PageControl1->tabText(1), QString::fromUtf8("磁盘"));   // no key
        QCOMPARE(w.PageControl2->tabText(0), QStringLiteral("Partitions"));
        QCOMPARE(w.PageControl2->tabText(1), QStringLiteral("Arrays"));
        QCOMPARE(w.tsNetwork->windowTitle(), QString::fromUtf8("网络"));
        QCOMPARE(w.tsSystem->windowTitle(), QString::fromUtf8("系统"));
        QCOMPARE(w.btnModuleAdd->text(), QStringLiteral("Add"));
        QCOMPARE(w.btnModuleDel->text(), QString::fromUtf8("删除"));
        QCOMPARE(w.lblInfo->text(), QStringLiteral("Info"));
        QCOMPARE(w.chkAuto->text(), QStringLiteral("Auto"));
        QCOMPARE(w.grpDisk->title(), QStringLiteral("Disk"));
        QCOMPARE(w.edtPath->text(), QStringLiteral("/data"));
        QCOMPARE(w.cmbTerminal->currentText(), QStringLiteral("xterm2"));
        QCOMPARE(w.cmbLevel->currentText(), QStringLiteral("RAID0"));   // no text to set
        QCOMPARE(w.Memo1->toPlainText(), QStringLiteral("log"));        // a memo keeps its lines
        QCOMPARE(w.menuFile->title(), QStringLiteral("File"));
        QCOMPARE(w.miExit->text(), QStringLiteral("Exit"));
        QCOMPARE(w.miAbout->text(), QStringLiteral("About"));
        QCOMPARE(w.pmTree->title(), QStringLiteral("Tree"));
        QCOMPARE(w.miRefresh->text(), QStringLiteral("Refresh"));
        // The window's own dialog is a window of its own.
        QCOMPARE(w.btnSub->text(), QStringLiteral("sub"));
        QCOMPARE(FontCharSetOf(w.btnSub), fcsDefaultCharSet);

        // The language font on the window (its caption key has a value) and
        // on every component, keyed or not.
        QList<QObject *> all = w.components();
        all << w.Form;
        for (QObject *o : all) {
            const QFont f = fontOf(o);
            QVERIFY2(f.pointSize() == 10, qPrintable(o->objectName()));
            QVERIFY2(f.family() == QLatin1String("DejaVu Serif"), qPrintable(o->objectName()));
            QVERIFY2(FontCharSetOf(o) == fcsSet_Zh, qPrintable(o->objectName()));
        }
    }

    void windowWithoutCaptionKeyKeepsItsFont()
    {
        useLocale(QStringLiteral("en_US"));
        InitLanguage(langFile("form.ini"));
        TTestWindow w("fmOther");
        TranslateForm(w.Form);
        QCOMPARE(w.Form->windowTitle(), QStringLiteral("design title"));
        QVERIFY(!w.Form->testAttribute(Qt::WA_SetFont));
        QCOMPARE(FontCharSetOf(w.Form), fcsDefaultCharSet);
        QCOMPARE(w.btnModuleAdd->text(), QString::fromUtf8("添加"));   // keys are fmMain's
        QCOMPARE(w.btnModuleAdd->font().pointSize(), 10);
    }

    void missingFileStillSetsTheDefaultFont()
    {
        useLocale(QStringLiteral("en_US"));
        InitLanguage(langFile("absent.ini"));
        TTestWindow w;
        const QString family = w.btnModuleAdd->font().family();
        TranslateForm(w.Form);
        QCOMPARE(w.Form->windowTitle(), QStringLiteral("design title"));
        QCOMPARE(w.PageControl1->tabText(0), QString::fromUtf8("驱动"));
        for (QObject *o : w.components()) {
            QVERIFY2(fontOf(o).pointSize() == 9, qPrintable(o->objectName()));
            QVERIFY2(fontOf(o).families() == QStringList{family}, qPrintable(o->objectName()));
            QVERIFY2(FontCharSetOf(o) == fcsDefaultCharSet, qPrintable(o->objectName()));
        }
        QVERIFY(!w.Form->testAttribute(Qt::WA_SetFont));
    }
};

QTEST_MAIN(TestLangUtils)
#include "tst_langutils.moc"
