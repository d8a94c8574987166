#include "log/LogIndex.h"

#include "platform/Cp1252.h"

#include <QFileInfo>

#include <algorithm>
#include <bit>
#include <climits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifdef Q_OS_UNIX
#include <fcntl.h>
#endif

namespace {

// Bit i of `newlines` / `semicolons` is set where byte i of the 64 at `p` is a line feed / a ";". The scan
// looks at whole words instead of each byte: a year of log is hundreds of megabytes.
inline void Classify64(const char* p, quint64& newlines, quint64& semicolons)
{
    newlines = semicolons = 0;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n'), semi = _mm_set1_epi8(';');
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        newlines |= quint64(quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))) << (16 * i);
        semicolons |= quint64(quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(v, semi)))) << (16 * i);
    }
#else
    for (int i = 0; i < 64; ++i) {
        newlines |= quint64(p[i] == '\n') << i;
        semicolons |= quint64(p[i] == ';') << i;
    }
#endif
}

} // namespace

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

LogIndex::LogIndex() = default;

bool LogIndex::Open(const QString& path)
{
    Close();
    m_file.setFileName(path);
#ifdef Q_OS_UNIX
    // Only a regular file is read: opening a FIFO blocks until somebody writes to it, and a device never
    // ends. Opened without blocking, checked on the open file, so nothing can be swapped in between.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // Unbuffered: the scan reads big slices into its own buffer, a second copy would only cost time.
    if (!m_file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
#else
    if (!QFileInfo(path).isFile() || !m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
#endif
    m_size = m_file.size();
#ifdef Q_OS_UNIX
    // Read once from front to back: a cold file comes in with the largest read-ahead.
    ::posix_fadvise(m_file.handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return true;
}

void LogIndex::Close()
{
    m_file.close();
    m_size = 0;
    m_scanPos = 0;
    m_lineStart = 0;
    m_semicolons = 0;
    m_rows = 0;
    m_lastRow = 0;
    m_chunks.clear();
    m_far.clear();
    m_buffer.clear();
}

bool LogIndex::Scan(qint64 maxBytes)
{
    if (!m_file.isOpen() || AtEnd())
        return true;
    const qint64 want = std::min(std::max<qint64>(maxBytes, 1), m_size - m_scanPos);
    if (m_buffer.size() < want)
        m_buffer.resize(want);
    qint64 got = -1;
    if (m_file.seek(m_scanPos))
        got = m_file.read(m_buffer.data(), want);
    if (got <= 0) {
        // The file shrank or became unreadable under us: what was indexed so far is all there is.
        m_size = m_scanPos;
    } else {
        ScanBytes(m_buffer.constData(), got);
        m_scanPos += got;
    }
    if (AtEnd() && m_lineStart < m_size)
        EndLine(m_size); // the last line may lack its line end
    return AtEnd();
}

void LogIndex::CountSemicolons(quint64 bits)
{
    // Only the first three matter, and clearing bits one by one is cheaper than a population count where
    // the processor has no instruction for it.
    while (bits && m_semicolons < 3) {
        bits &= bits - 1;
        ++m_semicolons;
    }
}

void LogIndex::ScanBytes(const char* start, qint64 length)
{
    // Semicolons count only up to the third, so a line of millions of them cannot overflow the count.
    qint64 i = 0;
    for (; i + 64 <= length; i += 64) {
        quint64 newlines, semicolons;
        Classify64(start + i, newlines, semicolons);
        while (newlines) {
            const int bit = std::countr_zero(newlines);
            const quint64 upToLineEnd = bit == 63 ? ~quint64(0) : (quint64(2) << bit) - 1;
            CountSemicolons(semicolons & upToLineEnd);
            semicolons &= ~upToLineEnd;
            EndLine(m_scanPos + i + bit + 1);
            newlines &= newlines - 1;
        }
        CountSemicolons(semicolons);
    }
    for (; i < length; ++i) {
        if (start[i] == ';')
            m_semicolons = std::min(m_semicolons + 1, 3);
        else if (start[i] == '\n')
            EndLine(m_scanPos + i + 1);
    }
}

void LogIndex::EndLine(qint64 nextLineStart)
{
    // Fewer than four fields (an empty line, a cut-off line) is not an event: skipped, not counted.
    if (m_semicolons >= 3 && m_rows < INT_MAX)
        AddRow(m_lineStart);
    m_lineStart = nextLineStart;
    m_semicolons = 0;
}

void LogIndex::AddRow(qint64 offset)
{
    constexpr int groupMask = (1 << GroupShift) - 1, chunkMask = (1 << ChunkShift) - 1;
    if ((m_rows & chunkMask) == 0) {
        Chunk c;
        c.base.reserve(1 << (ChunkShift - GroupShift));
        c.step.reserve(1 << ChunkShift);
        m_chunks.push_back(std::move(c));
    }
    Chunk& c = m_chunks.back();
    quint16 step = 0;
    if ((m_rows & groupMask) == 0)
        c.base.push_back(offset);
    else if (offset - m_lastRow <= 0xFFFF)
        step = quint16(offset - m_lastRow); // never 0: a row holds at least its three ";"
    else
        m_far.emplace_back(m_rows, offset);
    c.step.push_back(step);
    m_lastRow = offset;
    ++m_rows;
}

qint64 LogIndex::RowOffset(int row) const
{
    constexpr int groupMask = (1 << GroupShift) - 1, chunkMask = (1 << ChunkShift) - 1;
    const Chunk& c = m_chunks[size_t(row >> ChunkShift)];
    const int inChunk = row & chunkMask;
    const int first = inChunk & ~groupMask;
    qint64 offset = c.base[size_t(first >> GroupShift)];
    for (int i = first + 1; i <= inChunk; ++i) {
        if (const quint16 step = c.step[size_t(i)]) {
            offset += step;
            continue;
        }
        const int farRow = row - inChunk + i;
        const auto it = std::lower_bound(m_far.begin(), m_far.end(), farRow,
                                         [](const std::pair<int, qint64>& f, int r) { return f.first < r; });
        offset = it->second;
    }
    return offset;
}

LogIndex::Fields LogIndex::Row(int row)
{
    if (row < 0 || row >= m_rows || !m_file.isOpen())
        return {};
    const qint64 offset = RowOffset(row);
    // Never past the end seen at opening: a line appended since then belongs to the next opening.
    const qint64 limit = std::min<qint64>(m_size - offset, MaxLineBytes);
    QByteArray line;
    qint64 chunk = std::min<qint64>(256, limit);
    while (true) {
        line.resize(chunk);
        qint64 got = -1;
        if (m_file.seek(offset))
            got = m_file.read(line.data(), chunk);
        if (got <= 0)
            return {};
        line.truncate(got);
        const qsizetype nl = line.indexOf('\n');
        if (nl >= 0) {
            line.truncate(nl);
            break;
        }
        if (got < chunk || chunk >= limit)
            break;
        chunk = std::min(chunk * 4, limit);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return SplitLine(line);
}

LogIndex::Fields LogIndex::SplitLine(const QByteArray& line)
{
    Fields out;
    qsizetype from = 0;
    for (int i = 0; i < 4 && from <= line.size(); ++i) {
        qsizetype to = line.indexOf(';', from);
        if (to < 0)
            to = line.size();
        out[size_t(i)] = Cp1252::Decode(line.mid(from, to - from));
        from = to + 1;
    }
    return out;
}
