#pragma once

#include <QList>
#include <QString>

// Delivery receipts: the stations tell the server that they have shown an alarm, the server tells the
// station that raised it. A compatible extension of the line protocol: it is offered by a station on the
// downlink, where a server that does not know it reads and drops the line, and it is used only once the
// server has answered the offer. Peers that do not take part see nothing of it.
namespace Receipts {

// The name under which the extension is offered and accepted.
inline const QString kName = QStringLiteral("receipts");

enum class State {
    Waiting, // relayed, no receipt yet
    Shown,   // the station has shown the alarm
    Off,     // the station is set to show nothing ("Visuell" and "Akustisch" off)
    Older,   // the station cannot send receipts
    Missing, // the wait is over without a receipt, or the station left
};

struct Entry
{
    QString address;
    QString name;
    State state = State::Waiting;
};

// "012: receipts": the station's offer, on its downlink. "013: receipts": the server's answer, also there.
QString OfferLine();
QString AcceptLine();
// True when a 012 or 013 line (`code` "012:" or "013:") lists the extension.
bool Lists(const QString& line, const QString& code);

// "014: <raiser address>|1" (shown) or "|0" (set to show nothing), on the uplink.
QString ReceiptLine(const QString& raiser, bool shown);
struct Receipt
{
    bool valid = false;
    QString raiser;
    bool shown = false;
};
Receipt ParseReceipt(const QString& line);
// The raiser's address in a relay line ("005: 10.0.0.4|001: |..."): the text between code and separator.
QString RaiserOf(const QString& relayLine);

// "015: <alarm>|<state>|<address>|<name>" and "016: <alarm>": from the server to the raiser only.
QString StateLine(int alarm, State state, const QString& address, const QString& name);
QString DoneLine(int alarm);
struct Update
{
    bool valid = false;
    int alarm = 0;
    Entry entry;
};
Update ParseStateLine(const QString& line);
int ParseDoneLine(const QString& line); // 0 when it is none

// For the sender window: the count, and the names that need a word. `done`: the wait is over.
QString WindowText(const QList<Entry>& entries, bool done);
// One line for the event logs of the server and of the raiser: the result when the wait is over.
QString LogText(const QList<Entry>& entries);
// One word per state for the status monitor.
QString StateText(State state);

// The raiser's view of the receipts of its latest alarm, built from the 015 and 016 lines.
class Board
{
public:
    enum class Change { None, Updated, Done, Late };

    // This station raises a new alarm: what still arrives about earlier ones is ignored.
    void Forget() { m_ignoreUpTo = qMax(m_ignoreUpTo, m_alarm); }
    Change Apply(const QString& line);
    const QList<Entry>& Entries() const { return m_entries; }
    bool IsDone() const { return m_done; }
    // The entry the last Apply changed.
    const Entry& LastChanged() const { return m_last; }

private:
    int m_alarm = 0;
    int m_ignoreUpTo = 0;
    bool m_done = false;
    QList<Entry> m_entries;
    Entry m_last;
};

} // namespace Receipts
