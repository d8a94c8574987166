#pragma once

#include <QObject>
#include <QStringList>

namespace Network {

class AlarmNet;

// The server's half: registrations, the downlinks back to the stations and the relay of alarm,
// acknowledgement and cancel lines to every station.
class ServerRelay : public QObject
{
    Q_OBJECT
public:
    explicit ServerRelay(AlarmNet* net);

    // Acts on a line received on station slot `slot` from `peer`; returns the line as the trace shows it.
    QString HandleLine(int slot, const QString& line, const QString& peer);
    // Opens a downlink to the station at `ip` (surrounding blanks removed) on the station port, on behalf
    // of the station on listener slot `opener` (0: none known).
    void doServerConnect(const QString& ip, int opener = 0);
    // Closes every downlink that leads to the address of the station on listener slot `index`, except
    // those that a newer, still connected uplink from that address asked for.
    void doServerDisconnect(int index);
    // The address downlink slot `index` was told to connect to.
    QString DownlinkTarget(int index) const;

private:
    AlarmNet* m_net;
    QStringList m_targets; // by outbound slot
    QList<int> m_openers;  // by outbound slot: the listener slot whose 003 opened it
};

} // namespace Network
