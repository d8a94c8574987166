// A stand-in for the device library that needs no hardware: it pretends devices are attached, takes the
// button's input reports from text files a test or a person appends to, and records every output report.
// Built as its own library file with the same name and interface; it is only used when it is copied over
// the real one. The files live in one control folder (see README.md, "USB button simulator"):
//   devices   product ids, one a line (hex, "0x1500" or "1500"); missing: one IO-Warrior40; empty: none
//   in-N      input reports of device N (from 1), one a line: "press", "release", or the port bytes in hex
//   out-N     one line per output report written: seconds since the epoch with milliseconds, then the
//             report bytes in hex, report id first
//   events    "open N" (N devices), "read N" (the first read from device N), "cancel", "close"
// The read descriptor is a change notice on the control folder, so a program waiting on it wakes when a
// line is appended (and, harmlessly, when the library writes a file there itself).

#include "iowkit.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct SimDevice
{
    IOWKIT_HANDLE handle = 0;
    uint32_t product = 0;
    uint32_t reportSize = 0;            // payload bytes, without the id
    std::vector<unsigned char> outputs; // last written port values; the IO-Warrior24 reads its outputs back
    std::streamoff inputOffset = 0;     // how much of in-N has been delivered
    bool polled = false;                // the program has started reading
};

std::mutex g_lock;
std::vector<SimDevice> g_devices;
IOWKIT_HANDLE g_nextHandle = 1;
// Readable when a file of the control folder changed: what wakes the program for new input lines.
int g_wakeFd = -1;

uint32_t ReportSize(uint32_t product)
{
    switch (product) {
    case 0x1500:
        return 4;
    case 0x1501:
        return 2;
    case 0x1503:
        return 7;
    default:
        return 0;
    }
}

// IOWKIT_SIM_DIR, or the folder "iowsim" beside this library file.
std::string ControlFolder()
{
    if (const char* env = std::getenv("IOWKIT_SIM_DIR"); env && *env)
        return env;
    Dl_info info{};
    std::string self =
        dladdr(reinterpret_cast<void*>(&IowKitOpenDevice), &info) && info.dli_fname ? info.dli_fname : "./libiowkit.so";
    const auto slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/iowsim";
}

std::string FilePath(const char* name, int device = 0)
{
    std::string path = ControlFolder() + "/" + name;
    if (device > 0)
        path += "-" + std::to_string(device);
    return path;
}

void Event(const std::string& text)
{
    std::ofstream(FilePath("events"), std::ios::app) << text << '\n';
}

std::vector<uint32_t> ConfiguredProducts()
{
    std::ifstream in(FilePath("devices"));
    if (!in)
        return {0x1500};
    std::vector<uint32_t> products;
    std::string word;
    while (in >> word)
        products.push_back(static_cast<uint32_t>(std::strtoul(word.c_str(), nullptr, 16)));
    return products;
}

SimDevice* Find(IOWKIT_HANDLE handle)
{
    for (SimDevice& d : g_devices) {
        if (handle != 0 && d.handle == handle)
            return &d;
    }
    return nullptr;
}

int Number(const SimDevice& d)
{
    return static_cast<int>(&d - g_devices.data()) + 1;
}

// One line of in-N as port bytes. The IO-Warrior24's outputs share port 0 with the button, so a line
// switched on by the program also reads low there.
std::vector<unsigned char> ParseReport(const std::string& line, const SimDevice& d)
{
    std::vector<unsigned char> bytes;
    if (line == "press" || line == "release") {
        bytes.assign(d.reportSize, 0xff);
        bytes[0] = line == "press" ? 0xdf : 0xff;
    } else {
        std::istringstream words(line);
        std::string w;
        while (words >> w && bytes.size() < d.reportSize)
            bytes.push_back(static_cast<unsigned char>(std::strtoul(w.c_str(), nullptr, 16)));
    }
    if (d.product == 0x1501 && !bytes.empty() && !d.outputs.empty())
        bytes[0] &= d.outputs[0];
    return bytes;
}

// Takes the pending change notices; done before reading, so a line appended later wakes the program again.
void DrainWakeFd()
{
    char events[4096];
    while (g_wakeFd >= 0 && read(g_wakeFd, events, sizeof events) > 0) {
    }
}

} // namespace

extern "C" {

IOWKIT_HANDLE IowKitOpenDevice(void)
{
    std::lock_guard guard(g_lock);
    if (!g_devices.empty())
        return g_devices.front().handle;
    mkdir(ControlFolder().c_str(), 0777);
    for (uint32_t product : ConfiguredProducts()) {
        SimDevice d;
        d.handle = g_nextHandle++;
        d.product = product;
        d.reportSize = ReportSize(product);
        d.outputs.assign(d.reportSize, 0xff);
        // Only what is appended from now on is new input.
        std::ifstream in(FilePath("in", int(g_devices.size()) + 1), std::ios::ate);
        d.inputOffset = in ? std::streamoff(in.tellg()) : 0;
        g_devices.push_back(d);
    }
    Event("open " + std::to_string(g_devices.size()));
    if (!g_devices.empty() && g_wakeFd < 0) {
        g_wakeFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (g_wakeFd >= 0 &&
            inotify_add_watch(g_wakeFd, ControlFolder().c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
            close(g_wakeFd);
            g_wakeFd = -1;
        }
    }
    return g_devices.empty() ? 0 : g_devices.front().handle;
}

void IowKitCloseDevice(IOWKIT_HANDLE)
{
    std::lock_guard guard(g_lock);
    g_devices.clear();
    if (g_wakeFd >= 0)
        close(g_wakeFd);
    g_wakeFd = -1;
    Event("close");
}

uint32_t IowKitGetNumDevs(void)
{
    std::lock_guard guard(g_lock);
    return static_cast<uint32_t>(g_devices.size());
}

IOWKIT_HANDLE IowKitGetDeviceHandle(uint32_t numDevice)
{
    std::lock_guard guard(g_lock);
    return numDevice >= 1 && numDevice <= g_devices.size() ? g_devices[numDevice - 1].handle : 0;
}

uint32_t IowKitGetProductId(IOWKIT_HANDLE devHandle)
{
    std::lock_guard guard(g_lock);
    const SimDevice* d = Find(devHandle);
    return d ? d->product : 0;
}

uint32_t IowKitReadNonBlocking(IOWKIT_HANDLE devHandle, uint32_t numPipe, char* buffer, uint32_t length)
{
    std::lock_guard guard(g_lock);
    SimDevice* d = Find(devHandle);
    if (!d || numPipe != 0 || !buffer || length < 1 || d->reportSize == 0)
        return 0;
    if (!d->polled) {
        d->polled = true;
        Event("read " + std::to_string(Number(*d)));
    }
    DrainWakeFd();
    std::ifstream in(FilePath("in", Number(*d)));
    if (!in)
        return 0;
    in.seekg(d->inputOffset);
    std::string line;
    // Only whole lines: a line still being written is left for the next poll.
    if (!std::getline(in, line) || in.eof())
        return 0;
    d->inputOffset = in.tellg();
    const std::vector<unsigned char> bytes = ParseReport(line, *d);
    const uint32_t copied = std::min<uint32_t>(static_cast<uint32_t>(bytes.size()), length - 1);
    buffer[0] = 0;
    std::memcpy(buffer + 1, bytes.data(), copied);
    return copied == 0 ? 0 : copied + 1;
}

uint32_t IowKitWrite(IOWKIT_HANDLE devHandle, uint32_t numPipe, const char* buffer, uint32_t length)
{
    std::lock_guard guard(g_lock);
    SimDevice* d = Find(devHandle);
    if (!d || numPipe != 0 || !buffer || d->reportSize == 0 || length != d->reportSize + 1)
        return 0;
    d->outputs.assign(buffer + 1, buffer + length);

    const auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%lld.%03lld", static_cast<long long>(now / 1000),
                  static_cast<long long>(now % 1000));
    std::string line = stamp;
    for (uint32_t i = 0; i < length; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned char>(buffer[i]));
        line += hex;
    }
    std::ofstream(FilePath("out", Number(*d)), std::ios::app) << line << '\n';
    return length;
}

int IowKitCancelIo(IOWKIT_HANDLE devHandle, uint32_t)
{
    std::lock_guard guard(g_lock);
    if (!Find(devHandle))
        return 0;
    Event("cancel");
    return 1;
}

int IowKitGetReadFd(IOWKIT_HANDLE devHandle, uint32_t numPipe)
{
    std::lock_guard guard(g_lock);
    return Find(devHandle) && numPipe == 0 ? g_wakeFd : -1;
}

} // extern "C"
