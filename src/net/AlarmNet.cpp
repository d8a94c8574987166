#include "net/AlarmNet.h"

#include "core/Globals.h"
#include "core/frmMain.h"
#include "log/ErrorObject.h"
#include "log/EventLog.h"
#include "net/ClientLink.h"
#include "net/Protocol.h"
#include "net/ServerRelay.h"
#include "platform/Cp1252.h"
#include "platform/SocketArray.h"

#include <QAbstractSocket>
#include <QMessageBox>
#include <QTimer>

#include <exception>

namespace Network {

AlarmNet::AlarmNet(const Timers& timers, const Config& config, QObject* parent)
    : QObject(parent), m_config(config), m_listener(new SocketArray(QStringLiteral("WS_Listener"), this)),
      m_writer(new SocketArray(QStringLiteral("WS_Writer"), this))
{
    setObjectName(QStringLiteral("AlarmNet"));
    Timers t = timers;
    auto make = [this](QTimer*& timer, const char* name, int interval) {
        if (timer)
            return;
        timer = new QTimer(this);
        timer->setObjectName(QLatin1String(name));
        timer->setInterval(interval);
    };
    make(t.connect, "connectTimer", 2000);
    make(t.check, "checkConnectTimer", 5000);
    make(t.exit, "exitTimer", 1000);
    m_relay = new ServerRelay(this);
    m_client = new ClientLink(this, t.connect, t.check, t.exit);

    connect(m_listener, &SocketArray::ConnectionRequest, this, &AlarmNet::WS_Listener_ConnectionRequest);
    connect(m_listener, &SocketArray::ConnectedEvent, this, &AlarmNet::WS_Listener_Connect);
    connect(m_listener, &SocketArray::Disconnected, this, &AlarmNet::WS_Listener_Disconnect);
    connect(m_listener, &SocketArray::Error, this, &AlarmNet::WS_Listener_Error);
    connect(m_listener, &SocketArray::DataArrival, this, &AlarmNet::WS_Listener_DataArrival);
    connect(m_listener, &SocketArray::WriteOverflow, this, &AlarmNet::WS_Writer_Overflow);
    connect(m_writer, &SocketArray::DataArrival, this, &AlarmNet::WS_Writer_DataArrival);
    connect(m_writer, &SocketArray::WriteOverflow, this, &AlarmNet::WS_Writer_Overflow);
}

AlarmNet::~AlarmNet()
{
    delete m_connectBox.data();
}

void AlarmNet::OpenListener(quint16 port)
{
    Socket* s = m_listener->Load(0);
    s->Close();
    s->SetUp();
    s->Bind(m_config.listenAddress, port);
    s->Listen();
}

void AlarmNet::StartServerListener()
{
    OpenListener(m_config.serverPort);
}

void AlarmNet::StartClientListener()
{
    OpenListener(m_config.stationPort);
}

void AlarmNet::CloseForExit()
{
    Socket* listener = m_listener->Load(0);
    if (listener->IsListening())
        listener->Close();
    listener->SetUp();
    m_writer->Load(0)->SetUp();
}

bool AlarmNet::doSendData(const QString& value)
{
    const QByteArray bytes = Cp1252::Encode(value + QStringLiteral("\r\n"));
    if (!m_server) {
        Socket* uplink = m_writer->Load(0);
        uplink->Write(bytes);
        return uplink->IsConnected();
    }
    // Ascending slot order, whatever each slot's state: a downlink that is not up simply misses the line.
    for (int i = 1; i <= m_writer->UBound(); ++i)
        m_writer->At(i)->Write(bytes);
    return true;
}

AlarmNet::SlotState& AlarmNet::Slot(int index)
{
    if (static_cast<int>(m_slots.size()) <= index)
        m_slots.resize(static_cast<size_t>(index) + 1);
    return m_slots[static_cast<size_t>(index)];
}

QString AlarmNet::StationRecord(int slot) const
{
    return slot >= 0 && slot < static_cast<int>(m_slots.size()) ? m_slots[static_cast<size_t>(slot)].record : QString();
}

void AlarmNet::SetStationRecord(int slot, const QString& record)
{
    Slot(slot).record = record;
}

int AlarmNet::HighestListenerSlot() const
{
    return qMax(0, m_listener->UBound());
}

int AlarmNet::HighestWriterSlot() const
{
    return qMax(0, m_writer->UBound());
}

void AlarmNet::Trace(const QString& entry)
{
    if (Globals::IsEnding)
        return;
    emit Traced(entry);
    if (frmMain* main = frmMain::Instance())
        main->AddReceive(entry);
}

void AlarmNet::LogConnection(const QString& peer, const QString& text, int slot)
{
    Functions::WriteLog(peer, text, slot > 0 ? StationRecord(slot) : QString());
}

void AlarmNet::WS_Listener_ConnectionRequest(int index, qintptr handle)
{
    if (index != 0)
        return;
    int slot = 0;
    for (int i = 1; i <= m_listener->UBound(); ++i) {
        if (!m_listener->At(i)->IsConnected()) {
            slot = i;
            break;
        }
    }
    if (slot == 0)
        slot = qMax(1, m_listener->UBound() + 1);
    Socket* s = m_listener->Load(slot);
    s->SetUp();
    // A reused slot starts empty: the previous station's record must not name this connection.
    SlotState& state = Slot(slot);
    state.record.clear();
    state.framer.Reset();
    state.pending.clear();
    s->Accept(handle);
    Trace(QStringLiteral("Listner accept ") + QString::number(handle));
}

void AlarmNet::WS_Listener_Connect(int index)
{
    Trace(QStringLiteral("Listner connected"));
    if (m_server) {
        Socket* s = m_listener->At(index);
        LogConnection(s->PeerAddress(), QStringLiteral("Client Anwendung gestartet"), index);
    }
}

void AlarmNet::WS_Listener_Disconnect(int index)
{
    ConnectionEnded(index);
}

void AlarmNet::ConnectionEnded(int index)
{
    Socket* s = m_listener->At(index);
    if (!s || index == 0)
        return;
    Trace(QStringLiteral("Listner disconnected"));
    if (m_server) {
        LogConnection(s->PeerAddress(), QStringLiteral("Client Anwendung beendet"), index);
        m_relay->doServerDisconnect(index);
    } else {
        m_client->DownlinkEnded();
    }
    s->Close();
    Slot(index).pending.clear();
}

void AlarmNet::WS_Listener_Error(int index, int code, const QString& description)
{
    Socket* s = m_listener->At(index);
    if (!s || index == 0 || s->StateNumber() != Socket::Connected)
        return;
    // The peer closing or resetting its end is an ordinary end of connection: the disconnected event
    // handles it. Anything else on an established connection is a fault of the network worth a notice.
    if (code == static_cast<int>(QAbstractSocket::RemoteHostClosedError))
        return;
    LogConnection(s->PeerAddress(), QStringLiteral("Verbindungsfehler: ") + description, index);
    // One notice at a time, and never a modal one: the server must go on relaying while it is shown.
    if (!m_connectBox) {
        m_connectBox = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Connect"), description, QMessageBox::Ok);
        m_connectBox->setObjectName(QStringLiteral("ConnectBox"));
        m_connectBox->setAttribute(Qt::WA_DeleteOnClose);
        m_connectBox->setModal(false);
        m_connectBox->show();
    }
    ConnectionEnded(index);
}

void AlarmNet::WS_Listener_DataArrival(int index, qint64)
{
    Socket* s = m_listener->At(index);
    if (!s)
        return;
    const LineFramer::Result r = Slot(index).framer.Feed(s->ReadAll());
    for (int i = 0; i < r.overlong; ++i)
        LogConnection(s->PeerAddress(), QStringLiteral("Zeile ohne Zeilenende verworfen (über 4096 Zeichen)"), index);
    for (const QByteArray& line : r.lines)
        Slot(index).pending.append(line);
    // A handler that lets the message loop run (an alarm window) may bring more data for this slot: it is
    // queued behind the lines already taken, so the order of arrival holds.
    if (Slot(index).busy)
        return;
    Slot(index).busy = true;
    while (!Slot(index).pending.isEmpty()) {
        const QByteArray line = Slot(index).pending.takeFirst();
        HandleLine(index, Cp1252::Decode(line));
    }
    Slot(index).busy = false;
}

void AlarmNet::HandleLine(int index, const QString& line)
{
    Socket* s = m_listener->At(index);
    const QString peer = s ? s->PeerAddress() : QString();
    const QString code = Protocol::CodeOf(line);
    QString message = line;
    try {
        if (m_server) {
            // A line for the stations goes out before it is logged: they wait for it, the log does not.
            const bool relayed = !Protocol::RelayCodeFor(code).isEmpty();
            if (!relayed)
                LogConnection(peer, code, index);
            message = m_relay->HandleLine(index, line, peer);
            if (relayed)
                LogConnection(peer, code, index);
        } else {
            LogConnection(peer, code);
            m_client->HandleLine(line);
        }
    } catch (const std::exception& e) {
        SharedError().SetError(-1, QStringLiteral("Receive"), QString::fromLocal8Bit(e.what()));
    }
    Trace(message);
    emit LineHandled(index, line);
}

void AlarmNet::WS_Writer_DataArrival(int index, qint64)
{
    // Outbound connections carry one direction only: whatever comes back is read and dropped.
    if (Socket* s = m_writer->At(index))
        s->ReadAll();
}

void AlarmNet::WS_Writer_Overflow(int, const QString& peer)
{
    LogConnection(peer, QStringLiteral("Verbindung getrennt: Gegenstelle nimmt keine Daten an"));
}

} // namespace Network
