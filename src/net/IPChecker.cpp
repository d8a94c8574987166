#include "net/IPChecker.h"

#include <QHostAddress>
#include <QStringList>

namespace IPChecker {

QString LocalIPFromRows(const QList<TcpTable::Row>& rows, bool AllAddresses)
{
    QStringList taken;
    for (const TcpTable::Row& row : rows) {
        const QString address = QHostAddress(row.localAddress).toString();
        if (address.startsWith(QLatin1Char('0')) || address == QLatin1String("127.0.0.1") || taken.contains(address))
            continue;
        taken.append(address);
        if (!AllAddresses)
            break;
    }
    return taken.join(QLatin1Char(','));
}

QString GetLocalIP(bool AllAddresses)
{
    const auto rows = TcpTable::Read();
    if (!rows)
        return QStringLiteral("ERROR");
    return LocalIPFromRows(*rows, AllAddresses);
}

} // namespace IPChecker
