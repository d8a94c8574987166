#include "log/LogIndex.h"

#include "platform/Cp1252.h"

#include <QFileInfo>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <new>

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
#ifdef Q_OS_LINUX
#include <sys/mman.h>
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
    m_codeLength = 0;
    m_rows = 0;
    m_chatterRows = 0;
    m_lastRow = 0;
    m_chunks.clear();
    m_blocks.clear();
    m_blockUsed = BlockSize;
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

inline void LogIndex::CountSemicolons(quint64 bits, const char* block)
{
    // Only the first three matter, and clearing bits one by one is cheaper than a population count where
    // the processor has no instruction for it.
    while (bits && m_semicolons < 3) {
        if (++m_semicolons == 3)
            NoteEvent(block + std::countr_zero(bits) + 1);
        bits &= bits - 1;
    }
}

inline void LogIndex::NoteEvent(const char* from)
{
    m_codeLength = int(std::min<qint64>(4, m_sliceEnd - from));
    std::copy_n(from, m_codeLength, m_code);
}

void LogIndex::ScanBytes(const char* start, qint64 length)
{
    m_sliceEnd = start + length;
    // The event code cut by the end of the last slice. No line end lies before it, or the line was over.
    if (m_semicolons == 3 && m_codeLength < 4) {
        const int more = int(std::min<qint64>(4 - m_codeLength, length));
        std::copy_n(start, more, m_code + m_codeLength);
        m_codeLength += more;
    }
    // Semicolons count only up to the third, so a line of millions of them cannot overflow the count.
    qint64 i = 0;
    for (; i + 64 <= length; i += 64) {
        quint64 newlines, semicolons;
        Classify64(start + i, newlines, semicolons);
        while (newlines) {
            const int bit = std::countr_zero(newlines);
            const quint64 upToLineEnd = bit == 63 ? ~quint64(0) : (quint64(2) << bit) - 1;
            CountSemicolons(semicolons & upToLineEnd, start + i);
            semicolons &= ~upToLineEnd;
            EndLine(m_scanPos + i + bit + 1);
            newlines &= newlines - 1;
        }
        CountSemicolons(semicolons, start + i);
    }
    for (; i < length; ++i) {
        if (start[i] == ';')
            CountSemicolons(1, start + i);
        else if (start[i] == '\n')
            EndLine(m_scanPos + i + 1);
    }
}

inline void LogIndex::EndLine(qint64 nextLineStart)
{
    // Fewer than four fields (an empty line, a cut-off line) is not an event: skipped, not counted.
    if (m_semicolons >= 3 && m_rows < INT_MAX) {
        // Told apart exactly as the filter does: "001:" or "002:" at the start of the event field. A line
        // end within these bytes fails the test, so bytes past a short line never count.
        const bool chatter = m_codeLength == 4 && m_code[0] == '0' && m_code[1] == '0' &&
                             (m_code[2] == '1' || m_code[2] == '2') && m_code[3] == ':';
        AddRow(m_lineStart, chatter);
    }
    m_lineStart = nextLineStart;
    m_semicolons = 0;
    m_codeLength = 0;
}

char* LogIndex::Take(size_t bytes)
{
    if (m_blockUsed + bytes > BlockSize) {
#ifdef Q_OS_LINUX
        char* block = static_cast<char*>(std::aligned_alloc(BlockSize, BlockSize));
        if (block)
            ::madvise(block, BlockSize, MADV_HUGEPAGE);
#else
        char* block = static_cast<char*>(std::malloc(BlockSize));
#endif
        if (!block)
            throw std::bad_alloc();
        m_blocks.emplace_back(block);
        m_blockUsed = 0;
    }
    char* out = m_blocks.back().get() + m_blockUsed;
    m_blockUsed += (bytes + 63) & ~size_t(63);
    return out;
}

void LogIndex::BlockFree::operator()(char* p) const
{
    std::free(p);
}

inline void LogIndex::AddRow(qint64 offset, bool chatter)
{
    constexpr int groupMask = (1 << GroupShift) - 1, chunkMask = (1 << ChunkShift) - 1;
    const int inChunk = m_rows & chunkMask;
    if (inChunk == 0) {
        Chunk c;
        c.base = reinterpret_cast<qint64*>(Take(sizeof(qint64) << (ChunkShift - GroupShift)));
        c.step = reinterpret_cast<quint16*>(Take(sizeof(quint16) << ChunkShift));
        c.chatter = reinterpret_cast<quint64*>(Take(sizeof(quint64) << (ChunkShift - 6)));
        std::fill_n(c.chatter, 1 << (ChunkShift - 6), 0);
        m_chunks.push_back(c);
    }
    Chunk& c = m_chunks.back();
    if (chatter) {
        c.chatter[inChunk >> 6] |= quint64(1) << (inChunk & 63);
        ++m_chatterRows;
    }
    quint16 step = 0;
    if ((m_rows & groupMask) == 0)
        c.base[inChunk >> GroupShift] = offset;
    else if (offset - m_lastRow <= 0xFFFF)
        step = quint16(offset - m_lastRow); // never 0: a row holds at least its three ";"
    else
        m_far.emplace_back(m_rows, offset);
    c.step[inChunk] = step;
    m_lastRow = offset;
    ++m_rows;
}

qint64 LogIndex::RowOffset(int row) const
{
    constexpr int groupMask = (1 << GroupShift) - 1, chunkMask = (1 << ChunkShift) - 1;
    const Chunk& c = m_chunks[size_t(row >> ChunkShift)];
    const int inChunk = row & chunkMask;
    const int first = inChunk & ~groupMask;
    qint64 offset = c.base[first >> GroupShift];
    for (int i = first + 1; i <= inChunk; ++i) {
        if (const quint16 step = c.step[i]) {
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

std::vector<int> LogIndex::RowsWithoutChatter() const
{
    // Counted first: growing the list step by step would touch its memory twice.
    std::vector<int> out;
    out.reserve(size_t(m_rows - m_chatterRows));
    for (size_t c = 0; c < m_chunks.size(); ++c) {
        const int first = int(c << ChunkShift);
        const int rows = std::min(m_rows - first, 1 << ChunkShift);
        for (int w = 0; w * 64 < rows; ++w) {
            quint64 keep = ~m_chunks[c].chatter[w];
            if (rows - w * 64 < 64)
                keep &= (quint64(1) << (rows - w * 64)) - 1;
            for (; keep; keep &= keep - 1)
                out.push_back(first + w * 64 + std::countr_zero(keep));
        }
    }
    return out;
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
