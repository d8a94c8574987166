#include "platform/System.h"

#include "platform/Sound.h"

#include <QApplication>
#include <QSysInfo>

#include <climits>
#include <unistd.h>

namespace System {

QString ShortHostName(const QString& fullName)
{
    const QString name = fullName.trimmed();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    // A name that starts with a dot has no short form; keep it whole rather than return nothing.
    return dot > 0 ? name.left(dot) : name;
}

QString HostName()
{
    char buf[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buf, sizeof buf - 1) == 0 && buf[0] != '\0')
        return ShortHostName(QString::fromLocal8Bit(buf));
    return ShortHostName(QSysInfo::machineHostName());
}

void Beep()
{
    // The X bell is what is left when no sound server is there; on most desktops it is silent.
    if (!Sound::PlayAlarmTone())
        QApplication::beep();
}

} // namespace System
