#pragma once
// How both programs reach the system's commands, and the field cutter they share.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <sys/types.h>

// Cuts the next field off the front of S at separator C, skipping leading
// separators; S loses the field and the one separator behind it.
void CutToken(QString &S, QChar C, QString &Token);
// The same cut on a view: returns the field and moves S past it, copying nothing.
QStringView CutToken(QStringView &S, QChar C);

// Runs the line through /bin/sh as system(3) does and waits for the shell.
// While it waits, the idle hook (if any) is called every few milliseconds so
// a window can keep repainting. Returns the shell's wait status as system(3)
// does (an exit code times 256), -1 when the shell could not be started;
// most callers have no use for it.
int RunShell(const QString &Command);
// A wait status of RunShell in words: "exit status 3", "ended by signal 9",
// "could not be started".
QString ShellStatusText(int Status);
// Appends the command's standard output, one entry per line (pieces of at
// most 1024 characters), trailing characters <= ' ' removed.
void ReadCmdOutput(const QString &Command, QStringList &Lines);

// Starts "/bin/sh -c Line" as popen(3) with mode "r" would, but with the
// default SIGPIPE whatever this program does with it (a pipeline's first
// command must end when its reader goes). ReadFd gets the read end of its
// standard output (close-on-exec); returns the pid, -1 on failure.
pid_t SpawnShellReader(const QByteArray &Line, int &ReadFd);
// A command whose output is wanted later: it starts at construction and runs
// while the caller does other work; Take then reads what ReadCmdOutput would
// have read. Its output is taken once; an output never taken is dropped.
class TCmdOutputAhead {
public:
    explicit TCmdOutputAhead(const QString &Command);
    ~TCmdOutputAhead();
    TCmdOutputAhead(const TCmdOutputAhead &) = delete;
    TCmdOutputAhead &operator=(const TCmdOutputAhead &) = delete;
    // Appends the output to Lines and waits for the command; later calls add nothing.
    void Take(QStringList &Lines);

private:
    int FFd = -1;
    pid_t FPid;   // -1 once taken, or when the command could not start
};

// `hook` is called while RunShell waits; `done` after every RunShell, once
// its command has ended. The console installs a pair that repaints without
// taking user input and hands on, afterwards, input that arrived meanwhile.
void SetShellIdleHook(std::function<void()> hook, std::function<void()> done = {});
// True while a RunShell is waiting for its command (nested waits included).
bool ShellWaitActive();

// Quotes S for a POSIX shell line so that it is always one plain word.
QString ShellQuote(const QString &S);
QByteArray ShellQuote(const QByteArray &S);
// The same for bytes that go into a line the shell is handed as UTF-8 (as
// the commands of both programs are): bytes that are not UTF-8 are made by
// printf inside the word, so the command gets exactly these bytes.
QString ShellQuoteBytes(const QByteArray &Word);
// S as one word of a shell line: unchanged when it is made only of letters,
// digits and "/._+:-" (an ordinary device name or path reads as typed),
// else ShellQuote'd.
QString ShellArg(const QString &S);
// The same for a word of bytes (ShellQuoteBytes when it needs quoting). The
// characters of AlsoPlain count as plain too, for a word whose place in the
// line gives them no meaning (an argument after the command's name).
QString ShellArg(const QByteArray &Word, QByteArrayView AlsoPlain = {});
// Splits a line into words as /bin/sh would, with none of its other
// powers: blanks (spaces, tabs) and line feeds separate words; an unquoted
// "#" that starts a word starts a comment, to the end of its line; single
// quotes group text literally; double quotes group it, a backslash there
// escaping only \\, ", $, ` and a line feed; elsewhere a backslash takes the
// next byte literally; a backslash and a line feed join the text around
// them. ;, |, >, $( ) and backquotes are ordinary text. An unterminated
// quote runs to the end of the line.
QList<QByteArray> SplitShellWords(const QByteArray &Line);

// Cuts a byte stream, arriving in chunks of any size, into the pieces
// fgets(3) with a buffer of 1025 bytes makes: up to and with a line feed, at
// most 1024 bytes, and the unterminated rest at the end (finish).
class TPieceCutter {
public:
    static constexpr qsizetype kPiece = 1024;
    using TSink = std::function<void(QByteArrayView Piece)>;
    explicit TPieceCutter(TSink Sink) : FSink(std::move(Sink)) {}
    void feed(const char *Data, qsizetype Len);
    void finish();

private:
    TSink FSink;
    QByteArray FPiece;   // the start of a piece whose end has not come yet
};
