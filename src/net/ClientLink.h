#pragma once

#include "net/LinkRules.h"
#include "net/AlarmHooks.h"
#include "net/Receipts.h"

#include <QObject>
#include <QPointer>
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
    // The uplink is connected / has failed (error, disconnect, refused send). A failure before it was
    // ever up is the connect timer's business.
    void UplinkUp();
    void UplinkFailed(const QString& reason);
    // Whether a connection to the station port from `peer` is the server's downlink.
    bool AcceptsDownlinkFrom(const QString& peer) const { return m_guard.Allows(peer); }
    bool LogRefusal(const QString& peer, qint64 nowMs) { return m_guard.ShouldLog(peer, nowMs); }
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

    // Answer time of a registration (tests shorten it).
    QTimer* answerTimer() const { return m_answerTimer; }

signals:
    void ConnectionStatusChanged(bool connected);
    void ServerLostEvent(const QString& reason);
    void AlarmReceived(const QString& line, bool trainee);
    void AcknowledgementReceived(const QString& line);
    void CancelReceived(const QString& line);

private:
    void connectTimer_Timer();
    void checkConnectTimer_Timer();
    void SendRegistration();
    void answerTimer_Timer();
    // The server is lost, whichever way: reconnect, or hand over to the exit timer; while the settings
    // dialog is open, once it closes.
    void ServerLost(const QString& reason);
    void SettingsClosed();
    void ReconnectOrGiveUp();
    void ResolveServer(const QString& address);
    void SendReceipt(const QString& relayLine, AlarmHooks::Shown shown);
    void ReceiptLine(const QString& line);

    AlarmNet* m_net;
    QTimer* m_connectTimer;
    QTimer* m_checkConnectTimer;
    QTimer* m_exitTimer;
    QTimer* m_answerTimer;
    bool m_connected = false;
    bool m_uplinkUp = false;
    bool m_registeredSinceLoss = true;
    // Announced, not yet registered: the server's downlink arriving sends the registration.
    bool m_registerOnDownlink = false;
    bool m_lostWhileSettings = false;
    QPointer<QObject> m_watchedSettings;
    LinkRules::RegistrationWatch m_watch;
    LinkRules::DownlinkGuard m_guard;
    bool m_serverReceipts = false;
    Receipts::Board m_board;
};

} // namespace Network
