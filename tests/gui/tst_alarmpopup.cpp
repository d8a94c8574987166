#include "TestFolder.h"

#include "core/Globals.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"
#include "windows/AlarmIO.h"
#include "windows/frmAlarmPopup.h"
#include "windows/frmAlarmSenderPopup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

const QString kAlarm = QStringLiteral("005: 10.0.0.4|001: |Empfang|1|0|10.0.0.4");
const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);

QColor Background(QWidget* w)
{
    return w->palette().color(QPalette::Window);
}

QColor TextOf(QWidget* w, const char* label)
{
    return w->findChild<QLabel*>(QLatin1String(label))->palette().color(QPalette::WindowText);
}

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
        m_own = {"192.168.0.5", "10.0.0.99"};
        Globals::UsbButtonHandle = 1;
        AlarmIO::Seams seams;
        seams.now = [this] { return m_now; };
        seams.send = [this](const QString& l) {
            m_sent << l;
            return true;
        };
        seams.beep = [this] { ++m_beeps; };
        seams.outputs = [this](quint8 p) { m_outputs << p; };
        seams.ownAddresses = [this] { return m_own; };
        AlarmIO::SetForTests(seams);
        // Every case runs on a window built ahead, as the program's do; a second alarm in a case gets a new one.
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

    // The fixed texts, the station from the relay line, LED and buzzer patterns for both kinds of alerting.
    void showsTheAlarm()
    {
        settings("1", "1");
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup* w = frmAlarmPopup::Loaded();
        QVERIFY(w && w->isVisible());
        QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(Text(w, "lblStation"), QStringLiteral("Empfang hat den"));
        QCOMPARE(Text(w, "lblTimeCounter"), QStringLiteral("00:00:00"));
        QVERIFY(w->alertTimer()->isActive());
        QCOMPARE(m_beeps, 1);
        QCOMPARE(m_outputs, QList<quint8>{63}); // buzzer (bit 7) and LED (bit 6) on
        QVERIFY(m_sent.isEmpty());
    }

    // Built ahead, the window is not loaded and has no caption until an alarm takes it; the next alarm's
    // window shows nothing of the last one (training title, flash, time).
    void builtAheadIsTakenByTheAlarm()
    {
        const auto built = [] {
            QList<frmAlarmPopup*> found;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* p = qobject_cast<frmAlarmPopup*>(w))
                    found << p;
            return found;
        };
        QCOMPARE(built().size(), 1);
        frmAlarmPopup* ahead = built().first();
        QVERIFY(!ahead->isVisible() && ahead->windowTitle().isEmpty() && Forms::Loaded().isEmpty());
        frmAlarmPopup::ShowAlertReceiver(kAlarm, true);
        QCOMPARE(frmAlarmPopup::Loaded(), ahead);
        QCOMPARE(ahead->windowTitle(), QStringLiteral("tavinor - ALARM-Receiver"));
        m_now = m_now.addSecs(1);
        ahead->alertTimer_Timer();
        ahead->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        frmAlarmPopup::Prebuild();
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup* next = frmAlarmPopup::Loaded();
        QCOMPARE(built(), QList<frmAlarmPopup*>{next});
        QCOMPARE(Background(next), kRed);
        QCOMPARE(Text(next, "lblTimeCounter"), QStringLiteral("00:00:00"));
        QVERIFY(!next->findChild<QLabel*>("lblTitle")->isVisibleTo(next));
    }

    // The headline reads as one sentence, "NOTRUF" largest in the middle; no minimise button.
    void headlineAndWindow()
    {
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup* w = frmAlarmPopup::Loaded();
        QVERIFY(w);
        auto* station = w->findChild<QLabel*>("lblStation");
        auto* notruf = w->findChild<QLabel*>("lblNotruf");
        auto* alert = w->findChild<QLabel*>("lblAlert");
        QCOMPARE(notruf->text(), QStringLiteral("NOTRUF"));
        QVERIFY(station->y() < notruf->y() && notruf->y() < alert->y());
        QVERIFY(notruf->font().bold());
        QVERIFY(QFontInfo(notruf->font()).pixelSize() > QFontInfo(station->font()).pixelSize() * 3 / 2);
        QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(w->windowFlags() & Qt::WindowCloseButtonHint);
    }

    void screenFit_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<int>("minTaskPixels");
        QTest::newRow("1024x768") << QRect(0, 0, 1024, 768) << 20;
        QTest::newRow("1920x1080 beside another screen") << QRect(1280, 0, 1920, 1050) << 30;
    }

    // Centred, at least half the screen each way, large type that still fits: no control cut off.
    void screenFit()
    {
        QFETCH(QRect, screen);
        QFETCH(int, minTaskPixels);
        frmAlarmPopup::ShowAlertReceiver("005: 10.0.0.4|001: |Kinderklinik Station 3b|1|0|10.0.0.4");
        frmAlarmPopup* w = frmAlarmPopup::Loaded();
        w->ApplyScreen(screen);
        const QRect g = w->geometry();
        QVERIFY2(g.width() * 2 >= screen.width() && g.height() * 2 >= screen.height(),
                 qPrintable(QString("%1x%2").arg(g.width()).arg(g.height())));
        QVERIFY(screen.contains(g));
        QVERIFY(qAbs(g.center().x() - screen.center().x()) <= 1 && qAbs(g.center().y() - screen.center().y()) <= 1);
        for (const char* task : {"lblTask1", "lblTask2", "lblTask3"})
            QVERIFY(QFontInfo(w->findChild<QLabel*>(task)->font()).pixelSize() >= minTaskPixels);
        QLayout* l = w->layout();
        l->activate();
        QVERIFY(l->minimumSize().width() <= g.width());
        const int needed = l->hasHeightForWidth() ? l->totalHeightForWidth(g.width()) : l->totalMinimumSize().height();
        QVERIFY2(needed <= g.height(), qPrintable(QString("%1 > %2").arg(needed).arg(g.height())));
    }

    void relayLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("station");
        QTest::newRow("separator in name") << "005: 10.0.0.4|001: |OP|Saal|1|0|10.0.0.4"
                                           << "OP hat den";
        QTest::newRow("not registered") << "005: 10.0.0.6|"
                                        << "10.0.0.6 hat den";
        QTest::newRow("four fields") << "005: 10.0.0.7|001: |Labor|1"
                                     << "Labor hat den";
        QTest::newRow("control characters") << "005: 10.0.0.8|001: |La\tb\x01or|1|0|10.0.0.8"
                                            << "La bor hat den";
    }

    // Short and odd lines still alarm: nothing is dropped.
    void relayLines()
    {
        QFETCH(QString, line);
        QFETCH(QString, station);
        frmAlarmPopup::ShowAlertReceiver(line);
        QVERIFY(frmAlarmPopup::Loaded());
        QCOMPARE(Text(frmAlarmPopup::Loaded(), "lblStation"), station);
        QCOMPARE(m_outputs, QList<quint8>{191});
    }

    // This PC raised the alarm: whichever of its addresses the server saw, nothing shows and the sender
    // window with the incident's record stays.
    void ownAlarmShowsNothing()
    {
        auto* sender = frmAlarmSenderPopup::Load();
        frmAlarmPopup::ShowAlertReceiver("005: 10.0.0.99|001: |Ich|1|1|10.0.0.99");
        frmAlarmPopup::ShowAlertReceiver("005: 10.0.0.99|001: |Ich|mit|Strich|1|1|10.0.0.99");
        frmAlarmPopup::ShowAlertReceiver("005: 10.0.0.99|");
        QVERIFY(!frmAlarmPopup::Loaded());
        QCOMPARE(frmAlarmSenderPopup::Loaded(), sender);
        QVERIFY(m_outputs.isEmpty());
        QCOMPARE(m_beeps, 0);
    }

    // Another station's alarm closes the program's other windows, the main window excepted.
    void closesOtherWindows()
    {
        QWidget main;
        main.setObjectName("frmMain");
        Forms::Register(&main);
        auto* log = new QWidget;
        log->setObjectName("frmLog");
        Forms::Register(log);
        QPointer<QWidget> sender = frmAlarmSenderPopup::Load();
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        QVERIFY(Forms::IsFormLoaded("frmMain"));
        QVERIFY(!Forms::IsFormLoaded("frmLog"));
        QVERIFY(m_sent.isEmpty()); // the sender window was unloaded, not closed by its user: no 008
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!sender);
    }

    void bothOffShowsNothing()
    {
        settings("0", "0");
        auto* log = new QWidget;
        log->setObjectName("frmLog");
        Forms::Register(log);
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        QVERIFY(!frmAlarmPopup::Loaded());
        QVERIFY(Forms::IsFormLoaded("frmLog"));
        QVERIFY(m_outputs.isEmpty());
        // Only "1" switches on.
        settings("ja", "true");
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        QVERIFY(!frmAlarmPopup::Loaded());
    }

    // Red and white in turn, title and texts in the opposite colours.
    void flashesTickByTick()
    {
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup* w = frmAlarmPopup::Loaded();
        QCOMPARE(Background(w), kRed);
        for (int tick = 1; tick <= 2; ++tick) {
            w->alertTimer_Timer();
            const bool red = tick % 2 == 0;
            QCOMPARE(Background(w), red ? kRed : kWhite);
            QCOMPARE(TextOf(w, "lblTitle"), red ? kWhite : kRed);
            for (const char* l : {"lblStation", "lblAlert", "lblTask1", "lblTask2", "lblTask3"})
                QCOMPARE(TextOf(w, l), red ? kWhite : kBlack);
        }
        // Visual only: the ticks neither beep nor touch the device.
        QCOMPARE(m_beeps, 0);
        QCOMPARE(m_outputs, QList<quint8>{191});
    }

    void elapsedTimeAndRestart()
    {
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup* w = frmAlarmPopup::Loaded();
        m_now = m_now.addSecs(1);
        w->alertTimer_Timer();
        QCOMPARE(Text(w, "lblTimeCounter"), QStringLiteral("00:00:01"));
        m_now = m_now.addMSecs(3663 * 1000 + 980); // a late tick still shows whole seconds
        w->alertTimer_Timer();
        QCOMPARE(Text(w, "lblTimeCounter"), QStringLiteral("01:01:05"));

        // A second alarm replaces the window and starts the time again.
        frmAlarmPopup::ShowAlertReceiver("005: 10.0.0.8|001: |Labor|1|0|10.0.0.8");
        frmAlarmPopup* second = frmAlarmPopup::Loaded();
        QVERIFY(second && second != w);
        m_now = m_now.addSecs(2);
        second->alertTimer_Timer();
        QCOMPARE(Text(second, "lblTimeCounter"), QStringLiteral("00:00:02"));
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
    }

    void trainingTitle()
    {
        frmAlarmPopup::ShowAlertReceiver("011: 10.0.0.4|001: |Empfang|1|0|10.0.0.4", true);
        auto* title = frmAlarmPopup::Loaded()->findChild<QLabel*>("lblTitle");
        QCOMPARE(title->text(), QStringLiteral("Trainings-Modus"));
        QVERIFY(title->isVisible());
        frmAlarmPopup::ShowAlertReceiver(kAlarm, false);
        title = frmAlarmPopup::Loaded()->findChild<QLabel*>("lblTitle");
        QVERIFY(!title->isVisibleTo(frmAlarmPopup::Loaded()));
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
        QTest::newRow("Space at once") << 0 << int(Qt::Key_Space) << false << false;
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
        if (!acknowledges) {
            button->click();
            QCOMPARE(m_sent, QStringList{"006: "});
        }
    }

    // Enter, the button and the window manager's close all acknowledge once; the program's own unload does not.
    void closingAcknowledges()
    {
        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        m_now = m_now.addSecs(2);
        QTest::keyClick(frmAlarmPopup::Loaded()->findChild<QPushButton*>("btnClose"), Qt::Key_Return);
        QCOMPARE(m_sent, QStringList{"006: "});
        QCOMPARE(m_outputs.last(), quint8(255));

        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup::Loaded()->close(); // title-bar close, at once
        QCOMPARE(m_sent, (QStringList{"006: ", "006: "}));

        frmAlarmPopup::ShowAlertReceiver(kAlarm);
        frmAlarmPopup* w = frmAlarmPopup::Loaded();
        Forms::Unload(w); // a cancel (009), a newer alarm, the end of the program
        QCOMPARE(m_sent.size(), 2);
        QVERIFY(!w->alertTimer()->isActive());
    }

    void testWithoutWindow()
    {
        QStringList prompts;
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            prompts << box.findChild<QLabel*>("msgtextlabel")->text() + "|" + box.windowTitle();
            // While the box is up the hidden window is loaded and beeping.
            if (frmAlarmPopup::Loaded() && !frmAlarmPopup::Loaded()->isVisible())
                frmAlarmPopup::Loaded()->alertTimer_Timer();
            return 1;
        });
        frmAlarmPopup::TestAlertReceiver("Meine Station", true, false);
        QCOMPARE(prompts, QStringList{"Test beenden!|tavinor"});
        QVERIFY(!frmAlarmPopup::Loaded());
        QCOMPARE(m_beeps, 2);
        QCOMPARE(m_outputs.last(), quint8(255));
        QVERIFY(m_sent.isEmpty());

        frmAlarmPopup::TestAlertReceiver("Meine Station", false, false);
        QCOMPARE(prompts.size(), 1);
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
        m_folder->writeIni("[General]\r\nVisuell=" + visual + "\r\nAkustisch=" + acoustic +
                           "\r\nLogfile=" + m_folder->file("log.csv").toUtf8() + "\r\n");
    }

    std::unique_ptr<TestFolder> m_folder;
    QStringList m_sent;
    QList<quint8> m_outputs;
    int m_beeps = 0;
    QDateTime m_now;
    QStringList m_own;
};

QTEST_MAIN(tst_AlarmPopup)
#include "tst_alarmpopup.moc"
