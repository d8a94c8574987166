#include "net/MonitorRows.h"

#include "net/Protocol.h"

#include <QStringList>

namespace Monitor {

namespace {
const QChar kTab = QLatin1Char('\t');

QString State(bool connected)
{
    return connected ? QStringLiteral("verbunden") : QStringLiteral("nicht verbunden");
}
} // namespace

QString RowText(int slot, const QString& record, bool connected, const QString& peer)
{
    const QStringList f = record.split(Protocol::kSeparator);
    QString row = QString::number(slot) + kTab;
    if (f.size() >= 5) {
        const QString vis = f[2] == QLatin1String("1") ? QStringLiteral("vis") : QString();
        const QString ak = f[3] == QLatin1String("1") ? QStringLiteral("ak") : QString();
        row += f[1] + QStringLiteral(" (") + f[4] + QStringLiteral(")") + kTab;
        if (connected)
            row += State(true) + kTab + vis + QStringLiteral(" + ") + ak;
        else
            row += State(false) + kTab;
        return row;
    }
    return row + QStringLiteral("n/a (") + peer + QStringLiteral(")") + kTab + State(connected) + kTab;
}

QString EmptyRowText(int slot)
{
    return RowText(slot, QString(), false, QString());
}

QString TimeText(const QDateTime& when)
{
    return QStringLiteral("Letzte Aktualisierung: ") + when.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

} // namespace Monitor
