#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QDialog;
class QLabel;
class QWidget;

// The program's own list of loaded windows. Each of the program's windows registers itself when it is
// created and leaves the list when it is destroyed; "Unload" is close-and-delete. Windows are addressed
// by their objectName ("frmSettings", "XPMsgBox", ...).
namespace Forms {

void Register(QWidget* form);
// Loaded windows in the order they were loaded.
QList<QWidget*> Loaded();
// The loaded window with this name, or nullptr. Never creates one.
QWidget* Find(const QString& name);
bool IsFormLoaded(const QString& name);
bool IsFormLoaded(const QWidget* form);
// Closes and deletes the window (a modal box in its own event loop returns first).
void Unload(QWidget* form);
// Unloads every loaded window whose name is not in the comma-separated list.
void UnloadFormsExcept(const QString& names);

// Brings the loaded window with this name to the front; false when none is loaded ("never twice").
bool Activate(const QString& name);
// Shows a new program window, modal (returns once it is closed) or modeless. While the owner is hidden,
// as the main window is for the whole run, the window is centred on the screen.
void Show(QDialog* form, bool modal);
// The large bold program name that heads the program's windows.
void StyleTitle(QLabel* label);

} // namespace Forms
