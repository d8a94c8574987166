#include "core/RegistryValue.h"

#include "platform/Cp1252.h"

#include <algorithm>

namespace RegistryValue {

QByteArray CutData(const QByteArray& buffer, quint32 reportedSize)
{
    QByteArray data = buffer.left(qsizetype(std::min<quint64>(reportedSize, quint64(buffer.size()))));
    if (data.endsWith('\0'))
        data.chop(1);
    return data;
}

std::optional<QString> Decode(quint32 type, const QByteArray& data)
{
    if (type == RegSz) {
        // A string ends at its first NUL; some writers store two or pad the buffer.
        const qsizetype nul = data.indexOf('\0');
        return Cp1252::Decode(nul < 0 ? data : data.left(nul));
    }
    if (type == RegDword) {
        // Little-endian, last byte the most significant. Every byte counts as two hex digits: a byte
        // below 0x10 must not shrink to one digit and shift the rest. The cut above may already have
        // taken a zero high byte off, which does not change the number.
        quint32 value = 0;
        const qsizetype n = std::min<qsizetype>(data.size(), 4);
        for (qsizetype i = n - 1; i >= 0; --i)
            value = (value << 8) | quint8(data[i]);
        return QString::number(value);
    }
    return std::nullopt;
}

} // namespace RegistryValue
