#pragma once

#include <QString>

// General-purpose helpers of the program core.
namespace Functions {

// The computer name: the short host name, whole (never cut to a fixed length).
QString GetPCName();
// The short form of a path; on this system every path is its own short form.
QString GetShortPath(const QString& path);
// The base folder of an installation: the program folder without "/Server" and "/Client" (case-sensitive).
QString BaseFolder(const QString& programFolder);
// `path` with the base folder and its "System/Controls" subfolder appended (":"-separated, pure).
QString ExtendedSearchPath(const QString& path, const QString& programFolder);
// Extends the process search path PATH so that the program's libraries are found there.
void SetSearchPath();
// The setting "Stationname", or the computer name when it is not set.
QString StationName();

} // namespace Functions
