#include "admin/AlertKeyHooks.h"

namespace AlertKeyHooks {

namespace {
Handlers g_handlers;
} // namespace

void Install(const Handlers& handlers)
{
    g_handlers = handlers;
}

bool CanArm(int keyCode)
{
    return g_handlers.canArm && g_handlers.canArm(keyCode);
}

void CaptureAlertKey(qint16 keyCode, qint16 shift, QLineEdit* box)
{
    if (g_handlers.capture)
        g_handlers.capture(keyCode, shift, box);
}

void ParseAlertKey(const QString& keyText, qint16 keyCode)
{
    if (g_handlers.parse)
        g_handlers.parse(keyText, keyCode);
}

void ApplyAlertKey(QWidget* form)
{
    if (g_handlers.apply)
        g_handlers.apply(form);
}

} // namespace AlertKeyHooks
