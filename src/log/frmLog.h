#pragma once

#include <QDialog>
#include <QRect>

class LogModel;
class QLabel;
class QPushButton;
class QTableView;

// The log viewer window: the event log as a read-only table, oldest event first, the newest in view.
// Controls: lblTitle, the grid lvwLog, cmdClose.
class frmLog : public QDialog
{
    Q_OBJECT
public:
    // Opens the viewer owned by `owner`: modal when `modal`, never twice (an open viewer is brought forward).
    static void ShowLog(QWidget* owner, bool modal);

    explicit frmLog(QWidget* owner = nullptr);

    LogModel* Model() const { return m_model; }

    // Where the controls go for a given inner size; everything in pixels. The margins never push a size
    // below zero, however small the window is made.
    struct Layout
    {
        QRect title, grid, close;
    };
    static Layout ComputeLayout(QSize inner, QRect title, QRect grid, QSize close, int margin);

signals:
    // The log is in the grid and its newest row is in view.
    void LogShown();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LoadLog();
    void OnLoaded();
    void ApplyLayout();
    int TwipsX(int twips) const;
    int TwipsY(int twips) const;

    QLabel* lblTitle;
    QTableView* lvwLog;
    QPushButton* cmdClose;
    LogModel* m_model;
};
