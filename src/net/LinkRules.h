#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The rules by which a station judges its link to the server, kept free of sockets and timers so that
// they can be checked on their own.
namespace LinkRules {

// The server answers every registration (001) with a 002. A station whose registration stays unanswered
// is talking to a server that no longer works, even when its connections still look fine (a hung
// program). One miss may be a downlink that came up late, so the registration is repeated once first.
class RegistrationWatch
{
public:
    // How long a registration may wait for its answer.
    static constexpr int kAnswerMs = 5000;
    enum class Verdict { None, Retry, Dead };

    // A registration went out; the answer is awaited from now on.
    void Sent() { m_waiting = true; }
    // A 002 arrived: the server works.
    void Answered()
    {
        m_waiting = false;
        m_misses = 0;
    }
    // The answer time is over: nothing when the answer came, else repeat once, then the link is dead.
    Verdict Expired();
    void Reset() { Answered(); }
    bool Waiting() const { return m_waiting; }

private:
    bool m_waiting = false;
    int m_misses = 0;
};

// Only the server may open a station's downlink: any other host on the network could otherwise show an
// alarm or make the station drop its link. Its addresses are the peer of the uplink and whatever the
// setting "Servername" resolves to.
class DownlinkGuard
{
public:
    // A refused host is written to the event log at most once a minute.
    static constexpr qint64 kLogEveryMs = 60000;

    void SetUplinkPeer(const QString& address) { m_uplinkPeer = address; }
    void SetServerAddresses(const QStringList& addresses) { m_resolved = addresses; }
    bool Allows(const QString& peer) const;
    // True when a refusal of `peer` at `nowMs` is to be logged.
    bool ShouldLog(const QString& peer, qint64 nowMs);

private:
    QString m_uplinkPeer;
    QStringList m_resolved;
    QHash<QString, qint64> m_lastLogged;
};

// What a station that lost its server for good (no reconnecting) does on the next tick.
enum class LostServerStep {
    Wait,   // the settings dialog is open, or an alarm window after the notice: nothing yet
    Notice, // tell the user once
    End,    // end the program (never over an alarm window)
    Stop    // the server is back: no end
};
LostServerStep NextLostServerStep(bool settingsOpen, bool alarmWindowOpen, bool serverBack, bool noticeShown);

} // namespace LinkRules
