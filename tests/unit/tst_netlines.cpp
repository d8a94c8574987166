#include "net/LineAudit.h"
#include "net/LineFramer.h"
#include "net/LinkRules.h"
#include "net/Protocol.h"

#include <QTest>

namespace {

using Lines = QList<QByteArray>;

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
    // Lines end at CR, an LF right after it included; empty lines are skipped; a line over the limit is
    // dropped up to its CR, once, with memory held at the limit, and the stream goes on.
    void framing()
    {
        const QByteArray binary("004:\0\xff\x81\n\x01", 9);
        const QByteArray limit(LineFramer::kMaxTail, 'a');
        const QByteArray over = limit + 'z';
        const QByteArray relay = "005: 10.0.0.1|001: |A|1|0|10.0.0.1";
        const struct
        {
            const char* name;
            QList<QByteArray> chunks;
            Lines expected;
            int overlong;
        } rows[] = {
            {"merged", {relay + "\r\n009: x\r\n"}, {relay, "009: x"}, 0},
            {"split between CR and LF", {"006: \r", "\n008: \r", "\n"}, {"006: ", "008: "}, 0},
            {"CR only", {"001: |A|1|1\r002: y\r"}, {"001: |A|1|1", "002: y"}, 0},
            {"empty lines skipped", {"\r\n\r\n\r008: \r\n"}, {"008: "}, 0},
            {"binary bytes and a lone LF kept", {binary + "\r\n"}, {binary}, 0},
            {"byte by byte", {"0", "0", "8", ":", " ", "\r", "\n", "0", "1", "0", ":", "\r"}, {"008: ", "010:"}, 0},
            {"the limit is a line", {limit + "\r\n"}, {limit}, 0},
            {"overlong dropped", {"006: \r\n" + over, "\r\n008: \r\n"}, {"006: ", "008: "}, 1},
        };
        for (const auto& r : rows) {
            LineFramer f;
            const auto got = FeedAll(f, r.chunks);
            QVERIFY2(got.lines == r.expected && got.overlong == r.overlong && f.PendingBytes() == 0, r.name);
        }

        // Memory stays at the limit however long a line without end goes on.
        LineFramer f;
        QCOMPARE(FeedAll(f, {over, over, over}).overlong, 1);
        QVERIFY(f.PendingBytes() <= LineFramer::kMaxTail);
        f.Feed("\r\npartial");
        f.Reset();
        QCOMPARE(f.Feed("004: \r").lines, Lines{"004: "});

        // The last line of a connection that ends without CR is handled whole; an overlong tail stays dropped.
        QCOMPARE(f.Feed("004: \r\n009: x").lines, Lines{"004: "});
        QCOMPARE(f.Flush(), QByteArray("009: x"));
        QCOMPARE(f.Flush(), QByteArray());
        f.Feed(over);
        QCOMPARE(f.Flush(), QByteArray());
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

        // A registration is clipped to what every receiver takes as one line; within the limit not a byte changes.
        const QString max(Protocol::kMaxStationName, QLatin1Char('N'));
        const auto r = [](const QString& name) { return "001: |" + name + "|1|0"; };
        const QString clips[][2] = {
            {r("Empfang"), r("Empfang")},
            {r(max), r(max)},
            {r(max + "XYZ"), r(max)}, // flags kept
            {r(max + "|" + max), ("001: |" + max + "|" + max).left(Protocol::kMaxRegistration)},
            {QStringLiteral("001: "), QStringLiteral("001: ")},
        };
        for (const auto& [registration, stored] : clips) {
            QCOMPARE(Protocol::ClipRegistration(registration), stored);
            // Whatever a station sends, the longest relay line made from it fits the receivers' framer.
            const QString relay =
                Protocol::RelayLine(QStringLiteral("007: "), QStringLiteral("255.255.255.255"),
                                    Protocol::StationRecord(stored, QStringLiteral("255.255.255.255")));
            QVERIFY(relay.size() + 2 <= LineFramer::kMaxTail);
        }
        // The station itself never sends more than the limit.
        QCOMPARE(Protocol::RegistrationLine(max + max, QStringLiteral("1"), QStringLiteral("0")), r(max));
    }

    // 001 answered by 002 keeps the link; one miss repeats the 001, a second one in a row is a dead link.
    void linkRules()
    {
        // s = 001 sent, a = 002 arrived, e = answer time over; one verdict per e: n none, r retry, d dead
        const char* rows[][2] = {
            {"sae", "n"}, {"sesae", "rn"}, {"sese", "rd"}, {"sesasese", "rrd"}, {"sesa", "r"}, {"e", "n"},
        };
        using V = LinkRules::RegistrationWatch::Verdict;
        for (const auto& [events, verdicts] : rows) {
            LinkRules::RegistrationWatch w;
            QString got;
            for (const char* c = events; *c; ++c) {
                if (*c == 's') {
                    w.Sent();
                } else if (*c == 'a') {
                    w.Answered();
                } else {
                    const V v = w.Expired();
                    got += v == V::Dead ? 'd' : v == V::Retry ? 'r' : 'n';
                }
            }
            QVERIFY2(got == QLatin1String(verdicts), events);
        }

        // Only the server opens a station's downlink; refusals are logged once per address and minute.
        LinkRules::DownlinkGuard g;
        QVERIFY(!g.Allows(QStringLiteral("10.0.0.1"))); // nothing known yet: nobody
        g.SetUplinkPeer(QStringLiteral("10.0.0.1"));
        g.SetServerAddresses({QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.3")});
        for (const char* peer : {"10.0.0.1", "10.0.0.3"})
            QVERIFY2(g.Allows(QLatin1String(peer)), peer);
        for (const char* peer : {"10.0.0.4", "", "10.0.0.10"})
            QVERIFY2(!g.Allows(QLatin1String(peer)), peer);

        const QString x = QStringLiteral("10.0.0.9");
        QVERIFY(g.ShouldLog(x, 1000));
        QVERIFY(!g.ShouldLog(x, 1000 + LinkRules::DownlinkGuard::kLogEveryMs - 1));
        QVERIFY(g.ShouldLog(QStringLiteral("10.0.0.8"), 2000));
        QVERIFY(g.ShouldLog(x, 1000 + LinkRules::DownlinkGuard::kLogEveryMs));
    }

    // A station without its server ends only after one notice, never over an alarm or the settings dialog,
    // and not at all once the server is back.
    void lostServerSteps()
    {
        using S = LinkRules::LostServerStep;
        const struct
        {
            bool settings, alarm, back, noticed;
            S step;
        } rows[] = {
            {false, false, false, false, S::Notice}, {false, false, false, true, S::End},
            {false, true, false, false, S::Notice},  {false, true, false, true, S::Wait},
            {true, false, false, false, S::Wait},    {false, false, true, true, S::Stop},
            {false, true, true, false, S::Stop},
        };
        for (const auto& r : rows)
            QVERIFY2(LinkRules::NextLostServerStep(r.settings, r.alarm, r.back, r.noticed) == r.step,
                     qPrintable(QStringLiteral("%1%2%3%4").arg(r.settings).arg(r.alarm).arg(r.back).arg(r.noticed)));

        // Which received lines a role acts on; everything else is stray input and only logged within a budget.
        const struct
        {
            bool server, accepted;
            QList<QByteArray> lines;
        } roles[] = {
            {true, true, {"004: ", "008:x", "001: |A|1|0", "003:  10.0.0.7 "}},
            // a receipt is stray unless its sender offered receipts
            {true,
             false,
             {"003: example", "003: ", "003: 10.0.0.256", "003: 10.0.1", "005: 10.0.0.1|",
              "123: ", "\x01\xff\x80:", "014: 10.0.0.1|1"}},
            {false, true, {"005: 10.0.0.1|", "011: 10.0.0.1|", "015: x"}},
            {false, false, {"004: ", "012: receipts"}}, // the offer is no downlink line
        };
        for (const auto& r : roles)
            for (const QByteArray& line : r.lines)
                QVERIFY2(Protocol::IsAccepted(QString::fromLatin1(line), r.server) == r.accepted, line.constData());
    }

    // One connection's stray lines over time, "<ms><what>" each: "i" an invalid line, "v" a valid one, "s" a look
    // for the summary, "e" the end of the connection. The verdicts and summary counts in order: L logged,
    // C counted, G given up, a number a summary.
    void strayLineBudget()
    {
        const char* rows[][2] = {
            // the first three of a minute logged, the rest counted
            {"0i 1i 2i 3i 4i 5s 6e 7e", "LLLCC020"},
            // the count reported once its minute is over, then a new budget
            {"0i 1i 2i 3i 4i 20000v 60000s 60000s 60001i 60002i", "LLLCC20LL"},
            // valid lines in between keep a busy peer connected
            {"0i 20000v 29000i 40000v 59000i 70000i", "LLLL"},
            // 30 s of nothing but invalid lines: given up
            {"0i 10000i 29999i 30000i", "LLLG"},
        };
        for (const auto& [events, expected] : rows) {
            LineAudit audit;
            QString got;
            for (const QString& e : QString::fromLatin1(events).split(QLatin1Char(' '))) {
                const qint64 now = e.chopped(1).toLongLong();
                const QChar what = e.back();
                if (what == QLatin1Char('v')) {
                    audit.Valid(now);
                } else if (what == QLatin1Char('s') || what == QLatin1Char('e')) {
                    got += QString::number(audit.TakeDropped(now, what == QLatin1Char('e')));
                } else {
                    const LineAudit::Verdict v = audit.Invalid(now);
                    got += v == LineAudit::Verdict::Log ? 'L' : v == LineAudit::Verdict::Count ? 'C' : 'G';
                }
            }
            QVERIFY2(got == QLatin1String(expected), events);
        }
    }
};

QTEST_GUILESS_MAIN(tst_NetLines)
#include "tst_netlines.moc"
