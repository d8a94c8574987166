#include "net/LineAudit.h"

void LineAudit::Valid(qint64)
{
    m_garbageSince = -1;
}

LineAudit::Verdict LineAudit::Invalid(qint64 now)
{
    if (m_garbageSince < 0)
        m_garbageSince = now;
    else if (now - m_garbageSince >= kGarbageOnlyMs)
        return Verdict::GiveUp;
    if (m_windowStart < 0 || now - m_windowStart >= kMinuteMs) {
        // A new minute; what the last one dropped is reported by TakeDropped before this is called.
        m_windowStart = now;
        m_logged = 0;
    }
    if (m_logged < kLoggedPerMinute) {
        ++m_logged;
        return Verdict::Log;
    }
    ++m_dropped;
    return Verdict::Count;
}

int LineAudit::TakeDropped(qint64 now, bool all)
{
    if (m_dropped == 0 || (!all && now - m_windowStart < kMinuteMs))
        return 0;
    const int n = m_dropped;
    m_dropped = 0;
    return n;
}
