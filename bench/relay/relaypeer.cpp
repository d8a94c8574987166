// Load peer for the relay benchmark: N stations of plain sockets (uplink to the server, listener for the
// server's downlink, each on its own loopback address), one of which raises K alarms (004, then 008 to end
// it, alternating). Written in C++ with epoll so that the peer is not what is measured.
//
// Two figures per alarm, both from the alarm line to the last relayed line (005 / 009) of all N stations:
//   peer    user-space clock, as the peer reads the lines (includes the peer's own reading)
//   server  kernel timestamps of the packets on the loopback device (a packet socket with a kernel filter
//           and a shared ring): the 004 leaving the sender, each 005 leaving the server; what the server
//           takes, without the peer. The filter and the ring keep the measuring out of the server's sends.
//
//   tv_relaypeer --server IP --stations N --alarms K [--net 127.1] [--hold S]
// (the server figure needs CAP_NET_RAW). --hold keeps the stations connected S seconds longer, idle; with
// --alarms 0 that is all it does, for measuring a server that serves many stations.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/if_ether.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <map>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <string>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kServerPort = 10161, kStationPort = 10162;

int64_t NowNs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "tv_relaypeer: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

sockaddr_in Address(const std::string& ip, int port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, ip.c_str(), &sa.sin_addr) != 1)
        Fail("bad address " + ip);
    return sa;
}

void SendAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("send");
        done += size_t(n);
    }
}

struct Station
{
    std::string addr;
    uint32_t addrBe = 0;
    int listener = -1, up = -1, down = -1;
    std::string got;    // downlink bytes since the alarm
    bool touched = false; // got bytes in the current pump
    int64_t seenAt = 0; // peer clock of the relayed line, 0 while missing
};

// Kernel send stamps of protocol lines seen on the loopback device, read from a ring shared with the
// kernel (TPACKET_V3): the kernel fills blocks of packets and wakes the reader once per block or after
// kBlockMs, not once per packet, so that the server's sends do not pay for waking it a thousand times.
struct Sniffer
{
    static constexpr unsigned kBlockSize = 1u << 20, kBlocks = 64, kBlockMs = 5;
    int fd = -1;
    unsigned char* ring = nullptr;
    std::mutex lock;
    int64_t alarmAt = 0;                 // the alarm line from the sender
    std::map<uint32_t, int64_t> relayAt; // first relayed line per station address
    std::string alarmCode, relayCode;
    uint32_t sender = 0;
    std::atomic<bool> stop{false};

    bool Open()
    {
        // Every protocol: only then does the socket see packets on their way out, stamped when sent.
        fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_ALL));
        if (fd < 0)
            return false;
        // Asked for so that the kernel stamps packets as they are sent; the ring carries the stamps.
        const int on = 1, version = TPACKET_V3;
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        if (setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
            return false;
        // 64 MB: a thousand relayed packets come within milliseconds, none may be dropped.
        tpacket_req3 req{};
        req.tp_block_size = kBlockSize;
        req.tp_block_nr = kBlocks;
        req.tp_frame_size = 2048;
        req.tp_frame_nr = kBlockSize / 2048 * kBlocks;
        req.tp_retire_blk_tov = kBlockMs;
        if (setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &req, sizeof req) != 0)
            return false;
        void* map = mmap(nullptr, size_t(kBlockSize) * kBlocks, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED)
            return false;
        ring = static_cast<unsigned char*>(map);
        // Only the lines' own packets, filtered in the kernel: outgoing TCP to the server's or a station's
        // port. Without the filter every packet on the loopback device (both ways, acknowledgements too) is
        // copied to this socket in the sending process's time, and the server's sends would pay for it.
        sock_filter code[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, uint32_t(SKF_AD_OFF + SKF_AD_PKTTYPE)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 0, 7),
            BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 9), // IP protocol
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_TCP, 0, 5),
            BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0), // X = IP header length
            BPF_STMT(BPF_LD | BPF_H | BPF_IND, 2),  // TCP destination port
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kServerPort, 1, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kStationPort, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, 0xffff),
            BPF_STMT(BPF_RET | BPF_K, 0),
        };
        sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
        if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0)
            return false;
        sockaddr_ll ll{};
        ll.sll_family = AF_PACKET;
        ll.sll_protocol = htons(ETH_P_ALL);
        ll.sll_ifindex = int(if_nametoindex("lo"));
        return bind(fd, reinterpret_cast<sockaddr*>(&ll), sizeof ll) == 0;
    }
    void Arm(const std::string& alarm, const std::string& relay)
    {
        std::lock_guard g(lock);
        alarmCode = alarm;
        relayCode = relay;
        alarmAt = 0;
        relayAt.clear();
    }
    void Run()
    {
        for (unsigned block = 0; !stop; block = (block + 1) % kBlocks) {
            auto* desc = reinterpret_cast<tpacket_block_desc*>(ring + size_t(block) * kBlockSize);
            while (!(desc->hdr.bh1.block_status & TP_STATUS_USER) && !stop) {
                pollfd p{fd, POLLIN | POLLERR, 0};
                poll(&p, 1, 100);
            }
            if (stop)
                break;
            auto* pkt = reinterpret_cast<unsigned char*>(desc) + desc->hdr.bh1.offset_to_first_pkt;
            for (unsigned k = 0; k < desc->hdr.bh1.num_pkts; ++k) {
                const auto* h = reinterpret_cast<const tpacket3_hdr*>(pkt);
                const auto* from = reinterpret_cast<const sockaddr_ll*>(pkt + TPACKET_ALIGN(sizeof(tpacket3_hdr)));
                Take(pkt + h->tp_mac, h->tp_snaplen, *from, int64_t(h->tp_sec) * 1000000000 + h->tp_nsec);
                pkt += h->tp_next_offset;
            }
            desc->hdr.bh1.block_status = TP_STATUS_KERNEL;
        }
    }
    void Take(const unsigned char* frame, uint32_t n, const sockaddr_ll& from, int64_t stamp)
    {
        // Loopback shows each packet on its way out and in again: the way out counts.
        if (n < sizeof(iphdr) + sizeof(tcphdr) || from.sll_pkttype != PACKET_OUTGOING ||
            from.sll_protocol != htons(ETH_P_IP))
            return;
        const auto* ip = reinterpret_cast<const iphdr*>(frame);
        if (ip->protocol != IPPROTO_TCP)
            return;
        const auto* tcp = reinterpret_cast<const tcphdr*>(frame + ip->ihl * 4);
        const size_t off = size_t(ip->ihl * 4 + tcp->doff * 4);
        if (n < off + 4)
            return;
        const std::string head(reinterpret_cast<const char*>(frame + off), 4);
        std::lock_guard g(lock);
        if (head == alarmCode && ip->saddr == sender && ntohs(tcp->dest) == kServerPort && alarmAt == 0)
            alarmAt = stamp;
        else if (head == relayCode && ntohs(tcp->dest) == kStationPort && alarmAt != 0)
            relayAt.emplace(ip->daddr, stamp);
    }
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char** argv)
{
    std::string server, net = "127.1";
    int count = 100, alarms = 50, hold = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--server")
            server = v;
        else if (k == "--stations")
            count = std::atoi(v.c_str());
        else if (k == "--alarms")
            alarms = std::atoi(v.c_str());
        else if (k == "--net")
            net = v;
        else if (k == "--hold")
            hold = std::atoi(v.c_str());
    }
    if (server.empty() || count < 1 || alarms < 0) {
        std::fprintf(stderr, "usage: %s --server IP --stations N --alarms K [--net 127.1] [--hold S]\n", argv[0]);
        return 2;
    }
    rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }

    const int ep = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Station> stations(static_cast<size_t>(count));
    std::map<int, Station*> byFd;
    const sockaddr_in srv = Address(server, kServerPort);
    for (int i = 0; i < count; ++i) {
        Station& st = stations[size_t(i)];
        st.addr = net + "." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
        sockaddr_in own = Address(st.addr, kStationPort);
        st.addrBe = own.sin_addr.s_addr;
        st.listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(st.listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(st.listener, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0 || listen(st.listener, 16) != 0)
            Fail("listen on " + st.addr);
        epoll_event ev{EPOLLIN, {}};
        ev.data.fd = st.listener;
        epoll_ctl(ep, EPOLL_CTL_ADD, st.listener, &ev);
        byFd[st.listener] = &st;

        st.up = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        own.sin_port = 0;
        if (bind(st.up, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0 ||
            connect(st.up, reinterpret_cast<const sockaddr*>(&srv), sizeof srv) != 0)
            Fail("connect from " + st.addr);
        setsockopt(st.up, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        SendAll(st.up, "003: " + st.addr + "\r\n");
    }
    // Only the sender registers: every 001 makes the server answer all stations.
    SendAll(stations[0].up, "001: |Bench0000|1|0\r\n");

    // Stations that got bytes in the last pump: only these are looked at, so that the peer's cost per
    // alarm grows with the lines it reads, not with the stations times its wake-ups.
    std::vector<Station*> touched;
    auto pump = [&](int timeoutMs) {
        for (Station* st : touched)
            st->touched = false;
        touched.clear();
        epoll_event events[256];
        const int n = epoll_wait(ep, events, 256, timeoutMs);
        for (int e = 0; e < n; ++e) {
            const int fd = events[e].data.fd;
            Station* st = byFd[fd];
            if (fd == st->listener) {
                const int c = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (c < 0)
                    continue;
                if (st->down >= 0) {
                    byFd.erase(st->down);
                    close(st->down);
                }
                st->down = c;
                byFd[c] = st;
                epoll_event ev{EPOLLIN, {}};
                ev.data.fd = c;
                epoll_ctl(ep, EPOLL_CTL_ADD, c, &ev);
                continue;
            }
            char buf[4096];
            ssize_t r;
            while ((r = read(fd, buf, sizeof buf)) > 0)
                st->got.append(buf, size_t(r));
            if (!st->touched) {
                st->touched = true;
                touched.push_back(st);
            }
            if (r == 0) {
                epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
                byFd.erase(fd);
                close(fd);
                st->down = -1;
            }
        }
        return NowNs();
    };

    const int64_t readyBy = NowNs() + 60 * 1000000000LL;
    int ready = 0;
    while (NowNs() < readyBy && ready < count) {
        pump(100);
        ready = int(std::count_if(stations.begin(), stations.end(), [](const Station& s) { return s.down >= 0; }));
    }
    std::printf("# stations with a downlink: %d of %d\n", ready, count);
    std::fflush(stdout);
    if (ready < count)
        return 1;
    auto holdOn = [&] {
        if (hold <= 0)
            return;
        std::printf("# holding %d s\n", hold);
        std::fflush(stdout);
        const int64_t until = NowNs() + int64_t(hold) * 1000000000;
        while (NowNs() < until)
            pump(1000);
    };
    if (alarms == 0) {
        holdOn();
        return 0;
    }
    for (int i = 0; i < 5; ++i)
        pump(100);

    Sniffer sniffer;
    sniffer.sender = stations[0].addrBe;
    const bool sniffing = sniffer.Open();
    if (!sniffing)
        std::printf("# no packet socket (%s): no server figure\n", std::strerror(errno));
    std::thread sniff;
    if (sniffing)
        sniff = std::thread([&] { sniffer.Run(); });
    auto stopSniffing = [&] {
        sniffer.stop = true;
        if (sniff.joinable())
            sniff.join();
    };

    std::vector<double> peerMs, peerFirstMs, serverMs, serverFirstMs;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (int k = 0; k < alarms; ++k) {
        const std::string code = k % 2 == 0 ? "004:" : "008:", target = k % 2 == 0 ? "005:" : "009:";
        for (Station& st : stations) {
            st.got.clear();
            st.seenAt = 0;
        }
        sniffer.Arm(code, target);
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the sniffer sees the new codes
        const int64_t t0 = NowNs();
        SendAll(stations[0].up, code + " \r\n");
        int seen = 0;
        const int64_t deadline = t0 + 10 * 1000000000LL;
        while (seen < count && NowNs() < deadline) {
            const int64_t now = pump(50);
            for (Station* st : touched) {
                if (st->seenAt == 0 && st->got.find(target) != std::string::npos) {
                    st->seenAt = now;
                    ++seen;
                }
            }
        }
        if (seen < count) {
            std::printf("# alarm %d: only %d of %d received\n", k, seen, count);
            stopSniffing();
            return 1;
        }
        int64_t first = INT64_MAX, last = 0;
        for (const Station& st : stations) {
            first = std::min(first, st.seenAt);
            last = std::max(last, st.seenAt);
        }
        peerMs.push_back(double(last - t0) / 1e6);
        peerFirstMs.push_back(double(first - t0) / 1e6);
        if (sniffing) {
            // The sniffer may still be behind by a few packets.
            for (int w = 0; w < 100; ++w) {
                {
                    std::lock_guard g(sniffer.lock);
                    if (sniffer.alarmAt != 0 && int(sniffer.relayAt.size()) >= count)
                        break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            std::lock_guard g(sniffer.lock);
            if (sniffer.alarmAt != 0 && int(sniffer.relayAt.size()) >= count) {
                int64_t kFirst = INT64_MAX, kLast = 0;
                for (const auto& [addr, at] : sniffer.relayAt) {
                    kFirst = std::min(kFirst, at);
                    kLast = std::max(kLast, at);
                }
                serverMs.push_back(double(kLast - sniffer.alarmAt) / 1e6);
                serverFirstMs.push_back(double(kFirst - sniffer.alarmAt) / 1e6);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    auto cpuMs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
    };
    stopSniffing();
    std::printf("stations=%d alarms=%d median_ms=%.2f p99_ms=%.2f max_ms=%.2f first_median_ms=%.2f "
                "server_median_ms=%.2f server_p99_ms=%.2f server_first_median_ms=%.2f server_samples=%zu "
                "peer_cpu_ms_per_alarm=%.2f\n",
                count, alarms, Median(peerMs), Percentile(peerMs, 0.99),
                *std::max_element(peerMs.begin(), peerMs.end()), Median(peerFirstMs), Median(serverMs),
                Percentile(serverMs, 0.99), Median(serverFirstMs), serverMs.size(),
                (cpuMs(after) - cpuMs(before)) / alarms);
    std::fflush(stdout);
    holdOn();
    return 0;
}
