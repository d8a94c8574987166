#pragma once

#include <QColor>
#include <QDialog>
#include <QPoint>
#include <QRect>
#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The settings dialog: server or station, the server's address, the station's name, how alarms are shown,
// the alert key, the emergency-button check and the log file. Control arrays carry their index in the
// objectName ("optProgramType(1)", "chkAlert(0)").
class frmSettings : public QDialog
{
    Q_OBJECT
public:
    // Border colours of the server field (Windows colour values, red in the low byte).
    static constexpr int kNeutralColour = 12164479;
    static constexpr int kRedColour = 255;
    static constexpr int kGreenColour = 65280;

    explicit frmSettings(QWidget* owner = nullptr);

    // Fills the controls from the settings and enables them for the given program type.
    void ShowSettings(bool isServer);
    // Writes the settings, then either applies them at once or ends the program for a restart. False (nothing
    // written, the reason shown) while a value cannot be stored or the key cannot be armed.
    bool SaveSettings();
    // The dialog's part of the station's connection status: border colour and connect button.
    void SetConnectionStatus(bool connected);

    // The colour the border of the server field shows now.
    QColor ServerBorderColour() const { return m_border; }

    static QColor WindowsColour(int value);
    // Top-left corner in the lower right of `screen`: 50 twips from the right, 500 twips from the bottom.
    static QPoint Placement(const QRect& screen, const QSize& window, qreal dpiX, qreal dpiY);
    // The notice shown before the program ends for a restart.
    static QString RestartText();
    // The instruction of the folder browser for the log folder.
    static QString BrowseTitle();
    // Refusals: a key that cannot be armed, a station name or log path the settings file cannot hold.
    static QString KeyRefusedText();
    static QString StationNameText();
    static QString LogfileText();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void PlaceInCorner();
    void SetBorder(int windowsColour);
    bool ClientSelected() const;
    // Why the dialog's values cannot be saved; empty when they can.
    QString Refusal() const;

    void optProgramType_Click(int index);
    void cmdOK_Click();
    void cmdConnect_Click();
    void txtServer_Change();
    void chkAlert_Click();
    void cmdAlert_Click();
    void txtAlertkey_KeyDown(int keyCode, int shift);
    void cmdSetKey_Click();
    void cmdLogfile_Click();
    void cmdMonitor_Click();

    QLabel* lblTitle = nullptr;
    // Server view: where the stations reach this server.
    QLabel* lblOwnAddresses = nullptr;
    std::array<QGroupBox*, 3> frameSettings{};
    std::array<QRadioButton*, 2> optProgramType{};
    std::array<QLabel*, 4> lblSettings{};
    QLineEdit* txtServer = nullptr;
    QPushButton* cmdConnect = nullptr;
    QLineEdit* txtStationname = nullptr;
    std::array<QCheckBox*, 2> chkAlert{};
    std::array<QPushButton*, 2> cmdAlert{};
    QLineEdit* txtAlertkey = nullptr;
    QPushButton* cmdSetKey = nullptr;
    QCheckBox* chkCheckBuzzer = nullptr;
    QLineEdit* txtLogfile = nullptr;
    QPushButton* cmdLogfile = nullptr;
    QPushButton* cmdMonitor = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QColor m_border;
    bool m_responded = false;
    bool m_framePlaced = false;
};
