#include "net/Protocol.h"

namespace Protocol {

QString CodeOf(const QString& line)
{
    return line.left(4);
}

QString RelayCodeFor(const QString& code)
{
    if (code == QLatin1String("004:"))
        return QStringLiteral("005: ");
    if (code == QLatin1String("006:"))
        return QStringLiteral("007: ");
    if (code == QLatin1String("008:"))
        return QStringLiteral("009: ");
    if (code == QLatin1String("010:"))
        return QStringLiteral("011: ");
    return QString();
}

bool RaisesAlarm(const QString& code)
{
    return code == QLatin1String("004:") || code == QLatin1String("010:");
}

QString RegistrationLine(const QString& stationName, const QString& visual, const QString& acoustic)
{
    return QStringLiteral("001: ") + kSeparator + stationName + kSeparator + visual + kSeparator + acoustic;
}

QString StationRecord(const QString& registration, const QString& peer)
{
    return registration + kSeparator + peer;
}

QString RelayLine(const QString& relayCode, const QString& peer, const QString& record)
{
    return relayCode + peer + kSeparator + record;
}

QString AnnouncedAddress(const QString& line)
{
    return line.mid(4).trimmed();
}

} // namespace Protocol
