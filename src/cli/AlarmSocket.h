#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;

// The local socket through which `tavinor --alarm` reaches the program this user runs from the same program
// folder (a desktop key bound to the command where no global key grab is possible). Only this user can
// open it: it lives in the user's private runtime folder with owner-only rights, and the program checks
// the caller's user id on every connection besides.
namespace AlarmSocket {

// The socket for this user and `programFolder`; empty, with `error` set, when there is no private folder.
QString Path(const QString& programFolder, QString* error = nullptr);

// Client side (no event loop needed): asks the program listening on `path` to raise the alarm. Returns the
// exit code (0 raised, 1 not raised) and in `message` the one line to tell the user (empty when raised).
int Raise(const QString& path, QString& message);

// The user id of the process at the other end of a connected local socket, or -1.
long PeerUid(int fd);

} // namespace AlarmSocket

// The program's end of the socket. `handler` raises the alarm and returns an empty text, or returns why
// it did not.
class AlarmSocketServer : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<QString()>;
    explicit AlarmSocketServer(Handler handler, QObject* parent = nullptr);

    // Listens on `path`; a socket file left there by a crashed run is replaced (the caller holds the
    // program folder's instance lock, so nobody else listens there).
    bool Listen(const QString& path);

private:
    void Answer(QLocalSocket* socket);

    QLocalServer* m_server;
    Handler m_handler;
};
