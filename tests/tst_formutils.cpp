// The shared window helpers: anchors, the list click, auto-sized labels and
// the hourglass.
#include "vkFormUtils.h"

#include <QApplication>
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
