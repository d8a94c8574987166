#pragma once

#include <QObject>
#include <QString>

class QTimer;

namespace Network {

class AlarmNet;

// The station's half: the uplink to the server, announcing the own address, registering once a minute,
// the connection status, and the lines that arrive on the downlink.
class ClientLink : public QObject
{
    Q_OBJECT
public:
    ClientLink(AlarmNet* net, QTimer* connectTimer, QTimer* checkConnectTimer, QTimer* exitTimer);

    // Opens the uplink to `ip`, or to the setting "Servername" when `ip` is empty.
    void doClientConnect(const QString& ip = QString());
    // Closes the uplink and stops both link timers.
    void doClientDisconnect();
    void SetConnectionStatus(bool connected);
    bool IsConnected() const { return m_connected; }

    // A line that arrived on the downlink.
    void HandleLine(const QString& line);
    // The server's downlink to this station has ended.
    void DownlinkEnded();
    // The address this station announces: the local address of its uplink, which is the one that reaches
    // the server; the first address of the connection table only when the uplink has none.
    QString OwnAddress() const;

    QTimer* connectTimer() const { return m_connectTimer; }
    QTimer* checkConnectTimer() const { return m_checkConnectTimer; }
    QTimer* exitTimer() const { return m_exitTimer; }

signals:
    void ConnectionStatusChanged(bool connected);
    void AlarmReceived(const QString& line, bool trainee);
    void AcknowledgementReceived(const QString& line);
    void CancelReceived(const QString& line);

private:
    void connectTimer_Timer();
    void checkConnectTimer_Timer();

    AlarmNet* m_net;
    QTimer* m_connectTimer;
    QTimer* m_checkConnectTimer;
    QTimer* m_exitTimer;
    bool m_connected = false;
};

} // namespace Network
