// The test seams themselves: system paths, existence tests and dialogs.
#include "testutil.h"
#include "vkPaths.h"

#include <QTest>

#include <cerrno>

class TestSeams : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void realRootIsIdentity()
    {
        QCOMPARE(SysPath(QStringLiteral("/proc/partitions")), QStringLiteral("/proc/partitions"));
    }
    void scratchRootPrefixesAndRestores()
    {
        {
            ScratchRoot root;
            QCOMPARE(SysPath(QStringLiteral("/etc/velkora/bond.conf")),
                     root.root() + QStringLiteral("/etc/velkora/bond.conf"));
        }
        QCOMPARE(SysPath(QStringLiteral("/dev/sda")), QStringLiteral("/dev/sda"));
    }
    void existenceCountsDirectoriesAndNotMissing()
    {
        ScratchRoot root;
        root.mkdir(QStringLiteral("/usr/sbin/fyr"));
        root.write(QStringLiteral("/var/run/velkora/fyrsrv.pid"), {});
        QVERIFY(FileExists(SysPath(QStringLiteral("/usr/sbin/fyr"))));
        QVERIFY(FileExists(SysPath(QStringLiteral("/var/run/velkora/fyrsrv.pid"))));
        QVERIFY(!FileExists(SysPath(QStringLiteral("/var/run/velkora/fyqsrv.pid"))));
        errno = 0;
        QVERIFY(!FileExists(QString()));
        QCOMPARE(errno, ENOENT);   // open errors report it like any missing name
    }
    void dialogRecorderAnswersInOrder()
    {
        DialogRecorder rec;
        rec.answer(mrNo);
        QCOMPARE(MessageDlg(QStringLiteral("q1"), TMsgDlgType::Warning, mbYes | mbNo), int(mrNo));
        QCOMPARE(MessageDlg(QStringLiteral("q2"), TMsgDlgType::Warning, mbYes | mbNo), int(mrYes));
        QCOMPARE(rec.texts(), QStringList({QStringLiteral("q1"), QStringLiteral("q2")}));
        QCOMPARE(rec.requests().first().Buttons, unsigned(mbYes | mbNo));
    }
};

QTEST_GUILESS_MAIN(TestSeams)
#include "tst_seams.moc"
