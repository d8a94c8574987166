#include "core/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

namespace Translations {

bool InstallQt(const QLocale& locale)
{
    if (locale.language() != QLocale::German || !QCoreApplication::instance())
        return false;
    static QTranslator* qt = nullptr;
    if (qt)
        return true;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        std::fputs("tavinor: Qt's German translation (qtbase_de) is not installed\n", stderr);
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    qt = translator;
    return true;
}

} // namespace Translations
