#include "net/AlarmHooks.h"

#include "admin/frmSettings.h"
#include "alarm/ioWarrior.h"
#include "core/Forms.h"
#include "windows/frmAlarmPopup.h"
#include "windows/frmAlarmSenderPopup.h"

// The alarm windows, the settings dialog and the button poll plug in here.
namespace AlarmHooks {

void ShowAlertReceiver(const QString& line, bool trainee)
{
    frmAlarmPopup::ShowAlertReceiver(line, trainee);
}
void AlarmAcknowledged(const QString& line)
{
    if (frmAlarmSenderPopup* sender = frmAlarmSenderPopup::Loaded())
        sender->addTextMessage(line);
}
void AlarmCancelled(const QString&)
{
    if (frmAlarmPopup* receiver = frmAlarmPopup::Loaded())
        Forms::Unload(receiver);
}
void ShowSettingsConnectionStatus(bool connected)
{
    if (auto* settings = qobject_cast<frmSettings*>(Forms::Find(QStringLiteral("frmSettings"))))
        settings->SetConnectionStatus(connected);
}
void PollEmergencyButtonOnce()
{
    ioWarrior::PollEmergencyButton();
}

} // namespace AlarmHooks
