#include "net/Receipts.h"

#include "net/Protocol.h"

#include <QStringList>

namespace Receipts {

namespace {

struct StateName
{
    State state;
    const char* wire;
    const char* text;
};
const StateName kStates[] = {
    {State::Waiting, "wait", "wartet"},
    {State::Shown, "shown", "angezeigt"},
    {State::Off, "off", "keine Anzeige eingestellt"},
    {State::Older, "old", "ältere Version"},
    {State::Missing, "missing", "nicht bestätigt"},
};

// The window lists this many names per kind; the log lists them all.
constexpr int kWindowNames = 12;

QString Names(const QList<Entry>& entries, State state, int limit)
{
    QStringList names;
    int more = 0;
    for (const Entry& e : entries) {
        if (e.state != state)
            continue;
        if (limit > 0 && names.size() >= limit)
            ++more;
        else
            names << (e.name.isEmpty() ? e.address : e.name);
    }
    QString text = names.join(QStringLiteral(", "));
    if (more > 0)
        text += QStringLiteral(" und %1 weitere").arg(more);
    return text;
}

int Count(const QList<Entry>& entries, State state)
{
    int n = 0;
    for (const Entry& e : entries)
        n += e.state == state ? 1 : 0;
    return n;
}

// Stations that ought to confirm: all but those set to show nothing and those that cannot.
int Expected(const QList<Entry>& entries)
{
    return entries.size() - Count(entries, State::Off) - Count(entries, State::Older);
}

QString Stations(int n)
{
    return n == 1 ? QStringLiteral("Station") : QStringLiteral("Stationen");
}

// When the wait is over, whoever is still awaited has not confirmed.
QList<Entry> Settled(QList<Entry> entries)
{
    for (Entry& e : entries)
        if (e.state == State::Waiting)
            e.state = State::Missing;
    return entries;
}

QString Payload(const QString& line)
{
    return line.mid(4).trimmed();
}

} // namespace

QString OfferLine()
{
    return QStringLiteral("012: ") + kName;
}

QString AcceptLine()
{
    return QStringLiteral("013: ") + kName;
}

bool Lists(const QString& line, const QString& code)
{
    return Protocol::CodeOf(line) == code && Payload(line).split(Protocol::kSeparator).contains(kName);
}

QString ReceiptLine(const QString& raiser, bool shown)
{
    return QStringLiteral("014: ") + raiser + Protocol::kSeparator +
           (shown ? QStringLiteral("1") : QStringLiteral("0"));
}

Receipt ParseReceipt(const QString& line)
{
    Receipt r;
    const QStringList f = Payload(line).split(Protocol::kSeparator);
    if (Protocol::CodeOf(line) != QLatin1String("014:") || f.size() != 2 || f[0].isEmpty() ||
        (f[1] != QLatin1String("1") && f[1] != QLatin1String("0")))
        return r;
    r.valid = true;
    r.raiser = f[0];
    r.shown = f[1] == QLatin1String("1");
    return r;
}

QString RaiserOf(const QString& relayLine)
{
    return relayLine.mid(4).section(Protocol::kSeparator, 0, 0).trimmed();
}

QString StateLine(int alarm, State state, const QString& address, const QString& name)
{
    QString wire;
    for (const StateName& s : kStates)
        if (s.state == state)
            wire = QLatin1String(s.wire);
    return QStringLiteral("015: ") + QString::number(alarm) + Protocol::kSeparator + wire + Protocol::kSeparator +
           address + Protocol::kSeparator + name;
}

QString DoneLine(int alarm)
{
    return QStringLiteral("016: ") + QString::number(alarm);
}

Update ParseStateLine(const QString& line)
{
    Update u;
    if (Protocol::CodeOf(line) != QLatin1String("015:"))
        return u;
    QString payload = line.mid(4);
    if (payload.startsWith(QLatin1Char(' ')))
        payload.remove(0, 1);
    // The name comes last and keeps any separator it holds.
    const QStringList f = payload.split(Protocol::kSeparator);
    if (f.size() < 4)
        return u;
    bool ok = false;
    u.alarm = f[0].toInt(&ok);
    if (!ok || u.alarm <= 0)
        return u;
    for (const StateName& s : kStates) {
        if (f[1] == QLatin1String(s.wire)) {
            u.entry.state = s.state;
            u.valid = true;
        }
    }
    u.entry.address = f[2];
    u.entry.name = payload.section(Protocol::kSeparator, 3);
    return u;
}

int ParseDoneLine(const QString& line)
{
    if (Protocol::CodeOf(line) != QLatin1String("016:"))
        return 0;
    bool ok = false;
    const int alarm = Payload(line).toInt(&ok);
    return ok && alarm > 0 ? alarm : 0;
}

QString WindowText(const QList<Entry>& shown, bool done)
{
    const QList<Entry> entries = done ? Settled(shown) : shown;
    const int expected = Expected(entries);
    QStringList lines;
    lines << QStringLiteral("Alarm wird angezeigt auf %1 von %2 %3")
                 .arg(Count(entries, State::Shown))
                 .arg(expected)
                 .arg(Stations(expected));
    if (Count(entries, State::Shown) > 0)
        lines << QStringLiteral("Bestätigt: ") + Names(entries, State::Shown, kWindowNames);
    if (done && Count(entries, State::Missing) > 0)
        lines << QStringLiteral("Nicht bestätigt: ") + Names(entries, State::Missing, kWindowNames);
    if (Count(entries, State::Off) > 0)
        lines << QStringLiteral("Keine Anzeige eingestellt: ") + Names(entries, State::Off, kWindowNames);
    if (Count(entries, State::Older) > 0)
        lines << QStringLiteral("Ohne Rückmeldung (ältere Version): ") + Names(entries, State::Older, kWindowNames);
    return lines.join(QLatin1Char('\n'));
}

QString LogText(const QList<Entry>& entries)
{
    // The event log separates its columns with semicolons: the parts here use " / ".
    const QList<Entry> final = Settled(entries);
    const int expected = Expected(final);
    QStringList parts;
    parts << QStringLiteral("Rückmeldung: Alarm angezeigt auf %1 von %2 %3")
                 .arg(Count(final, State::Shown))
                 .arg(expected)
                 .arg(Stations(expected));
    const struct
    {
        State state;
        const char* label;
    } kinds[] = {{State::Missing, "nicht bestätigt: "},
                 {State::Off, "keine Anzeige eingestellt: "},
                 {State::Older, "ohne Rückmeldung (ältere Version): "}};
    for (const auto& k : kinds)
        if (Count(final, k.state) > 0)
            parts << QString::fromUtf8(k.label) + Names(final, k.state, 0);
    return parts.join(QStringLiteral(" / "));
}

QString StateText(State state)
{
    for (const StateName& s : kStates)
        if (s.state == state)
            return QString::fromUtf8(s.text);
    return QString();
}

Board::Change Board::Apply(const QString& line)
{
    if (const int done = ParseDoneLine(line)) {
        if (done != m_alarm || done <= m_ignoreUpTo || m_done)
            return Change::None;
        m_done = true;
        return Change::Done;
    }
    const Update u = ParseStateLine(line);
    if (!u.valid || u.alarm <= m_ignoreUpTo || u.alarm < m_alarm)
        return Change::None;
    if (u.alarm > m_alarm) {
        m_alarm = u.alarm;
        m_done = false;
        m_entries.clear();
    }
    m_last = u.entry;
    for (Entry& e : m_entries) {
        if (e.address != u.entry.address || e.name != u.entry.name)
            continue;
        if (e.state == u.entry.state)
            return Change::None;
        e.state = u.entry.state;
        return m_done && e.state == State::Shown ? Change::Late : Change::Updated;
    }
    m_entries.append(u.entry);
    return Change::Updated;
}

} // namespace Receipts
