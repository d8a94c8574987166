#pragma once

class QLocale;

namespace Translations {

// Loads Qt's own German texts (folder picker, standard buttons) when `locale` is German; the program's
// texts are German already. False when the locale is not German or the translation is not installed.
bool InstallQt(const QLocale& locale);

} // namespace Translations
