#pragma once

#include "log/LogIndex.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

// What the viewer's filters ask for. An empty criterion passes everything.
struct LogCriteria
{
    // Kinds of event (bits): alarms and the steps of an incident, acknowledgements, connections and
    // starts/ends, everything else, and the 001/002 registration chatter.
    enum Kind : unsigned { Alarm = 1, Ack = 2, Connection = 4, Other = 8, Chatter = 16, AllKinds = 31 };

    QString text;    // in station or event, case-insensitive
    QDate from, to;  // inclusive; invalid = open
    QString station; // the station field, case-insensitive; empty = every station
    unsigned kinds = AllKinds;
    // "show this alarm": rows of the incident from this moment on (see LogFilter); -1 = off.
    qint64 incidentFrom = -1;

    bool PassesAll() const
    {
        return text.isEmpty() && !from.isValid() && !to.isValid() && station.isEmpty() && kinds == AllKinds &&
               incidentFrom < 0;
    }
};

// Classifying and matching single rows (pure).
namespace LogMatch {

// The kind by the protocol code at the start of a raw event text ("004:..."); 0 when there is none.
unsigned CodeKind(const char* event, qsizetype size);

LogCriteria::Kind Classify(const QString& event);
// True for the event texts that raise an alarm (the start of an incident) or end one.
bool IsRaise(const QString& event);
bool IsEnd(const QString& event);
// The date field as the log writes it (the short date of the writer's locale, four-digit year, or ISO);
// invalid when it cannot be read.
QDate ParseDate(const QString& date);
// Seconds on one scale for date and time fields; -1 when either cannot be read.
qint64 TimeKey(const QString& date, const QString& time);
bool Matches(const LogCriteria& c, const LogIndex::Fields& f);

} // namespace LogMatch

// Runs the filters over the event log in slices from the event loop, like the load, and reports the
// matching rows (row numbers of the index) as it finds them.
//
// "Show this alarm" (incidentFrom set): alarm and acknowledgement rows of every station, from a few
// seconds before the raise until a few seconds after the first end of the alarm; the pass stops there.
class LogFilter : public QObject
{
    Q_OBJECT
public:
    explicit LogFilter(QObject* parent = nullptr);

    // Starts a pass over `path` from byte `from` (the start of row `firstRow`) up to byte `to` (the end
    // the index scanned). A pass already running is dropped.
    void Start(const QString& path, qint64 from, int firstRow, qint64 to, const LogCriteria& criteria);
    void Stop();
    bool IsRunning() const { return m_timer.isActive(); }
    void SetSliceLimits(int millis, qint64 chunkBytes);

    // Distinct station fields seen by the last pass (at most a few hundred), for the station filter.
    QStringList Stations() const;

    // Seconds around an incident that still belong to it (writers' clocks, relays).
    static constexpr int IncidentSlack = 5;

signals:
    void Found(const QList<int>& rows);
    void Finished();

private:
    void Step();
    // One complete line (without its line end); false when the pass is over.
    bool Line(const QByteArray& line);

    LogCriteria m_criteria;
    QFile m_file;
    qint64 m_pos = 0, m_end = 0;
    int m_row = 0;
    QByteArray m_carry; // the start of a line cut by the slice
    QList<int> m_batch;
    QSet<QByteArray> m_stations; // raw, decoded when asked for
    int m_stationBytes = -1;     // length of the station asked for: one byte per character in the log
    qint64 m_incidentEnd = -1;
    QTimer m_timer;
    int m_sliceMillis = 15;
    qint64 m_chunkBytes = 1 << 20;
};
