#include "TestFolder.h"

#include "alarm/SendAlert.h"
#include "app/frmMain.h"
#include "platform/Desktop.h"
#include "ui/Forms.h"
#include "windows/AlarmIO.h"
#include "windows/frmAlarmPopup.h"
#include "windows/frmAlarmSenderPopup.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QXmlStreamReader>
#include <QtTest>

#include <functional>

namespace {

// A desktop without a window manager that records what was asked of it.
class FakeDesktop final : public Desktop
{
public:
    QString Name() const override { return "fake"; }
    bool MinimizeAll() override
    {
        ++minimized;
        sentBeforeMinimizing = sentSoFar ? int(sentSoFar->size()) : -1;
        return false;
    }
    quint64 ActiveWindow() override { return 0; }
    bool RequestActivation(QWidget* w) override
    {
        activations << w;
        return false;
    }
    void SetTopmost(QWidget*) override {}
    void RestoreMinimized() override { ++restored; }

    int minimized = 0, restored = 0, sentBeforeMinimizing = -1;
    QList<QWidget*> activations;
    const QStringList* sentSoFar = nullptr;
};

QStringList Rows(QWidget* w)
{
    auto* grid = w->findChild<QTableWidget*>("gridLog");
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        out << grid->item(r, 0)->text() + "\t" + grid->item(r, 1)->text();
    return out;
}

// The rows of each table of a report page (by its class) as "cell\tcell".
QMap<QString, QStringList> ReportFacts(const QByteArray& html)
{
    QMap<QString, QStringList> out;
    QXmlStreamReader xml(html);
    QString table;
    QStringList cells;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("table"))
            table = xml.attributes().value("class").toString();
        else if (xml.isStartElement() && xml.name() == QLatin1String("tr"))
            cells.clear();
        else if (xml.isStartElement() && (xml.name() == QLatin1String("td") || xml.name() == QLatin1String("th")))
            cells << xml.readElementText();
        else if (xml.isEndElement() && xml.name() == QLatin1String("tr") && !table.isEmpty())
            out[table] << cells.join('\t');
    }
    if (xml.hasError())
        out["error"] << xml.errorString();
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
        m_online = true;
        AlarmIO::Seams seams;
        seams.now = [this] { return m_now; };
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

    // One incident: two acknowledgements, each step once however often it is pressed (key or button, F4 also
    // cancels). The window shows that it is over; the log and the report beside it hold the facts.
    void incidentStepsAndReport()
    {
        frmAlarmSenderPopup* w = frmAlarmSenderPopup::Load();
        w->ResetForm();
        w->show();
        auto label = [w](const char* name) { return w->findChild<QLabel*>(QLatin1String(name)); };
        const auto step = [&](int secs, const std::function<void()>& what) {
            m_now = m_now.addSecs(secs);
            what();
        };
        step(12, [&] { w->addTextMessage("007: 10.0.0.2|001: |Station B|1|0|10.0.0.2"); });
        step(3, [&] { w->addTextMessage("007: 10.0.0.3|001: |Labor|1|1|10.0.0.3"); });
        step(15, [&] { QTest::keyClick(Button(w, "btnClose"), Qt::Key_F1); }); // whichever control has the focus
        step(10, [&] {
            QTest::keyClick(w, Qt::Key_F1);
            Button(w, "btnHelpArrived")->click();
            QTest::keyClick(w, Qt::Key_F2);
        });
        step(10, [&] {
            Button(w, "btnShock")->click();
            QTest::keyClick(w, Qt::Key_F3);
        });
        QVERIFY(m_sent.isEmpty());
        step(10, [&] {
            QTest::keyClick(w, Qt::Key_F4);
            QTest::keyClick(w, Qt::Key_F4);
            Button(w, "btnEnde")->click();
        });
        QCOMPARE(m_sent, QStringList{"008: "});
        QCOMPARE(Rows(w),
                 (QStringList{"Empfang hat Notruf ausgelöst \t09:15:30", "Station B hat Notruf gehört\t09:15:42",
                              "Labor hat Notruf gehört\t09:15:45", "Hilfe eingetroffen\t09:16:00",
                              "Notfallausrüstung eingetroffen\t09:16:10", "ersten Schock gegeben\t09:16:20",
                              "ALARM aufgehoben\t09:16:30"}));
        QVERIFY(w->isVisible() && w->IsEnded() && label("lblEnded")->isVisible()); // the window stays open
        QCOMPARE(label("lblEnded")->text(), QStringLiteral("Der NOTRUF ist beendet (09:16:30)."));
        step(25, [&] { w->alertTimer_Timer(); });
        QCOMPARE(label("lblTimeCounter")->text(), QStringLiteral("00:01:00")); // stands at the end
        const QByteArray log = m_folder->readFile("log.csv");
        QCOMPARE(log.count(";Empfang;Hilfe eingetroffen\r\n"), 1);
        QCOMPARE(log.count(";Empfang;Notfallausr\xfc" "stung eingetroffen\r\n"), 1); // Windows-1252

        QFile file(m_folder->file("Einsätze/2024-03-01_09-15-30.html"));
        QCOMPARE(w->ReportPath(), file.fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QMap<QString, QStringList> facts = ReportFacts(file.readAll());
        file.close();
        QVERIFY2(!facts.contains("error"), qPrintable(facts.value("error").join(' ')));
        QCOMPARE(facts.value("summary"),
                 (QStringList{"Ausgelöst von\tEmpfang", "Ort (Adresse)\t10.0.0.5", "Datum\t01.03.2024",
                              "Ausgelöst um\t09:15:30", "Ende\t09:16:30 (ALARM aufgehoben)", "Dauer\t00:01:00"}));
        QCOMPARE(facts.value("acknowledgements"),
                 (QStringList{"Station\tZeitpunkt", "Station B\t09:15:42", "Labor\t09:15:45"}));
        QCOMPARE(facts.value("steps"),
                 (QStringList{"Schritt\tZeitpunkt", "Hilfe eingetroffen\t09:16:00",
                              "Notfallausrüstung eingetroffen\t09:16:10", "ersten Schock gegeben\t09:16:20"}));
        QFile pdf(m_folder->file("Einsätze/2024-03-01_09-15-30.pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.read(5) == "%PDF-");

        // Closing cancels once more but writes no second report; the desktop gets its windows back.
        Button(w, "btnClose")->click();
        QCOMPARE(m_sent, (QStringList{"008: ", "008: "}));
        QCOMPARE(m_desktop.restored, 1);
        QCOMPARE(QDir(m_folder->file("Einsätze")).entryList({"*.html"}).size(), 1);

        // Same second again, ended by the title bar: cancelled, and a report of its own beside the first.
        m_now = QDateTime(QDate(2024, 3, 1), QTime(9, 15, 30));
        frmAlarmSenderPopup::Load()->ResetForm();
        frmAlarmSenderPopup::Loaded()->close();
        QCOMPARE(m_sent.size(), 3);
        QFile second(m_folder->file("Einsätze/2024-03-01_09-15-30_2.html"));
        QVERIFY(second.open(QIODevice::ReadOnly));
        QVERIFY(ReportFacts(second.readAll()).value("summary").contains("Ende\t09:15:30 (Fenster geschlossen)"));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll().contains("Station B"));

        // The program unloading the window cancels nothing.
        frmAlarmSenderPopup::Load()->ResetForm();
        Forms::UnloadFormsExcept("frmMain");
        QCOMPARE(m_sent.size(), 3);
    }

    // Without a window manager nothing can be minimised or brought forward: the alarm goes out all the same.
    void sendAlertWithoutWindowManager()
    {
        frmMain main;
        auto* log = new QWidget;
        log->setObjectName("frmLog");
        Forms::Register(log);
        writeIni("Stationname=Empfang\r\nVisuell=1\r\n");
        frmAlarmPopup::ShowAlertReceiver("005: 10.0.0.9|001: |Labor|1|0|10.0.0.9");
        QVERIFY(frmAlarmPopup::Loaded());
        m_desktop.activations.clear();
        // The window built ahead is neither loaded nor titled until the alarm takes it.
        frmAlarmSenderPopup::Prebuild();
        QWidget* ahead = main.findChild<QWidget*>("frmAlarmSenderPopup");
        QVERIFY(ahead && !frmAlarmSenderPopup::Loaded() && ahead->windowTitle().isEmpty());

        m_desktop.sentSoFar = &m_sent;
        SendAlert();
        QCOMPARE(m_desktop.minimized, 1);
        QCOMPARE(m_sent, QStringList{"004: "});
        QCOMPARE(m_desktop.sentBeforeMinimizing, 1); // the alarm does not wait for the desktop
        QVERIFY(m_folder->readFile("log.csv").endsWith(";Empfang;ALARM ausgel\xf6"
                                                       "st\r\n"));
        frmAlarmSenderPopup* w = frmAlarmSenderPopup::Loaded();
        QVERIFY(w == ahead && w->isVisible() && w->windowTitle() == "tavinor - ALARM-Sender");
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
        Forms::Unload(w);
    }

    // Raised while the server is unreachable: the window and log say so; it goes out once the link is back.
    void offlineAlarmWaitsForTheLink()
    {
        frmMain main;
        m_online = false;
        SendAlert();
        frmAlarmSenderPopup* w = frmAlarmSenderPopup::Loaded();
        auto* label = w->findChild<QLabel*>("lblDelivery");
        QVERIFY(w->AlarmWaiting() && !label->isHidden() && label->text().contains("NICHT"));
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
        QVERIFY(!w->AlarmWaiting() && label->text().contains("an den Server gesendet"));
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
