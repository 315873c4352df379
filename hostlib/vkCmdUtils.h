#pragma once
// How both programs reach the system's commands, and the field cutter they share.
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>

// Cuts the next field off the front of S at separator C, skipping leading
// separators; S loses the field and the one separator behind it.
void CutToken(QString &S, QChar C, QString &Token);
// The same cut on a view: returns the field and moves S past it, copying nothing.
QStringView CutToken(QStringView &S, QChar C);

// Runs the line through /bin/sh as system(3) does and waits for the shell;
// the status is discarded. While it waits, the idle hook (if any) is called
// every few milliseconds so a window can keep repainting.
void RunShell(const QString &Command);
// Appends the command's standard output, one entry per line (pieces of at
// most 1024 characters), trailing characters <= ' ' removed.
void ReadCmdOutput(const QString &Command, QStringList &Lines);

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
    FILE *FPipe;
};

// `hook` is called while RunShell waits; `done` after every RunShell, once
// its command has ended. The console installs a pair that repaints without
// taking user input and hands on, afterwards, input that arrived meanwhile.
void SetShellIdleHook(std::function<void()> hook, std::function<void()> done = {});
// True while a RunShell is waiting for its command (nested waits included).
bool ShellWaitActive();

// Quotes S for a POSIX shell line so that it is always one plain word.
QString ShellQuote(const QString &S);
// Splits a line into words as the shell would, with none of its other
// powers: blanks (spaces, tabs, line ends) separate words; single quotes
// group text literally; double quotes group it, a backslash there keeping
// only \\, \", $ and ` literal; elsewhere a backslash takes the next
// character literally. ;, |, >, $( ) and backquotes are ordinary text.
QStringList SplitShellWords(const QString &Line);
