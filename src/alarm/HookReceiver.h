#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>

class QWidget;

// Receives the key-down the hook library delivers to the hidden main window and hands it to the main
// window's key-down handler (Hooklib::AlertKeyDown) on the window thread. It takes the event before Qt's
// own key handling, which drops key events to a window that a modal box blocks: the alert key must work
// while any of the program's boxes is open.
//
// While one of the program's own popup menus is open (the tray menu), the program holds the keyboard grab
// and the library sees no key; the menu gets it instead, and the receiver takes the alert key from there.
class HookReceiver : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    HookReceiver();
    ~HookReceiver() override;

    void SetTarget(QWidget* target);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The program's key code and shift mask of a delivered key press, given the virtual-key codes of its
    // keycode (pure; the active code wins when the key has several).
    static void Translate(const QList<int>& keyCodes, quint16 state, int activeCode, int& keyCode, int& shift);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Deliver(int keyCode, int shift);

    QPointer<QWidget> m_target;
    quint32 m_window = 0;
};
