#pragma once

#include <QString>
#include <QUrl>
#include <functional>

namespace Functions {

// Opens a web address ("http://..." or "www...", which gets "http://" put in front) or a "mailto:" target
// with the desktop's handler. Anything else is ignored; a handler that fails reports nothing.
void OpenLink(const QString& target);

// The URL OpenLink would open for `target`, or an empty URL when it ignores it (pure).
QUrl LinkTarget(const QString& target);

// Test seam: `opener` receives what would be opened instead of the desktop. nullptr: the desktop.
void SetLinkOpenerForTests(std::function<void(const QUrl&)> opener);

} // namespace Functions
