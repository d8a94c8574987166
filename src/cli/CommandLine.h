#pragma once

#include <QString>
#include <QStringList>

// The few options the program takes. Without one it starts as the settings file says.
namespace CommandLine {

enum class Action {
    Run,      // start in the tray, server or station as configured
    Headless, // the server without a desktop (the system service)
    Alarm,    // raise the alarm in this user's running program
    Help,
    Version,
    Error, // unknown option or stray argument: `error` says which
};

struct Result
{
    Action action = Action::Run;
    QString error;
};

// `args` without the program name.
Result Parse(const QStringList& args);

QString HelpText();
QString VersionText();

} // namespace CommandLine
