// The traffic monitor and the speed dialog: the graphs' pixels on fixed
// samples, the rate texts, the histories, sampling through a stand-in kernel
// and a scratch /proc/net/dev, and the monitor ticking while the console
// waits for a command.
#include "conmain_fixture.h"
#include "untNetFlux.h"
#include "untSelSpeed.h"
#include "vkCmdUtils.h"
#include "vkGuard.h"
#include "vkSocket.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>

namespace {
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kGrid = qRgb(0, 96, 0);
const QRgb kCentre = qRgb(160, 160, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kBack = qRgb(236, 233, 216);
constexpr int kFull = 12582912;   // 100Mbit/s: bytes per second at full height

// A stand-in kernel answering the flag query: the named interfaces with
// their flags, every other name unknown.
class TFlagKernel {
public:
    QMap<QByteArray, short> flags;
    TFlagKernel()
    {
        SetNicIoctlForTesting([this](int, unsigned long req, void *arg) {
            auto *r = static_cast<ifreq *>(arg);
            const QByteArray name(r->ifr_name, qsizetype(strnlen(r->ifr_name, IFNAMSIZ)));
            if (req != SIOCGIFFLAGS || !flags.contains(name)) {
                errno = ENODEV;
                return -1;
            }
            r->ifr_flags = flags.value(name);
            return 0;
        });
    }
    ~TFlagKernel() { SetNicIoctlForTesting(nullptr); }
    void running(const QByteArray &name) { flags[name] = IFF_UP | IFF_RUNNING; }
};

// /proc/net/dev with the given (name, receive bytes, transmit bytes) lines.
QByteArray netDev(const QList<std::tuple<QString, qint64, qint64>> &lines)
{
    QByteArray t = "Inter-|   Receive                            |  Transmit\n"
                   " face |bytes    packets errs drop fifo frame compressed multicast|"
                   "bytes    packets errs drop fifo colls carrier compressed\n";
    for (const auto &[name, rx, tx] : lines)
        t += QStringLiteral("%1: %2 7 0 0 0 0 0 0 %3 5 0 0 0 0 0 0\n").arg(name).arg(rx).arg(tx).toUtf8();
    return t;
}

// A shown monitor whose timer stays still: the tests drive its ticks.
std::unique_ptr<TfmNicStat> monitor()
{
    auto w = std::make_unique<TfmNicStat>();
    w->Timer1->stop();
    w->show();
    return w;
}

TSampleList samples(const QList<qint64> &values, const QList<qint64> &times = {})
{
    TSampleList l;
    for (int i = 0; i < values.size(); ++i)
        l.push_back({uint32_t(values[i]), times.isEmpty() ? i * 2000 : times[i]});
    return l;
}

// The rows of column x, from y0 to y1 inclusive, that are not black.
QList<int> litRows(const QImage &img, int x, int y0, int y1)
{
    QList<int> rows;
    for (int y = y0; y <= y1; ++y)
        if (img.pixel(x, y) != kBlack)
            rows << y;
    return rows;
}

// The height of the bar whose right column is x, counted up from bottom.
int barHeight(const QImage &img, int x, int bottom, QRgb color)
{
    int h = 0;
    while (bottom - 1 - h >= 0 && img.pixel(x, bottom - 1 - h) == color && img.pixel(x - 1, bottom - 1 - h) == color)
        ++h;
    return h;
}

// Ticks with the monitor's clock at the given time.
void tickAt(TfmNicStat &w, qint64 ms)
{
    SetNetFluxClockForTesting([ms] { return ms; });
    w.Timer1Timer();
    SetNetFluxClockForTesting(nullptr);
}
} // namespace

class TestNetFlux : public QObject {
    Q_OBJECT
    std::unique_ptr<TLibraryScope> library;

private Q_SLOTS:
    void initTestCase() { library = std::make_unique<TLibraryScope>(); }
    void cleanupTestCase() { library.reset(); }
    void init()
    {
        MaxRate = kFull;
        SpeedLabel = QStringLiteral("100Mbit/s");
    }

    void formatRate_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("text");
        QTest::newRow("no rate") << -1 << "";
        QTest::newRow("zero") << 0 << "0B/s";
        QTest::newRow("below 1k") << 1023 << "1023B/s";
        QTest::newRow("1k") << 1024 << "1.0kB/s";
        QTest::newRow("just below 1M") << 1048575 << "1024.0kB/s";
        QTest::newRow("1M") << 1048576 << "1.0MB/s";
        QTest::newRow("largest") << INT_MAX << "2048.0MB/s";
    }
    void formatRate()
    {
        QFETCH(int, n);
        QFETCH(QString, text);
        QCOMPARE(FormatRate(n), text);
    }

    // One interface in 620 x 440: two rows of 217, graphs of 197 with all
    // eleven grid lines, the centre line among them; bars from the right.
    void oneInterfaceLayout()
    {
        TFlagKernel kernel;
        kernel.running("vkt0");
        ScratchRoot root;
        const auto w = monitor();
        QCOMPARE(w->windowTitle(), QStringLiteral("Network Traffic Watch - 100Mbit/s"));
        root.write("/proc/net/dev", netDev({{"vkt0", 0, 0}}));
        tickAt(*w, 0);
        // Full scale sent, half scale received in the newest interval.
        root.write("/proc/net/dev", netDev({{"vkt0", kFull, 2 * qint64(kFull)}}));
        tickAt(*w, 2000);

        const QImage img = w->Bitmap();
        QCOMPARE(img.size(), QSize(620, 440));
        for (int row = 0; row < 2; ++row) {
            const int y = row * 217 + 20;
            QList<int> grid;
            for (int off : {16, 32, 49, 65, 82, 98, 114, 131, 147, 164, 180})
                grid << y + off;
            QCOMPARE(litRows(img, 12, y, y + 196), grid);
            QCOMPARE(img.pixel(12, y + 98), kCentre);
            QCOMPARE(img.pixel(12, y + 16), kGrid);
            QCOMPARE(img.pixel(12, y - 1), kBack);       // the graph is 197 high
            QCOMPARE(img.pixel(12, y + 197), kBack);
            QCOMPARE(img.pixel(9, y + 5), kBack);        // and 600 wide
            QCOMPARE(img.pixel(610, y + 5), kBack);
            for (int x = 550; x > 10; x -= 60)           // vertical lines every 60 from the right
                QCOMPARE(img.pixel(x, y + 5), kGrid);
            QCOMPARE(img.pixel(580, y + 5), kBlack);
        }
        QCOMPARE(barHeight(img, 609, 20 + 197, kGreen), 197);        // send: full scale
        QCOMPARE(barHeight(img, 609, 217 + 20 + 197, kRed), 98);     // recv: half
        QCOMPARE(img.pixel(607, 217 + 20 + 196), kBlack);            // one interval, two pixels
        // Labels stand right-aligned in the stripe above each graph.
        auto inked = [&](int x0, int x1, int y0, int y1) {
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x)
                    if (qGray(img.pixel(x, y)) < 128)
                        return true;
            return false;
        };
        QVERIFY(inked(480, 609, 5, 19));
        QVERIFY(!inked(10, 300, 0, 19));
        QVERIFY(inked(480, 609, 222, 236));
        QCOMPARE(w->Lists().Key(0), QStringLiteral("vkt0 send"));
        QCOMPARE(w->Lists().Key(1), QStringLiteral("vkt0 recv"));
    }

    // Three interfaces: graphs of 52 with the centre line only.
    void threeInterfacesCentreLineOnly()
    {
        TFlagKernel kernel;
        ScratchRoot root;
        for (const char *n : {"vkt0", "vkt1", "vkt2"})
            kernel.running(n);
        root.write("/proc/net/dev", netDev({{"vkt0", 0, 0}, {"vkt1", 0, 0}, {"vkt2", 0, 0}}));
        const auto w = monitor();
        tickAt(*w, 0);
        const QImage img = w->Bitmap();
        QCOMPARE(w->Lists().Count(), 6);
        for (int row = 0; row < 6; ++row) {
            const int y = row * 72 + 20;
            QCOMPARE(litRows(img, 12, y, y + 51), QList<int>{y + 26});
            QCOMPARE(img.pixel(12, y + 26), kCentre);
            QCOMPARE(img.pixel(12, y + 52), kBack);
        }
    }

    // Bars on fixed samples in a 600 x 197 graph at full scale 12 MiB/s.
    void bars_data()
    {
        QTest::addColumn<QList<qint64>>("values");
        QTest::addColumn<QList<qint64>>("times");   // empty: every 2 s
        QTest::addColumn<int>("rate");               // the newest, bytes per second
        QTest::addColumn<QList<int>>("heights");     // newest first, one per 2-pixel column
        const qint64 full2s = 2 * qint64(kFull);
        QTest::newRow("one sample: no bar") << QList<qint64>{5} << QList<qint64>{} << -1 << QList<int>{0};
        QTest::newRow("newest right, older left")
            << QList<qint64>{0, full2s / 4, full2s / 4 + full2s} << QList<qint64>{} << kFull
            << QList<int>{197, 49, 0};
        QTest::newRow("counter wraps past 2^32: a normal bar")
            << QList<qint64>{0xFFFFF000LL, (0xFFFFF000LL + full2s / 2) & 0xFFFFFFFF} << QList<qint64>{}
            << kFull / 2 << QList<int>{98, 0};
        QTest::newRow("counter restarts: far above the graph")
            << QList<qint64>{1000000000, 1000} << QList<qint64>{} << int((0x100000000LL - 1000000000 + 1000) / 2)
            << QList<int>{20 + 197, 0};   // reaches the top of the picture
        // A sample 6 s after the one before covers three intervals: three
        // bars of the mean rate, not one bar of three times the rate.
        QTest::newRow("late sample: mean rate over the time that passed")
            << QList<qint64>{0, full2s / 2, full2s / 2 + 3 * full2s / 2} << QList<qint64>{0, 2000, 8000}
            << kFull / 2 << QList<int>{98, 98, 98, 98, 0};
        QTest::newRow("slightly late tick: still one bar")
            << QList<qint64>{0, 2 * full2s / 2} << QList<qint64>{0, 2500} << int(2 * full2s / 2 * 1000 / 2500)
            << QList<int>{157, 0};
    }
    void bars()
    {
        QFETCH(QList<qint64>, values);
        QFETCH(QList<qint64>, times);
        QFETCH(int, rate);
        QFETCH(QList<int>, heights);
        const auto w = monitor();
        QImage img(620, 440, QImage::Format_RGB32);
        img.fill(kBack);
        QCOMPARE(w->DrawGraph(img, 10, 20, 600, 197, kRed, samples(values, times)), rate);
        QList<int> drawn;
        for (int i = 0; i < heights.size(); ++i)
            drawn << barHeight(img, 609 - 2 * i, 217, kRed);
        QCOMPARE(drawn, heights);
    }

    // A full history fills the graph from the right and one bar more at its
    // left edge; nothing further.
    void fullHistoryStopsAtLeftEdge()
    {
        const auto w = monitor();
        QList<qint64> v;
        for (int i = 0; i < 600; ++i)
            v << qint64(i) * kFull;   // half scale every interval
        QImage img(620, 440, QImage::Format_RGB32);
        img.fill(kBack);
        w->DrawGraph(img, 10, 20, 600, 197, kRed, samples(v));
        QCOMPARE(barHeight(img, 11, 217, kRed), 98);   // the leftmost column pair
        QCOMPARE(barHeight(img, 9, 217, kRed), 98);    // W div 2 + 1 bars
        QCOMPARE(img.pixel(7, 216), kBack);
    }

    // Histories: keys in first-appearance order, "lo" and non-running
    // interfaces skipped, case-blind keys, at most 600 samples.
    void sampling()
    {
        TFlagKernel kernel;
        ScratchRoot root;
        for (const char *n : {"vkt1", "vkt0", "lo", "VKT1"})
            kernel.running(n);
        kernel.flags["vktdown"] = IFF_UP;   // cable unplugged
        const auto w = monitor();
        root.write("/proc/net/dev", netDev({{"vkt1", 1, 2}, {"lo", 3, 4}, {"vktdown", 5, 6},
                                            {"vktgone", 7, 8}, {"vkt0", 9, 10}}));
        tickAt(*w, 0);
        root.write("/proc/net/dev", netDev({{"VKT1", 11, 12}, {"vkt0", 0x100000005LL, 14}}));
        tickAt(*w, 2000);
        const TSampleLists &l = w->Lists();
        QStringList keys;
        for (int i = 0; i < l.Count(); ++i)
            keys << l.Key(i);
        QCOMPARE(keys, (QStringList{"vkt1 send", "vkt1 recv", "vkt0 send", "vkt0 recv"}));
        auto values = [&](int i) {
            QList<qint64> v;
            for (const TSample &s : l.Samples(i))
                v << s.Value;
            return v;
        };
        QCOMPARE(values(0), (QList<qint64>{2, 12}));
        QCOMPARE(values(1), (QList<qint64>{1, 11}));
        QCOMPARE(values(3), (QList<qint64>{9, 5}));   // the low 32 bits

        TNicStat rec;
        rec.Name = QStringLiteral("vkt0");
        for (int i = 0; i < 598; ++i) {
            rec.RxBytes = 100 + i;
            w->AddSample(rec);
        }
        QCOMPARE(l.Samples(3).size(), size_t(600));
        QCOMPARE(l.Samples(3).front().Value, 9u);
        w->AddSample(rec);   // the 601st drops the oldest
        QCOMPARE(l.Samples(3).size(), size_t(600));
        QCOMPARE(l.Samples(3).front().Value, 5u);
    }

    // An interface that was not running for a tick: its next difference
    // covers two intervals and is drawn as two bars of the mean rate.
    void notRunningForATick()
    {
        TFlagKernel kernel;
        ScratchRoot root;
        kernel.running("vkt0");
        const auto w = monitor();
        const qint64 full2s = 2 * qint64(kFull);
        for (int t = 0; t < 3; ++t) {
            kernel.flags["vkt0"] = t == 1 ? IFF_UP : IFF_UP | IFF_RUNNING;
            root.write("/proc/net/dev", netDev({{"vkt0", t * full2s, 0}}));
            tickAt(*w, t * 2000);
        }
        QCOMPARE(w->Lists().Samples(1).size(), size_t(2));
        const QImage img = w->Bitmap();
        QCOMPARE(barHeight(img, 609, 434, kRed), 197);
        QCOMPARE(barHeight(img, 607, 434, kRed), 197);
        QCOMPARE(barHeight(img, 605, 434, kRed), 0);
    }

    void nothingRunningStaysBlack()
    {
        TFlagKernel kernel;
        kernel.running("lo");
        ScratchRoot root;
        root.write("/proc/net/dev", netDev({{"lo", 1, 1}, {"vktdown", 1, 1}}));
        const auto w = monitor();
        tickAt(*w, 0);
        QCOMPARE(w->Lists().Count(), 0);
        QVERIFY(w->Bitmap().isNull());
        const QImage shown = w->grab().toImage();
        QCOMPARE(shown.pixel(300, 200), kBlack);
    }

    // A failing tick ends at the bad line: what came before keeps its
    // samples, the redraw is skipped, the error is shown, the next tick tries again.
    void failingTick_data()
    {
        QTest::addColumn<QByteArray>("file");   // empty: no file at all
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("kept");          // keys sampled before the failure
        QTest::newRow("no file") << QByteArray() << "I/O error 2" << 0;
        QTest::newRow("counter not a number")
            << netDev({{"vkt0", 1, 1}}) + "vkt1: 12x 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
            << "'12x' is not a valid integer value" << 2;
        QTest::newRow("line cut short") << QByteArray("h1\nh2\nvkt1: 1 2 3\n")
                                        << "'' is not a valid integer value" << 0;
    }
    void failingTick()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        QFETCH(int, kept);
        TFlagKernel kernel;
        kernel.running("vkt0");
        kernel.running("vkt1");
        ScratchRoot root;
        DialogRecorder dialogs;
        const auto w = monitor();
        if (!file.isEmpty())
            root.write("/proc/net/dev", file);
        QMetaObject::invokeMethod(w->Timer1, "timeout");
        QCOMPARE(dialogs.texts(), QStringList{message});
        QCOMPARE(dialogs.requests().first().Type, TMsgDlgType::Error);
        QCOMPARE(w->Lists().Count(), kept);
        QVERIFY(w->Bitmap().isNull());
        root.write("/proc/net/dev", netDev({{"vkt1", 1, 1}}));
        QMetaObject::invokeMethod(w->Timer1, "timeout");
        QCOMPARE(dialogs.texts().size(), 1);
        QVERIFY(!w->Bitmap().isNull());
    }

    // While the console waits for a command the monitor keeps sampling; a
    // tick that fails meanwhile opens one error box and the wait ends on
    // time; no further tick starts until the box is answered.
    void ticksDuringACommandWait()
    {
        TFlagKernel kernel;
        kernel.running("vkt0");
        ScratchRoot root;
        InstallShellIdleHook();
        const auto w = monitor();
        w->Timer1->start(100);
        root.write("/proc/net/dev", netDev({{"vkt0", 0, 0}}));
        RunShell(QStringLiteral("sleep 0.6"));
        QVERIFY(w->Lists().Count() == 2);
        QVERIFY(w->Lists().Samples(0).size() >= 3);

        root.remove("/proc/net/dev");
        const size_t before = w->Lists().Samples(0).size();
        QElapsedTimer clock;
        clock.start();
        RunShell(QStringLiteral("sleep 0.6"));
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        auto boxes = [] {
            QList<QMessageBox *> open;
            for (QWidget *top : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible())
                    open << box;
            return open;
        };
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first()->text(), QStringLiteral("I/O error 2"));
        root.write("/proc/net/dev", netDev({{"vkt0", 0, 0}}));
        QTest::qWait(400);                       // ticks wait for the answer
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(w->Lists().Samples(0).size(), before);
        boxes().first()->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(w->Lists().Samples(0).size() > before);
        QCOMPARE(boxes().size(), 0);
        SetShellIdleHook(nullptr);
    }

    // The speed dialog: the second entry preselected, each entry's full scale.
    void speedDialog_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("label");
        QTest::newRow("10") << 0 << 1258291 << "10Mbit/s";
        QTest::newRow("100") << 1 << 12582912 << "100Mbit/s";
        QTest::newRow("1000") << 2 << 125829120 << "1000Mbit/s";
    }
    void speedDialog()
    {
        QFETCH(int, row);
        QFETCH(int, rate);
        QFETCH(QString, label);
        MaxRate = 1;
        TfmSelSpeed d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Select Speed"));
        QCOMPARE(d.ListBox1->currentRow(), 1);
        d.ListBox1->setCurrentRow(row);
        QCoreApplication::processEvents();
        QVERIFY(d.btnOK->isEnabled());
        d.btnOK->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(MaxRate, rate);
        QCOMPARE(SpeedLabel, label);
    }

    void speedDialogWithoutSelection()
    {
        DialogRecorder dialogs;
        TfmSelSpeed d;
        d.ListBox1->setCurrentRow(-1);
        d.btnOK->click();
        QCOMPARE(dialogs.texts(), QStringList{"error selection"});
        QVERIFY(d.result() != QDialog::Accepted);
        QCOMPARE(MaxRate, kFull);
    }

    // The monitor button: the speed is asked once; a cancel asks again; the
    // window is kept and only shown again later, sampling while hidden.
    void monitorButton()
    {
        TFlagKernel kernel;
        ConsoleScratch s;
        kernel.running("vkt0");
        s.root.write("/proc/net/dev", netDev({{"vkt0", 0, 0}}));
        auto w = s.open();
        int asked = 0;
        bool accept = false;
        SetSelectSpeedHook([&](TfmSelSpeed *d) {
            ++asked;
            if (!accept)
                return int(QDialog::Rejected);
            d->ListBox1->setCurrentRow(2);
            d->btnOK->click();
            return d->result();
        });
        auto *button = part<QPushButton>(*w, "btnNicMon");
        button->click();
        QCOMPARE(asked, 1);
        QVERIFY(!fmNicStat);
        accept = true;
        button->click();
        QCOMPARE(asked, 2);
        QVERIFY(fmNicStat);
        TfmNicStat *monitor = fmNicStat;
        QCOMPARE(monitor->windowTitle(), QStringLiteral("Network Traffic Watch - 1000Mbit/s"));
        QVERIFY(monitor->isVisible());
        QCOMPARE(monitor->Timer1->interval(), 2000);
        QVERIFY(monitor->Timer1->isActive());
        monitor->close();
        QVERIFY(!monitor->isVisible());
        tickAt(*monitor, 0);   // sampling goes on hidden, drawing waits
        QCOMPARE(monitor->Lists().Count(), 2);
        QVERIFY(monitor->Bitmap().isNull());
        button->click();
        QCOMPARE(asked, 2);
        QCOMPARE(fmNicStat, monitor);
        QVERIFY(monitor->isVisible());
        QTRY_COMPARE(monitor->Bitmap().size(), QSize(620, 440));   // drawn once shown
        SetSelectSpeedHook(nullptr);
        w.reset();
        QVERIFY(!fmNicStat);
    }
};

QTEST_MAIN(TestNetFlux)
#include "tst_netflux.moc"
