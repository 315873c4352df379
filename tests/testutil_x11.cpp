#include "testutil_x11.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStandardPaths>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

QByteArray runProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                      int *exitCode)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool ok = p.waitForFinished(15000);
    if (!ok) {
        p.kill();
        p.waitForFinished(3000);
    }
    if (exitCode)
        *exitCode = ok && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

void stopProcess(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

QStringList missingTools(const QStringList &tools)
{
    QStringList missing;
    for (const QString &tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty()
            && QStandardPaths::findExecutable(tool, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                   .isEmpty())
            missing << tool;
    return missing;
}

bool canUnshareMounts()
{
    if (geteuid() != 0)
        return false;
    int probe = -1;
    runProgram(QStringLiteral("unshare"), {"-m", "--propagation", "private", "true"},
               QProcessEnvironment::systemEnvironment(), &probe);
    return probe == 0;
}

TE2EChildren::TE2EChildren()
{
    for (QProcess *p : {&xserver, &program})
        p->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

TE2EChildren::~TE2EChildren()
{
    stopProcess(program);
    stopProcess(xserver);
}

QString TE2EChildren::startXvfb(QString *Error)
{
    xserver.setProgram(QStringLiteral("Xvfb"));
    xserver.setArguments({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    xserver.setProcessChannelMode(QProcess::SeparateChannels);
    xserver.start();
    if (!xserver.waitForStarted(10000)) {
        *Error = QStringLiteral("Xvfb does not start");
        return {};
    }
    QElapsedTimer clock;
    clock.start();
    QByteArray displayNo;
    while (!displayNo.contains('\n') && clock.elapsed() < 20000 && xserver.state() == QProcess::Running) {
        xserver.waitForReadyRead(500);
        displayNo += xserver.readAllStandardOutput();
    }
    if (!displayNo.contains('\n')) {
        *Error = QStringLiteral("Xvfb gave no display: ") + QString::fromLocal8Bit(xserver.readAllStandardError());
        return {};
    }
    return QLatin1Char(':') + QString::fromLatin1(displayNo.trimmed());
}

namespace {
bool windowGeometry(const QProcessEnvironment &env, const QString &id, TWindow &win)
{
    const QByteArray info = runProgram(QStringLiteral("xwininfo"), {"-id", id}, env);
    if (!info.contains("IsViewable"))
        return false;
    const QString text = QString::fromUtf8(info);
    auto field = [&](const char *name) {
        const QRegularExpression re(QLatin1String(name) + QStringLiteral(":\\s*(-?\\d+)"));
        return re.match(text).captured(1).toInt();
    };
    win.id = id;
    win.x = field("Absolute upper-left X");
    win.y = field("Absolute upper-left Y");
    win.width = field("Width");
    win.height = field("Height");
    return true;
}
} // namespace

bool findWindow(const QProcessEnvironment &env, const QString &title, TWindow &win, QByteArray *tree)
{
    const QByteArray out = runProgram(QStringLiteral("xwininfo"), {"-root", "-tree"}, env);
    if (tree)
        *tree = out;
    const QRegularExpression re(QStringLiteral("(0x[0-9a-f]+) \"%1\":").arg(QRegularExpression::escape(title)));
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(out));
    return m.hasMatch() && windowGeometry(env, m.captured(1), win);
}

QList<TWindow> windowsOf(const QProcessEnvironment &env, qint64 pid)
{
    QList<TWindow> found;
    const QByteArray ids = runProgram(QStringLiteral("xdotool"),
                                      {"search", "--onlyvisible", "--pid", QString::number(pid)}, env);
    for (const QByteArray &id : ids.split('\n')) {
        TWindow win;
        if (!id.trimmed().isEmpty()
            && windowGeometry(env, QStringLiteral("0x%1").arg(id.trimmed().toULong(), 0, 16), win))
            found << win;
    }
    return found;
}

bool click(const QProcessEnvironment &env, int x, int y)
{
    int rc = -1;
    runProgram(QStringLiteral("xdotool"), {"mousemove", "--sync", QString::number(x), QString::number(y), "click", "1"},
               env, &rc);
    return rc == 0;
}

bool pressKeys(const QProcessEnvironment &env, const QStringList &keys, const QString &focusId)
{
    int rc = -1;
    QStringList args;
    if (!focusId.isEmpty())
        args << QStringLiteral("windowfocus") << QStringLiteral("--sync") << focusId;
    runProgram(QStringLiteral("xdotool"), args + QStringList{"key", "--delay", "80"} + keys, env, &rc);
    return rc == 0;
}

bool typeText(const QProcessEnvironment &env, const QString &text)
{
    int rc = -1;
    runProgram(QStringLiteral("xdotool"), {"type", "--delay", "20", text}, env, &rc);
    return rc == 0;
}
