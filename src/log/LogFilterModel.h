#pragma once

#include <QAbstractTableModel>
#include <vector>

class LogModel;

// The rows of the event log that the viewer's filters let through, in file order, over the log model:
// either every row (no filter) or the rows a filter pass found, growing as the pass finds them. The "ID"
// column keeps the row's number in the whole log.
class LogFilterModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit LogFilterModel(LogModel* source, QObject* parent = nullptr);

    // Every row of the source; `filtered`: as the result of a filter that let every row through.
    void ShowAll(bool filtered = false);
    // Starts an empty selection; Append adds what a pass finds.
    void BeginSelection();
    void Append(const QList<int>& rows);
    // A complete selection at once.
    void ShowRows(std::vector<int> rows);
    bool IsFiltered() const { return m_filtered; }
    // Row number in the source for a row of this model.
    int SourceRow(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    LogModel* m_source;
    // Until the first pass has run, nothing: the grid must not lay out millions of rows only to drop them.
    bool m_filtered = true;
    bool m_everyRow = false; // filtered, and every row passed: no list needed
    std::vector<int> m_rows;
};
