#include "net/ServerRelay.h"

#include "net/AlarmNet.h"
#include "net/Protocol.h"
#include "platform/SocketArray.h"

namespace Network {

ServerRelay::ServerRelay(AlarmNet* net) : QObject(net), m_net(net) {}

QString ServerRelay::HandleLine(int slot, const QString& line, const QString& peer)
{
    const QString code = Protocol::CodeOf(line);
    if (code == QLatin1String("003:")) {
        doServerConnect(Protocol::AnnouncedAddress(line), slot);
        return line;
    }
    if (code == QLatin1String("001:")) {
        // Clipped, so that every relay line made from it fits the stations' line limit.
        const QString record = Protocol::StationRecord(Protocol::ClipRegistration(line), peer);
        Socket* s = m_net->WS_Listener()->At(slot);
        m_net->doSendData(QStringLiteral("002: ") + (s ? s->ConnectionText() : QString()));
        m_net->SetStationRecord(slot, record);
        return record;
    }
    const QString relayCode = Protocol::RelayCodeFor(code);
    if (relayCode.isEmpty())
        return line;
    m_net->doSendData(Protocol::RelayLine(relayCode, peer, m_net->StationRecord(slot)));
    return line + peer;
}

void ServerRelay::doServerConnect(const QString& ip, int opener)
{
    const QString address = ip.trimmed();
    if (address.isEmpty())
        return;
    SocketArray* writers = m_net->WS_Writer();
    // A slot still connecting is taken as well as a connected one: giving it to the next station would cut
    // off the first one's downlink while many stations announce themselves at once.
    int slot = 0;
    for (int i = 1; i <= writers->UBound(); ++i) {
        if (writers->At(i)->StateNumber() == Socket::Closed) {
            slot = i;
            break;
        }
    }
    if (slot == 0)
        slot = qMax(1, writers->UBound() + 1);
    Socket* s = writers->Load(slot);
    s->SetUp();
    if (!m_net->config().outboundAddress.isEmpty())
        s->Bind(m_net->config().outboundAddress, 0);
    while (m_targets.size() <= slot) {
        m_targets.append(QString());
        m_openers.append(0);
    }
    m_targets[slot] = address;
    m_openers[slot] = opener;
    s->Connect(address, m_net->config().stationPort);
}

void ServerRelay::doServerDisconnect(int index)
{
    Socket* station = m_net->WS_Listener()->At(index);
    if (!station)
        return;
    const QString peer = station->PeerAddress();
    SocketArray* writers = m_net->WS_Writer();
    SocketArray* listeners = m_net->WS_Listener();
    for (int i = 1; i <= writers->UBound() && i < m_targets.size(); ++i) {
        if (m_targets.at(i) != peer)
            continue;
        // A station that reconnected before its old uplink was seen to end has asked for a new downlink
        // already: that one stays, or the station would lose its link a second time.
        const int opener = m_openers.at(i);
        Socket* newer = opener > 0 && opener != index ? listeners->At(opener) : nullptr;
        if (newer && newer->IsConnected() && newer->PeerAddress() == peer)
            continue;
        writers->At(i)->Close();
    }
}

QString ServerRelay::DownlinkTarget(int index) const
{
    return index >= 0 && index < m_targets.size() ? m_targets.at(index) : QString();
}

} // namespace Network
