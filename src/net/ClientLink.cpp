#include "net/ClientLink.h"

#include "core/Forms.h"
#include "core/Functions.h"
#include "core/Globals.h"
#include "core/IniFiles.h"
#include "core/SysTrayUtil.h"
#include "core/frmMain.h"
#include "net/AlarmHooks.h"
#include "net/AlarmNet.h"
#include "net/IPChecker.h"
#include "net/Protocol.h"
#include "platform/SocketArray.h"

#include <QAction>
#include <QTimer>

namespace Network {

namespace {

QString Ini(const QString& key, const QString& def)
{
    return IniFiles::ReadIni(QStringLiteral("General"), key, def);
}

bool AutoReconnect()
{
    return Ini(QStringLiteral("Autoreconnect"), QStringLiteral("0")) == QLatin1String("1");
}

bool SettingsOpen()
{
    return Forms::IsFormLoaded(QStringLiteral("frmSettings"));
}

} // namespace

ClientLink::ClientLink(AlarmNet* net, QTimer* connectTimer, QTimer* checkConnectTimer, QTimer* exitTimer)
    : QObject(net), m_net(net), m_connectTimer(connectTimer), m_checkConnectTimer(checkConnectTimer),
      m_exitTimer(exitTimer)
{
    connect(m_connectTimer, &QTimer::timeout, this, &ClientLink::connectTimer_Timer);
    connect(m_checkConnectTimer, &QTimer::timeout, this, &ClientLink::checkConnectTimer_Timer);
    // Announce as soon as the uplink is up instead of at the connect timer's next tick: a station is
    // registered a moment after its start or its server's return, not seconds later.
    connect(m_net->WS_Writer(), &SocketArray::ConnectedEvent, this, [this](int index) {
        if (index == 0 && !m_net->IsServer() && m_connectTimer->isActive())
            connectTimer_Timer();
    });
}

void ClientLink::doClientConnect(const QString& ip)
{
    QString address = ip;
    if (address.isEmpty())
        address = Ini(QStringLiteral("Servername"), QString());
    if (address.isEmpty())
        return;
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
    SetConnectionStatus(false);
    m_net->WS_Writer()->Load(0)->Close();
    m_connectTimer->stop();
    m_checkConnectTimer->stop();
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
    m_checkConnectTimer->setInterval(60000);
    SetConnectionStatus(false);
    m_net->doSendData(Protocol::RegistrationLine(Functions::StationName(), Ini(QStringLiteral("Visuell"), QStringLiteral("0")),
                                                 Ini(QStringLiteral("Akustisch"), QStringLiteral("0"))));
}

void ClientLink::SetConnectionStatus(bool connected)
{
    m_connected = connected;
    Globals::IsConnected = connected;
    SysTrayUtil::TraySetIcon(connected ? 2 : 3);
    AlarmHooks::ShowSettingsConnectionStatus(connected);
    if (frmMain* main = frmMain::Instance()) {
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
        SetConnectionStatus(true);
    } else if (code == QLatin1String("005:") || code == QLatin1String("011:")) {
        const bool trainee = code == QLatin1String("011:");
        emit AlarmReceived(line, trainee);
        AlarmHooks::ShowAlertReceiver(line, trainee);
    } else if (code == QLatin1String("007:")) {
        emit AcknowledgementReceived(line);
        AlarmHooks::AlarmAcknowledged(line);
    } else if (code == QLatin1String("009:")) {
        emit CancelReceived(line);
        AlarmHooks::AlarmCancelled(line);
    }
}

void ClientLink::DownlinkEnded()
{
    doClientDisconnect();
    if (SettingsOpen())
        return;
    if (AutoReconnect())
        m_connectTimer->start();
    else
        m_exitTimer->start();
}

} // namespace Network
