#pragma once

#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <functional>

class QKeyEvent;
class QLabel;
class QLayout;
class QTimer;

// What the receiver and the sender alarm window share: a single registered instance that stays on top,
// a one-second timer from load, the elapsed time since the alarm, keys seen before any control (key
// preview), and one rule for closing: closed by the user (its button or the window manager) it reports
// that to the network; unloaded by the program it says nothing.
class AlarmWindow : public QWidget
{
    Q_OBJECT
public:
    QTimer* alertTimer() const { return m_alertTimer; }
    // Whole seconds since load or the last restart, on the alarm clock.
    qint64 ElapsedSeconds() const;

signals:
    // The window has left the program's window list (closed or unloaded); emitted once.
    void Unloaded();

protected:
    // `loaded` false builds the window ahead: hidden, untitled, its clock stopped and not in the program's
    // window list until Arm().
    AlarmWindow(const QString& name, const QString& caption, QWidget* owner, bool loaded = true);

    // From here on the window is loaded: in the window list, titled, its clock running from now.
    void Arm();

    void RestartElapsed();
    // Call once the controls exist: keys reach PreviewKey first, whichever control has the focus.
    void InstallKeyPreview();
    // True when the key was the window's business.
    virtual bool PreviewKey(int key) = 0;
    // True when a key press or release must not reach the window or its controls at all.
    virtual bool BlocksKey(const QKeyEvent&) const { return false; }
    // The user closed the window: tell the network.
    virtual void ClosedByUser() = 0;
    // The window goes, however it goes: timer off, then OnUnload, once. Derived destructors call it too.
    void Unload();
    virtual void OnUnload() {}

    // Large, bold caption text for the alarm's headline labels.
    static QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, qreal scale = 1.0,
                             bool bold = false);
    // The headline as one sentence, centred: "<who> hat den" / "NOTRUF" (very large) / "ausgelöst!".
    static QLayout* MakeHeadline(QLabel* station, QLabel* notruf, QLabel* alert);
    // Font of `label` at `pixels` high (screen-scaled type).
    static void SetPixelSize(QLabel* label, int pixels);

    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

    QTimer* m_alertTimer;

private:
    QString m_caption;
    QDateTime m_start;
    // A window built ahead has nothing to unload until it is armed.
    bool m_unloaded = true;

    friend class SpareWindow;
};

// The next window of one kind, built ahead: hidden, untitled and not in the window list, its native window,
// fonts and drawings warmed up. An alarm takes it, arms it and only fills and shows it; the next one is
// built a moment later, or at once when the window taken goes before that (alarms may follow quickly).
class SpareWindow
{
public:
    // `build` makes one window ahead (not loaded) and warms it up.
    explicit SpareWindow(std::function<AlarmWindow*()> build);
    // Builds the spare unless there is one or the program is ending.
    void Build();
    // The spare, armed; nullptr when there is none.
    AlarmWindow* Take();

private:
    std::function<AlarmWindow*()> m_build;
    QPointer<AlarmWindow> m_spare;
    // One pending rebuild at a time: a stale one must not fall into the next alarm.
    QPointer<QTimer> m_rebuild;
};
