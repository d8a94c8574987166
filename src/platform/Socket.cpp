#include "platform/Socket.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstdio>

#include <cstring>

#ifdef Q_OS_UNIX
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// The handle the last Accept took over; lets the listener close a waiting connection nobody accepted.
qintptr g_taken = -1;

// Listener backlog: a whole site's stations reconnect at once after a server restart.
constexpr int kBacklog = 1024;
// How long a closed connection may go on sending what it still holds before it is cut.
constexpr int kDrainMs = 5000;

QString DottedText(const QHostAddress& address)
{
    if (address.isNull())
        return QString();
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

class SocketListener : public QTcpServer
{
public:
    explicit SocketListener(Socket* owner) : QTcpServer(owner), m_owner(owner) {}

protected:
    void incomingConnection(qintptr handle) override { m_owner->Incoming(handle); }

private:
    Socket* m_owner;
};

Socket::Socket(int index, QObject* parent) : QObject(parent), m_index(index) {}

Socket::~Socket()
{
    Release();
}

void Socket::SetUp()
{
    Release();
    m_bindAddress.clear();
    m_bindPort = 0;
}

void Socket::Bind(const QString& localAddress, quint16 localPort)
{
    m_bindAddress = localAddress;
    m_bindPort = localPort;
}

bool Socket::ApplyLiveness(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    const int fd = static_cast<int>(descriptor);
    const struct
    {
        int level, name, value;
        const char* what;
    } options[] = {
        {SOL_SOCKET, SO_KEEPALIVE, 1, "SO_KEEPALIVE"},
        {IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleS, "TCP_KEEPIDLE"},
        {IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalS, "TCP_KEEPINTVL"},
        {IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveCount, "TCP_KEEPCNT"},
        {IPPROTO_TCP, TCP_USER_TIMEOUT, kUserTimeoutMs, "TCP_USER_TIMEOUT"},
    };
    bool ok = true;
    for (const auto& o : options) {
        if (::setsockopt(fd, o.level, o.name, &o.value, sizeof o.value) != 0) {
            std::fprintf(stderr, "tavinor: setsockopt %s failed: %s\n", o.what, std::strerror(errno));
            ok = false;
        }
    }
    return ok;
#else
    Q_UNUSED(descriptor);
    return false;
#endif
}

QString Socket::PeerOfHandle(qintptr handle)
{
#ifdef Q_OS_UNIX
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(static_cast<int>(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
        sa.sin_family != AF_INET)
        return QString();
    return QHostAddress(ntohl(sa.sin_addr.s_addr)).toString();
#else
    Q_UNUSED(handle);
    return QString();
#endif
}

bool Socket::Listen()
{
    Release();
    auto* server = new SocketListener(this);
    server->setListenBacklogSize(kBacklog);
    const QHostAddress address(m_bindAddress.isEmpty() ? QStringLiteral("0.0.0.0") : m_bindAddress);
    if (!server->listen(address, m_bindPort)) {
        const QString why = server->errorString();
        std::fprintf(stderr, "tavinor: listen on %s:%u failed: %s\n", qPrintable(address.toString()), m_bindPort,
                     qPrintable(why));
        delete server;
        const int code = static_cast<int>(QAbstractSocket::AddressInUseError);
        QTimer::singleShot(0, this, [this, code, why] { emit Error(m_index, code, why); });
        return false;
    }
    m_server = server;
    return true;
}

void Socket::Incoming(qintptr handle)
{
    g_taken = -1;
    emit ConnectionRequest(m_index, handle);
    if (g_taken != handle) {
        std::fprintf(stderr, "tavinor: waiting connection %lld not accepted, closed\n", static_cast<long long>(handle));
#ifdef Q_OS_UNIX
        ::close(static_cast<int>(handle));
#endif
    }
    g_taken = -1;
}

void Socket::Accept(qintptr handle)
{
    Release();
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        std::fprintf(stderr, "tavinor: accept failed: %s\n", qPrintable(socket->errorString()));
        delete socket;
        return;
    }
    g_taken = handle;
    ApplyLiveness(handle);
    Adopt(socket);
    m_lastPeer = DottedText(socket->peerAddress());
    // An accepted connection is up at once; the event still arrives as a message of its own, after the
    // accept handler, as every other socket event does.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation && IsConnected())
                emit ConnectedEvent(m_index);
        },
        Qt::QueuedConnection);
}

void Socket::Connect(const QString& host, quint16 port)
{
    Release();
    auto* socket = new QTcpSocket(this);
    Adopt(socket);
    if (!m_bindAddress.isEmpty() || m_bindPort != 0)
        socket->bind(QHostAddress(m_bindAddress.isEmpty() ? QStringLiteral("0.0.0.0") : m_bindAddress), m_bindPort);
    socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::IPv4Protocol);
}

void Socket::Adopt(QTcpSocket* socket)
{
    ++m_generation;
    m_socket = socket;
    socket->setReadBufferSize(kMaxUnread);
    connect(socket, &QTcpSocket::connected, this, [this] {
        m_lastPeer = DottedText(m_socket->peerAddress());
        ApplyLiveness(m_socket->socketDescriptor());
        emit ConnectedEvent(m_index);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this] { emit Disconnected(m_index); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        emit Error(m_index, static_cast<int>(error), m_socket ? m_socket->errorString() : QString());
    });
    connect(socket, &QTcpSocket::readyRead, this, [this] {
        if (m_socket)
            emit DataArrival(m_index, m_socket->bytesAvailable());
    });
}

QByteArray Socket::Read(qint64 count)
{
    return m_socket ? m_socket->read(count) : QByteArray();
}

QByteArray Socket::ReadAll()
{
    return m_socket ? m_socket->readAll() : QByteArray();
}

bool Socket::Write(const QByteArray& bytes)
{
    if (!IsConnected())
        return false;
    // Hand the bytes to the system at once when nothing is queued before them. Going through the socket's
    // own buffer costs a write notification switched on and off per line, and the event dispatcher pays
    // for that in proportion to all open sockets: a relay to a thousand stations grew quadratic.
    int error = 0;
    const qintptr fd = DirectHandle();
    const qsizetype sent = fd < 0 ? 0 : SendNow(fd, bytes.constData(), bytes.size(), error);
    return Settle(bytes, sent, error);
}

qintptr Socket::DirectHandle() const
{
#ifdef Q_OS_UNIX
    if (IsConnected() && m_socket->bytesToWrite() == 0)
        return m_socket->socketDescriptor();
#endif
    return -1;
}

qsizetype Socket::SendNow(qintptr descriptor, const char* data, qsizetype size, int& error)
{
    error = 0;
#ifdef Q_OS_UNIX
    ssize_t n;
    do {
        n = ::send(static_cast<int>(descriptor), data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n >= 0)
        return n;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        error = errno;
#else
    Q_UNUSED(descriptor);
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
    return 0;
}

bool Socket::Settle(const QByteArray& bytes, qsizetype sent, int error)
{
    if (error != 0) {
        Fail(QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    if (sent == bytes.size())
        return true;
    if (!m_socket)
        return false;
    // The rest waits in the socket's buffer; more than the limit of it is the backlog of a peer that does
    // not read.
    m_socket->write(bytes.constData() + sent, bytes.size() - sent);
    if (m_socket->bytesToWrite() > kMaxUnsent) {
        const QString peer = PeerAddress();
        std::fprintf(stderr, "tavinor: %s does not read, connection closed\n", qPrintable(peer));
        Close();
        emit WriteOverflow(m_index, peer);
        return false;
    }
    return true;
}

void Socket::Fail(const QString& why)
{
    std::fprintf(stderr, "tavinor: send to %s failed: %s\n", qPrintable(PeerAddress()), qPrintable(why));
    // Reported as the connection's own events, after the caller's handler: a send inside a handler must
    // not pull the link away under it.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, why] {
            if (generation != m_generation)
                return;
            Release();
            emit Error(m_index, static_cast<int>(QAbstractSocket::NetworkError), why);
            emit Disconnected(m_index);
        },
        Qt::QueuedConnection);
}

void Socket::Close()
{
    Release();
}

void Socket::Release()
{
    ++m_generation;
    if (m_server) {
        m_server->close();
        m_server->deleteLater();
        m_server = nullptr;
    }
    if (!m_socket)
        return;
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    disconnect(socket, nullptr, this, nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        // Let what was written go out (a relay just before a close must still arrive), then end.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kDrainMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

bool Socket::IsConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool Socket::IsListening() const
{
    return m_server && m_server->isListening();
}

int Socket::StateNumber() const
{
    if (IsListening())
        return Waiting;
    if (!m_socket)
        return Closed;
    switch (m_socket->state()) {
    case QAbstractSocket::ConnectedState:
        return Connected;
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        return Waiting;
    case QAbstractSocket::BoundState:
        return Opening;
    default:
        return Closed;
    }
}

QString Socket::PeerAddress() const
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        return DottedText(m_socket->peerAddress());
    return m_lastPeer;
}

QString Socket::LocalAddress() const
{
    return IsConnected() ? DottedText(m_socket->localAddress()) : QString();
}

QString Socket::ConnectionText() const
{
    if (!IsConnected())
        return QString();
    return LocalAddress() + QLatin1Char(':') + QString::number(m_socket->localPort()) + QLatin1Char('-') +
           PeerAddress() + QLatin1Char(':') + QString::number(m_socket->peerPort());
}

qint64 Socket::BytesAvailable() const
{
    return m_socket ? m_socket->bytesAvailable() : 0;
}

qint64 Socket::BytesToWrite() const
{
    return m_socket ? m_socket->bytesToWrite() : 0;
}
