#pragma once

#include <QString>

// Where this installation lives. The program folder is the folder of the executable; settings file and
// log are found relative to it. Tests point it at a throwaway folder.
namespace ProgramFolder {

// Folder of the executable, without a trailing separator.
QString Path();
// Executable file name without extension ("tavinor").
QString ExeName();
// Test seam: pretend the program lives in `folder` under the executable name `exeName`.
void SetForTests(const QString& folder, const QString& exeName = QStringLiteral("tavinor"));

} // namespace ProgramFolder
