// The configuration tool's mount table on arbitrary bytes: the input is
// /etc/mtab, read by the main window's reader and looked up with FindMount.
// The window is made once; the scratch /dev holds md0, a link to md/0.
//
// The reader: one entry per piece that fgets with a 4096-byte buffer cuts,
// the text up to a zero byte, trailing bytes up to the blank removed.
// FindMount: for the first field of every entry, and for md0 through its
// link, the first entry whose first field matches, with its second and third
// fields (fields are the non-empty runs between spaces); any other name is
// not found and leaves the out-arguments alone. The lookup index must also
// follow a table set directly.
#include "fuzz_support.h"
#include "untMain.h"
#include "vkDialogs.h"
#include "vkSystem.h"
#include "vkVariant.h"

#include <QApplication>
#include <QHash>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TfmMain *window()
{
    static int argc = 1;
    static char arg0[] = "fuzz_mtab";
    static char *argv[] = {arg0, nullptr};
    static TfmMain *w = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        SetLibVariant(TLibVariant::Tool);
        FuzzWrite(QStringLiteral("/proc/partitions"), nullptr, 0);
        FuzzWrite(QStringLiteral("/dev/md/0"), nullptr, 0);
        if (!QFile::link(QStringLiteral("md/0"), FuzzRoot() + QStringLiteral("/dev/md0")))
            std::abort();
        static TLibraryScope library;
        static QApplication app(argc, argv);
        // An error the window shows would wait for an answer: none may come.
        SetDialogResponder([](const TDialogRequest &) -> TDialogAnswer { std::abort(); });
        return new TfmMain;
    }();
    return w;
}

QStringList Fields(const QString &Line) { return Line.split(QLatin1Char(' '), Qt::SkipEmptyParts); }
QString Field(const QStringList &F, int I) { return I < F.size() ? F[I] : QString(); }

// The entries the reader must make of the bytes.
QStringList Entries(const QByteArray &Bytes)
{
    QStringList entries;
    qsizetype from = 0;
    while (from < Bytes.size()) {
        qsizetype len = std::min<qsizetype>(4095, Bytes.size() - from);
        const qsizetype nl = Bytes.indexOf('\n', from);
        if (nl >= 0 && nl - from < len)
            len = nl - from + 1;
        QByteArray piece = Bytes.mid(from, len);
        from += len;
        piece.truncate(qsizetype(strnlen(piece.constData(), size_t(piece.size()))));
        while (!piece.isEmpty() && uchar(piece.back()) <= ' ')
            piece.chop(1);
        entries << QString::fromLocal8Bit(piece);
    }
    return entries;
}

// What FindMount must answer, "point|type" or "-", by the first field of
// each entry: the first entry that has it.
struct TExpected {
    QHash<QString, QString> First;
    explicit TExpected(const QStringList &Entries)
    {
        for (const QString &e : Entries) {
            const QStringList f = Fields(e);
            if (!First.contains(Field(f, 0)))
                First.insert(Field(f, 0), Field(f, 1) + QLatin1Char('|') + Field(f, 2));
        }
    }
    QString operator()(const QString &Dev) const { return First.value(Dev, QStringLiteral("-")); }
};

// Where Dev points when it names a link in the scratch root (any spelling
// of md0's path does), relative targets taken from Dev's directory; else a
// name no entry can have.
QString LinkTarget(const QString &Dev)
{
    const QByteArray path = QFile::encodeName(FuzzRoot() + Dev);
    struct stat st {};
    char buf[256];
    ssize_t n = -1;
    if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode) || (n = ::readlink(path.constData(), buf, sizeof buf)) <= 0)
        return QStringLiteral("\n");
    const QString target = QFile::decodeName(QByteArray(buf, n));
    return target.startsWith(QLatin1Char('/')) ? target : Dev.left(Dev.lastIndexOf(QLatin1Char('/')) + 1) + target;
}

void CheckLookups(const TfmMain *W, const QStringList &Entries)
{
    const TExpected Expected(Entries);
    QStringList queries{QStringLiteral("/dev/md0")};
    for (const QString &e : Entries)
        queries << Field(Fields(e), 0) << Field(Fields(e), 0) + QLatin1Char('~');
    for (const QString &q : queries) {
        QString point = QStringLiteral("keep"), type = QStringLiteral("keep");
        const bool hit = W->FindMount(q, point, type);
        QString want = Expected(q);
        if (want == QLatin1String("-"))
            want = Expected(LinkTarget(q));
        FuzzCheck(hit == (want != QLatin1String("-")));
        FuzzCheck(hit ? point + QLatin1Char('|') + type == want : point == QLatin1String("keep") && type == point);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TfmMain *w = window();
    FuzzWrite(QStringLiteral("/etc/mtab"), data, size);
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList entries = Entries(bytes);
    w->ReadMtab();
    FuzzCheck(w->MtabLines == entries);
    CheckLookups(w, entries);
    // The same table reversed, set directly: the lookups follow it.
    QStringList reversed(entries.crbegin(), entries.crend());
    w->MtabLines = reversed;
    CheckLookups(w, reversed);
    return 0;
}
