// The emergency button module against a recording stand-in for the device library: what is read, what is
// written, when the alarm goes off, and the start-up warning.

#include "alarm/ioWarrior.h"
#include "core/Globals.h"
#include "platform/IowDevices.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include "TestFolder.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

class FakeDevices final : public IowDevices
{
public:
    struct Read
    {
        QByteArray data; // copied into the caller's buffer
        int result = -1; // what the call returns; -1: the size of `data`
    };
    struct Dev
    {
        quint32 handle = 0;
        quint32 product = 0;
        QList<Read> reads;
    };

    QList<Dev> devs;
    QStringList calls;
    // The read end of a pipe standing in for the library's read descriptor; -1: the library has none.
    int wakeFd = -1;
    bool drainWake = true; // false: it stays readable without reports, as a broken one would

    Dev* Find(quint32 handle)
    {
        for (Dev& d : devs) {
            if (d.handle == handle)
                return &d;
        }
        return nullptr;
    }
    int ReadsOf(quint32 handle) const { return int(calls.count(QStringLiteral("read %1").arg(handle))); }

    quint32 OpenDevice() override { return devs.isEmpty() ? 0 : devs.first().handle; }
    quint32 GetNumDevs() override { return quint32(devs.size()); }
    quint32 GetDeviceHandle(quint32 n) override
    {
        calls << QStringLiteral("handle %1").arg(n);
        return n >= 1 && n <= quint32(devs.size()) ? devs[int(n) - 1].handle : 0;
    }
    quint32 GetProductId(quint32 handle) override { return Find(handle) ? Find(handle)->product : 0; }
    quint32 ReadNonBlocking(quint32 handle, quint32 pipe, char* buffer, quint32 length) override
    {
        calls << QStringLiteral("read %1").arg(handle);
        char pending[64];
        while (drainWake && wakeFd >= 0 && ::read(wakeFd, pending, sizeof pending) > 0) {
        }
        Dev* d = Find(handle);
        if (!d || pipe != 0 || d->reads.isEmpty())
            return 0;
        const Read r = d->reads.takeFirst();
        std::memcpy(buffer, r.data.constData(), qMin(quint32(r.data.size()), length));
        return quint32(r.result < 0 ? r.data.size() : r.result);
    }
    quint32 Write(quint32 handle, quint32 pipe, const char* buffer, quint32 length) override
    {
        calls << QStringLiteral("write%1 %2 %3")
                     .arg(pipe ? QStringLiteral(" pipe 1") : QString())
                     .arg(handle)
                     .arg(QString::fromLatin1(QByteArray(buffer, int(length)).toHex()));
        return length;
    }
    bool CancelIo(quint32 handle, quint32 pipe) override
    {
        calls << QStringLiteral("cancel %1 %2").arg(handle).arg(pipe);
        return true;
    }
    void CloseDevice(quint32 handle) override { calls << QStringLiteral("close %1").arg(handle); }
    int ReadFd(quint32 handle, quint32 pipe) override { return Find(handle) && pipe == 0 ? wakeFd : -1; }
};

QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QList<XPMsgBox*> OpenBoxes()
{
    QList<XPMsgBox*> boxes;
    for (QWidget* w : Forms::Loaded()) {
        if (auto* box = qobject_cast<XPMsgBox*>(w); box && box->isVisible())
            boxes << box;
    }
    return boxes;
}

} // namespace

class tst_iowarrior : public QObject
{
    Q_OBJECT

    FakeDevices m_fake;
    QTimer m_timer;
    int m_alarms = 0;
    std::unique_ptr<TestFolder> m_folder;
    int m_wake[2] = {-1, -1};

    // The first device's library wakes the program; `reports` arrive at once.
    void WakeOnReports()
    {
        QCOMPARE(::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC), 0);
        m_fake.wakeFd = m_wake[0];
    }
    void Arrive(const QList<QByteArray>& reports)
    {
        for (const QByteArray& r : reports)
            m_fake.devs[0].reads.append({r});
        QCOMPARE(::write(m_wake[1], "x", 1), 1);
    }

    // Devices with these product ids, handles 11, 12, ...; opened as the start does.
    void Use(std::initializer_list<quint32> products)
    {
        quint32 handle = 11;
        for (quint32 p : products)
            m_fake.devs.append({handle++, p, {}});
        Globals::UsbButtonHandle = ioWarrior::OpenEmergencyButton(true);
        m_fake.calls.clear(); // the switch-off at opening; openAndCloseSwitchEverythingOff checks it
    }

private slots:
    void init()
    {
        m_fake = FakeDevices();
        m_alarms = 0;
        m_timer.stop();
        m_timer.setInterval(15);
        m_folder = std::make_unique<TestFolder>();
        ioWarrior::SetDevicesForTests(&m_fake);
        ioWarrior::SetTimerForTests(&m_timer);
        ioWarrior::SetAlertForTests([this] { ++m_alarms; });
    }

    void cleanup()
    {
        ioWarrior::CloseEmergencyButton();
        ioWarrior::SetDevicesForTests(nullptr);
        ioWarrior::SetAlertForTests({});
        m_timer.stop();
        for (int& fd : m_wake) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
        for (XPMsgBox* box : OpenBoxes())
            Forms::Unload(box);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_folder.reset();
    }

    // The output port per product id, every other port 255; the unknown 0x1502 (handle 14) gets nothing.
    void outputsPerProductId()
    {
        Use({0x1500, 0x1501, 0x1503, 0x1502});
        QCOMPARE(Globals::UsbButtonHandle, 11L);
        ioWarrior::SetButtonOutputs(0x3F);
        QCOMPARE(m_fake.calls, QStringList({"write 11 00ffffff3f", "write 12 003fff", "write 13 00ffffffffffff3f"}));
    }

    void onlyExactPressPatternRaisesAlarm_data()
    {
        QTest::addColumn<quint32>("product");
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("alarms");
        QTest::newRow("IOW40 pressed") << 0x1500u << Hex("00dfffffff") << -1 << 1;
        QTest::newRow("IOW40 released") << 0x1500u << Hex("00ffffffff") << -1 << 0;
        QTest::newRow("IOW40 line 0 low too") << 0x1500u << Hex("00deffffff") << -1 << 0;
        QTest::newRow("IOW40 press, short read") << 0x1500u << Hex("00dfff") << -1 << 0;
        QTest::newRow("IOW24 pressed") << 0x1501u << Hex("00dfff") << -1 << 1;
        // Its outputs share port 0: the LED (line 6) switched on while the button is down.
        QTest::newRow("IOW24 pressed, LED on") << 0x1501u << Hex("009fff") << -1 << 0;
        QTest::newRow("IOW56 pressed") << 0x1503u << Hex("00dfffffffffffff") << -1 << 1;
        QTest::newRow("nothing waiting") << 0x1500u << Hex("00dfffffff") << 0 << 0;
        QTest::newRow("unknown id is never read") << 0x1502u << Hex("00dfffffff") << -1 << 0;
    }
    void onlyExactPressPatternRaisesAlarm()
    {
        QFETCH(quint32, product);
        QFETCH(QByteArray, report);
        QFETCH(int, result);
        QFETCH(int, alarms);
        Use({product});
        m_fake.devs[0].reads = {{report, result}};
        ioWarrior::PollEmergencyButton();
        QCOMPARE(m_alarms, alarms);
        QVERIFY(m_timer.isActive());
        if (product == 0x1502)
            QCOMPARE(m_fake.ReadsOf(11), 0);
    }

    void deviceWakesTheProgramAndNoPressIsMissed()
    {
        Use({0x1500});
        WakeOnReports();
        ioWarrior::PollEmergencyButton(); // the link's first look
        QVERIFY(!m_timer.isActive());
        // Several reports behind one wake-up, then one more: every press counts, no timer tick needed.
        Arrive({Hex("00dfffffff"), Hex("00ffffffff"), Hex("00dfffffff"), Hex("00ffffffff")});
        QTRY_COMPARE(m_alarms, 2);
        Arrive({Hex("00dfffffff")});
        QTRY_COMPARE(m_alarms, 3);
        QVERIFY(!m_timer.isActive());
    }

    void descriptorReadableWithoutReportsFallsBackToTheTimer()
    {
        Use({0x1500});
        WakeOnReports();
        m_fake.drainWake = false;
        Arrive({});
        ioWarrior::PollEmergencyButton();
        QTRY_VERIFY(m_timer.isActive());
        m_fake.devs[0].reads = {{Hex("00dfffffff")}};
        QTRY_COMPARE(m_alarms, 1);
    }

    void tickArrivingDuringAlarmDoesNotReadAgain()
    {
        Use({0x1500});
        m_fake.devs[0].reads = {{Hex("00dfffffff")}, {Hex("00dfffffff")}};
        int readsDuringAlarm = -1;
        // Raising the alarm lets events run; a tick then must not read into the buffer being handled.
        ioWarrior::SetAlertForTests([&] {
            ++m_alarms;
            ioWarrior::PollEmergencyButton();
            readsDuringAlarm = m_fake.ReadsOf(11);
        });
        ioWarrior::PollEmergencyButton();
        QCOMPARE(m_alarms, 1);
        QCOMPARE(readsDuringAlarm, 1);
        ioWarrior::PollEmergencyButton(); // afterwards the second press is handled normally
        QCOMPARE(m_alarms, 2);
    }

    // Buzzer and LED are switched off on every device at opening (a crashed run may have left them on) and
    // again before the device is closed (the receiver window's switch-off would come too late).
    void openAndCloseSwitchEverythingOff()
    {
        m_fake.devs = {{11, 0x1500, {}}, {12, 0x1501, {}}};
        Globals::UsbButtonHandle = ioWarrior::OpenEmergencyButton(true);
        const QStringList off = {"write 11 00ffffffff", "write 12 00ffff"};
        QCOMPARE(m_fake.calls, QStringList{"handle 2"} + off);
        m_fake.calls.clear();
        ioWarrior::CloseEmergencyButton();
        QCOMPARE(m_fake.calls, off + QStringList({"cancel 11 0", "close 11"}));
        QCOMPARE(Globals::UsbButtonHandle, 0L);
        ioWarrior::CloseEmergencyButton(); // again, as the server mode does: nothing left to close
        ioWarrior::PollEmergencyButton();
        QCOMPARE(m_fake.calls.size(), off.size() + 2);
    }

    // Only "CheckBuzzer" 1 (the default, also for no file) warns of a missing button; the call returns with the
    // box still open.
    void missingButtonWarning_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("warn");
        QTest::addColumn<bool>("shown");
        QTest::newRow("no settings file") << QByteArray() << true << true;
        QTest::newRow("blank reads as default 1") << QByteArray("  ") << true << true;
        QTest::newRow("0") << QByteArray("0") << true << false;
        QTest::newRow("ja") << QByteArray("ja") << true << false;
        QTest::newRow("1 but warn false") << QByteArray("1") << false << false;
    }
    void missingButtonWarning()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, warn);
        QFETCH(bool, shown);
        if (!value.isNull())
            m_folder->writeIni("[General]\r\nCheckBuzzer=" + value + "\r\n");
        QCOMPARE(ioWarrior::OpenEmergencyButton(warn), 0L);
        QCOMPARE(OpenBoxes().size(), shown ? 1 : 0);
        if (!shown)
            return;
        XPMsgBox* box = OpenBoxes().first();
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QCOMPARE(box->findChild<QLabel*>(QStringLiteral("msgtextlabel"))->text(),
                 QStringLiteral("Nottaster nicht angeschlossen oder funktionsbereit!\n"
                                "Die Aktivierung des Alarms ist nur über die Tastatur möglich.\n\n"
                                "Bitte überprüfen Sie die Funktionsfähigkeit des Systems, bevor Sie es einsetzen!"));
        QPointer<XPMsgBox> guard(box);
        box->findChild<QPushButton*>(QStringLiteral("links"))->click();
        QTRY_VERIFY(guard.isNull());
    }

    // Last: the library stays loaded for the rest of the process once found.
    void simulatorInProgramFolderDrivesTheModule()
    {
        const QString sim = QCoreApplication::applicationDirPath() + QStringLiteral("/../iowkit-sim/libiowkit.so");
        QVERIFY2(QFile::copy(sim, m_folder->file(QStringLiteral("libiowkit.so"))), qPrintable(sim));
        QDir(m_folder->path()).mkdir(QStringLiteral("iowsim"));
        QFile devices(m_folder->file(QStringLiteral("iowsim/devices")));
        QVERIFY(devices.open(QIODevice::WriteOnly));
        devices.write("0x1501\n0x1500\n");
        devices.close();
        ioWarrior::SetDevicesForTests(nullptr);

        QVERIFY(ioWarrior::OpenEmergencyButton(true) > 0);
        QVERIFY(OpenBoxes().isEmpty());
        ioWarrior::PollEmergencyButton();
        QFile in(m_folder->file(QStringLiteral("iowsim/in-1")));
        QVERIFY(in.open(QIODevice::Append));
        in.write("press\n");
        in.flush();
        QTRY_COMPARE(m_alarms, 1);
        QVERIFY(!m_timer.isActive()); // the simulator wakes the program: no polling
        ioWarrior::CloseEmergencyButton();
        QCOMPARE(m_folder->readFile(QStringLiteral("iowsim/events")), QByteArray("open 2\nread 1\ncancel\nclose\n"));
    }
};

QTEST_MAIN(tst_iowarrior)
#include "tst_iowarrior.moc"
