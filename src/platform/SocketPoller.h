#pragma once

#include <QObject>

#include <cstdint>
#include <unordered_map>

class QSocketNotifier;

// All sockets of the program in one epoll set, and that set as the one descriptor the event loop watches
// for them. The loop's own wait looks at every descriptor it watches at each wake-up: a server with a
// thousand stations holds two thousand connections, and an alarm would first wait for all of them to be
// looked at. Here a wake-up costs in proportion to the sockets that have something to report.
// Window thread only.
class SocketPoller : public QObject
{
public:
    class Client
    {
    public:
        // `events`: what epoll reported for the descriptor (EPOLLIN, EPOLLOUT, EPOLLERR, EPOLLHUP ...).
        virtual void Ready(std::uint32_t events) = 0;

    protected:
        ~Client() = default;
    };

    // The poller of the running application, created with the first socket; nullptr without one.
    static SocketPoller* Instance();

    // Watches `fd` for `events` (level-triggered) on behalf of `client`. Returns the key of the
    // registration, 0 when the system refused it.
    std::uint64_t Add(int fd, std::uint32_t events, Client* client);
    bool Modify(std::uint64_t key, int fd, std::uint32_t events);
    // Ends a registration; call it before the descriptor is closed. What was already reported for it and
    // not yet handed out is dropped, so a client may go away inside its own Ready.
    void Remove(std::uint64_t key, int fd);

private:
    explicit SocketPoller(QObject* parent);
    ~SocketPoller() override;
    void Activated();

    // Reports handed out per turn of the event loop: the rest waits for the next turn, so that a flood on
    // many connections does not hold up timers and windows.
    static constexpr int kBatch = 256;

    int m_epoll = -1;
    QSocketNotifier* m_notifier = nullptr;
    std::uint64_t m_nextKey = 1;
    std::unordered_map<std::uint64_t, Client*> m_clients;
};
