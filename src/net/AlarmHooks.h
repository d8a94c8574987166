#pragma once

#include <QString>

// Where the station's downlink meets the alarm windows, the settings dialog and the USB button.
namespace AlarmHooks {

// 005 (trainee false) and 011 (trainee true): open the receiver alarm window if needed and show the alarm.
void ShowAlertReceiver(const QString& line, bool trainee);
// 007: a station heard the alarm; only the open sender alarm window takes note.
void AlarmAcknowledged(const QString& line);
// 009: the alarm was cancelled; an open receiver alarm window closes.
void AlarmCancelled(const QString& line);
// The settings dialog's part of the connection status (server field colour, connect button).
void ShowSettingsConnectionStatus(bool connected);
// Once the uplink is up: one poll of the emergency button, when one was found at start.
void PollEmergencyButtonOnce();

} // namespace AlarmHooks
