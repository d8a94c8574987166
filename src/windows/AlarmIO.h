#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>

class QObject;
class QWidget;

// Everything the alarm windows reach outside themselves: the clock, the network, the sound, the button
// device's outputs, this PC's own addresses and the tray menu. Tests replace the pieces they watch.
namespace AlarmIO {

// Wall-clock time; the elapsed-time counters are measured on it.
QDateTime Now();
// One protocol line to the server (doSendData).
bool Send(const QString& line);
// One alarm tone.
void Beep();
// The LED/buzzer pattern to every open emergency-button device; nothing when no device is open.
void WriteOutputs(quint8 pattern);
// The button's own write of that pattern: the button sits above the windows and installs it at start.
void SetButtonOutputs(std::function<void(quint8)> write);
// Every address by which other PCs may know this one: first the local address of the uplink to the server
// (the one this station registered with), then the interfaces' (without loopback).
QStringList OwnAddresses();
// Closes the tray menu when it is open.
void CloseTrayMenu();
// Calls `linkUp` (in the context of `receiver`) every time the station is registered with its server.
void OnLinkUp(QObject* receiver, const std::function<void()>& linkUp);
// An alarm that shows no window (acoustic alerting alone) shows in the tray instead: the alarm icon, a
// tooltip naming the raising station, and the menu entry "Alarm quittieren", which closes `window` as its
// user would.
void ShowTrayAlarm(const QString& station, QWidget* window);
// The tray as before the alarm.
void ClearTrayAlarm();

struct Seams
{
    std::function<QDateTime()> now;
    std::function<bool(const QString&)> send;
    std::function<void()> beep;
    std::function<void(quint8)> outputs; // the device write; the "device open" check stays in front of it
    std::function<QStringList()> ownAddresses;
};
// Test seam: non-empty members replace the real thing; a default-made Seams goes back to it.
void SetForTests(const Seams& seams);

} // namespace AlarmIO
