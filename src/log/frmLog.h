#pragma once

#include "log/LogFilter.h"

#include <QDialog>
#include <QRect>
#include <functional>

class LogFilterModel;
class LogGrid;
class LogModel;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class QWidget;

// The log viewer window: the event log as a read-only table, oldest event first, the newest in view, with
// filters (search text, date range, station, kind of event; the 001/002 registrations hidden unless
// asked for), "show this alarm" for the rows of one incident, and the incident reports.
// Controls: lblTitle, the grid lvwLog, cmdClose; fraFilter with txtSearch, chkFrom/dtpFrom, chkTo/dtpTo,
// cboStation, chkAlarme, chkQuittierungen, chkVerbindungen, chkSonstige, chkChatter, cmdShowAlarm,
// cmdResetFilter, lblStatus; cboReports and cmdOpenReport.
class frmLog : public QDialog
{
    Q_OBJECT
public:
    // Opens the viewer owned by `owner`: modal when `modal`, never twice (an open viewer is brought forward).
    static void ShowLog(QWidget* owner, bool modal);

    explicit frmLog(QWidget* owner = nullptr);

    // The whole log, and the rows the filters let through (what the grid shows).
    LogModel* Model() const { return m_model; }
    LogFilterModel* Shown() const { return m_shown; }
    LogFilter* Filter() const { return m_filter; }
    // The filters as the controls set them now.
    LogCriteria Criteria() const;
    // The selected row of Shown() (-1: none), selecting one and bringing it into view, and whether a row is
    // on screen. The grid holds only the rows on screen, so its own indexes count from the top row shown.
    int CurrentRow() const;
    void SetCurrentRow(int row);
    bool RowInView(int row) const;
    // Shows the rows of the incident of grid row `row` (an alarm row); false when it is none.
    bool ShowAlarm(int row);

    // Where the controls go for a given inner size; everything in pixels. The margins never push a size
    // below zero, however small the window is made.
    struct Layout
    {
        QRect title, grid, close;
    };
    static Layout ComputeLayout(QSize inner, QRect title, QRect grid, QSize close, int margin);

    // Test seam: receives the report file that would be opened on the desktop. nullptr: the desktop.
    static void SetReportOpenerForTests(std::function<void(const QString&)> opener);

signals:
    // The log is in the grid and its newest row is in view (after the load and its filter pass).
    void LogShown();
    // A filter pass is complete.
    void FilterDone();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LoadLog();
    void OnLoaded();
    void ApplyFilter();
    void RunFilter(const LogCriteria& criteria, int firstRow);
    void OnFilterFinished();
    void UpdateAlarmButton();
    void FitColumns();
    void ListReports();
    void OpenReport();
    void ApplyLayout();
    int TwipsX(int twips) const;
    int TwipsY(int twips) const;

    QLabel* lblTitle;
    QTableView* lvwLog;
    QPushButton* cmdClose;
    QWidget* fraFilter;
    QLineEdit* txtSearch;
    QCheckBox* chkFrom;
    QDateEdit* dtpFrom;
    QCheckBox* chkTo;
    QDateEdit* dtpTo;
    QComboBox* cboStation;
    QCheckBox* chkAlarme;
    QCheckBox* chkQuittierungen;
    QCheckBox* chkVerbindungen;
    QCheckBox* chkSonstige;
    QCheckBox* chkChatter;
    QPushButton* cmdShowAlarm;
    QPushButton* cmdResetFilter;
    QLabel* lblStatus;
    QLabel* lblReports;
    QComboBox* cboReports;
    QPushButton* cmdOpenReport;
    LogGrid* m_grid; // lvwLog
    LogModel* m_model;
    LogFilterModel* m_shown;
    LogFilter* m_filter;
    LogFilter* m_stationPass; // collects the stations for the list when the default view needed no pass
    QTimer* m_typing;
    bool m_loaded = false;
    bool m_firstShow = true;
    QString m_incidentText;
};
