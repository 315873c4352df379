#include "vkCmdUtils.h"

#include <QStringDecoder>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
std::function<void()> g_idleHook;
std::function<void()> g_doneHook;
int g_waitDepth = 0;

// How often the idle hook runs while a command is waited for: often enough
// for a window to repaint smoothly, rarely enough to cost nothing.
constexpr long kIdleIntervalNs = 15 * 1000 * 1000;

void SleepNs(long ns)
{
    timespec ts{0, ns};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

// What system(3) does around the wait: the caller ignores the terminal's
// interrupt and quit keys, and SIGCHLD is held so that no handler reaps the
// shell first. The child gets the caller's original dispositions and mask.
class TSystemSignals {
public:
    TSystemSignals()
    {
        struct sigaction ign {};
        ign.sa_handler = SIG_IGN;
        sigemptyset(&ign.sa_mask);
        sigaction(SIGINT, &ign, &FOldInt);
        sigaction(SIGQUIT, &ign, &FOldQuit);
        sigset_t chld;
        sigemptyset(&chld);
        sigaddset(&chld, SIGCHLD);
        pthread_sigmask(SIG_BLOCK, &chld, &FOldMask);
    }
    ~TSystemSignals()
    {
        sigaction(SIGINT, &FOldInt, nullptr);
        sigaction(SIGQUIT, &FOldQuit, nullptr);
        pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
    }
    TSystemSignals(const TSystemSignals &) = delete;
    TSystemSignals &operator=(const TSystemSignals &) = delete;

    const sigset_t &oldMask() const { return FOldMask; }
    bool intWasIgnored() const { return FOldInt.sa_handler == SIG_IGN; }
    bool quitWasIgnored() const { return FOldQuit.sa_handler == SIG_IGN; }

private:
    struct sigaction FOldInt {};
    struct sigaction FOldQuit {};
    sigset_t FOldMask;
};

pid_t SpawnShell(const QByteArray &line, const TSystemSignals &sig)
{
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0)
        return -1;
    sigset_t defaults;
    sigemptyset(&defaults);
    if (!sig.intWasIgnored())
        sigaddset(&defaults, SIGINT);
    if (!sig.quitWasIgnored())
        sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &sig.oldMask());
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    char arg0[] = "sh";
    char arg1[] = "-c";
    char *argv[] = {arg0, arg1, const_cast<char *>(line.constData()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

// Waits for the shell; with an idle hook the wait is a poll so that the
// hook can run between looks.
void WaitShell(pid_t pid)
{
    int status = 0;
    if (!g_idleHook) {
        while (waitpid(pid, &status, 0) == -1 && errno == EINTR) {
        }
        return;
    }
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r == -1 && errno != EINTR))
            return;
        // Copied: the hook may replace itself while it runs.
        const std::function<void()> hook = g_idleHook;
        if (hook)
            hook();
        SleepNs(kIdleIntervalNs);
    }
}
} // namespace

QStringView CutToken(QStringView &S, QChar C)
{
    qsizetype start = 0;
    while (start < S.size() && S.at(start) == C)
        ++start;
    if (start == S.size())
        start = 0;   // empty, or nothing but separators: the field starts at the front
    qsizetype stop = S.indexOf(C, start);
    if (stop < 0)
        stop = S.size();
    const QStringView field = S.mid(start, stop - start);
    S = S.mid(qMin(stop + 1, S.size()));   // leading separators, the field and the one separator behind it
    return field;
}

void CutToken(QString &S, QChar C, QString &Token)
{
    QStringView rest(S);
    const QString field = CutToken(rest, C).toString();
    S.remove(0, S.size() - rest.size());
    Token = field;
}

void RunShell(const QString &Command)
{
    const QByteArray line = Command.toLocal8Bit();
    ++g_waitDepth;
    {
        TSystemSignals sig;
        const pid_t pid = SpawnShell(line, sig);
        if (pid > 0)
            WaitShell(pid);
    }
    --g_waitDepth;
    const std::function<void()> done = g_doneHook;
    if (done)
        done();
}

namespace {
// The lines of a command's output, read to its end from the pipe.
void ReadPipeLines(FILE *Pipe, QStringList &Lines)
{
    // Pieces as fgets with a 1025-byte buffer cuts them: up to and including
    // a line end, at most 1024 bytes, and a NUL ends the piece's text. The
    // pipe is read directly so that a signal that interrupts the read (a
    // handler installed without SA_RESTART) costs a retry, not the rest of
    // the output, as fgets would have it.
    constexpr qsizetype kPiece = 1024;
    // One decoder for the whole output: a character that a piece cuts in
    // two arrives whole with the next piece.
    QStringDecoder decode(QStringDecoder::System);
    QByteArray piece;
    piece.reserve(kPiece);
    auto takePiece = [&] {
        qsizetype len = piece.indexOf('\0');
        if (len < 0)
            len = piece.size();
        while (len > 0 && static_cast<unsigned char>(piece.at(len - 1)) <= ' ')
            --len;
        Lines.append(decode(QByteArrayView(piece.constData(), len)));
        piece.clear();
    };
    const int fd = fileno(Pipe);
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (const char *p = buf, *end = buf + n; p < end;) {
            const qsizetype room = kPiece - piece.size();
            const qsizetype avail = qMin<qsizetype>(room, end - p);
            const void *nl = std::memchr(p, '\n', size_t(avail));
            const qsizetype take = nl ? static_cast<const char *>(nl) - p + 1 : avail;
            piece.append(p, take);
            p += take;
            if (nl || piece.size() == kPiece)
                takePiece();
        }
    }
    if (!piece.isEmpty())
        takePiece();
}
} // namespace

void ReadCmdOutput(const QString &Command, QStringList &Lines)
{
    FILE *pipe = popen(Command.toLocal8Bit().constData(), "r");
    if (!pipe)
        return;
    ReadPipeLines(pipe, Lines);
    pclose(pipe);
}

// The pipe's end is closed on exec, so that no command started meanwhile
// holds it open and keeps this one from seeing its end.
TCmdOutputAhead::TCmdOutputAhead(const QString &Command)
    : FPipe(popen(Command.toLocal8Bit().constData(), "re"))
{
}

TCmdOutputAhead::~TCmdOutputAhead()
{
    // Closing the pipe first ends a command that still writes, so the wait
    // for it cannot stall on a full pipe.
    if (FPipe)
        pclose(FPipe);
}

void TCmdOutputAhead::Take(QStringList &Lines)
{
    if (!FPipe)
        return;
    ReadPipeLines(FPipe, Lines);
    pclose(FPipe);
    FPipe = nullptr;
}

void SetShellIdleHook(std::function<void()> hook, std::function<void()> done)
{
    g_idleHook = std::move(hook);
    g_doneHook = std::move(done);
}

bool ShellWaitActive() { return g_waitDepth > 0; }

QString ShellQuote(const QString &S)
{
    QString quoted = S;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QStringList SplitShellWords(const QString &Line)
{
    QStringList words;
    QString word;
    bool inWord = false;
    const qsizetype n = Line.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = Line.at(i);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
            || c == QLatin1Char('\r')) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('\'')) {
            const qsizetype close = Line.indexOf(QLatin1Char('\''), i + 1);
            const qsizetype end = close < 0 ? n : close;
            word += QStringView(Line).mid(i + 1, end - i - 1);
            i = end;
        } else if (c == QLatin1Char('"')) {
            for (++i; i < n && Line.at(i) != QLatin1Char('"'); ++i) {
                const QChar d = Line.at(i);
                if (d == QLatin1Char('\\') && i + 1 < n
                    && QStringView(u"\\\"$`").contains(Line.at(i + 1)))
                    word += Line.at(++i);
                else
                    word += d;
            }
        } else if (c == QLatin1Char('\\') && i + 1 < n) {
            word += Line.at(++i);
        } else {
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}
