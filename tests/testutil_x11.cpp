#include "testutil_x11.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

QString EndToEndUnavailable(const QStringList &Tools)
{
    if (geteuid() != 0)
        return QStringLiteral("needs root: the fixtures are mounted in a private mount namespace");
    QStringList missing;
    for (const QString &tool : Tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    if (!missing.isEmpty())
        return QStringLiteral("missing tools: ") + missing.join(QStringLiteral(", "));
    int probe = -1;
    RunProgram(QStringLiteral("unshare"), {"-m", "--propagation", "private", "true"},
               QProcessEnvironment::systemEnvironment(), &probe);
    if (probe != 0)
        return QStringLiteral("no private mount namespace can be made here");
    return QString();
}

QByteArray RunProgram(const QString &Program, const QStringList &Args, const QProcessEnvironment &Env,
                      int *ExitCode)
{
    QProcess p;
    p.setProcessEnvironment(Env);
    p.start(Program, Args);
    const bool ok = p.waitForFinished(15000);
    if (!ok) {
        p.kill();
        p.waitForFinished(3000);
    }
    if (ExitCode)
        *ExitCode = ok && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

void StopProcess(QProcess &P)
{
    if (P.state() == QProcess::NotRunning)
        return;
    P.terminate();
    if (!P.waitForFinished(5000)) {
        P.kill();
        P.waitForFinished(5000);
    }
}

void DieWithParent(QProcess &P)
{
    P.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

TXSession::TXSession() { DieWithParent(FServer); }

TXSession::~TXSession() { StopProcess(FServer); }

bool TXSession::start(QString &Error)
{
    FServer.setProgram(QStringLiteral("Xvfb"));
    FServer.setArguments({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    FServer.start();
    if (!FServer.waitForStarted(10000)) {
        Error = QStringLiteral("Xvfb does not start");
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    QByteArray displayNo;
    while (!displayNo.contains('\n') && clock.elapsed() < 20000 && FServer.state() == QProcess::Running) {
        FServer.waitForReadyRead(500);
        displayNo += FServer.readAllStandardOutput();
    }
    if (!displayNo.contains('\n')) {
        Error = QStringLiteral("Xvfb gave no display: ") + QString::fromLocal8Bit(FServer.readAllStandardError());
        return false;
    }
    FDisplay = QLatin1Char(':') + QString::fromLatin1(displayNo.trimmed());
    return true;
}

QProcessEnvironment TXSession::env() const
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("DISPLAY"), FDisplay);
    return e;
}

namespace {
bool WindowGeometry(const QProcessEnvironment &Env, const QString &Id, TXSession::TWindow &Win)
{
    const QByteArray geometry = RunProgram(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", Id}, Env);
    const QRegularExpression re(QStringLiteral("X=(-?\\d+)\\nY=(-?\\d+)\\nWIDTH=(\\d+)\\nHEIGHT=(\\d+)"));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(geometry));
    if (!m.hasMatch())
        return false;
    Win.Id = Id;
    Win.X = m.captured(1).toInt();
    Win.Y = m.captured(2).toInt();
    Win.Width = m.captured(3).toInt();
    Win.Height = m.captured(4).toInt();
    return true;
}
} // namespace

bool TXSession::findWindow(const QString &Title, TWindow &Win) const
{
    const QString pattern = QLatin1Char('^') + QRegularExpression::escape(Title) + QLatin1Char('$');
    const QByteArray ids = RunProgram(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", pattern}, env());
    const QList<QByteArray> found = ids.trimmed().split('\n');
    if (found.isEmpty() || found.first().isEmpty())
        return false;
    return WindowGeometry(env(), QString::fromLatin1(found.last()), Win);
}

QList<TXSession::TWindow> TXSession::windowsOf(qint64 Pid) const
{
    QList<TWindow> windows;
    const QByteArray ids = RunProgram(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--pid", QString::number(Pid)},
                                      env());
    for (const QByteArray &id : ids.trimmed().split('\n')) {
        TWindow win;
        if (!id.isEmpty() && WindowGeometry(env(), QString::fromLatin1(id), win))
            windows << win;
    }
    return windows;
}

bool TXSession::waitWindow(const QString &Title, TWindow &Win, int Ms) const
{
    QElapsedTimer clock;
    clock.start();
    while (!findWindow(Title, Win)) {
        if (clock.elapsed() > Ms)
            return false;
        QThread::msleep(200);
    }
    return true;
}

bool TXSession::click(int X, int Y) const
{
    // "mousemove --sync" waits for the pointer to leave where it is, which
    // it never does when it is there already: then it only clicks.
    const QByteArray at = RunProgram(QStringLiteral("xdotool"), {"getmouselocation"}, env());
    const bool there = at.startsWith("x:" + QByteArray::number(X) + " y:" + QByteArray::number(Y) + ' ');
    QStringList args{"mousemove", "--sync", QString::number(X), QString::number(Y)};
    if (there)
        args.clear();
    args << QStringLiteral("click") << QStringLiteral("1");
    int rc = -1;
    RunProgram(QStringLiteral("xdotool"), args, env(), &rc);
    return rc == 0;
}

bool TXSession::keys(const QStringList &Names, const QString &FocusId) const
{
    int rc = -1;
    QStringList args;
    if (!FocusId.isEmpty())
        args << QStringLiteral("windowfocus") << QStringLiteral("--sync") << FocusId;
    RunProgram(QStringLiteral("xdotool"), args + QStringList{"key", "--delay", "100"} + Names, env(), &rc);
    return rc == 0;
}

bool TXSession::type(const QString &Text) const
{
    int rc = -1;
    RunProgram(QStringLiteral("xdotool"), {"type", "--delay", "20", Text}, env(), &rc);
    return rc == 0;
}

void TXSession::startInNamespace(QProcess &Proc, const QString &Script, const QString &Home,
                                 const QStringList &Flags) const
{
    DieWithParent(Proc);
    QProcessEnvironment e = env();
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    e.insert(QStringLiteral("PATH"), Home + QStringLiteral("/bin:/usr/sbin:/usr/bin:/sbin:/bin"));
    e.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    e.insert(QStringLiteral("XDG_RUNTIME_DIR"), Home + QStringLiteral("/xdg"));
    Proc.setProcessEnvironment(e);
    Proc.setProcessChannelMode(QProcess::MergedChannels);
    Proc.start(QStringLiteral("unshare"), Flags + QStringList{"--propagation", "private", "/bin/sh", Script});
}

TNamespaceRun::~TNamespaceRun() { StopProcess(Proc); }

bool TNamespaceRun::start(const QString &Script, const QString &Home, const QStringList &Flags)
{
    if (!X.start(Error))
        return false;
    X.startInNamespace(Proc, Script, Home, Flags);
    if (Proc.waitForStarted(10000))
        return true;
    Error = QStringLiteral("unshare does not start");
    return false;
}

void TNamespaceRun::Poll()
{
    if (Proc.state() == QProcess::Running)
        Proc.waitForReadyRead(0);
}

QString TNamespaceRun::said()
{
    Poll();
    return FOutput += QString::fromLocal8Bit(Proc.readAll());
}

bool TNamespaceRun::waitWindowOrEnd(const QString &Title, TXSession::TWindow &Win, int Ms)
{
    return waitFor([&] { Poll(); return X.findWindow(Title, Win) || Proc.state() != QProcess::Running; }, Ms);
}

bool TNamespaceRun::fixturesFailed()
{
    Poll();
    return Proc.state() != QProcess::Running && Proc.exitCode() == 97;
}

QByteArray OverlayScriptHead(const QString &WorkDir)
{
    return "#!/bin/sh\nW='" + QFile::encodeName(WorkDir) + "'\n"
           "mount -t tmpfs tmpfs \"$W/ns\" || exit 97\n"
           "layer() {\n"
           "  mkdir -p \"$W/ns/$1.up\" \"$W/ns/$1.work\" || exit 97\n"
           "  cp -a \"$W/fixture/$1/.\" \"$W/ns/$1.up/\" || exit 97\n"
           "  mount -t overlay overlay -o \"lowerdir=$2,upperdir=$W/ns/$1.up,workdir=$W/ns/$1.work\" \"$2\" || exit 97\n"
           "}\n";
}
