#include "net/ReceiptCollector.h"

namespace Receipts {

QList<Entry> Collector::Alarm::Entries() const
{
    QList<Entry> entries;
    entries.reserve(targets.size());
    for (const Target& t : targets)
        entries << t.entry;
    return entries;
}

int Collector::Start(const QString& raiser, const QList<Target>& targets, std::optional<Alarm>* closed)
{
    std::optional<Alarm> previous = End(raiser);
    if (closed)
        *closed = previous;
    Alarm a;
    a.number = ++m_next;
    a.raiser = raiser;
    a.targets = targets;
    for (const Target& t : targets)
        Remember(t.slot, t.entry.state);
    m_alarms.insert(raiser, a);
    return a.number;
}

std::optional<Collector::Change> Collector::Receive(int slot, const QString& raiser, bool shown)
{
    auto it = m_alarms.find(raiser);
    if (it == m_alarms.end())
        return std::nullopt;
    for (Target& t : it->targets) {
        if (t.slot != slot || t.left)
            continue;
        // A station that could not answer when the alarm went out has nothing to say now; one that
        // answered stays with its first answer, so a repeated receipt changes nothing.
        if (t.entry.state != State::Waiting && t.entry.state != State::Missing)
            return std::nullopt;
        const bool late = t.entry.state == State::Missing;
        t.entry.state = shown ? State::Shown : State::Off;
        Remember(slot, t.entry.state);
        return Change{raiser, it->number, t.entry, late};
    }
    return std::nullopt;
}

QList<Collector::Change> Collector::StationLeft(int slot)
{
    QList<Change> changes;
    for (Alarm& a : m_alarms) {
        for (Target& t : a.targets) {
            if (t.slot != slot || t.left)
                continue;
            t.left = true;
            if (t.entry.state == State::Waiting) {
                t.entry.state = State::Missing;
                Remember(slot, State::Missing);
                changes << Change{a.raiser, a.number, t.entry, false};
            }
        }
    }
    return changes;
}

std::optional<QList<Collector::Change>> Collector::Report(int number)
{
    for (Alarm& a : m_alarms) {
        if (a.number != number)
            continue;
        if (a.reported)
            return std::nullopt;
        a.reported = true;
        QList<Change> changes;
        for (Target& t : a.targets) {
            if (t.entry.state == State::Waiting) {
                t.entry.state = State::Missing;
                Remember(t.slot, State::Missing);
                changes << Change{a.raiser, a.number, t.entry, false};
            }
        }
        return changes;
    }
    return std::nullopt;
}

std::optional<Collector::Alarm> Collector::End(const QString& raiser)
{
    auto it = m_alarms.find(raiser);
    if (it == m_alarms.end())
        return std::nullopt;
    Alarm a = *it;
    m_alarms.erase(it);
    return a;
}

const Collector::Alarm* Collector::Find(const QString& raiser) const
{
    auto it = m_alarms.constFind(raiser);
    return it == m_alarms.cend() ? nullptr : &*it;
}

const Collector::Alarm* Collector::FindNumber(int number) const
{
    for (const Alarm& a : m_alarms)
        if (a.number == number)
            return &a;
    return nullptr;
}

std::optional<State> Collector::LastState(int slot) const
{
    auto it = m_last.constFind(slot);
    if (it == m_last.cend())
        return std::nullopt;
    return *it;
}

void Collector::Remember(int slot, State state)
{
    m_last.insert(slot, state);
}

} // namespace Receipts
