#include "core/Globals.h"
#include "net/AlarmNet.h"
#include "net/ClientLink.h"
#include "net/LineFramer.h"
#include "net/ServerRelay.h"
#include "platform/Cp1252.h"
#include "platform/SocketArray.h"
#include "windows/AlarmIO.h"

#include "TestFolder.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <sys/socket.h>

using Network::AlarmNet;

namespace {

quint16 FreePort(const QString& address)
{
    QTcpServer probe;
    probe.listen(QHostAddress(address), 0);
    return probe.serverPort();
}

// A plain socket from one loopback address to another.
bool Dial(QTcpSocket& s, const QString& from, const QString& to, quint16 port)
{
    s.bind(QHostAddress(from), 0);
    s.connectToHost(QHostAddress(to), port);
    return s.waitForConnected(3000);
}

// A station made of plain sockets: uplink from its own loopback address, listener for the downlink.
struct FakeStation : QObject
{
    FakeStation(const QString& address, quint16 serverPort, quint16 stationPort)
        : m_address(address), m_serverPort(serverPort)
    {
        m_listener.listen(QHostAddress(address), stationPort);
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_listener.nextPendingConnection()) {
                downs.append(s);
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    for (const QByteArray& line : m_framer.Feed(s->readAll()).lines)
                        lines.append(Cp1252::Decode(line));
                });
            }
        });
    }

    // Connects the uplink; with a name, announces and registers at once.
    bool Connect(const QString& name = QString())
    {
        up = std::make_unique<QTcpSocket>();
        if (!Dial(*up, m_address, QStringLiteral("127.0.0.1"), m_serverPort))
            return false;
        if (!name.isNull()) {
            Line(QStringLiteral("003: ") + m_address);
            Line(QStringLiteral("001: |") + name + QStringLiteral("|1|1"));
        }
        return true;
    }
    void Send(const QByteArray& bytes)
    {
        up->write(bytes);
        up->flush();
    }
    void Line(const QString& text) { Send(Cp1252::Encode(text) + "\r\n"); }
    bool HasDownlink() const { return !downs.isEmpty() && downs.last()->state() == QAbstractSocket::ConnectedState; }
    bool Up(const QString& name)
    {
        return Connect(name) && QTest::qWaitFor([this] { return HasDownlink(); }, 5000);
    }

    QStringList lines;
    QList<QTcpSocket*> downs;
    std::unique_ptr<QTcpSocket> up;
    QString m_address;
    quint16 m_serverPort;
    QTcpServer m_listener;
    LineFramer m_framer;
};

} // namespace

class tst_NetLoopback : public QObject
{
    Q_OBJECT

    QString Log() const { return Cp1252::Decode(m_folder->readFile(QStringLiteral("Log/log.csv"))); }

    // The server on 127.0.0.1; without one, the program's station on 127.0.0.2 with a quick connect timer, so
    // the test need not wait 2 s a step.
    std::unique_ptr<AlarmNet> MakeNet(bool server = true)
    {
        const QString address = QLatin1String(server ? "127.0.0.1" : "127.0.0.2");
        AlarmNet::Config c;
        c.serverPort = m_serverPort;
        c.stationPort = m_stationPort;
        c.listenAddress = address;
        c.outboundAddress = server ? QString() : address;
        auto net = std::make_unique<AlarmNet>(AlarmNet::Timers{server ? nullptr : m_connectTimer.get()}, c);
        net->SetServer(server);
        server ? net->StartServerListener() : net->StartClientListener();
        return net;
    }

    std::unique_ptr<TestFolder> m_folder;
    quint16 m_serverPort = 0;
    quint16 m_stationPort = 0;
    std::unique_ptr<AlarmNet> m_server;
    std::unique_ptr<AlarmNet> m_station;
    std::unique_ptr<QTimer> m_connectTimer;

private slots:
    void init()
    {
        m_folder = std::make_unique<TestFolder>();
        QDir(m_folder->path()).mkdir(QStringLiteral("Log"));
        // No "Autoreconnect": a missing value means reconnect.
        m_folder->writeIni("[General]\r\nStationname=Empfang\r\nVisuell=1\r\nAkustisch=0\r\nServername=127.0.0.1\r\n");
        m_serverPort = FreePort(QStringLiteral("127.0.0.1"));
        m_stationPort = FreePort(QStringLiteral("127.0.0.2"));
        Globals::IsEnding = false;
        m_connectTimer = std::make_unique<QTimer>();
        m_connectTimer->setInterval(100);
        m_server = MakeNet();
        m_station = MakeNet(false);
    }

    void cleanup()
    {
        m_station.reset();
        m_server.reset();
        m_connectTimer.reset();
        m_folder.reset();
    }

    void stationRegistersAndRelaysEveryCode()
    {
        Network::ClientLink* link = m_station->Client();
        // The station announces itself once its uplink is up, without waiting for a tick of the connect timer.
        m_connectTimer->setInterval(3600 * 1000);
        link->doClientConnect(QString());
        QTRY_VERIFY_WITH_TIMEOUT(link->IsConnected(), 5000);

        // The server keeps the record with the address the uplink comes from; the downlink went to the
        // address announced, which is the uplink's own local address, not the first one of the table.
        QCOMPARE(m_server->StationRecord(1), QStringLiteral("001: |Empfang|1|0|127.0.0.2"));
        QCOMPARE(m_server->Server()->DownlinkTarget(1), QStringLiteral("127.0.0.2"));
        // The first registration is logged on arrival, before the slot holds a record.
        QVERIFY2(Log().contains(";127.0.0.2;001:Connect Request\r\n"), qPrintable(Log()));

        // Only the server opens the downlink: a foreign host is refused, its alarm never seen, the link kept.
        QSignalSpy alarms(link, &Network::ClientLink::AlarmReceived);
        QTcpSocket foreign;
        QVERIFY(Dial(foreign, QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.2"), m_stationPort));
        foreign.write("005: 10.0.0.99|001: |Fremd|1|1|10.0.0.99\r\n");
        QTRY_VERIFY(Log().contains(";127.0.0.9;Verbindung abgewiesen: nicht der Server\r\n"));
        QTRY_COMPARE(foreign.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(alarms.isEmpty() && link->IsConnected());

        // Every code relayed in order to all stations, four in one write, then one split inside its code.
        FakeStation a(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
        QVERIFY(a.Up(QStringLiteral("Büro|2")));
        QSignalSpy handled(m_station.get(), &AlarmNet::LineHandled);
        a.Send("004: \r\n006: \r\n008: \r\n010: \r\n00");
        QTest::qWait(50);
        a.Send("4: \r\n");
        const QString relay = QStringLiteral("127.0.0.3|001: |Büro|2|1|1|127.0.0.3");
        QStringList expected;
        for (const char* code : {"005: ", "007: ", "009: ", "011: ", "005: "})
            expected << QLatin1String(code) + relay;
        QTRY_COMPARE(handled.size(), expected.size());
        QStringList got;
        for (const auto& call : handled)
            got << call.at(1).toString();
        QCOMPARE(got, expected);
        QCOMPARE(alarms.size(), 3);
        QCOMPARE(alarms.at(1).at(1).toBool(), true); // 011: the training alarm
        // The sender gets its own relays back, the umlaut as one byte on the wire.
        QTRY_VERIFY(a.lines.contains(QStringLiteral("009: ") + relay));
        // A last line without CR before the peer closes is a line all the same.
        a.Send("008: ");
        a.up->disconnectFromHost();
        QTRY_COMPARE(handled.size(), 6);
        QCOMPARE(handled.last().at(1).toString(), QStringLiteral("009: ") + relay);

        // Closing the uplink by hand: shown disconnected at once, no reconnect.
        link->doClientDisconnect();
        QVERIFY(!Globals::IsConnected);
        QVERIFY(!link->connectTimer()->isActive());
    }

    // A station that reconnected before its old uplink was seen to end keeps the downlink it asked for anew.
    void reconnectKeepsTheNewDownlink()
    {
        FakeStation a(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
        FakeStation b(QStringLiteral("127.0.0.4"), m_serverPort, m_stationPort);
        QTcpSocket stale;
        QVERIFY(Dial(stale, QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.1"), m_serverPort));
        stale.write("003: 127.0.0.3\r\n");
        QTRY_VERIFY(a.HasDownlink());
        QVERIFY(a.Connect(QStringLiteral("A")));
        QTRY_COMPARE(a.downs.size(), 2);
        QVERIFY(b.Up(QStringLiteral("B")));
        stale.disconnectFromHost();
        QTRY_VERIFY(!m_server->WS_Listener()->At(1)->IsConnected());
        b.Line(QStringLiteral("004: "));
        QTRY_VERIFY(a.lines.contains(QStringLiteral("005: 127.0.0.4|001: |B|1|1|127.0.0.4")));
    }

    // Stations that announce themselves in the same moment each keep a downlink of their own.
    void stationsAnnouncingAtOnceKeepTheirDownlinks()
    {
        FakeStation a(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
        FakeStation b(QStringLiteral("127.0.0.4"), m_serverPort, m_stationPort);
        QVERIFY(a.Connect(QStringLiteral("A")) && b.Connect(QStringLiteral("B")));
        QTRY_VERIFY(a.HasDownlink() && b.HasDownlink());
        QCOMPARE(m_server->HighestWriterSlot(), 2);
        b.Line(QStringLiteral("004: "));
        QTRY_VERIFY(a.lines.contains(QStringLiteral("005: 127.0.0.4|001: |B|1|1|127.0.0.4")));
    }

    void badInputAndResetKeepServerServing()
    {
        FakeStation a(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
        FakeStation junk(QStringLiteral("127.0.0.6"), m_serverPort, m_stationPort);
        QVERIFY(a.Up(QStringLiteral("A")));
        QVERIFY(junk.Connect(QStringLiteral("J")));

        junk.Send(QByteArray("\0\x01\x80\xff\n", 5) + "\r\n" + QByteArray(1024 * 1024, 'x'));
        QTRY_VERIFY_WITH_TIMEOUT(Log().contains("Zeile ohne Zeilenende verworfen"), 5000);
        QCOMPARE(Log().count("Zeile ohne Zeilenende verworfen"), 1);
        // The connection stays up and its next whole line counts.
        junk.Send("\r\n001: |Junk|0|0\r\n");
        QTRY_COMPARE(m_server->StationRecord(2), QStringLiteral("001: |Junk|0|0|127.0.0.6"));

        // A backlog of valid lines from one peer does not hold up another's alarm: the server reads in turns.
        constexpr int kBacklog = 2000;
        QSignalSpy handled(m_server.get(), &AlarmNet::LineHandled);
        junk.Send(QByteArray("001: |Junk|0|0\r\n").repeated(kBacklog));
        a.Line(QStringLiteral("004: "));
        QTRY_VERIFY_WITH_TIMEOUT(handled.size() == kBacklog + 1, 30000);
        const auto alarmAt = std::find_if(handled.cbegin(), handled.cend(), [](const QList<QVariant>& call) {
            return call.at(1).toString() == QLatin1String("004: ");
        });
        QVERIFY2(alarmAt - handled.cbegin() < kBacklog / 2, qPrintable(QString::number(alarmAt - handled.cbegin())));

        // A reset in the middle of a line ends the connection and its downlink.
        junk.Send("004");
        QTest::qWait(50);
        const linger l = {1, 0}; // the close sends a reset instead of an orderly end
        ::setsockopt(int(junk.up->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        junk.up->abort();
        QTRY_VERIFY(!m_server->WS_Listener()->At(2)->IsConnected());
        QTRY_VERIFY(!junk.HasDownlink());
        QVERIFY(Log().contains(";127.0.0.6 (Junk);Client Anwendung beendet\r\n"));

        a.lines.clear();
        a.Line(QStringLiteral("004: "));
        QTRY_VERIFY(a.lines.contains(QStringLiteral("005: 127.0.0.3|001: |A|1|1|127.0.0.3")));
        // The cut-off "004" of the reset connection was never relayed as an alarm of its own.
        QVERIFY(!a.lines.join('\n').contains(QStringLiteral("005: 127.0.0.6")));

        // The next station in the slot starts without the record of the one before.
        FakeStation c(QStringLiteral("127.0.0.5"), m_serverPort, m_stationPort);
        QVERIFY(c.Connect());
        QTRY_VERIFY(m_server->WS_Listener()->At(2)->IsConnected());
        QCOMPARE(m_server->StationRecord(2), QString());
        QTRY_VERIFY(Log().contains(";127.0.0.5;Client Anwendung gestartet\r\n"));
        QVERIFY(!Log().contains(";127.0.0.5 (Junk)"));
        c.Line(QStringLiteral("003: 127.0.0.5"));
        QTRY_VERIFY(c.HasDownlink());
        QCOMPARE(m_server->HighestWriterSlot(), 2); // the closed downlink slot was taken again
        c.Line(QStringLiteral("001: |C|0|0"));
        QTRY_COMPARE(m_server->StationRecord(2), QStringLiteral("001: |C|0|0|127.0.0.5"));
    }

    void strayLinesLoggedWithinBudget()
    {
        FakeStation junk(QStringLiteral("127.0.0.6"), m_serverPort, m_stationPort);
        QVERIFY(junk.Connect(QString(3000, QLatin1Char('N'))));
        // Ten stray lines around two alarms, then the end of the connection.
        junk.Send("\x01\x02\r\n" + QByteArray("123: a\r\n").repeated(5) + "004: \r\n" +
                  QByteArray("\x01\xff\r\n").repeated(4) + "006: \r\n");
        QTRY_VERIFY(Log().contains("006:ALARM-Receive von Client"));
        junk.up->disconnectFromHost();
        QTRY_VERIFY(Log().contains("Client Anwendung beendet"));

        const QStringList lines = Log().split(QStringLiteral("\r\n"));
        const auto count = [&lines](const char* text) { return lines.filter(QString::fromUtf8(text)).size(); };
        QCOMPARE(count("Ungültige Zeile verworfen: ??"), 1); // control characters never reach the log
        QCOMPARE(count("Ungültige Zeile verworfen: 123: a"), 2);
        QCOMPARE(count("004:ALARM von Client ausgelöst"), 1);
        QCOMPARE(count("006:ALARM-Receive von Client"), 1);
        QCOMPARE(count(";7 weitere ungültige Zeilen von 127.0.0.6 verworfen"), 1);
        // The registered name of 3000 characters is cut in these lines.
        for (const QString& line : lines.filter(QStringLiteral("ngültige")))
            QVERIFY2(line.size() < 200, qPrintable(line.left(100)));
    }

    // A burst to more downlinks than one thread sends to alone, each with a small send buffer at the server so
    // that part of it waits queued: every station gets every line, in order.
    void burstReachesManyStationsWhole()
    {
        std::vector<std::unique_ptr<FakeStation>> stations;
        for (int i = 10; i < 50; ++i) {
            stations.push_back(
                std::make_unique<FakeStation>(QStringLiteral("127.0.1.%1").arg(i), m_serverPort, m_stationPort));
            QVERIFY(stations.back()->Up(QString(200, QLatin1Char('n'))));
            const int small = 4096;
            ::setsockopt(static_cast<int>(m_server->WS_Writer()->At(i - 9)->DirectHandle()), SOL_SOCKET, SO_SNDBUF,
                         &small, sizeof small);
        }
        const QString relay = QStringLiteral(" 127.0.1.10|") + m_server->StationRecord(1);
        QStringList sent;
        for (int i = 0; i < 100; ++i)
            sent << QStringLiteral("005:") + relay << QStringLiteral("009:") + relay;
        stations.front()->Send(QByteArray("004: \r\n008: \r\n").repeated(100));
        for (const auto& s : stations) {
            QTRY_COMPARE_WITH_TIMEOUT(s->lines.filter(QRegularExpression(QStringLiteral("^00[59]:"))).size(), 200,
                                      30000);
            QCOMPARE(s->lines.filter(QRegularExpression(QStringLiteral("^00[59]:"))), sent);
        }
    }

    void serverRestartWithAndWithoutReconnect()
    {
        Network::ClientLink* link = m_station->Client();
        link->doClientConnect(QString());
        QTRY_VERIFY_WITH_TIMEOUT(link->IsConnected(), 5000);

        m_server.reset();
        QTRY_VERIFY(!link->IsConnected());
        QVERIFY(!link->exitTimer()->isActive());
        QTRY_VERIFY(link->connectTimer()->isActive());
        m_server = MakeNet();
        QTRY_VERIFY_WITH_TIMEOUT(link->IsConnected(), 5000);

        m_folder->writeIni("[General]\r\nStationname=Empfang\r\nAutoreconnect=0\r\nServername=127.0.0.1\r\n");
        m_server.reset();
        QTRY_VERIFY(link->exitTimer()->isActive());
        QVERIFY(!link->connectTimer()->isActive());
    }

    // A server that never answered the offer gets today's lines only, even from a station that answers at once;
    // the offer goes to the downlink, where such a server drops it.
    void noReceiptsToAnOlderServer()
    {
        m_folder->writeIni("[General]\r\nStationname=Empfang\r\nVisuell=0\r\nAkustisch=0\r\nServername=127.0.0.1\r\n");
        m_server.reset();
        QTcpServer old;
        QVERIFY(old.listen(QHostAddress(QStringLiteral("127.0.0.1")), m_serverPort));
        m_station->Client()->doClientConnect(QString());
        QTRY_VERIFY_WITH_TIMEOUT(old.hasPendingConnections(), 5000);
        QTcpSocket* up = old.nextPendingConnection();
        QTcpSocket down;
        QVERIFY(Dial(down, QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), m_stationPort));
        QByteArray upBytes;
        QTRY_VERIFY_WITH_TIMEOUT((upBytes += up->readAll()).contains("001: "), 5000);
        down.write("002: 127.0.0.2\r\n005: 127.0.0.9|001: |Fremd|1|1|127.0.0.9\r\n");
        QTRY_VERIFY2_WITH_TIMEOUT(Log().contains("005:ALARM"), qPrintable(Log()), 5000);
        QTest::qWait(200);
        QVERIFY(!m_station->Client()->ServerTakesReceipts());
        upBytes += up->readAll();
        for (const QByteArray& line : upBytes.split('\n'))
            QVERIFY2(line.isEmpty() || line.startsWith("001: ") || line.startsWith("003: "), upBytes);
        QByteArray downBytes;
        QTRY_VERIFY2((downBytes += down.readAll()).contains("012: receipts"), downBytes);
    }

    void receiptsOnlyBetweenPeersThatKnowThem()
    {
        // The fake stations live in this process: only 127.0.0.2 is the station's own address.
        AlarmIO::Seams seams;
        seams.ownAddresses = [] { return QStringList{QStringLiteral("127.0.0.2")}; };
        seams.beep = [] {};
        AlarmIO::SetForTests(seams);
        auto restore = qScopeGuard([] { AlarmIO::SetForTests({}); });

        // The program's station offers receipts on its downlink and the server takes them up.
        Network::ClientLink* link = m_station->Client();
        link->doClientConnect(QString());
        QTRY_VERIFY_WITH_TIMEOUT(link->IsConnected(), 5000);
        QTRY_VERIFY(link->ServerTakesReceipts());

        FakeStation old(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
        FakeStation raiser(QStringLiteral("127.0.0.4"), m_serverPort, m_stationPort);
        QVERIFY(old.Connect(QStringLiteral("Alt")));
        QVERIFY(raiser.Connect(QStringLiteral("Melder")));
        QTRY_VERIFY(old.HasDownlink() && raiser.HasDownlink());
        raiser.downs.last()->write("012: receipts\r\n");
        QTRY_VERIFY(raiser.lines.contains(QStringLiteral("013: receipts")));

        // An uplink of the raiser's own that is still open is no station of its alarm.
        QTcpSocket stale;
        QVERIFY(Dial(stale, QStringLiteral("127.0.0.4"), QStringLiteral("127.0.0.1"), m_serverPort));
        QTRY_VERIFY(m_server->HighestListenerSlot() >= 4);
        raiser.Line(QStringLiteral("004: "));
        // The station has shown the alarm (window on the offscreen screen) and said so.
        QTRY_VERIFY2_WITH_TIMEOUT(raiser.lines.contains(QStringLiteral("015: 1|shown|127.0.0.2|Empfang")),
                                  qPrintable(raiser.lines.join('\n')), 5000);
        QVERIFY(raiser.lines.contains(QStringLiteral("015: 1|old|127.0.0.3|Alt")));
        QTRY_VERIFY_WITH_TIMEOUT(raiser.lines.contains(QStringLiteral("016: 1")), 10000);
        QVERIFY2(Log().contains(";127.0.0.4 (Melder);Rückmeldung: Alarm angezeigt auf 1 von 1 Station / ohne "
                                "Rückmeldung (ältere Version): Alt\r\n"),
                 qPrintable(Log()));

        // A drill proves the same chain: the training alarm is confirmed too.
        raiser.Line(QStringLiteral("008: "));
        raiser.Line(QStringLiteral("010: "));
        QTRY_VERIFY_WITH_TIMEOUT(raiser.lines.contains(QStringLiteral("015: 2|shown|127.0.0.2|Empfang")), 5000);

        // A receipt from a station that never offered receipts is stray input.
        old.Line(QStringLiteral("014: 127.0.0.4|1"));
        QTRY_VERIFY(Log().contains("(Alt);Ungültige Zeile verworfen: 014: 127.0.0.4|1"));

        // The older station got today's lines and nothing else, on either connection; the 002s of today's form.
        const QRegularExpression today(
            QStringLiteral("^(002: 127\\.0\\.0\\.1:%1-127\\.0\\.0\\.\\d+:\\d+|"
                           "0(05|09|11): 127\\.0\\.0\\.4\\|001: \\|Melder\\|1\\|1\\|127\\.0\\.0\\.4)$")
                .arg(m_serverPort));
        for (const QString& line : old.lines)
            QVERIFY2(today.match(line).hasMatch(), qPrintable(line));
        QCOMPARE(old.up->bytesAvailable(), 0);
    }
};

QTEST_MAIN(tst_NetLoopback)
#include "tst_netloopback.moc"
