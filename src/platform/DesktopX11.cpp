#include "platform/DesktopX11.h"

#include <QGuiApplication>
#include <QHash>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <utility>
#include <xcb/xcb.h>
#include <xcb/xproto.h>

namespace {

xcb_connection_t* Conn(void* c)
{
    return static_cast<xcb_connection_t*>(c);
}

// ICCCM: WM_CHANGE_STATE with this value asks the window manager to iconify the window.
constexpr quint32 kIconicState = 3;
// EWMH source indication "pager": a request on the user's behalf, which window managers do not refuse
// under focus-stealing prevention. An alarm is exactly that.
constexpr quint32 kSourcePager = 2;
constexpr quint32 kStateAdd = 1;

void Warn(const char* what, int code = 0)
{
    if (code)
        std::fprintf(stderr, "tavinor: X11: %s (error %d)\n", what, code);
    else
        std::fprintf(stderr, "tavinor: X11: %s\n", what);
}

} // namespace

DesktopX11* DesktopX11::Instance()
{
    static DesktopX11* instance = nullptr;
    if (instance)
        return instance;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    instance = new DesktopX11(x11->connection());
    return instance;
}

DesktopX11::DesktopX11(void* connection) : m_conn(connection)
{
    const xcb_setup_t* setup = xcb_get_setup(Conn(m_conn));
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    if (it.rem > 0)
        m_root = it.data->root;
}

quint32 DesktopX11::Atom(const char* name)
{
    static QHash<QByteArray, quint32> cache;
    const QByteArray key(name);
    if (auto found = cache.constFind(key); found != cache.constEnd())
        return *found;
    xcb_connection_t* c = Conn(m_conn);
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(std::strlen(name)), name), nullptr);
    const quint32 atom = reply ? reply->atom : 0;
    std::free(reply);
    if (atom)
        cache.insert(key, atom);
    return atom;
}

QList<quint32> DesktopX11::Property32(quint32 window, quint32 property, quint32 type)
{
    QList<quint32> out;
    xcb_connection_t* c = Conn(m_conn);
    xcb_generic_error_t* error = nullptr;
    // A window may vanish between listing and reading; its error arrives here, not in Qt's handler.
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 4096), &error);
    std::free(error);
    if (!reply)
        return out;
    if (reply->format == 32) {
        const auto* items = static_cast<const quint32*>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / 4;
        for (int i = 0; i < count; ++i)
            out.append(items[i]);
    }
    std::free(reply);
    return out;
}

void DesktopX11::SendRootMessage(quint32 window, quint32 type, const quint32 (&data)[5])
{
    xcb_client_message_event_t ev;
    std::memset(&ev, 0, sizeof ev);
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = type;
    for (int i = 0; i < 5; ++i)
        ev.data.data32[i] = data[i];
    xcb_send_event(Conn(m_conn), 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
}

bool DesktopX11::Flush()
{
    if (xcb_flush(Conn(m_conn)) <= 0 || xcb_connection_has_error(Conn(m_conn))) {
        Warn("the connection to the X server failed", xcb_connection_has_error(Conn(m_conn)));
        return false;
    }
    return true;
}

bool DesktopX11::HasWindowManager()
{
    return m_root && !Property32(m_root, Atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW).isEmpty();
}

QList<quint32> DesktopX11::ClientList()
{
    return m_root ? Property32(m_root, Atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW) : QList<quint32>();
}

bool DesktopX11::MinimizeAll()
{
    if (!HasWindowManager()) {
        Warn("no window manager: other windows stay as they are");
        return false;
    }
    const quint32 ownPid = quint32(::getpid());
    const quint32 wmPid = Atom("_NET_WM_PID");
    const quint32 typeAtom = Atom("_NET_WM_WINDOW_TYPE");
    // Panels and the desktop itself are part of the screen, not windows the user works in.
    const QList<quint32> keep = {Atom("_NET_WM_WINDOW_TYPE_DOCK"), Atom("_NET_WM_WINDOW_TYPE_DESKTOP")};
    const quint32 changeState = Atom("WM_CHANGE_STATE");
    const quint32 wmState = Atom("_NET_WM_STATE");
    const quint32 hidden = Atom("_NET_WM_STATE_HIDDEN");
    for (quint32 w : ClientList()) {
        const QList<quint32> pid = Property32(w, wmPid, XCB_ATOM_CARDINAL);
        if (!pid.isEmpty() && pid.first() == ownPid)
            continue;
        bool skip = false;
        for (quint32 type : Property32(w, typeAtom, XCB_ATOM_ATOM))
            skip = skip || keep.contains(type);
        if (skip)
            continue;
        // Already minimised by the user: not ours to bring back later.
        if (Property32(w, wmState, XCB_ATOM_ATOM).contains(hidden))
            continue;
        SendRootMessage(w, changeState, {kIconicState, 0, 0, 0, 0});
        if (!m_minimized.contains(w))
            m_minimized.append(w);
    }
    return Flush();
}

void DesktopX11::RestoreMinimized()
{
    const QList<quint32> windows = std::exchange(m_minimized, {});
    if (windows.isEmpty() || !m_root)
        return;
    xcb_connection_t* c = Conn(m_conn);
    // ICCCM: mapping an iconic window asks the window manager to make it normal again. A window closed
    // meanwhile answers BadWindow, checked here so that it does not reach Qt's error handler.
    for (quint32 w : windows)
        std::free(xcb_request_check(c, xcb_map_window_checked(c, w)));
    Flush();
}

quint64 DesktopX11::ActiveWindow()
{
    const QList<quint32> active = m_root ? Property32(m_root, Atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW)
                                         : QList<quint32>();
    if (!active.isEmpty())
        return active.first();
    xcb_connection_t* c = Conn(m_conn);
    xcb_get_input_focus_reply_t* focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    const quint64 window = focus ? focus->focus : 0;
    std::free(focus);
    return window;
}

bool DesktopX11::RequestActivation(QWidget* window)
{
    if (!window || !m_root)
        return false;
    const auto wid = quint32(window->winId());
    xcb_connection_t* c = Conn(m_conn);
    const quint32 above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, wid, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    if (HasWindowManager()) {
        SendRootMessage(wid, Atom("_NET_ACTIVE_WINDOW"), {kSourcePager, XCB_CURRENT_TIME, 0, 0, 0});
        return Flush();
    }
    // Nobody to ask: take the focus directly. Fails (BadMatch) while the window is not viewable.
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_set_input_focus_checked(c, XCB_INPUT_FOCUS_POINTER_ROOT, wid, XCB_CURRENT_TIME));
    if (error) {
        Warn("the alarm window could not take the input focus", error->error_code);
        std::free(error);
        return false;
    }
    return Flush();
}

void DesktopX11::SetTopmost(QWidget* window)
{
    if (!window || !m_root || !HasWindowManager())
        return;
    SendRootMessage(quint32(window->winId()), Atom("_NET_WM_STATE"),
                    {kStateAdd, Atom("_NET_WM_STATE_ABOVE"), 0, kSourcePager, 0});
    Flush();
}
