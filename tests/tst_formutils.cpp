// The shared window helpers: anchors, the list click, auto-sized labels and
// the hourglass.
#include "vkDialogs.h"
#include "vkFormUtils.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QScreen>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QTimer>

class TestFormUtils : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void anchorsFollowParent_data()
    {
        QTest::addColumn<QString>("anchors");
        QTest::addColumn<QRect>("after");   // parent 200x100 -> 300x160, child at (20,10) 50x30
        QTest::newRow("left top stays") << "akLeft,akTop" << QRect(20, 10, 50, 30);
        QTest::newRow("right bottom moves") << "akRight,akBottom" << QRect(120, 70, 50, 30);
        QTest::newRow("all four stretch") << "akLeft,akTop,akRight,akBottom" << QRect(20, 10, 150, 90);
        QTest::newRow("left top bottom") << "akLeft|akTop|akBottom" << QRect(20, 10, 50, 90);
        // No edge in a direction: the centre keeps its share (45 of 200 -> 67 of 300).
        QTest::newRow("none centres") << "" << QRect(42, 25, 50, 30);
    }
    void anchorsFollowParent()
    {
        QFETCH(QString, anchors);
        QFETCH(QRect, after);
        QWidget parent;
        parent.resize(200, 100);
        auto *child = new QWidget(&parent);
        child->setGeometry(20, 10, 50, 30);
        child->setProperty("anchors", anchors);
        ApplyAnchors(&parent);
        parent.show();             // a hidden widget hears of its size when shown
        parent.resize(260, 130);   // intermediate sizes do not accumulate
        parent.resize(300, 160);
        QCOMPARE(child->geometry(), after);
        QCOMPARE(GetAnchors(child), ParseAnchors(anchors));
    }

    void listClickIsQueuedOncePerChange()
    {
        QListWidget list;
        list.addItems({QStringLiteral("a"), QStringLiteral("b")});
        QList<int> seen;
        ConnectListClick(&list, [&] { seen << ListItemIndex(&list); });
        // The keyboard focus makes the first entry current, not selected.
        list.show();
        QApplication::setActiveWindow(&list);
        QVERIFY(QTest::qWaitForWindowActive(&list));
        list.setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QCOMPARE(list.currentRow(), 0);
        QCOMPARE(ListItemIndex(&list), -1);
        QVERIFY(seen.isEmpty());
        list.setCurrentRow(0);
        QVERIFY(seen.isEmpty());          // not before the event loop runs
        QCoreApplication::processEvents();
        QCOMPARE(seen, QList<int>{0});
        list.setCurrentRow(0);            // already selected: nothing
        QCoreApplication::processEvents();
        QCOMPARE(seen, QList<int>{0});
        list.setCurrentRow(1);
        QCoreApplication::processEvents();
        QCOMPARE(seen, (QList<int>{0, 1}));
    }

    void selectionCannotBeEmptiedByTheUser()
    {
        QListWidget list;
        list.addItems({QStringLiteral("a"), QStringLiteral("b")});
        int calls = 0;
        ConnectListClick(&list, [&] { ++calls; });
        list.setCurrentRow(1);
        QCoreApplication::processEvents();
        list.item(1)->setSelected(false);   // what a ctrl-click on it does
        QCoreApplication::processEvents();
        QVERIFY(list.item(1)->isSelected());
        QCOMPARE(ListItemIndex(&list), 1);
        QCOMPARE(calls, 1);
        list.setCurrentRow(-1);             // code may still clear it
        QCOMPARE(ListItemIndex(&list), -1);
    }

    void listClickDroppedWithList()
    {
        int calls = 0;
        auto *list = new QListWidget;
        list->addItem(QStringLiteral("a"));
        ConnectListClick(list, [&] { ++calls; });
        list->setCurrentRow(0);
        delete list;
        QCoreApplication::processEvents();
        QCOMPARE(calls, 0);
    }

    void rightAlignedLabelKeepsRightEdge()
    {
        QWidget parent;
        auto *right = new QLabel(QStringLiteral("a much longer caption"), &parent);
        right->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        right->setGeometry(40, 10, 24, 13);
        right->setProperty("autoSize", true);
        auto *left = new QLabel(QStringLiteral("another long caption"), &parent);
        left->setGeometry(40, 40, 24, 13);
        left->setProperty("autoSize", true);
        parent.resize(300, 100);
        AutoSizeLabels(&parent);
        // The whole text fits, ending (or starting) where the design put it.
        QCOMPARE(right->geometry().right(), 63);
        QVERIFY(right->alignment() & Qt::AlignRight);
        QCOMPARE(left->x(), 40);
        QVERIFY(left->width() >= left->sizeHint().width());
        QVERIFY(right->height() >= right->sizeHint().height());
        QVERIFY(left->alignment() & Qt::AlignTop);
        // The larger box never takes a click meant for a control below it.
        QVERIFY(right->testAttribute(Qt::WA_TransparentForMouseEvents));
    }

    // A text from a file or the system never makes a box wider or taller
    // than the screen; the input box's field still holds the whole line.
    void dialogsFitTheScreen_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        const QString words = QStringLiteral("e1000 ").repeated(55);             // 330 characters
        const QString word = QStringLiteral("x").repeated(5000);                  // no blank to break at
        const QString huge = QStringLiteral("ab cd ").repeated(20000);            // thousands of lines
        for (const char *kind : {"input", "message", "error"}) {
            QTest::addRow("%s, 330 characters", kind) << kind << words;
            QTest::addRow("%s, one long word", kind) << kind << word;
            QTest::addRow("%s, 120000 characters", kind) << kind << huge;
            QTest::addRow("%s, markup shown as text", kind) << kind << QStringLiteral("<b>e1000</b>");
        }
    }
    void dialogsFitTheScreen()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QRect box;
        QString field, label;
        bool richText = true;
        const auto inspect = [&](QWidget *d) {
            box = d->frameGeometry();
            if (auto *edit = d->findChild<QLineEdit *>())
                field = edit->text();
            for (QLabel *l : d->findChildren<QLabel *>())
                if (!l->text().isEmpty() && l->pixmap().isNull()) {
                    label = l->text();
                    richText = l->textFormat() != Qt::PlainText;
                }
        };
        // Answers the box once it shows; a box that never shows cannot hold the test.
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QWidget *d = QApplication::activeModalWidget()) {
                poll.stop();
                inspect(d);
                qobject_cast<QDialog *>(d)->reject();
            }
        });
        QTimer::singleShot(10000, [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *d = qobject_cast<QDialog *>(w))
                    d->reject();
        });
        poll.start();
        if (kind == "input") {
            QString value = text;
            InputQuery(QStringLiteral("Edit"), text, value);
        } else if (kind == "message") {
            MessageDlg(text, TMsgDlgType::Warning, mbYes | mbNo);
        } else {
            bool closed = false;
            OpenErrorMessage(text, nullptr, [&] { closed = true; });
            QTRY_VERIFY(closed);
        }
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(!box.isEmpty(), "no box was shown");
        QVERIFY2(box.width() <= screen.width() && box.height() <= screen.height(),
                 qPrintable(QStringLiteral("%1 x %2 on a screen of %3 x %4")
                                .arg(box.width()).arg(box.height()).arg(screen.width()).arg(screen.height())));
        QVERIFY(!richText);
        QVERIFY(label.startsWith(text.left(20)));
        if (kind == "input")
            QCOMPARE(field, text);
    }

    void hourglassWhileWaitingAndRestored()
    {
        QVERIFY(!QApplication::overrideCursor());
        bool waitCursorSeen = false;
        {
            const TCursorGuard hourglass;
            // Timers still run while input is held back.
            QTimer::singleShot(0, [&] {
                waitCursorSeen = QApplication::overrideCursor()
                                 && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            });
            WaitWithoutInput(20);
        }
        QVERIFY(waitCursorSeen);
        QVERIFY(!QApplication::overrideCursor());
    }
};

QTEST_MAIN(TestFormUtils)
#include "tst_formutils.moc"
