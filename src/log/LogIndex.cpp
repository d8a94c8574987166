#include "log/LogIndex.h"

#include "platform/Cp1252.h"

#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <cstring>

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
    m_blocks.clear();
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
        const char* const start = m_buffer.constData();
        const char* const end = start + got;
        const char* p = start;
        while (p < end) {
            const auto* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
            const char* stop = nl ? nl : end;
            while (m_semicolons < 3) {
                const auto* semi = static_cast<const char*>(std::memchr(p, ';', stop - p));
                if (!semi)
                    break;
                ++m_semicolons;
                p = semi + 1;
            }
            if (!nl)
                break;
            EndLine(m_scanPos + (nl - start) + 1);
            p = nl + 1;
        }
        m_scanPos += got;
    }
    if (AtEnd() && m_lineStart < m_size)
        EndLine(m_size); // the last line may lack its line end
    return AtEnd();
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
    if (m_blocks.empty() || m_blocks.back().delta.size() >= size_t(BlockRows) ||
        offset - m_blocks.back().base > qint64(UINT32_MAX)) {
        Block b;
        b.base = offset;
        b.firstRow = m_rows;
        b.delta.reserve(BlockRows);
        m_blocks.push_back(std::move(b));
    }
    Block& b = m_blocks.back();
    b.delta.push_back(quint32(offset - b.base));
    ++m_rows;
}

qint64 LogIndex::RowOffset(int row) const
{
    auto it =
        std::upper_bound(m_blocks.begin(), m_blocks.end(), row, [](int r, const Block& b) { return r < b.firstRow; });
    const Block& b = *(it - 1);
    return b.base + b.delta[size_t(row - b.firstRow)];
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
