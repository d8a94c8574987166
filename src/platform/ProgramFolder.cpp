#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
QString g_folder;
QString g_exe;
} // namespace

namespace ProgramFolder {

QString Path()
{
    if (!g_folder.isEmpty())
        return g_folder;
    return QCoreApplication::applicationDirPath();
}

QString ExeName()
{
    if (!g_exe.isEmpty())
        return g_exe;
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void SetForTests(const QString& folder, const QString& exeName)
{
    g_folder = folder;
    g_exe = exeName;
}

} // namespace ProgramFolder
