#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A throwaway program folder for one test: the settings file and the log live here, and the program's
// idea of its own folder points here while the object lives.
class TestFolder
{
public:
    TestFolder();
    ~TestFolder();

    QString path() const { return m_dir.path(); }
    QString iniPath() const;
    QString file(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }

    void writeIni(const QByteArray& bytes) const;
    QByteArray readFile(const QString& relative) const;

private:
    QTemporaryDir m_dir;
};
