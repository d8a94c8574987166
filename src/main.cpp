#include "core/Globals.h"
#include "core/Translations.h"
#include "core/frmMain.h"

#include <QApplication>
#include <QLocale>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
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
    if (!frmMain::Load())
        return EXIT_SUCCESS;
    // A first configuration saved during the start ends the program before the event loop runs.
    if (Globals::IsEnding)
        return EXIT_SUCCESS;
    return QApplication::exec();
}
