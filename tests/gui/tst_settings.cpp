#include "TestFolder.h"

#include "admin/Settings.h"
#include "admin/frmSettings.h"
#include "alarm/Hooklib.h"
#include "alarm/ioWarrior.h"
#include "app/frmMain.h"
#include "core/Globals.h"
#include "net/Network.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {

template <typename T = QWidget> T* Child(QWidget* form, const QString& name)
{
    return form ? form->findChild<T*>(name) : nullptr;
}

frmSettings* OpenDialog()
{
    return qobject_cast<frmSettings*>(Forms::Find(QStringLiteral("frmSettings")));
}

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Listeners on free loopback ports; the key record in a shared block of this test's own.
        Network::SetPortsForTests(0, 0, QStringLiteral("127.0.0.1"));
        Hooklib::SetSharedMemoryNameForTests(
            QStringLiteral("/tavinor_tst_settings_%1").arg(QCoreApplication::applicationPid()));
    }

    void init()
    {
        Globals::IsEnding = false;
        Globals::IsServer = false;
        Globals::IsConnected = false;
        m_folder.reset(new TestFolder);
        m_messages.clear();
        XPMsgBox::SetTestResponder([this](XPMsgBox& box) {
            const QString text = box.findChild<QLabel*>(QStringLiteral("msgtextlabel"))->text();
            // No emergency button on the test machine: that notice is not what these tests look at.
            if (text != QString(ioWarrior::MissingButtonText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")))
                m_messages << text;
            return 1;
        });
    }

    void cleanup()
    {
        Settings::SetTestResponder(nullptr);
        XPMsgBox::SetTestResponder(nullptr);
        Hooklib::SetAlertActionForTests(nullptr);
        for (QWidget* w : Forms::Loaded())
            Forms::Unload(w);
        delete m_main.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Hooklib::RemoveKeyboardHook();
        m_folder.reset();
    }

    // A fresh PC gets the dialog modally at the start. Cancel writes nothing and the next start asks again; OK
    // as a station ends with the restart notice and marks the configuration done: the next start runs on.
    void firstStartCancelThenOk()
    {
        m_folder->writeIni("[General]\r\nServername=127.0.0.1\r\nStationname=Empfang\r\n");
        Settings::SetTestResponder([&](frmSettings& f) {
            Child<QRadioButton>(&f, "optProgramType(1)")->click();
            Child<QLineEdit>(&f, "txtStationname")->setText(QStringLiteral("Anders"));
            Child<QCheckBox>(&f, "chkAlert(0)")->click();
            Child<QPushButton>(&f, "cmdCancel")->click();
        });
        start();
        QCOMPARE(QStringList({ini("Init"), ini("Server"), ini("Visuell"), ini("Stationname")}),
                 QStringList({"<missing>", "<missing>", "<missing>", "Empfang"}));
        QVERIFY(!Globals::IsEnding);
        QVERIFY(m_messages.isEmpty());
        delete m_main.data();

        bool modal = false;
        Settings::SetTestResponder([&](frmSettings& f) {
            modal = f.isModal();
            QVERIFY(Child<QRadioButton>(&f, "optProgramType(0)")->isChecked());
            // A new station is proposed to show alarms.
            QVERIFY(Child<QCheckBox>(&f, "chkAlert(0)")->isChecked());
            Child<QLineEdit>(&f, "txtServer")->setText(QStringLiteral("127.0.0.2"));
            Child<QPushButton>(&f, "cmdOK")->click();
        });
        start();
        QVERIFY(modal);
        QCOMPARE(m_messages, QStringList{QStringLiteral("Das Programm wird beendet, da sich wichtige Einstellungen "
                                                        "geändert haben!\nStarten Sie es im Anschluss bitte neu.")});
        QTRY_VERIFY(m_main.isNull());
        QCOMPARE(ini("Init") + ini("Server") + ini("Servername") + ini("Visuell"), QStringLiteral("10127.0.0.21"));
        QVERIFY(log().endsWith(QStringLiteral(";Client beendet")));

        // The next start: no dialog, a station that connects to the stored server.
        bool shown = false;
        Settings::SetTestResponder([&](frmSettings& f) {
            shown = true;
            f.close();
        });
        Globals::IsEnding = false;
        start();
        QVERIFY(!shown);
        QVERIFY(!Globals::IsEnding);
        QVERIFY(m_main->connectTimer()->isActive());
    }

    // The key field captures combinations; "Zuweisen" makes the key active at once.
    void alertKeyCaptureAndApply()
    {
        frmSettings* f = open();
        QVERIFY(f);
        int alarms = 0;
        Hooklib::SetAlertActionForTests([&] { ++alarms; });
        auto* key = Child<QLineEdit>(f, "txtAlertkey");
        QTest::keyClick(key, Qt::Key_F5, Qt::ControlModifier);
        QCOMPARE(key->text(), QStringLiteral("CTRL+F5"));
        QCOMPARE(Hooklib::GetAlertKeyCode(), qint16(123)); // not active before "Zuweisen"

        Child<QPushButton>(f, "cmdSetKey")->click();
        QCOMPARE(Hooklib::GetAlertKeyCode(), qint16(116));
        QCOMPARE(Hooklib::GetAlertKeyShift(), qint16(2));

        Child<QPushButton>(f, "cmdOK")->click();
        QTRY_VERIFY(!OpenDialog());
        QCOMPARE(ini("Alertkey"), QStringLiteral("CTRL+F5"));
        QCOMPARE(ini("AlertkeyCode"), QStringLiteral("116"));
        Hooklib::AlertKeyDown(116, 2);
        QCOMPARE(alarms, 1);

        // OK alone arms what it saves; the old key no longer raises anything.
        Settings::ShowSettings(m_main, false);
        QTest::keyClick(Child<QLineEdit>(OpenDialog(), "txtAlertkey"), Qt::Key_F7);
        Child<QPushButton>(OpenDialog(), "cmdOK")->click();
        QTRY_VERIFY(!OpenDialog());
        QCOMPARE(ini("AlertkeyCode"), QStringLiteral("118"));
        Hooklib::AlertKeyDown(116, 2);
        Hooklib::AlertKeyDown(118, 0);
        QCOMPARE(alarms, 2);

        // A key without a code of its own is refused with a message and captures nothing: OK keeps the key.
        Settings::ShowSettings(m_main, false);
        QTest::keyClick(Child<QLineEdit>(OpenDialog(), "txtAlertkey"), Qt::Key_Exclam, Qt::ShiftModifier);
        QCOMPARE(m_messages, QStringList{QString(frmSettings::KeyRefusedText()).replace("\r\n", "\n")});
        QCOMPARE(Child<QLineEdit>(OpenDialog(), "txtAlertkey")->property("tag").toString(), QStringLiteral("118"));
        Child<QPushButton>(OpenDialog(), "cmdOK")->click();
        QCOMPARE(ini("AlertkeyCode"), QStringLiteral("118"));
        QCOMPARE(Hooklib::GetAlertKeyCode(), qint16(118));
    }

    // OK in a configured station's dialog: what the file cannot hold, or a key that cannot be armed, is refused
    // (nothing written, the dialog stays); switched to the server, the server column is written and it ends.
    void okInTheDialog_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("station name") << "txtStationname" << "Łódź Empfang" << frmSettings::StationNameText();
        QTest::newRow("log folder") << "txtLogfile" << "/srv/Журнал/log.csv" << frmSettings::LogfileText();
        QTest::newRow("key code 0") << "tag" << "0" << frmSettings::KeyRefusedText();
        QTest::newRow("to server") << "optProgramType(1)" << "" << frmSettings::RestartText();
        // clang-format on
    }
    void okInTheDialog()
    {
        QFETCH(QString, control);
        QFETCH(QString, value);
        QFETCH(QString, message);
        frmSettings* f = open("Servername=127.0.0.1\r\nStationname=Empfang\r\nVisuell=1\r\nAkustisch=1\r\n"
                              "Alertkey=CTRL+F5\r\nAlertkeyCode=116\r\nCheckBuzzer=0\r\n");
        QVERIFY(f);
        const QByteArray before = m_folder->readFile(QStringLiteral("tavinor.ini"));
        if (control == QLatin1String("tag"))
            Child(f, "txtAlertkey")->setProperty("tag", value);
        else if (value.isEmpty())
            Child<QRadioButton>(f, control)->click();
        else
            Child<QLineEdit>(f, control)->setText(value);
        Child<QPushButton>(f, "cmdOK")->click();
        QCOMPARE(m_messages, QStringList{message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))});
        if (!value.isEmpty()) {
            QCOMPARE(m_folder->readFile(QStringLiteral("tavinor.ini")), before);
            QVERIFY(OpenDialog());
            return;
        }
        QTRY_VERIFY(m_main.isNull());
        const QByteArray file = m_folder->readFile(QStringLiteral("tavinor.ini"));
        for (const char* line : {"Server=1\r\n", "Servername=\r\n", "Visuell=0\r\n", "Akustisch=0\r\n", "Alertkey=\r\n",
                                 "AlertkeyCode=\r\n", "Init=1\r\n", "Stationname=Empfang\r\n", "CheckBuzzer=0\r\n"})
            QVERIFY2(file.contains(line), line);
        QVERIFY(log().endsWith(QStringLiteral(";Client beendet")));
    }

private:
    void start()
    {
        m_main = new frmMain;
        m_main->InitProgram();
    }

    // A configured program with these further settings, its dialog opened from the tray.
    frmSettings* open(const QByteArray& settings = {})
    {
        m_folder->writeIni("[General]\r\nInit=1\r\n" + settings);
        start();
        Settings::ShowSettings(m_main, false);
        return OpenDialog();
    }

    QString ini(const char* key) const
    {
        for (const QByteArray& line : m_folder->readFile(QStringLiteral("tavinor.ini")).split('\n')) {
            if (line.startsWith(QByteArray(key) + '='))
                return QString::fromUtf8(line.mid(int(qstrlen(key)) + 1)).trimmed();
        }
        return QStringLiteral("<missing>");
    }

    QString log() const
    {
        const QList<QByteArray> lines = m_folder->readFile(QStringLiteral("Log/log.csv")).trimmed().split('\n');
        return QString::fromLatin1(lines.constLast()).trimmed();
    }

    std::unique_ptr<TestFolder> m_folder;
    QPointer<frmMain> m_main;
    QStringList m_messages;
};

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
