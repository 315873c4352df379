#include "vkGuard.h"

#include "vkCmdUtils.h"
#include "vkDialogs.h"
#include "vkErrors.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {
// While the idle hook looks for events, input addressed to any object is
// held and posted again, in its order, once the command has ended. The
// platform's own input already stays queued (the hook excludes it); this
// also holds input posted inside the program. A window that turns modal
// during the wait (an error box raised by a timer, say) is being answered,
// so input passes while it is on top.
class TInputHolder : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *Receiver, QEvent *Event) override
    {
        if (FDepth == 0 || !Event->isInputEvent() || newModalOnTop())
            return false;
        FHeld.push_back({QPointer<QObject>(Receiver), std::unique_ptr<QEvent>(Event->clone())});
        return true;
    }

    void idle()
    {
        const QPointer<QWidget> savedModal = FModal;
        const bool savedHadModal = FHadModal;
        FModal = QApplication::activeModalWidget();
        FHadModal = !FModal.isNull();
        ++FDepth;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        --FDepth;
        FModal = savedModal;
        FHadModal = savedHadModal;
    }

    // Whatever is still waited for holds the events again when they come round.
    void release()
    {
        std::vector<THeld> held;
        held.swap(FHeld);
        for (THeld &h : held) {
            if (h.Receiver)
                QCoreApplication::postEvent(h.Receiver, h.Event.release());
        }
        // The display's input that the wait left queued is handed on only
        // when the event loop looks again, and a loop asleep looks only when
        // something new arrives: wake it, or a click would wait for the next
        // mouse movement.
        if (QAbstractEventDispatcher *loop = QAbstractEventDispatcher::instance())
            loop->wakeUp();
    }

private:
    bool newModalOnTop() const
    {
        QWidget *modal = QApplication::activeModalWidget();
        return modal && (!FHadModal || modal != FModal.data());
    }

    struct THeld {
        QPointer<QObject> Receiver;
        std::unique_ptr<QEvent> Event;
    };
    std::vector<THeld> FHeld;
    int FDepth = 0;               // idle calls under way (nested waits)
    QPointer<QWidget> FModal;     // the modal window on top when the wait looked for events
    bool FHadModal = false;
};

QPointer<TInputHolder> g_inputHolder;
} // namespace

void InstallShellIdleHook()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    if (!g_inputHolder) {
        g_inputHolder = new TInputHolder(app);
        app->installEventFilter(g_inputHolder);
    }
    SetShellIdleHook(
        [] {
            if (g_inputHolder)
                g_inputHolder->idle();
        },
        [] {
            if (g_inputHolder)
                g_inputHolder->release();
        });
}

namespace {
// Runs Body; the message of what it raised, or nothing.
std::optional<QString> ErrorOf(const std::function<void()> &Body)
{
    try {
        Body();
    } catch (const Exception &e) {
        return e.Message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
    return std::nullopt;
}
} // namespace

void RunGuarded(QWidget *Parent, const std::function<void()> &Body)
{
    if (const auto error = ErrorOf(Body))
        ShowErrorMessage(*error, Parent);
}

bool RunGuardedOpen(QWidget *Parent, const std::function<void()> &Body, std::function<void()> Answered)
{
    const auto error = ErrorOf(Body);
    if (!error)
        return true;
    OpenErrorMessage(*error, Parent, std::move(Answered));
    return false;
}

TGuardedApplication::TGuardedApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    InstallShellIdleHook();
}

bool TGuardedApplication::notify(QObject *Receiver, QEvent *Event)
{
    bool handled = false;
    RunGuarded(QApplication::activeWindow(), [&] { handled = QApplication::notify(Receiver, Event); });
    return handled;
}
