#include "platform/TcpTable.h"

#include <QFile>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace {

QString g_source;

// "0100007F:2794" -> address in host order and port. The kernel prints the address as the native integer
// of the bytes in network order, the port as a plain number.
bool ParseEndpoint(const QByteArray& field, quint32& address, quint16& port)
{
    const int colon = field.indexOf(':');
    if (colon != 8 || field.size() != 13)
        return false;
    bool ok1 = false, ok2 = false;
    const quint32 printed = field.left(8).toUInt(&ok1, 16);
    const uint p = field.mid(9).toUInt(&ok2, 16);
    if (!ok1 || !ok2 || p > 0xFFFF)
        return false;
    quint32 networkOrder;
    std::memcpy(&networkOrder, &printed, sizeof networkOrder);
    address = qFromBigEndian(networkOrder);
    port = static_cast<quint16>(p);
    return true;
}

} // namespace

namespace TcpTable {

QList<Row> Parse(const QByteArray& text)
{
    QList<Row> rows;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 4 || !fields.at(0).endsWith(':'))
            continue;
        Row row;
        bool ok = false;
        row.state = fields.at(3).toInt(&ok, 16);
        if (!ok || !ParseEndpoint(fields.at(1), row.localAddress, row.localPort) ||
            !ParseEndpoint(fields.at(2), row.remoteAddress, row.remotePort))
            continue;
        rows.append(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return std::tie(a.localAddress, a.localPort, a.remoteAddress, a.remotePort) <
               std::tie(b.localAddress, b.localPort, b.remoteAddress, b.remotePort);
    });
    return rows;
}

std::optional<QList<Row>> Read()
{
    QFile file(g_source.isEmpty() ? QStringLiteral("/proc/net/tcp") : g_source);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A proc file reports no size: read until the end.
    return Parse(file.readAll());
}

void SetSourceForTests(const QString& path)
{
    g_source = path;
}

} // namespace TcpTable
