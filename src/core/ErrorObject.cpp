#include "core/ErrorObject.h"

#include <cerrno>

void ErrorObject::Reset()
{
    setNumber(0);
    setSource(QString());
    setDescription(QString());
    setHelpFile(QString());
}

void ErrorObject::SetError(qint32 number, const QString& source, const QString& description, const QString& helpFile,
                           qint32 helpContext)
{
    // Taken first: nothing below may disturb the code the failed call left behind.
    const quint32 systemError = static_cast<quint32>(errno);
    Reset();
    setNumber(number);
    setSource(source);
    setDescription(description);
    setHelpFile(helpFile);
    m_helpContext = helpContext;
    m_lastSystemError = systemError;
}

ErrorObject& SharedError()
{
    // Lives until the program ends; error handlers everywhere fill and read this one record.
    static ErrorObject* shared = new ErrorObject;
    return *shared;
}

namespace Functions {

namespace {
const QString CrLf = QStringLiteral("\r\n");
} // namespace

QString ErrorMessageText(const QString& message, const ErrorObject& record)
{
    if (record.Number() == 0)
        return QStringLiteral("Ein nicht definierter Fehler ist aufgetreten!");
    QString text = QStringLiteral("Folgender Fehler ist aufgetreten:") + CrLf;
    if (!message.isEmpty())
        text += message + CrLf;
    text += QString::number(record.Number()) + QStringLiteral(" - ") + record.Description();
    return text;
}

} // namespace Functions
