// The program's side of the global alert key: parsing, capture, the shared record, loading the hook library
// and the main window's key-down handler. Offscreen: the X side is covered by the system test.
#include "TestFolder.h"
#include "alarm/HookReceiver.h"
#include "alarm/Hooklib.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
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

qint32 Field(const QByteArray& record, int offset)
{
    qint32 v = 0;
    std::memcpy(&v, record.constData() + offset, 4); // this machine is little-endian like the record
    return v;
}

QMessageBox* LoadFailureBox()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box && box->isVisible() && box->text() == QLatin1String("Failed to load DLL!"))
            return box;
    }
    return nullptr;
}

} // namespace

class tst_Hooklib : public QObject
{
    Q_OBJECT
private:
    QString m_shm;
    QByteArray m_path;
    int m_alarms = 0;

private slots:
    void initTestCase()
    {
        m_shm = QStringLiteral("/tavinor_test_%1").arg(QCoreApplication::applicationPid());
        m_path = qgetenv("PATH");
        // No X server and nothing along the path: the library is found only where a test puts it.
        qunsetenv("DISPLAY");
    }

    void init()
    {
        Hooklib::SetSharedMemoryNameForTests(m_shm);
        m_alarms = 0;
        Hooklib::SetAlertActionForTests([this] { ++m_alarms; });
        qputenv("PATH", QByteArray("/nonexistent-tavinor"));
    }

    void cleanup()
    {
        Hooklib::RemoveKeyboardHook();
        Hooklib::SetAlertActionForTests(nullptr);
        XPMsgBox::SetTestResponder(nullptr);
        qputenv("PATH", m_path);
        delete LoadFailureBox();
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
        QCOMPARE(quint32(Field(record, 0)), quint32(main.winId()));
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

        // Removing the hook removes the block.
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
    }

    void keyDownDuringTheAlarmIsTheSameAlarm()
    {
        QWidget main;
        Hooklib::ParseAlertKey(QStringLiteral("F12"), 123);
        Hooklib::ApplyAlertKey(&main);
        Hooklib::SetAlertActionForTests([this] {
            ++m_alarms;
            Hooklib::AlertKeyDown(123, 0); // a second press while the first alarm lets events run
        });
        Hooklib::AlertKeyDown(123, 0);
        QCOMPARE(m_alarms, 1);
        Hooklib::AlertKeyDown(123, 0);
        QCOMPARE(m_alarms, 2);
    }

};

QTEST_MAIN(tst_Hooklib)
#include "tst_hooklib.moc"
