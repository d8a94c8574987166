// Writes an event log as a busy server writes it over months: every station registers once a minute
// ("CompleteLog" on), with station connects, address announcements, the odd alarm, and a few broken lines
// (empty, cut off by a power loss, a ";" inside a station name). Windows-1252, CR LF.
//
//   tv_loggen LINES FILE [SEED]   write LINES lines to FILE
//   tv_loggen --evict FILE        flush FILE and drop it from the page cache (for cold-cache runs)
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Rng
{
    uint64_t s;
    uint32_t Next(uint32_t n)
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s % n);
    }
};

const char* const Stations[] = {"Empfang",
                                "R\xf6ntgen",
                                "B\xfcro 1",
                                "B\xfcro 2",
                                "OP 1",
                                "OP 2",
                                "Labor",
                                "Ambulanz",
                                "Station 3a",
                                "Station 3b",
                                "Kinderklinik",
                                "Notaufnahme",
                                "Verwaltung",
                                "K\xfc"
                                "che",
                                "Pforte",
                                "Intensiv",
                                "Apotheke",
                                "Physio",
                                "Kardiologie",
                                "Archiv"};
constexpr int StationCount = 20;

int DaysIn(int month, int year)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

int Evict(const char* path)
{
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        std::perror(path);
        return 1;
    }
    fdatasync(fd);
    const int rc = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
    return rc == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--evict") == 0)
        return Evict(argv[2]);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LINES FILE [SEED] | --evict FILE\n", argv[0]);
        return 2;
    }
    const long long lines = std::atoll(argv[1]);
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    static char buffer[1 << 20];
    std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
    Rng rng{argc > 3 ? std::strtoull(argv[3], nullptr, 10) | 1 : 0x9E3779B97F4A7C15ull};

    int year = 2025, month = 1, day = 1, second = 0;
    char line[256];
    for (long long i = 0; i < lines; ++i) {
        second += 1 + int(rng.Next(4));
        if (second >= 86400) {
            second -= 86400;
            if (++day > DaysIn(month, year)) {
                day = 1;
                if (++month > 12) {
                    month = 1;
                    ++year;
                }
            }
        }
        const int s = int(rng.Next(StationCount));
        char station[64];
        std::snprintf(station, sizeof station, "192.168.10.%d (%s)", 21 + s, Stations[s]);
        const char* event = "001: Connect Request";
        const uint32_t roll = rng.Next(10000);
        if (roll < 3) {
            std::fputs("\r\n", out); // empty line
            continue;
        }
        if (roll < 5) {
            std::fprintf(out, "%02d.%02d.%04d;%02d:%02d\r\n", day, month, year, second / 3600, second / 60 % 60);
            continue; // cut off
        }
        if (roll < 8)
            std::snprintf(station, sizeof station, "192.168.10.%d (Lager;Nord)", 21 + s); // five fields
        else if (roll < 150)
            event = "003: Send Client IP";
        else if (roll < 220)
            event = "Client Anwendung gestartet";
        else if (roll < 290)
            event = "Client Anwendung beendet";
        else if (roll < 300)
            event = "004: ALARM von Client ausgel\xf6st";
        else if (roll < 320)
            event = "006: ALARM-Receive von Client";
        else if (roll < 330)
            event = "008: ALARM-Cancel von Client";
        else if (roll < 332) {
            std::snprintf(station, sizeof station, "SERVER");
            event = roll == 330 ? "Server beendet" : "Server gestartet";
        }
        const int n = std::snprintf(line, sizeof line, "%02d.%02d.%04d;%02d:%02d:%02d;%s;%s\r\n", day, month, year,
                                    second / 3600, second / 60 % 60, second % 60, station, event);
        std::fwrite(line, 1, size_t(n), out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
