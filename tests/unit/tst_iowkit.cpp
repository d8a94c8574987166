// The device library over the kernel driver, against a fake device tree: each device node is a
// pseudo-terminal whose other end the test holds, so reads see what the test sends and writes arrive at
// the test, as with the driver. The sysfs entries are files laid out as the kernel lays them out.
// Also the loader: where it looks, and that it refuses a library that lacks calls.

#include "../../lib/iowkit/iowkit_test.h"
#include "platform/IowKitLibrary.h"

#include "TestFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString BuildPath(const QString& relative)
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../") + relative);
}

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
    ~FakeTree()
    {
        for (int fd : m_masters)
            if (fd >= 0)
                close(fd);
    }
    QString dev() const { return m_dir.path() + QStringLiteral("/dev"); }
    QString sys() const { return m_dir.path() + QStringLiteral("/sys"); }

    // Node `minor` as interface `ifNum` of a device with `product`; returns the test's end of the node.
    int Add(int minor, quint32 product, int ifNum, int usbPort)
    {
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return -1;
        m_masters << master;
        // Raw, so that bytes pass untouched. The node's settings are made on its first open: set them then.
        const int pts = open(ptsname(master), O_RDWR | O_NOCTTY);
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
    void Vanish(int master)
    {
        const int i = int(m_masters.indexOf(master));
        close(master);
        m_masters[i] = -1;
    }

private:
    QTemporaryDir m_dir;
    QList<int> m_masters;
};

QByteArray Drain(int master)
{
    QByteArray got;
    char buf[64];
    for (int i = 0; i < 20; ++i) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0)
            got.append(buf, int(n));
        else
            QTest::qWait(5);
    }
    return got;
}

// The first read that delivers something within a second (a QTRY macro would read twice).
quint32 ReadSoon(IowKitLibrary& lib, quint32 handle, char* buffer, quint32 length)
{
    for (int i = 0; i < 100; ++i) {
        if (const quint32 n = lib.ReadNonBlocking(handle, 0, buffer, length))
            return n;
        QTest::qWait(10);
    }
    return 0;
}

} // namespace

class tst_iowkit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString path = BuildPath(QStringLiteral("bin/libiowkit.so"));
        QVERIFY2(m_lib.LoadFile(path), qPrintable(m_lib.ErrorString()));
        // The test-only call is not part of what the program loads; the same library instance answers it.
        m_extra = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(m_extra);
        m_setRoots = reinterpret_cast<decltype(&IowKitTestSetRoots)>(dlsym(m_extra, "IowKitTestSetRoots"));
        QVERIFY(m_setRoots);
    }

    void cleanupTestCase()
    {
        if (m_extra)
            dlclose(m_extra);
    }

    void cleanup()
    {
        m_lib.CloseDevice(0);
        if (m_setRoots)
            m_setRoots(nullptr, nullptr);
    }

    void discoveryKeepsInterfaceZeroInMinorOrder()
    {
        FakeTree tree;
        tree.Add(0, 0x1500, 0, 1);
        tree.Add(1, 0x1500, 1, 1); // the same IO-Warrior40's special-mode interface
        tree.Add(10, 0x1503, 0, 3);
        tree.Add(2, 0x1501, 0, 2);
        tree.Add(3, 0x1501, 1, 2);
        QDir().mkpath(tree.dev() + QStringLiteral("/usb"));
        WriteText(tree.dev() + QStringLiteral("/usb/iowarrior4x"), "not a device");
        // Listed, but gone before it could be opened.
        QFile::link(QStringLiteral("/nonexistent/pts/99"), tree.dev() + QStringLiteral("/usb/iowarrior5"));
        m_setRoots(qPrintable(tree.dev()), qPrintable(tree.sys()));

        QCOMPARE(m_lib.GetNumDevs(), 0u);
        const quint32 first = m_lib.OpenDevice();
        QVERIFY(first != 0);
        QCOMPARE(m_lib.GetNumDevs(), 3u);
        QCOMPARE(m_lib.GetDeviceHandle(1), first);
        QCOMPARE(m_lib.GetProductId(m_lib.GetDeviceHandle(1)), 0x1500u);
        QCOMPARE(m_lib.GetProductId(m_lib.GetDeviceHandle(2)), 0x1501u);
        QCOMPARE(m_lib.GetProductId(m_lib.GetDeviceHandle(3)), 0x1503u); // iowarrior10 after iowarrior2
        QCOMPARE(m_lib.GetDeviceHandle(4), 0u);
        QCOMPARE(m_lib.OpenDevice(), first); // a second open hands back the same devices
        QVERIFY(m_lib.CancelIo(first, 0));
    }

    // Reads, writes of exactly one report, and one device unplugged while the others go on.
    void readsWritesAndUnplug()
    {
        FakeTree tree;
        const int iow40 = tree.Add(0, 0x1500, 0, 1);
        const int iow24 = tree.Add(1, 0x1501, 0, 2);
        const int iow56 = tree.Add(2, 0x1503, 0, 3);
        const int other = tree.Add(3, 0x1502, 0, 4);
        m_setRoots(qPrintable(tree.dev()), qPrintable(tree.sys()));
        const quint32 h40 = m_lib.OpenDevice();
        const quint32 h24 = m_lib.GetDeviceHandle(2);
        const quint32 h56 = m_lib.GetDeviceHandle(3);
        const quint32 hOther = m_lib.GetDeviceHandle(4);
        char buf[8];
        QCOMPARE(m_lib.ReadNonBlocking(h40, 0, buf, 5), 0u); // nothing waiting: back at once
        // The read descriptor wakes a caller only when a report waits.
        pollfd wake{m_lib.ReadFd(h40, 0), POLLIN, 0};
        QVERIFY(wake.fd >= 0);
        QCOMPARE(poll(&wake, 1, 0), 0);
        QCOMPARE(write(iow40, "\xdf\xff\xff\xff", 4), 4);
        QCOMPARE(poll(&wake, 1, 5000), 1);
        QCOMPARE(ReadSoon(m_lib, h40, buf, 5), 5u);
        QCOMPARE(QByteArray(buf, 5), QByteArray::fromHex("00dfffffff"));
        // Fewer bytes than a report: reported as fewer, never as a whole report.
        QCOMPARE(write(iow40, "\xdf\xff", 2), 2);
        QCOMPARE(ReadSoon(m_lib, h40, buf, 5), 3u);
        QCOMPARE(QByteArray(buf, 3), QByteArray::fromHex("00dfff"));

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
    void* m_extra = nullptr;
};

QTEST_MAIN(tst_iowkit)
#include "tst_iowkit.moc"
