#pragma once

#include <QByteArray>

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

class Socket;
class SocketArray;

// Hands one line to many connections, as Socket::Write would one after the other, with the system calls
// shared between the calling thread and one helper thread. A send to a local peer runs the peer's receive
// in the sender's time as well, so a relay to a whole site is mostly system time that a second core can
// halve. The helper only calls send(); every socket object is touched on the calling thread alone.
class SocketBatch
{
public:
    SocketBatch() = default;
    ~SocketBatch();
    SocketBatch(const SocketBatch&) = delete;
    SocketBatch& operator=(const SocketBatch&) = delete;

    // Starts the helper thread. Without it every send runs on the calling thread. It sleeps until a batch
    // comes, so a program without traffic is not woken by it.
    void Start();

    // Writes `bytes` to each socket of the array from index `from` on. Returns when every socket has the whole line
    // sent or queued behind what it had queued before, so the next line cannot overtake it; failures and overflows are
    // reported as Socket::Write reports them. Each thread goes through the array in order.
    void Write(const QByteArray& bytes, const SocketArray& array, int from);

private:
    // Below this many sockets the helper's wake-up costs more than it saves.
    static constexpr std::size_t kSplitMin = 32;
    struct Target
    {
        Socket* socket;
        int fd;
        std::ptrdiff_t sent = 0;
        int error = 0;
    };
    enum State : int { Idle, Posted, Working, Done };
    // Takes runs of targets off the shared counter and sends to them until none is left.
    void Drain();
    void Send(std::size_t first, std::size_t end);
    void Run();

    // Targets are taken in runs of this many: few enough for both threads to share a small batch, many
    // enough that the counter is not what they wait on.
    static constexpr std::size_t kRun = 8;

    std::thread m_thread;
    std::atomic<unsigned> m_posts{0};
    std::atomic<int> m_state{Idle};
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_next{0};
    // The batch in hand: written before it is posted, read by the helper after it took the post.
    const char* m_data = nullptr;
    std::size_t m_size = 0;
    std::vector<Target>* m_targets = nullptr;
};
