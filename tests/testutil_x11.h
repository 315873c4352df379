#pragma once
// End-to-end support: a private X server, the real programs run under it,
// and the few X requests a test needs to find and drive their windows.
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs a short program to its end (15 s at most); its standard output, or
// an empty text. The exit code is -1 when it did not end normally.
QByteArray runProgram(const QString &program, const QStringList &args,
                      const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                      int *exitCode = nullptr);

// Stops a child on every way out of a test: politely first, then for good.
void stopProcess(QProcess &p);

// The tools missing from PATH, by name.
QStringList missingTools(const QStringList &tools);

// Whether this process may make a private mount namespace (root, unshare).
bool canUnshareMounts();

// A private Xvfb and the program under test; both are stopped when this
// ends, and killed should the test itself be killed.
struct TE2EChildren {
    QProcess xserver;
    QProcess program;
    TE2EChildren();
    ~TE2EChildren();
    // Starts Xvfb on a free display; its name (":N"), or empty with *Error set.
    QString startXvfb(QString *Error);
};

struct TWindow {
    QString id;
    int x = 0, y = 0, width = 0, height = 0;
};

// The mapped top-level window with this title, from the X server's tree.
bool findWindow(const QProcessEnvironment &env, const QString &title, TWindow &win, QByteArray *tree);
// The viewable top-level windows that the process pid owns (_NET_WM_PID).
QList<TWindow> windowsOf(const QProcessEnvironment &env, qint64 pid);

// Moves the pointer there and clicks the left button.
bool click(const QProcessEnvironment &env, int x, int y);
// Key names as xdotool knows them ("Return", "ctrl+a", "Down"), sent to
// the window that has the focus, or first given the focus when named.
bool pressKeys(const QProcessEnvironment &env, const QStringList &keys, const QString &focusId = {});
// Types text into the window that has the focus.
bool typeText(const QProcessEnvironment &env, const QString &text);
