#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>

class IowDevices;
class QTimer;

// The USB emergency button: an IO-Warrior with a push button on port 0 and, optionally, an LED and a
// buzzer on output lines. Everything runs on the window thread.
namespace ioWarrior {

constexpr quint32 IoWarrior40 = 0x1500;
constexpr quint32 IoWarrior24 = 0x1501;
constexpr quint32 IoWarrior56 = 0x1503;
// Input report byte 1 while the button is pressed: port 0 all high except line 5, which the button pulls
// low. Any other line low as well (an IO-Warrior24's output, for one) is not a press.
constexpr quint8 ButtonPressed = 0xDF;
// The handle table holds the first device and up to 16 more.
constexpr int MaxDevices = 17;

// Report size in bytes (report id included) for a product id; 0 for a device the program does not know.
int ReportSize(quint32 productId);
// The report byte that carries the output lines; 0 when the device gets no outputs.
int OutputByte(quint32 productId);
// The output report for `pattern`: report id 0, every other port 255. Empty for an unknown device.
QByteArray OutputReport(quint32 productId, quint8 pattern);
// The warning when no button was found at start.
QString MissingButtonText();

// Opens the button devices; returns the first device's handle, 0 when there is none (also when the
// library is missing). With `warn` and the setting "CheckBuzzer" "1", a missing button is announced in a
// message box that stays open without holding anything up.
long OpenEmergencyButton(bool warn = true);
// One look at the button; raises the alarm on a complete report with byte 1 0xDF. The station's link calls
// it once when its uplink is up; from then on the device library's read descriptor wakes it when a report
// arrives, or, where the library offers none, the 15 ms timer calls it.
void PollEmergencyButton();
// Writes the LED/buzzer pattern (bit 7 clear: buzzer on, bit 6 clear: LED on, 255: all off) to every
// open device.
void SetButtonOutputs(quint8 pattern);
// Cancels pending I/O of the first device.
void CancelButtonIo();
// Cancels I/O and closes the devices; the first handle becomes 0.
void CloseEmergencyButton();

// --- Test seams ---
// The device calls go to `devices` instead of the loaded library; nullptr goes back to the library.
void SetDevicesForTests(IowDevices* devices);
// The poll runs on `timer` instead of the main window's ioWarrior timer; nullptr goes back.
void SetTimerForTests(QTimer* timer);
// A press calls `alert` instead of SendAlert; an empty function goes back.
void SetAlertForTests(std::function<void()> alert);

} // namespace ioWarrior
