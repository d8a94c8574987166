#include "platform/Desktop.h"

#include "platform/DesktopX11.h"

#include <QGuiApplication>

namespace {
Desktop* g_override = nullptr;
} // namespace

Desktop& Desktop::Instance()
{
    if (g_override)
        return *g_override;
    static NullDesktop none;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (Desktop* x11 = DesktopX11::Instance())
            return *x11;
    }
    return none;
}

void Desktop::SetForTests(Desktop* desktop)
{
    g_override = desktop;
}
