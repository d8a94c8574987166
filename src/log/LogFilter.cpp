#include "log/LogFilter.h"

#include "core/EventLog.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>

namespace LogMatch {

namespace {

// The event text with the protocol code, if any: "004: ALARM von Client ausgelöst" -> 4.
int Code(const QString& event)
{
    if (event.size() < 4 || event.at(3) != QLatin1Char(':'))
        return -1;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        const QChar c = event.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        code = code * 10 + (c.unicode() - '0');
    }
    return code;
}

const QStringList kAlarmTexts = {QStringLiteral("ALARM ausgelöst"), QStringLiteral("ALARM aufgehoben"),
                                 QStringLiteral("Hilfe eingetroffen"), QStringLiteral("Notfallausrüstung eingetroffen"),
                                 QStringLiteral("ersten Schock gegeben")};
const QStringList kConnectionTexts = {
    QStringLiteral("Server gestartet"),           QStringLiteral("Server beendet"),
    QStringLiteral("Client gestartet"),           QStringLiteral("Client beendet"),
    QStringLiteral("Client Anwendung gestartet"), QStringLiteral("Client Anwendung beendet")};

} // namespace

namespace {
LogCriteria::Kind KindOfCode(int code)
{
    switch (code) {
    case 1:
    case 2:
        return LogCriteria::Chatter;
    case 3:
        return LogCriteria::Connection;
    case 4:
    case 5:
    case 8:
    case 9:
    case 10:
    case 11:
        return LogCriteria::Alarm;
    case 6:
    case 7:
        return LogCriteria::Ack;
    default:
        return LogCriteria::Kind(0);
    }
}
} // namespace

unsigned CodeKind(const char* e, qsizetype size)
{
    if (size < 4 || e[3] != ':')
        return 0;
    for (int i = 0; i < 3; ++i) {
        if (e[i] < '0' || e[i] > '9')
            return 0;
    }
    return KindOfCode((e[0] - '0') * 100 + (e[1] - '0') * 10 + (e[2] - '0'));
}

LogCriteria::Kind Classify(const QString& event)
{
    if (const LogCriteria::Kind k = KindOfCode(Code(event)))
        return k;
    if (kAlarmTexts.contains(event))
        return LogCriteria::Alarm;
    if (kConnectionTexts.contains(event))
        return LogCriteria::Connection;
    return LogCriteria::Other;
}

bool IsRaise(const QString& event)
{
    const int code = Code(event);
    return code == 4 || code == 5 || event == QStringLiteral("ALARM ausgelöst");
}

bool IsEnd(const QString& event)
{
    const int code = Code(event);
    return code == 8 || code == 9 || event == QStringLiteral("ALARM aufgehoben");
}

QDate ParseDate(const QString& date)
{
    // The usual case, read without the cost of a format parser: "05.12.2026".
    if (date.size() == 10 && date.at(2) == QLatin1Char('.') && date.at(5) == QLatin1Char('.')) {
        bool d = false, m = false, y = false;
        const QDate out(date.mid(6, 4).toInt(&y), date.mid(3, 2).toInt(&m), date.left(2).toInt(&d));
        if (d && m && y && out.isValid())
            return out;
    }
    static const QString local = Functions::LogDateFormat();
    for (const QString& format : {local, QStringLiteral("yyyy-MM-dd"), QStringLiteral("d.M.yyyy")}) {
        const QDate out = QDate::fromString(date, format);
        if (out.isValid())
            return out;
    }
    return {};
}

qint64 TimeKey(const QString& date, const QString& time)
{
    const QDate d = ParseDate(date);
    const QTime t = QTime::fromString(time, QStringLiteral("HH:mm:ss"));
    if (!d.isValid() || !t.isValid())
        return -1;
    return d.toJulianDay() * 86400 + t.msecsSinceStartOfDay() / 1000;
}

bool Matches(const LogCriteria& c, const LogIndex::Fields& f)
{
    if (!(c.kinds & Classify(f[3])))
        return false;
    if (!c.station.isEmpty() && f[2].compare(c.station, Qt::CaseInsensitive) != 0)
        return false;
    if (c.from.isValid() || c.to.isValid()) {
        // A row whose date cannot be read cannot be shown to lie in the range.
        const QDate d = ParseDate(f[0]);
        if (!d.isValid() || (c.from.isValid() && d < c.from) || (c.to.isValid() && d > c.to))
            return false;
    }
    if (!c.text.isEmpty() && !f[2].contains(c.text, Qt::CaseInsensitive) && !f[3].contains(c.text, Qt::CaseInsensitive))
        return false;
    return true;
}

} // namespace LogMatch

LogFilter::LogFilter(QObject* parent) : QObject(parent)
{
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &LogFilter::Step);
}

void LogFilter::SetSliceLimits(int millis, qint64 chunkBytes)
{
    m_sliceMillis = millis;
    m_chunkBytes = chunkBytes;
}

void LogFilter::Start(const QString& path, qint64 from, int firstRow, qint64 to, const LogCriteria& criteria)
{
    Stop();
    m_criteria = criteria;
    if (criteria.incidentFrom >= 0)
        m_criteria.kinds = LogCriteria::Alarm | LogCriteria::Ack;
    m_pos = from;
    m_end = to;
    m_row = firstRow;
    m_carry.clear();
    m_batch.clear();
    m_stations.clear();
    m_stationBytes = criteria.station.isEmpty() ? -1 : int(criteria.station.size());
    m_incidentEnd = -1;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        m_end = m_pos; // nothing to read: the first slice finishes
    m_timer.start();
}

void LogFilter::Stop()
{
    m_timer.stop();
    m_file.close();
}

QStringList LogFilter::Stations() const
{
    QStringList out;
    for (const QByteArray& s : m_stations)
        out << LogIndex::SplitLine(";;" + s)[2];
    out.sort(Qt::CaseInsensitive);
    return out;
}

bool LogFilter::Line(const QByteArray& raw)
{
    // Counted exactly as the index counts: a line with fewer than four fields is no row.
    const char* const p = raw.constData();
    const char* end = p + raw.size();
    const char* semi[3];
    const char* q = p;
    for (const char*& s : semi) {
        s = static_cast<const char*>(std::memchr(q, ';', size_t(end - q)));
        if (!s)
            return true;
        q = s + 1;
    }
    const int row = m_row++;
    if (end > p && end[-1] == '\r')
        --end;
    if (end < q)
        end = q; // the CR was the only thing after the third ";"
    // Most lines are decided on their raw bytes, without decoding: the 001/002 chatter by its code, another
    // station by the length of its name (Windows-1252: one byte per character).
    const QByteArray station = QByteArray::fromRawData(semi[1] + 1, semi[2] - semi[1] - 1);
    if (m_stations.size() < 500 && !m_stations.contains(station))
        m_stations.insert(QByteArray(station.constData(), station.size()));
    const unsigned code = LogMatch::CodeKind(q, end - q);
    if (code && !(m_criteria.kinds & code))
        return true;
    if (m_stationBytes >= 0 && station.size() != m_stationBytes)
        return true;
    const LogIndex::Fields f = LogIndex::SplitLine(QByteArray::fromRawData(p, end - p));
    if (m_criteria.incidentFrom >= 0) {
        const qint64 key = LogMatch::TimeKey(f[0], f[1]);
        if (m_incidentEnd >= 0 && key > m_incidentEnd)
            return false;
        if (key < m_criteria.incidentFrom - IncidentSlack)
            return true;
        if (m_incidentEnd < 0 && key >= m_criteria.incidentFrom && LogMatch::IsEnd(f[3]))
            m_incidentEnd = key + IncidentSlack;
    }
    if (LogMatch::Matches(m_criteria, f))
        m_batch.append(row);
    return true;
}

void LogFilter::Step()
{
    QElapsedTimer slice;
    slice.start();
    bool more = true;
    // At least one chunk per slice, however short the slice is set.
    for (bool first = true; more && m_pos < m_end && (first || slice.elapsed() < m_sliceMillis); first = false) {
        QByteArray chunk(std::min(m_chunkBytes, m_end - m_pos), Qt::Uninitialized);
        const qint64 got = m_file.seek(m_pos) ? m_file.read(chunk.data(), chunk.size()) : -1;
        if (got <= 0) {
            m_end = m_pos; // the file shrank under us: what was read is all there is
            break;
        }
        m_pos += got;
        const char* p = chunk.constData();
        const char* const end = p + got;
        while (more && p < end) {
            const auto* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            if (!nl) {
                m_carry.append(p, end - p);
                break;
            }
            if (m_carry.isEmpty()) {
                more = Line(QByteArray::fromRawData(p, nl - p));
            } else {
                m_carry.append(p, nl - p);
                more = Line(m_carry);
                m_carry.clear();
            }
            p = nl + 1;
        }
    }
    if (more && m_pos >= m_end && !m_carry.isEmpty()) {
        more = Line(m_carry); // the last line may lack its line end
        m_carry.clear();
    }
    if (!m_batch.isEmpty())
        emit Found(std::exchange(m_batch, {}));
    if (more && m_pos < m_end)
        return;
    Stop();
    emit Finished();
}
