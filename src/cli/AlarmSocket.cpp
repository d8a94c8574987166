#include "cli/AlarmSocket.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QByteArray kRequest = QByteArrayLiteral("ALARM\n");
const QByteArray kOk = QByteArrayLiteral("OK");
constexpr int kTimeoutMs = 5000;

// A folder only this user can enter: a directory (not a link) owned by us, without rights for others.
bool IsPrivateFolder(const QByteArray& path)
{
    struct stat st
    {
    };
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

QString RuntimeFolder(QString* error)
{
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && IsPrivateFolder(xdg))
        return QFile::decodeName(xdg);
    // Sessions without a runtime folder (su, cron, a bare X server): a private folder of our own in /tmp.
    const QByteArray own = QFile::encodeName(QDir::tempPath()) + "/tavinor-" + QByteArray::number(::geteuid());
    if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QFile::decodeName(own), QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    if (!IsPrivateFolder(own)) {
        if (error)
            *error = QStringLiteral("%1 gehört nicht allein diesem Benutzer").arg(QFile::decodeName(own));
        return {};
    }
    return QFile::decodeName(own);
}

bool WaitFor(int fd, short events)
{
    pollfd p{fd, events, 0};
    int rc;
    do
        rc = ::poll(&p, 1, kTimeoutMs);
    while (rc < 0 && errno == EINTR);
    return rc > 0;
}

} // namespace

namespace AlarmSocket {

QString Path(const QString& programFolder, QString* error)
{
    const QString folder = RuntimeFolder(error);
    if (folder.isEmpty())
        return {};
    // One socket per program folder, as there is one running copy per folder.
    const QByteArray id =
        QCryptographicHash::hash(QFile::encodeName(programFolder), QCryptographicHash::Sha1).toHex().left(16);
    return folder + QStringLiteral("/tavinor-") + QString::fromLatin1(id) + QStringLiteral(".sock");
}

long PeerUid(int fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return -1;
    return static_cast<long>(cred.uid);
}

int Raise(const QString& path, QString& message)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (name.isEmpty() || name.size() >= static_cast<int>(sizeof addr.sun_path)) {
        message = QStringLiteral("kein laufendes Programm gefunden");
        return 1;
    }
    std::memcpy(addr.sun_path, name.constData(), name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        message = QString::fromLocal8Bit(std::strerror(errno));
        return 1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        message = err == ENOENT || err == ECONNREFUSED
                      ? QStringLiteral("kein laufendes Programm gefunden - es wurde kein Alarm ausgelöst")
                      : QStringLiteral("Programm nicht erreichbar (%1) - es wurde kein Alarm ausgelöst")
                            .arg(QString::fromLocal8Bit(std::strerror(err)));
        return 1;
    }
    QByteArray reply;
    bool sent = ::send(fd, kRequest.constData(), kRequest.size(), MSG_NOSIGNAL) == kRequest.size();
    while (sent && !reply.contains('\n') && reply.size() < 1024 && WaitFor(fd, POLLIN)) {
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        reply.append(buf, n);
    }
    ::close(fd);
    reply = reply.left(reply.indexOf('\n'));
    if (reply == kOk) {
        message.clear();
        return 0;
    }
    message = reply.isEmpty() ? QStringLiteral("das Programm hat nicht geantwortet - Alarm nicht bestätigt")
                              : QString::fromUtf8(reply);
    return 1;
}

} // namespace AlarmSocket

AlarmSocketServer::AlarmSocketServer(Handler handler, QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)), m_handler(std::move(handler))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = m_server->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QLocalSocket::readyRead, this, [this, s] { Answer(s); });
        }
    });
}

bool AlarmSocketServer::Listen(const QString& path)
{
    if (path.isEmpty())
        return false;
    QLocalServer::removeServer(path);
    if (m_server->listen(path))
        return true;
    std::fprintf(stderr, "tavinor: alarm socket %s: %s\n", qPrintable(path), qPrintable(m_server->errorString()));
    return false;
}

void AlarmSocketServer::Answer(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > 64)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(64);
    QByteArray reply;
    const long uid = AlarmSocket::PeerUid(static_cast<int>(socket->socketDescriptor()));
    if (uid != static_cast<long>(::geteuid())) {
        std::fprintf(stderr, "tavinor: alarm request from user id %ld refused\n", uid);
        reply = "nur der Benutzer, der das Programm gestartet hat, kann hier Alarm auslösen";
    } else if (line != kRequest) {
        reply = "unbekannte Anfrage";
    } else {
        const QString refusal = m_handler();
        reply = refusal.isEmpty() ? kOk : refusal.toUtf8();
    }
    socket->write(reply + '\n');
    socket->disconnectFromServer();
}
