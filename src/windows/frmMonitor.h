#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>

class QLabel;
class QPushButton;
class QTableWidget;

namespace Network {
class AlarmNet;
}

// The status monitor: the server's station slots as they were at the last refresh, one row each with
// the slot number (hidden), name and address, connection state and alarm presentation. Controls: lblTitle,
// lvwStatus, lblTime, lblLegend, cmdAktualisieren, cmdClose, tmrRefresh. It refreshes when opened, on
// request and every few seconds by itself; stations that are not connected are shown in red.
class frmMonitor : public QDialog
{
    Q_OBJECT
public:
    // Opens the monitor modally over `owner` (the settings dialog, or the main window from the server's
    // tray), unless something closed it during its first refresh. `net` as for the constructor.
    static void ShowMonitor(QWidget* owner, Network::AlarmNet* net = nullptr);

    // Seconds between two refreshes of their own.
    static constexpr int RefreshSeconds = 3;

    // `net`: the slot table to show; nullptr: the main window's.
    explicit frmMonitor(QWidget* owner = nullptr, Network::AlarmNet* net = nullptr);

    void Refresh();
    // The grid's rows as texts, cells joined by tabs (the ID column included).
    QStringList RowTexts() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    void AddRow(const QString& row);

    QLabel* lblTitle;
    QTableWidget* lvwStatus;
    QLabel* lblTime;
    QLabel* lblLegend;
    QPushButton* cmdAktualisieren;
    QPushButton* cmdClose;
    QPointer<Network::AlarmNet> m_net;
    bool m_closed = false;
    bool m_refreshing = false;
};
