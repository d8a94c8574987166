#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// The addresses under which the stations reach this server, for the person setting them up.
namespace ServerAddresses {

// The IPv4 addresses of the given list that other PCs can use (not loopback, not link-local), without
// repeats, in list order, comma-separated; empty when there is none. Pure.
QString Format(const QList<QHostAddress>& addresses);
// The same for this PC's interfaces.
QString OwnAddresses();
// The line the server shows: "Adresse dieses Servers: ..." or that it has none yet.
QString Caption();

} // namespace ServerAddresses
