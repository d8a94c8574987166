#pragma once

#include <QDateTime>
#include <QString>

// The texts of the status monitor, one row per station slot, cells separated by tabs:
// slot number, name and address, connection state, alarm presentation.
namespace Monitor {

// The row of slot `slot`. `record` is the slot's station record ("001: |name|vis|ak|peer"); a record of
// five fields or more counts as registered and shows its own fields by position, anything shorter shows
// "n/a" with the socket's peer address.
QString RowText(int slot, const QString& record, bool connected, const QString& peer);
// The row of a slot number that has no listener slot behind it.
QString EmptyRowText(int slot);
// "Letzte Aktualisierung: dd.mm.yyyy hh:nn:ss".
QString TimeText(const QDateTime& when);

} // namespace Monitor
