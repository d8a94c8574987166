#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// The system's IPv4 TCP connection table (on Linux /proc/net/tcp), in the sorted order the program relies
// on: local address, local port, remote address, remote port, each compared as a number.
namespace TcpTable {

struct Row
{
    quint32 localAddress = 0; // host order: 10.0.0.1 is 0x0A000001
    quint16 localPort = 0;
    quint32 remoteAddress = 0;
    quint16 remotePort = 0;
    int state = 0;
};

// Parses the text of /proc/net/tcp (header line first); malformed lines are skipped. Sorted.
QList<Row> Parse(const QByteArray& text);
// Reads and parses the system's table; std::nullopt when it cannot be read.
std::optional<QList<Row>> Read();

// Test seam: read this file instead of /proc/net/tcp (empty: the system's table).
void SetSourceForTests(const QString& path);

} // namespace TcpTable
