#pragma once

class QWidget;

// Brings one of the program's windows in front of whatever program the user is working in.
namespace ForceFore {

// Shows `window` (restored when it is minimised) and asks the desktop to activate and raise it. True at
// once, without asking, when it already is the active window; otherwise whether the desktop took the
// request.
bool ForceForeground(QWidget* window);

// Iconifies every window of other programs on the desktop; false when the desktop cannot.
bool MinimizeAll();
// Brings back what MinimizeAll iconified (once the alarm is over).
void RestoreMinimized();

} // namespace ForceFore
