#pragma once
// Window helpers that both programs share: edge anchors for children placed
// at fixed positions, the list-selection click of the runtime's list boxes,
// the hourglass cursor, waiting without taking input, and the open dialog
// component.
#include <QString>
#include <functional>

class QAbstractItemView;
class QListWidget;
class QWidget;

// ---- anchors ----------------------------------------------------------------
// A child anchored to an edge keeps its distance to that edge of its parent
// when the parent is resized; anchored to both opposite edges it stretches.
// With neither edge of a direction its centre keeps its relative place.
enum TAnchorKind : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = unsigned;
constexpr TAnchors akDefault = akLeft | akTop;
constexpr TAnchors akAll = akLeft | akTop | akRight | akBottom;

// Takes the control's present geometry and its parent's present size as the
// reference for later resizes of the parent.
void SetAnchors(QWidget *Control, TAnchors Anchors);
TAnchors GetAnchors(const QWidget *Control);
// "akLeft,akTop,akRight" (the form of the "anchors" property of a window
// definition); unknown words are ignored.
TAnchors ParseAnchors(const QString &Text);
// SetAnchors for every descendant of Root whose "anchors" property is set.
// Call it once the definition is built, before the window is first resized.
void ApplyAnchors(QWidget *Root);

// ---- labels -----------------------------------------------------------------
// Every descendant label with the property "autoSize" set to true shows its
// text as one sized to it would: a right-aligned one ends at its right edge,
// the others start at their left edge, both at their top. Call it after the
// texts and fonts are set (after translation).
void AutoSizeLabels(QWidget *Root);

// ---- list boxes ---------------------------------------------------------------
// The runtime's list box reports every change of its selected index as a
// click, also a change made in code, once the event loop runs again; setting
// the index that is already selected reports nothing, and so does an entry
// that only takes the keyboard focus. Click runs queued, once per change,
// while the list exists.
void ConnectListClick(QListWidget *List, const std::function<void()> &Click);
// The selected index: the selected row (the current one when several are
// selected), -1 when none is selected, also when an entry has the focus.
int ListItemIndex(const QListWidget *List);
// The runtime's double-click event of a list or tree: Handler runs for a
// double click anywhere in the view, on an entry or not.
void ConnectDblClick(QAbstractItemView *View, const std::function<void()> &Handler);

// ---- waiting ------------------------------------------------------------------
// Shows the hourglass for its lifetime and restores the previous cursor on
// every way out.
class TCursorGuard {
public:
    TCursorGuard();
    ~TCursorGuard();
    TCursorGuard(const TCursorGuard &) = delete;
    TCursorGuard &operator=(const TCursorGuard &) = delete;
};

// Handles pending events other than user input: windows repaint, timers run,
// clicks and keys wait until the caller returns to the event loop.
void ProcessEventsWithoutInput();
// Passes Ms milliseconds the same way.
void WaitWithoutInput(int Ms);

// ---- open dialog component ---------------------------------------------------
// A file-open dialog kept as a window component: its settings live with the
// window, Execute runs it through the dialog seam.
class TOpenDialog {
public:
    QString Title;
    QString InitialDir;
    QString Filter;     // "Desc(*.x)|All(*.*)"
    QString FileName;   // the chosen file after a successful Execute
    // True when the user accepted a file.
    bool Execute(QWidget *Parent = nullptr);
};
