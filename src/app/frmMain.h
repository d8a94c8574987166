#pragma once

#include "ui/MainWindow.h"

#include <QWidget>

class QLabel;
class QMenu;
class QAction;
class QPlainTextEdit;
class QPushButton;
class QTimer;

// The hidden main window: it starts the program, owns its state, timers and tray menu, and ends it.
class frmMain : public QWidget, public MainWindow
{
    Q_OBJECT
public:
    // The start: refuses a second copy in the same program folder, creates the main window and runs the
    // start sequence. False when this process is to end at once.
    static bool Load();
    // The running main window, or nullptr.
    static frmMain* Instance();

    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    void InitProgram();
    void UpdateVariables(bool Init = false) override;
    void ExitProgram(bool AskCancel = false);
    // The end that settings ask for: at once, or as soon as no alarm window is open any more.
    void ExitWhenNoAlarm() override;
    // Whether a receiver or sender alarm window is open.
    static bool AlarmWindowOpen();

    // "tavinor --alarm": raises the alarm exactly as the alert key does; empty, or why not.
    QString RaiseFromCommandLine();

    // Appends a line to the activity trace; the trace empties itself past 1024 characters.
    void AddReceive(const QString& line) override;

    QTimer* connectTimer() const override { return m_connectTimer; }
    QTimer* checkConnectTimer() const override { return m_checkConnectTimer; }
    QTimer* exitTimer() const override { return m_exitTimer; }
    QTimer* ioWarriorTimer() const override { return m_ioWarrior; }
    QMenu* mnuPopup() const override { return m_mnuPopup; }
    // The tray menu entry with this key ("popUp1" ... "popUp15").
    QAction* MenuEntry(const QString& key) const override;

    // The question ExitProgram asks in this mode.
    static QString ExitQuestion(bool server);
    // The notice when a station lost its server for good.
    static QString LostServerText();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildPopUp();
    void mnuMainbar_Click(QAction* entry);
    void ShowMonitorEntry(bool server);
    void exitTimer_Timer();
    void txtReceive_Change();
    void Unload();

    QLabel* Picture1 = nullptr;
    QLabel* lblAddresses = nullptr;
    QPlainTextEdit* txtReceive = nullptr;
    QPushButton* cmdHide = nullptr;
    QPushButton* cmdCancel = nullptr;
    QTimer* m_connectTimer = nullptr;
    QTimer* m_checkConnectTimer = nullptr;
    QTimer* m_exitTimer = nullptr;
    QTimer* m_ioWarrior = nullptr;
    QMenu* m_mnuPopup = nullptr;
    bool m_keyPreview = false;
    bool m_unloaded = false;
    bool m_lostNoticeOpen = false;
    bool m_lostNoticeShown = false;
    bool m_startLogPending = false;
    QTimer* m_exitWhenNoAlarm = nullptr;
};
