#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Reading the relay lines that name a station (005, 007, 009, 011) for the alarm windows (pure).
namespace AlarmLine {

struct Sender
{
    QString station;       // the name to show
    QStringList addresses; // the sender's address as the line gives it, for the self-check
};

// "005: 10.0.0.4|001: |Empfang|1|0|10.0.0.4": the name is field 2, the address field 5 and, because a
// separator inside a station name shifts field 5, also the address the server put in front (field 0).
// A shorter line still names somebody: with fewer than three fields the text after the code, trimmed and
// without separators, is both name and address; missing fields read as empty, and an empty name falls
// back to the sender's address.
Sender Parse(const QString& value);
// True when one of the sender's addresses is one of `own`.
bool IsFrom(const Sender& sender, const QStringList& own);
// `text` without control characters (a peer's station name must not carry line breaks or tabs into a
// caption); a tab or line break becomes a blank.
QString Printable(const QString& text);
// A duration as the windows show it: "hh:nn:ss" (hours beyond 99 keep all their digits).
QString Elapsed(qint64 seconds);

} // namespace AlarmLine
