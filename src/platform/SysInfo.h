#pragma once

#include <QString>
#include <QStringList>

// The desktop's system-information program. Windows finds its own through the registry; here the first
// program of a short list that is installed on the search path is used.
namespace SysInfo {

// The programs looked for, in this order.
QStringList Candidates();

// Full path of the first candidate that is an executable file in one of the ":"-separated folders of
// `searchPath`, or an empty string.
QString Find(const QString& searchPath);

// Starts the program that Find() gives for the process search path PATH, detached, in a normal window.
// False when none is installed or it could not be started.
bool Start();

} // namespace SysInfo
