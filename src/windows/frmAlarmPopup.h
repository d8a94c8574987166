#pragma once

#include "windows/AlarmWindow.h"

#include <QRect>

class QFrame;
class QLabel;
class QPushButton;

// The window of a station that receives an alarm: who needs help, what to do, the time since the alarm;
// flashes red and white, beeps and pulses the emergency button's LED and buzzer every second. Closing it
// acknowledges the alarm ("006: ").
class frmAlarmPopup final : public AlarmWindow
{
    Q_OBJECT
public:
    // A relay line of an alarm (005, trainee false) or of a training alarm (011, trainee true), as the
    // station's link received it without CR LF.
    // How an alarm was presented: the station's delivery receipt reports it.
    enum class Presented { Nothing, OwnAlarm, Window, ToneOnly, HeldBack };
    static Presented ShowAlertReceiver(const QString& value, bool trainee = false);
    // The settings dialog's local test: `value` is the name to show.
    static void TestAlertReceiver(const QString& value, bool akustisch, bool visuell);
    // The loaded receiver window, or nullptr.
    static frmAlarmPopup* Loaded();
    // Builds the next receiver window ahead, hidden and not loaded, with fonts and drawing warmed up: an
    // alarm then only fills and shows it. Once used, the next one is built a moment after each alarm.
    static void Prebuild();

    explicit frmAlarmPopup(QWidget* owner = nullptr);
    ~frmAlarmPopup() override;

    // One tick of the one-second timer (public so that tests can drive it with their clock).
    void alertTimer_Timer();

    // Keys pressed this long after the window appeared do nothing: they were meant for another program.
    static constexpr int KeyGuardMs = 1500;

    bool Acoustic() const { return m_acoustic; }
    // Opened by the settings dialog's test: closing it acknowledges nothing.
    bool IsTest() const { return m_test; }
    quint8 OutputPattern() const { return m_pattern; }
    bool ShowsRed() const { return m_red; }

    // Where the window goes on a screen with this available area, and the height of its body text in
    // pixels: centred, at least half the screen each way, type scaled to the screen (pure).
    struct ScreenFit
    {
        QRect geometry;
        int textPixels = 0;
    };
    static ScreenFit FitToScreen(const QRect& available);
    // Sizes, places and scales the window for a screen's available area.
    void ApplyScreen(const QRect& available);

protected:
    bool BlocksKey(const QKeyEvent& event) const override;
    bool PreviewKey(int key) override;
    void ClosedByUser() override;
    void OnUnload() override;
    void showEvent(QShowEvent* event) override;

private:
    frmAlarmPopup(QWidget* owner, bool loaded);
    // Loads the window: the open one, the one built ahead, or a fresh one owned by the main window.
    static frmAlarmPopup* Load();
    static SpareWindow& Spare();
    // Sizes the window big and centred on the screen the user works on (where the mouse is); shown by
    // ForceForeground.
    void PlaceOnUserScreen();
    void Paint();

    QLabel* lblTitle;
    QLabel* lblStation;
    QLabel* lblNotruf;
    QLabel* lblAlert;
    QLabel* lblTask1;
    QLabel* lblTask2;
    QLabel* lblTask3;
    QLabel* lblTimeleft;
    QLabel* lblTimeCounter;
    QLabel* picLogo;
    QFrame* fraAlarm;
    QPushButton* btnClose;
    bool m_acoustic = false;
    bool m_trainee = false;
    bool m_test = false;
    // Shown in the tray instead of on the screen (acoustic alerting alone).
    bool m_inTray = false;
    QDateTime m_shownAt;
    quint8 m_pattern = 255;
    bool m_red = true;
};
