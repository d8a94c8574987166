#pragma once

// The keyboard-hook library: it watches the alert key on the X display of $DISPLAY, whichever program has
// the focus, and makes the window named in the shared record receive a key-down for it. The program loads
// it at run time and finds these symbols by name.
//
// The record: POSIX shared memory (name from KeyHookRecord::SharedMemoryName: "/tavinor_shared_mem", the
// user id and the display), 1024 bytes, six little-endian 32-bit integers at offset 0: target window, hook
// handle, key code (Windows virtual-key code), then 0x8000 or 0 for Ctrl, Shift and Alt.
//
// The key-down reaches the target as a synthetic KeyPress of the key's keycode whose state holds exactly the
// combination: ShiftMask for Shift, ControlMask for Ctrl, Mod1Mask for Alt.

#include <cstdint>

extern "C" {

// The hook procedure, in the shape of a keyboard hook: `code` < 0 means "not for me"; with `code` 0 a key
// event: `wParam` the X keycode, `lParam` the X modifier state in its low 16 bits, bit 30 set for an
// automatic repeat, bit 31 set for a release. Runs on the library's own thread. Returns 1 when it delivered
// the alert key to the target window, else 0.
long KeyboardProc(int code, std::uintptr_t wParam, std::intptr_t lParam);

typedef long (*TvKeyboardProc)(int code, std::uintptr_t wParam, std::intptr_t lParam);

// Starts watching the display and calls `proc` for every key event it catches. Returns the hook handle
// (non-zero), or 0 when the display cannot be opened or a hook is installed already.
std::int32_t TvSetKeyboardHook(TvKeyboardProc proc);
// Stops watching and releases every key caught. Non-zero on success.
int TvUnhookKeyboard(std::int32_t hook);
// Optional: the program has just written the record. From the first call on, the library looks at the record
// only when told, and not on a timer. Non-zero when a hook is installed.
int TvKeyRecordChanged();
}
