#include "net/AlarmHooks.h"

namespace AlarmHooks {

namespace {
Handlers g_handlers;
} // namespace

void Install(const Handlers& handlers)
{
    g_handlers = handlers;
}

Shown ShowAlertReceiver(const QString& line, bool trainee)
{
    return g_handlers.showAlertReceiver ? g_handlers.showAlertReceiver(line, trainee) : Shown::Nothing;
}

void WhenReceiverOnScreen(std::function<void()> done)
{
    if (g_handlers.whenReceiverOnScreen)
        g_handlers.whenReceiverOnScreen(std::move(done));
}

void ShowReceipts(const QString& text)
{
    if (g_handlers.showReceipts)
        g_handlers.showReceipts(text);
}

void AlarmAcknowledged(const QString& line)
{
    if (g_handlers.alarmAcknowledged)
        g_handlers.alarmAcknowledged(line);
}

void AlarmCancelled(const QString& line)
{
    if (g_handlers.alarmCancelled)
        g_handlers.alarmCancelled(line);
}

void ShowSettingsConnectionStatus(bool connected)
{
    if (g_handlers.showSettingsConnectionStatus)
        g_handlers.showSettingsConnectionStatus(connected);
}

void PollEmergencyButtonOnce()
{
    if (g_handlers.pollEmergencyButtonOnce)
        g_handlers.pollEmergencyButtonOnce();
}

} // namespace AlarmHooks
