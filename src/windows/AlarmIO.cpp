#include "windows/AlarmIO.h"

#include "core/Globals.h"
#include "net/AlarmNet.h"
#include "net/ClientLink.h"
#include "net/Network.h"
#include "platform/Socket.h"
#include "platform/SocketArray.h"
#include "platform/System.h"
#include "ui/MainWindow.h"
#include "ui/SysTrayUtil.h"

#include <QAction>
#include <QHostAddress>
#include <QMenu>
#include <QNetworkInterface>

namespace AlarmIO {

namespace {
Seams g_seams;
std::function<void(quint8)> g_buttonOutputs;
QMetaObject::Connection g_trayAck;
} // namespace

void SetButtonOutputs(std::function<void(quint8)> write)
{
    g_buttonOutputs = std::move(write);
}

void SetForTests(const Seams& seams)
{
    g_seams = seams;
}

QDateTime Now()
{
    return g_seams.now ? g_seams.now() : QDateTime::currentDateTime();
}

bool Send(const QString& line)
{
    return g_seams.send ? g_seams.send(line) : doSendData(line);
}

void Beep()
{
    if (g_seams.beep)
        g_seams.beep();
    else
        System::Beep();
}

void WriteOutputs(quint8 pattern)
{
    if (Globals::UsbButtonHandle <= 0)
        return;
    if (g_seams.outputs)
        g_seams.outputs(pattern);
    else if (g_buttonOutputs)
        g_buttonOutputs(pattern);
}

QStringList OwnAddresses()
{
    if (g_seams.ownAddresses)
        return g_seams.ownAddresses();
    QStringList out;
    auto add = [&out](const QString& a) {
        if (!a.isEmpty() && !out.contains(a))
            out.append(a);
    };
    // First the address the server sees this station by, which it puts into the relay line: also when the
    // uplink runs over loopback or an address the interface list does not show.
    if (MainWindow::Instance()) {
        if (Network::AlarmNet* net = Network::Instance()) {
            if (Socket* uplink = net->WS_Writer()->At(0))
                add(uplink->LocalAddress());
        }
    }
    // Every local address of a TCP connection is one of the interfaces' addresses: asking the interfaces
    // finds the same as the connection table, without the walk through the kernel's whole connection hash
    // (milliseconds of CPU on a large machine, at the moment an alarm arrives).
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            add(a.toString());
    }
    return out;
}

void CloseTrayMenu()
{
    if (MainWindow* main = MainWindow::Instance()) {
        if (QMenu* menu = main->mnuPopup(); menu && menu->isVisible())
            menu->hide();
    }
}

void OnLinkUp(QObject* receiver, const std::function<void()>& linkUp)
{
    Network::AlarmNet* net = MainWindow::Instance() ? Network::Instance() : nullptr;
    if (!net)
        return;
    QObject::connect(net->Client(), &Network::ClientLink::ConnectionStatusChanged, receiver, [linkUp](bool connected) {
        if (connected)
            linkUp();
    });
}

void ShowTrayAlarm(const QString& station, QWidget* window)
{
    SysTrayUtil::TraySetAlarm(QStringLiteral("ALARM: ") + station + QStringLiteral(" hat den Notruf ausgelöst!"));
    MainWindow* main = MainWindow::Instance();
    QAction* entry = main ? main->MenuEntry(QStringLiteral("popUpAlarm")) : nullptr;
    if (!entry)
        return;
    QObject::disconnect(g_trayAck);
    g_trayAck = QObject::connect(entry, &QAction::triggered, window, &QWidget::close);
    entry->setVisible(true);
}

void ClearTrayAlarm()
{
    QObject::disconnect(g_trayAck);
    SysTrayUtil::TrayClearAlarm();
    if (MainWindow* main = MainWindow::Instance()) {
        if (QAction* entry = main->MenuEntry(QStringLiteral("popUpAlarm")))
            entry->setVisible(false);
    }
}

} // namespace AlarmIO
