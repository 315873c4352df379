#pragma once
// The traffic monitor: for every running network interface a send and a
// receive bar graph of its recent throughput, sampled from the kernel's byte
// counters every two seconds, also while the window is hidden. Its texts are
// built in and never translated.
#include <QFont>
#include <QHash>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QTimer;

// Draws the monitor's labels: black text in one font, glyph by glyph from
// pictures made once per character, blended over whatever lies beneath.
// Shaping a text costs more than reading all the counters; labels change
// every tick and hold few distinct characters. A text with a character
// beyond Latin-1 is drawn by the painter.
class TLabelPainter {
public:
    void SetFont(const QFont &Font);
    int Width(const QString &Text);
    int Height() const { return FHeight; }
    // Text with its top-left corner at (X, Top); the pixels it may have touched.
    QRect Draw(QImage &Image, int X, int Top, const QString &Text);

private:
    // The inked pixels of the character drawn black on white: where, from
    // the pen position and the text's top, and how much light each lets through.
    struct TInk {
        int Dx, Dy;
        QRgb Light;
    };
    struct TCell {
        std::vector<TInk> Ink;
        int Advance = 0;
        int Left = 0, Right = 0;   // the ink's columns, from the pen position
    };
    const TCell &Cell(QChar C);
    static bool Simple(const QString &Text);

    QFont FFont;
    int FHeight = 0;
    int FAscent = 0;
    std::vector<TCell> FCells;             // by Latin-1 code
    std::vector<bool> FMade;
};

// One line of /proc/net/dev: the interface and its sixteen counters, filled
// column by column (the file gives carrier before compressed).
struct TNicStat {
    QString Name;
    int64_t RxBytes = 0, RxPackets = 0, RxErrs = 0, RxDrop = 0, RxFifo = 0, RxFrame = 0,
            RxCompressed = 0, RxMulticast = 0;
    int64_t TxBytes = 0, TxPackets = 0, TxErrs = 0, TxDrop = 0, TxFifo = 0, TxColls = 0,
            TxCompressed = 0, TxCarrier = 0;
};

// A sample: the low 32 bits of a byte counter, and when it was read (ms on
// the monitor's clock). The time lets a sample that came late be spread over
// the intervals it covers instead of showing as a spike.
struct TSample {
    uint32_t Value = 0;
    int64_t TimeMs = 0;
};
// Oldest first, at most kMaxSamples.
using TSampleList = std::deque<TSample>;

// The histories, one per key ("eth0 send", "eth0 recv"), in the order they
// were first needed; keys are looked up without regard to letter case.
class TSampleLists {
public:
    int Count() const { return int(FEntries.size()); }
    bool IsEmpty() const { return FEntries.empty(); }
    const QString &Key(int Index) const { return FEntries[size_t(Index)].Key; }
    const TSampleList &Samples(int Index) const { return FEntries[size_t(Index)].Samples; }
    // The key's history, appended empty when the key is new.
    TSampleList &FindOrAdd(const QString &Key);

private:
    struct TEntry {
        QString Key;
        TSampleList Samples;
    };
    std::deque<TEntry> FEntries;        // stable addresses while appending
    QHash<QString, int> FIndex;         // case-folded key -> entry
};

class TfmNicStat : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxSamples = 600;

    explicit TfmNicStat(QWidget *Owner = nullptr);
    ~TfmNicStat() override;

    QTimer *Timer1;

    void FormCreate();
    void FormPaint();
    void FormClose();
    void Timer1Timer();

    using TRecordSink = std::function<void(const TNicStat &)>;
    // Reads /proc/net/dev and hands every interface line to Sink (none: the
    // lines are only read). "I/O error %d" when the file cannot be read,
    // "'%s' is not a valid integer value" for a counter that is no number;
    // lines before a bad one have reached the sink.
    void ReadNetDev(const TRecordSink &Sink);
    void AddSample(const TNicStat &Rec);
    bool IsInterfaceRunning(const QString &Name) const;
    void RedrawGraphs();
    // Draws one graph into Bitmap; the newest rate in bytes per second, -1
    // with fewer than two samples.
    int DrawGraph(QImage &Bitmap, int X, int Y, int W, int H, QRgb Color, const TSampleList &Samples) const;

    // The histories and the picture last drawn, as they stand.
    const TSampleLists &Lists() const { return FLists; }
    const QImage &Bitmap() const { return FBitmap; }

protected:
    void paintEvent(QPaintEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;

private:
    void RenderGraphs();
    void GuardedTick();

    TSampleLists FLists;
    QImage FBitmap;
    QFont FBitmapFont;
    TLabelPainter FLabels;
    // What the last drawing left in FBitmap, so that a tick which changes
    // only the labels redraws only them.
    struct TDrawn {
        QSize Size;
        int Keys = 0;
        bool LabelsOnly = false;   // no graph had room: background and labels
        QVector<QRect> LabelRects;
    } FDrawn;
    QRegion FDirty;
    // DrawGraph's working rows, kept to spare an allocation per graph.
    mutable std::vector<int> FBarTops;
    mutable std::vector<QRgb> FRowColours;
    mutable std::vector<QRgb> FLineColours;
    int FSocket = -1;

    int64_t FTickTime = 0;              // the time samples are stamped with
    bool FBitmapStale = true;           // samples came after the picture was drawn
    bool FTickBusy = false;             // a tick, its error box included, is under way
    QPainter *FWindowPainter = nullptr; // the window's, during a paint event
};

QString FormatRate(int N);

// Bytes per second drawn at a graph's full height.
extern int MaxRate;
// The chosen speed entry's text, shown in the monitor's caption.
extern QString SpeedLabel;
// The one monitor window, created at its first opening and kept to the end.
extern TfmNicStat *fmNicStat;

// Test seam: the monitor's clock in milliseconds (monotonic); nullptr
// restores the real one.
void SetNetFluxClockForTesting(std::function<int64_t()> Clock);
