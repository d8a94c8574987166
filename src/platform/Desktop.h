#pragma once

#include <QString>
#include <QtGlobal>

class QWidget;

// What raising and showing an alarm needs from the desktop beyond Qt: clearing the screen of other
// programs' windows and pulling one of our windows in front of the program the user is working in.
// One backend per window system; the null backend answers "could not" and changes nothing.
class Desktop
{
public:
    virtual ~Desktop() = default;

    // Short name for diagnostics ("x11", "null").
    virtual QString Name() const = 0;
    // Iconifies every managed top-level window of other programs. False when the desktop offers no way
    // to do it (no window manager) or the request could not be sent.
    virtual bool MinimizeAll() = 0;
    // The native id of the window that has the input focus now, 0 when unknown.
    virtual quint64 ActiveWindow() = 0;
    // Asks the window manager to activate and raise `window`. False when the request could not be made.
    virtual bool RequestActivation(QWidget* window) = 0;
    // Keeps `window` above normal windows (the window manager's "above" state).
    virtual void SetTopmost(QWidget* window) = 0;
    // Brings back the windows that MinimizeAll iconified and that still exist; forgets them afterwards.
    // Windows the user had minimised before stay minimised.
    virtual void RestoreMinimized() {}

    // The backend for this session: X11 when the program runs on an X display, otherwise the null one.
    static Desktop& Instance();
    // Test seam: `desktop` answers instead (not owned); nullptr goes back to the session's backend.
    static void SetForTests(Desktop* desktop);
};

// Does nothing and says so: off X11 (offscreen tests, Wayland-only sessions).
class NullDesktop final : public Desktop
{
public:
    QString Name() const override { return QStringLiteral("null"); }
    bool MinimizeAll() override { return false; }
    quint64 ActiveWindow() override { return 0; }
    bool RequestActivation(QWidget*) override { return false; }
    void SetTopmost(QWidget*) override {}
};
