#pragma once

#include <QString>
#include <functional>

class QWidget;

// The folder browser of the settings dialog.
namespace GetDirLib {

// Lets the user pick a folder, starting in `startFolder` (the program folder when empty; a trailing "/" is
// dropped), with `title` as the instruction, owned by `owner`. The chosen folder with "/" separators, or an
// empty text when the user cancelled.
QString BrowseForFolder(const QString& startFolder, const QString& title, QWidget* owner);

// The start folder the browser opens in for `startFolder` (pure, for tests).
QString StartFolder(const QString& startFolder);

// Test seam: answers instead of the dialog, given the start folder and the title (nullptr: a person answers).
void SetBrowserForTests(std::function<QString(const QString& start, const QString& title)> answer);

} // namespace GetDirLib
