#pragma once

// The program's global state, one copy for the whole run, owned by the main window's life.
namespace Globals {

// This copy runs as the server; false means station (client).
inline bool IsServer = false;
// The orderly end has begun: work that still arrives is not started any more.
inline bool IsEnding = false;
// A station's link to the server is up (written only by the station's status routine).
inline bool IsConnected = false;
// The server runs without a desktop (the system service): nobody can see a window or answer a box.
inline bool IsHeadless = false;
// Handle of the USB emergency button; 0 = none.
inline long UsbButtonHandle = 0;

} // namespace Globals
