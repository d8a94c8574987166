#include "platform/Socket.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handle the last Accept took over; lets the listener close a waiting connection nobody accepted.
qintptr g_taken = -1;

// Listener backlog: a whole site's stations reconnect at once after a server restart.
constexpr int kBacklog = 1024;
// How long a closed connection may go on sending what it still holds before it is cut.
constexpr int kDrainMs = 5000;
// How long a connection may take to be set up before it is given up, as QTcpSocket does.
constexpr int kConnectTimeoutMs = 30000;
// A listener that cannot take a waiting connection (no descriptors left) tries again after this pause
// instead of being woken for it without end.
constexpr int kAcceptPauseMs = 1000;

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The code and text QTcpSocket gives for what the system answered `error`.
std::pair<int, QString> SocketError(int error)
{
    switch (error) {
    case ECONNREFUSED:
    case EINVAL:
        return {QAbstractSocket::ConnectionRefusedError, QStringLiteral("Connection refused")};
    case ETIMEDOUT:
        return {QAbstractSocket::NetworkError, QStringLiteral("Connection timed out")};
    case EHOSTUNREACH:
        return {QAbstractSocket::NetworkError, QStringLiteral("Host unreachable")};
    case ENETUNREACH:
        return {QAbstractSocket::NetworkError, QStringLiteral("Network unreachable")};
    case EACCES:
    case EPERM:
        return {QAbstractSocket::SocketAccessError, QStringLiteral("Permission denied")};
    case EADDRINUSE:
        return {QAbstractSocket::AddressInUseError, QStringLiteral("The bound address is already in use")};
    case EADDRNOTAVAIL:
        return {QAbstractSocket::SocketAddressNotAvailableError, QStringLiteral("The address is not available")};
    default:
        return {QAbstractSocket::UnknownSocketError, ErrnoText(error)};
    }
}

bool SetReuseAddress(int fd)
{
    const int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

// "0.0.0.0" for an empty text; false for what is not a dotted IPv4 address.
bool ToAddress(const QString& text, quint16 port, sockaddr_in& out)
{
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    const QByteArray ascii = (text.isEmpty() ? QStringLiteral("0.0.0.0") : text.trimmed()).toLatin1();
    return ::inet_pton(AF_INET, ascii.constData(), &out.sin_addr) == 1;
}

QString DottedText(const sockaddr_in& sa)
{
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text) ? QString::fromLatin1(text) : QString();
}

// Ends the registration under `key` (when there is one) before `fd` is closed or left unwatched.
void Unwatch(std::uint64_t& key, int fd)
{
    if (key != 0)
        if (SocketPoller* poller = SocketPoller::Instance())
            poller->Remove(key, fd);
    key = 0;
}

// Sends from the front of `bytes` until all is sent or the system takes no more: 0, or the reason the
// system refused.
int SendQueued(int fd, QByteArray& bytes)
{
    while (!bytes.isEmpty()) {
        int error = 0;
        const qsizetype n = Socket::SendNow(fd, bytes.constData(), bytes.size(), error);
        if (error != 0 || n == 0)
            return error;
        bytes.remove(0, n);
    }
    return 0;
}

// What is left of a connection closed with unsent data: it goes on sending that, then closes, or is cut
// after kDrainMs. Deletes itself.
class Drain : public QObject, private SocketPoller::Client
{
public:
    Drain(int fd, QByteArray bytes) : m_fd(fd), m_bytes(std::move(bytes))
    {
        SocketPoller* poller = SocketPoller::Instance();
        m_key = poller ? poller->Add(m_fd, EPOLLOUT, this) : 0;
        if (m_key == 0) {
            Finish();
            return;
        }
        QTimer::singleShot(kDrainMs, this, [this] { Finish(); });
    }

private:
    void Ready(std::uint32_t) override
    {
        if (SendQueued(m_fd, m_bytes) == 0 && !m_bytes.isEmpty())
            return; // the rest when there is room
        Finish();
    }
    void Finish()
    {
        if (m_fd < 0)
            return;
        Unwatch(m_key, m_fd);
        ::close(m_fd);
        deleteLater();
        m_fd = -1;
    }

    int m_fd;
    std::uint64_t m_key = 0;
    QByteArray m_bytes;
};

} // namespace

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
}

QString Socket::PeerOfHandle(qintptr handle)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(static_cast<int>(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
        sa.sin_family != AF_INET)
        return QString();
    return DottedText(sa);
}

bool Socket::Listen()
{
    Release();
    sockaddr_in address;
    int error = EADDRNOTAVAIL;
    if (ToAddress(m_bindAddress, m_bindPort, address)) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 && SetReuseAddress(m_fd) &&
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(m_fd, kBacklog) == 0) {
            m_mode = Mode::Listening;
            if (Watch())
                return true;
            error = 0;
        } else {
            error = errno;
        }
        CloseDescriptor();
        m_mode = Mode::Idle;
    }
    const QString why = error == 0 ? QStringLiteral("The socket cannot be watched") : SocketError(error).second;
    std::fprintf(stderr, "tavinor: listen on %s:%u failed: %s\n",
                 qPrintable(m_bindAddress.isEmpty() ? QStringLiteral("0.0.0.0") : m_bindAddress), m_bindPort,
                 qPrintable(why));
    const int code = static_cast<int>(QAbstractSocket::AddressInUseError);
    QTimer::singleShot(0, this, [this, code, why] { emit Error(m_index, code, why); });
    return false;
}

void Socket::AcceptWaiting()
{
    const quint64 generation = m_generation;
    while (generation == m_generation && m_mode == Mode::Listening) {
        const int handle = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (handle >= 0) {
            Incoming(handle);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors or memory: the waiting connection stays queued. Not woken for it again until
        // the pause is over, or the program would do nothing else.
        std::fprintf(stderr, "tavinor: accept failed: %s\n", std::strerror(errno));
        PauseAccepting();
        return;
    }
}

void Socket::PauseAccepting()
{
    m_inputPaused = true;
    Watch();
    const quint64 generation = m_generation;
    QTimer::singleShot(kAcceptPauseMs, this, [this, generation] {
        if (generation != m_generation || m_mode != Mode::Listening)
            return;
        m_inputPaused = false;
        if (!Watch())
            PauseAccepting();
    });
}

void Socket::Incoming(qintptr handle)
{
    g_taken = -1;
    emit ConnectionRequest(m_index, handle);
    if (g_taken != handle) {
        std::fprintf(stderr, "tavinor: waiting connection %lld not accepted, closed\n", static_cast<long long>(handle));
        ::close(static_cast<int>(handle));
    }
    g_taken = -1;
}

void Socket::Accept(qintptr handle)
{
    Release();
    const int fd = static_cast<int>(handle);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "tavinor: accept failed: %s\n", std::strerror(errno));
        return;
    }
    g_taken = handle;
    m_fd = fd;
    ApplyLiveness(handle);
    Established();
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
    m_mode = Mode::Connecting;
    m_connectPort = port;
    if (!m_connectTimer) {
        m_connectTimer = new QTimer(this);
        m_connectTimer->setSingleShot(true);
        m_connectTimer->setInterval(kConnectTimeoutMs);
        connect(m_connectTimer, &QTimer::timeout, this, [this] {
            if (m_mode == Mode::Connecting)
                ConnectFailed(QAbstractSocket::SocketTimeoutError, QStringLiteral("Connection timed out"));
        });
    }
    m_connectTimer->start();
    sockaddr_in literal;
    if (ToAddress(host, port, literal) && !host.trimmed().isEmpty()) {
        m_candidates = {host.trimmed()};
        TryNextAddress();
        return;
    }
    // A name: looked up in the background, then its IPv4 addresses are tried in turn.
    const quint64 generation = m_generation;
    QHostInfo::lookupHost(host.trimmed(), this, [this, generation](const QHostInfo& info) {
        if (generation != m_generation || m_mode != Mode::Connecting)
            return;
        for (const QHostAddress& a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol)
                m_candidates.append(a.toString());
        }
        if (m_candidates.isEmpty()) {
            ConnectFailed(QAbstractSocket::HostNotFoundError, QStringLiteral("Host not found"));
            return;
        }
        TryNextAddress();
    });
}

void Socket::TryNextAddress()
{
    int error = 0;
    while (!m_candidates.isEmpty()) {
        sockaddr_in to;
        if (!ToAddress(m_candidates.takeFirst(), m_connectPort, to)) {
            error = EINVAL;
            continue;
        }
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            break;
        }
        if (!m_bindAddress.isEmpty() || m_bindPort != 0) {
            sockaddr_in local;
            if (!ToAddress(m_bindAddress, m_bindPort, local) || !SetReuseAddress(fd) ||
                ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
                std::fprintf(stderr, "tavinor: bind to %s failed, connecting from any address\n",
                             qPrintable(m_bindAddress));
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 || errno == EINPROGRESS) {
            // Reported by the poller as writable once it is set up, or failed.
            m_fd = fd;
            Watch();
            return;
        }
        error = errno;
        ::close(fd);
    }
    // Reported after the caller's handler, as a connection attempt's outcome always is.
    const auto [code, why] = SocketError(error ? error : ECONNREFUSED);
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation, code = code, why = why] {
        if (generation == m_generation && m_mode == Mode::Connecting)
            ConnectFailed(code, why);
    });
}

void Socket::ConnectDone()
{
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        error = errno;
    if (error == 0) {
        sockaddr_in sa{};
        socklen_t salen = sizeof sa;
        if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&sa), &salen) != 0) {
            if (errno == ENOTCONN)
                return; // not yet
            error = errno;
        }
    }
    if (error != 0) {
        CloseDescriptor();
        if (!m_candidates.isEmpty()) {
            TryNextAddress();
            return;
        }
        const auto [code, why] = SocketError(error);
        ConnectFailed(code, why);
        return;
    }
    m_connectTimer->stop();
    ApplyLiveness(m_fd);
    Established();
    emit ConnectedEvent(m_index);
}

void Socket::ConnectFailed(int code, const QString& why)
{
    CloseDescriptor();
    m_candidates.clear();
    m_mode = Mode::Idle;
    if (m_connectTimer)
        m_connectTimer->stop();
    ++m_generation;
    emit Error(m_index, code, why);
}

void Socket::Established()
{
    m_mode = Mode::Connected;
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
        m_peer = DottedText(sa);
        m_peerPort = ntohs(sa.sin_port);
    }
    len = sizeof sa;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
        m_local = DottedText(sa);
        m_localPort = ntohs(sa.sin_port);
    }
    m_lastPeer = m_peer;
    Watch();
}

bool Socket::Watch()
{
    std::uint32_t wanted = 0;
    switch (m_mode) {
    case Mode::Listening:
        wanted = m_inputPaused ? 0 : std::uint32_t(EPOLLIN);
        break;
    case Mode::Connecting:
        wanted = m_fd >= 0 ? std::uint32_t(EPOLLOUT) : 0;
        break;
    case Mode::Connected:
        // With reading paused and nothing to send the descriptor is not watched at all: a hang-up, which is
        // always reported, would otherwise wake the program without end. It is seen when reading resumes.
        wanted = (m_inputPaused ? 0 : std::uint32_t(EPOLLIN | EPOLLRDHUP)) | (m_out.isEmpty() ? 0 : std::uint32_t(EPOLLOUT));
        break;
    case Mode::Idle:
        break;
    }
    if (wanted == m_watched) // what is watched is never 0 while registered
        return true;
    SocketPoller* poller = SocketPoller::Instance();
    if (wanted == 0 || (m_key != 0 && (!poller || !poller->Modify(m_key, m_fd, wanted))))
        Unwatch(m_key, m_fd);
    else if (m_key == 0)
        m_key = poller ? poller->Add(m_fd, wanted, this) : 0;
    m_watched = m_key ? wanted : 0;
    if (wanted == 0 || m_key != 0)
        return true;
    // Not watched, a socket would wait for ever without a word: it fails instead, as a connection does.
    const QString why = QStringLiteral("The socket cannot be watched");
    if (m_mode == Mode::Connected) {
        Fail(why);
    } else if (m_mode == Mode::Connecting) {
        const quint64 generation = m_generation;
        QTimer::singleShot(0, this, [this, generation, why] {
            if (generation == m_generation && m_mode == Mode::Connecting)
                ConnectFailed(QAbstractSocket::UnknownSocketError, why);
        });
    }
    return false;
}

void Socket::Ready(std::uint32_t events)
{
    switch (m_mode) {
    case Mode::Listening:
        AcceptWaiting();
        break;
    case Mode::Connecting:
        ConnectDone();
        break;
    case Mode::Connected: {
        const quint64 generation = m_generation;
        if (!m_out.isEmpty() && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
            Flush();
        if (generation == m_generation && m_mode == Mode::Connected && !m_inputPaused &&
            (events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)))
            ReadIn();
        break;
    }
    case Mode::Idle:
        break;
    }
}

void Socket::ReadIn()
{
    bool ended = false;
    int error = 0;
    const qsizetype before = m_in.size();
    char chunk[16384];
    while (m_in.size() < kMaxUnread) {
        const qsizetype room = qMin<qsizetype>(kMaxUnread - m_in.size(), sizeof chunk);
        ssize_t n;
        do {
            n = ::recv(m_fd, chunk, static_cast<size_t>(room), 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            m_in.append(chunk, n);
            if (n < room)
                break; // all there was; another look would only find nothing
            continue;
        }
        if (n == 0 || errno == ECONNRESET)
            ended = true;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            error = errno;
        break;
    }
    if (m_in.size() >= kMaxUnread && !ended && error == 0) {
        m_inputPaused = true;
        Watch();
    }
    const quint64 generation = m_generation;
    if (m_in.size() > before && !m_inArrival) {
        m_inArrival = true;
        emit DataArrival(m_index, m_in.size());
        if (generation != m_generation)
            return;
        m_inArrival = false;
    }
    if (generation != m_generation || m_mode != Mode::Connected)
        return;
    if (ended || error != 0)
        Lost(error);
}

void Socket::Flush()
{
    const int error = SendQueued(m_fd, m_out);
    if (error == 0) {
        Watch();
        return;
    }
    Lost(error);
}

void Socket::Lost(int error)
{
    // The peer's close or reset is what QTcpSocket calls the remote host closing; anything else is a
    // fault of the network, named by the system's text.
    const bool byPeer = error == 0 || error == ECONNRESET || error == EPIPE;
    // Reported while the connection still counts as up, so that the handler can name it; then it ends,
    // keeping what was received for reading.
    const quint64 generation = m_generation;
    emit Error(m_index, byPeer ? QAbstractSocket::RemoteHostClosedError : QAbstractSocket::NetworkError,
               byPeer ? QStringLiteral("The remote host closed the connection") : ErrnoText(error));
    if (generation != m_generation || m_mode != Mode::Connected)
        return;
    m_out.clear(); // nothing more goes out on a broken connection
    CloseDescriptor();
    m_mode = Mode::Idle;
    ++m_generation;
    emit Disconnected(m_index);
}

QByteArray Socket::Read(qint64 count)
{
    QByteArray taken;
    if (count >= m_in.size()) {
        taken = std::move(m_in); // the buffer goes with it: an idle connection holds none
        m_in = QByteArray();
    } else {
        taken = m_in.left(count);
        m_in.remove(0, taken.size());
    }
    if (m_inputPaused && m_in.size() < kMaxUnread) {
        m_inputPaused = false;
        Watch();
    }
    return taken;
}

QByteArray Socket::ReadAll()
{
    return Read(m_in.size());
}

bool Socket::Write(const QByteArray& bytes)
{
    if (!IsConnected())
        return false;
    int error = 0;
    const qintptr fd = DirectHandle();
    const qsizetype sent = fd < 0 ? 0 : SendNow(fd, bytes.constData(), bytes.size(), error);
    return Settle(bytes, sent, error);
}

qintptr Socket::DirectHandle() const
{
    return IsConnected() && m_out.isEmpty() ? m_fd : -1;
}

qsizetype Socket::SendNow(qintptr descriptor, const char* data, qsizetype size, int& error)
{
    error = 0;
    ssize_t n;
    do {
        n = ::send(static_cast<int>(descriptor), data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n >= 0)
        return n;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        error = errno;
    return 0;
}

bool Socket::Settle(const QByteArray& bytes, qsizetype sent, int error)
{
    if (error != 0) {
        Fail(ErrnoText(error));
        return false;
    }
    if (sent == bytes.size())
        return true;
    if (!IsConnected())
        return false;
    // The rest waits here until the system takes it; more than the limit of it is the backlog of a peer
    // that does not read.
    m_out.append(bytes.constData() + sent, bytes.size() - sent);
    if (m_out.size() > kMaxUnsent) {
        const QString peer = PeerAddress();
        std::fprintf(stderr, "tavinor: %s does not read, connection closed\n", qPrintable(peer));
        Close();
        emit WriteOverflow(m_index, peer);
        return false;
    }
    Watch();
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

void Socket::CloseDescriptor()
{
    if (m_fd < 0)
        return;
    Unwatch(m_key, m_fd);
    m_watched = 0;
    // Let what was written go out (a relay just before a close must still arrive), then end.
    if (m_mode == Mode::Connected && !m_out.isEmpty())
        new Drain(m_fd, std::move(m_out));
    else
        ::close(m_fd);
    m_fd = -1;
}

void Socket::Release()
{
    ++m_generation;
    if (m_connectTimer)
        m_connectTimer->stop();
    m_candidates.clear();
    CloseDescriptor();
    m_mode = Mode::Idle;
    m_in.clear();
    m_out.clear();
    m_inputPaused = false;
    m_inArrival = false;
    m_peer.clear();
    m_local.clear();
    m_peerPort = m_localPort = 0;
}

bool Socket::IsConnected() const
{
    return m_mode == Mode::Connected;
}

bool Socket::IsListening() const
{
    return m_mode == Mode::Listening;
}

int Socket::StateNumber() const
{
    switch (m_mode) {
    case Mode::Listening:
    case Mode::Connecting:
        return Waiting;
    case Mode::Connected:
        return Connected;
    case Mode::Idle:
        break;
    }
    return Closed;
}

QString Socket::PeerAddress() const
{
    return IsConnected() ? m_peer : m_lastPeer;
}

QString Socket::LocalAddress() const
{
    return IsConnected() ? m_local : QString();
}

QString Socket::ConnectionText() const
{
    if (!IsConnected())
        return QString();
    return m_local + QLatin1Char(':') + QString::number(m_localPort) + QLatin1Char('-') + m_peer + QLatin1Char(':') +
           QString::number(m_peerPort);
}

qint64 Socket::BytesAvailable() const
{
    return m_in.size();
}

qint64 Socket::BytesToWrite() const
{
    return m_out.size();
}
