#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The record through which the program tells the keyboard-hook library which key to watch and which window
// to notify, and the library's decision on a key event. Plain C++ without Qt: the library compiles this
// same file.
namespace KeyHookRecord {

constexpr std::size_t kSharedSize = 1024; // size of the shared block
constexpr std::size_t kRecordSize = 24;   // the record at its start
constexpr std::int32_t kKeyDown = 0x8000; // "held" in the three modifier fields

struct Record
{
    std::int32_t window = 0; // X window id of the window to notify
    std::int32_t hook = 0;   // the hook handle
    std::int32_t keyCode = 0;
    std::int32_t ctrl = 0;
    std::int32_t shift = 0;
    std::int32_t alt = 0;

    bool operator==(const Record&) const = default;
};

// The record for a key code and shift mask (1 Shift, 2 Ctrl, 4 Alt); the code is sign-extended from 16 bits.
Record Make(std::uint32_t window, std::int32_t hook, std::int16_t keyCode, std::int16_t modifiers);
// Six little-endian 32-bit integers.
std::array<unsigned char, kRecordSize> Encode(const Record& record);
Record Decode(const unsigned char* bytes);
// The shift mask the record asks for.
int Modifiers(const Record& record);

// Name of the shared block for an X display name ($DISPLAY) and a user id. One block per user and display,
// so that stations on several displays of one machine do not overwrite each other's record and a block left
// by another user never stands in the way; the screen number does not count.
std::string SharedMemoryName(const char* display, unsigned user);

// Which X modifier bits stand for what on this server (from its modifier mapping).
struct XModifiers
{
    std::uint16_t shift = 1 << 0;
    std::uint16_t lock = 1 << 1;
    std::uint16_t control = 1 << 2;
    std::uint16_t alt = 1 << 3;
    std::uint16_t numLock = 1 << 4;
};

// The program's shift mask of an X modifier state; -1 when other modifiers than Shift, Ctrl, Alt and the
// two locks are held (the combination is then not the one asked for).
int MaskOfXState(std::uint16_t state, const XModifiers& mods);
// The X modifier states under which the record's key is to be caught: its exact modifiers with every
// combination of CapsLock and NumLock.
std::vector<std::uint16_t> GrabStates(const Record& record, const XModifiers& mods);

// One key event as the library sees it.
struct KeyEvent
{
    bool press = true;
    bool autoRepeat = false;
    std::vector<int> keyCodes; // virtual-key codes of the key's levels (NumLock changes the keypad's)
    std::uint16_t state = 0;   // X modifier state at the event
};

// True when the event is a first press of the record's key with exactly the record's modifiers.
bool Fires(const Record& record, const KeyEvent& event, const XModifiers& mods);

} // namespace KeyHookRecord
