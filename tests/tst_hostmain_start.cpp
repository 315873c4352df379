// The configuration tool's main window: a plain start and resizing, failing start-up steps,
// the module tree scan and the loading of modules.conf.
#include "hostmain_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTemporaryDir>

class TestHostMainStart : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A plain start makes /etc/velkora/ (a missing modules.conf stays
    // missing) and shows the drivers tab; anchored controls keep their
    // distances to the page's edges on a resize, whatever size the tabs get.
    void plainStartAndResize()
    {
        HostScratch s;
        QVERIFY(!s.root.exists("/etc/velkora"));
        const auto w = s.open();
        QVERIFY(QFileInfo(s.root.path("/etc/velkora")).isDir());
        QVERIFY(!s.root.exists("/etc/velkora/modules.conf"));
        QCOMPARE(part<QListWidget>(*w, "lbModules")->count(), 0);
        QCOMPARE(HostScratch::modulesDir(), "/lib/modules/" + QSysInfo::kernelVersion());
        QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        auto *tabs = part<QTabWidget>(*w, "PageControl1");
        QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("tsModules"));
        w->show();
        const QRect list = part(*w, "lbModules")->geometry(), add = part(*w, "btnModuleAdd")->geometry();
        w->resize(800, 540);
        QCOMPARE(part(*w, "lbModules")->geometry(), list.adjusted(0, 0, 150, 100));
        QCOMPARE(part(*w, "btnModuleAdd")->geometry(), add.translated(0, 100));
        tabs->setCurrentIndex(1);   // a page takes the new size once it is shown
        const QRect page = tabs->widget(1)->rect(), tree = part(*w, "tvDev")->geometry();
        QCOMPARE(QRect(2, 2, page.width() - 222, page.height() - 57), tree);   // 220 and 55 to the right and bottom
    }

    // The window takes its caption and texts from the program's language
    // file (how keys are looked up is the language helpers' own test).
    void translation()
    {
        qputenv("LC_ALL", "C");
        HostScratch s;
        s.programFile("vkhostset.ini", "[EN]\nfmMain=Configuration\nfmMain.btnModuleAdd=Add\n");
        const auto w = s.open();
        QCOMPARE(w->windowTitle(), QStringLiteral("Configuration"));
        QCOMPARE(part<QPushButton>(*w, "btnModuleAdd")->text(), QStringLiteral("Add"));
    }

    // A step that fails shows its error and the steps after it still run:
    // the driver list (guarded when it is what failed, however it failed),
    // the disk tree with its mount table, the drivers tab in front.
    void failingStep_data()
    {
        QTest::addColumn<QString>("broken");
        QTest::addColumn<QString>("reason");   // of the driver list's open error; empty: another step failed
        QTest::newRow("driver list is a directory") << "dir" << "Is a directory";
        QTest::newRow("driver list over the bound") << "huge" << "File too large";
        QTest::newRow("memory runs out reading the driver list") << "alloc" << QString();
        QTest::newRow("interface listing unreadable") << "netdev" << QString();
    }
    void failingStep()
    {
        QFETCH(QString, broken);
        QFETCH(QString, reason);
        HostScratch s;
        s.module("kernel/drivers/net/e1000.ko");
        s.mtab("/dev/sda1 /a xfs rw 0 0\n");
        const QString conf = s.root.path("/etc/velkora/modules.conf");
        if (broken == "dir") {
            s.root.mkdir("/etc/velkora/modules.conf");
        } else {
            s.modulesConf("e1000\n");
            if (broken == "huge")
                QVERIFY(QFile::resize(conf, qint64(30) << 30));
        }
        if (broken == "netdev") {
            s.root.remove("/proc/net/dev");
            s.root.mkdir("/proc/net/dev");
        }
        if (broken == "alloc")
            TfmMain::SetModulesLoadHookForTesting([](const QByteArray &) { throw std::bad_alloc(); });
        const auto resetHook = qScopeGuard([] { TfmMain::SetModulesLoadHookForTesting(nullptr); });
        const auto w = s.open();
        if (!reason.isEmpty())
            QCOMPARE(s.dialogs.texts(), QStringList{"Cannot open file \"" + conf + "\". " + reason});
        else if (broken == "alloc")
            QCOMPARE(s.dialogs.texts(), QStringList{"std::bad_alloc"});
        else   // the start's refresh and the tree's
            QCOMPARE(s.dialogs.texts().size(), 2);
        QCOMPARE(w->NetModules, QStringList{"e1000"});
        QCOMPARE(listTexts(part<QListWidget>(*w, "lbModules")), broken == "netdev" ? QStringList{"e1000"} : QStringList());
        if (broken != "netdev")
            QCOMPARE(w->MtabLines, QStringList{"/dev/sda1 /a xfs rw 0 0"});
        QCOMPARE(part<QTabWidget>(*w, "PageControl1")->currentWidget()->objectName(), QStringLiteral("tsModules"));
    }

    // modules.conf's lines as list entries: any line end, empty lines kept.
    void loadModulesConf_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("CRLF, no final end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
        QTest::newRow("CR") << QByteArray("a\rb\r") << QStringList{"a", "b"};
        QTest::newRow("empty lines") << QByteArray("\na\n\n\nb\n\n") << QStringList{"", "a", "", "", "b", ""};
        QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("empty file") << QByteArray("") << QStringList{};
        QTest::newRow("blanks kept") << QByteArray(" a \n\t\n") << QStringList{" a ", "\t"};
    }
    void loadModulesConf()
    {
        QFETCH(QByteArray, conf);
        QFETCH(QStringList, lines);
        HostScratch s;
        s.modulesConf(conf);
        const auto w = s.open();
        QCOMPARE(listTexts(part<QListWidget>(*w, "lbModules")), lines);
        QCOMPARE(s.modulesConf(), conf);   // loading writes nothing
    }

    // The module names found under drivers/net: every non-directory name in
    // the tree without its last extension, sorted, each once ignoring case.
    // Links to directories are neither followed nor listed.
    void scanModules_data()
    {
        QTest::addColumn<QStringList>("tree");   // "f:file", "l:link->target"
        QTest::addColumn<QStringList>("names");
        QTest::newRow("no directory") << QStringList{"f:../scsi/x.ko"} << QStringList{};
        QTest::newRow("nested, found twice")
            << QStringList{"f:e1000/e1000.ko", "f:e1000.ko", "f:a/b/c/deep.ko", "f:bnx2.o"}
            << QStringList{"bnx2", "deep", "e1000"};
        QTest::newRow("README, double extension, hidden")
            << QStringList{"f:README", "f:foo.ko.gz", "f:.hidden.ko", "f:noext"}
            << QStringList{".hidden", "foo.ko", "noext", "README"};
        QTest::newRow("letter case") << QStringList{"f:E1000.ko", "f:x/e1000.ko", "f:Bnx2.ko"}
                                     << QStringList{"Bnx2", "E1000"};
        QTest::newRow("links") << QStringList{"f:real/tg3.ko", "l:loop->..", "l:again->real",
                                              "l:alias.ko->real/tg3.ko", "l:dangling.ko->nowhere"}
                               << QStringList{"alias", "dangling", "tg3"};
    }
    void scanModules()
    {
        QFETCH(QStringList, tree);
        QFETCH(QStringList, names);
        HostScratch s;
        const QString net = s.root.path(HostScratch::modulesDir() + "/kernel/drivers/net/");
        for (const QString &entry : tree) {
            const QString path = net + entry.mid(2).section("->", 0, 0);
            QDir().mkpath(QFileInfo(path).path());
            if (entry.startsWith("f:"))
                writeFile(path, {});
            else
                QVERIFY(QFile::link(entry.section("->", 1), path));
        }
        const auto w = s.open();
        if (names.isEmpty() && tree.first().contains("scsi"))
            QCOMPARE(w->ScsiModules, QStringList{"x"});
        QStringList direct;
        TfmMain::ScanModules(net.chopped(1), direct);   // the slash is added when missing
        // Of names that differ in case only, the one met first stays.
        const auto folded = [](QStringList l) { return QTest::currentDataTag() == QByteArray("letter case") ? l.join(',').toLower().split(',') : l; };
        QCOMPARE(folded(w->NetModules), folded(names));
        QCOMPARE(folded(direct), folded(names));
    }

    // The order of names the case-blind text comparison gives, also where
    // folding up instead of down, or comparing bytes, would differ: "_" and
    // "[" stand between the capitals and the small letters, non-ASCII
    // letters fold too and sort after ASCII. A second scan into the same
    // list merges: a name already there, in any case, stays as it was.
    void scanModulesOrder_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");   // scanned into the same list
        QTest::addColumn<QStringList>("names");
        QTest::newRow("punctuation between the cases")
            << QStringList{"Zeta.ko", "_a.ko", "[x.ko", "B.ko", "z.ko", "a1.ko"} << QStringList{}
            << QStringList{"[x", "_a", "a1", "B", "z", "Zeta"};
        QTest::newRow("non-ASCII letters")
            << QStringList{"éb.ko", "Éa.ko", "zz.ko", "Ä.ko"} << QStringList{}
            << QStringList{"zz", "Ä", "Éa", "éb"};
        QTest::newRow("second scan merges")
            << QStringList{"e1000.ko", "tg3.ko"} << QStringList{"E1000.ko", "bnx2.ko", "TG3.o", "via.ko"}
            << QStringList{"bnx2", "e1000", "tg3", "via"};
        QTest::newRow("second scan finds nothing")
            << QStringList{"b.ko", "a.ko"} << QStringList{} << QStringList{"a", "b"};
    }
    void scanModulesOrder()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        QFETCH(QStringList, names);
        QTemporaryDir dir;
        for (const QString &f : first)
            writeFile(dir.filePath("one/" + f), {});
        QDir().mkpath(dir.filePath("two"));
        for (const QString &f : second)
            writeFile(dir.filePath("two/" + f), {});
        QStringList list;
        TfmMain::ScanModules(dir.filePath("one"), list);
        TfmMain::ScanModules(dir.filePath("two"), list);
        QCOMPARE(list, names);
    }
};

QTEST_MAIN(TestHostMainStart)
#include "tst_hostmain_start.moc"
