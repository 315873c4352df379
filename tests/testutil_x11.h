#pragma once
// Running the real programs as a user meets them: on an X server of the
// test's own, driven with xdotool, in a private mount namespace where
// system directories are fixtures. Root only.
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>

// Why end-to-end tests cannot run here (not root, a missing tool, no private
// mount namespace); empty when they can.
QString EndToEndUnavailable(const QStringList &Tools);

// Runs a short program to its end; its standard output, or an empty text.
// exitCode is -1 when it did not end normally.
QByteArray RunProgram(const QString &Program, const QStringList &Args,
                      const QProcessEnvironment &Env = QProcessEnvironment::systemEnvironment(),
                      int *ExitCode = nullptr);
// Stops a child politely first, then for good.
void StopProcess(QProcess &P);
// The child dies with the test, should the test itself be killed.
void DieWithParent(QProcess &P);

// Polls until Ready, or false once Ms have passed: what a real program
// does on its own display is only seen, never waited on.
template <class F>
bool waitFor(F Ready, int Ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!Ready()) {
        if (clock.elapsed() > Ms)
            return false;
        QThread::msleep(100);
    }
    return true;
}

// An Xvfb of its own for the session's lifetime.
class TXSession {
public:
    TXSession();
    ~TXSession();
    // False with a reason when the server does not come up.
    bool start(QString &Error);
    // The system environment with DISPLAY set to this server.
    QProcessEnvironment env() const;

    struct TWindow {
        QString Id;
        int X = 0, Y = 0, Width = 0, Height = 0;
    };
    // The mapped top-level window whose title is exactly Title.
    bool findWindow(const QString &Title, TWindow &Win) const;
    // Waits up to Ms for it; false when it did not appear.
    bool waitWindow(const QString &Title, TWindow &Win, int Ms) const;
    // The viewable top-level windows of the process Pid.
    QList<TWindow> windowsOf(qint64 Pid) const;
    bool click(int X, int Y) const;
    // xdotool key names, pressed in order ("Down", "Return"); to the window
    // FocusId, given the focus first, when named.
    bool keys(const QStringList &Names, const QString &FocusId = QString()) const;
    bool type(const QString &Text) const;
    // Starts "/bin/sh Script" under unshare with Flags and a private mount
    // propagation, on this display, its output merged: the stand-ins of
    // Home/bin first on the path, Home/xdg as the runtime directory. The
    // child dies with the test.
    void startInNamespace(QProcess &Proc, const QString &Script, const QString &Home,
                          const QStringList &Flags = {QStringLiteral("-m")}) const;

private:
    QProcess FServer;
    QString FDisplay;
};

// A program under test on an X server of its own: Script run by the shell
// in private namespaces (see TXSession::startInNamespace). The program is
// stopped before its server when this ends.
class TNamespaceRun {
public:
    ~TNamespaceRun();
    // False with a reason in Error when the server or unshare does not start.
    bool start(const QString &Script, const QString &Home, const QStringList &Flags = {QStringLiteral("-m")});
    // All the program has written so far, its output and errors merged.
    QString said();
    // Waits up to Ms for the window Title or for the program's end; false
    // when neither came.
    bool waitWindowOrEnd(const QString &Title, TXSession::TWindow &Win, int Ms);
    // The program ended because the fixtures could not be put in place
    // (the setup script's exit code 97).
    bool fixturesFailed();

    TXSession X;
    QProcess Proc;
    QString Error;

private:
    // The tests wait without an event loop: the process's pipes and its end
    // are taken in only when asked for.
    void Poll();
    QString FOutput;
};

// Skips the test when the program App ended because the fixtures could not
// be put in place here.
#define SKIP_IF_NO_FIXTURES(App)                                                          \
    do {                                                                                  \
        if ((App).fixturesFailed())                                                       \
            QSKIP(qPrintable("the fixture mounts cannot be made here: " + (App).said())); \
    } while (false)

// Writes an overlay helper into a shell script: `layer NAME DIR` puts the
// fixture directory $W/fixture/NAME over DIR inside the namespace (upper
// layers on a tmpfs at $W/ns, so any file system serves). Exit code 97 when
// a mount fails.
QByteArray OverlayScriptHead(const QString &WorkDir);
