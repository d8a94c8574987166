// What both roles make of a received line: the server's acceptance, station record and relay line; the
// station's reading of a relay line for its alarm windows; the status monitor's row of a record.
#include "FuzzInput.h"
#include "net/LineAudit.h"
#include "net/MonitorRows.h"
#include "net/Protocol.h"
#include "platform/Cp1252.h"
#include "windows/AlarmLine.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const QString line = Cp1252::Decode(in.Piece());
    const QString peer = Cp1252::Decode(in.Piece());

    for (const bool server : {true, false})
        (void)Protocol::IsAccepted(line, server);
    const QString code = Protocol::CodeOf(line);
    FUZZ_CHECK(code.size() <= 4);
    if (Protocol::IsAccepted(line, true) && code == QLatin1String("003:"))
        FUZZ_CHECK(Protocol::IsDottedIPv4(Protocol::AnnouncedAddress(line)));

    // Server: the record of a registration and the relay it causes.
    const QString record = Protocol::StationRecord(line, peer);
    const QString relayCode = Protocol::RelayCodeFor(code);
    const QString relay = Protocol::RelayLine(relayCode.isEmpty() ? QStringLiteral("005: ") : relayCode, peer, record);
    (void)Monitor::RowText(1 + in.Byte(), record, in.Byte() & 1, peer);

    // Station: the sender of the relay line, and of the raw line as if the server had sent it.
    for (const QString& value : {relay, line}) {
        const AlarmLine::Sender sender = AlarmLine::Parse(value);
        (void)AlarmLine::IsFrom(sender, QStringList{peer});
    }
    (void)AlarmLine::Elapsed(static_cast<qint64>(in.Byte()) << (in.Byte() % 56));

    // The budget of stray lines never logs more than its share, whatever the times.
    LineAudit audit;
    qint64 now = 0;
    int logged = 0;
    while (true) {
        const uint8_t b = in.Byte();
        if (b == 0)
            break;
        now += (b & 0x7f) * 997;
        if (b & 0x80) {
            audit.Valid(now);
        } else if (audit.Invalid(now) == LineAudit::Verdict::Log) {
            ++logged;
        }
        (void)audit.TakeDropped(now);
    }
    FUZZ_CHECK(logged <= LineAudit::kLoggedPerMinute * (1 + now / LineAudit::kMinuteMs));
    return 0;
}
