#pragma once

#include "net/LineAudit.h"
#include "net/LineFramer.h"
#include "platform/SocketBatch.h"

#include <QElapsedTimer>

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <vector>

class QMessageBox;
class QTimer;
class SocketArray;

namespace Network {

class ClientLink;
class ServerRelay;

// The alarm network of one program: the two socket arrays, the station slots, and the connection handlers
// that server and station share. The server's relay and the station's link are its two halves.
class AlarmNet : public QObject
{
    Q_OBJECT
public:
    struct Config
    {
        quint16 serverPort = 10161;
        quint16 stationPort = 10162;
        QString listenAddress = QStringLiteral("0.0.0.0");
        QString outboundAddress; // empty: any local address
    };
    // The main window's timers; missing ones are made here (tests).
    struct Timers
    {
        QTimer* connect = nullptr;
        QTimer* check = nullptr;
        QTimer* exit = nullptr;
    };

    // The most one connection gets handled per turn of the event loop; the rest waits for its next turn,
    // so no peer's backlog holds up another peer's alarm.
    static constexpr qint64 kTurnBytes = 16 * 1024;
    static constexpr int kTurnLines = 32;
    // Station names in log lines about stray input are cut to this.
    static constexpr int kLogStationChars = 64;

    AlarmNet(const Timers& timers, const Config& config, QObject* parent = nullptr);
    ~AlarmNet() override;

    void SetServer(bool server) { m_server = server; }
    bool IsServer() const { return m_server; }
    const Config& config() const { return m_config; }

    // Open the listener on 10161 (server) or 10162 (station). A port that is taken is reported (event log,
    // tray tooltip, one notice) and tried again every 10 s until it opens.
    void StartServerListener();
    void StartClientListener();
    bool ListenerUp() const;
    static constexpr int kListenRetryMs = 10000;
    void CloseForExit();
    // The only way a line leaves the program (the line without its CR LF). Station: writes to the uplink,
    // true when it is connected. Server: writes to every downlink, true.
    bool doSendData(const QString& value);

    SocketArray* WS_Listener() const { return m_listener; }
    SocketArray* WS_Writer() const { return m_writer; }
    ServerRelay* Server() const { return m_relay; }
    ClientLink* Client() const { return m_client; }

    // Station slots (listener slots 1 and up): the record kept with each.
    QString StationRecord(int slot) const;
    void SetStationRecord(int slot, const QString& record);
    int HighestListenerSlot() const;
    int HighestWriterSlot() const;

    // Station: closes every accepted downlink, without the events of a connection end.
    void CloseDownlinks();
    // The tray tooltip: the window title, and what keeps the program from working (port, connection).
    void UpdateTrayTip();

    // Appends an entry to the activity trace of the main window.
    void Trace(const QString& entry);
    // An event-log line about the connection on a listener slot (slot 0: no station record).
    void LogConnection(const QString& peer, const QString& text, int slot = 0);

signals:
    void Traced(const QString& entry);
    // A complete received line was handled on a listener slot (after the role's own handling).
    void LineHandled(int slot, const QString& line);
    // The listener opened after its port had been taken.
    void ListenerOpened();

private:
    struct SlotState
    {
        QString record;
        LineFramer framer;
        QList<QByteArray> pending; // complete lines not yet handled
        bool busy = false;
        bool turnQueued = false;
        quint64 epoch = 0; // counts the connections the slot has had, so a turn notices its end
        LineAudit audit;
    };
    SlotState& Slot(int index);

    void WS_Listener_ConnectionRequest(int index, qintptr handle);
    void WS_Listener_Connect(int index);
    void WS_Listener_Disconnect(int index);
    void WS_Listener_Error(int index, int code, const QString& description);
    void WS_Listener_DataArrival(int index, qint64 bytes);
    void WS_Writer_DataArrival(int index, qint64 bytes);
    void WS_Writer_Overflow(int index, const QString& peer);
    void ConnectionEnded(int index);
    void HandleLine(int index, const QString& line);
    void Turn(int index);
    void QueueTurn(int index);
    // Reads up to `maxBytes` (all that is buffered when negative) and queues the complete lines.
    void TakeLines(int index, qint64 maxBytes);
    void HandlePending(int index, int maxLines);
    // A line that is not part of the protocol: logged, counted, or the end of a garbage-only connection.
    void StrayLine(int index, const QString& text);
    void ReportDropped(int index, bool all);
    void SweepDropped();
    void LogStray(int index, const QString& text);
    bool OtherDownlinkUp(int except) const;
    void OpenListener(quint16 port);
    void RetryListener();

    Config m_config;
    bool m_server = false;
    SocketArray* m_listener;
    SocketArray* m_writer;
    ServerRelay* m_relay;
    ClientLink* m_client;
    std::vector<SlotState> m_slots;
    QPointer<QMessageBox> m_connectBox;
    QElapsedTimer m_clock;
    QTimer* m_summaryTimer;
    QTimer* m_listenRetry;
    quint16 m_listenPort = 0;
    bool m_listenFailed = false;
    bool m_portNoticeShown = false;
    SocketBatch m_relayBatch;
};

} // namespace Network
