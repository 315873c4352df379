// Paths of the program, path building and the small helpers.
#include "testutil.h"
#include "vkErrors.h"
#include "vkPaths.h"
#include "vkSysUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <memory>

namespace {

QString units(const QList<char16_t> &u)
{
    QString s;
    for (char16_t c : u)
        s.append(QChar(c));
    return s;
}

} // namespace

class TestSysUtils : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { SetAppFileNameForTesting(QString()); }

    void includeTrailingSlash_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("empty") << QString() << QStringLiteral("/");
        QTest::newRow("plain") << QStringLiteral("a") << QStringLiteral("a/");
        QTest::newRow("already") << QStringLiteral("/opt/app/") << QStringLiteral("/opt/app/");
        QTest::newRow("trailing blank") << QStringLiteral("a ") << QStringLiteral("a /");
    }
    void includeTrailingSlash()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(IncludeTrailingSlash(in), out);
    }

    void buildPath_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all empty") << QString() << QStringList() << QString() << QStringLiteral("/");
        QTest::newRow("log path") << QStringLiteral("/opt/app")
                                  << QStringList{QStringLiteral("log"), QStringLiteral("vkpanel")}
                                  << QStringLiteral("syslog.txt")
                                  << QStringLiteral("/opt/app/log/vkpanel/syslog.txt");
        QTest::newRow("empty part skipped")
            << QStringLiteral("/b") << QStringList{QStringLiteral("a"), QString(), QStringLiteral("c")}
            << QString() << QStringLiteral("/b/a/c/");
        QTest::newRow("blank part skipped")
            << QStringLiteral("/b/") << QStringList{QStringLiteral("   "), QStringLiteral("\t\n")}
            << QString() << QStringLiteral("/b/");
        QTest::newRow("padded part kept untrimmed")
            << QStringLiteral("/b") << QStringList{QStringLiteral(" x ")} << QString()
            << QStringLiteral("/b/ x /");
        QTest::newRow("part with slashes")
            << QStringLiteral("/b") << QStringList{QStringLiteral("c/d"), QStringLiteral("/e/")}
            << QString() << QStringLiteral("/b/c/d//e/");
        QTest::newRow("file name untouched")
            << QStringLiteral("/b") << QStringList() << QStringLiteral(" f.txt ")
            << QStringLiteral("/b/ f.txt ");
    }
    void buildPath()
    {
        QFETCH(QString, base);
        QFETCH(QStringList, parts);
        QFETCH(QString, fileName);
        QFETCH(QString, expected);
        QCOMPARE(BuildPath(base, parts, fileName, false), expected);
    }

    void buildPathForceDirs()
    {
        QTemporaryDir tmp;
        const QStringList parts{QStringLiteral("log"), QStringLiteral("vkpanel")};
        QCOMPARE(BuildPath(tmp.path(), parts, QStringLiteral("syslog.txt"), false),
                 tmp.path() + QStringLiteral("/log/vkpanel/syslog.txt"));
        QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("log"))));
        QCOMPARE(BuildPath(tmp.path(), parts, QStringLiteral("syslog.txt"), true),
                 tmp.path() + QStringLiteral("/log/vkpanel/syslog.txt"));
        QVERIFY(QFileInfo(tmp.filePath(QStringLiteral("log/vkpanel"))).isDir());
        QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("log/vkpanel/syslog.txt"))));
        // An impossible directory is not reported; the path still comes back.
        QCOMPARE(BuildPath(QStringLiteral("/proc/none"), {QStringLiteral("x")}, QString(), true),
                 QStringLiteral("/proc/none/x/"));
    }

    void appFileAndDir()
    {
        const QString real = GetAppFileName();
        QVERIFY(QFileInfo(real).isAbsolute());
        QCOMPARE(QFileInfo(real).canonicalFilePath(),
                 QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
        QVERIFY(GetAppDir().endsWith(QLatin1Char('/')));
        QCOMPARE(GetAppDir() + QFileInfo(real).fileName(), real);

        SetAppFileNameForTesting(QStringLiteral("/opt/app/vkpanel"));
        QCOMPARE(GetAppFileName(), QStringLiteral("/opt/app/vkpanel"));
        QCOMPARE(GetAppDir(), QStringLiteral("/opt/app/"));
        SetAppFileNameForTesting(QStringLiteral("vkpanel"));
        QCOMPARE(GetAppDir(), QString());
        SetAppFileNameForTesting(QString());
        QCOMPARE(GetAppFileName(), real);
    }

    void checkNotEmpty_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("raises");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("blank") << QStringLiteral(" ") << true;
        QTest::newRow("tab") << QStringLiteral("\t") << true;
        QTest::newRow("controls") << QStringLiteral("\r\n \x01") << true;
        QTest::newRow("padded letter") << QStringLiteral(" a ") << false;
        QTest::newRow("no-break space counts as text") << QStringLiteral("\u00a0") << false;
    }
    void checkNotEmpty()
    {
        QFETCH(QString, value);
        QFETCH(bool, raises);
        const QString msg = QStringLiteral("  IP address is empty!  ");
        try {
            CheckNotEmpty(value, msg);
            QVERIFY(!raises);
        } catch (const Exception &e) {
            QVERIFY(raises);
            QCOMPARE(e.Message(), msg);
        }
    }

    void utf8ToWide_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("ascii") << QByteArray("abc") << QStringLiteral("abc");
        QTest::newRow("two bytes") << QByteArray("\xC3\xA9") << units({0x00E9});
        QTest::newRow("three bytes") << QByteArray("\xE4\xB8\xAD") << units({0x4E2D});
        QTest::newRow("four bytes, pair") << QByteArray("\xF0\x9F\x98\x80") << units({0xD83D, 0xDE00});
        QTest::newRow("last code point") << QByteArray("\xF4\x8F\xBF\xBF") << units({0xDBFF, 0xDFFF});
        QTest::newRow("above last code point") << QByteArray("\xF4\x90\x80\x80") << units({0xFFFD});
        QTest::newRow("stray continuation") << QByteArray("\x80") << units({0x0080});
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << units({0xD800});
        QTest::newRow("overlong lead eats next")
            << QByteArray("\xC0\x41") << units({0xFFFD});
        QTest::newRow("lead as continuation") << QByteArray("\xC3\xC3") << units({0x0103});
        QTest::newRow("five bytes") << QByteArray("\xF8\x88\x80\x80\x80") << units({0xFFFD});
        QTest::newRow("six bytes then text")
            << QByteArray("\xFC\x84\x80\x80\x80\x80z") << units({0xFFFD, 'z'});
        QTest::newRow("mixed") << QByteArray("a\xC3\xA9" "b") << units({'a', 0xE9, 'b'});
        // Cut-off tails: one replacement character, nothing read past the end.
        QTest::newRow("cut two-byte") << QByteArray("a\xC3") << units({'a', 0xFFFD});
        QTest::newRow("cut three-byte") << QByteArray("\xE4\xB8") << units({0xFFFD});
        QTest::newRow("cut four-byte") << QByteArray("x\xF0\x9F\x98") << units({'x', 0xFFFD});
        QTest::newRow("cut six-byte") << QByteArray("\xFC") << units({0xFFFD});
    }
    void utf8ToWide()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        // The text without its usual terminating zero, followed by a
        // continuation byte that changes the result should it ever be read.
        std::unique_ptr<char[]> raw(new char[size_t(bytes.size()) + 1]);
        std::memcpy(raw.get(), bytes.constData(), size_t(bytes.size()));
        raw[size_t(bytes.size())] = '\xBF';
        QCOMPARE(UTF8ToWide(QByteArray::fromRawData(raw.get(), bytes.size())), expected);
    }

    void utf8ToWideAgreesOnEveryWellFormedCodePoint()
    {
        QByteArray all;
        all.reserve(4 * 0x110000);
        for (char32_t cp = 1; cp <= 0x10FFFF; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF)
                continue;
            all += QString::fromUcs4(&cp, 1).toUtf8();
        }
        QCOMPARE(UTF8ToWide(all), QString::fromUtf8(all));
    }
};

QTEST_GUILESS_MAIN(TestSysUtils)
#include "tst_sysutils.moc"
