#include "vkGuard.h"

#include "vkDialogs.h"
#include "vkErrors.h"

#include <QApplication>
#include <QWidget>

void RunGuarded(QWidget *Parent, const std::function<void()> &Body)
{
    try {
        Body();
    } catch (const Exception &e) {
        ShowErrorMessage(e.Message(), Parent);
    } catch (const std::exception &e) {
        ShowErrorMessage(QString::fromLocal8Bit(e.what()), Parent);
    } catch (...) {
        ShowErrorMessage(QStringLiteral("Unknown error"), Parent);
    }
}

TGuardedApplication::TGuardedApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TGuardedApplication::notify(QObject *Receiver, QEvent *Event)
{
    bool handled = false;
    RunGuarded(QApplication::activeWindow(), [&] { handled = QApplication::notify(Receiver, Event); });
    return handled;
}
