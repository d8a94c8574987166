#pragma once

// The layers below reach the ones above them only through handlers; this installs the program's own: a
// received alarm opens the alarm windows, the settings dialog arms the alert key, the alarm windows drive
// the button's outputs. The main window calls it when it is made.
namespace Wiring {

void Install();

} // namespace Wiring
