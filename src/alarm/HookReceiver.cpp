#include "alarm/HookReceiver.h"

#include "alarm/Hooklib.h"
#include "platform/KeyCodes.h"
#include "platform/KeySyms.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <cstdlib>

HookReceiver::HookReceiver()
{
    QCoreApplication::instance()->installNativeEventFilter(this);
    QCoreApplication::instance()->installEventFilter(this);
}

HookReceiver::~HookReceiver()
{
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

void HookReceiver::SetTarget(QWidget* target)
{
    m_target = target;
    m_window = target ? quint32(target->winId()) : 0;
}

void HookReceiver::Translate(const QList<int>& keyCodes, quint16 state, int activeCode, int& keyCode, int& shift)
{
    keyCode = keyCodes.contains(activeCode) ? activeCode : keyCodes.value(0);
    // The library states the combination with Shift, Control and Mod1 for Alt.
    shift = ((state & XCB_MOD_MASK_SHIFT) ? KeySyms::MaskShift : 0) |
            ((state & XCB_MOD_MASK_CONTROL) ? KeySyms::MaskCtrl : 0) | ((state & XCB_MOD_MASK_1) ? KeySyms::MaskAlt : 0);
}

bool HookReceiver::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !m_window)
        return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    // Only the library's key-down: a sent event (high bit) for the main window. A key pressed while the main
    // window itself has the focus reaches the library as well and comes back this way.
    if ((ev->response_type & 0x7f) != XCB_KEY_PRESS || !(ev->response_type & 0x80))
        return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
    if (key->event != m_window)
        return false;
    int keyCode = 0, shift = 0;
    Translate(KeyCodes::VirtualKeysOfKeycode(key->detail), key->state, Hooklib::GetAlertKeyCode(), keyCode, shift);
    Deliver(keyCode, shift);
    return true;
}

bool HookReceiver::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || watched != QApplication::activePopupWidget())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->isAutoRepeat())
        return false;
    const int keyCode = KeyCodes::FromKeyEvent(*key);
    const int shift = KeyCodes::ShiftState(key->modifiers());
    if (keyCode != Hooklib::GetAlertKeyCode() || shift != Hooklib::GetAlertKeyShift())
        return false;
    // The alarm clears the screen: close the menu first.
    QApplication::activePopupWidget()->close();
    Deliver(keyCode, shift);
    return true;
}

void HookReceiver::Deliver(int keyCode, int shift)
{
    // Queued: the handler runs from the event loop (of a modal box, too), not inside X event dispatch.
    QTimer::singleShot(0, this, [keyCode, shift] { Hooklib::AlertKeyDown(qint16(keyCode), qint16(shift)); });
}
