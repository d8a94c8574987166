#pragma once

#include <QString>
#include <functional>

class QLineEdit;
class QWidget;

// The global alert key. The keyboard-hook library watches the key on the whole X display; the program
// tells it, through a shared record, which combination to watch and which window to notify, and the
// library makes that window (the hidden main window) receive a key-down for it, which raises the alarm.
// Key codes are Windows virtual-key codes, modifiers the mask 1 Shift, 2 Ctrl, 4 Alt.
namespace Hooklib {

// Loads the hook library along the search path and installs the hook that notifies `target`. A missing
// library shows "Failed to load DLL!" without holding up the caller; a library without the hook's entry
// points fails silently. True when the hook is installed.
bool InstallKeyboardHook(QWidget* target);
// Takes the modifier words of `keyText` ("CTRL+SHIFT+F12") and `keyCode` as the pending key.
void ParseAlertKey(const QString& keyText, qint16 keyCode);
// Writes the pending key into the shared record for `form` and makes it the active key. Nothing happens
// while the pending key code is 0.
void ApplyAlertKey(QWidget* form);
// The start's short form: ParseAlertKey, then ApplyAlertKey for the window given to InstallKeyboardHook.
void ApplyAlertKey(const QString& keyText, qint16 keyCode);
// A key-down in the settings dialog's key box: shows the combination in `box`, puts the key code as decimal
// text into its property "tag" and makes it the pending key. Shift, Ctrl or Alt alone leave the box empty.
void CaptureAlertKey(qint16 keyCode, qint16 shift, QLineEdit* box);
// True when the hook can watch `keyCode`: a virtual-key code of a key other than Shift, Ctrl or Alt alone.
bool CanArm(int keyCode);
// The key's name as Windows gives it ("F12").
QString GetKeyName(qint16 keyCode);
qint16 GetAlertKeyCode();
qint16 GetAlertKeyShift();
// Removes the hook and releases the shared record and the library.
void RemoveKeyboardHook();

// The main window's key-down handler: raises the alarm for the active key with exactly its modifiers,
// except while the settings dialog is open.
void AlertKeyDown(qint16 keyCode, qint16 shift);

// Test seams: the pending values, the shared record's name (default: one per X display), and what the
// handler does instead of raising the alarm (nullptr: raise it).
qint16 PendingKeyCode();
qint16 PendingShift();
QString SharedMemoryName();
void SetSharedMemoryNameForTests(const QString& name);
void SetAlertActionForTests(std::function<void()> action);

} // namespace Hooklib
