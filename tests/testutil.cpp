#include "testutil.h"

#include "vkPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

ScratchRoot::ScratchRoot()
{
    SetSystemRootForTesting(FDir.path());
}

ScratchRoot::~ScratchRoot()
{
    SetSystemRootForTesting(QString());
}

void ScratchRoot::write(const QString &sysPath, const QByteArray &content) const
{
    const QString p = path(sysPath);
    QDir().mkpath(QFileInfo(p).path());
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(p));
    f.write(content);
}

QByteArray ScratchRoot::read(const QString &sysPath) const
{
    QFile f(path(sysPath));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool ScratchRoot::exists(const QString &sysPath) const { return QFileInfo::exists(path(sysPath)); }

void ScratchRoot::mkdir(const QString &sysPath) const { QDir().mkpath(path(sysPath)); }

void ScratchRoot::remove(const QString &sysPath) const
{
    const QString p = path(sysPath);
    if (QFileInfo(p).isDir())
        QDir(p).removeRecursively();
    else
        QFile::remove(p);
}

StandIns::StandIns()
{
    FOldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(FDir.path()) + ':' + FOldPath);
}

StandIns::~StandIns()
{
    qputenv("PATH", FOldPath);
}

void writeFile(const QString &path, const QByteArray &text, bool executable)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(text);
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                         | QFileDevice::ExeOther);
}

static void writeExecutable(const QString &path, const QByteArray &text)
{
    writeFile(path, text, true);
}

// The recorder's first lines: its arguments to <label>.calls, and the line
// of the shell that started it (the argument after "-c" in the parent's
// command line, whose arguments end in NUL) to <label>.lines; a line feed
// inside that line is kept as \001, so that each call stays one line.
static QByteArray recordingLines(const QString &dir, const QString &label)
{
    const QByteArray base = QFile::encodeName(dir + QLatin1Char('/') + label);
    // printf, not echo: the shell's echo would take a backslash in an argument as an escape.
    QByteArray body = "printf '%s\\n' \"$*\" >> '" + base + ".calls'\n";
    body += "tr '\\000\\n' '\\n\\001' < /proc/$PPID/cmdline 2>/dev/null"
            " | sed -n '/^-c$/{n;p;q;}' >> '" + base + ".lines'\n";
    return body;
}

void StandIns::addRecorder(const QString &name, const QByteArray &output, int exitCode)
{
    const QString out = FDir.path() + QLatin1Char('/') + name + QStringLiteral(".out");
    QFile f(out);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(output);
    f.close();
    QByteArray body = "#!/bin/sh\n" + recordingLines(FDir.path(), name);
    body += "cat '" + QFile::encodeName(out) + "'\n";
    body += "exit " + QByteArray::number(exitCode) + "\n";
    writeExecutable(FDir.path() + QLatin1Char('/') + name, body);
}

void StandIns::addScript(const QString &name, const QByteArray &body)
{
    writeExecutable(FDir.path() + QLatin1Char('/') + name, "#!/bin/sh\n" + body);
}

void StandIns::addRecorderAt(const QString &absPath, const QString &label, const QByteArray &extraBody)
{
    QByteArray body = "#!/bin/sh\n" + recordingLines(FDir.path(), label);
    body += extraBody;
    writeExecutable(absPath, body);
}

static QStringList recordedLines(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList StandIns::calls(const QString &name) const
{
    return recordedLines(FDir.path() + QLatin1Char('/') + name + QStringLiteral(".calls"));
}

QStringList StandIns::shellLines(const QString &name) const
{
    return recordedLines(FDir.path() + QLatin1Char('/') + name + QStringLiteral(".lines"));
}

DialogRecorder::DialogRecorder()
{
    SetDialogResponder([this](const TDialogRequest &r) {
        FRequests.append(r);
        if (FAnswers.empty())
            return TDialogAnswer{r.kind == TDialogRequest::Message ? int(mrYes) : int(mrCancel), {}};
        TDialogAnswer a = FAnswers.front();
        FAnswers.pop_front();
        return a;
    });
}

DialogRecorder::~DialogRecorder()
{
    SetDialogResponder(nullptr);
}

QStringList DialogRecorder::texts() const
{
    QStringList t;
    for (const auto &r : FRequests)
        t << r.Text;
    return t;
}

QByteArray runTool(const QString &command, int *exitCode)
{
    QProcess p;
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    p.waitForFinished(120000);
    if (exitCode)
        *exitCode = p.exitCode();
    return p.readAllStandardOutput();
}
