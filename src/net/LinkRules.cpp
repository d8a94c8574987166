#include "net/LinkRules.h"

namespace LinkRules {

RegistrationWatch::Verdict RegistrationWatch::Expired()
{
    if (!m_waiting)
        return Verdict::None;
    m_waiting = false;
    return ++m_misses >= 2 ? Verdict::Dead : Verdict::Retry;
}

bool DownlinkGuard::Allows(const QString& peer) const
{
    if (peer.isEmpty())
        return false;
    return peer == m_uplinkPeer || m_resolved.contains(peer);
}

bool DownlinkGuard::ShouldLog(const QString& peer, qint64 nowMs)
{
    const auto it = m_lastLogged.constFind(peer);
    if (it != m_lastLogged.constEnd() && nowMs - it.value() < kLogEveryMs)
        return false;
    m_lastLogged.insert(peer, nowMs);
    return true;
}

LostServerStep NextLostServerStep(bool settingsOpen, bool alarmWindowOpen, bool serverBack, bool noticeShown)
{
    if (serverBack)
        return LostServerStep::Stop;
    if (settingsOpen)
        return LostServerStep::Wait;
    if (!noticeShown)
        return LostServerStep::Notice;
    return alarmWindowOpen ? LostServerStep::Wait : LostServerStep::End;
}

} // namespace LinkRules
