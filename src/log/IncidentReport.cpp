#include "log/IncidentReport.h"

#include "core/EventLog.h"
#include "core/Functions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>

namespace IncidentReport {

namespace {

const QString kTime = QStringLiteral("hh:mm:ss");

QString Esc(const QString& s)
{
    return s.toHtmlEscaped();
}

QString Row(const QString& what, const QString& value)
{
    return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(Esc(what), Esc(value));
}

QString EntryTable(const QString& heading, const QString& column, const QList<Incident::Entry>& entries,
                   const char* cls)
{
    QString out = QStringLiteral("<h2>%1</h2>\n<table class=\"%2\">\n<tr><th>%3</th><th>Zeitpunkt</th></tr>\n")
                      .arg(Esc(heading), QLatin1String(cls), Esc(column));
    if (entries.isEmpty())
        out += QStringLiteral("<tr><td colspan=\"2\">keine</td></tr>\n");
    for (const Incident::Entry& e : entries)
        out += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>\n").arg(Esc(e.text), Esc(e.time.toString(kTime)));
    return out + QStringLiteral("</table>\n");
}

void Fail(const QString& path, const QString& why)
{
    std::fprintf(stderr, "tavinor: incident report %s: %s\n", qPrintable(path), qPrintable(why));
    Functions::WriteLog(Functions::StationName(), QStringLiteral("Einsatzbericht nicht geschrieben: ") + path);
}

} // namespace

QString Folder()
{
    return QFileInfo(Functions::LogFilePath()).absolutePath() + QStringLiteral("/Einsätze");
}

QString Duration(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString Html(const Incident& in)
{
    const QString date = in.raised.toString(QStringLiteral("dd.MM.yyyy"));
    QString h = QStringLiteral(
                    "<!DOCTYPE html>\n<html lang=\"de\">\n<head>\n<meta charset=\"utf-8\" />\n<title>Einsatzbericht %1 "
                    "%2</title>\n"
                    "<style>\n@page { size: A4; margin: 15mm; }\nbody { font-family: sans-serif; font-size: 11pt; }\n"
                    "h1 { font-size: 18pt; margin: 0 0 6pt 0; }\nh2 { font-size: 13pt; margin: 12pt 0 4pt 0; }\n"
                    "table { border-collapse: collapse; width: 100%; }\n"
                    "th, td { text-align: left; padding: 2pt 6pt; border-bottom: 1px solid #999; "
                    "}\n</style>\n</head>\n<body>\n")
                    .arg(date, in.raised.toString(kTime));
    h += QStringLiteral("<h1>Einsatzbericht NOTRUF</h1>\n<table class=\"summary\">\n");
    h += Row(QStringLiteral("Ausgelöst von"), in.station);
    h += Row(QStringLiteral("Ort (Adresse)"), in.address);
    h += Row(QStringLiteral("Datum"), date);
    h += Row(QStringLiteral("Ausgelöst um"), in.raised.toString(kTime));
    h += Row(QStringLiteral("Ende"), in.ended.toString(kTime) + QStringLiteral(" (") + in.endText + QLatin1Char(')'));
    h += Row(QStringLiteral("Dauer"), Duration(in.raised.secsTo(in.ended)));
    h += QStringLiteral("</table>\n");
    h += EntryTable(QStringLiteral("Quittiert"), QStringLiteral("Station"), in.acknowledgements, "acknowledgements");
    h += EntryTable(QStringLiteral("Verlauf"), QStringLiteral("Schritt"), in.steps, "steps");
    if (!in.shownAt.isEmpty())
        h += EntryTable(QStringLiteral("Angezeigt bei"), QStringLiteral("Station"), in.shownAt, "shown");
    return h + QStringLiteral("</body>\n</html>\n");
}

QString FileStem(const QString& folder, const QDateTime& raised)
{
    const QString base = raised.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString stem = base;
    for (int n = 2; QFile::exists(folder + QLatin1Char('/') + stem + QStringLiteral(".html")) ||
                    QFile::exists(folder + QLatin1Char('/') + stem + QStringLiteral(".pdf"));
         ++n)
        stem = base + QStringLiteral("_") + QString::number(n);
    return stem;
}

QString Write(const Incident& incident)
{
    const QString folder = Folder();
    if (!QDir().mkpath(folder)) {
        Fail(folder, QStringLiteral("the folder cannot be created"));
        return {};
    }
    const QString stem = folder + QLatin1Char('/') + FileStem(folder, incident.raised);
    const QString html = Html(incident);

    // Never over an existing report: the name was free a moment ago, and NewOnly keeps it that way.
    QFile out(stem + QStringLiteral(".html"));
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) || out.write(html.toUtf8()) < 0 || !out.flush()) {
        Fail(out.fileName(), out.errorString());
        out.remove();
        return {};
    }
    out.close();

    {
        QTextDocument doc;
        doc.setHtml(html);
        QPdfWriter pdf(stem + QStringLiteral(".pdf"));
        pdf.setTitle(QStringLiteral("Einsatzbericht"));
        pdf.setCreator(QStringLiteral("tavinor"));
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                      QPageLayout::Millimeter));
        doc.print(&pdf);
    } // the PDF is complete once the writer is gone
    if (!QFileInfo(stem + QStringLiteral(".pdf")).size())
        Fail(stem + QStringLiteral(".pdf"), QStringLiteral("the PDF could not be written"));
    return out.fileName();
}

QStringList List()
{
    QStringList out;
    const QDir dir(Folder());
    for (const QString& name : dir.entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name | QDir::Reversed))
        out << dir.filePath(name);
    return out;
}

} // namespace IncidentReport
