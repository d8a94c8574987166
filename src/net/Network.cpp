#include "net/Network.h"

#include "core/Globals.h"
#include "net/AlarmNet.h"
#include "net/ClientLink.h"
#include "ui/MainWindow.h"

#include <QPointer>
#include <QWidget>

namespace Network {

namespace {

QPointer<AlarmNet> g_net;
AlarmNet::Config g_config;

} // namespace

AlarmNet* Instance()
{
    if (g_net)
        return g_net;
    MainWindow* main = MainWindow::Instance();
    if (!main)
        return nullptr;
    AlarmNet::Timers timers{main->connectTimer(), main->checkConnectTimer(), main->exitTimer()};
    g_net = new AlarmNet(timers, g_config, MainWindow::Widget());
    return g_net;
}

void SetPortsForTests(quint16 serverPort, quint16 stationPort, const QString& listenAddress)
{
    g_config.serverPort = serverPort;
    g_config.stationPort = stationPort;
    if (!listenAddress.isEmpty())
        g_config.listenAddress = listenAddress;
}

void StartServerListener()
{
    if (AlarmNet* net = Instance()) {
        net->SetServer(true);
        net->StartServerListener();
    }
}

void StartClientListener()
{
    if (AlarmNet* net = Instance()) {
        net->SetServer(false);
        net->StartClientListener();
    }
}

void CloseForExit()
{
    if (AlarmNet* net = Instance())
        net->CloseForExit();
}

} // namespace Network

void doClientDisconnect()
{
    if (Network::AlarmNet* net = Network::Instance())
        net->Client()->doClientDisconnect();
}

void doClientConnect(const QString& address)
{
    if (Network::AlarmNet* net = Network::Instance())
        net->Client()->doClientConnect(address);
}

bool doSendData(const QString& value)
{
    Network::AlarmNet* net = Network::Instance();
    if (!net)
        return false;
    net->SetServer(Globals::IsServer);
    return net->doSendData(value);
}

void SetConnectionStatus(bool connected)
{
    if (Network::AlarmNet* net = Network::Instance())
        net->Client()->SetConnectionStatus(connected);
}
