#pragma once

#include <QDateTime>
#include <QString>

// The event log: one line per event, appended to the file named by the setting "Logfile",
// "date;time;station;event" in Windows-1252 with CR LF. Part of the general-purpose module.
namespace Functions {

// Appends one line. `stationName` is the own station name or a connection's peer address;
// `stationRecord` is the record the server keeps with a station's connection ("001: " line with "|" and
// the peer address appended), empty when the event concerns no connection. Never fails towards the
// caller: a line that cannot be written is dropped.
void WriteLog(const QString& stationName, const QString& message, const QString& stationRecord = QString());

// The event text for `message`: a plain text unchanged, or a protocol code ("004:") with its description.
// Empty (= no line at all) for codes 1 and 2 unless the setting "CompleteLog" is "1".
QString GetLogText(const QString& message);

// The default event log: program folder + "/Log/log.csv".
QString DefaultLogFile();
// The event log's path, from the setting "Logfile" (see ResolveLogFile).
QString LogFilePath();

// --- Pure pieces, for the viewer and for tests ---

// The path for a stored "Logfile" value: the value, or `defaultPath` when it is blank, or when it is the
// default as the settings file mangled it ("?" for every character outside Windows-1252), so that the log of
// an installation below such a folder is written where the default says.
QString ResolveLogFile(const QString& stored, const QString& defaultPath);

// The station field: with a record of five or more "|"-fields: field 4 + " (" + field 1 + ")",
// otherwise `stationName`.
QString LogStationField(const QString& stationName, const QString& stationRecord);
// The event text for `message` given the "CompleteLog" value.
QString LogTextFor(const QString& message, const QString& completeLog);
// "date;time;station;event" without the line end; the date is the locale's short date with a four-digit year.
// A CR or LF inside station or event becomes a blank, so one event is always one line.
QString LogLine(const QDateTime& when, const QString& station, const QString& eventText);
// The locale's short date format with the year widened to four digits; "dd.MM.yyyy", as a German system
// writes it, when that format has no numeric month (the C locale's "d MMM yyyy").
QString LogDateFormat();
// The date format for a locale's short date format (see LogDateFormat).
QString LogDateFormatFor(const QString& shortFormat);
// `format` (a QDate format) with a two-digit year widened to four digits; unchanged when it already has a
// four-digit year or no year at all. Quoted literal text is left alone.
QString WidenYearFormat(const QString& format);

// Test seam: the clock that stamps the lines (nullptr = the system clock).
void SetLogClockForTests(QDateTime (*now)());

} // namespace Functions
