#include "TestFolder.h"

#include "app/Wiring.h"
#include "platform/ProgramFolder.h"

#include <QFile>

TestFolder::TestFolder()
{
    // The handlers the main window installs at start, also for tests that run without one.
    Wiring::Install();
    ProgramFolder::SetForTests(m_dir.path());
}

TestFolder::~TestFolder()
{
    ProgramFolder::SetForTests(QString(), QString());
}

QString TestFolder::iniPath() const
{
    return file(QStringLiteral("tavinor.ini"));
}

void TestFolder::writeIni(const QByteArray& bytes) const
{
    QFile f(iniPath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray TestFolder::readFile(const QString& relative) const
{
    QFile f(file(relative));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}
