#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <array>
#include <memory>
#include <utility>
#include <vector>

// Where the rows of the event log start in the file. The log is never rotated, so after a year it holds
// millions of lines: instead of loading it, the viewer keeps only the offset of each usable line (about 2
// bytes per row) and reads the few rows on screen when they are painted. The scan runs in slices so the caller
// can hand control back to the event loop in between.
class LogIndex
{
public:
    using Fields = std::array<QString, 4>;

    LogIndex();

    // Opens `path` for reading and starts a new scan; the file's current size is the end of the scan, so
    // lines appended later are left for the next opening. False when there is no readable file.
    bool Open(const QString& path);
    void Close();
    bool IsOpen() const { return m_file.isOpen(); }

    // Scans at most `maxBytes` further bytes. Returns true once the whole file has been scanned.
    bool Scan(qint64 maxBytes);
    bool AtEnd() const { return m_scanPos >= m_size; }
    qint64 ScannedBytes() const { return m_scanPos; }
    qint64 Size() const { return m_size; }

    // Lines with at least four ";"-separated fields, in file order.
    int RowCount() const { return m_rows; }
    // Fields 0 to 3 of row `row`, decoded from Windows-1252; the fifth field onwards is dropped. A row that
    // can no longer be read (the file was cut short meanwhile) gives empty fields.
    Fields Row(int row);
    // True when row `row` is 001/002 registration chatter by its event code: the viewer hides it by default
    // and must not read the file a second time only to tell.
    bool IsChatter(int row) const
    {
        const Chunk& c = m_chunks[size_t(row >> ChunkShift)];
        const int i = row & ((1 << ChunkShift) - 1);
        return (c.chatter[i >> 6] >> (i & 63)) & 1;
    }
    int ChatterRows() const { return m_chatterRows; }
    // Rows that are not chatter, in file order.
    std::vector<int> RowsWithoutChatter() const;
    // Where row `row` starts in the file (for passes that read the file themselves).
    qint64 RowStart(int row) const { return row <= 0 ? 0 : row >= m_rows ? m_size : RowOffset(row); }

    // A displayed line is read at most this far: a runaway line must not pull megabytes into one cell.
    static constexpr int MaxLineBytes = 64 * 1024;

    // The fields of one raw line (line end already removed), exactly as the viewer shows them.
    static Fields SplitLine(const QByteArray& line);

private:
    // Offsets cost about two bytes a row: every 64th row keeps its full offset, the rows between keep the
    // distance from the row before (a line is rarely longer than 64 KiB; a longer distance is kept aside).
    // Rows are stored in chunks of fixed size, so growing never copies what is already indexed.
    static constexpr int GroupShift = 6;
    static constexpr int ChunkShift = 16;
    // Filled by index, as the hot loop of the scan cannot afford a size check per row.
    struct Chunk
    {
        qint64* base;     // per group of 64 rows
        quint16* step;    // per row; 0 for the first of a group and for a distance kept aside
        quint64* chatter; // a bit per row
    };
    // The chunks live in blocks of 2 MiB that the kernel may back with huge pages: taking tens of megabytes
    // page by page costs more than the scan itself.
    static constexpr size_t BlockSize = size_t(2) << 20;
    struct BlockFree
    {
        void operator()(char* p) const;
    };
    char* Take(size_t bytes);

    void ScanBytes(const char* start, qint64 length);
    void CountSemicolons(quint64 bits, const char* block);
    void NoteEvent(const char* from);
    void AddRow(qint64 offset, bool chatter);
    void EndLine(qint64 nextLineStart);
    qint64 RowOffset(int row) const;

    QFile m_file;
    qint64 m_size = 0;
    qint64 m_scanPos = 0;
    qint64 m_lineStart = 0;
    int m_semicolons = 0; // in the line being scanned, counted up to 3
    // The first bytes of the event field of the line being scanned (they may span two slices).
    char m_code[4] = {};
    int m_codeLength = 0;
    const char* m_sliceEnd = nullptr;
    int m_rows = 0;
    int m_chatterRows = 0;
    qint64 m_lastRow = 0; // offset of the newest row
    std::vector<Chunk> m_chunks;
    std::vector<std::unique_ptr<char, BlockFree>> m_blocks;
    size_t m_blockUsed = BlockSize;
    std::vector<std::pair<int, qint64>> m_far; // rows too far from the row before, in row order
    QByteArray m_buffer;
};
