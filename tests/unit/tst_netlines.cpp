#include "net/LineAudit.h"
#include "net/LineFramer.h"
#include "net/LinkRules.h"
#include "net/Protocol.h"

#include <QTest>

namespace {

using Lines = QList<QByteArray>;
using Events = QList<QPair<qint64, char>>;

// Feeds the chunks one after another and collects every line and overlong count.
LineFramer::Result FeedAll(LineFramer& f, const QList<QByteArray>& chunks)
{
    LineFramer::Result all;
    for (const QByteArray& c : chunks) {
        const auto r = f.Feed(c);
        all.lines += r.lines;
        all.overlong += r.overlong;
    }
    return all;
}

} // namespace

class tst_NetLines : public QObject
{
    Q_OBJECT

private slots:
    void framing_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<Lines>("expected");

        QTest::newRow("merged 005 and 009") << QList<QByteArray>{"005: 10.0.0.1|001: |A|1|0|10.0.0.1\r\n009: x\r\n"}
                                            << Lines{"005: 10.0.0.1|001: |A|1|0|10.0.0.1", "009: x"};
        QTest::newRow("split between CR and LF: no empty line, no LF at the next start")
            << QList<QByteArray>{"006: \r", "\n008: \r", "\n"} << Lines{"006: ", "008: "};
        QTest::newRow("CR only") << QList<QByteArray>{"001: |A|1|1\r002: y\r"} << Lines{"001: |A|1|1", "002: y"};
        QTest::newRow("tail completed later") << QList<QByteArray>{"004: \r\n006", ": \r\n"} << Lines{"004: ", "006: "};
        QTest::newRow("LF alone does not end a line") << QList<QByteArray>{"004: \n006: \r"} << Lines{"004: \n006: "};
        QTest::newRow("empty lines are skipped") << QList<QByteArray>{"\r\n\r\n\r008: \r\n"} << Lines{"008: "};
        QByteArray binary("004:\0\xff\x81\n\x01", 9);
        QTest::newRow("binary bytes stay in the line") << QList<QByteArray>{binary + "\r\n"} << Lines{binary};
        QTest::newRow("byte by byte") << QList<QByteArray>{"0",  "0", "8", ":", " ", "\r",
                                                           "\n", "0", "1", "0", ":", "\r"}
                                      << Lines{"008: ", "010:"};
    }

    void framing()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(Lines, expected);
        LineFramer f;
        const auto r = FeedAll(f, chunks);
        QCOMPARE(r.lines, expected);
        QCOMPARE(r.overlong, 0);
        QCOMPARE(f.PendingBytes(), 0);
    }

    // A line over the limit is dropped up to its CR, once, with memory held at the limit; the stream goes on.
    void framingOversizeTailIsDroppedAndStreamGoesOn()
    {
        LineFramer f;
        QCOMPARE(f.Feed(QByteArray(LineFramer::kMaxTail, 'a') + "\r\n").lines.size(), 1); // the limit is a line
        int overlong = 0;
        for (int i = 0; i < 1024; ++i) {
            const auto r = f.Feed(QByteArray(1024, 'x'));
            overlong += r.overlong;
            QVERIFY(r.lines.isEmpty() && f.PendingBytes() <= LineFramer::kMaxTail);
        }
        QCOMPARE(overlong, 1);
        auto r = f.Feed("yyyy\r\n006: \r\n" + QByteArray(LineFramer::kMaxTail + 1, 'z') + "\r\n008: \r\n");
        QCOMPARE(r.lines, (Lines{"006: ", "008: "}));
        QCOMPARE(r.overlong, 1);
        f.Feed("partial");
        f.Reset();
        QCOMPARE(f.Feed("004: \r").lines, Lines{"004: "});
    }

    void relayLines()
    {
        using namespace Protocol;
        const char* pairs[][2] = {{"004:", "005: "}, {"006:", "007: "}, {"008:", "009: "}, {"010:", "011: "},
                                  {"001:", ""},      {"005:", ""},      {"04: ", ""},      {"004", ""}};
        for (const auto& [code, relay] : pairs)
            QVERIFY2(RelayCodeFor(QLatin1String(code)) == QLatin1String(relay), code);
        QCOMPARE(CodeOf(QStringLiteral("004:x")), QStringLiteral("004:"));
        const QString record =
            StationRecord(RegistrationLine(QStringLiteral("Empfang"), QStringLiteral("1"), QStringLiteral("0")),
                          QStringLiteral("192.168.10.23"));
        QCOMPARE(RelayLine(QStringLiteral("005: "), QStringLiteral("192.168.10.23"), record),
                 QStringLiteral("005: 192.168.10.23|001: |Empfang|1|0|192.168.10.23"));
        QCOMPARE(RelayLine(QStringLiteral("009: "), QStringLiteral("10.1.1.1"), QString()),
                 QStringLiteral("009: 10.1.1.1|")); // a sender without a record
        QCOMPARE(AnnouncedAddress(QStringLiteral("003:  10.0.0.7 \t")), QStringLiteral("10.0.0.7"));
    }

    // A registration is clipped to what every receiver takes as one line; within the limit not a byte changes.
    void registrationClipping_data()
    {
        QTest::addColumn<QString>("registration");
        QTest::addColumn<QString>("stored");
        const QString max(Protocol::kMaxStationName, QLatin1Char('N'));
        const auto r = [](const QString& name) { return "001: |" + name + "|1|0"; };
        QTest::newRow("short name unchanged") << r("Empfang") << r("Empfang");
        QTest::newRow("longest name unchanged") << r(max) << r(max);
        QTest::newRow("long name clipped, flags kept") << r(max + "XYZ") << r(max);
        QTest::newRow("separators in a long name: line clipped")
            << r(max + "|" + max) << ("001: |" + max + "|" + max).left(Protocol::kMaxRegistration);
        QTest::newRow("no fields") << QStringLiteral("001: ") << QStringLiteral("001: ");
    }
    void registrationClipping()
    {
        QFETCH(QString, registration);
        QFETCH(QString, stored);
        QCOMPARE(Protocol::ClipRegistration(registration), stored);
        // Whatever a station sends, the longest relay line made from it fits the receivers' framer.
        const QString relay = Protocol::RelayLine(QStringLiteral("007: "), QStringLiteral("255.255.255.255"),
                                                  Protocol::StationRecord(stored, QStringLiteral("255.255.255.255")));
        QVERIFY(relay.size() + 2 <= LineFramer::kMaxTail);
        // The station itself never sends more than the limit.
        const QString max(Protocol::kMaxStationName, QLatin1Char('N'));
        QCOMPARE(Protocol::RegistrationLine(max + max, QStringLiteral("1"), QStringLiteral("0")),
                 "001: |" + max + "|1|0");
    }

    // The last line of a connection that ends without CR is handled whole.
    void framingFlushAtEnd()
    {
        LineFramer f;
        QCOMPARE(f.Feed("004: \r\n009: x").lines, Lines{"004: "});
        QCOMPARE(f.Flush(), QByteArray("009: x"));
        QCOMPARE(f.Flush(), QByteArray());
        f.Feed("006: \r\n");
        QCOMPARE(f.Flush(), QByteArray());
        f.Feed(QByteArray(LineFramer::kMaxTail + 1, 'x'));
        QCOMPARE(f.Flush(), QByteArray()); // an overlong tail stays dropped
    }

    // 001 answered by 002 keeps the link; one miss repeats the 001, a second one in a row is a dead link.
    void registrationWatch_data()
    {
        QTest::addColumn<QString>("events");   // s = 001 sent, a = 002 arrived, e = answer time over
        QTest::addColumn<QString>("verdicts"); // one per e: n none, r retry, d dead
        const char* rows[][3] = {
            {"answered", "sae", "n"},
            {"one miss, then answered", "sesae", "rn"},
            {"two misses in a row", "sese", "rd"},
            {"misses apart are no death", "sesasese", "rrd"},
            {"answer after the retry went out", "sesa", "r"},
            {"nothing sent", "e", "n"},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString(r[1]) << QString(r[2]);
    }
    void registrationWatch()
    {
        QFETCH(QString, events);
        QFETCH(QString, verdicts);
        using V = LinkRules::RegistrationWatch::Verdict;
        LinkRules::RegistrationWatch w;
        QString got;
        for (QChar c : events) {
            if (c == QLatin1Char('s'))
                w.Sent();
            else if (c == QLatin1Char('a'))
                w.Answered();
            else {
                const V v = w.Expired();
                got += v == V::Dead ? 'd' : v == V::Retry ? 'r' : 'n';
            }
        }
        QCOMPARE(got, verdicts);
    }

    // Only the server opens a station's downlink; refusals are logged once per address and minute.
    void downlinkGuard()
    {
        LinkRules::DownlinkGuard g;
        QVERIFY(!g.Allows(QStringLiteral("10.0.0.1"))); // nothing known yet: nobody
        g.SetUplinkPeer(QStringLiteral("10.0.0.1"));
        g.SetServerAddresses({QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.3")});
        const struct
        {
            const char* peer;
            bool allowed;
        } rows[] = {{"10.0.0.1", true}, {"10.0.0.3", true}, {"10.0.0.4", false}, {"", false}, {"10.0.0.10", false}};
        for (const auto& r : rows)
            QVERIFY2(g.Allows(QLatin1String(r.peer)) == r.allowed, r.peer);

        const QString x = QStringLiteral("10.0.0.9");
        QVERIFY(g.ShouldLog(x, 1000));
        QVERIFY(!g.ShouldLog(x, 1000 + LinkRules::DownlinkGuard::kLogEveryMs - 1));
        QVERIFY(g.ShouldLog(QStringLiteral("10.0.0.8"), 2000));
        QVERIFY(g.ShouldLog(x, 1000 + LinkRules::DownlinkGuard::kLogEveryMs));
    }

    // A station without its server ends only after one notice, never over an alarm or the settings dialog,
    // and not at all once the server is back.
    void lostServerSteps_data()
    {
        QTest::addColumn<bool>("settings");
        QTest::addColumn<bool>("alarm");
        QTest::addColumn<bool>("back");
        QTest::addColumn<bool>("noticed");
        QTest::addColumn<int>("step");
        using S = LinkRules::LostServerStep;
        QTest::newRow("first tick: notice") << false << false << false << false << int(S::Notice);
        QTest::newRow("after the notice: end") << false << false << false << true << int(S::End);
        QTest::newRow("alarm window open: notice all the same") << false << true << false << false << int(S::Notice);
        QTest::newRow("alarm window open after the notice: wait") << false << true << false << true << int(S::Wait);
        QTest::newRow("settings open: wait") << true << false << false << false << int(S::Wait);
        QTest::newRow("server back: stop") << false << false << true << true << int(S::Stop);
        QTest::newRow("server back over an alarm: stop") << false << true << true << false << int(S::Stop);
    }
    void lostServerSteps()
    {
        QFETCH(bool, settings);
        QFETCH(bool, alarm);
        QFETCH(bool, back);
        QFETCH(bool, noticed);
        QFETCH(int, step);
        QCOMPARE(int(LinkRules::NextLostServerStep(settings, alarm, back, noticed)), step);
    }

    // Which received lines a role acts on; everything else is stray input and only logged within a budget.
    void acceptedLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("server: alarm") << "004: " << true << true;
        QTest::newRow("server: code without blank") << "008:x" << true << true;
        QTest::newRow("server: registration") << "001: |A|1|0" << true << true;
        QTest::newRow("server: 003 with address") << "003:  10.0.0.7 " << true << true;
        QTest::newRow("server: 003 with a host name") << "003: example" << true << false;
        QTest::newRow("server: 003 empty") << "003: " << true << false;
        QTest::newRow("server: 003 number too big") << "003: 10.0.0.256" << true << false;
        QTest::newRow("server: 003 three parts") << "003: 10.0.1" << true << false;
        QTest::newRow("server: a relay code") << "005: 10.0.0.1|" << true << false;
        QTest::newRow("server: unknown code") << "123: " << true << false;
        QTest::newRow("server: binary") << QString::fromLatin1("\x01\xff\x80:") << true << false;
        QTest::newRow("station: alarm relay") << "005: 10.0.0.1|" << false << true;
        QTest::newRow("station: training relay") << "011: 10.0.0.1|" << false << true;
        QTest::newRow("station: a station's code") << "004: " << false << false;
        QTest::newRow("server: a receipt, unless its sender offered receipts") << "014: 10.0.0.1|1" << true << false;
        QTest::newRow("station: receipt answer and states") << "015: x" << false << true;
        QTest::newRow("station: the offer is not a downlink line") << "012: receipts" << false << false;
    }
    void acceptedLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, server);
        QFETCH(bool, accepted);
        QCOMPARE(Protocol::IsAccepted(line, server), accepted);
    }

    // One connection's stray lines over time (ms): "i" an invalid line, "v" a valid one, "s" a look for the
    // summary, "e" the end of the connection. The verdicts and summary counts in order: L logged, C counted,
    // G given up, a number a summary.
    void strayLineBudget_data()
    {
        QTest::addColumn<Events>("events");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the first three of a minute logged, the rest counted")
            << Events{{0, 'i'}, {1, 'i'}, {2, 'i'}, {3, 'i'}, {4, 'i'}, {5, 's'}, {6, 'e'}, {7, 'e'}} << "LLLCC020";
        QTest::newRow("the count reported once its minute is over, then a new budget")
            << Events{{0, 'i'},     {1, 'i'},     {2, 'i'},     {3, 'i'},     {4, 'i'},
                      {20000, 'v'}, {60000, 's'}, {60000, 's'}, {60001, 'i'}, {60002, 'i'}}
            << "LLLCC20LL";
        QTest::newRow("valid lines in between keep a busy peer connected")
            << Events{{0, 'i'}, {20000, 'v'}, {29000, 'i'}, {40000, 'v'}, {59000, 'i'}, {70000, 'i'}} << "LLLL";
        QTest::newRow("30 s of nothing but invalid lines: given up")
            << Events{{0, 'i'}, {10000, 'i'}, {29999, 'i'}, {30000, 'i'}} << "LLLG";
    }
    void strayLineBudget()
    {
        QFETCH(Events, events);
        QFETCH(QString, expected);
        LineAudit audit;
        QString got;
        for (const auto& [now, what] : events) {
            if (what == 'v') {
                audit.Valid(now);
            } else if (what == 's' || what == 'e') {
                got += QString::number(audit.TakeDropped(now, what == 'e'));
            } else {
                const LineAudit::Verdict v = audit.Invalid(now);
                got += v == LineAudit::Verdict::Log ? 'L' : v == LineAudit::Verdict::Count ? 'C' : 'G';
            }
        }
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(tst_NetLines)
#include "tst_netlines.moc"
