// The emergency button module against a recording stand-in for the device library: what is read, what is
// written, when the alarm goes off, and the start-up warning.

#include "alarm/ioWarrior.h"
#include "core/Globals.h"
#include "platform/IowDevices.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include "TestFolder.h"

#include <QLabel>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

class FakeDevices final : public IowDevices
{
public:
    using Read = std::pair<QByteArray, int>; // copied into the caller's buffer; returned, -1: the bytes' size

    QList<quint32> products; // device k (from 0) has the handle 11 + k
    QList<Read> reads;       // what the first device's reads find
    QStringList calls;
    // The read end of a pipe standing in for the library's read descriptor; -1: the library has none.
    int wakeFd = -1;
    bool drainWake = true; // false: it stays readable without reports, as a broken one would

    bool Has(quint32 handle) const { return handle - 11 < quint32(products.size()); }
    int ReadsOf(quint32 handle) const { return int(calls.count(QStringLiteral("read %1").arg(handle))); }

    quint32 OpenDevice() override { return products.isEmpty() ? 0 : 11; }
    quint32 GetNumDevs() override { return quint32(products.size()); }
    quint32 GetDeviceHandle(quint32 n) override
    {
        calls << QStringLiteral("handle %1").arg(n);
        return Has(10 + n) ? 10 + n : 0;
    }
    quint32 GetProductId(quint32 handle) override { return Has(handle) ? products[handle - 11] : 0; }
    quint32 ReadNonBlocking(quint32 handle, quint32 pipe, char* buffer, quint32 length) override
    {
        calls << QStringLiteral("read %1").arg(handle);
        char pending[64];
        while (drainWake && wakeFd >= 0 && ::read(wakeFd, pending, sizeof pending) > 0) {
        }
        if (handle != 11 || pipe != 0 || reads.isEmpty())
            return 0;
        const auto [data, result] = reads.takeFirst();
        std::memcpy(buffer, data.constData(), qMin(quint32(data.size()), length));
        return quint32(result < 0 ? data.size() : result);
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
    int ReadFd(quint32 handle, quint32 pipe) override { return Has(handle) && pipe == 0 ? wakeFd : -1; }
};

} // namespace

class tst_iowarrior : public QObject
{
    Q_OBJECT

    FakeDevices m_fake;
    QTimer m_timer;
    int m_alarms = 0;
    std::unique_ptr<TestFolder> m_folder;
    int m_wake[2] = {-1, -1}; // a pipe standing in for the library's read descriptor

    static QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }
    static QList<XPMsgBox*> OpenBoxes()
    {
        QList<XPMsgBox*> boxes;
        for (QWidget* w : Forms::Loaded())
            if (auto* box = qobject_cast<XPMsgBox*>(w); box && box->isVisible())
                boxes << box;
        return boxes;
    }

    // Reports arriving at the first device, whose library wakes the program.
    void Arrive(std::initializer_list<const char*> reports)
    {
        for (const char* r : reports)
            m_fake.reads.append({Hex(r), -1});
        QCOMPARE(::write(m_wake[1], "x", 1), 1);
    }

    // Devices with these product ids, handles 11, 12, ...; opened as the start does.
    void Use(std::initializer_list<quint32> products)
    {
        m_fake.products = products;
        Globals::UsbButtonHandle = ioWarrior::OpenEmergencyButton(true);
    }

private slots:
    void init()
    {
        m_fake = FakeDevices();
        m_alarms = 0;
        m_timer.setInterval(15);
        m_folder = std::make_unique<TestFolder>();
        ioWarrior::SetDevicesForTests(&m_fake);
        ioWarrior::SetTimerForTests(&m_timer);
        ioWarrior::SetAlertForTests([this] { ++m_alarms; });
        QCOMPARE(::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC), 0);
    }

    void cleanup()
    {
        ioWarrior::CloseEmergencyButton();
        ioWarrior::SetDevicesForTests(nullptr);
        ioWarrior::SetAlertForTests({});
        m_timer.stop();
        ::close(m_wake[0]);
        ::close(m_wake[1]);
        for (XPMsgBox* box : OpenBoxes())
            Forms::Unload(box);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_folder.reset();
    }

    void onlyExactPressPatternRaisesAlarm()
    {
        const struct
        {
            const char* name;
            quint32 product;
            const char* report;
            int result, alarms; // what the read returns, -1: the report's size; alarms raised
        } rows[] = {
            {"IOW40 pressed", 0x1500, "00dfffffff", -1, 1},
            {"IOW40 released", 0x1500, "00ffffffff", -1, 0},
            {"IOW40 line 0 low too", 0x1500, "00deffffff", -1, 0},
            {"IOW40 press, short read", 0x1500, "00dfff", -1, 0},
            {"IOW24 pressed", 0x1501, "00dfff", -1, 1},
            // Its outputs share port 0: the LED (line 6) switched on while the button is down.
            {"IOW24 pressed, LED on", 0x1501, "009fff", -1, 0},
            {"IOW56 pressed", 0x1503, "00dfffffffffffff", -1, 1},
            {"nothing waiting", 0x1500, "00dfffffff", 0, 0},
            {"unknown id is never read", 0x1502, "00dfffffff", -1, 0},
        };
        for (const auto& r : rows) {
            cleanup();
            init();
            Use({r.product});
            m_fake.reads = {{Hex(r.report), r.result}};
            ioWarrior::PollEmergencyButton();
            QVERIFY2(m_alarms == r.alarms && m_timer.isActive() && (r.product != 0x1502 || m_fake.ReadsOf(11) == 0),
                     r.name);
        }
    }

    // The device wakes the program and no press is missed; a descriptor readable without reports (a broken
    // library) sends the program back to the timer.
    void deviceWakesTheProgram()
    {
        Use({0x1500});
        m_fake.wakeFd = m_wake[0];
        ioWarrior::PollEmergencyButton(); // the link's first look
        QVERIFY(!m_timer.isActive());
        // Several reports behind one wake-up, then one more: every press counts, no timer tick needed.
        Arrive({"00dfffffff", "00ffffffff", "00dfffffff", "00ffffffff"});
        QTRY_COMPARE(m_alarms, 2);
        Arrive({"00dfffffff"});
        QTRY_COMPARE(m_alarms, 3);
        QVERIFY(!m_timer.isActive());

        m_fake.drainWake = false;
        Arrive({});
        QTRY_VERIFY(m_timer.isActive());
        m_fake.reads = {{Hex("00dfffffff"), -1}};
        QTRY_COMPARE(m_alarms, 4);
    }

    void tickArrivingDuringAlarmDoesNotReadAgain()
    {
        Use({0x1500});
        m_fake.reads = {{Hex("00dfffffff"), -1}, {Hex("00dfffffff"), -1}};
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

    // The output port per product id, every other port 255; the unknown 0x1502 gets nothing. Buzzer and LED are
    // switched off on every device at opening (a crashed run may have left them on) and again before the device
    // is closed (the receiver window's switch-off would come too late).
    void outputsPerProductId()
    {
        Use({0x1500, 0x1501, 0x1503, 0x1502});
        QCOMPARE(Globals::UsbButtonHandle, 11L);
        const QStringList off = {"write 11 00ffffffff", "write 12 00ffff", "write 13 00ffffffffffffff"};
        QCOMPARE(m_fake.calls, QStringList({"handle 2", "handle 3", "handle 4"}) + off);
        m_fake.calls.clear();
        ioWarrior::SetButtonOutputs(0x3F);
        QCOMPARE(m_fake.calls, QStringList({"write 11 00ffffff3f", "write 12 003fff", "write 13 00ffffffffffff3f"}));
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
    void missingButtonWarning()
    {
        const struct
        {
            const char* value; // nullptr: no settings file
            bool warn, shown;
        } rows[] = {
            {"0", true, false}, {"ja", true, false}, {"1", false, false}, {"  ", true, true}, {nullptr, true, true}};
        for (const auto& r : rows) {
            cleanup();
            init();
            if (r.value)
                m_folder->writeIni("[General]\r\nCheckBuzzer=" + QByteArray(r.value) + "\r\n");
            QCOMPARE(ioWarrior::OpenEmergencyButton(r.warn), 0L);
            QVERIFY2(OpenBoxes().size() == (r.shown ? 1 : 0), r.value ? r.value : "no file");
        }
        XPMsgBox* box = OpenBoxes().value(0); // the last row's
        QVERIFY(box);
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QCOMPARE(box->findChild<QLabel*>(QStringLiteral("msgtextlabel"))->text(),
                 QStringLiteral("Nottaster nicht angeschlossen oder funktionsbereit!\n"
                                "Die Aktivierung des Alarms ist nur über die Tastatur möglich.\n\n"
                                "Bitte überprüfen Sie die Funktionsfähigkeit des Systems, bevor Sie es einsetzen!"));
    }

    // Last: the library stays loaded for the rest of the process once found.
    void simulatorInProgramFolderDrivesTheModule()
    {
        const QString sim = QCoreApplication::applicationDirPath() + QStringLiteral("/../iowkit-sim/libiowkit.so");
        QVERIFY2(QFile::copy(sim, m_folder->file(QStringLiteral("libiowkit.so"))), qPrintable(sim));
        QDir(m_folder->path()).mkdir(QStringLiteral("iowsim"));
        m_folder->writeFile(QStringLiteral("iowsim/devices"), "0x1501\n0x1500\n");
        ioWarrior::SetDevicesForTests(nullptr);

        QVERIFY(ioWarrior::OpenEmergencyButton(true) > 0);
        QVERIFY(OpenBoxes().isEmpty());
        ioWarrior::PollEmergencyButton();
        m_folder->writeFile(QStringLiteral("iowsim/in-1"), "press\n");
        QTRY_COMPARE(m_alarms, 1);
        QVERIFY(!m_timer.isActive()); // the simulator wakes the program: no polling
        ioWarrior::CloseEmergencyButton();
        QCOMPARE(m_folder->readFile(QStringLiteral("iowsim/events")), QByteArray("open 2\nread 1\ncancel\nclose\n"));
    }
};

QTEST_MAIN(tst_iowarrior)
#include "tst_iowarrior.moc"
