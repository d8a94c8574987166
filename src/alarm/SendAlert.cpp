#include "alarm/SendAlert.h"

#include "core/EventLog.h"
#include "core/Functions.h"
#include "ui/ForceFore.h"
#include "ui/Forms.h"
#include "ui/MainWindow.h"
#include "windows/AlarmIO.h"
#include "windows/frmAlarmSenderPopup.h"

#include <QCoreApplication>

#include <cstdio>

void SendAlert()
{
    // The alarm goes out first: minimising a busy desktop asks the X server about every window, and the
    // log waits as well as the screen does. Whether it left this station decides what the sender window and
    // the log say.
    const bool sent = AlarmIO::Send(QStringLiteral("004: "));

    // A desktop without a window manager cannot minimise or hand over the foreground; the alarm has gone
    // out all the same, so neither result stops anything below.
    if (!ForceFore::MinimizeAll())
        std::fputs("tavinor: SendAlert: the other windows could not be minimised\n", stderr);
    QCoreApplication::processEvents();

    if (MainWindow* main = MainWindow::Instance())
        main->AddReceive(QStringLiteral("Alarm wurde ausgelöst!"));
    Functions::WriteLog(Functions::StationName(), QStringLiteral("ALARM ausgelöst"));
    if (!sent)
        Functions::WriteLog(Functions::StationName(),
                            QStringLiteral("ALARM nicht gesendet: keine Verbindung zum Server"));

    AlarmIO::CloseTrayMenu();
    Forms::UnloadFormsExcept(QStringLiteral("frmMain,frmAlarmSenderPopup"));

    // A second press during the incident (people press twice in a panic) sends the alarm again for stations
    // that missed it, but keeps the record and the time; after "Ende" a press starts a new incident.
    frmAlarmSenderPopup* open = frmAlarmSenderPopup::Loaded();
    frmAlarmSenderPopup* popup = frmAlarmSenderPopup::Load();
    if (popup != open || !popup->IncidentRunning())
        popup->ResetForm();
    popup->AlarmSent(sent);
    if (!ForceFore::ForceForeground(popup))
        std::fputs("tavinor: SendAlert: the sender window could not be brought to the foreground\n", stderr);
}
