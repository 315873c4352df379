#include "untNetFlux.h"

#include "vkCmdUtils.h"
#include "vkErrors.h"
#include "vkFileUtils.h"
#include "vkGuard.h"
#include "vkPaths.h"
#include "vkSocket.h"
#include "vkSysUtils.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

int MaxRate = 12582912;
QString SpeedLabel;
TfmNicStat *fmNicStat = nullptr;

namespace {

std::function<int64_t()> g_clock;

int64_t Now()
{
    if (g_clock)
        return g_clock();
    static QElapsedTimer since;
    if (!since.isValid())
        since.start();
    return since.elapsed();
}

const QRgb kBackground = qRgb(236, 233, 216);
const QRgb kGraphFill = qRgb(0, 0, 0);
const QRgb kGrid = qRgb(0, 96, 0);
const QRgb kCentre = qRgb(160, 160, 0);
const QRgb kRecv = qRgb(255, 0, 0);
const QRgb kSend = qRgb(0, 255, 0);

// Direct pixel access for the graphs: thousands of small bars a second would
// cost a painter far more than the reading of the counters does. Every
// write is clipped to the picture; a bar itself is not clipped to its graph.
class TPixels {
public:
    explicit TPixels(QImage &Image)
        : FBits(Image.bits()), FStride(Image.bytesPerLine()), FW(Image.width()), FH(Image.height())
    {
    }

    // The pixels x0 <= x < x1, y0 <= y < y1.
    void Fill(int x0, int y0, int x1, int y1, QRgb c) const
    {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, FW);
        y1 = std::min(y1, FH);
        for (int y = y0; y < y1 && x0 < x1; ++y)
            std::fill_n(reinterpret_cast<QRgb *>(FBits + qsizetype(y) * FStride) + x0, x1 - x0, c);
    }

private:
    uchar *FBits;
    qsizetype FStride;
    int FW, FH;
};

// One row of a graph: Color where the bar of the column reaches row y (its
// top at or above y), else what lies under the bars.
void BarRow(QRgb *Row, const int *Top, const QRgb *Under, int y, QRgb Color, int n)
{
    int x = 0;
#ifdef __SSE2__
    // Four pixels at a time: a graph is redrawn whole at every tick.
    const __m128i row = _mm_set1_epi32(y), colour = _mm_set1_epi32(int(Color));
    for (; x + 4 <= n; x += 4) {
        const __m128i below = _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Top + x)), row);
        const __m128i under = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Under + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(Row + x),
                         _mm_or_si128(_mm_and_si128(below, under), _mm_andnot_si128(below, colour)));
    }
#endif
    for (; x < n; ++x)
        Row[x] = y >= Top[x] ? Color : Under[x];
}

void AppendSample(TSampleList &List, uint32_t Value, int64_t Time)
{
    List.push_back({Value, Time});
    while (List.size() > size_t(TfmNicStat::kMaxSamples))
        List.pop_front();
}

// A counter field as the runtime's 64-bit conversion reads it; the kernel's
// unsigned counters above the signed range keep their low bits.
int64_t CounterOf(const QString &Token)
{
    bool ok = false;
    const qlonglong v = Token.toLongLong(&ok, 10);
    if (ok)
        return v;
    const qulonglong u = Token.toULongLong(&ok, 10);
    if (ok)
        return int64_t(u);
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(Token));
}

QByteArray ReadProcFile(const QString &Path)
{
    QByteArray text;
    if (!ReadWholeFile(Path, text))
        throw EInOutError(QStringLiteral("I/O error %1").arg(errno));
    return text;
}

} // namespace

// ---- histories -----------------------------------------------------------------

TSampleList &TSampleLists::FindOrAdd(const QString &Key)
{
    const QString folded = Key.toCaseFolded();
    const auto found = FIndex.constFind(folded);
    if (found != FIndex.constEnd())
        return FEntries[size_t(*found)].Samples;
    FIndex.insert(folded, int(FEntries.size()));
    FEntries.push_back({Key, {}});
    return FEntries.back().Samples;
}

// ---- window ----------------------------------------------------------------------

TfmNicStat::TfmNicStat(QWidget *Owner) : QWidget(Owner, Qt::Window)
{
    setObjectName(QStringLiteral("fmNicStat"));
    setWindowTitle(QStringLiteral("Network Traffic Watch"));
    resize(620, 440);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    // The bitmap covers the whole window; the black background is painted
    // only while there is nothing to show.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The monitor lives as long as the program but does not keep it alive:
    // closing the main window ends the console.
    setAttribute(Qt::WA_QuitOnClose, false);
    if (QScreen *s = screen())
        move(s->geometry().center() - QPoint(width() / 2, height() / 2));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, &TfmNicStat::GuardedTick);
    Timer1->start();

    RunGuarded(this, [this] { FormCreate(); });
}

TfmNicStat::~TfmNicStat()
{
    if (FSocket >= 0)
        ::close(FSocket);
    if (fmNicStat == this)
        fmNicStat = nullptr;
}

void TfmNicStat::FormCreate()
{
    FBitmapFont = font();
    FBitmapFont.setBold(true);
    setWindowTitle(windowTitle() + QStringLiteral(" - ") + SpeedLabel);
    FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

// One tick at a time: a tick that is due while another one, or the error box
// of another one, is still under way is left out. The error box opens
// without a nested event loop, so a tick that fails while the console waits
// for a command does not hold up that wait.
void TfmNicStat::GuardedTick()
{
    if (FTickBusy)
        return;
    FTickBusy = true;
    QPointer<TfmNicStat> self(this);
    const bool done = RunGuardedOpen(
        isVisible() ? this : nullptr, [this] { Timer1Timer(); },
        [self] {
            if (self)
                self->FTickBusy = false;
        });
    if (done)
        FTickBusy = false;
}

void TfmNicStat::Timer1Timer()
{
    FTickTime = Now();
    ReadNetDev([this](const TNicStat &Rec) { AddSample(Rec); });
    RedrawGraphs();
}

void TfmNicStat::FormPaint()
{
    RedrawGraphs();
}

void TfmNicStat::FormClose()
{
    // Closing only hides the window: its histories, socket and timer stay,
    // so the graphs are up to date when it is shown again.
}

void TfmNicStat::closeEvent(QCloseEvent *Event)
{
    FormClose();
    QWidget::closeEvent(Event);
}

void TfmNicStat::paintEvent(QPaintEvent *Event)
{
    QPainter painter(this);
    if (FLists.IsEmpty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // A tick has drawn the bitmap already: it is shown as it is.
    if (!FBitmapStale && FBitmap.size() == size()) {
        for (const QRect &r : Event->region())
            painter.drawImage(r, FBitmap, r);
        return;
    }
    FWindowPainter = &painter;
    FormPaint();
    FWindowPainter = nullptr;
}

void TfmNicStat::ReadNetDev(const TRecordSink &Sink)
{
    const QByteArray text = ReadProcFile(SysPath(QStringLiteral("/proc/net/dev")));
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView raw(text.constData() + start, end - start);
        start = end + 1;
        if (!raw.contains(':'))
            continue;   // the two heading lines

        QString line = TrimCtl(QString::fromLocal8Bit(raw));
        TNicStat rec;
        CutToken(line, QLatin1Char(':'), rec.Name);
        int64_t *const counters[16] = {
            &rec.RxBytes, &rec.RxPackets, &rec.RxErrs,  &rec.RxDrop, &rec.RxFifo,    &rec.RxFrame,
            &rec.RxCompressed, &rec.RxMulticast, &rec.TxBytes, &rec.TxPackets, &rec.TxErrs,
            &rec.TxDrop, &rec.TxFifo, &rec.TxColls, &rec.TxCarrier, &rec.TxCompressed};
        QString token;
        for (int64_t *counter : counters) {
            CutToken(line, QLatin1Char(' '), token);
            *counter = CounterOf(token);
        }
        if (Sink)
            Sink(rec);
    }
}

void TfmNicStat::AddSample(const TNicStat &Rec)
{
    if (Rec.Name == QLatin1String("lo") || !IsInterfaceRunning(Rec.Name))
        return;
    AppendSample(FLists.FindOrAdd(Rec.Name + QStringLiteral(" send")), uint32_t(Rec.TxBytes), FTickTime);
    AppendSample(FLists.FindOrAdd(Rec.Name + QStringLiteral(" recv")), uint32_t(Rec.RxBytes), FTickTime);
    FBitmapStale = true;
}

bool TfmNicStat::IsInterfaceRunning(const QString &Name) const
{
    if (FSocket < 0)
        return false;
    ifreq req{};
    const QByteArray name = Name.toLocal8Bit();
    std::memcpy(req.ifr_name, name.constData(), size_t(std::min<qsizetype>(name.size(), IFNAMSIZ - 1)));
    if (NicIoctl(FSocket, SIOCGIFFLAGS, &req) != 0)
        return false;
    return (req.ifr_flags & IFF_RUNNING) != 0;
}

void TfmNicStat::RedrawGraphs()
{
    if (FLists.IsEmpty())
        return;
    // A hidden window's picture is seen by nobody: it is drawn when the
    // window is shown again, from the histories as they are then.
    if (!FWindowPainter && !isVisible()) {
        FBitmapStale = true;
        return;
    }
    RenderGraphs();
    if (FWindowPainter) {
        FWindowPainter->drawImage(0, 0, FBitmap);
    } else {
        update(FDirty);
    }
    FDirty = QRegion();
}

void TfmNicStat::RenderGraphs()
{
    const int cw = width(), ch = height();
    if (cw <= 0 || ch <= 0)
        return;
    const int count = FLists.Count();
    const int rowH = (ch - 5) / count;
    const int graphH = rowH - 20;
    const int graphW = cw - 20;
    const bool labelsOnly = graphH <= 0 || graphW <= 0;

    // Where no graph has room the picture is the background and the labels:
    // the labels drawn last time give way to this tick's. Otherwise all is
    // drawn afresh.
    if (labelsOnly && FDrawn.LabelsOnly && FDrawn.Size == QSize(cw, ch) && FDrawn.Keys == count
        && FBitmap.size() == QSize(cw, ch)) {
        const TPixels px(FBitmap);
        QRect old;
        for (const QRect &r : std::as_const(FDrawn.LabelRects)) {
            px.Fill(r.left(), r.top(), r.right() + 1, r.bottom() + 1, kBackground);
            old |= r;
        }
        FDirty = old;
    } else {
        if (FBitmap.size() != QSize(cw, ch))
            FBitmap = QImage(cw, ch, QImage::Format_RGB32);
        if (labelsOnly) {
            FBitmap.fill(kBackground);
        } else {
            // Every graph covers its rectangle whole: the background is
            // needed only around them.
            const TPixels px(FBitmap);
            for (int i = 0; i < count; ++i) {
                const int y = i * rowH + 20;
                px.Fill(0, i * rowH, cw, y, kBackground);
                px.Fill(0, y, 10, y + graphH, kBackground);
                px.Fill(10 + graphW, y, cw, y + graphH, kBackground);
            }
            px.Fill(0, count * rowH, cw, ch, kBackground);
        }
        FDirty = QRegion(0, 0, cw, ch);
    }
    FBitmapStale = false;
    FDrawn.Size = QSize(cw, ch);
    FDrawn.Keys = count;
    FDrawn.LabelsOnly = labelsOnly;
    FDrawn.LabelRects.resize(count);

    FLabels.SetFont(FBitmapFont);
    QRect labelArea;
    for (int i = 0; i < count; ++i) {
        const QString &key = FLists.Key(i);
        const QRgb color = key.contains(QLatin1String(" recv")) ? kRecv : kSend;
        const int rate = DrawGraph(FBitmap, 10, i * rowH + 20, graphW, graphH, color, FLists.Samples(i));
        const QString label = key + QStringLiteral(" : ") + FormatRate(rate).rightJustified(10, QLatin1Char(' '));
        const int textW = FLabels.Width(label);
        const int left = FBitmap.width() - 10 - textW;
        const int top = i * rowH + 5;
        const QRect covered = FLabels.Draw(FBitmap, left, top, label).intersected(FBitmap.rect());
        FDrawn.LabelRects[i] = covered;
        labelArea |= covered;
    }
    // One rectangle round what changed: cheaper to hand on than many.
    FDirty = QRegion(FDirty.boundingRect() | labelArea);
}

// ---- labels ----------------------------------------------------------------------

void TLabelPainter::SetFont(const QFont &Font)
{
    if (Font == FFont && FHeight > 0)
        return;
    FFont = Font;
    const QFontMetrics m(Font);
    FHeight = m.height();
    FAscent = m.ascent();
    FCells.assign(256, TCell());
    FMade.assign(256, false);
}

bool TLabelPainter::Simple(const QString &Text)
{
    for (QChar c : Text)
        if (c.unicode() < 0x20 || c.unicode() > 0xFF)
            return false;
    return true;
}

const TLabelPainter::TCell &TLabelPainter::Cell(QChar C)
{
    const size_t code = C.unicode();
    if (FMade[code])
        return FCells[code];
    TCell &cell = FCells[code];
    const QFontMetrics m(FFont);
    cell.Advance = m.horizontalAdvance(C);
    // Room for whatever the glyph reaches beyond its advance on either side.
    const QRect box = m.boundingRect(C);
    const int pad = 2 + std::max({0, -box.left(), box.right() + 1 - cell.Advance});
    QImage picture(cell.Advance + 2 * pad, FHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter p(&picture);
    p.setFont(FFont);
    p.setPen(Qt::black);
    p.drawText(pad, FAscent, QString(C));
    p.end();
    for (int y = 0; y < picture.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            if ((row[x] & 0xFFFFFF) != 0xFFFFFF) {
                cell.Ink.push_back({x - pad, y, row[x]});
                cell.Left = std::min(cell.Left, x - pad);
                cell.Right = std::max(cell.Right, x - pad);
            }
    }
    FMade[code] = true;
    return cell;
}

int TLabelPainter::Width(const QString &Text)
{
    if (!Simple(Text))
        return QFontMetrics(FFont).horizontalAdvance(Text);
    int w = 0;
    for (QChar c : Text)
        w += Cell(c).Advance;
    return w;
}

QRect TLabelPainter::Draw(QImage &Image, int X, int Top, const QString &Text)
{
    if (!Simple(Text)) {
        QPainter p(&Image);
        p.setFont(FFont);
        p.setPen(Qt::black);
        p.drawText(X, Top + FAscent, Text);
        return QFontMetrics(FFont).boundingRect(Text).translated(X, Top + FAscent).adjusted(-2, -2, 2, 2);
    }
    // Black over the picture: each channel keeps the share of light that the
    // glyph, drawn black on white, lets through.
    const int iw = Image.width(), ih = Image.height();
    uchar *const bits = Image.bits();
    const qsizetype stride = Image.bytesPerLine();
    auto blend = [](QRgb &d, QRgb light) {
        if ((light & 0xFFFFFF) == 0)
            d = 0xFF000000;
        else
            d = qRgb(qRed(d) * qRed(light) / 255, qGreen(d) * qGreen(light) / 255,
                     qBlue(d) * qBlue(light) / 255);
    };
    const bool rowsInside = Top >= 0 && Top + FHeight <= ih;
    int x = X, left = X, right = X;
    for (QChar c : Text) {
        const TCell &cell = Cell(c);
        if (!cell.Ink.empty()) {
            left = std::min(left, x + cell.Left);
            right = std::max(right, x + cell.Right);
        }
        if (rowsInside && x + cell.Left >= 0 && x + cell.Right < iw) {
            uchar *const origin = bits + qsizetype(Top) * stride + qsizetype(x) * 4;
            for (const TInk &ink : cell.Ink)
                blend(reinterpret_cast<QRgb *>(origin + qsizetype(ink.Dy) * stride)[ink.Dx], ink.Light);
        } else {
            for (const TInk &ink : cell.Ink) {
                const int px = x + ink.Dx, py = Top + ink.Dy;
                if (px >= 0 && px < iw && py >= 0 && py < ih)
                    blend(reinterpret_cast<QRgb *>(bits + qsizetype(py) * stride)[px], ink.Light);
            }
        }
        x += cell.Advance;
    }
    return QRect(QPoint(left, Top), QPoint(right, Top + FHeight - 1));
}

int TfmNicStat::DrawGraph(QImage &Bitmap, int X, int Y, int W, int H, QRgb Color,
                          const TSampleList &Samples) const
{
    int result = -1;
    const bool room = W > 0 && H > 0;   // a window too small for its graphs draws none
    const TPixels px(Bitmap);

    // The bars first, as the top row of each column of the graph; bars
    // stand on the graph's bottom edge and are drawn over everything else.
    // A bar stands for one sampling interval, 2 pixels wide. A sample that
    // came late (a busy or suspended machine, an interface that was not
    // running for a while) covers several intervals: its difference is
    // shared out over as many bars as whole intervals passed, so it shows
    // neither as a spike nor squeezes the time axis. A tick that is merely a
    // little late still counts as one interval.
    constexpr int kNoBar = INT_MAX;
    std::vector<int> &tops = FBarTops;
    tops.assign(size_t(std::max(W, 0)), kNoBar);
    struct TOutside {
        int x, top;
    };
    std::vector<TOutside> outside;   // bar columns left of the graph, or bars reaching above it
    const int64_t intervalMs = std::max(1, Timer1->interval());
    const int64_t secs = std::max<int64_t>(1, intervalMs / 1000);
    const int64_t maxRate = std::max(1, MaxRate);
    int right = X + W;
    const int bottom = Y + H;
    for (size_t i = Samples.size(); i-- > 1;) {
        const uint32_t d = Samples[i].Value - Samples[i - 1].Value;   // wraps past 2^32 right
        const int64_t elapsed = Samples[i].TimeMs - Samples[i - 1].TimeMs;
        const int64_t intervals = std::max<int64_t>(1, (elapsed + intervalMs / 2) / intervalMs);
        const int64_t perBar = secs * intervals;
        if (i == Samples.size() - 1)
            result = int(std::min<int64_t>(int64_t(d) / perBar, INT_MAX));
        if (!room)
            break;
        const int64_t h = (int64_t(d) * H / maxRate) / perBar;
        const int top = int(std::max<int64_t>(bottom - h, INT_MIN / 2));
        for (int64_t bars = intervals; bars > 0 && right >= X; --bars) {
            for (int x = right - 2; x < right; ++x) {
                if (x >= X && top < bottom)
                    tops[size_t(x - X)] = top;
                if ((x < X || top < Y) && top < bottom)
                    outside.push_back({x, top});
            }
            right -= 2;
        }
        if (right < X)
            break;
    }
    if (!room)
        return result;

    // Then every pixel of the graph once, row by row: the bar's colour where
    // a bar reaches, else the centre line, the grid or black. The centre line
    // lies over the vertical grid lines, which lie over the horizontal ones.
    const int x0 = std::max(X, 0), x1 = std::min(X + W, Bitmap.width());
    const int y0 = std::max(Y, 0), y1 = std::min(bottom, Bitmap.height());
    std::vector<QRgb> &plain = FRowColours;   // a row without a horizontal line
    plain.assign(size_t(W), kGraphFill);
    for (int x = X + W - 60; x > X; x -= 60)
        plain[size_t(x - X)] = kGrid;
    auto isGridRow = [&](int y) {
        for (int k = 1; H > 60 && k <= 5; ++k)
            if (y == Y + H * k / 6)
                return true;
        for (int k = 1; H > 120 && k <= 11; k += 2)
            if (y == Y + H * k / 12)
                return true;
        return false;
    };
    uchar *const bits = Bitmap.bits();
    const qsizetype stride = Bitmap.bytesPerLine();
    const int *const top = tops.data() - X;
    const QRgb *const base = plain.data() - X;
    std::vector<QRgb> &line = FLineColours;   // a row with a horizontal line
    for (int y = y0; y < y1; ++y) {
        QRgb *const row = reinterpret_cast<QRgb *>(bits + qsizetype(y) * stride);
        const bool centre = y == Y + H / 2;
        const QRgb *under = base;
        if (centre || isGridRow(y)) {
            line.assign(size_t(W), centre ? kCentre : kGrid);
            under = line.data() - X;
        }
        BarRow(row + x0, top + x0, under + x0, y, Color, x1 - x0);
    }
    for (const TOutside &o : outside)
        px.Fill(o.x, o.top, o.x + 1, o.x < X ? bottom : Y, Color);
    return result;
}

QString FormatRate(int N)
{
    if (N < 0)
        return QString();
    if (N < 1024)
        return QString::asprintf("%dB/s", N);
    if (N < 1048576)
        return QString::asprintf("%0.1fkB/s", N / 1024.0);
    return QString::asprintf("%0.1fMB/s", N / 1024.0 / 1024.0);
}

void SetNetFluxClockForTesting(std::function<int64_t()> Clock)
{
    g_clock = std::move(Clock);
}
