#pragma once

#include "net/Receipts.h"

#include <QHash>
#include <QList>
#include <QString>
#include <optional>

namespace Receipts {

// The server's rules for collecting receipts (pure: no sockets, no timers). One collection per raising
// station, keyed by its address: a second alarm from the same station closes the first; alarms from
// different stations collect side by side. Targets are the station slots the alarm was relayed to.
class Collector
{
public:
    struct Target
    {
        int slot = 0;
        Entry entry;
        bool left = false; // its connection ended: whatever its slot says later comes from another station
    };
    struct Alarm
    {
        int number = 0;
        QString raiser;
        QList<Target> targets;
        bool reported = false; // the wait is over and the result was given out

        QList<Entry> Entries() const;
    };
    // A change the raiser is to hear of.
    struct Change
    {
        QString raiser;
        int alarm = 0;
        Entry entry;
        bool late = false; // a receipt after the result was given out
    };

    // An alarm from `raiser` was relayed to `targets` (their initial states: Waiting or Older). Returns the
    // new collection's number; a collection of the same raiser still held is handed back in `closed`.
    int Start(const QString& raiser, const QList<Target>& targets, std::optional<Alarm>* closed = nullptr);
    // A receipt from station slot `slot` for the alarm of `raiser`. Nothing when there is no such
    // collection, the slot is none of its targets, or the receipt changes nothing (a duplicate).
    std::optional<Change> Receive(int slot, const QString& raiser, bool shown);
    // Station slot `slot` has left: wherever it is still awaited it counts as missing.
    QList<Change> StationLeft(int slot);
    // The wait for alarm `number` is over: who is still awaited is missing, and the alarm is marked
    // reported. Nothing when that collection is gone or was reported already.
    std::optional<QList<Change>> Report(int number);
    // The raiser cancelled its alarm or left: its collection is dropped and handed back.
    std::optional<Alarm> End(const QString& raiser);

    const Alarm* Find(const QString& raiser) const;
    const Alarm* FindNumber(int number) const;
    // What station slot `slot` did with the last alarm relayed to it; nothing before the first.
    std::optional<State> LastState(int slot) const;
    int Open() const { return m_alarms.size(); }

private:
    void Remember(int slot, State state);

    int m_next = 0;
    QHash<QString, Alarm> m_alarms;
    QHash<int, State> m_last;
};

} // namespace Receipts
