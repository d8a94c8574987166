#pragma once

// Raises an alarm at this station: clears the desktop, logs, sends the alarm to the server and shows the
// sender window in front of everything.
void SendAlert();
