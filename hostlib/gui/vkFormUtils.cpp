#include "vkFormUtils.h"

#include "vkDialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <vector>

// ---- anchors ----------------------------------------------------------------

namespace {

const char *const kAnchorsProp = "_vkAnchors";

struct TAnchorRule {
    QPointer<QWidget> Control;
    TAnchors Anchors;
    QRect Origin;        // the control's geometry when the rule was taken
    QSize ParentOrigin;  // its parent's size at that moment
};

// One per parent with anchored children: places them again whenever the
// parent's size changes. Placing always starts from the rule's origin, so the
// order and number of resizes do not matter.
class TAnchorKeeper : public QObject {
public:
    explicit TAnchorKeeper(QWidget *Parent) : QObject(Parent), FParent(Parent)
    {
        setObjectName(QStringLiteral("_vkAnchorKeeper"));
        Parent->installEventFilter(this);
    }

    void setRule(QWidget *Control, TAnchors Anchors)
    {
        FRules.erase(std::remove_if(FRules.begin(), FRules.end(),
                                    [Control](const TAnchorRule &r) { return !r.Control || r.Control == Control; }),
                     FRules.end());
        FRules.push_back({Control, Anchors, Control->geometry(), FParent->size()});
    }

    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Watched == FParent && Event->type() == QEvent::Resize)
            placeAll();
        return false;
    }

private:
    // One direction: position and extent from the origin, the anchors of the
    // two edges and the parent's old and new extent.
    static void place(int &Pos, int &Len, bool Near, bool Far, int ParentOld, int ParentNew)
    {
        const int delta = ParentNew - ParentOld;
        if (Near && Far) {
            Len = std::max(0, Len + delta);
        } else if (Far) {
            Pos += delta;
        } else if (!Near && ParentOld > 0) {
            const qint64 centre = Pos + Len / 2;
            Pos = int(centre * ParentNew / ParentOld) - Len / 2;
        }
    }

    void placeAll()
    {
        const QSize now = FParent->size();
        for (const TAnchorRule &r : FRules) {
            if (!r.Control || r.Control->parentWidget() != FParent)
                continue;
            int x = r.Origin.x(), w = r.Origin.width(), y = r.Origin.y(), h = r.Origin.height();
            place(x, w, r.Anchors & akLeft, r.Anchors & akRight, r.ParentOrigin.width(), now.width());
            place(y, h, r.Anchors & akTop, r.Anchors & akBottom, r.ParentOrigin.height(), now.height());
            r.Control->setGeometry(x, y, w, h);
        }
    }

    QWidget *FParent;
    std::vector<TAnchorRule> FRules;
};

} // namespace

void SetAnchors(QWidget *Control, TAnchors Anchors)
{
    if (!Control)
        return;
    Control->setProperty(kAnchorsProp, uint(Anchors));
    QWidget *parent = Control->parentWidget();
    if (!parent || Control->isWindow())
        return;
    auto *keeper = parent->findChild<TAnchorKeeper *>(QStringLiteral("_vkAnchorKeeper"),
                                                       Qt::FindDirectChildrenOnly);
    if (!keeper) {
        if (Anchors == akDefault)
            return;   // left and top need no keeping
        keeper = new TAnchorKeeper(parent);
    }
    keeper->setRule(Control, Anchors);
}

TAnchors GetAnchors(const QWidget *Control)
{
    const QVariant v = Control ? Control->property(kAnchorsProp) : QVariant();
    return v.isValid() ? TAnchors(v.toUInt()) : akDefault;
}

TAnchors ParseAnchors(const QString &Text)
{
    TAnchors result = 0;
    // Built once, not at every call: a form parses the anchors of each of
    // its widgets while it is set up.
    static const QRegularExpression separators(QStringLiteral("[,|\\s]+"));
    const QStringList words = Text.split(separators, Qt::SkipEmptyParts);
    for (const QString &w : words) {
        if (w.compare(QLatin1String("akLeft"), Qt::CaseInsensitive) == 0)
            result |= akLeft;
        else if (w.compare(QLatin1String("akTop"), Qt::CaseInsensitive) == 0)
            result |= akTop;
        else if (w.compare(QLatin1String("akRight"), Qt::CaseInsensitive) == 0)
            result |= akRight;
        else if (w.compare(QLatin1String("akBottom"), Qt::CaseInsensitive) == 0)
            result |= akBottom;
    }
    return result;
}

void ApplyAnchors(QWidget *Root)
{
    if (!Root)
        return;
    const auto children = Root->findChildren<QWidget *>();
    for (QWidget *w : children) {
        const QVariant v = w->property("anchors");
        if (v.isValid())
            SetAnchors(w, ParseAnchors(v.toString()));
    }
}

// ---- labels -----------------------------------------------------------------

void AutoSizeLabels(QWidget *Root)
{
    if (!Root)
        return;
    // A label sized to its text shows that text, top-aligned, at its fixed
    // edge. The same picture comes from a label that reaches from that edge
    // to its parent's far edge with the text aligned to the fixed edge, and
    // that needs no text measured before the window is shown: labels on
    // pages never opened cost nothing. Such a label lets clicks through, so
    // its larger box never covers a control.
    const auto labels = Root->findChildren<QLabel *>();
    for (QLabel *l : labels) {
        if (!l->property("autoSize").toBool() || !l->parentWidget())
            continue;
        const QRect g = l->geometry();
        const qreal pixels = l->font().pointSizeF() > 0
                                 ? l->font().pointSizeF() * l->logicalDpiY() / 72.0
                                 : qreal(l->font().pixelSize());
        const int height = qMax(g.height(), int(pixels * 1.5) + 4);
        const bool right = l->alignment() & Qt::AlignRight;
        l->setAlignment((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        if (right)
            l->setGeometry(0, g.y(), g.x() + g.width(), height);
        else
            l->setGeometry(g.x(), g.y(), qMax(g.width(), l->parentWidget()->width() - g.x()), height);
    }
}

// ---- list boxes ---------------------------------------------------------------

namespace {
// The selected entry: the current one when it is selected, else the first
// selected one; none when nothing is selected.
QModelIndex SelectedIndex(const QListWidget *List)
{
    const QItemSelectionModel *selection = List ? List->selectionModel() : nullptr;
    if (!selection)
        return {};
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isSelected(current))
        return current;
    const QModelIndexList selected = selection->selectedIndexes();
    return selected.isEmpty() ? QModelIndex() : selected.first();
}
} // namespace

void ConnectListClick(QListWidget *List, const std::function<void()> &Click)
{
    // A single-selection list box cannot be emptied by the user: a ctrl-click
    // on the selected entry keeps it selected. Code clears the selection
    // through the current row, which takes the current item away first.
    // Connected first, so that the click below sees the selection restored.
    QObject::connect(List, &QListWidget::itemSelectionChanged, List, [List] {
        QListWidgetItem *current = List->currentItem();
        if (current && List->selectedItems().isEmpty())
            current->setSelected(true);
    });
    // The click follows the selection, never the keyboard focus alone:
    // tabbing into a list makes its first entry current without selecting
    // it. A change to the index already selected reports nothing; the
    // queued call is delivered from the event loop, and dropped when the
    // list is gone by then. The entry, not its row, is remembered: rows
    // removed above it move its row without changing the selection.
    auto last = std::make_shared<QPersistentModelIndex>(SelectedIndex(List));
    QObject::connect(List, &QListWidget::itemSelectionChanged, List, [List, Click, last] {
        const QModelIndex now = SelectedIndex(List);
        if (now == *last)
            return;
        *last = now;
        QMetaObject::invokeMethod(List, Click, Qt::QueuedConnection);
    });
}

int ListItemIndex(const QListWidget *List)
{
    const QModelIndex index = SelectedIndex(List);
    return index.isValid() ? index.row() : -1;
}

namespace {
// Watches a view's viewport for double clicks.
class TDblClickFilter : public QObject {
public:
    TDblClickFilter(QObject *Parent, std::function<void()> Handler)
        : QObject(Parent), FHandler(std::move(Handler)) {}
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        // Run once the view has taken the click, like its own signals.
        if (Event->type() == QEvent::MouseButtonDblClick)
            QMetaObject::invokeMethod(this, FHandler, Qt::QueuedConnection);
        return false;
    }

private:
    std::function<void()> FHandler;
};
} // namespace

void ConnectDblClick(QAbstractItemView *View, const std::function<void()> &Handler)
{
    View->viewport()->installEventFilter(new TDblClickFilter(View, Handler));
}

// ---- waiting ------------------------------------------------------------------

TCursorGuard::TCursorGuard()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TCursorGuard::~TCursorGuard()
{
    QApplication::restoreOverrideCursor();
}

void ProcessEventsWithoutInput()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void WaitWithoutInput(int Ms)
{
    QEventLoop loop;
    QTimer::singleShot(std::max(0, Ms), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// ---- open dialog component ---------------------------------------------------

bool TOpenDialog::Execute(QWidget *Parent)
{
    const QString chosen = OpenFileDialog(Title, InitialDir, Filter, Parent);
    if (chosen.isEmpty())
        return false;
    FileName = chosen;
    return true;
}
