#pragma once

#include "log/IncidentReport.h"
#include "windows/AlarmWindow.h"

class QFrame;
class QLabel;
class QPushButton;
class QTableWidget;

// The window of the station that raised the alarm: the time since the alarm and the incident's course,
// the acknowledgements of the other stations and the steps recorded with F1 to F4. Ending the incident
// (F4) and closing the window cancel the alarm everywhere ("008: ").
class frmAlarmSenderPopup final : public AlarmWindow
{
    Q_OBJECT
public:
    // The loaded sender window, or nullptr.
    static frmAlarmSenderPopup* Loaded();
    // The open one, the one built ahead, or a fresh one owned by the main window.
    static frmAlarmSenderPopup* Load();
    // Builds the next sender window ahead, hidden and not loaded: an alarm then only fills and shows it.
    static void Prebuild();

    explicit frmAlarmSenderPopup(QWidget* owner = nullptr);
    ~frmAlarmSenderPopup() override;

    // Ready for a new alarm: time 0, empty list, all four steps usable, first entry "... hat Notruf ausgelöst ".
    void ResetForm();
    // True from ResetForm until the incident is ended with "F4 - Ende".
    bool IncidentRunning() const;
    // Whether the alarm (004) reached the server. An alarm that did not is sent as soon as the station is
    // registered again, as long as this window is open and the incident not ended; the window says which.
    void AlarmSent(bool sent);
    bool AlarmWaiting() const { return m_waiting; }
    // The station is registered with its server again. A waiting alarm goes out a few seconds later: the
    // other stations, which lost the server at the same time, reconnect in that time and receive it too.
    void LinkUp();
    static constexpr int kSettleMs = 5000;
    // The relay line of an acknowledgement (007) without CR LF.
    void addTextMessage(const QString& value);
    // The delivery receipts of this alarm: how many stations show it, and which do not.
    void ShowReceipts(const QString& text);
    // One tick of the one-second timer (public so that tests can drive it with their clock).
    void alertTimer_Timer();

    // The incident is over (F4): the headline says so, the time stands still, the steps are disabled.
    bool IsEnded() const { return m_ended; }
    // The incident as recorded so far.
    const Incident& CurrentIncident() const { return m_incident; }
    // Path of the report written when the incident ended; empty before or when it failed.
    QString ReportPath() const { return m_reportPath; }

protected:
    bool PreviewKey(int key) override;
    void ClosedByUser() override;
    void OnUnload() override;

private:
    frmAlarmSenderPopup(QWidget* owner, bool loaded);
    static SpareWindow& Spare();
    void AddEntry(const QString& text, const QString& time);
    void ShowDelivery(const QString& text, bool problem);
    void SendWaitingAlarm();
    void RecordStep(QPushButton* button, const QString& text);
    static QString TimeNow();
    static QString SentNotice();
    // Ends the incident: ended state, and the report once (`how`: what ended it).
    void EndIncident(const QString& how);

    QLabel* lblTitle;
    QLabel* lblStation;
    QLabel* lblNotruf;
    QLabel* lblAlert;
    QLabel* lblEnded;
    QLabel* lblTimeleft;
    QLabel* lblTimeCounter;
    QLabel* lblReceipts;
    QLabel* picLogo;
    QFrame* fraSteps;
    QPushButton* btnHelpArrived;
    QPushButton* btnEquipment;
    QPushButton* btnShock;
    QPushButton* btnEnde;
    QPushButton* btnClose;
    QTableWidget* gridLog;
    QLabel* lblDelivery;
    QTimer* m_settleTimer;
    bool m_waiting = false;
    Incident m_incident;
    bool m_running = false; // an incident is recorded and its report not yet written
    bool m_ended = false;
    qint64 m_endedElapsed = 0;
    QString m_reportPath;
};
