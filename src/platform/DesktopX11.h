#pragma once

#include "platform/Desktop.h"

#include <QList>
#include <QtGlobal>

// The X11 backend: the EWMH conventions that every current window manager follows (_NET_CLIENT_LIST,
// WM_CHANGE_STATE, _NET_ACTIVE_WINDOW, _NET_WM_STATE), on Qt's own xcb connection.
class DesktopX11 final : public Desktop
{
public:
    // The backend on Qt's X connection; nullptr when Qt does not run on X11.
    static DesktopX11* Instance();

    QString Name() const override { return QStringLiteral("x11"); }
    bool MinimizeAll() override;
    quint64 ActiveWindow() override;
    bool RequestActivation(QWidget* window) override;
    void SetTopmost(QWidget* window) override;
    void RestoreMinimized() override;

    // A window manager announces itself on the root window; without one nothing is managed.
    bool HasWindowManager();
    // The windows the window manager manages, in its order.
    QList<quint32> ClientList();

private:
    explicit DesktopX11(void* connection);

    quint32 Atom(const char* name);
    // A property of 32-bit items (windows, atoms, cardinals); empty when missing or unreadable.
    QList<quint32> Property32(quint32 window, quint32 property, quint32 type);
    // Sends a 32-bit client message about `window` to the root window, as the EWMH asks of clients.
    void SendRootMessage(quint32 window, quint32 type, const quint32 (&data)[5]);
    bool Flush();

    void* m_conn; // xcb_connection_t, kept opaque here so that users need no xcb headers
    quint32 m_root = 0;
    QList<quint32> m_minimized; // iconified by MinimizeAll, in the window manager's order
};
