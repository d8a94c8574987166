#include "ui/SysTrayUtil.h"

#include <QApplication>
#include <QCursor>
#include <QHash>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <algorithm>

namespace {

QPointer<QSystemTrayIcon> g_icon;
QPointer<QWidget> g_owner;
int g_picture = 0;
QString g_tip;
// Non-empty while an alarm shows in the tray.
QString g_alarmTip;

// The white cross of every picture, `len` long, a fifth of `s` wide, in the middle of a square of `s`.
void PaintCross(QPainter& p, qreal s, qreal len)
{
    const qreal arm = s * 0.2;
    QPainterPath cross;
    cross.addRect(QRectF((s - arm) / 2, (s - len) / 2, arm, len));
    cross.addRect(QRectF((s - len) / 2, (s - arm) / 2, len, arm));
    cross.setFillRule(Qt::WindingFill);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(cross.simplified());
}

// A white cross on a coloured disc: the colour tells the state at a glance, the shape stays readable at 16
// to 22 pixels. The server disc carries a dark ring, the unconnected station a diagonal bar.
QPixmap Draw(int number, int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const QRectF disc(s * 0.04, s * 0.04, s * 0.92, s * 0.92);
    QColor fill = number == 1   ? QColor(0x1f, 0x4e, 0xa8)
                  : number == 2 ? QColor(0x1e, 0x9a, 0x3c)
                  : number == 4 ? QColor(0xe0, 0x10, 0x10)
                                : QColor(0x8a, 0x8a, 0x8a);
    p.setPen(number == 1 ? QPen(QColor(0x0b, 0x1f, 0x4a), s * 0.08) : Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(disc);

    PaintCross(p, s, s * 0.6);

    if (number == 3) {
        p.setPen(QPen(QColor(0xd0, 0x10, 0x10), s * 0.13, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.2, s * 0.2), QPointF(s * 0.8, s * 0.8));
    }
    return pm;
}

// WORKAROUND: Qt keeps to itself which kind of tray host took the icon. Its own XEmbed icon is a top-level
// widget of the class QSystemTrayIconSys; without one the icon went to a StatusNotifierItem host over D-Bus.
bool EmbeddedIcon()
{
    const QWidgetList tops = QApplication::topLevelWidgets();
    return std::any_of(tops.begin(), tops.end(), [](QWidget* w) { return w->inherits("QSystemTrayIconSys"); });
}

void ShowOwner()
{
    g_owner->setWindowState(g_owner->windowState() & ~Qt::WindowMinimized);
    g_owner->showNormal();
    g_owner->raise();
    g_owner->activateWindow();
}

void Activated(QSystemTrayIcon::ActivationReason reason)
{
    if (!g_owner || !g_icon)
        return;
    switch (SysTrayUtil::TrayMouseEvent(reason, EmbeddedIcon())) {
    case SysTrayUtil::TrayAction::ShowWindow:
        ShowOwner();
        break;
    case SysTrayUtil::TrayAction::ShowMenu:
        // The owner to the front first, so that the menu takes the keyboard as on an XEmbed host.
        if (QMenu* menu = g_icon->contextMenu()) {
            g_owner->activateWindow();
            menu->popup(QCursor::pos());
        }
        break;
    case SysTrayUtil::TrayAction::None:
        break;
    }
}

} // namespace

namespace SysTrayUtil {

QIcon TrayPicture(int number)
{
    // Drawn once per picture: a new icon for every alarm window would leave its pixmaps in Qt's pixmap
    // cache under keys never asked for again, and a station would grow with every alarm.
    static QHash<int, QIcon> drawn;
    if (const auto found = drawn.constFind(number); found != drawn.constEnd())
        return *found;
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(Draw(number, size));
    drawn.insert(number, icon);
    return icon;
}

QImage ProgramImage(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const qreal ring = qMax(1.0, s * 0.04);
    p.setPen(QPen(QColor(0x7a, 0x0a, 0x1c), ring));
    p.setBrush(QColor(0xc8, 0x10, 0x2e));
    p.drawEllipse(QRectF(ring / 2 + s * 0.02, ring / 2 + s * 0.02, s * 0.96 - ring, s * 0.96 - ring));
    PaintCross(p, s, s * 0.625);
    return img;
}

QIcon ProgramIcon(std::initializer_list<int> sizes)
{
    QIcon icon;
    for (int size : sizes)
        icon.addPixmap(QPixmap::fromImage(ProgramImage(size)));
    return icon;
}

TrayAction TrayMouseEvent(QSystemTrayIcon::ActivationReason reason, bool embedded)
{
    // An XEmbed host passes the mouse on as it is: the double click shows the window, Qt opens the menu on
    // the right button itself, a single left click does nothing. A StatusNotifierItem host sends no double
    // click: its left click (Trigger) shows the window, and its right click (Context) wants the menu from us.
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        return TrayAction::ShowWindow;
    case QSystemTrayIcon::Trigger:
        return embedded ? TrayAction::None : TrayAction::ShowWindow;
    case QSystemTrayIcon::Context:
        return embedded ? TrayAction::None : TrayAction::ShowMenu;
    default:
        return TrayAction::None;
    }
}

QString TrayTipText(const QString& tip)
{
    return tip.left(63);
}

void TrayAddIcon(QWidget* owner, int picture, const QString& tip, QMenu* menu)
{
    g_owner = owner;
    if (!g_icon) {
        g_icon = new QSystemTrayIcon(owner);
        QObject::connect(g_icon, &QSystemTrayIcon::activated, g_icon, &Activated);
    }
    g_picture = picture;
    g_tip = tip;
    g_icon->setIcon(TrayPicture(picture));
    g_icon->setToolTip(TrayTipText(tip));
    g_icon->setContextMenu(menu);
    // Without a tray host the icon simply does not appear; the program runs on regardless.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qWarning("tavinor: no system tray available; running without a tray icon");
    g_icon->show();
}

void TraySetTip(const QString& tip)
{
    g_tip = tip;
    if (g_icon && g_alarmTip.isEmpty())
        g_icon->setToolTip(TrayTipText(tip));
}

void TraySetIcon(int picture)
{
    g_picture = picture;
    if (g_icon && g_alarmTip.isEmpty())
        g_icon->setIcon(TrayPicture(picture));
}

void TraySetAlarm(const QString& tip)
{
    g_alarmTip = tip;
    if (g_icon) {
        g_icon->setIcon(TrayPicture(4));
        g_icon->setToolTip(TrayTipText(tip));
    }
}

void TrayClearAlarm()
{
    if (g_alarmTip.isEmpty())
        return;
    g_alarmTip.clear();
    if (g_icon) {
        g_icon->setIcon(TrayPicture(g_picture));
        g_icon->setToolTip(TrayTipText(g_tip));
    }
}

void TrayRemoveIcon()
{
    if (g_icon) {
        g_icon->hide();
        delete g_icon.data();
    }
    g_picture = 0;
    g_alarmTip.clear();
}

QSystemTrayIcon* TrayIcon()
{
    return g_icon;
}

int CurrentPicture()
{
    return g_picture;
}

QWidget* TrayOwner()
{
    return g_owner;
}

} // namespace SysTrayUtil
