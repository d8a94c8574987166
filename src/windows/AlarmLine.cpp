#include "windows/AlarmLine.h"

namespace AlarmLine {

Sender Parse(const QString& value)
{
    Sender out;
    const QStringList fields = value.split(QLatin1Char('|'));
    if (fields.size() < 3) {
        // The sender had not registered: the server relays only its address. Taken from after the colon,
        // so that the address can match this PC's own in the self-check.
        QString text = value.mid(4).trimmed();
        text.remove(QLatin1Char('|'));
        out.station = Printable(text);
        if (!text.isEmpty())
            out.addresses.append(text);
        return out;
    }
    out.station = Printable(fields.at(2));
    const QString relayed = fields.at(0).mid(4).trimmed();
    if (!relayed.isEmpty())
        out.addresses.append(relayed);
    if (fields.size() > 5) {
        const QString registered = fields.at(5).trimmed();
        if (!registered.isEmpty() && !out.addresses.contains(registered))
            out.addresses.append(registered);
    }
    if (out.station.trimmed().isEmpty() && !out.addresses.isEmpty())
        out.station = out.addresses.first();
    return out;
}

bool IsFrom(const Sender& sender, const QStringList& own)
{
    for (const QString& a : sender.addresses) {
        if (own.contains(a))
            return true;
    }
    return false;
}

QString Printable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            out += QLatin1Char(' ');
        else if (c.category() != QChar::Other_Control)
            out += c;
    }
    return out;
}

QString Elapsed(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    const auto two = [](qint64 v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); };
    return two(seconds / 3600) + QLatin1Char(':') + two(seconds / 60 % 60) + QLatin1Char(':') + two(seconds % 60);
}

} // namespace AlarmLine
