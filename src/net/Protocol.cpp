#include "net/Protocol.h"

#include <QStringList>

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

bool ShowsAlarm(const QString& code)
{
    return code == QLatin1String("005:") || code == QLatin1String("011:");
}

QString RegistrationLine(const QString& stationName, const QString& visual, const QString& acoustic)
{
    return QStringLiteral("001: ") + kSeparator + ClipStationName(stationName) + kSeparator + visual + kSeparator +
           acoustic;
}

QString ClipStationName(const QString& name)
{
    return name.left(kMaxStationName);
}

QString ClipRegistration(const QString& registration)
{
    QStringList fields = registration.split(kSeparator);
    if (fields.size() > 1)
        fields[1] = ClipStationName(fields[1]);
    return fields.join(kSeparator).left(kMaxRegistration);
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

bool IsDottedIPv4(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

bool IsAccepted(const QString& line, bool server)
{
    // With the delivery receipts a station also takes the answer to its offer (013), the states and the end
    // of the wait (015, 016); the server takes a receipt (014) only from a station that offered the
    // extension, which the relay decides.
    static const QStringList kServerCodes = {QStringLiteral("001:"), QStringLiteral("004:"), QStringLiteral("006:"),
                                             QStringLiteral("008:"), QStringLiteral("010:")};
    static const QStringList kStationCodes = {QStringLiteral("002:"), QStringLiteral("005:"), QStringLiteral("007:"),
                                              QStringLiteral("009:"), QStringLiteral("011:"), QStringLiteral("013:"),
                                              QStringLiteral("015:"), QStringLiteral("016:")};
    const QString code = CodeOf(line);
    if (!server)
        return kStationCodes.contains(code);
    // Anything else in a 003 would have the server look up a host name or connect nowhere.
    if (code == QLatin1String("003:"))
        return IsDottedIPv4(AnnouncedAddress(line));
    return kServerCodes.contains(code);
}

} // namespace Protocol
