#pragma once

#include <QString>

class ErrorObject;

namespace Functions {

// Shows an error in the program's message box. Without a record: `message` with `style` and `title`
// ("tavinor" when empty). With a record: its number and description under "Folgender Fehler ist
// aufgetreten:" (style 48, title "tavinor"); a record whose number is 0 gives the undefined-error text.
void ShowErrorMessage(const QString& message, int style, const QString& title, const ErrorObject* record);

} // namespace Functions
