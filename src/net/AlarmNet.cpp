#include "net/AlarmNet.h"

#include "core/ErrorObject.h"
#include "core/EventLog.h"
#include "core/Globals.h"
#include "net/ClientLink.h"
#include "net/LinkRules.h"
#include "net/Protocol.h"
#include "net/ReceiptRelay.h"
#include "net/ServerRelay.h"
#include "platform/Cp1252.h"
#include "platform/SocketArray.h"
#include "ui/MainWindow.h"
#include "ui/SysTrayUtil.h"
#include "ui/XPMsgBox.h"

#include <QAbstractSocket>
#include <QDateTime>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <exception>

namespace Network {

namespace {

const QString kOverlongText = QStringLiteral("Zeile ohne Zeilenende verworfen (über 4096 Zeichen)");
// How often counted stray lines are looked at for their summary.
constexpr int kSummarySweepMs = 5000;
constexpr int kExcerptChars = 24;

// The start of a stray line as the log shows it: short, control characters as "?".
QString Excerpt(const QString& line)
{
    QString text = line.left(kExcerptChars);
    for (QChar& c : text) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    return line.size() > kExcerptChars ? text + QStringLiteral("...") : text;
}

} // namespace

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

    m_clock.start();
    m_summaryTimer = new QTimer(this);
    m_summaryTimer->setInterval(kSummarySweepMs);
    connect(m_summaryTimer, &QTimer::timeout, this, &AlarmNet::SweepDropped);
    // The station's uplink (outbound slot 0) failing in any way is the loss of its server.
    connect(m_writer, &SocketArray::ConnectedEvent, this, [this](int index) {
        if (index == 0 && !m_server)
            m_client->UplinkUp();
    });
    connect(m_writer, &SocketArray::Disconnected, this, [this](int index) {
        if (index == 0 && !m_server)
            m_client->UplinkFailed(QStringLiteral("Verbindung getrennt"));
    });
    connect(m_writer, &SocketArray::Error, this, [this](int index, int, const QString& description) {
        if (index == 0 && !m_server)
            m_client->UplinkFailed(description);
    });

    m_listenRetry = new QTimer(this);
    m_listenRetry->setObjectName(QStringLiteral("listenRetryTimer"));
    m_listenRetry->setInterval(kListenRetryMs);
    connect(m_listenRetry, &QTimer::timeout, this, &AlarmNet::RetryListener);
}

AlarmNet::~AlarmNet()
{
    delete m_connectBox.data();
}

void AlarmNet::OpenListener(quint16 port)
{
    m_listenPort = port;
    m_listenRetry->stop();
    RetryListener();
}

void AlarmNet::RetryListener()
{
    Socket* s = m_listener->Load(0);
    s->Close();
    s->SetUp();
    s->Bind(m_config.listenAddress, m_listenPort);
    const QString port = QString::number(m_listenPort);
    if (s->Listen()) {
        m_listenRetry->stop();
        if (m_listenFailed) {
            m_listenFailed = false;
            LogConnection(QString(), QStringLiteral("Port ") + port + QStringLiteral(" geöffnet"));
            UpdateTrayTip();
            emit ListenerOpened();
        }
        return;
    }
    m_listenRetry->start();
    if (m_listenFailed)
        return;
    m_listenFailed = true;
    LogConnection(QString(), QStringLiteral("Port ") + port + QStringLiteral(" belegt, neuer Versuch alle 10 s"));
    UpdateTrayTip();
    if (m_portNoticeShown)
        return;
    m_portNoticeShown = true;
    // After the handler that opened the listener: the start must not wait for the notice.
    QTimer::singleShot(0, this, [port] {
        int style = 48;
        ShowXPMessage(
            QStringLiteral("Port ") + port + QStringLiteral(" ist belegt, tavinor kann ihn nicht öffnen.") +
                QStringLiteral("\r\nSolange er belegt ist, werden keine Alarme empfangen oder weitergeleitet.") +
                QStringLiteral("\r\nDas Programm versucht es alle 10 Sekunden erneut."),
            style, QStringLiteral("tavinor"), nullptr);
    });
}

bool AlarmNet::ListenerUp() const
{
    Socket* s = m_listener->At(0);
    return s && s->IsListening();
}

void AlarmNet::UpdateTrayTip()
{
    QWidget* main = MainWindow::Widget();
    if (!main || Globals::IsEnding)
        return;
    QString tip = main->windowTitle();
    if (m_listenFailed)
        tip += QStringLiteral(" - Port ") + QString::number(m_listenPort) + QStringLiteral(" belegt!");
    else if (!m_server && !m_client->IsConnected())
        tip += QStringLiteral(" - Keine Verbindung zum Server!");
    SysTrayUtil::TraySetTip(tip);
}

void AlarmNet::CloseDownlinks()
{
    for (int i = 1; i <= m_listener->UBound(); ++i) {
        m_listener->At(i)->Close();
        Slot(i).pending.clear();
        Slot(i).framer.Reset();
    }
}

bool AlarmNet::OtherDownlinkUp(int except) const
{
    for (int i = 1; i <= m_listener->UBound(); ++i) {
        if (i != except && m_listener->At(i)->IsConnected())
            return true;
    }
    return false;
}

void AlarmNet::StartServerListener()
{
    // Started with the server, not at its first alarm: that one must not wait for a thread to start.
    m_relayBatch.Start();
    OpenListener(m_config.serverPort);
}

void AlarmNet::StartClientListener()
{
    OpenListener(m_config.stationPort);
}

void AlarmNet::CloseForExit()
{
    m_listenRetry->stop();
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
        // False also when the system refused the line: the uplink then ends, which counts as losing the
        // server.
        Socket* uplink = m_writer->Load(0);
        if (Protocol::RaisesAlarm(Protocol::CodeOf(value)))
            m_client->AlarmRaised();
        return uplink->Write(bytes);
    }
    // Every downlink, whatever its state: one that is not up simply misses the line.
    m_relayBatch.Write(bytes, *m_writer, 1);
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
    if (MainWindow* main = MainWindow::Instance())
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
    if (!m_server) {
        // A station takes its downlink from its server only. Anyone else is closed before anything else
        // happens (the listener closes what is not accepted), and is logged at most once a minute.
        const QString peer = Socket::PeerOfHandle(handle);
        if (!m_client->AcceptsDownlinkFrom(peer)) {
            if (m_client->LogRefusal(peer, QDateTime::currentMSecsSinceEpoch()))
                LogConnection(peer, QStringLiteral("Verbindung abgewiesen: nicht der Server"));
            return;
        }
    }
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
    ReportDropped(slot, true);
    s->SetUp();
    // A reused slot starts empty: the previous station's record must not name this connection.
    SlotState& state = Slot(slot);
    state.record.clear();
    state.framer.Reset();
    state.pending.clear();
    state.audit.Reset();
    ++state.epoch;
    s->Accept(handle);
    Trace(QStringLiteral("Listner accept ") + QString::number(handle));
}

void AlarmNet::WS_Listener_Connect(int index)
{
    Trace(QStringLiteral("Listner connected"));
    if (m_server) {
        Socket* s = m_listener->At(index);
        LogConnection(s->PeerAddress(), QStringLiteral("Client Anwendung gestartet"), index);
    } else {
        m_client->DownlinkAccepted(index);
    }
}

void AlarmNet::WS_Listener_Disconnect(int index)
{
    // What the peer sent before it closed is still buffered (a bounded amount): it counts, and so does a
    // last line without its CR.
    if (index > 0 && !Slot(index).busy) {
        TakeLines(index, -1);
        const QByteArray last = Slot(index).framer.Flush();
        if (!last.isEmpty())
            Slot(index).pending.append(last);
        HandlePending(index, -1);
    }
    ConnectionEnded(index);
}

void AlarmNet::ConnectionEnded(int index)
{
    Socket* s = m_listener->At(index);
    if (!s || index == 0)
        return;
    Trace(QStringLiteral("Listner disconnected"));
    ReportDropped(index, true);
    ++Slot(index).epoch;
    if (m_server) {
        LogConnection(s->PeerAddress(), QStringLiteral("Client Anwendung beendet"), index);
        m_relay->doServerDisconnect(index);
    } else if (!OtherDownlinkUp(index)) {
        // An old downlink that the server closes after a newer one came up is no loss.
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
    if (Globals::IsHeadless) {
        std::fprintf(stderr, "tavinor: Connect: %s\n", qPrintable(description));
    } else if (!m_connectBox) {
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
    // A slot whose turn is queued has more waiting already; it is read then, in its order.
    if (index > 0 && !Slot(index).turnQueued)
        Turn(index);
}

void AlarmNet::Turn(int index)
{
    Socket* s = m_listener->At(index);
    // A handler that lets the message loop run (an alarm window) may bring more data for this slot: it
    // stays buffered behind the lines already taken, so the order of arrival holds.
    if (!s || Slot(index).busy)
        return;
    if (Slot(index).pending.size() < kTurnLines)
        TakeLines(index, kTurnBytes);
    HandlePending(index, kTurnLines);
    if (s->IsConnected() && (!Slot(index).pending.isEmpty() || s->BytesAvailable() > 0))
        QueueTurn(index);
}

void AlarmNet::QueueTurn(int index)
{
    if (Slot(index).turnQueued)
        return;
    Slot(index).turnQueued = true;
    // Posted, so every other connection's waiting data and every timer get their turn before this one's.
    QMetaObject::invokeMethod(
        this,
        [this, index] {
            Slot(index).turnQueued = false;
            Turn(index);
        },
        Qt::QueuedConnection);
}

void AlarmNet::TakeLines(int index, qint64 maxBytes)
{
    Socket* s = m_listener->At(index);
    if (!s)
        return;
    const QByteArray bytes = maxBytes < 0 ? s->ReadAll() : s->Read(maxBytes);
    if (bytes.isEmpty())
        return;
    const quint64 epoch = Slot(index).epoch;
    const LineFramer::Result r = Slot(index).framer.Feed(bytes);
    for (int i = 0; i < r.overlong && Slot(index).epoch == epoch; ++i)
        StrayLine(index, kOverlongText);
    if (Slot(index).epoch == epoch)
        Slot(index).pending.append(r.lines);
}

void AlarmNet::HandlePending(int index, int maxLines)
{
    Slot(index).busy = true;
    const quint64 epoch = Slot(index).epoch;
    for (int n = 0; n != maxLines && Slot(index).epoch == epoch && !Slot(index).pending.isEmpty(); ++n) {
        const QByteArray line = Slot(index).pending.takeFirst();
        HandleLine(index, Cp1252::Decode(line));
    }
    Slot(index).busy = false;
}

void AlarmNet::StrayLine(int index, const QString& text)
{
    ReportDropped(index, false);
    switch (Slot(index).audit.Invalid(m_clock.elapsed())) {
    case LineAudit::Verdict::Log:
        LogStray(index, text);
        Trace(text);
        break;
    case LineAudit::Verdict::Count:
        if (!m_summaryTimer->isActive())
            m_summaryTimer->start();
        break;
    case LineAudit::Verdict::GiveUp:
        ReportDropped(index, true);
        LogStray(index, QStringLiteral("Verbindung getrennt: seit 30 s nur ungültige Zeilen"));
        if (Socket* s = m_listener->At(index))
            std::fprintf(stderr, "tavinor: %s sends only invalid lines, connection closed\n",
                         qPrintable(s->PeerAddress()));
        ConnectionEnded(index);
        break;
    }
}

void AlarmNet::LogStray(int index, const QString& text)
{
    // The station field from a record stays short whatever name the peer registered with.
    Socket* s = m_listener->At(index);
    const QString peer = s ? s->PeerAddress() : QString();
    const QString station = Functions::LogStationField(peer, m_server ? StationRecord(index) : QString());
    // Longer only with a record: "address (name)", which keeps its closing bracket.
    Functions::WriteLog(
        station.size() > kLogStationChars ? station.left(kLogStationChars - 1) + QLatin1Char(')') : station, text);
}

void AlarmNet::ReportDropped(int index, bool all)
{
    if (index >= static_cast<int>(m_slots.size()))
        return;
    const int n = Slot(index).audit.TakeDropped(m_clock.elapsed(), all);
    if (n == 0)
        return;
    Socket* s = m_listener->At(index);
    const QString peer = s ? s->PeerAddress() : QString();
    LogStray(index, QStringLiteral("%1 weitere ungültige Zeilen von %2 verworfen").arg(n).arg(peer));
}

void AlarmNet::SweepDropped()
{
    bool left = false;
    for (int i = 1; i < static_cast<int>(m_slots.size()); ++i) {
        ReportDropped(i, false);
        left = left || m_slots[static_cast<size_t>(i)].audit.HasDropped();
    }
    if (!left)
        m_summaryTimer->stop();
}

void AlarmNet::HandleLine(int index, const QString& line)
{
    Socket* s = m_listener->At(index);
    const QString peer = s ? s->PeerAddress() : QString();
    // A receipt counts only from a station that offered the extension: anyone else sending 014 lines is
    // stray input like any other.
    if (!Protocol::IsAccepted(line, m_server) && !(m_server && m_relay->receipts()->Accepts(peer, line))) {
        StrayLine(index, QStringLiteral("Ungültige Zeile verworfen: ") + Excerpt(line));
        return;
    }
    Slot(index).audit.Valid(m_clock.elapsed());
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
            // Likewise an alarm goes on the screen before it is logged.
            const bool alarm = Protocol::ShowsAlarm(code);
            if (!alarm)
                LogConnection(peer, code);
            m_client->HandleLine(line);
            if (alarm)
                LogConnection(peer, code);
        }
    } catch (const std::exception& e) {
        SharedError().SetError(-1, QStringLiteral("Receive"), QString::fromLocal8Bit(e.what()));
    }
    Trace(message);
    emit LineHandled(index, line);
}

void AlarmNet::WS_Writer_DataArrival(int index, qint64)
{
    // Outbound connections carry one direction only: whatever comes back is read and dropped, but for a
    // station offering an extension on the downlink the server opened.
    Socket* s = m_writer->At(index);
    if (!s)
        return;
    const QByteArray bytes = s->ReadAll();
    if (m_server && index > 0)
        m_relay->receipts()->DownlinkBytes(index, bytes);
}

void AlarmNet::WS_Writer_Overflow(int index, const QString& peer)
{
    LogConnection(peer, QStringLiteral("Verbindung getrennt: Gegenstelle nimmt keine Daten an"));
    if (index == 0 && !m_server && m_writer == sender())
        m_client->UplinkFailed(QStringLiteral("Server nimmt keine Daten an"));
}

} // namespace Network
