#include "core/Functions.h"

#include "core/IniFiles.h"
#include "platform/ProgramFolder.h"
#include "platform/System.h"

#include <QCoreApplication>

namespace Functions {

QString GetPCName()
{
    return System::HostName();
}

QString GetShortPath(const QString& path)
{
    return path;
}

QString BaseFolder(const QString& programFolder)
{
    QString base = programFolder;
    base.remove(QStringLiteral("/Server"), Qt::CaseSensitive);
    base.remove(QStringLiteral("/Client"), Qt::CaseSensitive);
    return base;
}

QString ExtendedSearchPath(const QString& path, const QString& programFolder)
{
    const QString base = BaseFolder(programFolder);
    return path + QLatin1Char(':') + GetShortPath(base) + QLatin1Char(':') +
           GetShortPath(base + QStringLiteral("/System/Controls"));
}

void SetSearchPath()
{
    const QString path = qEnvironmentVariable("PATH");
    qputenv("PATH", ExtendedSearchPath(path, ProgramFolder::Path()).toLocal8Bit());
    QCoreApplication::processEvents();
}

QString StationName()
{
    return IniFiles::ReadIni(QStringLiteral("General"), QStringLiteral("Stationname"), GetPCName());
}

} // namespace Functions
