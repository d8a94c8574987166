#pragma once

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
    // The open one, or a fresh one owned by the main window.
    static frmAlarmSenderPopup* Load();

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
    // One tick of the one-second timer (public so that tests can drive it with their clock).
    void alertTimer_Timer();

protected:
    bool PreviewKey(int key) override;
    void ClosedByUser() override;

private:
    void AddEntry(const QString& text, const QString& time);
    void ShowDelivery(const QString& text, bool problem);
    void SendWaitingAlarm();
    void RecordStep(QPushButton* button, const QString& text);
    static QString TimeNow();
    static QString SentNotice();

    QLabel* lblTitle;
    QLabel* lblStation;
    QLabel* lblAlert;
    QLabel* lblTimeleft;
    QLabel* lblTimeCounter;
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
};
