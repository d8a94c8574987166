#include "net/ReceiptRelay.h"

#include "net/AlarmNet.h"
#include "net/Protocol.h"
#include "net/ServerRelay.h"
#include "platform/Cp1252.h"
#include "platform/SocketArray.h"

#include <QTimer>

namespace Network {

using Receipts::Collector;
using Receipts::State;

namespace {

QByteArray Wire(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += Cp1252::Encode(line + QStringLiteral("\r\n"));
    return bytes;
}

} // namespace

ReceiptRelay::ReceiptRelay(AlarmNet* net, ServerRelay* relay) : QObject(relay), m_net(net), m_relay(relay) {}

void ReceiptRelay::DownlinkBytes(int slot, const QByteArray& bytes)
{
    const LineFramer::Result r = m_framers[slot].Feed(bytes);
    for (const QByteArray& line : r.lines) {
        // Anything else coming back on a downlink is dropped, as ever.
        if (!Receipts::Lists(Cp1252::Decode(line), QStringLiteral("012:")))
            continue;
        Forget(slot);
        m_knowing.insert(slot, m_relay->DownlinkTarget(slot));
        m_knowingAt.insert(m_relay->DownlinkTarget(slot), slot);
        if (Socket* s = m_net->WS_Writer()->At(slot))
            s->Write(Wire({Receipts::AcceptLine()}));
    }
}

void ReceiptRelay::DownlinkOpened(int slot)
{
    Forget(slot);
    m_framers.remove(slot);
}

void ReceiptRelay::Forget(int slot)
{
    if (m_knowing.contains(slot))
        m_knowingAt.remove(m_knowing.take(slot), slot);
}

QSet<QString> ReceiptRelay::KnowingAddresses() const
{
    QSet<QString> addresses;
    for (auto it = m_knowing.cbegin(); it != m_knowing.cend(); ++it) {
        Socket* s = m_net->WS_Writer()->At(it.key());
        if (s && s->IsConnected())
            addresses.insert(it.value());
    }
    return addresses;
}

void ReceiptRelay::SendToRaiser(const QString& raiser, const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    const QByteArray bytes = Wire(lines);
    for (int slot : m_knowingAt.values(raiser)) {
        if (Socket* s = m_net->WS_Writer()->At(slot))
            s->Write(bytes);
    }
}

void ReceiptRelay::AlarmRelayed(int slot, const QString& peer)
{
    const QSet<QString> knowing = KnowingAddresses();
    QList<Collector::Target> targets;
    SocketArray* stations = m_net->WS_Listener();
    for (int i = 1; i <= stations->UBound(); ++i) {
        Socket* s = stations->At(i);
        // The raiser gets its own alarm back but shows nothing for it, also from an older slot of its own.
        if (i == slot || !s || !s->IsConnected() || s->PeerAddress() == peer)
            continue;
        const QStringList f = m_net->StationRecord(i).split(Protocol::kSeparator);
        Collector::Target t;
        t.slot = i;
        t.entry.address = s->PeerAddress();
        t.entry.name = f.size() >= 5 ? f[1] : t.entry.address;
        t.entry.state = knowing.contains(t.entry.address) ? State::Waiting : State::Older;
        targets << t;
    }
    std::optional<Collector::Alarm> closed;
    const int number = m_collector.Start(peer, targets, &closed);
    if (closed && !closed->reported)
        LogResult(*closed);
    m_raiserSlot.insert(peer, slot);

    QStringList lines;
    lines.reserve(targets.size());
    for (const Collector::Target& t : targets)
        lines << Receipts::StateLine(number, t.entry.state, t.entry.address, t.entry.name);
    SendToRaiser(peer, lines);
    QTimer::singleShot(kWaitMs, this, [this, number] { Finish(number); });
}

void ReceiptRelay::Cancelled(const QString& peer)
{
    if (const Collector::Alarm* a = m_collector.Find(peer))
        Finish(a->number);
    m_collector.End(peer);
    m_raiserSlot.remove(peer);
}

bool ReceiptRelay::Accepts(const QString& peer, const QString& line) const
{
    return m_knowingAt.contains(peer) && Receipts::ParseReceipt(line).valid;
}

void ReceiptRelay::ReceiptArrived(int slot, const QString& line)
{
    const Receipts::Receipt r = Receipts::ParseReceipt(line);
    if (!r.valid)
        return;
    const std::optional<Collector::Change> change = m_collector.Receive(slot, r.raiser, r.shown);
    if (!change)
        return;
    if (change->late) {
        const QString text = QStringLiteral("Alarm verspätet angezeigt: ") + change->entry.name;
        m_net->LogConnection(r.raiser, text, m_raiserSlot.value(r.raiser));
    }
    Tell({*change});
}

void ReceiptRelay::StationLeft(int slot, const QString& peer)
{
    Tell(m_collector.StationLeft(slot));
    // A raiser that leaves can hear no more: its result is logged now.
    if (m_raiserSlot.value(peer) == slot && m_collector.Find(peer)) {
        Finish(m_collector.Find(peer)->number);
        m_collector.End(peer);
        m_raiserSlot.remove(peer);
    }
}

void ReceiptRelay::Tell(const QList<Collector::Change>& changes)
{
    // One write per raiser: at a thousand stations the missing ones are named in one go.
    QHash<QString, QStringList> lines;
    for (const Collector::Change& c : changes)
        lines[c.raiser] << Receipts::StateLine(c.alarm, c.entry.state, c.entry.address, c.entry.name);
    for (auto it = lines.cbegin(); it != lines.cend(); ++it)
        SendToRaiser(it.key(), it.value());
}

void ReceiptRelay::Finish(int number)
{
    // Nothing when it was reported already or its raiser has raised anew or left meanwhile.
    const std::optional<QList<Collector::Change>> changes = m_collector.Report(number);
    const Collector::Alarm* a = m_collector.FindNumber(number);
    if (!changes || !a)
        return;
    Tell(*changes);
    SendToRaiser(a->raiser, {Receipts::DoneLine(number)});
    LogResult(*a);
}

void ReceiptRelay::LogResult(const Collector::Alarm& alarm)
{
    m_net->LogConnection(alarm.raiser, Receipts::LogText(alarm.Entries()), m_raiserSlot.value(alarm.raiser));
}

QString ReceiptRelay::StateText(int slot) const
{
    const std::optional<State> state = m_collector.LastState(slot);
    return state ? Receipts::StateText(*state) : QString();
}

} // namespace Network
