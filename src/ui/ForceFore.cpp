#include "ui/ForceFore.h"

#include "platform/Desktop.h"

#include <QWidget>

namespace ForceFore {

bool ForceForeground(QWidget* window)
{
    if (!window)
        return false;
    Desktop& desktop = Desktop::Instance();
    // Asking again for the window that already has the focus would only make some window managers flash it.
    // A window that is only now shown cannot have it: the X server is not asked then.
    if (window->isVisible() && !window->isMinimized()) {
        const quint64 active = desktop.ActiveWindow();
        if (active != 0 && active == quint64(window->winId()))
            return true;
    }

    if (window->isMinimized())
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
    return desktop.RequestActivation(window);
}

bool MinimizeAll()
{
    return Desktop::Instance().MinimizeAll();
}

void RestoreMinimized()
{
    Desktop::Instance().RestoreMinimized();
}

} // namespace ForceFore
