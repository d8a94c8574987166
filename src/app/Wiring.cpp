#include "app/Wiring.h"

#include "admin/AlertKeyHooks.h"
#include "admin/frmSettings.h"
#include "alarm/Hooklib.h"
#include "alarm/ioWarrior.h"
#include "net/AlarmHooks.h"
#include "ui/Forms.h"
#include "windows/AlarmIO.h"
#include "windows/frmAlarmPopup.h"
#include "windows/frmAlarmSenderPopup.h"

#include <QEvent>
#include <QWindow>

namespace Wiring {

using AlarmHooks::Shown;

namespace {

// Waits for the first expose of a window that is shown, once; dies with the window.
class ExposeWatch : public QObject
{
public:
    ExposeWatch(QWindow* window, QObject* owner, std::function<void()> done)
        : QObject(owner), m_window(window), m_done(std::move(done))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::Expose && m_window->isExposed() && m_done) {
            m_window->removeEventFilter(this);
            const std::function<void()> done = std::move(m_done);
            m_done = nullptr;
            deleteLater();
            done();
        }
        return false;
    }

private:
    QWindow* m_window;
    std::function<void()> m_done;
};

Shown ShowAlertReceiver(const QString& line, bool trainee)
{
    switch (frmAlarmPopup::ShowAlertReceiver(line, trainee)) {
    case frmAlarmPopup::Presented::Nothing:
        return Shown::Nothing;
    case frmAlarmPopup::Presented::OwnAlarm:
        return Shown::OwnAlarm;
    case frmAlarmPopup::Presented::Window:
        return Shown::Window;
    case frmAlarmPopup::Presented::HeldBack:
        return Shown::HeldBack;
    case frmAlarmPopup::Presented::ToneOnly:
        break;
    }
    return Shown::ToneOnly;
}

void WhenReceiverOnScreen(std::function<void()> done)
{
    frmAlarmPopup* popup = frmAlarmPopup::Loaded();
    QWindow* window = popup && popup->isVisible() ? popup->windowHandle() : nullptr;
    if (!window)
        return;
    if (window->isExposed())
        done();
    else
        new ExposeWatch(window, popup, std::move(done));
}

void ShowReceipts(const QString& text)
{
    if (frmAlarmSenderPopup* sender = frmAlarmSenderPopup::Loaded())
        sender->ShowReceipts(text);
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

} // namespace

void Install()
{
    AlarmHooks::Install({ShowAlertReceiver, WhenReceiverOnScreen, ShowReceipts, AlarmAcknowledged, AlarmCancelled,
                         ShowSettingsConnectionStatus, ioWarrior::PollEmergencyButton});
    AlertKeyHooks::Install({Hooklib::CanArm, Hooklib::CaptureAlertKey,
                            [](const QString& text, qint16 code) { Hooklib::ParseAlertKey(text, code); },
                            [](QWidget* form) { Hooklib::ApplyAlertKey(form); }});
    AlarmIO::SetButtonOutputs(ioWarrior::SetButtonOutputs);
}

} // namespace Wiring
