#include "platform/KeyHookRecord.h"

#include "platform/KeySyms.h"

#include <algorithm>

namespace KeyHookRecord {

Record Make(std::uint32_t window, std::int32_t hook, std::int16_t keyCode, std::int16_t modifiers)
{
    Record r;
    r.window = std::int32_t(window);
    r.hook = hook;
    r.keyCode = keyCode;
    r.ctrl = (modifiers & KeySyms::MaskCtrl) ? kKeyDown : 0;
    r.shift = (modifiers & KeySyms::MaskShift) ? kKeyDown : 0;
    r.alt = (modifiers & KeySyms::MaskAlt) ? kKeyDown : 0;
    return r;
}

std::array<unsigned char, kRecordSize> Encode(const Record& r)
{
    std::array<unsigned char, kRecordSize> out{};
    const std::int32_t fields[] = {r.window, r.hook, r.keyCode, r.ctrl, r.shift, r.alt};
    for (int i = 0; i < 6; ++i) {
        const auto v = std::uint32_t(fields[i]);
        for (int b = 0; b < 4; ++b)
            out[std::size_t(i * 4 + b)] = static_cast<unsigned char>(v >> (8 * b));
    }
    return out;
}

Record Decode(const unsigned char* bytes)
{
    std::int32_t f[6];
    for (int i = 0; i < 6; ++i) {
        std::uint32_t v = 0;
        for (int b = 3; b >= 0; --b)
            v = (v << 8) | bytes[i * 4 + b];
        f[i] = std::int32_t(v);
    }
    return Record{f[0], f[1], f[2], f[3], f[4], f[5]};
}

int Modifiers(const Record& r)
{
    return (r.shift ? KeySyms::MaskShift : 0) | (r.ctrl ? KeySyms::MaskCtrl : 0) | (r.alt ? KeySyms::MaskAlt : 0);
}

std::string SharedMemoryName(const char* display, unsigned user)
{
    // The user's number keeps one user's block (a session that crashed leaves it behind) from locking the next
    // user of the same display out.
    std::string name = "/tavinor_shared_mem." + std::to_string(user);
    std::string d = display ? display : "";
    // "host:5.0" and "host:5" are the same display.
    const auto colon = d.rfind(':');
    const auto dot = d.find('.', colon == std::string::npos ? 0 : colon);
    if (colon != std::string::npos && dot != std::string::npos)
        d.erase(dot);
    for (char& c : d) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == ':' || c == '.' || c == '-' || c == '_';
        if (!plain)
            c = '_';
    }
    return name + (d.empty() || d.front() == ':' ? "" : "@") + d;
}

int MaskOfXState(std::uint16_t state, const XModifiers& m)
{
    // Bit 0..7 are the eight modifiers; the pointer buttons above them do not matter.
    std::uint16_t rest = state & 0xff & std::uint16_t(~(m.lock | m.numLock));
    int mask = 0;
    const auto take = [&](std::uint16_t bit, int value) {
        if (bit && (rest & bit)) {
            mask |= value;
            rest &= std::uint16_t(~bit);
        }
    };
    take(m.shift, KeySyms::MaskShift);
    take(m.control, KeySyms::MaskCtrl);
    take(m.alt, KeySyms::MaskAlt);
    return rest ? -1 : mask;
}

std::vector<std::uint16_t> GrabStates(const Record& r, const XModifiers& m)
{
    std::uint16_t base = 0;
    if (r.shift)
        base |= m.shift;
    if (r.ctrl)
        base |= m.control;
    if (r.alt)
        base |= m.alt;
    std::vector<std::uint16_t> out;
    for (std::uint16_t locks : {std::uint16_t(0), m.lock, m.numLock, std::uint16_t(m.lock | m.numLock)}) {
        const std::uint16_t s = base | locks;
        if (std::find(out.begin(), out.end(), s) == out.end())
            out.push_back(s);
    }
    return out;
}

bool Fires(const Record& r, const KeyEvent& e, const XModifiers& m)
{
    if (!e.press || e.autoRepeat || r.keyCode == 0 || r.window == 0)
        return false;
    if (std::find(e.keyCodes.begin(), e.keyCodes.end(), r.keyCode) == e.keyCodes.end())
        return false;
    return MaskOfXState(e.state, m) == Modifiers(r);
}

} // namespace KeyHookRecord
