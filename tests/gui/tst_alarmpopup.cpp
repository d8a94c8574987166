#include "TestFolder.h"

#include "ui/XPMsgBox.h"
#include "ui/Forms.h"
#include "core/Globals.h"
#include "windows/AlarmIO.h"
#include "windows/frmAlarmPopup.h"
#include "windows/frmAlarmSenderPopup.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

const QString kAlarm = QStringLiteral("005: 10.0.0.4|001: |Empfang|1|0|10.0.0.4");
QString Text(QWidget* w, const char* label)
{
    return w->findChild<QLabel*>(QLatin1String(label))->text();
}

} // namespace

class tst_AlarmPopup : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_folder.reset(new TestFolder);
        settings("1", "0");
        m_sent.clear();
        m_outputs.clear();
        m_beeps = 0;
        m_now = QDateTime(QDate(2024, 3, 1), QTime(10, 0, 0));
        Globals::UsbButtonHandle = 1;
        AlarmIO::Seams seams;
        seams.now = [this] { return m_now; };
        seams.send = [this](const QString& l) { m_sent << l; return true; };
        seams.beep = [this] { ++m_beeps; };
        seams.outputs = [this](quint8 p) { m_outputs << p; };
        seams.ownAddresses = [] { return QStringList{"192.168.0.5", "10.0.0.99"}; };
        AlarmIO::SetForTests(seams);
        frmAlarmPopup::Prebuild();
    }

    void cleanup()
    {
        XPMsgBox::SetTestResponder(nullptr);
        for (QWidget* w : Forms::Loaded())
            Forms::Unload(w);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        AlarmIO::SetForTests({});
        Globals::UsbButtonHandle = 0;
        m_folder.reset();
    }

    // What a relay line shows on the window built ahead: the station as named, nothing for this PC's own
    // alarm whichever of its addresses the server saw, nothing with both kinds off (only "1" is on).
    void whatShows_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QByteArray>("visual");
        QTest::addColumn<QByteArray>("acoustic");
        QTest::addColumn<QString>("station"); // empty: no window
        QTest::addColumn<QList<quint8>>("outputs");
        const QList<quint8> led{191}, both{63}, none;
        using B = QByteArray;
        QTest::newRow("visual and acoustic") << kAlarm << B("1") << B("1") << "Empfang hat den" << both;
        QTest::newRow("not registered") << "005: 10.0.0.6|" << B("1") << B("0") << "10.0.0.6 hat den" << led;
        QTest::newRow("control characters")
            << "005: 10.0.0.8|001: |La\tb\x01or|1|0|10.0.0.8" << B("1") << B("0") << "La bor hat den" << led;
        QTest::newRow("own, relayed") << "005: 10.0.0.99|001: |Ich|1|1|10.0.0.99" << B("1") << B("1") << "" << none;
        QTest::newRow("own, registered") << "005: 10.9.9.9|001: |Ich|1|1|192.168.0.5" << B("1") << B("1") << "" << none;
        QTest::newRow("own, not registered") << "005: 10.0.0.99|" << B("1") << B("1") << "" << none;
        QTest::newRow("both off") << kAlarm << B("0") << B("0") << "" << none;
        QTest::newRow("only 1 is on") << kAlarm << B("ja") << B("true") << "" << none;
    }
    void whatShows()
    {
        QFETCH(QString, line);
        QFETCH(QByteArray, visual);
        QFETCH(QByteArray, acoustic);
        QFETCH(QString, station);
        QFETCH(QList<quint8>, outputs);
        settings(visual, acoustic);
        auto* sender = frmAlarmSenderPopup::Load();
        frmAlarmPopup::ShowAlertReceiver(line);
        frmAlarmPopup* w = frmAlarmPopup::Loaded();
        QCOMPARE(w != nullptr, !station.isEmpty());
        QCOMPARE(m_outputs, outputs);
        QCOMPARE(m_beeps, acoustic == "1" && !station.isEmpty() ? 1 : 0);
        QVERIFY(m_sent.isEmpty());
        if (!w) {
            QCOMPARE(frmAlarmSenderPopup::Loaded(), sender); // the own incident's record stays
            return;
        }
        QVERIFY(w->isVisible() && (w->windowFlags() & Qt::WindowStaysOnTopHint));
        QCOMPARE(Text(w, "lblStation"), station);
    }

    // The window flashes red and white in turn, without a beep; the time counts in whole seconds.
    void flashesTickByTick()
    {
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup* w = frmAlarmPopup::Loaded();
        for (const QColor& colour : {QColor(Qt::white), QColor(Qt::red)}) {
            m_now = m_now.addMSecs(1830 * 1000 + 990);
            w->alertTimer_Timer();
            QCOMPARE(w->palette().color(QPalette::Window), colour);
        }
        QCOMPARE(Text(w, "lblTimeCounter"), QStringLiteral("01:01:02"));
        QCOMPARE(m_beeps, 0);
    }

    // A training alarm never takes the place of a running alarm; everything else replaces what is open.
    void trainingNeverReplacesLive_data()
    {
        QTest::addColumn<bool>("firstTrainee");
        QTest::addColumn<bool>("secondTrainee");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("live, then training") << false << true << false;
        QTest::newRow("training, then live") << true << false << true;
        QTest::newRow("training, then training") << true << true << true;
    }
    void trainingNeverReplacesLive()
    {
        QFETCH(bool, firstTrainee);
        QFETCH(bool, secondTrainee);
        QFETCH(bool, replaced);
        frmAlarmPopup::ShowAlertReceiver(kAlarm, firstTrainee);
        frmAlarmPopup* first = frmAlarmPopup::Loaded();
        m_now = m_now.addSecs(5);
        first->alertTimer_Timer();
        frmAlarmPopup::ShowAlertReceiver("011: 10.0.0.8|001: |Labor|1|0|10.0.0.8", secondTrainee);
        frmAlarmPopup* now = frmAlarmPopup::Loaded();
        QCOMPARE(now != first, replaced);
        QCOMPARE(Text(now, "lblStation"),
                 replaced ? QStringLiteral("Labor hat den") : QStringLiteral("Empfang hat den"));
        QCOMPARE(Text(now, "lblTimeCounter"), replaced ? QStringLiteral("00:00:00") : QStringLiteral("00:00:05"));
        QCOMPARE(now->findChild<QLabel*>("lblTitle")->isVisibleTo(now), replaced && secondTrainee);
        if (replaced && secondTrainee)
            QCOMPARE(Text(now, "lblTitle"), QStringLiteral("Trainings-Modus"));
    }

    // Acoustic alerting alone: a hidden window that beeps every second and pulses the buzzer until the
    // cancel unloads it; the unload switches everything off and acknowledges nothing.
    void acousticOnlyRunsHidden()
    {
        settings("0", "1");
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup* w = frmAlarmPopup::Loaded();
        QVERIFY(w && !w->isVisible());
        for (int s = 1; s <= 4; ++s) {
            m_now = m_now.addSecs(1);
            w->alertTimer_Timer();
        }
        QCOMPARE(m_beeps, 5);
        QCOMPARE(m_outputs, (QList<quint8>{127, 255, 127, 255, 127}));
        Forms::Unload(w);
        QCOMPARE(m_outputs.last(), quint8(255));
        QVERIFY(m_sent.isEmpty());
    }

    // The window takes the keyboard from whatever program the person was typing into: keys in the first
    // 1.5 s, Space at any time and a held key's repeats acknowledge nothing. The mouse works at once.
    void keysMeantForAnotherProgram_data()
    {
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("repeat");
        QTest::addColumn<bool>("acknowledges");
        QTest::newRow("Return at once") << 0 << int(Qt::Key_Return) << false << false;
        QTest::newRow("Return at 1.4 s") << 1400 << int(Qt::Key_Return) << false << false;
        QTest::newRow("Return at 1.5 s") << 1500 << int(Qt::Key_Return) << false << true;
        QTest::newRow("keypad Enter at 2 s") << 2000 << int(Qt::Key_Enter) << false << true;
        QTest::newRow("Space at 2 s") << 2000 << int(Qt::Key_Space) << false << false;
        QTest::newRow("held Return at 2 s") << 2000 << int(Qt::Key_Return) << true << false;
    }
    void keysMeantForAnotherProgram()
    {
        QFETCH(int, afterMs);
        QFETCH(int, key);
        QFETCH(bool, repeat);
        QFETCH(bool, acknowledges);
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        QPointer<frmAlarmPopup> w = frmAlarmPopup::Loaded();
        m_now = m_now.addMSecs(afterMs);
        auto* button = w->findChild<QPushButton*>("btnClose");
        // Press and release, as Space clicks a focused button on the release.
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, key, Qt::NoModifier, QString(), repeat);
            if (w)
                QCoreApplication::sendEvent(button, &event);
        }
        QCOMPARE(m_sent, acknowledges ? QStringList{"006: "} : QStringList());
        QCOMPARE(frmAlarmPopup::Loaded() == nullptr, acknowledges);
        if (!acknowledges)
            button->click(); // the mouse works at once
        QCOMPARE(m_sent, QStringList{"006: "});
        QCOMPARE(m_outputs.last(), quint8(255)); // the lamp goes off
    }

    // The test waits for its window, says TEST, and stays on this PC: closing it acknowledges nothing.
    void testWithWindowStaysLocal()
    {
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            frmAlarmPopup* w = frmAlarmPopup::Loaded();
            seen = w && w->isVisible() && Text(w, "lblStation") == QStringLiteral("Meine Station hat den") &&
                   Text(w, "lblTitle") == QStringLiteral("TEST");
            if (w)
                w->findChild<QPushButton*>("btnClose")->click();
        });
        frmAlarmPopup::TestAlertReceiver("Meine Station", false, true);
        QVERIFY(seen);
        QVERIFY(!frmAlarmPopup::Loaded());
        QVERIFY(m_sent.isEmpty());
        QCOMPARE(m_beeps, 0);

        // A running alarm is not taken over by a test: it is refused with a word, the alarm goes on.
        QStringList prompts;
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            prompts << box.findChild<QLabel*>("msgtextlabel")->text();
            return 1;
        });
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup* live = frmAlarmPopup::Loaded();
        frmAlarmPopup::TestAlertReceiver("Meine Station", true, true);
        QCOMPARE(prompts, QStringList{"Ein Alarm läuft. Der Test ist erst nach dem Alarm möglich."});
        QCOMPARE(frmAlarmPopup::Loaded(), live);
        live->close();
        QCOMPARE(m_sent, QStringList{"006: "});
    }

private:
    void settings(const QByteArray& visual, const QByteArray& acoustic)
    {
        m_folder->writeIni("[General]\r\nVisuell=" + visual + "\r\nAkustisch=" + acoustic + "\r\nLogfile=" +
                           m_folder->file("log.csv").toUtf8() + "\r\n");
    }

    std::unique_ptr<TestFolder> m_folder;
    QStringList m_sent;
    QList<quint8> m_outputs;
    int m_beeps = 0;
    QDateTime m_now;
};

QTEST_MAIN(tst_AlarmPopup)
#include "tst_alarmpopup.moc"
