#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// How the about window's GetKeyValue turns the raw data of a registry value into text. Pure, so that a
// Windows backend only has to do the registry calls.
namespace RegistryValue {

constexpr quint32 RegSz = 1;    // REG_SZ
constexpr quint32 RegDword = 4; // REG_DWORD (little-endian)

// The data as the query reported it: `buffer` cut to `reportedSize` bytes, minus one trailing NUL.
QByteArray CutData(const QByteArray& buffer, quint32 reportedSize);

// The text for a value of `type` with `data` (already cut): a string as it is (Windows-1252, up to its
// first NUL), a 32-bit number in unsigned decimal. std::nullopt for every other type, which leaves the
// caller's text unchanged.
std::optional<QString> Decode(quint32 type, const QByteArray& data);

} // namespace RegistryValue
