#pragma once

#include "app/Wiring.h"
#include "platform/ProgramFolder.h"

#include <QFile>
#include <QTemporaryDir>

// A throwaway program folder for one test: the settings file and the log live here, and the program's
// idea of its own folder points here while the object lives.
class TestFolder
{
public:
    TestFolder()
    {
        // The handlers the main window installs at start, also for tests that run without one.
        Wiring::Install();
        ProgramFolder::SetForTests(m_dir.path());
    }
    ~TestFolder() { ProgramFolder::SetForTests(QString(), QString()); }

    QString path() const { return m_dir.path(); }
    QString iniPath() const { return file(QStringLiteral("tavinor.ini")); }
    QString file(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }

    void writeIni(const QByteArray& bytes) const { writeFile(QStringLiteral("tavinor.ini"), bytes); }
    void writeFile(const QString& relative, const QByteArray& bytes) const
    {
        QFile f(file(relative));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
    }
    QByteArray readFile(const QString& relative) const
    {
        QFile f(file(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
};
