#pragma once

#include "platform/SocketPoller.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

class QTimer;

// One element of a socket array: either the listening socket of its array or one TCP connection (IPv4),
// on the system's non-blocking sockets, watched by the program's one SocketPoller. Every operation returns
// at once; outcomes arrive as signals on the window thread, each carrying the index. Error codes and
// texts are those of QAbstractSocket, which the rest of the program knows. A socket is never destroyed
// during a run: closing it leaves an element that can be set up again.
class Socket : public QObject, private SocketPoller::Client
{
    Q_OBJECT
public:
    // The state number the error handler looks at: only Connected (3) matters to the program.
    enum State { Closed = 0, Opening = 1, Waiting = 2, Connected = 3 };

    // Unsent data a peer may leave piled up before its connection is given up. A peer that never reads
    // would otherwise make the program's memory grow with every broadcast.
    static constexpr qint64 kMaxUnsent = 256 * 1024;
    // Received data buffered per connection before the system's own buffer and then the sender are made
    // to wait: a peer that sends faster than its lines are handled costs bounded memory.
    static constexpr qint64 kMaxUnread = 64 * 1024;
    // A peer that vanished without closing (power cut, cable pulled) must not look connected for hours:
    // keep-alive probes after 10 s of silence, every 5 s, and a user timeout that gives up on a connection
    // whose probes or data stay unacknowledged for 25 s. The timers are per socket, nothing system-wide.
    static constexpr int kKeepAliveIdleS = 10;
    static constexpr int kKeepAliveIntervalS = 5;
    static constexpr int kKeepAliveCount = 3;
    static constexpr int kUserTimeoutMs = 25000;
    // Sets the options above on a connected TCP socket; false (with a line on standard error) when the
    // system refuses one.
    static bool ApplyLiveness(qintptr descriptor);
    // The dotted IPv4 address of the peer of a waiting connection, before it is accepted.
    static QString PeerOfHandle(qintptr handle);

    Socket(int index, QObject* parent);
    ~Socket() override;

    int Index() const { return m_index; }

    // Closes whatever is open and forgets the previous binding.
    void SetUp();
    void Bind(const QString& localAddress, quint16 localPort);
    // False when the address cannot be listened on (port taken); the Error event follows as well.
    bool Listen();
    // Takes over a waiting connection announced by ConnectionRequest.
    void Accept(qintptr handle);
    // IPv4 only: the program speaks in dotted IPv4 addresses.
    void Connect(const QString& host, quint16 port);
    QByteArray Read(qint64 count);
    QByteArray ReadAll();
    // Sends when connected; false when not connected or when the system refused the bytes. A refused send
    // ends the connection: Error and Disconnected follow as events of their own.
    bool Write(const QByteArray& bytes);
    // The descriptor a line may be handed to the system on directly: connected with nothing queued
    // before it; -1 otherwise.
    qintptr DirectHandle() const;
    // One non-blocking send, safe on any thread: how many bytes the system took; `error` is the reason
    // of a refusal, 0 when it only had no room.
    static qsizetype SendNow(qintptr descriptor, const char* data, qsizetype size, int& error);
    // The rest of a Write after `sent` bytes went out directly (`error` from SendNow): queues what is
    // left, or ends the connection as Write does.
    bool Settle(const QByteArray& bytes, qsizetype sent, int error);
    // Ends the connection or stops listening. No Disconnected event follows a close of our own.
    void Close();

    bool IsConnected() const;
    bool IsListening() const;
    int StateNumber() const;
    QString PeerAddress() const;
    QString LocalAddress() const;
    // Names the connection: "local:port-peer:port".
    QString ConnectionText() const;
    qint64 BytesAvailable() const;
    qint64 BytesToWrite() const;

signals:
    void ConnectionRequest(int index, qintptr handle);
    void ConnectedEvent(int index);
    void Disconnected(int index);
    void Error(int index, int code, const QString& description);
    void DataArrival(int index, qint64 bytes);
    // The peer left too much unsent data; the connection has been closed.
    void WriteOverflow(int index, const QString& peer);

private:
    enum class Mode { Idle, Listening, Connecting, Connected };

    void Ready(std::uint32_t events) override;
    // Registers, changes or ends the descriptor's registration to what the mode and buffers call for.
    // False when the system refused to watch it; a connection then fails with an event of its own.
    bool Watch();
    void Release();
    // Closes the descriptor; a connection with bytes still queued hands them to a drain first.
    void CloseDescriptor();
    void Incoming(qintptr handle);
    void AcceptWaiting();
    // Not woken for waiting connections for a while: what wakes the program must not be what it
    // cannot take.
    void PauseAccepting();
    void TryNextAddress();
    void ConnectDone();
    void ConnectFailed(int code, const QString& why);
    void Established();
    void ReadIn();
    void Flush();
    // The connection ended by the peer (`error` 0, a reset) or by the system: Error, then Disconnected, as
    // QTcpSocket reports.
    void Lost(int error);
    void Fail(const QString& why);

    const int m_index;
    QString m_bindAddress;
    quint16 m_bindPort = 0;
    Mode m_mode = Mode::Idle;
    int m_fd = -1;
    std::uint64_t m_key = 0;
    std::uint32_t m_watched = 0;
    // Received and not yet read; reading pauses while it holds kMaxUnread.
    QByteArray m_in;
    // Not woken for input: for the bytes of a connection whose buffer is full, for the waiting connections
    // of a listener that has no descriptor left for them.
    bool m_inputPaused = false;
    // Whether DataArrival is being handled: it is not reported again from inside its own handler.
    bool m_inArrival = false;
    // Written and not yet taken by the system.
    QByteArray m_out;
    QStringList m_candidates; // addresses still to try for the connection under way
    quint16 m_connectPort = 0;
    QTimer* m_connectTimer = nullptr;
    QString m_peer, m_local;
    quint16 m_peerPort = 0, m_localPort = 0;
    QString m_lastPeer;
    quint64 m_generation = 0;
};
