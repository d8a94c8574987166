#include "core/ErrorObject.h"

#include "ui/XPMsgBox.h"

#include <QApplication>
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
const QString Tavinor = QStringLiteral("tavinor");
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

void ShowErrorMessage(const QString& message, int style, const QString& title, const ErrorObject* record)
{
    // An hourglass left by the failed operation must not hang over the notice.
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();

    if (!record) {
        ShowXPMessage(message, style, title.isEmpty() ? Tavinor : title);
        return;
    }
    int warning = 48;
    ShowXPMessage(ErrorMessageText(message, *record), warning, Tavinor);
}

} // namespace Functions
