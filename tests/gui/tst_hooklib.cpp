// The program's side of the global alert key, offscreen; the X side and loading the library: the system test.
#include "alarm/Hooklib.h"
#include "ui/Forms.h"

#include <QLineEdit>
#include <QtTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

class tst_Hooklib : public QObject
{
    Q_OBJECT

    const QString m_shm = QStringLiteral("/tavinor_test_%1").arg(QCoreApplication::applicationPid());
    int m_alarms = 0;

    // The 24 bytes at the start of the shared block; empty when there is none.
    QByteArray Shared() const
    {
        QByteArray bytes(24, '\0');
        const int fd = shm_open(m_shm.toLocal8Bit().constData(), O_RDONLY, 0);
        const bool ok = fd >= 0 && pread(fd, bytes.data(), 24, 0) == 24;
        if (fd >= 0)
            close(fd);
        return ok ? bytes : QByteArray();
    }

private slots:
    void init()
    {
        Hooklib::SetSharedMemoryNameForTests(m_shm);
        m_alarms = 0;
        Hooklib::SetAlertActionForTests([this] { ++m_alarms; });
    }

    void cleanup()
    {
        Hooklib::RemoveKeyboardHook();
        Hooklib::SetAlertActionForTests(nullptr);
    }

    // Text, key code, modifiers (1 Shift, 2 Ctrl, 4 Alt): any order, upper-case words only, a blank is part of a
    // word. An earlier parse must not leak into the next.
    void parseAlertKey()
    {
        const std::tuple<const char*, int, int> rows[] = {{"ALT+CTRL+X", 88, 6}, {"X+ALT+CTRL", 88, 6},
                                                          {"ctrl+ALT+X", 88, 4}, {"CTRL+SHIFT+F12", 123, 3},
                                                          {"CTRL + X", 88, 0},   {"", 123, 0}};
        for (const auto& [text, code, modifiers] : rows) {
            Hooklib::ParseAlertKey(QStringLiteral("ALT+SHIFT+CTRL+Q"), 81);
            Hooklib::ParseAlertKey(QString::fromLatin1(text), qint16(code));
            QVERIFY2(Hooklib::PendingShift() == modifiers && Hooklib::PendingKeyCode() == code, text);
        }
    }

    void captureAlertKey()
    {
        QLineEdit box;
        Hooklib::CaptureAlertKey(123, 3, &box);
        QCOMPARE(box.text(), QStringLiteral("CTRL+SHIFT+F12"));
        QCOMPARE(box.property("tag").toString(), QStringLiteral("123"));
        // Ctrl alone: the box empties, the pending key stays.
        Hooklib::CaptureAlertKey(17, 2, &box);
        QCOMPARE(box.text(), QString());
        QCOMPARE(Hooklib::PendingKeyCode(), qint16(123));
        QCOMPARE(Hooklib::PendingShift(), qint16(3));
        Hooklib::CaptureAlertKey(88, 7, &box);
        QCOMPARE(box.text(), QStringLiteral("CTRL+SHIFT+ALT+X"));
    }

    // Applying writes the record: window, 0, key code, then Shift, Ctrl and Alt as 0x8000 or 0, little-endian like
    // this machine. A key-down raises the alarm for exactly that key, not while the settings dialog is loaded.
    void applyAndKeyDown()
    {
        QWidget main;
        Hooklib::ParseAlertKey(QStringLiteral("CTRL+SHIFT+F12"), 123);
        Hooklib::ApplyAlertKey(&main);
        const quint32 window = quint32(main.winId());
        QCOMPARE(Shared(), QByteArray::fromRawData(reinterpret_cast<const char*>(&window), 4) +
                               QByteArray::fromHex("00000000 7b000000 00800000 00800000 00000000"));
        Hooklib::AlertKeyDown(123, 3);
        QCOMPARE(m_alarms, 1);
        Hooklib::AlertKeyDown(123, 1); // Shift without Ctrl
        Hooklib::AlertKeyDown(123, 7); // one modifier too many
        Hooklib::AlertKeyDown(122, 3);
        QCOMPARE(m_alarms, 1);
        auto* settings = new QWidget;
        settings->setObjectName(QStringLiteral("frmSettings"));
        Forms::Register(settings);
        Hooklib::AlertKeyDown(123, 3);
        QCOMPARE(m_alarms, 1);
        delete settings;
        // A second press while the first alarm lets events run belongs to that alarm.
        Hooklib::SetAlertActionForTests([this] {
            ++m_alarms;
            Hooklib::AlertKeyDown(123, 3);
        });
        Hooklib::AlertKeyDown(123, 3);
        QCOMPARE(m_alarms, 2);

        // A new key replaces the record at once; pending key 0 changes nothing.
        Hooklib::ParseAlertKey(QStringLiteral("ALT+X"), 88);
        Hooklib::ApplyAlertKey(&main);
        const QByteArray record = Shared();
        QCOMPARE(record.mid(8), QByteArray::fromHex("58000000 00000000 00000000 00800000"));
        Hooklib::ParseAlertKey(QStringLiteral("CTRL+F1"), 0);
        Hooklib::ApplyAlertKey(&main);
        QCOMPARE(Shared(), record);
        QCOMPARE(Hooklib::GetAlertKeyCode(), qint16(88));
        Hooklib::RemoveKeyboardHook();
        QVERIFY(Shared().isEmpty());
    }
};

QTEST_MAIN(tst_Hooklib)
#include "tst_hooklib.moc"
