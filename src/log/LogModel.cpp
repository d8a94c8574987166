#include "log/LogModel.h"

LogModel::LogModel(QObject* parent) : QAbstractTableModel(parent), m_cache(CacheSize)
{
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &LogModel::Step);
}

void LogModel::Load(const QString& path)
{
    beginResetModel();
    m_rows = 0;
    for (CacheEntry& e : m_cache)
        e.row = -1;
    m_path = path;
    m_index.Open(path); // no file: nothing to scan, the first slice ends the load
    endResetModel();
    m_timer.start();
}

void LogModel::SetSliceLimits(int millis, qint64 chunkBytes)
{
    m_sliceMillis = millis;
    m_chunkBytes = chunkBytes;
}

void LogModel::Step()
{
    // One slice, then back to the event loop: alarms and socket events must not wait for a long log.
    QElapsedTimer slice;
    slice.start();
    bool done;
    do {
        done = m_index.Scan(m_chunkBytes);
    } while (!done && slice.elapsed() < m_sliceMillis);
    if (!done)
        return;
    m_timer.stop();
    beginResetModel();
    m_rows = m_index.RowCount();
    endResetModel();
    emit Loaded();
}

int LogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int LogModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const LogIndex::Fields& LogModel::CachedRow(int row) const
{
    CacheEntry& e = m_cache[size_t(row % CacheSize)];
    if (e.row != row) {
        e.fields = m_index.Row(row);
        e.row = row;
    }
    return e.fields;
}

QVariant LogModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    if (role == Qt::TextAlignmentRole)
        return headerData(index.column(), Qt::Horizontal, role);
    if (role != Qt::DisplayRole)
        return {};
    // The running number follows the usable lines, so skipped lines leave no gap.
    if (index.column() == ColId)
        return QString::number(index.row() + 1);
    return CachedRow(index.row())[size_t(index.column() - ColDate)];
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole) {
        const bool centred = section == ColDate || section == ColTime;
        return QVariant::fromValue(Qt::Alignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColId:
        return QStringLiteral("ID");
    case ColDate:
        return QStringLiteral("Datum");
    case ColTime:
        return QStringLiteral("Uhrzeit");
    case ColStation:
        return QStringLiteral("Station");
    case ColEvent:
        return QStringLiteral("Ereignis");
    default:
        return {};
    }
}
