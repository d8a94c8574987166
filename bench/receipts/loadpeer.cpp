// Load peer for the receipts benchmark: N stations that offer receipts on their downlink and answer every
// alarm with a receipt at once, plus one raising station that sends K alarms and times, per alarm, the span
// from its 004 written to the moment it holds a "shown" state line for every station. One thread, epoll,
// no Qt, so that the peer costs little next to the server; its own CPU time is printed as well.
//
//   tv_receipts_peer SERVER_IP STATIONS ALARMS [NET]     (NET: first two octets of the stations, "127.1")
// Stations take the addresses NET.x.y; the raiser takes NET.250.1. Only loopback addresses are meant.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Conn
{
    int fd = -1;
    int station = 0; // index into the stations
    bool down = false;
    std::string buffer;
};

struct Station
{
    std::string address;
    int listener = -1;
    int up = -1;
    int down = -1;
    bool accepted = false; // the server answered the offer
};

std::vector<Station> g_stations;
std::vector<Conn*> g_conns; // by fd
int g_epoll = -1;
int g_shown = 0;
int g_alarm = 0;
bool g_done = false;

[[noreturn]] void Fail(const char* what)
{
    std::perror(what);
    std::exit(1);
}

sockaddr_in Address(const std::string& ip, int port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, ip.c_str(), &sa.sin_addr) != 1)
        Fail("address");
    return sa;
}

void Watch(int fd, int station, bool down)
{
    if (static_cast<int>(g_conns.size()) <= fd)
        g_conns.resize(static_cast<size_t>(fd) + 1, nullptr);
    auto* c = new Conn;
    c->fd = fd;
    c->station = station;
    c->down = down;
    g_conns[static_cast<size_t>(fd)] = c;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    epoll_ctl(g_epoll, EPOLL_CTL_ADD, fd, &ev);
}

void Send(int fd, const std::string& line)
{
    const std::string bytes = line + "\r\n";
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0)
            Fail("send");
        done += static_cast<size_t>(n);
    }
}

void OnLine(Conn* c, const std::string& line)
{
    Station& st = g_stations[static_cast<size_t>(c->station)];
    if (line.rfind("013:", 0) == 0 && line.find("receipts") != std::string::npos) {
        st.accepted = true;
    } else if ((line.rfind("005:", 0) == 0 || line.rfind("011:", 0) == 0) && c->station != 0 && st.accepted) {
        const std::string raiser = line.substr(5, line.find('|') - 5);
        Send(st.up, "014: " + raiser + "|1");
    } else if (c->station == 0 && line.rfind("015: ", 0) == 0) {
        const std::string prefix = "015: " + std::to_string(g_alarm) + "|shown|";
        if (line.rfind(prefix, 0) == 0)
            ++g_shown;
    } else if (c->station == 0 && line == "016: " + std::to_string(g_alarm)) {
        g_done = true;
    }
}

void OnReadable(int fd)
{
    Conn* c = g_conns[static_cast<size_t>(fd)];
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
        epoll_ctl(g_epoll, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        g_conns[static_cast<size_t>(fd)] = nullptr;
        delete c;
        return;
    }
    c->buffer.append(buf, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t cr; (cr = c->buffer.find('\r', start)) != std::string::npos;) {
        OnLine(c, c->buffer.substr(start, cr - start));
        start = cr + 1;
        if (start < c->buffer.size() && c->buffer[start] == '\n')
            ++start;
    }
    c->buffer.erase(0, start);
}

void OnAccept(int station)
{
    Station& st = g_stations[static_cast<size_t>(station)];
    const int fd = ::accept4(st.listener, nullptr, nullptr, SOCK_NONBLOCK);
    if (fd < 0)
        return;
    st.down = fd;
    Watch(fd, station, true);
    Send(fd, "012: receipts");
}

// Runs the loop until `until` holds or `seconds` pass; false on time-out.
template <typename F> bool Run(F until, double seconds)
{
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    epoll_event events[256];
    while (!until()) {
        if (Clock::now() > end)
            return false;
        const int n = epoll_wait(g_epoll, events, 256, 50);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd < 0)
                OnAccept(-fd - 1);
            else if (g_conns[static_cast<size_t>(fd)])
                OnReadable(fd);
        }
    }
    return true;
}

double CpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SERVER_IP STATIONS ALARMS [NET]\n", argv[0]);
        return 2;
    }
    const std::string server = argv[1];
    const int count = std::atoi(argv[2]);
    const int alarms = std::atoi(argv[3]);
    const std::string net = argc > 4 ? argv[4] : "127.1";
    rlimit nofile{};
    getrlimit(RLIMIT_NOFILE, &nofile);
    nofile.rlim_cur = nofile.rlim_max;
    setrlimit(RLIMIT_NOFILE, &nofile);

    g_epoll = epoll_create1(0);
    // Station 0 raises; 1..count answer.
    g_stations.resize(static_cast<size_t>(count) + 1);
    for (int i = 0; i <= count; ++i) {
        Station& st = g_stations[static_cast<size_t>(i)];
        st.address = i == 0 ? net + ".250.1"
                            : net + "." + std::to_string(1 + (i - 1) / 250) + "." + std::to_string(1 + (i - 1) % 250);
        st.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        const int one = 1;
        setsockopt(st.listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa = Address(st.address, 10162);
        if (::bind(st.listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(st.listener, 16) != 0)
            Fail("listen");
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = -i - 1; // negative: a listener, by station
        epoll_ctl(g_epoll, EPOLL_CTL_ADD, st.listener, &ev);

        st.up = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local = Address(st.address, 0);
        sockaddr_in remote = Address(server, 10161);
        if (::bind(st.up, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::connect(st.up, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0)
            Fail("connect");
        setsockopt(st.up, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Watch(st.up, i, false);
        Send(st.up, "003: " + st.address);
        // Only the raiser registers: every 001 is answered to all stations, a storm that is not measured here.
        if (i == 0)
            Send(st.up, "001: |Melder|1|0");
    }
    const bool ready = Run(
        [] { return std::all_of(g_stations.begin(), g_stations.end(), [](const Station& s) { return s.accepted; }); },
        120);
    int accepted = 0;
    for (const Station& s : g_stations)
        accepted += s.accepted ? 1 : 0;
    std::printf("# stations that took up receipts: %d of %d\n", accepted, count + 1);
    if (!ready)
        return 1;

    std::vector<double> times;
    const double cpuBefore = CpuSeconds();
    for (int k = 0; k < alarms; ++k) {
        ++g_alarm;
        g_shown = 0;
        g_done = false;
        const auto t0 = Clock::now();
        Send(g_stations[0].up, "004: ");
        if (!Run([count] { return g_shown >= count; }, 30)) {
            std::printf("# alarm %d: %d of %d confirmations\n", k + 1, g_shown, count);
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        // The result line follows after the server's wait; then the alarm ends.
        if (!Run([] { return g_done; }, 30)) {
            std::printf("# alarm %d: no result line\n", k + 1);
            return 1;
        }
        Send(g_stations[0].up, "008: ");
    }
    std::sort(times.begin(), times.end());
    std::printf("stations=%d alarms=%d all_confirmed_median_ms=%.1f all_confirmed_max_ms=%.1f "
                "peer_cpu_per_alarm_ms=%.1f\n",
                count, alarms, times[times.size() / 2], times.back(), (CpuSeconds() - cpuBefore) * 1000.0 / alarms);
    return 0;
}
