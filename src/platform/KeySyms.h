#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Windows virtual-key codes for X keysyms, and the names Windows gives the keys. Plain C++ without Qt, so
// that the keyboard-hook library compiles the same table as the program: settings written on Windows
// ("AlertkeyCode" 123 = F12) mean the same key here.
namespace KeySyms {

// Virtual-key codes the program itself refers to.
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12; // Alt
constexpr int VK_F1 = 0x70;
constexpr int VK_F12 = 0x7B;

// Modifier mask of the program (the key-event shift state).
constexpr int MaskShift = 1;
constexpr int MaskCtrl = 2;
constexpr int MaskAlt = 4;

// The virtual-key code of an X keysym; 0 when the key has none.
int VirtualKey(std::uint32_t keysym);

// Virtual-key codes of a keycode from the keysyms of its first two levels: the first level's, and for
// keypad keys also the second's (NumLock switches the keypad between navigation and digits). A key whose
// first level has no code but whose second is a digit is that digit, as Windows codes the digit row.
std::vector<int> VirtualKeysOfLevels(std::uint32_t first, std::uint32_t second);

// The set-1 scan code Windows maps a virtual-key code to (MapVirtualKey, type 0); 0 when none.
int ScanCode(int vk);

// The key's name as Windows gives it for a scan code without the extended bit; empty when it has none.
std::string ScanCodeName(int scanCode);

// Name of a virtual-key code: its scan code's name. Keys that exist twice are named after their
// non-extended twin (the arrow keys are "Num 8" ...), as Windows names them through this route.
std::string KeyName(int vk);

} // namespace KeySyms
