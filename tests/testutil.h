#pragma once
// Shared test scaffolding: a scratch system root, stand-in commands first on
// PATH, and a recorder that answers the programs' dialogs.
#include "vkDialogs.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>

#include <QListWidget>
#include <QWidget>

// Points every system path (/proc, /etc, /dev, ...) at a fresh scratch
// directory for its lifetime.
class ScratchRoot {
public:
    ScratchRoot();
    ~ScratchRoot();
    QString root() const { return FDir.path(); }
    // The scratch location of a system path ("/etc/velkora/bond.conf").
    QString path(const QString &sysPath) const { return root() + sysPath; }
    // Writes a file under the root, creating its directories.
    void write(const QString &sysPath, const QByteArray &content) const;
    QByteArray read(const QString &sysPath) const;
    bool exists(const QString &sysPath) const;
    void mkdir(const QString &sysPath) const;
    void remove(const QString &sysPath) const;

private:
    QTemporaryDir FDir;
};

// A directory of small stand-in programs put first on PATH for its lifetime.
// Each recorder appends its command line (arguments joined by one blank) to
// <dir>/<name>.calls.
class StandIns {
public:
    StandIns();
    ~StandIns();
    QString dir() const { return FDir.path(); }
    // A recorder that prints `output` and exits with `exitCode`.
    void addRecorder(const QString &name, const QByteArray &output = {}, int exitCode = 0);
    // A stand-in with a shell body of its own (run by /bin/sh).
    void addScript(const QString &name, const QByteArray &body);
    // Writes an executable script at an absolute location (a scratch-root
    // program such as <root>/usr/sbin/fyr) that records to <dir>/<label>.calls.
    void addRecorderAt(const QString &absPath, const QString &label, const QByteArray &extraBody = {});
    QStringList calls(const QString &name) const;

private:
    QTemporaryDir FDir;
    QByteArray FOldPath;
};

// Answers dialogs from a queue (default: mrYes / empty value) and keeps
// every request for inspection.
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder();
    void answer(int result, const QString &value = {}) { FAnswers.push_back({result, value}); }
    const QList<TDialogRequest> &requests() const { return FRequests; }
    QStringList texts() const;
    void clear() { FRequests.clear(); }

private:
    std::deque<TDialogAnswer> FAnswers;
    QList<TDialogRequest> FRequests;
};

// Writes a file at an absolute path, creating its directories.
void writeFile(const QString &path, const QByteArray &text, bool executable = false);

// Runs a shell line and gives its standard output (for comparing with the
// real tools); fails the current test when the command fails.
QByteArray runTool(const QString &command, int *exitCode = nullptr);

// A component of the window by its name, as the runtime's FindComponent.
template <class T = QWidget>
T *part(const QWidget &window, const char *name)
{
    T *c = window.findChild<T *>(QLatin1String(name));
    if (!c)
        qFatal("no component %s", name);
    return c;
}

inline QStringList listTexts(const QListWidget *list)
{
    QStringList t;
    for (int i = 0; i < list->count(); ++i)
        t << list->item(i)->text();
    return t;
}

inline QListWidgetItem *findEntry(const QListWidget *list, const QString &text)
{
    const auto found = list->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}
