// The drivers tab and the driver chooser: adding, the duplicate rule,
// editing, deleting, the file behind the list, modinfo.ini, and loading a
// line with modprobe, hostile lines included.
#include "hostmain_fixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QApplication>
#include <QScopeGuard>
#include <QTreeWidget>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
QListWidget *modules(const TfmMain &w) { return part<QListWidget>(w, "lbModules"); }

void select(const TfmMain &w, int row)
{
    modules(w)->setCurrentRow(row);
    QCoreApplication::processEvents();   // the list's click arrives from the event loop
}

bool enabled(const TfmMain &w, const char *name) { return part(w, name)->isEnabled(); }

// For its lifetime this thread reads and writes files by their mode bits
// alone, as any user but root does: root's override of them is dropped from
// the effective set and taken back from the permitted one afterwards.
class ModeBitsRule {
public:
    ModeBitsRule()
    {
        if (::geteuid() != 0)
            return;
        if (::syscall(SYS_capget, &FHeader, FSaved) != 0)
            return;
        __user_cap_data_struct dropped[2] = {FSaved[0], FSaved[1]};
        dropped[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        FDropped = ::syscall(SYS_capset, &FHeader, dropped) == 0;
    }
    ~ModeBitsRule() { restore(); }
    bool holds() const { return ::geteuid() != 0 || FDropped; }
    void restore()
    {
        if (FDropped)
            ::syscall(SYS_capset, &FHeader, FSaved);
        FDropped = false;
    }

private:
    __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct FSaved[2]{};
    bool FDropped = false;
};
} // namespace

class TestHostMainDrivers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The chosen module is added as a last line unless a line starts with it.
    void add_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QByteArray>("saved");   // empty: refused
        QTest::newRow("no file") << QByteArray() << "e1000" << QByteArray("e1000\n");
        QTest::newRow("appended") << QByteArray("bnx2\n") << "e1000" << QByteArray("bnx2\ne1000\n");
        QTest::newRow("with parameters") << QByteArray("e1000 debug=1\n") << "e1000" << QByteArray();
        QTest::newRow("leading blank") << QByteArray(" e1000\n") << "e1000" << QByteArray();
        QTest::newRow("other case") << QByteArray("E1000\n") << "e1000" << QByteArray("E1000\ne1000\n");
        QTest::newRow("longer name") << QByteArray("e1000e\n") << "e1000" << QByteArray("e1000e\ne1000\n");
    }
    void add()
    {
        QFETCH(QByteArray, conf);
        QFETCH(QString, chosen);
        QFETCH(QByteArray, saved);
        HostScratch s;
        s.module("kernel/drivers/net/e1000/e1000.ko");
        s.module("kernel/drivers/net/bnx2.ko");
        if (!conf.isEmpty())
            s.modulesConf(conf);
        const auto w = s.open();
        select(*w, -1);
        s.choose(chosen);
        part<QAction>(*w, "menuNIC")->trigger();
        if (saved.isEmpty()) {
            QCOMPARE(s.dialogs.texts(), QStringList{"模块\"" + chosen + "\"已经存在"});
            QCOMPARE(s.dialogs.requests().first().Type, TMsgDlgType::Error);
            QCOMPARE(s.modulesConf(), conf);
        } else {
            QVERIFY(s.dialogs.requests().isEmpty());
            QCOMPARE(s.modulesConf(), saved);
            QCOMPARE(listTexts(modules(*w)).join('\n') + '\n', QString::fromUtf8(saved));
        }
        // Adding neither selects the line nor changes the buttons.
        QCOMPARE(modules(*w)->currentRow(), -1);
        QVERIFY(!enabled(*w, "btnModuleEdit"));
    }

    // Each menu item offers its own list. The chooser's texts come from the
    // language file.
    void chooserSources()
    {
        qputenv("LC_ALL", "C");
        HostScratch s;
        s.programFile("vkhostset.ini", "[EN]\nfmSelModule=Choose a driver\nfmSelModule.btnCancel=Close\n");
        s.module("kernel/drivers/net/e1000.ko");
        s.module("kernel/drivers/scsi/aacraid/aacraid.ko");
        s.module("kernel/drivers/scsi/3w-9xxx.ko");
        const auto w = s.open();
        QStringList offered;
        QString caption;
        s.choose(QString(), [&](TfmSelModule *d) {
            caption = d->windowTitle() + '|' + d->btnCancel->text();
            for (int i = 0; i < d->lbModules->topLevelItemCount(); ++i)
                offered << d->lbModules->topLevelItem(i)->text(0);
        });
        part<QAction>(*w, "menuDisk")->trigger();
        QCOMPARE(offered, (QStringList{"3w-9xxx", "aacraid"}));
        QCOMPARE(caption, QStringLiteral("Choose a driver|Close"));
        offered.clear();
        part<QAction>(*w, "menuNIC")->trigger();
        QCOMPARE(offered, QStringList{"e1000"});
    }

    // OK closes the chooser only with a row selected; a double click and
    // Enter choose too.
    void chooserOk_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("okEnabled");
        QTest::addColumn<QString>("added");
        QTest::newRow("nothing selected, OK") << "ok" << false << QString();
        QTest::newRow("selected, OK") << "select ok" << true << "e1000";
        QTest::newRow("selected, Cancel") << "select cancel" << true << QString();
        QTest::newRow("double click") << "doubleclick" << true << "e1000";
        QTest::newRow("Enter in the list") << "select enter" << true << "e1000";
        QTest::newRow("Enter on Cancel") << "select cancel enter" << true << QString();
    }
    void chooserOk()
    {
        QFETCH(QString, how);
        QFETCH(bool, okEnabled);
        QFETCH(QString, added);
        HostScratch s;
        const auto w = s.open();
        w->NetModules = QStringList{"bnx2", "e1000"};
        SetSelectModuleHook([&](TfmSelModule *d) {
            QVERIFY(!d->btnOK->isEnabled());   // no row selected at first
            QTreeWidgetItem *row = d->lbModules->topLevelItem(1);
            if (how.contains("select") || how == "doubleclick")
                d->lbModules->setCurrentItem(row);
            QCOMPARE(d->btnOK->isEnabled(), okEnabled);
            if (how.endsWith("ok"))
                d->btnOK->click();
            else if (how.endsWith("cancel"))
                d->btnCancel->click();
            else if (how == "doubleclick")
                d->lbModulesDblClick();
            else if (how.endsWith("enter")) {
                // Enter presses the focused button, the default one elsewhere.
                d->show();
                QWidget *focus = how.contains("cancel") ? static_cast<QWidget *>(d->btnCancel) : d->lbModules;
                QApplication::setActiveWindow(d);
                QVERIFY(QTest::qWaitForWindowActive(d));
                focus->setFocus();
                QTest::keyClick(focus, Qt::Key_Return);
                if (d->isVisible())
                    d->reject();
            }
        });
        part<QAction>(*w, "menuNIC")->trigger();
        QCOMPARE(listTexts(modules(*w)), added.isEmpty() ? QStringList() : QStringList{added});
    }

    // A module's description: the first line whose name before "=" is the
    // module's, letter case aside, blanks counting.
    void modinfo_data()
    {
        QTest::addColumn<QByteArray>("ini");   // empty: no file
        QTest::addColumn<QString>("description");
        QTest::newRow("no file") << QByteArray() << QString();
        QTest::newRow("exact") << QByteArray("e1000=Intel gigabit\n") << "Intel gigabit";
        QTest::newRow("other case") << QByteArray("E1000=Intel gigabit\n") << "Intel gigabit";
        QTest::newRow("blank before =") << QByteArray("e1000 =Intel\n") << QString();
        QTest::newRow("no =") << QByteArray("e1000\n") << QString();
        QTest::newRow("first line wins, sections ignored")
            << QByteArray("[net]\r\ne1000e=other\r\ne1000=a=b \r\ne1000=second\r\n") << "a=b ";
        QTest::newRow("after a line that is not UTF-8") << QByteArray("x=caf\xe9\ne1000=Intel\n") << "Intel";
    }
    void modinfo()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, description);
        HostScratch s;
        if (!ini.isEmpty())
            s.programFile("modinfo.ini", ini);
        const auto w = s.open();
        w->NetModules = QStringList{"bnx2", "e1000"};
        QStringList rows;
        s.choose(QString(), [&](TfmSelModule *d) {
            for (int i = 0; i < d->lbModules->topLevelItemCount(); ++i)
                rows << d->lbModules->topLevelItem(i)->text(0) + '|' + d->lbModules->topLevelItem(i)->text(1);
        });
        part<QAction>(*w, "menuNIC")->trigger();
        QCOMPARE(rows, (QStringList{"bnx2|", "e1000|" + description}));
    }

    // Descriptions looked up by name agree with the line-by-line rule (the
    // first line whose name equals the module's under the case-blind text
    // comparison) for names where folding is more than ASCII letters: final
    // sigma, the Kelvin sign, the capital sharp s, letters outside the BMP,
    // a title-case digraph; and for names that only look alike.
    void modinfoAgreesWithTheLineRule()
    {
        const QStringList names{"e1000", "E1000", "σοφός", "ΣΟΦΟΣ", "k", "\u212a", "ß", "\u1e9e", "\U00010400",
                                "\U00010428", "\u01c5", "\u01c6", "é", "e\u0301", "a b", "a  b", "", "İ", "i", "ı"};
        QByteArray ini;
        int n = 0;
        for (const QString &name : names)   // every name twice, in other cases: the first must win
            ini += (name.toUpper() + '=' + QString::number(n++) + '\n' + name + '=' + QString::number(n++) + '\n').toUtf8();
        const QStringList lines = QString::fromUtf8(ini).split('\n');
        HostScratch s;
        s.programFile("modinfo.ini", ini);
        const auto w = s.open();
        w->NetModules = names;
        QStringList rows, expected;
        for (const QString &name : names) {
            QString description;
            for (const QString &line : lines) {
                const qsizetype eq = line.indexOf('=');
                if (eq >= 0 && QStringView(line).left(eq).compare(name, Qt::CaseInsensitive) == 0) {
                    description = line.mid(eq + 1);
                    break;
                }
            }
            expected << name + '|' + description;
        }
        s.choose(QString(), [&](TfmSelModule *d) {
            for (int i = 0; i < d->lbModules->topLevelItemCount(); ++i)
                rows << d->lbModules->topLevelItem(i)->text(0) + '|' + d->lbModules->topLevelItem(i)->text(1);
        });
        part<QAction>(*w, "menuNIC")->trigger();
        QCOMPARE(rows, expected);
    }

    // Edit (a double click) and Delete act on the selected line only and
    // follow the selection; no line is selected after a deletion.
    void lineActions_data()
    {
        QTest::addColumn<bool>("edit");          // else delete
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("saved");
        const QByteArray two = "a\ne1000\n";
        QTest::newRow("edit confirmed") << true << two << 1 << int(mrOk) << " e1000  debug=1 " << QByteArray("a\n e1000  debug=1 \n");
        QTest::newRow("edit emptied") << true << two << 1 << int(mrOk) << QString() << QByteArray("a\n\n");
        QTest::newRow("edit cancelled") << true << two << 1 << int(mrCancel) << "x" << two;
        QTest::newRow("last line deleted") << false << QByteArray("e1000\n") << 0 << int(mrYes) << QString() << QByteArray("");
        QTest::newRow("middle line deleted") << false << QByteArray("a\nb\nc\n") << 1 << int(mrYes) << QString() << QByteArray("a\nc\n");
        QTest::newRow("delete, No") << false << two << 0 << int(mrNo) << QString() << two;
    }
    void lineActions()
    {
        QFETCH(bool, edit);
        QFETCH(QByteArray, conf);
        QFETCH(int, row);
        QFETCH(int, answer);
        QFETCH(QString, typed);
        QFETCH(QByteArray, saved);
        HostScratch s;
        s.modulesConf(conf);
        const auto w = s.open();
        const char *const actions[] = {"btnModuleEdit", "btnModuleDel", "btnModuleInsert"};
        w->lbModulesDblClick();   // on an empty place with nothing selected: nothing
        w->btnModuleDelClick();
        QVERIFY(s.dialogs.requests().isEmpty());
        for (const char *b : actions)
            QVERIFY(!enabled(*w, b));
        select(*w, row);
        for (const char *b : actions)
            QVERIFY(enabled(*w, b));
        const QString line = modules(*w)->item(row)->text();
        s.dialogs.answer(answer, typed);
        if (edit)
            w->lbModulesDblClick();
        else
            part<QPushButton>(*w, "btnModuleDel")->click();
        QCOMPARE(s.dialogs.texts(), QStringList{QString(edit ? "编辑模块\"%1\"的参数" : "确实要删除模块\"%1\"吗？").arg(line)});
        const TDialogRequest &r = s.dialogs.requests().first();
        QVERIFY(edit ? r.kind == TDialogRequest::InputText && r.Value == line : r.Buttons == unsigned(mbYes | mbNo));
        QCOMPARE(s.modulesConf(), saved);
        QCoreApplication::processEvents();
        for (const char *b : actions)
            QCOMPARE(enabled(*w, b), edit || answer == mrNo);
    }

    // A line nobody edited keeps its bytes, in the file and on its way to
    // modprobe, whatever else happens to the list.
    void untouchedLinesKeepTheirBytes_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("row");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QByteArray>("args");   // what modprobe got, each argument in brackets
        const QByteArray conf = "e1000\nbnx2 name=caf\xe9\ntg3 opt=\xc3\n";
        QTest::newRow("another line deleted") << "delete" << 0 << conf.mid(6) << QByteArray();
        QTest::newRow("another line edited") << "edit" << 0 << "e1000 debug=1\n" + conf.mid(6) << QByteArray();
        QTest::newRow("edit confirmed unchanged") << "keep" << 1 << conf << QByteArray();
        QTest::newRow("loaded") << "load" << 2 << conf << QByteArray("[tg3][opt=\xc3]\n");
    }
    void untouchedLinesKeepTheirBytes()
    {
        QFETCH(QString, action);
        QFETCH(int, row);
        QFETCH(QByteArray, saved);
        QFETCH(QByteArray, args);
        HostScratch s;
        const QByteArray calls = QFile::encodeName(s.tools.dir()) + "/modprobe.calls";
        s.tools.addScript("modprobe", "for a; do printf '[%s]' \"$a\"; done >> '" + calls + "'\necho >> '" + calls + "'\n");
        s.modulesConf("e1000\nbnx2 name=caf\xe9\ntg3 opt=\xc3\n");
        const auto w = s.open();
        QCOMPARE(listTexts(modules(*w)), (QStringList{"e1000", "bnx2 name=caf\ufffd", "tg3 opt=\ufffd"}));
        select(*w, row);
        s.dialogs.answer(action == "delete" ? mrYes : mrOk,
                         action == "keep" ? modules(*w)->item(row)->text() : QStringLiteral("e1000 debug=1"));
        if (action == "delete")
            w->btnModuleDelClick();
        else if (action == "load")
            w->btnModuleInsertClick();
        else
            w->btnModuleEditClick();
        QCOMPARE(s.modulesConf(), saved);
        QFile recorded(QFile::decodeName(calls));
        QCOMPARE(recorded.open(QIODevice::ReadOnly) ? recorded.readAll() : QByteArray(), args);
    }

    // Tabbing into the list makes its first line current but selects
    // nothing: no action may take that line. The arrow keys select.
    void keyboardFocusSelectsNothing()
    {
        HostScratch s;
        s.modulesConf("e1000\nbnx2\n");
        const auto w = s.open();
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        const char *const actions[] = {"btnModuleEdit", "btnModuleDel", "btnModuleInsert"};
        modules(*w)->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QCOMPARE(modules(*w)->currentRow(), 0);
        for (const char *b : actions)
            QVERIFY2(!enabled(*w, b), b);
        s.dialogs.answer(mrYes);
        w->btnModuleDelClick();
        w->btnModuleInsertClick();
        w->btnModuleEditClick();
        QVERIFY(s.dialogs.requests().isEmpty());
        QVERIFY(s.runs.isEmpty());
        QCOMPARE(s.modulesConf(), QByteArray("e1000\nbnx2\n"));
        QTest::keyClick(modules(*w), Qt::Key_Down);
        QCoreApplication::processEvents();
        for (const char *b : actions)
            QVERIFY2(enabled(*w, b), b);
        w->btnModuleInsertClick();
        QCOMPARE(s.runs.size(), 1);
        QVERIFY(s.runs.first().Command.startsWith(QLatin1String("modprobe ")));
        QVERIFY(s.runs.first().Command.contains(QLatin1String("bnx2")));
    }

    // The list is written over modules.conf only when it came from it: a
    // file that exists but could not be read, however the read failed,
    // keeps every byte, whatever is asked, and each change shows the error
    // again. A file below the bound is read whole, also one larger than the
    // bound of files that report no size.
    void unreadFileIsNeverWritten_data()
    {
        QTest::addColumn<QString>("file");   // unreadable, huge (over the bound), alloc (memory runs out), large
        QTest::addColumn<QString>("action");
        for (const char *file : {"unreadable", "huge", "alloc"})
            for (const char *action : {"add", "edit", "delete"})
                QTest::addRow("%s, %s", file, action) << file << action;
        QTest::newRow("over 4 MiB, add") << "large" << "add";
    }
    void unreadFileIsNeverWritten()
    {
        QFETCH(QString, file);
        QFETCH(QString, action);
        HostScratch s;
        QByteArray conf = "e1000 debug=1\nbnx2\ntg3 opt=x\naacraid\n";
        if (file == "large")
            conf += '#' + QByteArray(5 << 20, 'x') + '\n';
        s.modulesConf(conf);
        const QString path = s.root.path("/etc/velkora/modules.conf");
        const QByteArray name = QFile::encodeName(path);
        const qint64 hugeSize = qint64(30) << 30;
        if (file == "huge")
            QVERIFY(QFile::resize(path, hugeSize));
        QVERIFY(::chmod(name.constData(), file == "unreadable" ? 0 : 0644) == 0);
        if (file == "alloc")
            TfmMain::SetModulesLoadHookForTesting([](const QByteArray &) { throw std::bad_alloc(); });
        const auto resetHook = qScopeGuard([] { TfmMain::SetModulesLoadHookForTesting(nullptr); });
        struct stat before;
        QVERIFY(::stat(name.constData(), &before) == 0);
        ModeBitsRule rule;
        if (!rule.holds())
            QSKIP("this process cannot give up its override of the mode bits");
        const auto w = s.open();
        TfmMain::SetModulesLoadHookForTesting(nullptr);
        const QString error = file == "alloc" ? QStringLiteral("std::bad_alloc")
                              : "Cannot open file \"" + path + "\". "
                                    + (file == "huge" ? "File too large" : "Permission denied");
        const bool kept = file != "large";
        QCOMPARE(s.dialogs.texts(), kept ? QStringList{error} : QStringList());
        QCOMPARE(modules(*w)->count(), kept ? 0 : 5);
        s.dialogs.clear();
        bool chooserShown = false;
        s.choose("e1000e", [&](TfmSelModule *) { chooserShown = true; });
        w->NetModules = QStringList{"e1000e"};
        if (action == "add") {
            part<QAction>(*w, "menuNIC")->trigger();
        } else {
            // Nothing can be selected in the empty list; a line put there
            // stands for any change the list could see.
            modules(*w)->addItem("e1000");
            select(*w, 0);
            s.dialogs.answer(action == "edit" ? mrOk : mrYes, "e1000 debug=2");
            part<QPushButton>(*w, action == "edit" ? "btnModuleEdit" : "btnModuleDel")->click();
        }
        QCOMPARE(s.dialogs.texts(), kept ? QStringList{error} : QStringList());
        QCOMPARE(chooserShown, !kept);
        rule.restore();
        struct stat after;
        QVERIFY(::stat(name.constData(), &after) == 0);
        if (file == "huge") {
            QCOMPARE(qint64(after.st_size), hugeSize);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.read(conf.size() + 4), conf + QByteArray(4, '\0'));
        } else {
            QCOMPARE(s.modulesConf(), kept ? conf : conf + "e1000e\n");
        }
        if (kept) {
            QCOMPARE(after.st_ino, before.st_ino);
            QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        }
    }

    // The list goes back only over the bytes it was read from, or over no
    // file when there was none: whatever another program did to the file
    // meanwhile stays, the change is not written, the message says why, and
    // the list is the file's again. Saves that follow the tool's own go on.
    // ("-": removed, "=": rewritten as it was, empty: untouched)
    void changedFileIsReadAgain_data()
    {
        QTest::addColumn<QByteArray>("start");     // empty: no file
        QTest::addColumn<QByteArray>("outside");   // what another program leaves
        QTest::addColumn<QString>("action");
        const QByteArray two = "e1000\nbnx2\n";
        QTest::newRow("line appended, add") << two << two + "tg3\n" << "add";
        QTest::newRow("line appended, edit") << two << two + "tg3\n" << "edit";
        QTest::newRow("line appended, delete") << two << two + "tg3\n" << "delete";
        QTest::newRow("line changed, same size") << two << QByteArray("e1000\nbnx3\n") << "add";
        QTest::newRow("absent, then written") << QByteArray() << QByteArray("tg3\naacraid\n") << "add";
        QTest::newRow("absent, then written empty") << QByteArray() << QByteArray("(empty)") << "add";
        QTest::newRow("removed") << two << QByteArray("-") << "add";
        QTest::newRow("rewritten as it was") << two << QByteArray("=") << "add";
        QTest::newRow("untouched, twice") << two << QByteArray() << "add";
    }
    void changedFileIsReadAgain()
    {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, outside);
        QFETCH(QString, action);
        HostScratch s;
        if (!start.isEmpty())
            s.modulesConf(start);
        const auto w = s.open();
        const bool changes = !outside.isEmpty() && outside != "=";
        if (outside == "-")
            s.root.remove("/etc/velkora/modules.conf");
        else if (outside == "=")
            s.modulesConf(start);
        else if (changes)
            s.modulesConf(outside == "(empty)" ? QByteArray() : outside);
        const QByteArray there = s.root.exists("/etc/velkora/modules.conf") ? s.modulesConf() : QByteArray("-");
        w->NetModules = QStringList{"e1000e", "igb"};
        s.choose("e1000e");
        s.dialogs.answer(action == "edit" ? mrOk : mrYes, "e1000 debug=2");
        if (action == "add") {
            part<QAction>(*w, "menuNIC")->trigger();
        } else {
            select(*w, 0);
            part<QPushButton>(*w, action == "edit" ? "btnModuleEdit" : "btnModuleDel")->click();
        }
        const QString path = s.root.path("/etc/velkora/modules.conf");
        const QString said = "The file \"" + path + "\" was changed by another program. The list is read again.";
        if (changes) {
            QCOMPARE(s.dialogs.texts().isEmpty() ? QString() : s.dialogs.texts().last(), said);
            QCOMPARE(s.root.exists("/etc/velkora/modules.conf") ? s.modulesConf() : QByteArray("-"), there);
            const QByteArray now = there == "-" ? QByteArray() : there;
            QCOMPARE(listTexts(modules(*w)).join('\n'), QString::fromUtf8(now).chopped(now.isEmpty() ? 0 : 1));
            QCOMPARE(modules(*w)->currentRow(), -1);
            QVERIFY(!enabled(*w, "btnModuleEdit"));
        } else {
            QVERIFY(!s.dialogs.texts().contains(said));
            const QByteArray changed = action == "add"      ? start + "e1000e\n"
                                       : action == "edit" ? "e1000 debug=2\nbnx2\n"
                                                          : QByteArray("bnx2\n");
            QCOMPARE(s.modulesConf(), changed);
        }
        // Once the list is the file's again, the next change is written, and
        // so is the one after it.
        s.dialogs.clear();
        s.choose("igb");
        part<QAction>(*w, "menuNIC")->trigger();
        s.choose("e1000e");
        part<QAction>(*w, "menuNIC")->trigger();
        QVERIFY(s.dialogs.texts().isEmpty() || s.dialogs.texts() == QStringList{"模块\"e1000e\"已经存在"});
        const QStringList listed = listTexts(modules(*w));
        QCOMPARE(QString::fromUtf8(s.modulesConf()), listed.join('\n') + '\n');
        QVERIFY(listed.contains("igb"));
        QVERIFY(listed.contains("e1000e"));
    }

    // A failed save reports the file's error and keeps the list's change.
    void saveFails()
    {
        HostScratch s;
        const auto w = s.open();
        s.root.remove("/etc/velkora");
        s.root.write("/etc/velkora", "not a directory\n");
        s.choose("e1000");
        w->NetModules = QStringList{"e1000"};
        part<QAction>(*w, "menuNIC")->trigger();
        QCOMPARE(s.dialogs.texts(),
                 QStringList{"Cannot create file \"" + s.root.path("/etc/velkora/modules.conf") + "\". Not a directory"});
        QCOMPARE(listTexts(modules(*w)), QStringList{"e1000"});
        QCOMPARE(s.root.read("/etc/velkora"), QByteArray("not a directory\n"));
    }

    // Load hands modprobe the line's words, each as one argument, plain words
    // as typed, and nothing in the line runs as shell code.
    void load_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("args");      // each argument in brackets
        QTest::addColumn<QString>("command");   // the line the window ran
        QTest::newRow("parameters") << "e1000 debug=1" << "[e1000][debug=1]" << "modprobe e1000 debug=1 2>&1";
        QTest::newRow("list of values") << "bonding mode=4,miimon=100 x_y+z:1/2.3-4" << "[bonding][mode=4,miimon=100][x_y+z:1/2.3-4]"
                                       << "modprobe bonding mode=4,miimon=100 x_y+z:1/2.3-4 2>&1";
        QTest::newRow("double quotes") << "foo opt=\"a b\"" << "[foo][opt=a b]" << "modprobe foo 'opt=a b' 2>&1";
        QTest::newRow("single quotes, blanks") << "  foo  'x  y'z " << "[foo][x  yz]" << "modprobe foo 'x  yz' 2>&1";
        QTest::newRow("semicolon") << "e1000; touch PWNED" << "[e1000;][touch][PWNED]" << "modprobe 'e1000;' touch PWNED 2>&1";
        QTest::newRow("command substitution") << "e1000 $(touch PWNED)" << "[e1000][$(touch][PWNED)]" << QString();
        QTest::newRow("backquotes") << "e1000 `touch PWNED`" << "[e1000][`touch][PWNED`]" << QString();
        QTest::newRow("newline") << "e1000\ntouch PWNED" << "[e1000][touch][PWNED]" << QString();
        QTest::newRow("quote inside") << "e1000 o=\"it's\"" << "[e1000][o=it's]" << QString();
        QTest::newRow("home, glob, variable") << "~ * $HOME" << "[~][*][$HOME]" << QString();
    }
    void load()
    {
        QFETCH(QString, line);
        QFETCH(QString, args);
        QFETCH(QString, command);
        HostScratch s;
        s.tools.addScript("modprobe", "for a; do printf '[%s]' \"$a\"; done >> '" + QFile::encodeName(s.tools.dir())
                                          + "/modprobe.calls'\necho >> '" + QFile::encodeName(s.tools.dir())
                                          + "/modprobe.calls'\necho loaded\n");
        const auto w = s.open();
        modules(*w)->addItem(line);
        select(*w, 0);
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(s.root.root());
        part<QPushButton>(*w, "btnModuleInsert")->click();
        QDir::setCurrent(cwd);
        QCOMPARE(s.tools.calls("modprobe"), QStringList{args});
        QVERIFY(!s.root.exists("/PWNED"));
        QCOMPARE(s.runs.size(), 1);
        if (!command.isEmpty())
            QCOMPARE(s.runs[0].Command, command);
        QVERIFY(s.runs[0].Output.endsWith("loaded\n\n" + QString(64, '-') + "\n  RESULT: 0"));
        // Loading changes neither the list nor the file.
        QCOMPARE(listTexts(modules(*w)), QStringList{line});
        QVERIFY(!s.root.exists("/etc/velkora/modules.conf"));
    }
};

QTEST_MAIN(TestHostMainDrivers)
#include "tst_hostmain_drivers.moc"
