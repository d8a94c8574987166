#include "platform/SysInfo.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace SysInfo {

QStringList Candidates()
{
    return {QStringLiteral("hardinfo2"), QStringLiteral("hardinfo"), QStringLiteral("kinfocenter"),
            QStringLiteral("cpu-x")};
}

QString Find(const QString& searchPath)
{
    const QStringList folders = searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& name : Candidates()) {
        for (const QString& folder : folders) {
            const QFileInfo fi(QDir(folder).filePath(name));
            if (fi.isFile() && fi.isExecutable())
                return fi.absoluteFilePath();
        }
    }
    return {};
}

bool Start()
{
    const QString program = Find(qEnvironmentVariable("PATH"));
    if (program.isEmpty())
        return false;
    QProcess process;
    process.setProgram(program);
    if (!process.startDetached()) {
        qWarning() << "SysInfo: cannot start" << program << ":" << process.errorString();
        return false;
    }
    return true;
}

} // namespace SysInfo
