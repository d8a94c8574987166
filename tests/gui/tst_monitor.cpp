#include "TestFolder.h"

#include "core/Globals.h"
#include "net/AlarmNet.h"
#include "net/ReceiptRelay.h"
#include "net/ServerRelay.h"
#include "platform/Cp1252.h"
#include "platform/SocketArray.h"
#include "ui/Forms.h"
#include "windows/frmMonitor.h"

#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <memory>

using Network::AlarmNet;

namespace {

// A station's uplink made of a plain socket from its own loopback address.
struct Uplink
{
    explicit Uplink(const QString& address, quint16 port)
    {
        socket.bind(QHostAddress(address), 0);
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    void Line(const QString& text)
    {
        socket.write(Cp1252::Encode(text) + "\r\n");
        socket.flush();
    }
    QTcpSocket socket;
};

} // namespace

class tst_Monitor : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        Globals::IsEnding = false;
        m_folder = std::make_unique<TestFolder>();
        QDir(m_folder->path()).mkdir(QStringLiteral("Log"));
        // The server's downlinks all go to this sink, so they come up and count as outbound slots.
        QVERIFY(m_sink.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        connect(&m_sink, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_sink.nextPendingConnection())
                m_downlinks.append(s);
        });
        AlarmNet::Config c;
        QTcpServer probe;
        probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        c.serverPort = probe.serverPort();
        probe.close();
        c.stationPort = m_sink.serverPort();
        c.listenAddress = QStringLiteral("127.0.0.1");
        m_server = std::make_unique<AlarmNet>(AlarmNet::Timers{}, c);
        m_server->SetServer(true);
        m_server->StartServerListener();
    }

    void cleanup()
    {
        for (QWidget* w : Forms::Loaded())
            Forms::Unload(w);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_uplinks.clear();
        m_server.reset();
        qDeleteAll(m_downlinks);
        m_downlinks.clear();
        m_sink.close();
        m_folder.reset();
    }

    // The slot table: registered, unregistered, ended, a name with "|", more downlinks than uplinks.
    void showsTheSlotTable()
    {
        Uplink* a = Connect(QStringLiteral("127.0.0.11"));
        Uplink* b = Connect(QStringLiteral("127.0.0.12"));
        Uplink* c = Connect(QStringLiteral("127.0.0.13"));
        Uplink* d = Connect(QStringLiteral("127.0.0.14"));
        QCOMPARE(ConnectedSlots(), 4);
        Announce(a, 6);
        a->Line(QStringLiteral("001: |Empfang|1|1"));
        c->Line(QStringLiteral("001: |Lager|0|1"));
        d->Line(QStringLiteral("001: |Nord|Süd|1|0"));
        QTRY_VERIFY(!m_server->StationRecord(4).isEmpty() && !m_server->StationRecord(3).isEmpty() &&
                    !m_server->StationRecord(1).isEmpty());
        c->socket.disconnectFromHost();
        QTRY_VERIFY(!m_server->WS_Listener()->At(3)->IsConnected());
        QCOMPARE(m_server->HighestListenerSlot(), 4);
        QCOMPARE(m_server->HighestWriterSlot(), 6);

        auto* monitor = new frmMonitor(nullptr, m_server.get());
        QPointer<frmMonitor> guard(monitor);
        // Its own refresh (a timer) waits here, so that the button's is seen alone.
        auto* timer = monitor->findChild<QTimer*>(QStringLiteral("tmrRefresh"));
        QVERIFY(timer->isActive() && timer->interval() <= 5000);
        timer->stop();
        const QStringList expected = {
            "1\tEmpfang (127.0.0.11)\tverbunden\tvis + ak\t",
            "2\tn/a (127.0.0.12)\tverbunden\t\t",
            "3\tLager (127.0.0.13)\tnicht verbunden\t\t",
            "4\tNord (0)\tverbunden\t + ak\t", // the "|" in the name shifts every field
            "5\tn/a ()\tnicht verbunden\t\t",
            "6\tn/a ()\tnicht verbunden\t\t",
        };
        QCOMPARE(monitor->RowTexts(), expected);

        // Changes show only after "Aktualisieren"; a new station in C's slot is shown by its address.
        b->Line(QStringLiteral("001: |Kasse|0|0"));
        Connect(QStringLiteral("127.0.0.15"));
        QTRY_VERIFY(m_server->WS_Listener()->At(3)->IsConnected());
        QTRY_VERIFY(m_server->StationRecord(2).contains(QStringLiteral("Kasse")));
        QCOMPARE(monitor->RowTexts(), expected);
        monitor->findChild<QPushButton*>(QStringLiteral("cmdAktualisieren"))->click();
        QStringList now = expected;
        now[1] = QStringLiteral("2\tKasse (127.0.0.12)\tverbunden\t + \t");
        now[2] = QStringLiteral("3\tn/a (127.0.0.15)\tverbunden\t\t");
        QCOMPARE(monitor->RowTexts(), now);
        // An alarm from A: the last column tells what each station did with it (plain uplinks cannot confirm).
        a->Line(QStringLiteral("004: "));
        QTRY_COMPARE(m_server->Server()->receipts()->StateText(2), QStringLiteral("ältere Version"));
        monitor->findChild<QPushButton*>(QStringLiteral("cmdAktualisieren"))->click();
        QCOMPARE(monitor->RowTexts().value(1), QStringLiteral("2\tKasse (127.0.0.12)\tverbunden\t + \tältere Version"));
        QCOMPARE(monitor->RowTexts().value(0), QStringLiteral("1\tEmpfang (127.0.0.11)\tverbunden\tvis + ak\t"));

        monitor->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(guard.isNull());
    }

    // The refresh lets events run between rows: a monitor closed meanwhile stops there and goes.
    void closedDuringRefresh()
    {
        Announce(Connect(QStringLiteral("127.0.0.11")), 3);
        auto* monitor = new frmMonitor(nullptr, m_server.get());
        QPointer<frmMonitor> guard(monitor);
        monitor->show();
        QCOMPARE(monitor->RowTexts().size(), 3);
        QTimer::singleShot(0, monitor, [monitor] { Forms::Unload(monitor); });
        monitor->Refresh();
        // Either gone already or stopped before its first row; never filled on after the close.
        QVERIFY(guard.isNull() || guard->RowTexts().isEmpty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(guard.isNull());
    }

    // An alarm during the first refresh unloads the windows: no monitor comes up modal in front of it.
    void alarmDuringFirstRefresh()
    {
        Announce(Connect(QStringLiteral("127.0.0.11")), 1);
        bool shown = false;
        QTimer::singleShot(0, this, [] { Forms::UnloadFormsExcept(QStringLiteral("frmMain")); });
        // Should it come up all the same, it is closed again, so that the fault shows and nothing hangs.
        QTimer watchdog;
        connect(&watchdog, &QTimer::timeout, this, [&] {
            if (QWidget* m = Forms::Find(QStringLiteral("frmMonitor")); m && m->isVisible()) {
                shown = true;
                Forms::Unload(m);
            }
        });
        watchdog.start(10);
        frmMonitor::ShowMonitor(nullptr, m_server.get());
        QVERIFY(!shown);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!Forms::IsFormLoaded(QStringLiteral("frmMonitor")));
    }

private:
    // One station at a time, so that the slots are taken in this order.
    Uplink* Connect(const QString& address)
    {
        const int before = ConnectedSlots();
        m_uplinks.push_back(std::make_unique<Uplink>(address, m_server->config().serverPort));
        if (!QTest::qWaitFor([&] { return ConnectedSlots() > before; }, 5000))
            qWarning() << "station" << address << "was not accepted";
        return m_uplinks.back().get();
    }

    // Each announcement makes the server open one more downlink to the sink.
    void Announce(Uplink* station, int downlinks)
    {
        for (int i = 1; i <= downlinks; ++i) {
            station->Line(QStringLiteral("003: 127.0.0.1"));
            QTRY_COMPARE(ConnectedSlots(true), i);
        }
    }

    // Connected uplinks (listener slots), or with `writers` downlinks.
    int ConnectedSlots(bool writers = false) const
    {
        SocketArray* sockets = writers ? m_server->WS_Writer() : m_server->WS_Listener();
        int n = 0;
        for (int i = 1; i <= (writers ? m_server->HighestWriterSlot() : m_server->HighestListenerSlot()); ++i)
            n += sockets->At(i)->IsConnected() ? 1 : 0;
        return n;
    }

    std::unique_ptr<TestFolder> m_folder;
    std::unique_ptr<AlarmNet> m_server;
    std::vector<std::unique_ptr<Uplink>> m_uplinks;
    QTcpServer m_sink;
    QList<QTcpSocket*> m_downlinks;
};

QTEST_MAIN(tst_Monitor)
#include "tst_monitor.moc"
