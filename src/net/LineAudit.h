#pragma once

#include <QtGlobal>

// How much of a connection's stray input reaches the event log. Lines that are not part of the protocol
// (unknown codes, binary, over-long lines, codes the role does not act on) are logged a few times a minute
// and then only counted; the count goes into one summary line. A connection that sends nothing but such
// lines for long enough is given up. Times are milliseconds of a monotonic clock.
class LineAudit
{
public:
    static constexpr int kLoggedPerMinute = 3;
    static constexpr qint64 kMinuteMs = 60 * 1000;
    static constexpr qint64 kGarbageOnlyMs = 30 * 1000;

    enum class Verdict {
        Log,    // write it to the event log
        Count,  // only count it for the summary
        GiveUp, // nothing valid for too long while sending: end the connection
    };

    // A valid line: whatever came before it was not a peer that sends only garbage.
    void Valid(qint64 now);
    Verdict Invalid(qint64 now);
    // The lines counted but not logged, once their minute is over (or at once with `all`); the count
    // starts again from zero. 0 when there is nothing to report yet.
    int TakeDropped(qint64 now, bool all = false);
    bool HasDropped() const { return m_dropped > 0; }
    void Reset() { *this = LineAudit(); }

private:
    qint64 m_windowStart = -1;
    int m_logged = 0;
    int m_dropped = 0;
    qint64 m_garbageSince = -1;
};
