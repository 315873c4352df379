#pragma once
// The application's default error dialog: every handler runs behind
// RunGuarded, so an exception it raises is shown as a modal error box with
// its message and never crosses the event loop.
#include <QApplication>
#include <functional>

class QWidget;

void RunGuarded(QWidget *Parent, const std::function<void()> &Body);

// A slot adaptor: connect(btn, &QPushButton::clicked, Guard(this, &Form::btnClick)).
// Whatever the signal carries is dropped; the handler takes no arguments.
template <class W, class R>
auto Guard(W *Window, R (W::*Handler)())
{
    return [Window, Handler](auto &&...) { RunGuarded(Window, [&] { (Window->*Handler)(); }); };
}

// For work that runs on its own, a timer tick say: an exception the body
// raises opens the same error box without waiting for it (no nested event
// loop, so the tick's caller, a command wait for one, goes on), and Answered
// runs once the box has been closed. True when the body raised nothing.
bool RunGuardedOpen(QWidget *Parent, const std::function<void()> &Body, std::function<void()> Answered);

// While a shell command is waited for (RunShell), the application keeps
// repainting and running its timers but takes no user input: input that
// arrives meanwhile is held and handed on once the command has ended.
// TGuardedApplication installs this; calling it again is harmless.
void InstallShellIdleHook();

// The application object of both programs: an exception that still escapes
// a handler (one not wired through Guard) is shown the same way.
class TGuardedApplication : public QApplication {
public:
    TGuardedApplication(int &argc, char **argv);
    bool notify(QObject *Receiver, QEvent *Event) override;
};
