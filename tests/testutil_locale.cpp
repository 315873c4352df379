#include "testutil_locale.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <clocale>
#include <cstdlib>

FakeLocales::FakeLocales()
    : FSaved{{"LOCPATH", false, {}}, {"LC_ALL", false, {}}, {"LC_CTYPE", false, {}}, {"LANG", false, {}}}
{
    for (Saved &s : FSaved) {
        s.Set = qEnvironmentVariableIsSet(s.Name);
        s.Value = qgetenv(s.Name);
    }
    if (const char *old = std::setlocale(LC_CTYPE, nullptr))
        FOldCType = old;
    for (const char *dir : {"/usr/lib/locale/C.utf8", "/usr/lib/locale/C.UTF-8"}) {
        const QString ctype = QLatin1String(dir) + QStringLiteral("/LC_CTYPE");
        if (QFileInfo::exists(ctype)) {
            FSource = ctype;
            break;
        }
    }
    qputenv("LOCPATH", QFile::encodeName(FDir.path()));
}

FakeLocales::~FakeLocales()
{
    for (const Saved &s : FSaved) {
        if (s.Set)
            qputenv(s.Name, s.Value);
        else
            qunsetenv(s.Name);
    }
    std::setlocale(LC_CTYPE, FOldCType.isEmpty() ? "C" : FOldCType.constData());
    std::setlocale(LC_NUMERIC, "C");
}

void FakeLocales::use(const QString &Name)
{
    const QString dir = FDir.path() + QLatin1Char('/') + Name;
    if (!FSource.isEmpty() && !QFileInfo::exists(dir + QStringLiteral("/LC_CTYPE"))) {
        QDir().mkpath(dir);
        QFile::copy(FSource, dir + QStringLiteral("/LC_CTYPE"));
    }
    qputenv("LC_ALL", Name.toLocal8Bit());
    qunsetenv("LC_CTYPE");
    qunsetenv("LANG");
}

void FakeLocales::useMissing()
{
    qputenv("LC_ALL", "xx_NOWHERE.UTF-8");
    qunsetenv("LC_CTYPE");
    qunsetenv("LANG");
}

void FakeLocales::useUnset()
{
    qunsetenv("LC_ALL");
    qunsetenv("LC_CTYPE");
    qunsetenv("LANG");
}

bool FakeLocales::useNumeric(const QString &Name, QChar DecimalPoint)
{
    const QString source = FDir.path() + QStringLiteral("/numeric.src");
    QFile src(source);
    if (!src.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    src.write(QStringLiteral("LC_NUMERIC\ndecimal_point \"<U%1>\"\nthousands_sep \"\"\ngrouping -1\n"
                             "END LC_NUMERIC\n")
                  .arg(QString::number(DecimalPoint.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')))
                  .toLatin1());
    src.close();
    // The other categories are missing from the source: -c writes the
    // locale all the same.
    QProcess localedef;
    localedef.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-c"), QStringLiteral("-i"), source, FDir.path() + QLatin1Char('/') + Name});
    if (!localedef.waitForFinished(30000))
        return false;
    qputenv("LC_ALL", Name.toLocal8Bit());
    qunsetenv("LC_CTYPE");
    qunsetenv("LANG");
    return std::setlocale(LC_NUMERIC, "") != nullptr;
}
