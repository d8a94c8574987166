#pragma once

#include <QString>

class QAction;
class QMenu;
class QTimer;
class QWidget;

// The hidden main window as the layers below it see it: the owner of the program's windows, its activity
// trace, timers and tray menu. The window itself sits at the top of the program and makes itself known
// here when it is made, so that nothing below has to name it.
class MainWindow
{
public:
    // The running main window, or nullptr.
    static MainWindow* Instance();
    // Its widget, which owns the program's windows; nullptr while there is no main window.
    static QWidget* Widget();

    // Appends a line to the activity trace.
    virtual void AddReceive(const QString& line) = 0;
    // Takes up the saved settings (mode, station name, link).
    virtual void UpdateVariables(bool Init = false) = 0;
    // Ends the program at once, or as soon as no alarm window is open any more.
    virtual void ExitWhenNoAlarm() = 0;

    virtual QTimer* connectTimer() const = 0;
    virtual QTimer* checkConnectTimer() const = 0;
    virtual QTimer* exitTimer() const = 0;
    virtual QTimer* ioWarriorTimer() const = 0;
    virtual QMenu* mnuPopup() const = 0;
    // The tray menu entry with this key ("popUp1" ... "popUp17", "popUpAlarm").
    virtual QAction* MenuEntry(const QString& key) const = 0;

protected:
    // `widget` is this window; it is known for as long as the widget lives.
    static void Register(MainWindow* main, QWidget* widget);
    virtual ~MainWindow() = default;
};
