#include "net/ServerAddresses.h"

#include <QNetworkInterface>
#include <QStringList>

namespace ServerAddresses {

QString Format(const QList<QHostAddress>& addresses)
{
    QStringList out;
    for (const QHostAddress& a : addresses) {
        // The line protocol speaks IPv4; a 169.254 address changes with every cable plugged in.
        if (a.protocol() != QAbstractSocket::IPv4Protocol || a.isLoopback() || a.isLinkLocal())
            continue;
        const QString text = a.toString();
        if (!out.contains(text))
            out << text;
    }
    return out.join(QStringLiteral(", "));
}

QString OwnAddresses()
{
    return Format(QNetworkInterface::allAddresses());
}

QString Caption()
{
    const QString own = OwnAddresses();
    return own.isEmpty() ? QStringLiteral("Dieser Server hat noch keine Netzwerkadresse.")
                         : QStringLiteral("Adresse dieses Servers: ") + own;
}

} // namespace ServerAddresses
