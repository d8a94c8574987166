#include "admin/AboutContacts.h"

#include "platform/ProgramFolder.h"

#include <QFile>
#include <QStringList>

namespace {

QString Value(const QByteArray& file, const QString& section, const QString& key)
{
    QString current;
    for (const QByteArray& raw : file.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            current = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && current.compare(section, Qt::CaseInsensitive) == 0 &&
            line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1).trimmed();
    }
    return {};
}

} // namespace

namespace AboutContacts {

Party PartyFrom(const QByteArray& file, const QString& section)
{
    QStringList lines;
    for (const char* key : {"Name", "Adresse", "Ort", "Telefon"}) {
        const QString v = Value(file, section, QLatin1String(key));
        if (!v.isEmpty())
            lines << v;
    }
    if (lines.isEmpty())
        return {kNotEntered, QString()};
    return {lines.join(u'\n'), Value(file, section, QStringLiteral("EMail"))};
}

QString LinkFrom(const QByteArray& file)
{
    const QString link = Value(file, QStringLiteral("Link"), QStringLiteral("Adresse"));
    return link.isEmpty() ? kNotEntered : link;
}

QByteArray Load()
{
    QFile f(ProgramFolder::Path() + QStringLiteral("/kontakte.ini"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(64 * 1024);
}

} // namespace AboutContacts
