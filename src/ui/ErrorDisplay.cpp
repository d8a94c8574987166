#include "ui/ErrorDisplay.h"

#include "core/ErrorObject.h"
#include "ui/XPMsgBox.h"

#include <QApplication>

namespace Functions {

namespace {
const QString Tavinor = QStringLiteral("tavinor");
} // namespace

void ShowErrorMessage(const QString& message, int style, const QString& title, const ErrorObject* record)
{
    // An hourglass left by the failed operation must not hang over the notice.
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();

    if (!record) {
        ShowXPMessage(message, style, title.isEmpty() ? Tavinor : title);
        return;
    }
    int warning = 48;
    ShowXPMessage(ErrorMessageText(message, *record), warning, Tavinor);
}

} // namespace Functions
