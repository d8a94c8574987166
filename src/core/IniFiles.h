#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The settings file: a Windows profile (INI) file beside the executable, read and written with exactly the
// rules of GetPrivateProfileStringA / WritePrivateProfileStringA, in Windows-1252. There is no cache:
// every read asks the file anew.
namespace IniFiles {

// Program folder + "/" + executable name + ".ini", derived anew on every call.
QString GetIniFileName();

// The value of `key` in `section`, or `def` when the key, the section or the file is missing or the
// value is empty or blank. At most 511 characters.
QString ReadIni(const QString& section, const QString& key, const QString& def);

// True when the file can hold `value` as it is: every character exists in Windows-1252.
bool CanStore(const QString& value);

// Stores `value` under `key` in `section`; creates file, section or key as needed. Silent on failure.
void WriteIni(const QString& section, const QString& key, const QString& value);

// --- The profile rules on raw file bytes (what the two calls above are built from) ---

// What GetPrivateProfileStringA puts into a buffer of `bufSize` bytes: at most bufSize-1 bytes.
// `file` is std::nullopt when there is no file.
QByteArray ProfileRead(const std::optional<QByteArray>& file, const QByteArray& section, const QByteArray& key,
                       const QByteArray& def, int bufSize = 512);

// The file after WritePrivateProfileStringA(section, key, value): only the affected line changes (or one
// line is appended); every other byte stays. `value` std::nullopt deletes the key. Returns std::nullopt
// when no file is to be written (nothing changed and there was no file).
std::optional<QByteArray> ProfileWrite(const std::optional<QByteArray>& file, const QByteArray& section,
                                       const QByteArray& key, const std::optional<QByteArray>& value);

} // namespace IniFiles
