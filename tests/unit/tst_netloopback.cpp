#include "core/Globals.h"
#include "net/AlarmNet.h"
#include "net/ClientLink.h"
#include "net/ReceiptRelay.h"
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
#include <unistd.h>

using Network::AlarmNet;

namespace {

quint16 FreePort(const QString& address)
{
    QTcpServer probe;
    probe.listen(QHostAddress(address), 0);
    return probe.serverPort();
}

// A station made of plain sockets: uplink from its own loopback address, listener for the downlink.
class FakeStation : public QObject
{
public:
    FakeStation(const QString& address, quint16 serverPort, quint16 stationPort)
        : m_address(address), m_serverPort(serverPort)
    {
        if (!m_listener.listen(QHostAddress(address), stationPort))
            qWarning() << "fake listener" << address << "failed";
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_listener.nextPendingConnection()) {
                m_downs.append(s);
                connect(s, &QTcpSocket::readyRead, this, [this, s] { Take(s); });
            }
        });
    }

    bool Connect()
    {
        m_up = std::make_unique<QTcpSocket>();
        m_up->bind(QHostAddress(m_address), 0);
        m_up->connectToHost(QHostAddress::LocalHost, m_serverPort);
        return m_up->waitForConnected(3000);
    }
    void Send(const QByteArray& bytes)
    {
        m_up->write(bytes);
        m_up->flush();
    }
    void Line(const QString& text) { Send(Cp1252::Encode(text) + "\r\n"); }
    void Register(const QString& name)
    {
        Line(QStringLiteral("003: ") + m_address);
        Line(QStringLiteral("001: |") + name + QStringLiteral("|1|1"));
    }
    bool HasDownlink() const
    {
        return !m_downs.isEmpty() && m_downs.last()->state() == QAbstractSocket::ConnectedState;
    }
    void Reset()
    {
        // SO_LINGER 0: the close sends a reset instead of an orderly end.
        const linger l = {1, 0};
        ::setsockopt(static_cast<int>(m_up->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        m_up->abort();
    }
    void Close() { m_up->disconnectFromHost(); }
    qsizetype Downlinks() const { return m_downs.size(); }
    void DownlinkLine(const QString& text)
    {
        m_downs.last()->write(Cp1252::Encode(text) + "\r\n");
        m_downs.last()->flush();
    }
    qint64 UplinkBytes() const { return m_up->bytesAvailable(); }

    QStringList lines;

private:
    void Take(QTcpSocket* s)
    {
        m_buffer += s->readAll();
        qsizetype cr;
        while ((cr = m_buffer.indexOf("\r\n")) >= 0) {
            lines.append(Cp1252::Decode(m_buffer.left(cr)));
            m_buffer.remove(0, cr + 2);
        }
    }

    QString m_address;
    quint16 m_serverPort;
    QTcpServer m_listener;
    QList<QTcpSocket*> m_downs;
    std::unique_ptr<QTcpSocket> m_up;
    QByteArray m_buffer;
};

// The program's station with its uplink up.
Network::ClientLink* LinkUp(AlarmNet& station)
{
    station.Client()->doClientConnect(QString());
    return QTest::qWaitFor([&] { return station.Client()->IsConnected(); }, 5000) ? station.Client() : nullptr;
}

// Connected, announced, registered and with its downlink.
bool Up(FakeStation& s, const QString& name)
{
    if (!s.Connect())
        return false;
    s.Register(name);
    return QTest::qWaitFor([&s] { return s.HasDownlink(); }, 5000);
}

} // namespace

class tst_NetLoopback : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void stationRegistersAndIsShownConnected();
    void relaysEveryCodeInOrderEvenWhenMergedOrSplit();
    void reusedSlotStartsEmpty();
    void reconnectKeepsTheNewDownlink();
    void badInputKeepsServerServing();
    void strayLinesLoggedWithinBudget();
    void burstReachesManyStationsWhole();
    void serverRestartWithAndWithoutReconnect();
    void receiptsOnlyBetweenPeersThatKnowThem();
    void noReceiptsToAnOlderServer();

private:
    std::unique_ptr<AlarmNet> MakeServer();
    std::unique_ptr<AlarmNet> MakeStation();
    QByteArray Log() const { return m_folder->readFile(QStringLiteral("Log/log.csv")); }

    std::unique_ptr<TestFolder> m_folder;
    quint16 m_serverPort = 0;
    quint16 m_stationPort = 0;
    std::unique_ptr<AlarmNet> m_server;
    std::unique_ptr<AlarmNet> m_station;
    std::unique_ptr<QTimer> m_connectTimer;
};

void tst_NetLoopback::init()
{
    m_folder = std::make_unique<TestFolder>();
    QDir(m_folder->path()).mkdir(QStringLiteral("Log"));
    // No "Autoreconnect": a missing value means reconnect.
    m_folder->writeIni("[General]\r\nStationname=Empfang\r\nVisuell=1\r\nAkustisch=0\r\nServername=127.0.0.1\r\n");
    m_serverPort = FreePort(QStringLiteral("127.0.0.1"));
    m_stationPort = FreePort(QStringLiteral("127.0.0.2"));
    Globals::IsEnding = false;
    m_server = MakeServer();
    m_station = MakeStation();
}

void tst_NetLoopback::cleanup()
{
    m_station.reset();
    m_server.reset();
    m_connectTimer.reset();
    m_folder.reset();
}

std::unique_ptr<AlarmNet> tst_NetLoopback::MakeServer()
{
    AlarmNet::Config c;
    c.serverPort = m_serverPort;
    c.stationPort = m_stationPort;
    c.listenAddress = QStringLiteral("127.0.0.1");
    auto net = std::make_unique<AlarmNet>(AlarmNet::Timers{}, c);
    net->SetServer(true);
    net->StartServerListener();
    return net;
}

// The program's station on 127.0.0.2, with a quick connect timer so the test need not wait 2 s a step.
std::unique_ptr<AlarmNet> tst_NetLoopback::MakeStation()
{
    AlarmNet::Config c;
    c.serverPort = m_serverPort;
    c.stationPort = m_stationPort;
    c.listenAddress = QStringLiteral("127.0.0.2");
    c.outboundAddress = QStringLiteral("127.0.0.2");
    m_connectTimer = std::make_unique<QTimer>();
    m_connectTimer->setInterval(100);
    auto net = std::make_unique<AlarmNet>(AlarmNet::Timers{m_connectTimer.get(), nullptr, nullptr}, c);
    net->SetServer(false);
    net->StartClientListener();
    return net;
}

void tst_NetLoopback::stationRegistersAndIsShownConnected()
{
    Network::ClientLink* link = m_station->Client();
    QSignalSpy status(link, &Network::ClientLink::ConnectionStatusChanged);
    // The station announces itself once its uplink is up, without waiting for a tick of the connect timer.
    m_connectTimer->setInterval(3600 * 1000);
    link->doClientConnect(QString());
    QTRY_VERIFY_WITH_TIMEOUT(link->IsConnected(), 5000);
    QCOMPARE(status.last().at(0).toBool(), true);

    // The server keeps the record with the address the uplink comes from; the downlink went to the
    // address announced, which is the uplink's own local address, not the first one of the table.
    QCOMPARE(m_server->StationRecord(1), QStringLiteral("001: |Empfang|1|0|127.0.0.2"));
    QCOMPARE(m_server->Server()->DownlinkTarget(1), QStringLiteral("127.0.0.2"));
    // The first registration is logged on arrival, before the slot holds a record.
    const QByteArray log = Log();
    QVERIFY2(log.contains(";127.0.0.2;001:Connect Request\r\n"), log);
    QVERIFY2(log.contains(";127.0.0.1;002:Connect Response\r\n"), log);

    // Only the server opens the downlink: a foreign host is refused, its alarm never seen, the link kept.
    QSignalSpy alarms(link, &Network::ClientLink::AlarmReceived);
    QTcpSocket foreign;
    foreign.bind(QHostAddress(QStringLiteral("127.0.0.9")), 0);
    foreign.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), m_stationPort);
    QVERIFY(foreign.waitForConnected(3000));
    foreign.write("005: 10.0.0.99|001: |Fremd|1|1|10.0.0.99\r\n");
    QTRY_VERIFY(Log().contains(";127.0.0.9;Verbindung abgewiesen: nicht der Server\r\n"));
    QTRY_COMPARE(foreign.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(alarms.isEmpty() && link->IsConnected());

    // Closing the uplink by hand: shown disconnected at once, no reconnect.
    link->doClientDisconnect();
    QVERIFY(!Globals::IsConnected);
    QVERIFY(!link->connectTimer()->isActive());
}

void tst_NetLoopback::relaysEveryCodeInOrderEvenWhenMergedOrSplit()
{
    Network::ClientLink* link = LinkUp(*m_station);
    QVERIFY(link);

    FakeStation a(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
    QVERIFY(Up(a, QStringLiteral("Büro|2")));

    QSignalSpy alarms(link, &Network::ClientLink::AlarmReceived);
    QSignalSpy acks(link, &Network::ClientLink::AcknowledgementReceived);
    QSignalSpy cancels(link, &Network::ClientLink::CancelReceived);
    QSignalSpy handled(m_station.get(), &AlarmNet::LineHandled);

    const QString relay = QStringLiteral("127.0.0.3|001: |Büro|2|1|1|127.0.0.3");
    // Four codes in one write, then one split inside its code.
    a.Send("004: \r\n006: \r\n008: \r\n010: \r\n00");
    QTest::qWait(50);
    a.Send("4: \r\n");
    QTRY_COMPARE(alarms.size(), 3);
    QCOMPARE(alarms.at(0).at(0).toString(), QStringLiteral("005: ") + relay);
    QCOMPARE(alarms.at(1).at(1).toBool(), true); // 011: the training alarm
    QCOMPARE(acks.at(0).at(0).toString(), QStringLiteral("007: ") + relay);
    QCOMPARE(cancels.size(), 1);
    QStringList order;
    for (const auto& call : handled)
        order << call.at(1).toString().left(4);
    QCOMPARE(order, (QStringList{"005:", "007:", "009:", "011:", "005:"}));

    // The sender gets its own relays back, the umlaut as one byte on the wire.
    QTRY_VERIFY(a.lines.contains(QStringLiteral("009: ") + relay));
    QVERIFY(a.lines.contains(QStringLiteral("005: ") + relay));

    const QByteArray log = Log();
    // The separator in the name shifts the record's fields: the log names the station by position.
    QVERIFY(log.contains(Cp1252::Encode(QStringLiteral(";1 (Büro);004:ALARM von Client ausgelöst\r\n"))));
    // A last line without CR before the peer closes is a line all the same.
    a.Send("008: ");
    a.Close();
    QTRY_COMPARE(cancels.size(), 2);
}

void tst_NetLoopback::reusedSlotStartsEmpty()
{
    FakeStation a(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
    FakeStation b(QStringLiteral("127.0.0.4"), m_serverPort, m_stationPort);
    FakeStation c(QStringLiteral("127.0.0.5"), m_serverPort, m_stationPort);
    QVERIFY(Up(a, QStringLiteral("A")));
    QVERIFY(Up(b, QStringLiteral("Bett 4")));
    QTRY_COMPARE(m_server->StationRecord(2), QStringLiteral("001: |Bett 4|1|1|127.0.0.4"));

    b.Close();
    QTRY_VERIFY(!m_server->WS_Listener()->At(2)->IsConnected());
    // B's downlink goes with its uplink.
    QTRY_VERIFY(!b.HasDownlink());
    QVERIFY(Log().contains(";127.0.0.4 (Bett 4);Client Anwendung beendet\r\n"));

    QVERIFY(c.Connect());
    QTRY_VERIFY(m_server->WS_Listener()->At(2)->IsConnected());
    QCOMPARE(m_server->StationRecord(2), QString());
    QTRY_VERIFY(Log().contains(";127.0.0.5;Client Anwendung gestartet\r\n"));
    QVERIFY(!Log().contains(";127.0.0.5 (Bett 4)"));

    // An alarm before registering names nobody.
    c.Line(QStringLiteral("003: 127.0.0.5"));
    QTRY_VERIFY(c.HasDownlink());
    QCOMPARE(m_server->HighestWriterSlot(), 2); // the closed downlink slot was taken again
    c.Line(QStringLiteral("004: "));
    QTRY_VERIFY(a.lines.contains(QStringLiteral("005: 127.0.0.5|")));
    c.Line(QStringLiteral("001: |C|0|0"));
    QTRY_COMPARE(m_server->StationRecord(2), QStringLiteral("001: |C|0|0|127.0.0.5"));
}

// A station that reconnected before its old uplink was seen to end keeps the downlink it asked for anew.
void tst_NetLoopback::reconnectKeepsTheNewDownlink()
{
    FakeStation a(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
    FakeStation b(QStringLiteral("127.0.0.4"), m_serverPort, m_stationPort);
    QTcpSocket stale;
    stale.bind(QHostAddress(QStringLiteral("127.0.0.3")), 0);
    stale.connectToHost(QHostAddress::LocalHost, m_serverPort);
    QVERIFY(stale.waitForConnected(3000));
    stale.write("003: 127.0.0.3\r\n");
    QTRY_VERIFY(a.HasDownlink());
    QVERIFY(a.Connect());
    a.Register(QStringLiteral("A"));
    QTRY_COMPARE(a.Downlinks(), 2);
    QVERIFY(Up(b, QStringLiteral("B")));
    stale.disconnectFromHost();
    QTRY_VERIFY(!m_server->WS_Listener()->At(1)->IsConnected());
    b.Line(QStringLiteral("004: "));
    QTRY_VERIFY(a.lines.contains(QStringLiteral("005: 127.0.0.4|001: |B|1|1|127.0.0.4")));
}

void tst_NetLoopback::badInputKeepsServerServing()
{
    FakeStation a(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
    FakeStation junk(QStringLiteral("127.0.0.6"), m_serverPort, m_stationPort);
    QVERIFY(Up(a, QStringLiteral("A")));
    QVERIFY(junk.Connect());

    // Binary bytes, then a megabyte without a line end.
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

    // A reset in the middle of a line.
    junk.Send("004");
    QTest::qWait(50);
    junk.Reset();
    QTRY_VERIFY(!m_server->WS_Listener()->At(2)->IsConnected());

    a.lines.clear();
    a.Line(QStringLiteral("004: "));
    QTRY_VERIFY(a.lines.contains(QStringLiteral("005: 127.0.0.3|001: |A|1|1|127.0.0.3")));
    // The cut-off "004" of the reset connection was never relayed as an alarm of its own.
    QVERIFY(!a.lines.join('\n').contains(QStringLiteral("005: 127.0.0.6")));
}

void tst_NetLoopback::strayLinesLoggedWithinBudget()
{
    FakeStation junk(QStringLiteral("127.0.0.6"), m_serverPort, m_stationPort);
    QVERIFY(junk.Connect());
    junk.Register(QString(3000, QLatin1Char('N')));
    // Ten stray lines around two alarms, then the end of the connection.
    junk.Send("\x01\x02\r\n" + QByteArray("123: a\r\n").repeated(5) + "004: \r\n" +
              QByteArray("\x01\xff\r\n").repeated(4) + "006: \r\n");
    QTRY_VERIFY(Log().contains("006:ALARM-Receive von Client"));
    junk.Close();
    QTRY_VERIFY(Log().contains("Client Anwendung beendet"));

    const QStringList lines = Cp1252::Decode(Log()).split(QStringLiteral("\r\n"));
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

void tst_NetLoopback::burstReachesManyStationsWhole()
{
    // More downlinks than one thread sends to alone, each with a small send buffer at the server, so that
    // part of the burst waits queued behind what the system took.
    std::vector<std::unique_ptr<FakeStation>> stations;
    for (int i = 10; i < 50; ++i) {
        stations.push_back(
            std::make_unique<FakeStation>(QStringLiteral("127.0.1.%1").arg(i), m_serverPort, m_stationPort));
        QVERIFY(Up(*stations.back(), QString(200, QLatin1Char('n'))));
        const int small = 4096;
        ::setsockopt(static_cast<int>(m_server->WS_Writer()->At(i - 9)->DirectHandle()), SOL_SOCKET, SO_SNDBUF, &small,
                     sizeof small);
    }
    auto relays = [](const FakeStation& s) { return s.lines.filter(QRegularExpression(QStringLiteral("^00[59]:"))); };
    const QString relay = QStringLiteral(" 127.0.1.10|") + m_server->StationRecord(1);
    QStringList sent;
    for (int i = 0; i < 100; ++i)
        sent << QStringLiteral("005:") + relay << QStringLiteral("009:") + relay;
    stations.front()->Send(QByteArray("004: \r\n008: \r\n").repeated(100));
    for (const auto& s : stations) {
        QTRY_COMPARE_WITH_TIMEOUT(relays(*s).size(), 200, 30000);
        QCOMPARE(relays(*s), sent);
    }
}

void tst_NetLoopback::serverRestartWithAndWithoutReconnect()
{
    Network::ClientLink* link = LinkUp(*m_station);
    QVERIFY(link);

    m_server.reset();
    QTRY_VERIFY(!link->IsConnected());
    QVERIFY(!link->exitTimer()->isActive());
    QTRY_VERIFY(link->connectTimer()->isActive());
    m_server = MakeServer();
    QTRY_VERIFY_WITH_TIMEOUT(link->IsConnected(), 5000);

    m_folder->writeIni("[General]\r\nStationname=Empfang\r\nAutoreconnect=0\r\nServername=127.0.0.1\r\n");
    m_server.reset();
    QTRY_VERIFY(link->exitTimer()->isActive());
    QVERIFY(!link->IsConnected());
    QVERIFY(!link->connectTimer()->isActive());
}

// A server that never answered the offer gets today's lines only, even from a station that answers at once;
// the offer goes to the downlink, where such a server drops it.
void tst_NetLoopback::noReceiptsToAnOlderServer()
{
    m_folder->writeIni("[General]\r\nStationname=Empfang\r\nVisuell=0\r\nAkustisch=0\r\nServername=127.0.0.1\r\n");
    m_server.reset();
    QTcpServer old;
    QVERIFY(old.listen(QHostAddress(QStringLiteral("127.0.0.1")), m_serverPort));
    QTcpSocket* up = nullptr;
    QTcpSocket down;
    QByteArray upBytes;
    connect(&old, &QTcpServer::newConnection, this, [&] {
        up = old.nextPendingConnection();
        connect(up, &QTcpSocket::readyRead, this, [&] { upBytes += up->readAll(); });
        down.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        down.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), m_stationPort);
    });
    m_station->Client()->doClientConnect(QString());
    QTRY_VERIFY_WITH_TIMEOUT(upBytes.contains("001: "), 5000);
    down.write("002: 127.0.0.2\r\n005: 127.0.0.9|001: |Fremd|1|1|127.0.0.9\r\n");
    QTRY_VERIFY2_WITH_TIMEOUT(Log().contains("005:ALARM"), Log(), 5000);
    QTest::qWait(200);
    QVERIFY(!m_station->Client()->ServerTakesReceipts());
    for (const QByteArray& line : upBytes.split('\n'))
        QVERIFY2(line.isEmpty() || line.startsWith("001: ") || line.startsWith("003: "), upBytes);
    QByteArray downBytes;
    QTRY_VERIFY2((downBytes += down.readAll()).contains("012: receipts"), downBytes);
}

QTEST_MAIN(tst_NetLoopback)
#include "tst_netloopback.moc"

void tst_NetLoopback::receiptsOnlyBetweenPeersThatKnowThem()
{
    // The fake stations live in this process: only 127.0.0.2 is the station's own address.
    AlarmIO::Seams seams;
    seams.ownAddresses = [] { return QStringList{QStringLiteral("127.0.0.2")}; };
    seams.beep = [] {};
    AlarmIO::SetForTests(seams);
    auto restore = qScopeGuard([] { AlarmIO::SetForTests({}); });

    // The program's station offers receipts on its downlink and the server takes them up.
    Network::ClientLink* link = LinkUp(*m_station);
    QVERIFY(link);
    QTRY_VERIFY(link->ServerTakesReceipts());

    FakeStation old(QStringLiteral("127.0.0.3"), m_serverPort, m_stationPort);
    FakeStation raiser(QStringLiteral("127.0.0.4"), m_serverPort, m_stationPort);
    QVERIFY(old.Connect());
    old.Register(QStringLiteral("Alt"));
    QVERIFY(raiser.Connect());
    raiser.Register(QStringLiteral("Melder"));
    QTRY_VERIFY(old.HasDownlink() && raiser.HasDownlink());
    raiser.DownlinkLine(QStringLiteral("012: receipts"));
    QTRY_VERIFY(raiser.lines.contains(QStringLiteral("013: receipts")));

    // An uplink of the raiser's own that is still open is no station of its alarm.
    QTcpSocket stale;
    stale.bind(QHostAddress(QStringLiteral("127.0.0.4")), 0);
    stale.connectToHost(QHostAddress::LocalHost, m_serverPort);
    QTRY_VERIFY(m_server->HighestListenerSlot() >= 4);
    raiser.Line(QStringLiteral("004: "));
    // The station has shown the alarm (window on the offscreen screen) and said so.
    QTRY_VERIFY2_WITH_TIMEOUT(raiser.lines.contains(QStringLiteral("015: 1|shown|127.0.0.2|Empfang")),
                              qPrintable(raiser.lines.join('\n')), 5000);
    QVERIFY(raiser.lines.contains(QStringLiteral("015: 1|old|127.0.0.3|Alt")));
    QTRY_VERIFY_WITH_TIMEOUT(raiser.lines.contains(QStringLiteral("016: 1")), 10000);
    QVERIFY2(
        Log().contains(Cp1252::Encode(QStringLiteral(";127.0.0.4 (Melder);Rückmeldung: Alarm angezeigt auf 1 von 1 "
                                                     "Station / ohne Rückmeldung (ältere Version): Alt\r\n"))),
        Log());
    QCOMPARE(m_server->Server()->receipts()->StateText(1), QStringLiteral("angezeigt"));

    // A drill proves the same chain: the training alarm is confirmed too.
    raiser.Line(QStringLiteral("008: "));
    raiser.Line(QStringLiteral("010: "));
    QTRY_VERIFY_WITH_TIMEOUT(raiser.lines.contains(QStringLiteral("015: 2|shown|127.0.0.2|Empfang")), 5000);

    // A receipt from a station that never offered receipts is stray input.
    old.Line(QStringLiteral("014: 127.0.0.4|1"));
    QTRY_VERIFY(Log().contains(Cp1252::Encode(QStringLiteral("(Alt);Ungültige Zeile verworfen: 014: 127.0.0.4|1"))));

    // The older station got today's lines and nothing else, on either connection.
    for (const QString& line : old.lines)
        QVERIFY2(line.startsWith(QStringLiteral("002: ")) ||
                     line.mid(3) == QStringLiteral(": 127.0.0.4|001: |Melder|1|1|127.0.0.4"), // 005, 009, 011
                 qPrintable(line));
    QCOMPARE(old.UplinkBytes(), 0);
}
