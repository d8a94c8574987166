#pragma once

#include "platform/Socket.h"

#include <QList>
#include <QObject>

// An array of sockets indexed from 0 (WS_Listener, WS_Writer): an element is created by loading a new
// index and stays for the whole run, open or closed, so it can be reused. The array re-emits the events of
// all its elements, each with the element's index.
class SocketArray : public QObject
{
    Q_OBJECT
public:
    explicit SocketArray(const QString& name, QObject* parent = nullptr);

    // The element with this index, created (with every index below it) when missing.
    Socket* Load(int index);
    // The element with this index, or nullptr when it was never loaded.
    Socket* At(int index) const;
    // The highest index loaded so far; -1 when empty.
    int UBound() const { return static_cast<int>(m_sockets.size()) - 1; }

signals:
    void ConnectionRequest(int index, qintptr handle);
    void ConnectedEvent(int index);
    void Disconnected(int index);
    void Error(int index, int code, const QString& description);
    void DataArrival(int index, qint64 bytes);
    void WriteOverflow(int index, const QString& peer);

private:
    QList<Socket*> m_sockets;
};

namespace SocketLimits {
// Raises this process's limit of open files as far as the system allows: every station costs the server
// two descriptors, and the usual soft limit of 1024 would stop a large site at about 500 stations.
void RaiseOpenFileLimit();
} // namespace SocketLimits
