#include "net/ReceiptCollector.h"
#include "net/Receipts.h"

#include <QTest>

using Receipts::Collector;
using Receipts::Entry;
using Receipts::State;

namespace {

Collector::Target T(int slot, State state = State::Waiting)
{
    return {slot, {QStringLiteral("10.0.0.%1").arg(slot), QStringLiteral("S%1").arg(slot), state}};
}

// The states of a collection's targets as one text, "S2=shown S3=missing".
QString States(const Collector& c, const QString& raiser)
{
    const Collector::Alarm* a = c.Find(raiser);
    if (!a)
        return QStringLiteral("none");
    QStringList parts;
    for (const Collector::Target& t : a->targets)
        parts << t.entry.name + QLatin1Char('=') + Receipts::StateLine(1, t.entry.state, {}, {}).section('|', 1, 1);
    return parts.join(QLatin1Char(' '));
}

const QString A = QStringLiteral("10.0.0.1");
const QString B = QStringLiteral("10.0.0.9");

} // namespace

class tst_Receipts : public QObject
{
    Q_OBJECT
private slots:
    void collectionRules();
    void secondAlarms();
    void lines();
    void raiserBoard();
    void texts();
};

// Steps, one a word: "r<slot><1|0>" receipt for A's alarm, "l<slot>" station left, "f" the wait is over.
// "told" is what the raiser hears, in order: slot, state and "late".
void tst_Receipts::collectionRules()
{
    const char* rows[][3] = {
        {"r21 r30", "S2=shown S3=off S4=wait S5=old", "2shown 3off"},
        {"r21 r21 r20", "S2=shown S3=wait S4=wait S5=old", "2shown"}, // a duplicate changes nothing
        {"r71 r51", "S2=wait S3=wait S4=wait S5=old", ""},            // not a target, older station
        {"r21 f", "S2=shown S3=missing S4=missing S5=old", "2shown 3missing 4missing"},
        {"f r31 r31", "S2=missing S3=shown S4=missing S5=old", "2missing 3missing 4missing 3shown-late"},
        {"l3 r31 f", "S2=missing S3=missing S4=missing S5=old", "3missing 2missing 4missing"},
        {"r31 l3", "S2=wait S3=shown S4=wait S5=old", "3shown"},
    };
    for (const auto& [steps, states, expected] : rows) {
        Collector c;
        const int number = c.Start(A, {T(2), T(3), T(4), T(5, State::Older)});
        QStringList told;
        auto note = [&told](const Collector::Change& ch) {
            told << ch.entry.name.mid(1) + Receipts::StateLine(1, ch.entry.state, {}, {}).section('|', 1, 1) +
                        (ch.late ? QStringLiteral("-late") : QString());
        };
        for (const QString& step : QString(steps).split(QLatin1Char(' '))) {
            if (step.startsWith(QLatin1Char('r'))) {
                if (auto ch = c.Receive(step.mid(1, 1).toInt(), A, step.endsWith(QLatin1Char('1'))))
                    note(*ch);
            } else if (step.startsWith(QLatin1Char('l'))) {
                for (const auto& ch : c.StationLeft(step.mid(1).toInt()))
                    note(ch);
            } else if (step == QLatin1String("f")) {
                const auto changes = c.Report(number);
                for (const auto& ch : changes.value())
                    note(ch);
            }
        }
        QVERIFY2(States(c, A) == QLatin1String(states), steps);
        QVERIFY2(told.join(QLatin1Char(' ')) == QLatin1String(expected), steps);
    }
}

void tst_Receipts::secondAlarms()
{
    Collector c;
    const int first = c.Start(A, {T(2), T(3)});
    // Another raiser collects side by side; a receipt names the raiser it is for.
    const int other = c.Start(B, {T(2), T(3)});
    QVERIFY(c.Receive(2, B, true));
    QCOMPARE(States(c, A), QStringLiteral("S2=wait S3=wait"));
    QCOMPARE(States(c, B), QStringLiteral("S2=shown S3=wait"));
    QCOMPARE(c.LastState(2), std::optional<State>(State::Shown));

    // The same raiser again: its first collection is closed and handed back as it stood.
    std::optional<Collector::Alarm> closed;
    const int again = c.Start(A, {T(2), T(3), T(4)}, &closed);
    QVERIFY(closed && closed->number == first && !closed->reported);
    QVERIFY(again > other);
    QCOMPARE(States(c, A), QStringLiteral("S2=wait S3=wait S4=wait"));
    QVERIFY(!c.Report(first)); // gone
    QVERIFY(c.Report(again));
    QVERIFY(!c.Report(again)); // once
    QCOMPARE(c.Open(), 2);

    // A cancel ends it; receipts after that go nowhere.
    QVERIFY(c.End(A));
    QVERIFY(!c.Receive(3, A, true));
    QCOMPARE(c.Open(), 1);
    QVERIFY(!c.LastState(9));
}

void tst_Receipts::lines()
{
    // What the parsers make of a line, or "-".
    const char* rows[][2] = {
        {"012: receipts", "lists"},
        {"012: zoom|receipts", "lists"},
        {"012: receiptsV2", "-"},
        {"014: 10.0.0.4|1", "10.0.0.4 shown"},
        {"014: 10.0.0.4|0", "10.0.0.4 off"},
        {"014: 10.0.0.4|2", "-"},
        {"014: |1", "-"},
        {"015: 7|shown|10.0.0.5|Bett|4", "7 shown 10.0.0.5 Bett|4"},
        {"015: 7|asleep|10.0.0.5|B", "-"},
        {"016: 7", "done 7"},
        {"016: x", "-"},
    };
    for (const auto& [text, expected] : rows) {
        const QString line = QString::fromLatin1(text);
        QString parsed = QStringLiteral("-");
        const QString code = line.left(4);
        if ((code == QLatin1String("012:") || code == QLatin1String("013:")) && Receipts::Lists(line, code))
            parsed = QStringLiteral("lists");
        if (const Receipts::Receipt r = Receipts::ParseReceipt(line); r.valid)
            parsed = r.raiser + (r.shown ? QStringLiteral(" shown") : QStringLiteral(" off"));
        if (const Receipts::Update u = Receipts::ParseStateLine(line); u.valid) {
            parsed =
                QStringLiteral("%1 %2 %3 %4").arg(u.alarm).arg(line.section('|', 1, 1), u.entry.address, u.entry.name);
            QCOMPARE(Receipts::StateLine(u.alarm, u.entry.state, u.entry.address, u.entry.name), line);
        }
        if (const int done = Receipts::ParseDoneLine(line))
            parsed = QStringLiteral("done %1").arg(done);
        QVERIFY2(parsed == QLatin1String(expected), text);
    }
    // What the program sends reads back.
    QVERIFY(Receipts::Lists(Receipts::OfferLine(), QStringLiteral("012:")));
    QCOMPARE(Receipts::ParseReceipt(Receipts::ReceiptLine(A, true)).raiser, A);
    QCOMPARE(Receipts::RaiserOf(QStringLiteral("005: 10.0.0.4|001: |A|1|0|10.0.0.4")), QStringLiteral("10.0.0.4"));
}

void tst_Receipts::raiserBoard()
{
    using Change = Receipts::Board::Change;
    Receipts::Board b;
    QCOMPARE(b.Apply(QStringLiteral("015: 3|wait|10.0.0.2|B")), Change::Updated);
    QCOMPARE(b.Apply(QStringLiteral("015: 3|shown|10.0.0.2|B")), Change::Updated);
    QCOMPARE(b.Apply(QStringLiteral("015: 3|shown|10.0.0.2|B")), Change::None);
    QCOMPARE(b.Apply(QStringLiteral("015: 3|wait|10.0.0.3|C")), Change::Updated);
    QCOMPARE(b.Apply(QStringLiteral("016: 2")), Change::None); // not this alarm
    QCOMPARE(b.Apply(QStringLiteral("015: 3|missing|10.0.0.3|C")), Change::Updated);
    QCOMPARE(b.Apply(QStringLiteral("016: 3")), Change::Done);
    QCOMPARE(b.Apply(QStringLiteral("016: 3")), Change::None);
    QCOMPARE(b.Apply(QStringLiteral("015: 3|shown|10.0.0.3|C")), Change::Late);
    QCOMPARE(b.Entries().size(), 2);

    // A new alarm of this station: the rest of the old one is ignored, the new one starts empty.
    b.Forget();
    QCOMPARE(b.Apply(QStringLiteral("015: 3|missing|10.0.0.4|D")), Change::None);
    QCOMPARE(b.Apply(QStringLiteral("016: 3")), Change::None);
    QCOMPARE(b.Apply(QStringLiteral("015: 5|wait|10.0.0.4|D")), Change::Updated);
    QCOMPARE(b.Entries().size(), 1);
    QVERIFY(!b.IsDone());
    QCOMPARE(b.Apply(QStringLiteral("015: 4|shown|10.0.0.2|B")), Change::None); // older than the current
}

void tst_Receipts::texts()
{
    // One letter per station S1, S2, ...: w s o v m; whether the wait is over; the window's and the log's text.
    const struct
    {
        QString states;
        bool done;
        const char* window;
        const char* log;
    } rows[] = {
        {"ssowvm", false,
         "Alarm wird angezeigt auf 2 von 4 Stationen\nBestätigt: S1, S2\nKeine Anzeige eingestellt: S3\n"
         "Ohne Rückmeldung (ältere Version): S5",
         "Rückmeldung: Alarm angezeigt auf 2 von 4 Stationen / nicht bestätigt: S4, S6 / "
         "keine Anzeige eingestellt: S3 / ohne Rückmeldung (ältere Version): S5"},
        {"swm", true, "Alarm wird angezeigt auf 1 von 3 Stationen\nBestätigt: S1\nNicht bestätigt: S2, S3",
         "Rückmeldung: Alarm angezeigt auf 1 von 3 Stationen / nicht bestätigt: S2, S3"},
        {"s", true, "Alarm wird angezeigt auf 1 von 1 Station\nBestätigt: S1",
         "Rückmeldung: Alarm angezeigt auf 1 von 1 Station"},
        {"", true, "Alarm wird angezeigt auf 0 von 0 Stationen", "Rückmeldung: Alarm angezeigt auf 0 von 0 Stationen"},
        {QString(15, QLatin1Char('m')), true,
         "Alarm wird angezeigt auf 0 von 15 Stationen\nNicht bestätigt: S1, S2, S3, S4, S5, S6, S7, S8, S9, S10, S11, "
         "S12 und 3 weitere",
         "Rückmeldung: Alarm angezeigt auf 0 von 15 Stationen / nicht bestätigt: S1, S2, S3, S4, S5, S6, S7, S8, S9, "
         "S10, S11, S12, S13, S14, S15"},
    };
    const QHash<QChar, State> kinds = {
        {'w', State::Waiting}, {'s', State::Shown}, {'o', State::Off}, {'v', State::Older}, {'m', State::Missing}};
    for (const auto& r : rows) {
        QList<Entry> entries;
        for (int i = 0; i < r.states.size(); ++i)
            entries << Entry{QStringLiteral("10.0.0.%1").arg(i + 1), QStringLiteral("S%1").arg(i + 1),
                             kinds[r.states[i]]};
        QCOMPARE(Receipts::WindowText(entries, r.done), QString::fromUtf8(r.window));
        QCOMPARE(Receipts::LogText(entries), QString::fromUtf8(r.log));
    }
}

QTEST_GUILESS_MAIN(tst_Receipts)
#include "tst_receipts.moc"
