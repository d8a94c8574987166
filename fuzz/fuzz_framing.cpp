// The line framing of a connection: however the bytes are cut into reads, the same lines come out, none
// holds a CR, none is empty or longer than the limit.
#include "FuzzInput.h"
#include "net/LineFramer.h"
#include "platform/Cp1252.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t step = in.Byte();
    const QByteArray stream = in.Rest();

    LineFramer whole;
    const LineFramer::Result once = whole.Feed(stream);

    LineFramer pieces;
    LineFramer::Result split;
    const qsizetype chunk = 1 + step % 64;
    for (qsizetype pos = 0; pos < stream.size(); pos += chunk) {
        const LineFramer::Result r = pieces.Feed(stream.mid(pos, chunk));
        split.lines += r.lines;
        split.overlong += r.overlong;
    }
    FUZZ_CHECK(once.lines == split.lines);
    FUZZ_CHECK(once.overlong == split.overlong);
    FUZZ_CHECK(whole.PendingBytes() == pieces.PendingBytes());
    FUZZ_CHECK(whole.PendingBytes() <= LineFramer::kMaxTail);
    for (const QByteArray& line : once.lines) {
        FUZZ_CHECK(!line.isEmpty() && line.size() <= LineFramer::kMaxTail && !line.contains('\r'));
        // One character per byte, both ways: a station name travels unchanged.
        FUZZ_CHECK(Cp1252::Encode(Cp1252::Decode(line)).size() == line.size());
    }
    return 0;
}
