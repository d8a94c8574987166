#include "platform/HookLibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace HookLibrary {

QString FileName()
{
    return QStringLiteral("libtvkbhk.so");
}

QString Locate(const QString& fileName, const QString& programFolder, const QString& searchPath)
{
    QStringList folders{programFolder};
    folders += searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& folder : folders) {
        const QFileInfo candidate(QDir(folder), fileName);
        if (candidate.isFile())
            return candidate.absoluteFilePath();
    }
    return {};
}

} // namespace HookLibrary
