#include "net/LineFramer.h"

LineFramer::Result LineFramer::Feed(const QByteArray& bytes)
{
    Result result;
    qsizetype pos = 0;
    const qsizetype n = bytes.size();
    while (pos < n) {
        if (m_afterCr) {
            m_afterCr = false;
            if (bytes.at(pos) == '\n') {
                ++pos;
                continue;
            }
        }
        const qsizetype cr = bytes.indexOf('\r', pos);
        const qsizetype end = cr < 0 ? n : cr;
        if (!m_discarding) {
            m_tail.append(bytes.constData() + pos, end - pos);
            if (m_tail.size() > kMaxTail) {
                ++result.overlong;
                m_tail.clear();
                m_discarding = true;
            }
        }
        if (cr < 0)
            break;
        if (m_discarding)
            m_discarding = false;
        else if (!m_tail.isEmpty())
            result.lines.append(m_tail);
        m_tail.clear();
        m_afterCr = true;
        pos = cr + 1;
    }
    return result;
}

QByteArray LineFramer::Flush()
{
    const QByteArray last = m_discarding ? QByteArray() : m_tail;
    Reset();
    return last;
}

void LineFramer::Reset()
{
    m_tail.clear();
    m_afterCr = false;
    m_discarding = false;
}
