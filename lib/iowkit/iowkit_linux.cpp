// The device library over Linux's iowarrior kernel driver. The driver makes one node per USB interface
// (/dev/usb/iowarriorN); interface 0 carries the I/O pins, whose reports the driver moves without the
// report id. This library keeps interface 0 of each device and adds or strips the id byte, so the program
// sees reports of 5, 3 or 8 bytes as on every other platform.

#include "iowkit.h"
#include "iowkit_test.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

// The driver's device information, as its IOW_GETINFO ioctl fills it.
struct DriverInfo
{
    uint32_t vendor;
    uint32_t product;
    uint8_t serial[9];
    uint32_t revision;
    uint32_t speed;
    uint32_t power;
    uint32_t if_num;
    uint32_t report_size;
};
const unsigned long IowGetInfo = _IOR(0xC0, 3, DriverInfo);

struct Device
{
    IOWKIT_HANDLE handle = 0;
    int fd = -1;
    uint32_t product = 0;
    uint32_t reportSize = 0; // payload bytes of one report on interface 0, without the id
    std::string node;
    bool failed = false; // a read or write failed for good (unplugged): logged once, then quiet
};

std::mutex g_lock;
std::vector<Device> g_devices;
// Handles are never reused within a process, so a handle kept past a close cannot reach another device.
IOWKIT_HANDLE g_nextHandle = 1;
std::string g_devRoot = "/dev";
std::string g_sysRoot = "/sys";

// The payload size of interface 0 when the driver cannot be asked.
uint32_t KnownReportSize(uint32_t product)
{
    switch (product) {
    case 0x1500:
        return 4; // IO-Warrior40
    case 0x1501:
        return 2; // IO-Warrior24
    case 0x1503:
        return 7; // IO-Warrior56
    default:
        return 0;
    }
}

bool ReadHexFile(const std::string& path, uint32_t& value)
{
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f)
        return false;
    char text[32] = {};
    const bool ok = std::fgets(text, sizeof text, f) != nullptr;
    std::fclose(f);
    if (!ok)
        return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 16);
    if (end == text)
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// "iowarrior12" -> 12; -1 for any other name.
long NodeNumber(const char* name)
{
    static const char prefix[] = "iowarrior";
    if (std::strncmp(name, prefix, sizeof prefix - 1) != 0)
        return -1;
    const char* digits = name + sizeof prefix - 1;
    if (!*digits || std::strspn(digits, "0123456789") != std::strlen(digits))
        return -1;
    return std::strtol(digits, nullptr, 10);
}

// The driver's nodes in the order of their minor numbers, so the first device stays the first.
std::vector<std::string> DeviceNodes()
{
    std::vector<std::pair<long, std::string>> found;
    if (DIR* dir = opendir((g_devRoot + "/usb").c_str())) {
        while (const dirent* e = readdir(dir)) {
            const long n = NodeNumber(e->d_name);
            if (n >= 0)
                found.emplace_back(n, e->d_name);
        }
        closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& f : found)
        names.push_back(f.second);
    return names;
}

// Opens one node if it is interface 0 of a device; fills `dev`. The driver's own answer wins; sysfs
// stands in where the node does not answer the ioctl.
bool OpenNode(const std::string& name, Device& dev)
{
    const std::string sys = g_sysRoot + "/class/usbmisc/" + name + "/device";
    uint32_t ifNum = 0;
    const bool knowsIf = ReadHexFile(sys + "/bInterfaceNumber", ifNum);
    if (knowsIf && ifNum != 0)
        return false; // the special-mode interface: not used, and not held open either
    uint32_t product = 0;
    ReadHexFile(sys + "/../idProduct", product);

    dev.node = g_devRoot + "/usb/" + name;
    dev.fd = open(dev.node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (dev.fd < 0) {
        std::fprintf(stderr, "iowkit: cannot open %s: %s\n", dev.node.c_str(), std::strerror(errno));
        return false;
    }
    DriverInfo info{};
    if (ioctl(dev.fd, IowGetInfo, &info) == 0) {
        product = info.product;
        ifNum = info.if_num;
        dev.reportSize = info.report_size;
    } else if (!knowsIf) {
        std::fprintf(stderr, "iowkit: %s: neither the driver nor sysfs name its interface\n", dev.node.c_str());
        ifNum = 1;
    } else {
        dev.reportSize = KnownReportSize(product);
    }
    if (ifNum != 0) {
        close(dev.fd);
        dev.fd = -1;
        return false;
    }
    dev.product = product;
    return true;
}

Device* Find(IOWKIT_HANDLE handle)
{
    for (Device& d : g_devices) {
        if (handle != 0 && d.handle == handle)
            return &d;
    }
    return nullptr;
}

void Failed(Device& dev, const char* what, int error)
{
    if (!dev.failed)
        std::fprintf(stderr, "iowkit: %s on %s failed: %s\n", what, dev.node.c_str(), std::strerror(error));
    dev.failed = true;
}

} // namespace

extern "C" {

IOWKIT_HANDLE IowKitOpenDevice(void)
{
    std::lock_guard guard(g_lock);
    if (!g_devices.empty())
        return g_devices.front().handle;
    for (const std::string& name : DeviceNodes()) {
        Device dev;
        if (!OpenNode(name, dev))
            continue;
        dev.handle = g_nextHandle++;
        if (g_nextHandle > 0x7fffffff)
            g_nextHandle = 1;
        g_devices.push_back(dev);
    }
    return g_devices.empty() ? 0 : g_devices.front().handle;
}

void IowKitCloseDevice(IOWKIT_HANDLE)
{
    std::lock_guard guard(g_lock);
    for (Device& d : g_devices)
        close(d.fd);
    g_devices.clear();
}

uint32_t IowKitGetNumDevs(void)
{
    std::lock_guard guard(g_lock);
    return static_cast<uint32_t>(g_devices.size());
}

IOWKIT_HANDLE IowKitGetDeviceHandle(uint32_t numDevice)
{
    std::lock_guard guard(g_lock);
    if (numDevice < 1 || numDevice > g_devices.size())
        return 0;
    return g_devices[numDevice - 1].handle;
}

uint32_t IowKitGetProductId(IOWKIT_HANDLE devHandle)
{
    std::lock_guard guard(g_lock);
    const Device* d = Find(devHandle);
    return d ? d->product : 0;
}

uint32_t IowKitReadNonBlocking(IOWKIT_HANDLE devHandle, uint32_t numPipe, char* buffer, uint32_t length)
{
    std::lock_guard guard(g_lock);
    Device* d = Find(devHandle);
    if (!d || numPipe != 0 || !buffer || length < 1 || d->reportSize == 0)
        return 0;
    // The driver takes exactly one report per read; the caller's buffer may be shorter.
    std::vector<char> report(d->reportSize);
    const ssize_t n = read(d->fd, report.data(), report.size());
    if (n <= 0) {
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            Failed(*d, "read", errno);
        return 0;
    }
    const uint32_t copied = std::min<uint32_t>(static_cast<uint32_t>(n), length - 1);
    buffer[0] = 0;
    std::memcpy(buffer + 1, report.data(), copied);
    return copied + 1;
}

uint32_t IowKitWrite(IOWKIT_HANDLE devHandle, uint32_t numPipe, const char* buffer, uint32_t length)
{
    std::lock_guard guard(g_lock);
    Device* d = Find(devHandle);
    // The driver takes exactly one whole report; anything else would be refused there or cut short.
    if (!d || numPipe != 0 || !buffer || d->reportSize == 0 || length != d->reportSize + 1)
        return 0;
    const ssize_t n = write(d->fd, buffer + 1, d->reportSize);
    if (n < 0) {
        Failed(*d, "write", errno);
        return 0;
    }
    return static_cast<uint32_t>(n) + 1;
}

int IowKitCancelIo(IOWKIT_HANDLE devHandle, uint32_t)
{
    // Every read and write here returns at once, so nothing is ever left pending to cancel.
    std::lock_guard guard(g_lock);
    return Find(devHandle) ? 1 : 0;
}

int IowKitGetReadFd(IOWKIT_HANDLE devHandle, uint32_t numPipe)
{
    // The driver's node itself: it polls readable while a report waits in its queue.
    std::lock_guard guard(g_lock);
    const Device* d = Find(devHandle);
    return d && numPipe == 0 && !d->failed && d->reportSize != 0 ? d->fd : -1;
}

void IowKitTestSetRoots(const char* devRoot, const char* sysRoot)
{
    std::lock_guard guard(g_lock);
    g_devRoot = devRoot ? devRoot : "/dev";
    g_sysRoot = sysRoot ? sysRoot : "/sys";
}

} // extern "C"
