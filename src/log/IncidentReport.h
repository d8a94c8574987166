#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// The course of one alarm raised at this station, as the sender window recorded it, and the report that
// is written from it when the alarm ends: HTML for the screen and a PDF of the same page for the file.
struct Incident
{
    struct Entry
    {
        QString text; // station name (acknowledgements) or step text
        QDateTime time;
    };

    QString station; // who raised it
    QString address; // where: this PC's address
    QDateTime raised;
    QList<Entry> acknowledgements;
    QList<Entry> steps; // F1-F3 in the order recorded
    QDateTime ended;
    QString endText; // "ALARM aufgehoben", or how else the alarm ended
    // Stations that confirmed they showed the alarm. Nothing fills it yet; the report leaves the section
    // out while it is empty.
    QList<Entry> shownAt;
};

namespace IncidentReport {

// Folder of the reports: "Einsätze" beside the event log.
QString Folder();
// The report as an HTML page (pure).
QString Html(const Incident& incident);
// "hh:mm:ss" for a duration in seconds.
QString Duration(qint64 seconds);
// File name without extension for an alarm raised at `raised`, unique in `folder`: date and time, with
// "_2", "_3" ... when a report of that second already exists (reports are never overwritten).
QString FileStem(const QString& folder, const QDateTime& raised);
// Writes the HTML page and its PDF into Folder(). Returns the HTML file's path, or an empty string when it
// could not be written; a failure is written to the event log and to standard error.
QString Write(const Incident& incident);
// The reports in Folder(), newest first (HTML files; the PDF has the same stem).
QStringList List();

} // namespace IncidentReport
