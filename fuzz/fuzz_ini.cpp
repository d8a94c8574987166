// The settings file's reader and writer on any file bytes: a written value reads back, and a write
// changes no byte outside the line it touches.
#include "FuzzInput.h"
#include "core/IniFiles.h"

#include <optional>

namespace {

bool Plain(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t mode = in.Byte();
    const QByteArray section = in.Piece();
    const QByteArray key = in.Piece();
    const QByteArray value = in.Piece();
    const std::optional<QByteArray> file = (mode & 1) ? std::optional<QByteArray>() : std::optional(in.Rest());
    const int bufSize = 1 + (mode >> 1) * 4;

    const QByteArray read = IniFiles::ProfileRead(file, section, key, "def", bufSize);
    FUZZ_CHECK(read.size() < bufSize);

    const std::optional<QByteArray> value2 = (mode & 2) ? std::nullopt : std::optional(value);
    const std::optional<QByteArray> written = IniFiles::ProfileWrite(file, section, key, value2);
    if (written) {
        // Reading what was just written gives the value, for plain names and values. (A deletion removes only
        // the first of several equal keys, as Windows does, so it has no such rule.)
        const QByteArray back = IniFiles::ProfileRead(written, section, key, "def", 512);
        if (Plain(section) && Plain(key) && value2 && Plain(*value2) && value2->size() < 500)
            FUZZ_CHECK(back == *value2);
    }
    return 0;
}
