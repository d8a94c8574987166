#include "TestFolder.h"

#include "admin/Settings.h"
#include "ui/XPMsgBox.h"
#include "admin/frmSettings.h"
#include "ui/Forms.h"
#include "core/Globals.h"
#include "ui/SysTrayUtil.h"
#include "app/frmMain.h"
#include "net/Network.h"
#include "windows/AlarmIO.h"
#include "windows/frmAlarmPopup.h"

#include <QAction>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

QString LastLogLine(const TestFolder& folder)
{
    return QString::fromLatin1(folder.readFile(QStringLiteral("Log/log.csv")).trimmed().split('\n').constLast());
}

} // namespace

class tst_frmMain : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Off the program's real ports, and a pair per process, as copies of this test may run at once.
        m_port = quint16(20000 + 2 * (QCoreApplication::applicationPid() % 5000));
        Network::SetPortsForTests(m_port, m_port + 1, QStringLiteral("127.0.0.1"));
    }

    void init()
    {
        Globals::IsEnding = false;
        Globals::IsServer = false;
        Globals::IsConnected = false;
        m_folder.reset(new TestFolder);
        // A first start opens the settings dialog: cancel it as soon as it is up.
        Settings::SetTestResponder([](frmSettings& dialog) { dialog.close(); });
    }

    void cleanup()
    {
        XPMsgBox::SetTestResponder(nullptr);
        Settings::SetTestResponder(nullptr);
        AlarmIO::SetForTests({});
        delete m_main.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_folder.reset();
    }

    // The link may start the button poll while the first-start dialog is open: it keeps running afterwards.
    void buttonPollSurvivesFirstStartDialog()
    {
        Settings::SetTestResponder([this](frmSettings& dialog) {
            m_main->ioWarriorTimer()->setInterval(60000);
            m_main->ioWarriorTimer()->start();
            dialog.close();
        });
        start();
        QVERIFY(m_main->ioWarriorTimer()->isActive());
    }

    // An alarm that sounds without a window shows in the tray, whose menu acknowledges it where it sounds.
    void acousticOnlyAlarmInTray()
    {
        m_folder->writeIni("[General]\r\nInit=1\r\nCheckBuzzer=0\r\nVisuell=0\r\nAkustisch=1\r\n");
        start();
        QStringList sent;
        AlarmIO::Seams seams;
        seams.send = [&](const QString& l) {
            sent << l;
            return true;
        };
        seams.beep = [] {};
        seams.ownAddresses = [] { return QStringList{"10.0.0.5"}; };
        AlarmIO::SetForTests(seams);
        QSystemTrayIcon* icon = SysTrayUtil::TrayIcon();
        auto picture = [icon](int n) {
            return icon->icon().pixmap(16).toImage() == SysTrayUtil::TrayPicture(n).pixmap(16).toImage();
        };
        QAction* ack = m_main->MenuEntry(QStringLiteral("popUpAlarm"));
        QVERIFY(!ack->isVisible()); // only while an alarm sounds unseen

        frmAlarmPopup::ShowAlertReceiver(QStringLiteral("005: 10.0.0.4|001: |Labor|0|1|10.0.0.4"));
        QPointer<frmAlarmPopup> alarm = frmAlarmPopup::Loaded();
        QVERIFY(alarm && !alarm->isVisible() && alarm->alertTimer()->isActive());
        QVERIFY(ack->isVisible());
        QVERIFY2(icon->toolTip().contains(QStringLiteral("Labor")), qPrintable(icon->toolTip()));
        QVERIFY(picture(4));
        SysTrayUtil::TraySetIcon(2); // the link comes up meanwhile: the alarm stays in view
        QVERIFY(picture(4));

        ack->trigger();
        QCOMPARE(sent, QStringList{"006: "});
        QVERIFY(!frmAlarmPopup::Loaded());
        QVERIFY(!alarm || !alarm->alertTimer()->isActive()); // the tone stops
        QVERIFY(!ack->isVisible());
        QCOMPARE(icon->toolTip(), QStringLiteral("tavinor Client - Keine Verbindung zum Server!"));
        QVERIFY(picture(2));
    }

    // Only "Ja" ends the program; "Nein" and a box closed by something else (an alarm closing the
    // program's windows) keep it running and unchanged. The main window's title-bar close asks the same.
    void endQuestion_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<bool>("titleBar");
        QTest::newRow("station Nein") << false << 7 << false << false;
        QTest::newRow("station closed") << false << -1 << false << false;
        QTest::newRow("station title bar, Nein") << false << 7 << false << true;
        QTest::newRow("server title bar, Ja") << true << 6 << true << true;
    }
    void endQuestion()
    {
        QFETCH(bool, server);
        QFETCH(int, answer);
        QFETCH(bool, ends);
        QFETCH(bool, titleBar);
        m_folder->writeIni(server ? "[General]\r\nServer=1\r\nInit=1\r\n" : "[General]\r\nInit=1\r\n");
        start();
        QString text;
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            text = box.findChild<QLabel*>(QStringLiteral("msgtextlabel"))->text();
            return answer;
        });
        m_main->connectTimer()->start();
        if (titleBar) {
            m_main->show();
            m_main->close();
            QTRY_VERIFY(!text.isEmpty());
        } else {
            m_main->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click(); // "Beenden"
        }
        // The server's question and the station's differ; the box shows CR LF as a plain line break.
        QCOMPARE(text, QString(frmMain::ExitQuestion(server)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QCOMPARE(Globals::IsEnding, ends);
        QCOMPARE(LastLogLine(*m_folder).trimmed().endsWith(server ? ";Server beendet" : ";Client beendet"), ends);
        // Ending may have unloaded the window already.
        QCOMPARE(m_main && m_main->connectTimer()->isActive(), !ends);
        if (ends) {
            QTRY_VERIFY(m_main.isNull());
            QVERIFY(!SysTrayUtil::TrayIcon());
        } else {
            QCOMPARE(m_main->isVisible(), titleBar);
            QVERIFY(SysTrayUtil::TrayIcon());
        }
    }

    // A station that lost its server waits while the settings dialog is open, then tells and ends.
    void exitTimerWaitsForSettings()
    {
        m_folder->writeIni("[General]\r\nInit=1\r\n");
        start();
        auto* settings = new QWidget;
        settings->setObjectName(QStringLiteral("frmSettings"));
        Forms::Register(settings);
        QString notice;
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            notice = box.findChild<QLabel*>(QStringLiteral("msgtextlabel"))->text();
            return 1;
        });
        m_main->exitTimer()->setInterval(10);
        m_main->exitTimer()->start();
        QTest::qWait(100);
        QVERIFY(!Globals::IsEnding);
        QVERIFY(m_main->exitTimer()->isActive());
        delete settings;
        QTRY_VERIFY(Globals::IsEnding);
        QCOMPARE(notice, QStringLiteral("Die Verbindung zum tavinor-Server ging verloren!\n"
                                        "Das Programm wird beendet. Bitte starten Sie es erneut!"));
        QVERIFY(LastLogLine(*m_folder).trimmed().endsWith(";Client beendet"));
    }

    // The tray follows the link to a fake server that opens the downlink back and answers the registration.
    void trayShowsTheLink()
    {
        m_folder->writeIni("[General]\r\nInit=1\r\nCheckBuzzer=0\r\nAutoreconnect=1\r\nServername=127.0.0.1\r\n");
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, m_port));
        QPointer<QTcpSocket> uplink;
        QTcpSocket downlink;
        bool registered = false;
        auto answer = [&] {
            if (registered && downlink.state() == QAbstractSocket::ConnectedState)
                downlink.write("002: ok\r\n");
        };
        connect(&downlink, &QTcpSocket::connected, this, answer);
        connect(&server, &QTcpServer::newConnection, this, [&] {
            uplink = server.nextPendingConnection();
            connect(uplink, &QTcpSocket::readyRead, this, [&] {
                const QByteArray data = uplink->readAll();
                if (data.startsWith("003: "))
                    downlink.connectToHost(QString::fromLatin1(data.mid(5, data.indexOf('\r') - 5)), m_port + 1);
                if (data.contains("001: ")) {
                    registered = true;
                    answer();
                }
            });
        });
        start();
        QCOMPARE(SysTrayUtil::CurrentPicture(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(Globals::IsConnected, 10000);
        QCOMPARE(SysTrayUtil::CurrentPicture(), 2);
        QCOMPARE(m_main->MenuEntry(QStringLiteral("popUp5"))->text(), QStringLiteral("Status: Verbunden mit Server"));

        server.close();
        uplink->abort();
        downlink.abort();
        QTRY_VERIFY_WITH_TIMEOUT(!Globals::IsConnected, 10000);
        QCOMPARE(SysTrayUtil::CurrentPicture(), 3);
        QCOMPARE(m_main->MenuEntry(QStringLiteral("popUp5"))->text(), QStringLiteral("Status: Keine Verbindung!"));
        QVERIFY(!Globals::IsEnding);
    }

private:
    void start()
    {
        m_main = new frmMain;
        m_main->InitProgram();
    }

    std::unique_ptr<TestFolder> m_folder;
    QPointer<frmMain> m_main;
    quint16 m_port = 0;
};

QTEST_MAIN(tst_frmMain)
#include "tst_frmmain.moc"
