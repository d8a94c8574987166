#pragma once

#include <QString>

// Finds and loads the keyboard-hook library and resolves its entry points; never leaves a half-loaded
// library behind.
namespace HookLibrary {

// The library's file name on this system.
QString FileName();
// Where the library is: the program folder first, then each folder of `searchPath` (":"-separated). Empty
// when it is nowhere.
QString Locate(const QString& fileName, const QString& programFolder, const QString& searchPath);

} // namespace HookLibrary
