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

void StandIns::addRecorder(const QString &name, const QByteArray &output, int exitCode)
{
    const QString out = FDir.path() + QLatin1Char('/') + name + QStringLiteral(".out");
    QFile f(out);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(output);
    f.close();
    QByteArray body = "#!/bin/sh\n";
    body += "echo \"$*\" >> '" + QFile::encodeName(FDir.path() + QLatin1Char('/') + name) + ".calls'\n";
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
    QByteArray body = "#!/bin/sh\n";
    body += "echo \"$*\" >> '" + QFile::encodeName(FDir.path() + QLatin1Char('/') + label) + ".calls'\n";
    body += extraBody;
    writeExecutable(absPath, body);
}

QStringList StandIns::calls(const QString &name) const
{
    QFile f(FDir.path() + QLatin1Char('/') + name + QStringLiteral(".calls"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
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
