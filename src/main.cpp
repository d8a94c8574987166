#include "app/frmMain.h"
#include "cli/AlarmSocket.h"
#include "cli/CommandLine.h"
#include "core/Globals.h"
#include "core/Translations.h"
#include "ui/SysTrayUtil.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <cstdio>
#include <cstdlib>

namespace {

// The program folder before Qt runs: the folder of the executable, as the running copy sees it.
QString FolderOfExecutable()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const CommandLine::Result cl = CommandLine::Parse(args);
    switch (cl.action) {
    case CommandLine::Action::Error:
        std::fprintf(stderr, "tavinor: %s (siehe tavinor --help)\n", cl.error.toUtf8().constData());
        return 2;
    case CommandLine::Action::Help:
        std::fputs(CommandLine::HelpText().toUtf8().constData(), stdout);
        return EXIT_SUCCESS;
    case CommandLine::Action::Version:
        std::fputs(CommandLine::VersionText().toUtf8().constData(), stdout);
        return EXIT_SUCCESS;
    case CommandLine::Action::Alarm: {
        QString message;
        const QString path = AlarmSocket::Path(FolderOfExecutable(), &message);
        const int rc = path.isEmpty() ? 1 : AlarmSocket::Raise(path, message);
        if (rc != 0)
            std::fprintf(stderr, "tavinor --alarm: %s\n", message.toUtf8().constData());
        return rc;
    }
    case CommandLine::Action::Headless:
        // The server without a desktop: the windows exist but are drawn nowhere, and no box waits for anyone.
        Globals::IsHeadless = true;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        break;
    case CommandLine::Action::Run:
        break;
    }

    // Without a desktop the toolkit would abort with a long message; say it in one line instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("tavinor: kein Desktop gefunden (DISPLAY ist nicht gesetzt) - bitte in einer grafischen "
                   "X11-Sitzung starten.\n",
                   stderr);
        return EXIT_FAILURE;
    }
    QApplication app(argc, argv);
    Translations::InstallQt(QLocale::system());
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(SysTrayUtil::ProgramIcon({16, 32, 48, 64, 128}));
    if (!frmMain::Load())
        return Globals::IsHeadless ? EXIT_FAILURE : EXIT_SUCCESS;
    // A first configuration saved during the start ends the program before the event loop runs.
    if (Globals::IsEnding)
        return EXIT_SUCCESS;
    return QApplication::exec();
}
