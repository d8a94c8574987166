#pragma once

#include <QByteArray>
#include <QString>

// Windows-1252, the code page of the settings file, the event log and the wire, so that files and peers
// stay exchangeable with Windows installations. The five bytes that code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same number, so every byte
// round-trips.
namespace Cp1252 {

QString Decode(const QByteArray& bytes);
// Characters the code page cannot hold become '?'.
QByteArray Encode(const QString& text);
// True when `text` goes through the code page unchanged (no character becomes '?').
bool CanEncode(const QString& text);

} // namespace Cp1252
