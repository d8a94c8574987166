#pragma once

#include <QList>
#include <QString>
#include <Qt>
#include <cstdint>

class QKeyEvent;

// The program keeps keys as Windows virtual-key codes with the shift mask 1 = Shift, 2 = Ctrl, 4 = Alt, so
// that settings files stay exchangeable with Windows installations. This module converts Qt keys and X
// keysyms to those codes and names them the way Windows does.
namespace KeyCodes {

// Virtual-key code of a Qt key; `keypad` tells a keypad key from its twin. 0 when there is none.
int FromQtKey(int qtKey, bool keypad = false);
// The Qt key for a virtual-key code (keypad keys give their Qt key; check KeypadModifier yourself).
int ToQtKey(int vk);
// Virtual-key code of an X keysym.
int FromKeysym(std::uint32_t keysym);
// Virtual-key codes of an X keycode from the display's keyboard mapping (empty without an X display).
QList<int> VirtualKeysOfKeycode(quint32 keycode);
// Virtual-key code of a key event: the code of the key itself from the X keyboard mapping (its first level,
// unshifted), else the Qt key, else the X keysym.
int FromKeyEvent(const QKeyEvent& event);
// The shift mask of Qt modifiers (Meta and the keypad flag do not count).
qint16 ShiftState(Qt::KeyboardModifiers modifiers);
// The name Windows gives the key ("F12", "X", "Pause"); empty when it has none.
QString KeyName(int vk);

} // namespace KeyCodes
