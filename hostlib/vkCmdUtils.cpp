#include "vkCmdUtils.h"

#include <QStringDecoder>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
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
    // The programs ignore SIGPIPE for their own writes; a command must not
    // inherit that, or "yes | head -1" would never end.
    sigaddset(&defaults, SIGPIPE);
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
// hook can run between looks. The shell's wait status, or -1 when it could
// not be collected.
int WaitShell(pid_t pid)
{
    int status = 0;
    if (!g_idleHook) {
        pid_t r;
        while ((r = waitpid(pid, &status, 0)) == -1 && errno == EINTR) {
        }
        return r == pid ? status : -1;
    }
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r == -1 && errno != EINTR)
            return -1;
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

pid_t SpawnShellReader(const QByteArray &Line, int &ReadFd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    char arg0[] = "sh";
    char arg1[] = "-c";
    char *argv[] = {arg0, arg1, const_cast<char *>(Line.constData()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return -1;
    }
    ReadFd = fds[0];
    return pid;
}

int RunShell(const QString &Command)
{
    const QByteArray line = Command.toLocal8Bit();
    int status = -1;
    ++g_waitDepth;
    {
        TSystemSignals sig;
        const pid_t pid = SpawnShell(line, sig);
        if (pid > 0)
            status = WaitShell(pid);
    }
    --g_waitDepth;
    const std::function<void()> done = g_doneHook;
    if (done)
        done();
    return status;
}

QString ShellStatusText(int Status)
{
    if (Status == -1)
        return QStringLiteral("could not be started");
    if (WIFEXITED(Status))
        return QStringLiteral("exit status %1").arg(WEXITSTATUS(Status));
    if (WIFSIGNALED(Status))
        return QStringLiteral("ended by signal %1").arg(WTERMSIG(Status));
    return QStringLiteral("wait status %1").arg(Status);
}

namespace {
// The lines of a command's output, read to its end from the pipe.
void ReadPipeLines(int fd, QStringList &Lines)
{
    // Pieces as fgets with a 1025-byte buffer cuts them (TPieceCutter), and a
    // NUL ends the piece's text. The pipe is read directly so that a signal
    // that interrupts the read (a handler installed without SA_RESTART)
    // costs a retry, not the rest of the output, as fgets would have it.
    // One decoder for the whole output: a character that a piece cuts in
    // two arrives whole with the next piece.
    QStringDecoder decode(QStringDecoder::System);
    TPieceCutter cutter([&](QByteArrayView piece) {
        qsizetype len = piece.indexOf('\0');
        if (len < 0)
            len = piece.size();
        while (len > 0 && static_cast<unsigned char>(piece.at(len - 1)) <= ' ')
            --len;
        Lines.append(decode(piece.first(len)));
    });
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        cutter.feed(buf, n);
    }
    cutter.finish();
}

// Closes the read end first, so that a command still writing ends (its
// default SIGPIPE) and the wait cannot stall on a full pipe.
void EndShellReader(pid_t Pid, int Fd)
{
    ::close(Fd);
    int status = 0;
    while (::waitpid(Pid, &status, 0) == -1 && errno == EINTR) {
    }
}
} // namespace

void ReadCmdOutput(const QString &Command, QStringList &Lines)
{
    TCmdOutputAhead(Command).Take(Lines);
}

// The read end is closed on exec, so that no command started meanwhile holds
// it open and keeps this one from seeing its end.
TCmdOutputAhead::TCmdOutputAhead(const QString &Command)
    : FPid(SpawnShellReader(Command.toLocal8Bit(), FFd))
{
}

TCmdOutputAhead::~TCmdOutputAhead()
{
    if (FPid >= 0)
        EndShellReader(FPid, FFd);
}

void TCmdOutputAhead::Take(QStringList &Lines)
{
    if (FPid < 0)
        return;
    ReadPipeLines(FFd, Lines);
    EndShellReader(FPid, FFd);
    FPid = -1;
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

namespace {
// Characters that no shell treats specially anywhere in a word.
bool plainInWord(char16_t u)
{
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '/' || u == '.'
           || u == '_' || u == '+' || u == ':' || u == '-';
}
} // namespace

QString ShellArg(const QString &S)
{
    const auto plain = [](QChar c) { return plainInWord(c.unicode()); };
    return !S.isEmpty() && std::all_of(S.begin(), S.end(), plain) ? S : ShellQuote(S);
}

QString ShellArg(const QByteArray &Word, QByteArrayView AlsoPlain)
{
    const auto plain = [AlsoPlain](char c) { return plainInWord(uchar(c)) || AlsoPlain.contains(c); };
    return !Word.isEmpty() && std::all_of(Word.begin(), Word.end(), plain) ? QString::fromLatin1(Word)
                                                                           : ShellQuoteBytes(Word);
}

QByteArray ShellQuote(const QByteArray &S)
{
    QByteArray quoted = S;
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

QString ShellQuoteBytes(const QByteArray &Word)
{
    // A byte-order mark at the start is part of the word, not a mark.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8(Word);
    if (!utf8.hasError())
        return ShellQuote(text);
    // ASCII in plain quotes, every run of other bytes as printf's octal
    // escapes: the line stays ASCII, the word stays one word.
    QString line;
    const qsizetype n = Word.size();
    for (qsizetype i = 0; i < n;) {
        qsizetype j = i;
        if (uchar(Word.at(i)) < 0x80) {
            while (j < n && uchar(Word.at(j)) < 0x80)
                ++j;
            line += ShellQuote(QString::fromLatin1(Word.constData() + i, j - i));
        } else {
            QString octal;
            for (; j < n && uchar(Word.at(j)) >= 0x80; ++j)
                octal += QStringLiteral("\\%1").arg(uint(uchar(Word.at(j))), 3, 8, QLatin1Char('0'));
            line += QStringLiteral("\"$(printf '") + octal + QStringLiteral("')\"");
        }
        i = j;
    }
    return line;
}

QList<QByteArray> SplitShellWords(const QByteArray &Line)
{
    QList<QByteArray> words;
    QByteArray word;
    bool inWord = false;   // a word has begun, if only with a pair of empty quotes
    const qsizetype n = Line.size();
    auto joinsLines = [&](qsizetype i) { return Line.at(i) == '\\' && i + 1 < n && Line.at(i + 1) == '\n'; };
    for (qsizetype i = 0; i < n; ++i) {
        const char c = Line.at(i);
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else if (joinsLines(i)) {
            ++i;
        } else if (c == '#' && !inWord) {
            while (i + 1 < n && Line.at(i + 1) != '\n')
                ++i;
        } else if (c == '\'') {
            inWord = true;
            const qsizetype close = Line.indexOf('\'', i + 1);
            const qsizetype end = close < 0 ? n : close;
            word.append(Line.constData() + i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            inWord = true;
            for (++i; i < n && Line.at(i) != '"'; ++i) {
                if (joinsLines(i)) {
                    ++i;
                    continue;
                }
                const char d = Line.at(i);
                if (d == '\\' && i + 1 < n && std::strchr("\\\"$`", Line.at(i + 1)) && Line.at(i + 1) != '\0')
                    word += Line.at(++i);
                else
                    word += d;
            }
        } else {
            inWord = true;
            if (c == '\\' && i + 1 < n)
                ++i;
            word += Line.at(i);
        }
    }
    if (inWord)
        words << word;
    return words;
}

void TPieceCutter::feed(const char *Data, qsizetype Len)
{
    while (Len > 0) {
        const qsizetype span = std::min(kPiece - FPiece.size(), Len);
        const void *nl = std::memchr(Data, '\n', size_t(span));
        const qsizetype take = nl ? static_cast<const char *>(nl) - Data + 1 : span;
        const bool ends = nl || FPiece.size() + take == kPiece;
        if (ends && FPiece.isEmpty()) {
            FSink(QByteArrayView(Data, take));   // the common case: no copy
        } else {
            FPiece.append(Data, take);
            if (ends) {
                FSink(FPiece);
                FPiece.clear();
            }
        }
        Data += take;
        Len -= take;
    }
}

void TPieceCutter::finish()
{
    if (FPiece.isEmpty())
        return;
    FSink(FPiece);
    FPiece.clear();
}
