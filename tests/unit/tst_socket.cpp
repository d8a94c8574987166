#include "platform/Socket.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestSocket : public QObject
{
    Q_OBJECT

    static QByteArray Pattern(int kib) { return QByteArray("abcdefghijklmnopqrstuvw").repeated(kib * 1024 / 23 + 1); }

    // A listening Socket on a free loopback port, the connection it accepted from `peer` in `conn`.
    void Accepted(Socket& listener, Socket& conn, QTcpSocket& peer)
    {
        const quint16 port = FreePort();
        listener.Bind(QStringLiteral("127.0.0.1"), port);
        QVERIFY(listener.Listen());
        connect(&listener, &Socket::ConnectionRequest, &conn, [&conn](int, qintptr handle) { conn.Accept(handle); });
        QSignalSpy up(&conn, &Socket::ConnectedEvent);
        peer.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(peer.waitForConnected(3000));
        QTRY_COMPARE(up.count(), 1);
        QVERIFY(conn.IsConnected());
    }

private slots:
    // Outcomes of a connection in the order and with the codes the rest of the program knows from
    // QTcpSocket: refused; set up by name; the peer's last bytes readable after it has gone.
    void connectionOutcomes()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const quint16 port = server.serverPort();

        Socket refused(0, nullptr);
        QSignalSpy refusedError(&refused, &Socket::Error);
        QSignalSpy refusedGone(&refused, &Socket::Disconnected);
        refused.Connect(QStringLiteral("127.0.0.1"), FreePort());
        QTRY_COMPARE(refusedError.count(), 1);
        QCOMPARE(refusedError.at(0).at(1).toInt(), int(QAbstractSocket::ConnectionRefusedError));
        QCOMPARE(refusedError.at(0).at(2).toString(), QStringLiteral("Connection refused"));
        QCOMPARE(refused.StateNumber(), int(Socket::Closed));
        QCOMPARE(refusedGone.count(), 0);

        Socket s(3, nullptr);
        QStringList events;
        connect(&s, &Socket::ConnectedEvent, this, [&events] { events << "connected"; });
        connect(&s, &Socket::DataArrival, this, [&events] { events << "data"; });
        connect(&s, &Socket::Error, this, [&](int index, int code, const QString&) {
            QCOMPARE(index, 3);
            QVERIFY(s.IsConnected()); // still up: the handler may name the connection
            events << QStringLiteral("error %1").arg(code);
        });
        connect(&s, &Socket::Disconnected, this, [&events] { events << "disconnected"; });
        s.Connect(QStringLiteral("localhost"), port);
        QCOMPARE(s.StateNumber(), int(Socket::Waiting));
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket* other = server.nextPendingConnection();
        QTRY_VERIFY(s.IsConnected());
        QCOMPARE(s.ConnectionText(), QStringLiteral("127.0.0.1:%1-127.0.0.1:%2").arg(other->peerPort()).arg(port));
        other->write("last words\r\n");
        other->flush();
        other->close();
        QTRY_VERIFY(events.contains("disconnected"));
        QCOMPARE(events, (QStringList{"connected", "data",
                                      QStringLiteral("error %1").arg(int(QAbstractSocket::RemoteHostClosedError)),
                                      "disconnected"}));
        QCOMPARE(s.PeerAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(s.ReadAll(), QByteArray("last words\r\n"));
    }

    // Bounded memory both ways without losing a byte: a flood is read in steps of the buffer limit and
    // arrives whole; a peer that does not read is cut off once the unsent backlog passes its limit.
    void backpressureBothWays()
    {
        Socket listener(0, nullptr), conn(1, nullptr);
        QTcpSocket peer;
        Accepted(listener, conn, peer);

        const QByteArray flood = Pattern(3 * 1024);
        peer.write(flood);
        QByteArray received;
        qint64 most = 0;
        for (int round = 0; round < 20000 && received.size() < flood.size(); ++round) {
            QTest::qWait(1);
            most = qMax(most, conn.BytesAvailable());
            // Read only every other round, so the buffer fills up and reading has to pause and go on.
            if (round % 2)
                received += conn.Read(7000);
        }
        QCOMPARE(most, Socket::kMaxUnread);
        QVERIFY(received == flood);

        QSignalSpy overflow(&conn, &Socket::WriteOverflow);
        const QByteArray chunk = Pattern(64);
        int accepted = 0;
        while (accepted < 2000 && conn.Write(chunk))
            ++accepted;
        QCOMPARE(overflow.count(), 1);
        QCOMPARE(overflow.at(0).at(1).toString(), QStringLiteral("127.0.0.1"));
        QVERIFY(!conn.IsConnected());
    }

    // A handler that runs the event loop (an alarm window does) still hears every connection meanwhile,
    // its own included, and its own is not reported again from inside itself.
    void handlerRunningTheLoopHearsAll()
    {
        Socket listener(0, nullptr), a(1, nullptr), b(2, nullptr);
        QTcpSocket peerA, peerB;
        Accepted(listener, a, peerA);
        disconnect(&listener, &Socket::ConnectionRequest, &a, nullptr);
        Accepted(listener, b, peerB);
        int arrivalsA = 0;
        bool heardB = false;
        connect(&b, &Socket::DataArrival, this, [&heardB] { heardB = true; });
        connect(&a, &Socket::DataArrival, this, [&] {
            if (++arrivalsA > 1)
                return;
            peerB.write("b\r\n");
            peerA.write("more\r\n");
            QTRY_VERIFY(heardB && a.BytesAvailable() == 9);
        });
        peerA.write("a\r\n");
        QTRY_VERIFY(heardB);
        QCOMPARE(arrivalsA, 1);
        QCOMPARE(a.ReadAll(), QByteArray("a\r\nmore\r\n"));
    }

    // A connection closed with bytes still queued sends them all before it ends.
    void closeSendsWhatIsQueued()
    {
        Socket listener(0, nullptr), conn(1, nullptr);
        QTcpSocket peer;
        Accepted(listener, conn, peer);
        const QByteArray chunk = Pattern(16);
        QByteArray sent;
        while (conn.BytesToWrite() == 0) {
            QVERIFY(conn.Write(chunk));
            sent += chunk;
        }
        conn.Close();
        QVERIFY(!conn.IsConnected());
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += peer.readAll(), peer.state() == QAbstractSocket::UnconnectedState), 10000);
        QCOMPARE(got.size(), sent.size());
        QVERIFY(got == sent);
    }
};

QTEST_GUILESS_MAIN(TestSocket)
#include "tst_socket.moc"
