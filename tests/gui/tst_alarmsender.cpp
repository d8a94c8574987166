#include "TestFolder.h"

#include "alarm/ForceFore.h"
#include "alarm/SendAlert.h"
#include "core/Forms.h"
#include "core/Functions.h"
#include "core/Globals.h"
#include "core/frmMain.h"
#include "platform/Desktop.h"
#include "windows/AlarmIO.h"
#include "windows/frmAlarmPopup.h"
#include "windows/frmAlarmSenderPopup.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QtTest>

namespace {

// A desktop that records what was asked of it; "no window manager" by default.
class FakeDesktop final : public Desktop
{
public:
    QString Name() const override { return "fake"; }
    bool MinimizeAll() override
    {
        ++minimized;
        return canMinimize;
    }
    quint64 ActiveWindow() override { return active; }
    bool RequestActivation(QWidget* w) override
    {
        activations << w;
        return canActivate;
    }
    void SetTopmost(QWidget*) override {}

    int minimized = 0;
    bool canMinimize = false;
    bool canActivate = false;
    quint64 active = 0;
    QList<QWidget*> activations;
};

QStringList Rows(QWidget* w)
{
    auto* grid = w->findChild<QTableWidget*>("gridLog");
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        out << grid->item(r, 0)->text() + "\t" + grid->item(r, 1)->text();
    return out;
}

QPushButton* Button(QWidget* w, const char* name)
{
    return w->findChild<QPushButton*>(QLatin1String(name));
}

} // namespace

class tst_AlarmSender : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_folder.reset(new TestFolder);
        writeIni("Stationname=Empfang\r\n");
        m_sent.clear();
        m_now = QDateTime(QDate(2024, 3, 1), QTime(9, 15, 30));
        AlarmIO::Seams seams;
        seams.now = [this] { return m_now; };
        m_online = true;
        seams.send = [this](const QString& l) {
            if (m_online)
                m_sent << l;
            return m_online;
        };
        seams.beep = [] {};
        seams.ownAddresses = [] { return QStringList{"10.0.0.5"}; };
        AlarmIO::SetForTests(seams);
        Desktop::SetForTests(&m_desktop);
        m_desktop = FakeDesktop();
    }

    void cleanup()
    {
        for (QWidget* w : Forms::Loaded())
            Forms::Unload(w);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Desktop::SetForTests(nullptr);
        AlarmIO::SetForTests({});
        m_folder.reset();
    }

    void resetFormStartsTheRecord()
    {
        frmAlarmSenderPopup* w = frmAlarmSenderPopup::Load();
        w->ResetForm();
        QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(Rows(w), QStringList{"Empfang hat Notruf ausgelöst \t09:15:30"});

        // Without "Stationname" the computer's name stands in.
        writeIni("");
        w->ResetForm();
        QCOMPARE(Rows(w), QStringList{Functions::GetPCName() + " hat Notruf ausgelöst \t09:15:30"});
    }

    // Each step once per alarm, by key or button; logged and listed with its time; F4 also cancels.
    void stepsAreRecordedOnce()
    {
        frmAlarmSenderPopup* w = frmAlarmSenderPopup::Load();
        w->ResetForm();
        w->show();
        QTest::keyClick(Button(w, "btnClose"), Qt::Key_F1); // whichever control has the focus
        m_now = m_now.addSecs(5);
        QTest::keyClick(w, Qt::Key_F1);
        Button(w, "btnHelpArrived")->click();
        QTest::keyClick(w, Qt::Key_F2);
        m_now = m_now.addSecs(5);
        Button(w, "btnShock")->click();
        QTest::keyClick(w, Qt::Key_F3);
        QVERIFY(m_sent.isEmpty());
        QTest::keyClick(w, Qt::Key_F4);
        QTest::keyClick(w, Qt::Key_F4);
        Button(w, "btnEnde")->click();
        QCOMPARE(m_sent, QStringList{"008: "});
        QCOMPARE(Rows(w), (QStringList{"Empfang hat Notruf ausgelöst \t09:15:30", "Hilfe eingetroffen\t09:15:30",
                                       "Notfallausrüstung eingetroffen\t09:15:35", "ersten Schock gegeben\t09:15:40",
                                       "ALARM aufgehoben\t09:15:40"}));
        for (const char* b : {"btnHelpArrived", "btnEquipment", "btnShock", "btnEnde"})
            QVERIFY(!Button(w, b)->isEnabled());
        QVERIFY(w->isVisible()); // ending the alarm leaves the window open

        const QByteArray log = m_folder->readFile("log.csv");
        QCOMPARE(log.count(";Empfang;Hilfe eingetroffen\r\n"), 1);
        QCOMPARE(log.count(";Empfang;ALARM aufgehoben\r\n"), 1);
        QCOMPARE(log.count(";Empfang;Notfallausr\xfc" "stung eingetroffen\r\n"), 1); // Windows-1252

        // Closing cancels once more.
        Button(w, "btnClose")->click();
        QCOMPARE(m_sent, (QStringList{"008: ", "008: "}));
    }

    void closingCancelsUnloadingDoesNot()
    {
        frmAlarmSenderPopup::Load()->ResetForm();
        frmAlarmSenderPopup::Loaded()->close(); // title-bar close
        QCOMPARE(m_sent, QStringList{"008: "});
        frmAlarmSenderPopup::Load()->ResetForm();
        Forms::UnloadFormsExcept("frmMain");
        QCOMPARE(m_sent, QStringList{"008: "});
    }

    void acknowledgementsAreListed()
    {
        frmAlarmSenderPopup* w = frmAlarmSenderPopup::Load();
        w->ResetForm();
        w->show();
        m_now = m_now.addSecs(12);
        w->addTextMessage("007: 10.0.0.2|001: |Station B|1|0|10.0.0.2");
        w->addTextMessage("007: 10.0.0.3|");
        QCOMPARE(Rows(w).mid(1), (QStringList{"Station B hat Notruf gehört\t09:15:42",
                                              "10.0.0.3 hat Notruf gehört\t09:15:42"}));
        // The newest entry is in view however long the list grows.
        for (int i = 0; i < 60; ++i)
            w->addTextMessage(QString("007: 10.0.1.%1|001: |S%1|1|0|10.0.1.%1").arg(i));
        auto* grid = w->findChild<QTableWidget*>("gridLog");
        QCoreApplication::processEvents();
        const QRect last = grid->visualItemRect(grid->item(grid->rowCount() - 1, 0));
        QVERIFY(grid->viewport()->rect().contains(last));
        QVERIFY(grid->verticalScrollBar()->value() > 0);
    }

    // Without a window manager nothing can be minimised or brought forward: the alarm goes out all the same.
    void sendAlertWithoutWindowManager()
    {
        frmMain main;
        auto* log = new QWidget;
        log->setObjectName("frmLog");
        Forms::Register(log);
        frmAlarmPopup::ShowAlertReceiver("005: 10.0.0.9|001: |Labor|1|0|10.0.0.9"); // Visuell not set: nothing
        writeIni("Stationname=Empfang\r\nVisuell=1\r\n");
        frmAlarmPopup::ShowAlertReceiver("005: 10.0.0.9|001: |Labor|1|0|10.0.0.9");
        QVERIFY(frmAlarmPopup::Loaded());
        m_desktop.activations.clear();

        SendAlert();
        QCOMPARE(m_desktop.minimized, 1);
        QCOMPARE(m_sent, QStringList{"004: "});
        QVERIFY(m_folder->readFile("log.csv").endsWith(";Empfang;ALARM ausgel\xf6" "st\r\n"));
        QVERIFY(main.findChild<QPlainTextEdit*>("txtReceive")->toPlainText().contains("Alarm wurde ausgelöst!"));
        frmAlarmSenderPopup* w = frmAlarmSenderPopup::Loaded();
        QVERIFY(w && w->isVisible());
        QCOMPARE(m_desktop.activations, QList<QWidget*>{w});
        QVERIFY(!Forms::IsFormLoaded("frmLog"));
        QVERIFY(!frmAlarmPopup::Loaded());

        // Pressed again during the incident: the alarm goes out again, the record and the time stay.
        w->addTextMessage("007: 10.0.0.2|001: |Station B|1|0|10.0.0.2");
        Button(w, "btnHelpArrived")->click();
        const QStringList record = Rows(w);
        m_now = m_now.addSecs(40);
        SendAlert();
        QCOMPARE(m_sent, (QStringList{"004: ", "004: "}));
        QCOMPARE(frmAlarmSenderPopup::Loaded(), w);
        QCOMPARE(Rows(w), record);
        QVERIFY(!Button(w, "btnHelpArrived")->isEnabled());
        w->alertTimer_Timer();
        QCOMPARE(w->findChild<QLabel*>("lblTimeCounter")->text(), QStringLiteral("00:00:40"));

        // After "Ende" a press is a new incident: a new record.
        Button(w, "btnEnde")->click();
        SendAlert();
        QCOMPARE(Rows(w).size(), 1);
        QVERIFY(Button(w, "btnHelpArrived")->isEnabled());
        for (QWidget* f : Forms::Loaded())
            if (f != &main)
                Forms::Unload(f);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Raised while the server is unreachable: the window and the log say so, and the alarm goes out once the
    // link is back, unless the incident was ended before.
    void offlineAlarmWaitsForTheLink()
    {
        frmMain main;
        m_online = false;
        SendAlert();
        frmAlarmSenderPopup* w = frmAlarmSenderPopup::Loaded();
        auto* label = w->findChild<QLabel*>("lblDelivery");
        QVERIFY(w->AlarmWaiting());
        QVERIFY(!label->isHidden() && label->text().contains("NICHT"));
        QVERIFY(
            m_folder->readFile("log.csv").endsWith(";Empfang;ALARM nicht gesendet: keine Verbindung zum Server\r\n"));

        auto* settle = w->findChild<QTimer*>("settleTimer");
        settle->setInterval(0);
        w->LinkUp(); // the send fails again: still waiting
        QTRY_VERIFY(!settle->isActive());
        QVERIFY(w->AlarmWaiting());
        m_online = true;
        w->LinkUp();
        w->LinkUp();
        QTRY_COMPARE(m_sent, QStringList{"004: "});
        QVERIFY(!w->AlarmWaiting());
        QVERIFY(label->text().contains("an den Server gesendet"));
        QVERIFY(m_folder->readFile("log.csv").endsWith(";Empfang;ALARM nachtr\xe4glich gesendet\r\n"));

        m_online = false;
        SendAlert();
        QVERIFY(w->AlarmWaiting());
        Button(w, "btnEnde")->click();
        m_online = true;
        m_sent.clear();
        w->LinkUp();
        QVERIFY(!settle->isActive());
        QVERIFY(m_sent.isEmpty());
        Forms::Unload(w);
    }

    void forceForeground()
    {
        QWidget window;
        window.show();
        m_desktop.active = window.winId();
        QVERIFY(ForceFore::ForceForeground(&window));
        QVERIFY(m_desktop.activations.isEmpty()); // already in front: nothing asked

        m_desktop.active = 0;
        window.showMinimized();
        QVERIFY(window.isMinimized());
        m_desktop.canActivate = true;
        QVERIFY(ForceFore::ForceForeground(&window));
        QVERIFY(!window.isMinimized());
        QCOMPARE(m_desktop.activations, QList<QWidget*>{&window});
        m_desktop.canActivate = false;
        QVERIFY(!ForceFore::ForceForeground(&window));
    }

private:
    void writeIni(const QByteArray& extra)
    {
        m_folder->writeIni("[General]\r\n" + extra + "Logfile=" + m_folder->file("log.csv").toUtf8() + "\r\n");
    }

    std::unique_ptr<TestFolder> m_folder;
    FakeDesktop m_desktop;
    QStringList m_sent;
    bool m_online = true;
    QDateTime m_now;
};

QTEST_MAIN(tst_AlarmSender)
#include "tst_alarmsender.moc"
