#include "log/LogFilterModel.h"

#include "log/LogModel.h"

LogFilterModel::LogFilterModel(LogModel* source, QObject* parent) : QAbstractTableModel(parent), m_source(source)
{
    // The source changes only as a whole (a new load).
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, &LogFilterModel::beginResetModel);
    connect(source, &QAbstractItemModel::modelReset, this, [this] {
        m_rows.clear(); // row numbers of the earlier load
        endResetModel();
    });
}

void LogFilterModel::ShowAll(bool filtered)
{
    beginResetModel();
    m_filtered = filtered;
    m_everyRow = true;
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

void LogFilterModel::BeginSelection()
{
    beginResetModel();
    m_filtered = true;
    m_everyRow = false;
    m_rows.clear();
    endResetModel();
}

void LogFilterModel::Append(const QList<int>& rows)
{
    if (m_everyRow || rows.isEmpty())
        return;
    const int first = int(m_rows.size());
    beginInsertRows(QModelIndex(), first, first + int(rows.size()) - 1);
    m_rows.insert(m_rows.end(), rows.begin(), rows.end());
    endInsertRows();
}

void LogFilterModel::ShowRows(std::vector<int> rows)
{
    beginResetModel();
    m_filtered = true;
    m_everyRow = false;
    m_rows = std::move(rows);
    endResetModel();
}

int LogFilterModel::SourceRow(int row) const
{
    if (m_everyRow)
        return row;
    return row >= 0 && size_t(row) < m_rows.size() ? m_rows[size_t(row)] : -1;
}

int LogFilterModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_everyRow ? m_source->rowCount() : int(m_rows.size());
}

int LogFilterModel::columnCount(const QModelIndex& parent) const
{
    return m_source->columnCount(parent);
}

QVariant LogFilterModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = SourceRow(index.row());
    return row < 0 ? QVariant() : m_source->data(m_source->index(row, index.column()), role);
}

QVariant LogFilterModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return m_source->headerData(section, orientation, role);
}
