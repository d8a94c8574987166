#pragma once

#include "net/LineFramer.h"
#include "net/ReceiptCollector.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

namespace Network {

class AlarmNet;
class ServerRelay;

// The server's part of the delivery receipts: which downlinks offered the extension, the collection of
// receipts per relayed alarm, the wait of kWaitMs after which who has not confirmed is named, and the
// lines to the raising station, which go to it alone and only when it offered the extension.
class ReceiptRelay : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWaitMs = 3000;

    ReceiptRelay(AlarmNet* net, ServerRelay* relay);

    // Bytes a station wrote back on the downlink in outbound slot `slot`.
    void DownlinkBytes(int slot, const QByteArray& bytes);
    // Outbound slot `slot` connects anew: a new station that has not offered anything yet.
    void DownlinkOpened(int slot);
    // An alarm (004) or training alarm (010) from station slot `slot` has just been relayed.
    void AlarmRelayed(int slot, const QString& peer);
    // The station on `slot` cancelled its alarm (008).
    void Cancelled(const QString& peer);
    // Whether a receipt line from `peer` belongs to the extension: well formed, from a station that offered it.
    bool Accepts(const QString& peer, const QString& line) const;
    // A receipt (014) on station slot `slot`.
    void ReceiptArrived(int slot, const QString& line);
    // The uplink of station slot `slot` has ended.
    void StationLeft(int slot, const QString& peer);
    // What the station on `slot` did with the last alarm relayed to it, for the status monitor.
    QString StateText(int slot) const;

    const Receipts::Collector& collector() const { return m_collector; }

private:
    // Outbound slot `slot` no longer counts as offering the extension.
    void Forget(int slot);
    QSet<QString> KnowingAddresses() const;
    void SendToRaiser(const QString& raiser, const QStringList& lines);
    void Tell(const QList<Receipts::Collector::Change>& changes);
    // The wait for alarm `number` is over (or it ends early): name who is missing and log the result.
    void Finish(int number);
    void LogResult(const Receipts::Collector::Alarm& alarm);

    AlarmNet* m_net;
    ServerRelay* m_relay;
    Receipts::Collector m_collector;
    QHash<int, LineFramer> m_framers;     // by outbound slot
    QHash<int, QString> m_knowing;        // outbound slots whose station offered the extension: their address
    QMultiHash<QString, int> m_knowingAt; // the same by address, to reach a raiser without a search
    QHash<QString, int> m_raiserSlot;     // station slot of each raiser with a collection
};

} // namespace Network
