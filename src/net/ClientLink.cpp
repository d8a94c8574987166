#include "net/ClientLink.h"

#include "core/EventLog.h"
#include "core/Functions.h"
#include "core/Globals.h"
#include "core/IniFiles.h"
#include "net/AlarmHooks.h"
#include "net/AlarmNet.h"
#include "net/IPChecker.h"
#include "net/Protocol.h"
#include "platform/SocketArray.h"
#include "ui/Forms.h"
#include "ui/MainWindow.h"
#include "ui/SysTrayUtil.h"

#include "platform/Cp1252.h"

#include <QAction>
#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace Network {

namespace {

QString Ini(const QString& key, const QString& def)
{
    return IniFiles::ReadIni(QStringLiteral("General"), key, def);
}

// Missing or blank means reconnect: a station that ends because its server restarted overnight receives no
// alarm in the morning. Only an explicit "0" (or any other value) gives up.
bool AutoReconnect()
{
    return Ini(QStringLiteral("Autoreconnect"), QStringLiteral("1")) == QLatin1String("1");
}

// From the server's downlink to the registration: time for the server to take note of the downlink it
// opened, so that its answer goes out on it.
constexpr int kDownlinkSettleMs = 50;

bool SettingsOpen()
{
    return Forms::IsFormLoaded(QStringLiteral("frmSettings"));
}

} // namespace

ClientLink::ClientLink(AlarmNet* net, QTimer* connectTimer, QTimer* checkConnectTimer, QTimer* exitTimer)
    : QObject(net), m_net(net), m_connectTimer(connectTimer), m_checkConnectTimer(checkConnectTimer),
      m_exitTimer(exitTimer)
{
    m_answerTimer = new QTimer(this);
    m_answerTimer->setObjectName(QStringLiteral("answerTimer"));
    m_answerTimer->setSingleShot(true);
    m_answerTimer->setInterval(LinkRules::RegistrationWatch::kAnswerMs);
    connect(m_connectTimer, &QTimer::timeout, this, &ClientLink::connectTimer_Timer);
    connect(m_checkConnectTimer, &QTimer::timeout, this, &ClientLink::checkConnectTimer_Timer);
    connect(m_answerTimer, &QTimer::timeout, this, &ClientLink::answerTimer_Timer);
    // Announce as soon as the uplink is up instead of at the connect timer's next tick: a station is
    // registered a moment after its start or its server's return, not seconds later.
    connect(m_net->WS_Writer(), &SocketArray::ConnectedEvent, this, [this](int index) {
        if (index == 0 && !m_net->IsServer() && m_connectTimer->isActive())
            connectTimer_Timer();
    });
}

void ClientLink::ResolveServer(const QString& address)
{
    const QHostAddress literal(address.trimmed());
    if (!literal.isNull()) {
        m_guard.SetServerAddresses({literal.toString()});
        return;
    }
    // A name is looked up in the background; until then the uplink's peer alone is the server.
    QHostInfo::lookupHost(address.trimmed(), this, [this](const QHostInfo& info) {
        QStringList found;
        for (const QHostAddress& a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol)
                found.append(a.toString());
        }
        m_guard.SetServerAddresses(found);
    });
}

void ClientLink::doClientConnect(const QString& ip)
{
    QString address = ip;
    if (address.isEmpty())
        address = Ini(QStringLiteral("Servername"), QString());
    if (address.isEmpty())
        return;
    ResolveServer(address);
    m_uplinkUp = false;
    Socket* uplink = m_net->WS_Writer()->Load(0);
    uplink->Close();
    uplink->SetUp();
    if (!m_net->config().outboundAddress.isEmpty())
        uplink->Bind(m_net->config().outboundAddress, 0);
    uplink->Connect(address, m_net->config().serverPort);
    m_connectTimer->start();
}

void ClientLink::doClientDisconnect()
{
    // A server met anew numbers its alarms anew: nothing heard from the last one counts any more.
    m_serverReceipts = false;
    m_board = Receipts::Board();
    SetConnectionStatus(false);
    m_uplinkUp = false;
    m_net->WS_Writer()->Load(0)->Close();
    m_connectTimer->stop();
    m_checkConnectTimer->stop();
    m_registerOnDownlink = false;
    m_answerTimer->stop();
    m_watch.Reset();
}

QString ClientLink::OwnAddress() const
{
    Socket* uplink = m_net->WS_Writer()->At(0);
    const QString local = uplink ? uplink->LocalAddress() : QString();
    return local.isEmpty() ? IPChecker::GetLocalIP(false) : local;
}

void ClientLink::connectTimer_Timer()
{
    if (m_net->doSendData(QStringLiteral("003: ") + OwnAddress())) {
        m_connectTimer->stop();
        // The server answers the registration on its downlink to this station, which it opens on the
        // announcement; a registration that overtakes the downlink gets no answer. It follows shortly after
        // that downlink is here, at the latest after this pause (a server that opens it late or not at all).
        m_registerOnDownlink = true;
        m_checkConnectTimer->setInterval(200);
        m_checkConnectTimer->start();
        if (Globals::UsbButtonHandle != 0)
            AlarmHooks::PollEmergencyButtonOnce();
        return;
    }
    if (!AutoReconnect()) {
        // The exit timer ends the program unless the settings dialog is open; until then this timer keeps
        // trying, and a late success brings the link up all the same.
        m_exitTimer->start();
        return;
    }
    doClientDisconnect();
    doClientConnect(QString());
}

void ClientLink::checkConnectTimer_Timer()
{
    m_registerOnDownlink = false;
    m_checkConnectTimer->setInterval(60000);
    SetConnectionStatus(false);
    SendRegistration();
}

void ClientLink::SendRegistration()
{
    m_net->doSendData(Protocol::RegistrationLine(Functions::StationName(),
                                                 Ini(QStringLiteral("Visuell"), QStringLiteral("0")),
                                                 Ini(QStringLiteral("Akustisch"), QStringLiteral("0"))));
    m_watch.Sent();
    m_answerTimer->start();
}

void ClientLink::answerTimer_Timer()
{
    switch (m_watch.Expired()) {
    case LinkRules::RegistrationWatch::Verdict::Retry:
        SendRegistration();
        break;
    case LinkRules::RegistrationWatch::Verdict::Dead:
        ServerLost(QStringLiteral("Server antwortet nicht"));
        break;
    case LinkRules::RegistrationWatch::Verdict::None:
        break;
    }
}

void ClientLink::SetConnectionStatus(bool connected)
{
    m_connected = connected;
    Globals::IsConnected = connected;
    SysTrayUtil::TraySetIcon(connected ? 2 : 3);
    m_net->UpdateTrayTip();
    AlarmHooks::ShowSettingsConnectionStatus(connected);
    if (MainWindow* main = MainWindow::Instance()) {
        if (QAction* status = main->MenuEntry(QStringLiteral("popUp5"))) {
            if (m_net->IsServer())
                status->setText(QStringLiteral("Status: Server"));
            else
                status->setText(connected ? QStringLiteral("Status: Verbunden mit Server")
                                          : QStringLiteral("Status: Keine Verbindung!"));
        }
    }
    emit ConnectionStatusChanged(connected);
}

void ClientLink::HandleLine(const QString& line)
{
    const QString code = Protocol::CodeOf(line);
    if (code == QLatin1String("002:")) {
        m_watch.Answered();
        m_answerTimer->stop();
        m_registeredSinceLoss = true;
        SetConnectionStatus(true);
    } else if (Protocol::ShowsAlarm(code)) {
        const bool trainee = code == QLatin1String("011:");
        emit AlarmReceived(line, trainee);
        SendReceipt(line, AlarmHooks::ShowAlertReceiver(line, trainee));
    } else if (code == QLatin1String("007:")) {
        emit AcknowledgementReceived(line);
        AlarmHooks::AlarmAcknowledged(line);
    } else if (code == QLatin1String("009:")) {
        emit CancelReceived(line);
        AlarmHooks::AlarmCancelled(line);
    } else if (code == QLatin1String("013:")) {
        m_serverReceipts = m_serverReceipts || Receipts::Lists(line, code);
    } else if (code == QLatin1String("015:") || code == QLatin1String("016:")) {
        ReceiptLine(line);
    }
}

void ClientLink::DownlinkAccepted(int index)
{
    // Offered on the downlink, which a server that does not know it reads and drops unseen; the uplink
    // carries the extension's lines only once the server has answered here.
    m_serverReceipts = false;
    if (Socket* down = m_net->WS_Listener()->At(index))
        down->Write(Cp1252::Encode(Receipts::OfferLine() + QStringLiteral("\r\n")));
    // Not at once: the server may not have taken note of the downlink yet when the registration arrives.
    if (m_registerOnDownlink && m_checkConnectTimer->isActive() &&
        m_checkConnectTimer->remainingTime() > kDownlinkSettleMs)
        m_checkConnectTimer->start(kDownlinkSettleMs);
}

void ClientLink::SendReceipt(const QString& relayLine, AlarmHooks::Shown shown)
{
    using AlarmHooks::Shown;
    // A drill held back behind a running alarm was not shown: no receipt, so its raiser sees it missing.
    if (!m_serverReceipts || shown == Shown::OwnAlarm || shown == Shown::HeldBack)
        return;
    const QString raiser = Receipts::RaiserOf(relayLine);
    // The tone has started, or the station is set to show nothing: that is known at once. A window counts
    // once it is on the screen.
    if (shown != Shown::Window) {
        m_net->doSendData(Receipts::ReceiptLine(raiser, shown == Shown::ToneOnly));
        return;
    }
    QPointer<ClientLink> self(this);
    AlarmHooks::WhenReceiverOnScreen([self, raiser] {
        if (self && self->m_serverReceipts)
            self->m_net->doSendData(Receipts::ReceiptLine(raiser, true));
    });
}

void ClientLink::ReceiptLine(const QString& line)
{
    const Receipts::Board::Change change = m_board.Apply(line);
    if (change == Receipts::Board::Change::None)
        return;
    AlarmHooks::ShowReceipts(Receipts::WindowText(m_board.Entries(), m_board.IsDone()));
    if (change == Receipts::Board::Change::Done)
        Functions::WriteLog(Functions::StationName(), Receipts::LogText(m_board.Entries()));
    else if (change == Receipts::Board::Change::Late)
        Functions::WriteLog(Functions::StationName(),
                            QStringLiteral("Alarm verspätet angezeigt: ") + m_board.LastChanged().name);
}

void ClientLink::DownlinkEnded()
{
    ServerLost(QStringLiteral("Downlink getrennt"));
}

void ClientLink::UplinkUp()
{
    m_uplinkUp = true;
    if (Socket* uplink = m_net->WS_Writer()->At(0))
        m_guard.SetUplinkPeer(uplink->PeerAddress());
}

void ClientLink::UplinkFailed(const QString& reason)
{
    if (!m_uplinkUp || Globals::IsEnding)
        return;
    ServerLost(QStringLiteral("Uplink: ") + reason);
}

void ClientLink::ServerLost(const QString& reason)
{
    if (Globals::IsEnding)
        return;
    // Once per loss; a server that never answered is not logged again on every new attempt.
    if (m_registeredSinceLoss) {
        Socket* uplink = m_net->WS_Writer()->At(0);
        m_net->LogConnection(uplink ? uplink->PeerAddress() : QString(),
                             QStringLiteral("Verbindung zum Server verloren (") + reason + QLatin1Char(')'));
        m_registeredSinceLoss = false;
    }
    emit ServerLostEvent(reason);
    doClientDisconnect();
    // Both directions go: a half of the old link must not keep the station looking connected.
    m_net->CloseDownlinks();
    if (SettingsOpen()) {
        // Handled when the dialog closes, whichever way.
        m_lostWhileSettings = true;
        QWidget* settings = Forms::Find(QStringLiteral("frmSettings"));
        if (settings && m_watchedSettings != settings) {
            m_watchedSettings = settings;
            connect(settings, &QObject::destroyed, this,
                    [this] { QTimer::singleShot(0, this, &ClientLink::SettingsClosed); });
        }
        return;
    }
    ReconnectOrGiveUp();
}

void ClientLink::ReconnectOrGiveUp()
{
    if (AutoReconnect())
        m_connectTimer->start();
    else
        m_exitTimer->start();
}

void ClientLink::SettingsClosed()
{
    if (!m_lostWhileSettings || Globals::IsEnding)
        return;
    m_lostWhileSettings = false;
    // The dialog may have connected again itself (OK saves and reconnects, or its connect button).
    if (!m_uplinkUp && !m_connectTimer->isActive() && !m_exitTimer->isActive())
        ReconnectOrGiveUp();
}

} // namespace Network
