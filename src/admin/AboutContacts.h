#pragma once

#include <QByteArray>
#include <QString>

// The contact data the about window shows. Whoever distributes the program fills them in the file
// "kontakte.ini" in the program folder (UTF-8, sections Beratung, Support, Entwicklung with the keys Name,
// Adresse, Ort, Telefon, EMail, and section Link with the key Adresse). What is not filled in reads
// "nicht eingetragen": an invented address in an emergency program would send people the wrong way.
namespace AboutContacts {

struct Party
{
    QString contact; // one item per line
    QString mail;
};

inline const QString kNotEntered = QStringLiteral("nicht eingetragen");

// The party of `section` in the file's bytes (pure).
Party PartyFrom(const QByteArray& file, const QString& section);
// The link label's text in the file's bytes (pure).
QString LinkFrom(const QByteArray& file);
// The file in the program folder, empty when there is none.
QByteArray Load();

} // namespace AboutContacts
