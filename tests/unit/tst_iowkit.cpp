// The device library over the kernel driver, against a fake device tree: each device node is a
// pseudo-terminal whose other end the test holds, so reads see what the test sends and writes arrive at
// the test, as with the driver. The sysfs entries are files laid out as the kernel lays them out.

#include "../../lib/iowkit/iowkit_test.h"
#include "platform/IowKitLibrary.h"

#include "TestFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

void WriteText(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// /dev/usb/iowarriorN and /sys/class/usbmisc/iowarriorN for devices the test plays.
class FakeTree
{
public:
    ~FakeTree() { std::for_each(m_masters.begin(), m_masters.end(), ::close); }
    QString dev() const { return m_dir.path() + QStringLiteral("/dev"); }
    QString sys() const { return m_dir.path() + QStringLiteral("/sys"); }

    // Node `minor` as interface `ifNum` of a device with `product`; returns the test's end of the node.
    int Add(int minor, quint32 product, int ifNum, int usbPort)
    {
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        m_masters << master;
        // Raw, so that bytes pass untouched. The node's settings are made on its first open: set them then.
        const int pts = grantpt(master) == 0 && unlockpt(master) == 0 ? open(ptsname(master), O_RDWR | O_NOCTTY) : -1;
        if (pts < 0)
            return -1;
        termios raw{};
        tcgetattr(pts, &raw);
        cfmakeraw(&raw);
        tcsetattr(pts, TCSANOW, &raw);
        close(pts);

        const QString node = QStringLiteral("iowarrior%1").arg(minor);
        QDir().mkpath(dev() + QStringLiteral("/usb"));
        QFile::link(QString::fromLocal8Bit(ptsname(master)), dev() + QStringLiteral("/usb/") + node);

        const QString usb = sys() + QStringLiteral("/devices/usb1/1-%1").arg(usbPort);
        const QString iface = usb + QStringLiteral("/1-%1:1.%2").arg(usbPort).arg(ifNum);
        WriteText(usb + QStringLiteral("/idProduct"), QByteArray::number(product, 16).rightJustified(4, '0') + '\n');
        WriteText(iface + QStringLiteral("/bInterfaceNumber"), QByteArray::number(ifNum).rightJustified(2, '0') + '\n');
        const QString cls = sys() + QStringLiteral("/class/usbmisc/") + node;
        QDir().mkpath(cls);
        QFile::link(iface, cls + QStringLiteral("/device"));
        return master;
    }
    void Vanish(int master) { close(m_masters.takeAt(m_masters.indexOf(master))); }

private:
    QTemporaryDir m_dir;
    QList<int> m_masters;
};

// What reached the device within a tenth of a second: one write of the library is one read here.
QByteArray Drain(int master)
{
    char buf[64];
    pollfd p{master, POLLIN, 0};
    const ssize_t n = poll(&p, 1, 100) == 1 ? read(master, buf, sizeof buf) : 0;
    return QByteArray(buf, int(qMax<ssize_t>(n, 0)));
}

} // namespace

class tst_iowkit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/libiowkit.so");
        QVERIFY2(m_lib.LoadFile(path), qPrintable(m_lib.ErrorString()));
        // The test-only call is not part of what the program loads; the same library instance answers it.
        void* same = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(same);
        m_setRoots = reinterpret_cast<decltype(&IowKitTestSetRoots)>(dlsym(same, "IowKitTestSetRoots"));
        QVERIFY(m_setRoots);
    }

    void cleanup()
    {
        m_lib.CloseDevice(0);
        if (m_setRoots)
            m_setRoots(nullptr, nullptr);
    }

    // Discovery keeps interface 0 of each device, in minor order; reads, writes of exactly one report, and one
    // device unplugged while the others go on.
    void discoveryReadsWritesAndUnplug()
    {
        FakeTree tree;
        const int iow40 = tree.Add(0, 0x1500, 0, 1);
        tree.Add(1, 0x1500, 1, 1); // the same IO-Warrior40's special-mode interface
        const int iow56 = tree.Add(10, 0x1503, 0, 3);
        const int iow24 = tree.Add(2, 0x1501, 0, 2);
        tree.Add(3, 0x1501, 1, 2);
        const int other = tree.Add(4, 0x1502, 0, 4);
        WriteText(tree.dev() + QStringLiteral("/usb/iowarrior4x"), "not a device");
        // Listed, but gone before it could be opened.
        QFile::link(QStringLiteral("/nonexistent/pts/99"), tree.dev() + QStringLiteral("/usb/iowarrior5"));
        m_setRoots(qPrintable(tree.dev()), qPrintable(tree.sys()));

        QCOMPARE(m_lib.GetNumDevs(), 0u);
        const quint32 h40 = m_lib.OpenDevice();
        QVERIFY(h40 != 0);
        QCOMPARE(m_lib.GetNumDevs(), 4u);
        QCOMPARE(m_lib.GetDeviceHandle(1), h40);
        const quint32 h24 = m_lib.GetDeviceHandle(2);
        const quint32 hOther = m_lib.GetDeviceHandle(3);
        const quint32 h56 = m_lib.GetDeviceHandle(4); // iowarrior10 after iowarrior4
        QCOMPARE(m_lib.GetProductId(h40), 0x1500u);
        QCOMPARE(m_lib.GetProductId(h24), 0x1501u);
        QCOMPARE(m_lib.GetProductId(hOther), 0x1502u);
        QCOMPARE(m_lib.GetProductId(h56), 0x1503u);
        QCOMPARE(m_lib.GetDeviceHandle(5), 0u);
        QCOMPARE(m_lib.OpenDevice(), h40); // a second open hands back the same devices
        QVERIFY(m_lib.CancelIo(h40, 0));
        char buf[8];
        QCOMPARE(m_lib.ReadNonBlocking(h40, 0, buf, 5), 0u); // nothing waiting: back at once
        // The read descriptor wakes a caller only when a report waits.
        pollfd wake{m_lib.ReadFd(h40, 0), POLLIN, 0};
        QVERIFY(wake.fd >= 0);
        QCOMPARE(poll(&wake, 1, 0), 0);
        // A report, then fewer bytes than a report: reported as fewer, never as a whole report.
        for (const char* report : {"00dfffffff", "00dfff"}) {
            const QByteArray bytes = QByteArray::fromHex(report);
            QCOMPARE(write(iow40, bytes.constData() + 1, bytes.size() - 1), bytes.size() - 1);
            QCOMPARE(poll(&wake, 1, 5000), 1);
            QCOMPARE(m_lib.ReadNonBlocking(h40, 0, buf, 5), quint32(bytes.size()));
            QCOMPARE(QByteArray(buf, bytes.size()), bytes);
        }

        const QByteArray r40 = QByteArray::fromHex("00ffffff7f");
        QCOMPARE(m_lib.Write(h40, 0, r40.constData(), 5), 5u);
        QCOMPARE(Drain(iow40), QByteArray::fromHex("ffffff7f")); // the driver gets the ports without the id
        const QByteArray r56 = QByteArray::fromHex("00ffffffffffffbf");
        QCOMPARE(m_lib.Write(h56, 0, r56.constData(), 8), 8u);
        QCOMPARE(Drain(iow56), QByteArray::fromHex("ffffffffffffbf"));
        // A report of the wrong size, another pipe or an unknown device is refused, and nothing reaches it.
        QCOMPARE(m_lib.Write(h40, 0, r56.constData(), 8), 0u);
        QCOMPARE(m_lib.Write(h40, 1, r40.constData(), 5), 0u);
        QCOMPARE(m_lib.Write(hOther, 0, r40.constData(), 5), 0u);
        QCOMPARE(Drain(iow40), QByteArray());
        QCOMPARE(Drain(other), QByteArray());

        tree.Vanish(iow40); // unplugged
        QCOMPARE(m_lib.ReadNonBlocking(h40, 0, buf, 5), 0u);
        QCOMPARE(m_lib.Write(h40, 0, r40.constData(), 5), 0u);
        QCOMPARE(m_lib.ReadFd(h40, 0), -1); // nothing left to wait for: the caller goes back to polling
        const QByteArray r24 = QByteArray::fromHex("00ffff");
        QCOMPARE(m_lib.Write(h24, 0, r24.constData(), 3), 3u); // the others are not affected
        QCOMPARE(Drain(iow24), QByteArray::fromHex("ffff"));
    }

private:
    IowKitLibrary m_lib;
    decltype(&IowKitTestSetRoots) m_setRoots = nullptr;
};

QTEST_MAIN(tst_iowkit)
#include "tst_iowkit.moc"
