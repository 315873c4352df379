// The list log and the stream log: line formats, limits, rotation and
// archive names, and that neither ever raises.
#include "testutil.h"
#include "vkPaths.h"
#include "vkSysUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const QDateTime kAt(QDate(2026, 12, 7), QTime(22, 3, 20, 123));

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

void writeAllTo(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(data);
}

// `size` bytes of complete lines.
QByteArray filler(qsizetype size)
{
    QByteArray out(size, 'x');
    for (qsizetype i = 99; i < size; i += 100)
        out[i] = '\n';
    if (size > 0)
        out[size - 1] = '\n';
    return out;
}

QStringList entryNames(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestLoggers : public QObject {
    Q_OBJECT
    QTemporaryDir *FApp = nullptr;
    QString app(const QString &rel = {}) const { return FApp->path() + QLatin1Char('/') + rel; }
    QString streamDir() const { return app(QStringLiteral("log/vkpanel/")); }
    QString streamLog() const { return streamDir() + QStringLiteral("syslog.txt"); }
    QString listLog() const { return app(QStringLiteral("syslog.txt")); }

private Q_SLOTS:
    void init()
    {
        FApp = new QTemporaryDir;
        CloseLogStream();
        SetAppFileNameForTesting(app(QStringLiteral("vkpanel")));
        SetLogTimeForTesting(kAt);
    }
    void cleanup()
    {
        CloseLogStream();
        SetAppFileNameForTesting(QString());
        SetLogTimeForTesting({});
        delete FApp;
        FApp = nullptr;
    }

    // ---- stream log ---------------------------------------------------------

    void streamLineFormat_data()
    {
        QTest::addColumn<QString>("cat");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("msg");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("first line, fresh directory")
            << QStringLiteral("vkclx") << -1 << QStringLiteral("locale is empty.")
            << QByteArray("[12-07 22:03:20.123] C=\"vkclx\" ID=-1 M=\"locale is empty.\"\n");
        QTest::newRow("positive id") << QStringLiteral("RTL") << 10301 << QStringLiteral("scan")
                                     << QByteArray("[12-07 22:03:20.123] C=\"RTL\" ID=10301 M=\"scan\"\n");
        QTest::newRow("quote and line feed unchanged")
            << QStringLiteral("a\"b") << 0 << QStringLiteral("x\ny\"")
            << QByteArray("[12-07 22:03:20.123] C=\"a\"b\" ID=0 M=\"x\ny\"\"\n");
        QTest::newRow("placeholders stay text")
            << QStringLiteral("%1") << 7 << QStringLiteral("%2 %s")
            << QByteArray("[12-07 22:03:20.123] C=\"%1\" ID=7 M=\"%2 %s\"\n");
        QTest::newRow("utf-8") << QStringLiteral("字体") << -2147483647 - 1 << QStringLiteral("é")
                               << QByteArray("[12-07 22:03:20.123] C=\"\xE5\xAD\x97\xE4\xBD\x93\" "
                                             "ID=-2147483648 M=\"\xC3\xA9\"\n");
    }
    void streamLineFormat()
    {
        QFETCH(QString, cat);
        QFETCH(int, id);
        QFETCH(QString, msg);
        QFETCH(QByteArray, line);
        QVERIFY(!QFileInfo::exists(app(QStringLiteral("log"))));
        WriteLog(cat, id, msg);
        QCOMPARE(readAll(streamLog()), line);
    }

    void rotationLimit_data()
    {
        QTest::addColumn<qint64>("sizeAfter");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("exactly 256 KiB stays") << qint64(262144) << false;
        QTest::newRow("one byte more rotates") << qint64(262145) << true;
    }
    void rotationLimit()
    {
        QFETCH(qint64, sizeAfter);
        QFETCH(bool, rotated);
        const QByteArray line("[12-07 22:03:20.123] C=\"c\" ID=1 M=\"crossing\"\n");
        const QByteArray before = filler(sizeAfter - line.size());
        writeAllTo(streamLog(), before);
        WriteLog(QStringLiteral("c"), 1, QStringLiteral("crossing"));
        const QString rotatedName = streamDir() + QStringLiteral("20261207220320.txt");
        if (!rotated) {
            QCOMPARE(QFileInfo(streamLog()).size(), sizeAfter);
            QVERIFY(!QFileInfo::exists(rotatedName));
            return;
        }
        QCOMPARE(entryNames(streamDir()), QStringList{QStringLiteral("20261207220320.txt")});
        QCOMPARE(readAll(rotatedName), before + line);   // the crossing line last
        // The next line opens a new file, making the directories again if
        // they were removed meanwhile.
        QVERIFY(QDir(app(QStringLiteral("log"))).removeRecursively());
        WriteLog(QStringLiteral("c"), 2, QStringLiteral("next"));
        QCOMPARE(readAll(streamLog()), QByteArray("[12-07 22:03:20.123] C=\"c\" ID=2 M=\"next\"\n"));
    }

    void rotationsInOneSecondKeepEveryFile()
    {
        const QByteArray big = filler(262145);
        for (int i = 0; i < 3; ++i) {
            writeAllTo(streamLog(), big);
            WriteLog(QStringLiteral("c"), i, QStringLiteral("m"));
        }
        QCOMPARE(entryNames(streamDir()),
                 (QStringList{QStringLiteral("20261207220320-1.txt"),
                              QStringLiteral("20261207220320-2.txt"),
                              QStringLiteral("20261207220320.txt")}));
        QVERIFY(readAll(streamDir() + QStringLiteral("20261207220320.txt")).endsWith("ID=0 M=\"m\"\n"));
        QVERIFY(readAll(streamDir() + QStringLiteral("20261207220320-1.txt")).endsWith("ID=1 M=\"m\"\n"));
        QVERIFY(readAll(streamDir() + QStringLiteral("20261207220320-2.txt")).endsWith("ID=2 M=\"m\"\n"));
        // The next second takes its plain name again.
        SetLogTimeForTesting(kAt.addSecs(1));
        writeAllTo(streamLog(), big);
        WriteLog(QStringLiteral("c"), 3, QStringLiteral("m"));
        QVERIFY(QFileInfo::exists(streamDir() + QStringLiteral("20261207220321.txt")));
    }

    void logThatCannotBeMovedAsideIsDeleted()
    {
        // Every name the rotation may take in this second is taken already:
        // the full log is deleted rather than left to grow without end, and
        // the files in the way stay as they were.
        const QString taken = streamDir() + QStringLiteral("20261207220320.txt");
        writeAllTo(taken, "kept\n");
        const QByteArray takenName = QFile::encodeName(taken);
        for (int n = 1; n < 10000; ++n) {
            const QByteArray other = QFile::encodeName(streamDir() + QStringLiteral("20261207220320-%1.txt").arg(n));
            QCOMPARE(::link(takenName.constData(), other.constData()), 0);
        }
        writeAllTo(streamLog(), filler(262145));
        WriteLog(QStringLiteral("c"), 1, QStringLiteral("crossing"));
        QVERIFY(!QFileInfo::exists(streamLog()));
        QCOMPARE(QDir(streamDir()).entryList(QDir::Files).size(), 10000);
        QCOMPARE(readAll(taken), QByteArray("kept\n"));
        WriteLog(QStringLiteral("c"), 2, QStringLiteral("next"));
        QCOMPARE(readAll(streamLog()), QByteArray("[12-07 22:03:20.123] C=\"c\" ID=2 M=\"next\"\n"));
    }

    void programNameLosesItsExtension()
    {
        SetAppFileNameForTesting(app(QStringLiteral("name.bin")));
        WriteLog(QStringLiteral("c"), 1, QStringLiteral("m"));
        QVERIFY(QFileInfo::exists(app(QStringLiteral("log/name/syslog.txt"))));
        CloseLogStream();
        SetAppFileNameForTesting(app(QStringLiteral("a.b.c")));
        WriteLog(QStringLiteral("c"), 1, QStringLiteral("m"));
        QVERIFY(QFileInfo::exists(app(QStringLiteral("log/a.b/syslog.txt"))));
    }

    void threadsNeverInterleaveLines()
    {
        const int threads = 4, perThread = 300;
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([t] {
                for (int i = 0; i < perThread; ++i)
                    WriteLog(QStringLiteral("T%1").arg(t), i, QString(200, QLatin1Char('a' + t)));
            });
        for (auto &th : pool)
            th.join();
        CloseLogStream();
        // Everything written, rotated or not, consists of whole lines.
        QByteArray all;
        for (const QString &name : entryNames(streamDir()))
            all += readAll(streamDir() + name);
        const QList<QByteArray> lines = all.split('\n');
        QCOMPARE(lines.size(), threads * perThread + 1);
        for (int i = 0; i < lines.size() - 1; ++i) {
            const QByteArray &l = lines.at(i);
            QVERIFY2(l.startsWith("[12-07 22:03:20.123] C=\"T") && l.endsWith("\""), l.constData());
            const char who = l.at(int(qstrlen("[12-07 22:03:20.123] C=\"T")));
            QVERIFY(l.contains(QByteArray(200, char('a' + (who - '0')))));
        }
    }

    void unwritableLocationNeverRaises()
    {
        SetAppFileNameForTesting(QStringLiteral("/proc/no-such-dir/vkpanel"));
        WriteLog(QStringLiteral("c"), 1, QStringLiteral("m"));
        LogLine(QStringLiteral("c"), 1, QStringLiteral("m"));
        LogFmt(QStringLiteral("c"), 1, "%s %d", "m", 2);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/no-such-dir")));
        // Once the location is usable again the stream log opens afresh.
        SetAppFileNameForTesting(app(QStringLiteral("vkpanel")));
        WriteLog(QStringLiteral("c"), 2, QStringLiteral("m"));
        QCOMPARE(readAll(streamLog()), QByteArray("[12-07 22:03:20.123] C=\"c\" ID=2 M=\"m\"\n"));
    }

    void listLogEntryFormat()
    {
        LogLine(QStringLiteral("RTL"), 10301, QStringLiteral("ioctl failed"));
        LogFmt(QStringLiteral("RTL"), -5, "%s=%d", "eth0", 3);
        QCOMPARE(readAll(listLog()), QByteArray("[12-07 22:03:20.123] C=\"RTL\" ID=10301 M=\"ioctl failed\"\n"
                                                "[12-07 22:03:20.123] C=\"RTL\" ID=-5 M=\"eth0=3\"\n"));
    }

    void listLogReloadSplitsLineFeeds()
    {
        writeAllTo(listLog(), "one\r\ntwo\rthree");
        LogLine(QStringLiteral("c"), 1, QStringLiteral("a\nb"));
        QCOMPARE(readAll(listLog()), QByteArray("one\ntwo\nthree\n"
                                                "[12-07 22:03:20.123] C=\"c\" ID=1 M=\"a\nb\"\n"));
    }

    void listLogLimit_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<bool>("archived");
        QTest::newRow("1000th entry stays") << 999 << false;
        QTest::newRow("1001st entry archives all") << 1000 << true;
    }
    void listLogLimit()
    {
        QFETCH(int, before);
        QFETCH(bool, archived);
        const QByteArray old = filler(before * 100);
        writeAllTo(listLog(), old);
        LogLine(QStringLiteral("c"), 1001, QStringLiteral("newest"));
        const QByteArray all = old + "[12-07 22:03:20.123] C=\"c\" ID=1001 M=\"newest\"\n";
        const QString archive = app(QStringLiteral("2612072203.txt"));
        if (!archived) {
            QCOMPARE(readAll(listLog()), all);
            QVERIFY(!QFileInfo::exists(archive));
            return;
        }
        QCOMPARE(readAll(archive), all);   // the newest last
        QCOMPARE(readAll(listLog()), QByteArray());
        LogLine(QStringLiteral("c"), 1, QStringLiteral("again"));
        QCOMPARE(readAll(listLog()), QByteArray("[12-07 22:03:20.123] C=\"c\" ID=1 M=\"again\"\n"));
    }

    void listArchivesInOneMinuteKeepEveryFile()
    {
        const QByteArray thousand = filler(1000 * 100);
        writeAllTo(listLog(), thousand);
        LogLine(QStringLiteral("c"), 1, QStringLiteral("first"));
        SetLogTimeForTesting(kAt.addSecs(30));   // same minute
        writeAllTo(listLog(), thousand);
        LogLine(QStringLiteral("c"), 2, QStringLiteral("second"));
        QVERIFY(readAll(app(QStringLiteral("2612072203.txt"))).endsWith("M=\"first\"\n"));
        QVERIFY(readAll(app(QStringLiteral("2612072203-1.txt"))).endsWith("M=\"second\"\n"));
    }
};

QTEST_GUILESS_MAIN(TestLoggers)
#include "tst_loggers.moc"
