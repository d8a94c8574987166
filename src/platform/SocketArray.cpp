#include "platform/SocketArray.h"

#include <sys/resource.h>

SocketArray::SocketArray(const QString& name, QObject* parent) : QObject(parent)
{
    setObjectName(name);
    SocketLimits::RaiseOpenFileLimit();
}

Socket* SocketArray::Load(int index)
{
    if (index < 0)
        return nullptr;
    while (m_sockets.size() <= index) {
        auto* s = new Socket(static_cast<int>(m_sockets.size()), this);
        s->setObjectName(objectName() + QLatin1Char('(') + QString::number(m_sockets.size()) + QLatin1Char(')'));
        connect(s, &Socket::ConnectionRequest, this, &SocketArray::ConnectionRequest);
        connect(s, &Socket::ConnectedEvent, this, &SocketArray::ConnectedEvent);
        connect(s, &Socket::Disconnected, this, &SocketArray::Disconnected);
        connect(s, &Socket::Error, this, &SocketArray::Error);
        connect(s, &Socket::DataArrival, this, &SocketArray::DataArrival);
        connect(s, &Socket::WriteOverflow, this, &SocketArray::WriteOverflow);
        m_sockets.append(s);
    }
    return m_sockets.at(index);
}

Socket* SocketArray::At(int index) const
{
    return index >= 0 && index < m_sockets.size() ? m_sockets.at(index) : nullptr;
}

namespace SocketLimits {

void RaiseOpenFileLimit()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace SocketLimits
