#pragma once

#include <QString>
#include <functional>

// Where the station's downlink meets the alarm windows, the settings dialog and the USB button. These sit
// above the network; the program installs their handlers at start. Until then a received alarm shows nothing.
namespace AlarmHooks {

// How a received alarm was presented, which is what the station's receipt tells.
enum class Shown {
    Nothing,  // "Visuell" and "Akustisch" are off
    OwnAlarm, // this station raised it
    Window,   // the receiver window was opened
    ToneOnly, // acoustic alerting only: the tone has started
    HeldBack, // a training alarm while a real one is running: not shown
};
// 005 (trainee false) and 011 (trainee true): open the receiver alarm window if needed and show the alarm.
Shown ShowAlertReceiver(const QString& line, bool trainee);
// Calls `done` once the receiver window is mapped on the screen; never when it goes before that.
void WhenReceiverOnScreen(std::function<void()> done);
// The receipts of this station's alarm changed: the sender window shows `text`.
void ShowReceipts(const QString& text);
// 007: a station heard the alarm; only the open sender alarm window takes note.
void AlarmAcknowledged(const QString& line);
// 009: the alarm was cancelled; an open receiver alarm window closes.
void AlarmCancelled(const QString& line);
// The settings dialog's part of the connection status (server field colour, connect button).
void ShowSettingsConnectionStatus(bool connected);
// Once the uplink is up: one poll of the emergency button, when one was found at start.
void PollEmergencyButtonOnce();

struct Handlers
{
    std::function<Shown(const QString& line, bool trainee)> showAlertReceiver;
    std::function<void(std::function<void()> done)> whenReceiverOnScreen;
    std::function<void(const QString& text)> showReceipts;
    std::function<void(const QString& line)> alarmAcknowledged;
    std::function<void(const QString& line)> alarmCancelled;
    std::function<void(bool connected)> showSettingsConnectionStatus;
    std::function<void()> pollEmergencyButtonOnce;
};
void Install(const Handlers& handlers);

} // namespace AlarmHooks
