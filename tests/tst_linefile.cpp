// The tool's line files: what a load-edit-save round leaves of the text,
// and that a failed save leaves the old file whole.
#include "testutil.h"
#include "vkErrors.h"
#include "vkLineFile.h"

#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestLineFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void editRound_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("appended to a missing key") << QByteArray("a=1\n") << QByteArray("md[0]")
                                                   << QByteArray("\"/dev/sda1\"")
                                                   << QByteArray("a=1\nmd[0]=\"/dev/sda1\"\n");
        QTest::newRow("replaced in place, case ignored")
            << QByteArray("x=1\nMD[0]=old\nmd[0]=second\ny=2\n") << QByteArray("md[0]") << QByteArray("new")
            << QByteArray("x=1\nmd[0]=new\nmd[0]=second\ny=2\n");
        QTest::newRow("an empty value deletes the first only")
            << QByteArray("md[1]=a\nmd[1]=b\n") << QByteArray("md[1]") << QByteArray()
            << QByteArray("md[1]=b\n");
        QTest::newRow("a line without = is no key") << QByteArray("md[2]\nmd[2]x=1\n") << QByteArray("md[2]")
                                                    << QByteArray("v") << QByteArray("md[2]\nmd[2]x=1\nmd[2]=v\n");
        QTest::newRow("CR and CR LF end lines, LF is written")
            << QByteArray("a=1\r\nb=2\rc=3") << QByteArray("b") << QByteArray("9")
            << QByteArray("a=1\nb=9\nc=3\n");
        QTest::newRow("bytes of other encodings stay")
            << QByteArray("# caf\xe9 \xff\xfe\n/dev/sda1=/d\xe9 xfs\n") << QByteArray("/dev/sdb1")
            << QByteArray("/x") << QByteArray("# caf\xe9 \xff\xfe\n/dev/sda1=/d\xe9 xfs\n/dev/sdb1=/x\n");
        QTest::newRow("empty lines kept, no line added for an empty file")
            << QByteArray("\n\n") << QByteArray("k") << QByteArray() << QByteArray("\n\n");
    }
    void editRound()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, after);
        ScratchRoot root;
        root.write(QStringLiteral("/etc/f"), before);
        TLines lines = LoadLineBytes(root.path(QStringLiteral("/etc/f")));
        SetValue(lines, name, value);
        SaveLineBytes(root.path(QStringLiteral("/etc/f")), lines);
        QCOMPARE(root.read(QStringLiteral("/etc/f")), after);
        if (!value.isEmpty())
            QCOMPARE(ValueOf(lines, name.toUpper()), value);
    }

    void failuresNameTheFileAndKeepIt()
    {
        ScratchRoot root;
        try {
            LoadLineBytes(root.path(QStringLiteral("/etc/none")));
            QFAIL("no error");
        } catch (const EFOpenError &e) {
            QCOMPARE(e.Message(), QStringLiteral("Cannot open file \"%1\". No such file or directory")
                                      .arg(root.path(QStringLiteral("/etc/none"))));
        }
        if (geteuid() == 0)
            QSKIP("root writes into read-only directories");
        root.write(QStringLiteral("/etc/f"), "keep\n");
        QVERIFY(::chmod(QFile::encodeName(root.path(QStringLiteral("/etc"))).constData(), 0555) == 0);
        QVERIFY_THROWS_EXCEPTION(EFCreateError, SaveLineBytes(root.path(QStringLiteral("/etc/f")), {"new"}));
        QCOMPARE(root.read(QStringLiteral("/etc/f")), QByteArray("keep\n"));
        ::chmod(QFile::encodeName(root.path(QStringLiteral("/etc"))).constData(), 0755);
    }
};

QTEST_GUILESS_MAIN(TestLineFile)
#include "tst_linefile.moc"
