#pragma once

#include "log/LogIndex.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTimer>

// The event log as a table for the viewer's grid: "ID" and the four fields of each usable line. Rows are
// read from the file when the grid asks for them; only a few hundred decoded rows are kept.
class LogModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColId, ColDate, ColTime, ColStation, ColEvent, ColumnCount };

    explicit LogModel(QObject* parent = nullptr);

    // Starts reading `path` in slices from the event loop; Loaded() follows, also for a missing file.
    // The grid stays empty until then, so it does not redraw for every slice.
    void Load(const QString& path);
    bool IsLoading() const { return m_timer.isActive(); }
    // The file being shown, where row `row` starts in it, and how far it was read (for the filters).
    QString Path() const { return m_path; }
    qint64 RowStart(int row) const { return m_index.RowStart(row); }
    qint64 LoadedBytes() const { return m_index.Size(); }
    // Rows that are not 001/002 chatter, known from the load without reading the file again.
    int ChatterRows() const { return m_rows ? m_index.ChatterRows() : 0; }
    std::vector<int> RowsWithoutChatter() const { return m_rows ? m_index.RowsWithoutChatter() : std::vector<int>(); }
    // Fields 0 to 3 of a row.
    const LogIndex::Fields& Fields(int row) const { return CachedRow(row); }

    // How long one slice may hold the event loop, and how much it reads at a time. Tests shrink both to
    // force a load into many slices.
    void SetSliceLimits(int millis, qint64 chunkBytes);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    void Loaded();

private:
    void Step();
    const LogIndex::Fields& CachedRow(int row) const;

    mutable LogIndex m_index;
    QString m_path;
    QTimer m_timer;
    int m_sliceMillis = 15;
    qint64 m_chunkBytes = 1 << 20;
    int m_rows = 0; // rows shown; stays 0 until the scan is complete

    struct CacheEntry
    {
        int row = -1;
        LogIndex::Fields fields;
    };
    static constexpr int CacheSize = 512;
    mutable std::vector<CacheEntry> m_cache;
};
