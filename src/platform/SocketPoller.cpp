#include "platform/SocketPoller.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/epoll.h>
#include <unistd.h>

SocketPoller* SocketPoller::Instance()
{
    // Made once: a socket closed while the application is being taken down must not bring a new one.
    static QPointer<SocketPoller> poller;
    static bool made = false;
    if (!made && QCoreApplication::instance()) {
        made = true;
        poller = new SocketPoller(QCoreApplication::instance());
    }
    return poller;
}

SocketPoller::SocketPoller(QObject* parent) : QObject(parent)
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        std::fprintf(stderr, "tavinor: epoll_create1 failed: %s\n", std::strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SocketPoller::Activated);
}

SocketPoller::~SocketPoller()
{
    delete m_notifier;
    if (m_epoll >= 0)
        ::close(m_epoll);
}

std::uint64_t SocketPoller::Add(int fd, std::uint32_t events, Client* client)
{
    if (m_epoll < 0 || fd < 0)
        return 0;
    const std::uint64_t key = m_nextKey++;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = key;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
        std::fprintf(stderr, "tavinor: epoll_ctl add %d failed: %s\n", fd, std::strerror(errno));
        return 0;
    }
    m_clients.emplace(key, client);
    return key;
}

bool SocketPoller::Modify(std::uint64_t key, int fd, std::uint32_t events)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = key;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev) == 0)
        return true;
    std::fprintf(stderr, "tavinor: epoll_ctl modify %d failed: %s\n", fd, std::strerror(errno));
    return false;
}

void SocketPoller::Remove(std::uint64_t key, int fd)
{
    if (key == 0 || m_clients.erase(key) == 0)
        return;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

void SocketPoller::Activated()
{
    epoll_event events[kBatch];
    int n;
    do {
        n = ::epoll_wait(m_epoll, events, kBatch, 0);
    } while (n < 0 && errno == EINTR);
    // A client's handler may run the event loop (a window), which comes back here with the reports that
    // are new by then; each report is looked up at its turn, so one for a registration ended meanwhile is
    // dropped.
    for (int i = 0; i < n; ++i) {
        const auto it = m_clients.find(events[i].data.u64);
        if (it != m_clients.end())
            it->second->Ready(events[i].events);
    }
}
