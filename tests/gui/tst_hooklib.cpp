// The program's side of the global alert key, offscreen; the X side and loading the library: the system test.
#include "alarm/Hooklib.h"
#include "ui/Forms.h"

#include <QLineEdit>
#include <QtTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The 24 bytes at the start of a shared block; empty when there is none.
QByteArray ReadShared(const QString& name)
{
    const int fd = shm_open(name.toLocal8Bit().constData(), O_RDONLY, 0);
    if (fd < 0)
        return {};
    QByteArray bytes(24, '\0');
    const bool ok = pread(fd, bytes.data(), 24, 0) == 24;
    close(fd);
    return ok ? bytes : QByteArray();
}

} // namespace

class tst_Hooklib : public QObject
{
    Q_OBJECT
private:
    QString m_shm;
    int m_alarms = 0;

private slots:
    void initTestCase()
    {
        m_shm = QStringLiteral("/tavinor_test_%1").arg(QCoreApplication::applicationPid());
    }

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

    void parseAlertKey_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("ALT+CTRL+X") << "ALT+CTRL+X" << 88 << 6;
        QTest::newRow("X+ALT+CTRL") << "X+ALT+CTRL" << 88 << 6;
        QTest::newRow("lower-case word") << "ctrl+ALT+X" << 88 << 4;
        QTest::newRow("CTRL+SHIFT+F12") << "CTRL+SHIFT+F12" << 123 << 3;
        QTest::newRow("blanks are part of a word") << "CTRL + X" << 88 << 0;
        QTest::newRow("empty") << "" << 123 << 0;
    }
    void parseAlertKey()
    {
        QFETCH(QString, text);
        QFETCH(int, code);
        QFETCH(int, modifiers);
        Hooklib::ParseAlertKey(QStringLiteral("ALT+SHIFT+CTRL+Q"), 81); // must not leak into the next parse
        Hooklib::ParseAlertKey(text, qint16(code));
        QCOMPARE(int(Hooklib::PendingShift()), modifiers);
        QCOMPARE(int(Hooklib::PendingKeyCode()), code);
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

    void applyWritesTheRecord()
    {
        QWidget main;
        Hooklib::ParseAlertKey(QStringLiteral("CTRL+SHIFT+F12"), 123);
        Hooklib::ApplyAlertKey(&main);
        QByteArray record = ReadShared(m_shm);
        QCOMPARE(record.size(), 24);
        quint32 window = 0;
        std::memcpy(&window, record.constData(), 4); // this machine is little-endian like the record
        QCOMPARE(window, quint32(main.winId()));
        QCOMPARE(record.mid(4), QByteArray::fromHex("00000000" "7b000000" "00800000" "00800000" "00000000"));

        // A new key replaces the record at once.
        Hooklib::ParseAlertKey(QStringLiteral("ALT+X"), 88);
        Hooklib::ApplyAlertKey(&main);
        record = ReadShared(m_shm);
        QCOMPARE(record.mid(12), QByteArray::fromHex("00000000" "00000000" "00800000"));

        // Pending key 0: nothing changes.
        Hooklib::ParseAlertKey(QStringLiteral("CTRL+F1"), 0);
        Hooklib::ApplyAlertKey(&main);
        QCOMPARE(ReadShared(m_shm), record);
        QCOMPARE(Hooklib::GetAlertKeyCode(), qint16(88));

        Hooklib::RemoveKeyboardHook();
        QVERIFY(ReadShared(m_shm).isEmpty());
    }

    void keyDownRaisesTheAlarmForTheExactKey()
    {
        QWidget main;
        Hooklib::ParseAlertKey(QStringLiteral("CTRL+SHIFT+F12"), 123);
        Hooklib::ApplyAlertKey(&main);
        Hooklib::AlertKeyDown(123, 3);
        QCOMPARE(m_alarms, 1);
        Hooklib::AlertKeyDown(123, 1); // Shift without Ctrl
        Hooklib::AlertKeyDown(123, 7); // one modifier too many
        Hooklib::AlertKeyDown(122, 3);
        QCOMPARE(m_alarms, 1);

        // Not while the settings dialog is loaded.
        auto* settings = new QWidget;
        settings->setObjectName(QStringLiteral("frmSettings"));
        Forms::Register(settings);
        Hooklib::AlertKeyDown(123, 3);
        QCOMPARE(m_alarms, 1);
        delete settings;
        Hooklib::AlertKeyDown(123, 3);
        QCOMPARE(m_alarms, 2);

        // A second press while the first alarm lets events run belongs to that alarm.
        Hooklib::SetAlertActionForTests([this] {
            ++m_alarms;
            Hooklib::AlertKeyDown(123, 3);
        });
        Hooklib::AlertKeyDown(123, 3);
        QCOMPARE(m_alarms, 3);
    }
};

QTEST_MAIN(tst_Hooklib)
#include "tst_hooklib.moc"
