#include "platform/SocketBatch.h"

#include "platform/Socket.h"
#include "platform/SocketArray.h"

#include <algorithm>

SocketBatch::~SocketBatch()
{
    if (!m_thread.joinable())
        return;
    m_stop.store(true);
    m_posts.fetch_add(1);
    m_posts.notify_one();
    m_thread.join();
}

void SocketBatch::Start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
}

void SocketBatch::Run()
{
    unsigned seen = 0;
    for (;;) {
        m_posts.wait(seen);
        seen = m_posts.load();
        if (m_stop.load())
            return;
        // A batch the caller finished alone before this thread woke is no longer posted: nothing to do.
        int expected = Posted;
        if (m_state.compare_exchange_strong(expected, Working)) {
            Drain();
            m_state.store(Done);
        }
    }
}

void SocketBatch::Send(std::size_t first, std::size_t end)
{
    std::vector<Target>& targets = *m_targets;
    for (std::size_t i = first; i < end; ++i)
        targets[i].sent = Socket::SendNow(targets[i].fd, m_data, static_cast<qsizetype>(m_size), targets[i].error);
}

void SocketBatch::Drain()
{
    const std::size_t count = m_targets->size();
    for (std::size_t first = m_next.fetch_add(kRun); first < count; first = m_next.fetch_add(kRun))
        Send(first, std::min(first + kRun, count));
}

void SocketBatch::Write(const QByteArray& bytes, const SocketArray& array, int from)
{
    const int last = array.UBound();
    // Local, not a member: a handler of an overflow below may send a line of its own.
    std::vector<Target> targets;
    targets.reserve(static_cast<std::size_t>(qMax(0, last - from + 1)));
    QList<Socket*> queued;
    m_data = bytes.constData();
    m_size = static_cast<std::size_t>(bytes.size());
    m_targets = &targets;
    std::size_t done = 0;
    for (int i = from; i <= last; ++i) {
        Socket* s = array.At(i);
        const qintptr fd = s->DirectHandle();
        if (fd < 0) {
            queued.append(s);
            continue;
        }
        targets.push_back(Target{s, static_cast<int>(fd)});
        // The first stations have the line before the rest of the list is looked at.
        if (done == 0 && targets.size() == kRun) {
            Send(0, kRun);
            done = kRun;
        }
    }
    const bool split = m_thread.joinable() && targets.size() >= kSplitMin;
    m_next.store(done);
    if (split) {
        m_state.store(Posted);
        m_posts.fetch_add(1);
        m_posts.notify_one();
    }
    Drain();
    if (split) {
        int expected = Posted;
        if (!m_state.compare_exchange_strong(expected, Idle)) {
            // The helper has at most one run left: waiting for it without sleeping saves a wake-up.
            while (m_state.load() == Working)
                std::this_thread::yield();
            m_state.store(Idle);
        }
    }
    m_targets = nullptr;
    // Back on this thread alone: what the system did not take is queued, a refusal ends its connection.
    for (const Target& t : targets)
        t.socket->Settle(bytes, t.sent, t.error);
    // Sockets with a backlog queue the line behind it; sockets that are not connected miss it.
    for (Socket* s : queued)
        s->Write(bytes);
}
