#pragma once

#include "net/AlarmHooks.h"
#include "net/Receipts.h"

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
    // The server's downlink has been accepted on listener slot `index`: offer the extensions.
    void DownlinkAccepted(int index);
    // This station sends an alarm: receipts still arriving for an earlier one no longer count.
    void AlarmRaised() { m_board.Forget(); }
    // True once the server has taken up the offer of receipts on the current downlink.
    bool ServerTakesReceipts() const { return m_serverReceipts; }
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
    void SendReceipt(const QString& relayLine, AlarmHooks::Shown shown);
    void ReceiptLine(const QString& line);

    AlarmNet* m_net;
    QTimer* m_connectTimer;
    QTimer* m_checkConnectTimer;
    QTimer* m_exitTimer;
    bool m_connected = false;
    bool m_serverReceipts = false;
    Receipts::Board m_board;
};

} // namespace Network
