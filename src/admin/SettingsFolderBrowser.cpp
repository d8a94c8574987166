#include "admin/SettingsFolderBrowser.h"

#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFileDialog>

namespace GetDirLib {

namespace {
std::function<QString(const QString&, const QString&)>& Answer()
{
    static std::function<QString(const QString&, const QString&)> answer;
    return answer;
}
} // namespace

QString StartFolder(const QString& startFolder)
{
    QString start = startFolder.isEmpty() ? ProgramFolder::Path() : startFolder;
    // The root itself keeps its separator.
    if (start.size() > 1 && start.endsWith(QLatin1Char('/')))
        start.chop(1);
    return start;
}

QString BrowseForFolder(const QString& startFolder, const QString& title, QWidget* owner)
{
    const QString start = StartFolder(startFolder);
    if (Answer())
        return Answer()(start, title);
    // The title holds a line break; the caption of the file dialog shows it as the instruction.
    const QString chosen = QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    return chosen.isEmpty() ? QString() : QDir::fromNativeSeparators(chosen);
}

void SetBrowserForTests(std::function<QString(const QString& start, const QString& title)> answer)
{
    Answer() = std::move(answer);
}

} // namespace GetDirLib
