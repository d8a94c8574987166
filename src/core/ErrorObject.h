#pragma once

#include <QString>
#include <cstdint>

// The error record that error handlers fill and the error display (ui/ErrorDisplay.h) reads. One shared instance for
// the run.
class ErrorObject
{
public:
    qint32 Number() const { return m_number; }
    void setNumber(qint32 v) { m_number = v; }
    QString Source() const { return m_source; }
    void setSource(const QString& v) { m_source = v; }
    QString Description() const { return m_description; }
    void setDescription(const QString& v) { m_description = v; }
    QString HelpFile() const { return m_helpFile; }
    void setHelpFile(const QString& v) { m_helpFile = v; }

    // Number 0 and empty texts; the help context and the last system error stay.
    void Reset();
    // Reset, then take over the error that was just caught, with the last system error (errno).
    void SetError(qint32 number, const QString& source, const QString& description, const QString& helpFile = QString(),
                  qint32 helpContext = 0);

    // Kept for the error handlers that want them; not part of the display.
    qint32 helpContext() const { return m_helpContext; }
    quint32 lastSystemError() const { return m_lastSystemError; }

private:
    qint32 m_number = 0;
    QString m_source;
    QString m_description;
    QString m_helpFile;
    qint32 m_helpContext = 0;
    quint32 m_lastSystemError = 0;
};

// The one shared record, created on first use.
ErrorObject& SharedError();

namespace Functions {

// The text the error display (ShowErrorMessage) puts into the box for a record (pure).
QString ErrorMessageText(const QString& message, const ErrorObject& record);

} // namespace Functions
