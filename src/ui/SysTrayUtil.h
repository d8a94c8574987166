#pragma once

#include <QIcon>
#include <QImage>
#include <QString>
#include <QSystemTrayIcon>

#include <initializer_list>

class QMenu;
class QWidget;

// The program's icon in the notification area. One icon for the whole run.
namespace SysTrayUtil {

// Tray pictures by number: 1 server, 2 station connected to the server, 3 station without connection,
// 4 an alarm is sounding here.
QIcon TrayPicture(int number);
// The program's own icon (menus, windows): a white cross on a red disc, as resources/tavinor.svg draws it.
QImage ProgramImage(int size);
// That icon in the given sizes (pixels).
QIcon ProgramIcon(std::initializer_list<int> sizes);
enum class TrayAction { None, ShowWindow, ShowMenu };
// What a click on the icon does; `embedded` tells an XEmbed tray host from a StatusNotifierItem one.
TrayAction TrayMouseEvent(QSystemTrayIcon::ActivationReason reason, bool embedded);
// The tooltip as the tray holds it: at most 63 characters.
QString TrayTipText(const QString& tip);

// Shows the icon, owned by `owner` (the main window), with `menu` on the right button.
void TrayAddIcon(QWidget* owner, int picture, const QString& tip, QMenu* menu);
void TraySetTip(const QString& tip);
void TraySetIcon(int picture);
void TrayRemoveIcon();
// An alarm that shows no window: the alarm picture and `tip` until TrayClearAlarm; the link's picture and
// tip set meanwhile come back then.
void TraySetAlarm(const QString& tip);
void TrayClearAlarm();

// State for the rest of the program and for tests.
QSystemTrayIcon* TrayIcon();
int CurrentPicture();
QWidget* TrayOwner();

} // namespace SysTrayUtil
