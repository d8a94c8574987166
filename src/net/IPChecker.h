#pragma once

#include "platform/TcpTable.h"

#include <QList>
#include <QString>

// The station's own IPv4 address(es), taken from the system's TCP connection table.
namespace IPChecker {

// The local addresses of the table's rows in table order, without those starting with "0", without
// "127.0.0.1" and without repeats; comma-separated. AllAddresses false: the first one only. Empty when the
// table is empty or nothing qualifies; "ERROR" when the table cannot be read.
QString GetLocalIP(bool AllAddresses);
// The same over given rows (pure).
QString LocalIPFromRows(const QList<TcpTable::Row>& rows, bool AllAddresses);

} // namespace IPChecker
