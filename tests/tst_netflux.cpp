// The traffic monitor and the speed dialog: the graphs' pixels on fixed
// samples, the rate texts, the histories sampled through a stand-in kernel
// and a scratch /proc/net/dev, failing ticks, and ticks during a command wait.
#include "conmain_fixture.h"
#include "untNetFlux.h"
#include "untSelSpeed.h"
#include "vkCmdUtils.h"
#include "vkGuard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <QDir>

#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QRgb kBlack = qRgb(0, 0, 0), kGrid = qRgb(0, 96, 0), kCentre = qRgb(160, 160, 0);
const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBack = qRgb(236, 233, 216);
constexpr qint64 kFull = 12582912;   // 100Mbit/s: bytes per second at full height

// A stand-in kernel answering the flag query for the named interfaces.
struct TFlagKernel {
    QMap<QByteArray, short> flags;
    TFlagKernel(const QList<QByteArray> &running = {})
    {
        for (const QByteArray &n : running)
            flags[n] = IFF_UP | IFF_RUNNING;
        SetNicIoctlForTesting([this](int, unsigned long req, void *arg) {
            auto *r = static_cast<ifreq *>(arg);
            const QByteArray name(r->ifr_name, qsizetype(strnlen(r->ifr_name, IFNAMSIZ)));
            if (req != SIOCGIFFLAGS || !flags.contains(name))
                return -1;
            r->ifr_flags = flags.value(name);
            return 0;
        });
    }
    ~TFlagKernel() { SetNicIoctlForTesting(nullptr); }
};

// /proc/net/dev lines "name: rx ... tx ..." for (name, receive, transmit).
QByteArray netDev(const QList<std::tuple<QString, qint64, qint64>> &lines)
{
    QByteArray t = "Inter-|   Receive    |  Transmit\n face |bytes    packets|bytes    packets\n";
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

void tickAt(TfmNicStat &w, qint64 ms)
{
    SetNetFluxClockForTesting([ms] { return ms; });
    w.Timer1Timer();
    SetNetFluxClockForTesting(nullptr);
}

// The graph drawn plainly, layer over layer, pixel by pixel: black, the
// horizontal grid, the vertical grid, the centre line, then the bars from
// the newest leftwards (a late sample as several bars), unclipped but to
// the picture. The monitor's own drawing must give the same picture.
void plainGraph(QImage &img, int X, int Y, int W, int H, QRgb c, const TSampleList &s)
{
    auto fill = [&](qint64 x0, qint64 y0, qint64 x1, qint64 y1, QRgb col) {
        for (qint64 y = std::max<qint64>(y0, 0); y < std::min<qint64>(y1, img.height()); ++y)
            for (qint64 x = std::max<qint64>(x0, 0); x < std::min<qint64>(x1, img.width()); ++x)
                img.setPixel(int(x), int(y), col);
    };
    fill(X, Y, X + W, Y + H, kBlack);
    for (int k = 1; H > 60 && k <= 5; ++k)
        fill(X, Y + H * k / 6, X + W, Y + H * k / 6 + 1, kGrid);
    for (int k = 1; H > 120 && k <= 11; k += 2)
        fill(X, Y + H * k / 12, X + W, Y + H * k / 12 + 1, kGrid);
    for (int x = X + W - 60; x > X; x -= 60)
        fill(x, Y, x + 1, Y + H, kGrid);
    fill(X, Y + H / 2, X + W, Y + H / 2 + 1, kCentre);
    int right = X + W;
    for (size_t i = s.size(); i-- > 1 && right >= X;) {
        const qint64 d = uint32_t(s[i].Value - s[i - 1].Value);
        const qint64 intervals = std::max<qint64>(1, (s[i].TimeMs - s[i - 1].TimeMs + 1000) / 2000);
        const qint64 h = (d * H / kFull) / (2 * intervals);
        for (qint64 b = 0; b < intervals && right >= X; ++b, right -= 2)
            fill(right - 2, Y + H - h, right, Y + H, c);
    }
}

// Records the region of every paint event of a widget.
struct TPaintRecorder : QObject {
    QRegion painted;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            painted |= static_cast<QPaintEvent *>(e)->region();
        return false;
    }
};

// The descriptors of the process that are sockets.
QSet<int> socketFds()
{
    QSet<int> fds;
    for (const QString &fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System)) {
        char target[64] = {};
        const QByteArray link = "/proc/self/fd/" + fd.toLatin1();
        if (::readlink(link.constData(), target, sizeof target - 1) > 0 && std::strncmp(target, "socket:", 7) == 0)
            fds << fd.toInt();
    }
    return fds;
}

// The bar whose right column is x: its height up from bottom in colour c.
int barHeight(const QImage &img, int x, int bottom, QRgb c)
{
    int h = 0;
    while (bottom - 1 - h >= 0 && img.pixel(x, bottom - 1 - h) == c && img.pixel(x - 1, bottom - 1 - h) == c)
        ++h;
    return h;
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
        MaxRate = int(kFull);
        SpeedLabel = QStringLiteral("100Mbit/s");
    }

    void formatRate_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("text");
        for (const auto &[n, t] : QList<std::pair<int, const char *>>{
                 {-1, ""}, {0, "0B/s"}, {1023, "1023B/s"}, {1024, "1.0kB/s"}, {1048575, "1024.0kB/s"},
                 {1048576, "1.0MB/s"}, {INT_MAX, "2048.0MB/s"}})
            QTest::addRow("%d", n) << n << QString::fromLatin1(t);
    }
    void formatRate()
    {
        QFETCH(int, n);
        QFETCH(QString, text);
        QCOMPARE(FormatRate(n), text);
    }

    // 620 x 440: one interface gives rows of 217 and graphs of 197 with
    // eleven grid lines (the centre line on the third); three give graphs of
    // 52 with the centre line only. Labels stand right-aligned above.
    void layout_data()
    {
        QTest::addColumn<int>("interfaces");
        QTest::addColumn<int>("rowH");
        QTest::addColumn<QList<int>>("lines");   // lit rows of a graph's left column, from its top
        QTest::newRow("one") << 1 << 217 << QList<int>{16, 32, 49, 65, 82, 98, 114, 131, 147, 164, 180};
        QTest::newRow("three") << 3 << 72 << QList<int>{26};
    }
    void layout()
    {
        QFETCH(int, interfaces);
        QFETCH(int, rowH);
        QFETCH(QList<int>, lines);
        TFlagKernel kernel({"vkt0", "vkt1", "vkt2"});
        ScratchRoot root;
        QList<std::tuple<QString, qint64, qint64>> before, after;
        for (int i = 0; i < interfaces; ++i) {
            before << std::make_tuple(QStringLiteral("vkt%1").arg(i), qint64(0), qint64(0));
            after << std::make_tuple(QStringLiteral("vkt%1").arg(i), kFull, 2 * kFull);   // recv half, send full
        }
        const auto w = monitor();
        root.write("/proc/net/dev", netDev(before));
        tickAt(*w, 0);
        root.write("/proc/net/dev", netDev(after));
        tickAt(*w, 2000);
        const QImage img = w->Bitmap();
        const int graphH = rowH - 20;
        for (int row = 0; row < 2 * interfaces; ++row) {
            const int y = row * rowH + 20;
            QList<int> lit;
            for (int dy = 0; dy < graphH; ++dy)
                if (img.pixel(12, y + dy) != kBlack)
                    lit << dy;
            QCOMPARE(lit, lines);
            QCOMPARE(img.pixel(12, y + graphH / 2), kCentre);
            QCOMPARE(img.pixel(12, y - 1), kBack);
            QCOMPARE(img.pixel(12, y + graphH), kBack);
            QCOMPARE(img.pixel(9, y + 1), kBack);
            QCOMPARE(img.pixel(610, y + 1), kBack);
            for (int x = 550; x > 10; x -= 60)   // vertical lines every 60 from the right
                QCOMPARE(img.pixel(x, y + 1), kGrid);
            QCOMPARE(img.pixel(580, y + 1), kBlack);
            const bool recv = row % 2;
            QCOMPARE(barHeight(img, 609, y + graphH, recv ? kRed : kGreen), recv ? graphH / 2 : graphH);
            QCOMPARE(img.pixel(607, y + graphH - 1), kBlack);   // one interval: two pixels
            int ink = 0, leftInk = 0;
            for (int ly = row * rowH + 5; ly < y; ++ly)
                for (int x = 10; x < 610; ++x)
                    if (qGray(img.pixel(x, ly)) < 100)
                        ++(x < 300 ? leftInk : ink);
            QVERIFY(ink > 50);
            QCOMPARE(leftInk, 0);
        }
    }

    // Twelve interfaces leave the graphs no room: ticks redraw the labels
    // only. Either way the picture equals one drawn whole from the same
    // histories, also after a new interface or a resize, and every pixel a
    // tick changes is repainted on the window.
    void redrawIsWhole_data()
    {
        QTest::addColumn<int>("interfaces");
        QTest::addColumn<int>("added");    // at the last tick
        QTest::addColumn<QSize>("size");   // from the last tick on
        QTest::addColumn<QRgb>("corner");  // the first graph's top-left pixel, (12, 20)
        QTest::newRow("labels only") << 12 << 0 << QSize(620, 440) << kBack;
        QTest::newRow("labels only, an interface more") << 12 << 1 << QSize(620, 440) << kBack;
        QTest::newRow("labels only, resized") << 12 << 0 << QSize(500, 300) << kBack;
        QTest::newRow("graphs") << 2 << 0 << QSize(620, 440) << kBlack;
        QTest::newRow("graphs, resized") << 2 << 0 << QSize(400, 200) << kBlack;
        QTest::newRow("graphs one pixel high: the centre line") << 2 << 0 << QSize(620, 4 * 21 + 5) << kCentre;
    }
    void redrawIsWhole()
    {
        QFETCH(int, interfaces);
        QFETCH(int, added);
        QFETCH(QSize, size);
        QFETCH(QRgb, corner);
        QList<QByteArray> names;
        for (int i = 0; i < interfaces + added; ++i)
            names << "vkt" + QByteArray::number(i);
        TFlagKernel kernel(names);
        ScratchRoot root;
        const auto piecewise = monitor();
        const auto whole = monitor();
        whole->hide();
        TPaintRecorder painted;
        piecewise->installEventFilter(&painted);
        for (int t = 0; t < 3; ++t) {
            QList<std::tuple<QString, qint64, qint64>> lines;
            // Rates high at the second tick, low at the third: labels shrink.
            for (int i = 0; i < interfaces + (t == 2 ? added : 0); ++i)
                lines << std::make_tuple(QString::fromLatin1(names[i]), qint64(t > 0) * (i + 1) * 999999 + t,
                                         qint64(t > 0) * 7777 * (i + 1) + 3 * t);
            root.write("/proc/net/dev", netDev(lines));
            if (t == 2) {
                piecewise->resize(size);
                whole->resize(size);
                whole->show();
            }
            QCoreApplication::processEvents();
            const QImage before = piecewise->Bitmap();
            painted.painted = QRegion();
            tickAt(*piecewise, t * 2000);
            tickAt(*whole, t * 2000);
            QCoreApplication::processEvents();
            const QImage after = piecewise->Bitmap();
            QCOMPARE(after.size(), t == 2 ? size : QSize(620, 440));
            if (t > 0 && before.size() == after.size())
                for (int y = 0; y < after.height(); ++y)
                    for (int x = 0; x < after.width(); ++x)
                        if (before.pixel(x, y) != after.pixel(x, y) && !painted.painted.contains(QPoint(x, y)))
                            QFAIL(qPrintable(QStringLiteral("tick %1: pixel (%2, %3) changed, not repainted").arg(t).arg(x).arg(y)));
        }
        QVERIFY(piecewise->Bitmap() == whole->Bitmap());
        QCOMPARE(piecewise->Bitmap().pixel(12, 20), corner);
    }

    // Horizontal grid lines only in graphs higher than 60 pixels, the finer
    // ones only above 120; the centre line always.
    void gridLines_data()
    {
        QTest::addColumn<int>("h");
        QTest::addColumn<QList<int>>("lines");   // lit rows of the left column, from the top
        QTest::newRow("60") << 60 << QList<int>{30};
        QTest::newRow("61") << 61 << QList<int>{10, 20, 30, 40, 50};
        QTest::newRow("120") << 120 << QList<int>{20, 40, 60, 80, 100};
        QTest::newRow("121") << 121 << QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110};
    }
    void gridLines()
    {
        QFETCH(int, h);
        QFETCH(QList<int>, lines);
        const auto w = monitor();
        QImage img(620, 440, QImage::Format_RGB32);
        img.fill(kBack);
        w->DrawGraph(img, 10, 20, 600, h, kRed, TSampleList());
        QList<int> lit;
        for (int dy = 0; dy < h; ++dy)
            if (img.pixel(12, 20 + dy) != kBlack)
                lit << dy;
        QCOMPARE(lit, lines);
    }

    // A label is the key, " : " and the rate right-aligned in ten places,
    // its right end 10 pixels from the window's edge.
    void labelText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<qint64>>("sent");   // counters of two ticks
        QTest::addColumn<QString>("rate");
        QTest::newRow("one sample: ten blanks") << "vkt0" << QList<qint64>{5} << QString(10, QLatin1Char(' '));
        QTest::newRow("1.0kB/s") << "vkt0" << QList<qint64>{0, 2048} << QStringLiteral("   1.0kB/s");
        QTest::newRow("a name beyond Latin-1") << "vkt\u20ac" << QList<qint64>{0, 2048} << QStringLiteral("   1.0kB/s");
    }
    void labelText()
    {
        QFETCH(QString, name);
        QFETCH(QList<qint64>, sent);
        QFETCH(QString, rate);
        TFlagKernel kernel({name.toUtf8()});
        ScratchRoot root;
        const auto w = monitor();
        for (int i = 0; i < sent.size(); ++i) {
            root.write("/proc/net/dev", netDev({{name, 0, sent[i]}}));
            tickAt(*w, i * 2000);
        }
        // The send label's ink starts where the whole text, drawn right-aligned, starts.
        QFont bold = w->font();
        bold.setBold(true);
        const QFontMetrics m(bold);
        const QString text = name + QStringLiteral(" send : ") + rate;
        const QImage img = w->Bitmap();
        int firstInk = -1;
        for (int x = 0; x < img.width() && firstInk < 0; ++x)
            for (int y = 5; y < 20; ++y)
                if (qGray(img.pixel(x, y)) < 100) {
                    firstInk = x;
                    break;
                }
        const int expected = img.width() - 10 - m.horizontalAdvance(text) + m.leftBearing(QLatin1Char('v'));
        QVERIFY2(qAbs(firstInk - expected) <= 2, qPrintable(QStringLiteral("ink from %1, expected %2").arg(firstInk).arg(expected)));
        // Exactly: the label as the label painter draws it, at its top of 5.
        TLabelPainter labels;
        labels.SetFont(bold);
        QImage ref(img.width(), 20, QImage::Format_RGB32);
        ref.fill(kBack);
        labels.Draw(ref, img.width() - 10 - labels.Width(text), 5, text);
        QVERIFY(img.copy(0, 0, img.width(), 20) == ref);
    }

    // Bars in a 600 x 197 graph at (10, 20); samples 2 s apart unless timed.
    void bars_data()
    {
        QTest::addColumn<QList<qint64>>("values");
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<int>("rate");               // the newest, bytes per second
        QTest::addColumn<QList<int>>("heights");     // right to left, one per 2-pixel column
        const qint64 f = 2 * kFull;                  // full scale over one interval
        QTest::newRow("one sample: no bar") << QList<qint64>{5} << QList<qint64>{} << -1 << QList<int>{0};
        QTest::newRow("newest right, older left")
            << QList<qint64>{0, f / 4, f / 4 + f} << QList<qint64>{} << int(kFull) << QList<int>{197, 49, 0};
        QTest::newRow("counter wraps past 2^32: a normal bar")
            << QList<qint64>{0xFFFFF000LL, (0xFFFFF000LL + f / 2) & 0xFFFFFFFF} << QList<qint64>{}
            << int(kFull / 2) << QList<int>{98, 0};
        QTest::newRow("counter restarts: far above the graph")
            << QList<qint64>{1000000000, 1000} << QList<qint64>{} << int((0x100000000LL - 999999000) / 2)
            << QList<int>{217, 0};   // up to the picture's top
        QTest::newRow("late sample: three bars of the mean, no spike")
            << QList<qint64>{0, f / 2, f / 2 + 3 * f / 2} << QList<qint64>{0, 2000, 8000} << int(kFull / 2)
            << QList<int>{98, 98, 98, 98, 0};
        QTest::newRow("slightly late tick: one interval")
            << QList<qint64>{0, f} << QList<qint64>{0, 2900} << int(kFull) << QList<int>{197, 0};
        QTest::newRow("a sample 3.1 s after the last: two bars")
            << QList<qint64>{0, f} << QList<qint64>{0, 3100} << int(kFull / 2) << QList<int>{98, 98, 0};
        QTest::newRow("a tick missed: two bars of half the difference")
            << QList<qint64>{0, f} << QList<qint64>{0, 4100} << int(kFull / 2) << QList<int>{98, 98, 0};
        QList<qint64> full;
        for (int i = 0; i < 600; ++i)
            full << i * f / 2;
        QTest::newRow("full history: the graph and one bar left of it")
            << full << QList<qint64>{} << int(kFull / 2) << (QList<int>(301, 98) << 0);
    }
    void bars()
    {
        QFETCH(QList<qint64>, values);
        QFETCH(QList<qint64>, times);
        QFETCH(int, rate);
        QFETCH(QList<int>, heights);
        const auto w = monitor();
        TSampleList samples;
        for (int i = 0; i < values.size(); ++i)
            samples.push_back({uint32_t(values[i]), times.isEmpty() ? i * 2000 : times[i]});
        QImage img(620, 440, QImage::Format_RGB32);
        img.fill(kBack);
        QCOMPARE(w->DrawGraph(img, 10, 20, 600, 197, kRed, samples), rate);
        QList<int> drawn;
        for (int i = 0; i < heights.size(); ++i)
            drawn << barHeight(img, 609 - 2 * i, 217, kRed);
        QCOMPARE(drawn, heights);
        QImage plain(620, 440, QImage::Format_RGB32);
        plain.fill(kBack);
        plainGraph(plain, 10, 20, 600, 197, kRed, samples);
        QVERIFY(img == plain);
    }

    // Every pixel of graphs of other shapes, against the plain drawing:
    // grid thresholds, an odd width, a graph at the picture's edges, bars
    // above full scale and late samples among ordinary ones.
    void graphPixels_data()
    {
        QTest::addColumn<QRect>("graph");
        QTest::newRow("120 high: five grid lines") << QRect(10, 20, 600, 120);
        QTest::newRow("121 high: eleven") << QRect(10, 20, 600, 121);
        QTest::newRow("60 high: centre line only") << QRect(10, 30, 600, 60);
        QTest::newRow("61 high, odd width") << QRect(10, 30, 599, 61);
        QTest::newRow("narrow, bars out of the top") << QRect(3, 2, 9, 40);
        QTest::newRow("wider than the picture") << QRect(-5, 100, 700, 300);
        QTest::newRow("narrow, past the picture's bottom") << QRect(3, 420, 9, 40);
    }
    void graphPixels()
    {
        QFETCH(QRect, graph);
        const auto w = monitor();
        TSampleList samples;
        qint64 t = 0;
        uint32_t v = 0;
        for (int i = 0; i < 400; ++i) {
            t += i % 37 == 5 ? 6100 : i % 11 == 3 ? 2900 : 2000;
            v += uint32_t((i * 2654435761u) % uint32_t(3 * kFull)) + (i % 53 == 7 ? 0x90000000u : 0u);
            samples.push_back({v, t});
        }
        QImage img(620, 440, QImage::Format_RGB32), plain(620, 440, QImage::Format_RGB32);
        img.fill(kBack);
        plain.fill(kBack);
        w->DrawGraph(img, graph.x(), graph.y(), graph.width(), graph.height(), kGreen, samples);
        plainGraph(plain, graph.x(), graph.y(), graph.width(), graph.height(), kGreen, samples);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) != plain.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3, plainly drawn %4")
                                         .arg(x).arg(y).arg(img.pixel(x, y), 0, 16).arg(plain.pixel(x, y), 0, 16)));
    }

    // Every line with a colon is one record of sixteen counters, in the
    // file's column order but carrier before compressed; the name trimmed.
    void readNetDev_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<qint64>>("counters");   // in the record's order
        const QByteArray head = "Inter-|   Receive   |  Transmit\n face |bytes    packets|bytes\n";
        QList<qint64> seq;
        for (int i = 1; i <= 16; ++i)
            seq << i * 11;
        std::swap(seq[14], seq[15]);
        QByteArray nums;
        for (int i = 1; i <= 16; ++i)
            nums += "  " + QByteArray::number(i * 11);
        QTest::newRow("name right-aligned, runs of blanks") << head + "   vkt0:" + nums + "\n" << "vkt0" << seq;
        QTest::newRow("no blank after the colon") << head + "vkt0:" + nums.mid(2) + "\n" << "vkt0" << seq;
        QTest::newRow("last line without a newline") << head + "  vkt9:" + nums << "vkt9" << seq;
        QTest::newRow("leading zeros: still decimal") << head + "vkt0: 011" + nums.mid(4) + "\n" << "vkt0" << seq;
        QList<qint64> big = seq;
        big[0] = -1;
        QTest::newRow("a counter above the signed range keeps its bits")
            << head + "vkt0: 18446744073709551615" + nums.mid(4) + "\n" << "vkt0" << big;
    }
    void readNetDev()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, name);
        QFETCH(QList<qint64>, counters);
        ScratchRoot root;
        const auto w = monitor();
        root.write("/proc/net/dev", file);
        QList<TNicStat> recs;
        w->ReadNetDev([&](const TNicStat &r) { recs << r; });
        QCOMPARE(recs.size(), 1);
        const TNicStat &r = recs[0];
        QCOMPARE(r.Name, name);
        QCOMPARE((QList<qint64>{r.RxBytes, r.RxPackets, r.RxErrs, r.RxDrop, r.RxFifo, r.RxFrame, r.RxCompressed,
                                r.RxMulticast, r.TxBytes, r.TxPackets, r.TxErrs, r.TxDrop, r.TxFifo, r.TxColls,
                                r.TxCompressed, r.TxCarrier}),
                 counters);
        w->ReadNetDev({});   // no sink: the lines are only read
    }

    // The flag socket, a datagram one, is made with the window and not
    // inherited by the commands the console starts. Closing the window
    // hides it and ends nothing: not its sampling, nor the program. The
    // socket goes with the window, and so does the global that names it.
    void windowLife()
    {
        const QSet<int> before = socketFds();
        auto w = std::make_unique<TfmNicStat>();
        const QSet<int> made = socketFds() - before;
        QCOMPARE(made.size(), 1);
        QVERIFY(::fcntl(*made.begin(), F_GETFD) & FD_CLOEXEC);
        int type = 0;
        socklen_t len = sizeof type;
        QVERIFY(::getsockopt(*made.begin(), SOL_SOCKET, SO_TYPE, &type, &len) == 0);
        QCOMPARE(type, int(SOCK_DGRAM));
        QVERIFY(!w->testAttribute(Qt::WA_QuitOnClose));   // the main window's closing ends the program
        w->show();
        QVERIFY(w->close());
        QVERIFY(!w->isVisible() && w->Timer1->isActive());
        fmNicStat = w.get();
        w.reset();
        QVERIFY(!fmNicStat);
        QCOMPARE(socketFds(), before);
    }

    // Keys in first-appearance order, "lo" and interfaces not running
    // skipped, keys case-blind, low 32 bits kept, at most 600 samples.
    void sampling()
    {
        TFlagKernel kernel({"vkt1", "VKT0", "vkt0", "lo", "VKT1", "vktlongname0123", "LO"});
        kernel.flags["vktdown"] = IFF_UP;   // cable unplugged
        ScratchRoot root;
        const auto w = monitor();
        root.write("/proc/net/dev", netDev({{"lo", 3, 4}}));
        tickAt(*w, 0);
        QCOMPARE(w->Lists().Count(), 0);
        QCOMPARE(w->grab().toImage().pixel(300, 200), kBlack);   // nothing to show: black
        root.write("/proc/net/dev", netDev({{"vkt1", 1, 2}, {"lo", 3, 4}, {"vktdown", 5, 6}, {"vktgone", 7, 8},
                                            {"VKT0", 9, 10}}));
        tickAt(*w, 2000);
        // A name longer than the kernel's 15 characters is asked for by its first 15.
        root.write("/proc/net/dev", netDev({{"VKT1", 11, 12}, {"vkt0", 0x100000005LL, 14}, {"vktlongname01234", 1, 2},
                                            {"LO", 3, 4}}));
        tickAt(*w, 4000);
        const TSampleLists &l = w->Lists();
        QStringList keys;
        QList<QList<qint64>> values, times;
        for (int i = 0; i < l.Count(); ++i) {
            keys << l.Key(i);
            values << QList<qint64>();
            times << QList<qint64>();
            for (const TSample &s : l.Samples(i)) {
                values.last() << s.Value;
                times.last() << s.TimeMs;
            }
        }
        QCOMPARE(keys, (QStringList{"vkt1 send", "vkt1 recv", "VKT0 send", "VKT0 recv", "vktlongname01234 send",
                                    "vktlongname01234 recv", "LO send", "LO recv"}));
        QCOMPARE(values, (QList<QList<qint64>>{{2, 12}, {1, 11}, {10, 14}, {9, 5}, {2}, {1}, {4}, {3}}));
        QCOMPARE(times, (QList<QList<qint64>>{{2000, 4000}, {2000, 4000}, {2000, 4000}, {2000, 4000}, {4000}, {4000}, {4000}, {4000}}));

        TNicStat rec;
        rec.Name = QStringLiteral("vkt0");
        for (int i = 0; i < 599; ++i)
            w->AddSample(rec);
        QCOMPARE(l.Samples(3).size(), size_t(600));   // the 601st dropped the oldest
        QCOMPARE(l.Samples(3).front().Value, 5u);
    }

    // A failing tick ends at the bad line: lines before it keep their
    // samples, the redraw is skipped, the error shown; the next tick works.
    void failingTick_data()
    {
        QTest::addColumn<QByteArray>("file");   // (a missing file: the command-wait test)
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("kept");          // keys sampled before the failure
        QTest::newRow("counter not a number") << netDev({{"vkt0", 1, 1}, {"vkt1", 1, 1}}).replace("vkt1: 1", "vkt1: 1x")
                                              << "'1x' is not a valid integer value" << 2;
        QTest::newRow("line cut short") << QByteArray("h1\nh2\nvkt1: 1 2 3\n") << "'' is not a valid integer value" << 0;
    }
    void failingTick()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        QFETCH(int, kept);
        TFlagKernel kernel({"vkt0", "vkt1"});
        ScratchRoot root;
        DialogRecorder dialogs;
        const auto w = monitor();
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

    // Samples a failing tick kept show at the next paint.
    void paintAfterAFailingTick()
    {
        TFlagKernel kernel({"vkt0", "vkt1"});
        ScratchRoot root;
        DialogRecorder dialogs;
        const auto w = monitor();
        root.write("/proc/net/dev", netDev({{"vkt0", 0, 0}, {"vkt1", 0, 0}}));
        tickAt(*w, 0);
        const QImage drawn = w->Bitmap();
        root.write("/proc/net/dev", netDev({{"vkt0", 0, kFull}, {"vkt1", 1, 1}}).replace("vkt1: 1", "vkt1: 1x"));
        QMetaObject::invokeMethod(w->Timer1, "timeout");
        QCOMPARE(dialogs.texts().size(), 1);
        QVERIFY(w->Bitmap() == drawn);
        w->grab();
        QCOMPARE(barHeight(w->Bitmap(), 609, 20 + 88, kGreen), 44);   // four graphs of 88: half scale
    }

    // While the console waits for a command the monitor keeps sampling. A
    // tick that fails meanwhile opens one error box and the wait ends on
    // time; no tick starts again until the box is answered.
    void ticksDuringACommandWait()
    {
        TFlagKernel kernel({"vkt0"});
        ScratchRoot root;
        InstallShellIdleHook();
        const auto w = monitor();
        w->Timer1->start(100);
        root.write("/proc/net/dev", netDev({{"vkt0", 0, 0}}));
        RunShell(QStringLiteral("sleep 0.6"));
        QVERIFY(w->Lists().Count() == 2 && w->Lists().Samples(0).size() >= 3);

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
        QTest::qWait(400);
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(w->Lists().Samples(0).size(), before);
        boxes().first()->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(w->Lists().Samples(0).size() > before);
        SetShellIdleHook(nullptr);
    }

    // The monitor button: the speed dialog (second entry preselected, no
    // entry refused) is asked once, again after a cancel; the window is kept,
    // samples while hidden and is drawn when shown.
    // Each entry scales the graphs by its own rate. Enter in the list is OK;
    // Enter on the focused Cancel button cancels and changes nothing.
    void speedDialog_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("rate");        // 0: cancelled, nothing changes
        QTest::newRow("10Mbit/s") << 0 << "ok" << 1258291;
        QTest::newRow("100Mbit/s") << 1 << "ok" << 12582912;
        QTest::newRow("1000Mbit/s") << 2 << "ok" << 125829120;
        QTest::newRow("Enter in the list") << 0 << "enter list" << 1258291;
        QTest::newRow("Enter on Cancel") << 0 << "enter cancel" << 0;
    }
    void speedDialog()
    {
        QFETCH(int, row);
        QFETCH(QString, how);
        QFETCH(int, rate);
        MaxRate = 777;
        SpeedLabel = QStringLiteral("before");
        TfmSelSpeed d;
        d.show();
        QApplication::setActiveWindow(&d);
        QVERIFY(QTest::qWaitForWindowActive(&d));
        d.ListBox1->setCurrentRow(row);
        QCoreApplication::processEvents();
        if (how == "ok") {
            d.btnOK->click();
        } else {
            QWidget *focus = how.endsWith("cancel") ? static_cast<QWidget *>(d.btnCancel) : d.ListBox1;
            focus->setFocus();
            QTest::keyClick(focus, Qt::Key_Return);
        }
        QCOMPARE(d.result(), rate ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(MaxRate, rate ? rate : 777);
        QCOMPARE(SpeedLabel, rate ? d.ListBox1->item(row)->text() : QStringLiteral("before"));
    }

    void monitorButton()
    {
        TFlagKernel kernel({"vkt0"});
        ConsoleScratch s;
        s.root.write("/proc/net/dev", netDev({{"vkt0", 0, 0}}));
        auto w = s.open();
        int asked = 0, preselected = -1;
        bool okWithoutEntry = true;
        SetSelectSpeedHook([&](TfmSelSpeed *d) {
            preselected = d->ListBox1->currentRow();
            if (++asked == 1) {   // no entry: refused, nothing changes; then a cancel
                d->ListBox1->setCurrentRow(-1);
                QCoreApplication::processEvents();
                okWithoutEntry = d->btnOK->isEnabled();
                RunGuarded(d, [d] { d->btnOKClick(); });
                return int(QDialog::Rejected);
            }
            d->ListBox1->setCurrentRow(2);
            d->btnOK->click();
            return d->result();
        });
        auto *button = part<QPushButton>(*w, "btnNicMon");
        button->click();
        QVERIFY(!fmNicStat && !okWithoutEntry && preselected == 1);
        QCOMPARE(s.dialogs.texts(), QStringList{"error selection"});
        QCOMPARE(MaxRate, int(kFull));
        button->click();
        TfmNicStat *monitor = fmNicStat;
        QVERIFY(monitor && monitor->isVisible());
        QCOMPARE(MaxRate, 125829120);
        QCOMPARE(monitor->windowTitle(), QStringLiteral("Network Traffic Watch - 1000Mbit/s"));
        QVERIFY(monitor->Timer1->isActive() && monitor->Timer1->interval() == 2000);
        monitor->close();
        tickAt(*monitor, 0);
        QCOMPARE(monitor->Lists().Count(), 2);
        QVERIFY(monitor->Bitmap().isNull());
        button->click();
        QCOMPARE(asked, 2);
        QCOMPARE(fmNicStat, monitor);
        QVERIFY(monitor->isVisible());
        QTRY_COMPARE(monitor->Bitmap().size(), QSize(620, 440));
        SetSelectSpeedHook(nullptr);
        w.reset();
        QVERIFY(!fmNicStat);
    }
};

QTEST_MAIN(TestNetFlux)
#include "tst_netflux.moc"
