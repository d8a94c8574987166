#include "cli/CommandLine.h"

namespace CommandLine {

Result Parse(const QStringList& args)
{
    Result r;
    for (const QString& arg : args) {
        Action a;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            a = Action::Help;
        else if (arg == QLatin1String("--version"))
            a = Action::Version;
        else if (arg == QLatin1String("--alarm"))
            a = Action::Alarm;
        else if (arg == QLatin1String("--headless"))
            a = Action::Headless;
        else
            return {Action::Error, QStringLiteral("unbekannte Option \"%1\"").arg(arg)};
        // --help and --version answer whatever else is given, as users expect of them.
        if (a == Action::Help || r.action == Action::Help)
            r.action = Action::Help;
        else if (a == Action::Version || r.action == Action::Version)
            r.action = Action::Version;
        else if (r.action != Action::Run && r.action != a)
            return {Action::Error, QStringLiteral("--alarm und --headless schließen einander aus")};
        else
            r.action = a;
    }
    return r;
}

QString HelpText()
{
    return QStringLiteral(
        "Aufruf: tavinor [OPTION]\n"
        "Notrufsystem für die PCs einer Praxis. Ohne Option startet das Programm im Infobereich,\n"
        "als Server oder als Station, wie es in tavinor.ini im Programmordner eingestellt ist.\n"
        "\n"
        "  --alarm      löst im bereits laufenden Programm dieses Benutzers den Alarm aus,\n"
        "               genau wie die Alarmtaste (für Tastenkürzel des Desktops)\n"
        "  --headless   startet den Server ohne Desktop (der Dienst tavinor-server)\n"
        "  -h, --help   zeigt diese Hilfe\n"
        "  --version    zeigt die Version\n"
        "\n"
        "Rückgabewert: 0 bei Erfolg, 1 wenn der Alarm nicht ausgelöst werden konnte, 2 bei falschem Aufruf.\n");
}

QString VersionText()
{
    return QStringLiteral("tavinor %1.%2.%3\n")
        .arg(TAVINOR_VERSION_MAJOR)
        .arg(TAVINOR_VERSION_MINOR)
        .arg(TAVINOR_VERSION_PATCH);
}

} // namespace CommandLine
