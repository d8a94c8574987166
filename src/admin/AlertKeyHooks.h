#pragma once

#include <QString>
#include <functional>

class QLineEdit;
class QWidget;

// The alert key as the settings dialog sets it. The key belongs to the part that raises the alarm, which
// sits above the dialogs; the program installs these at start. Until then no key is accepted and nothing
// is armed.
namespace AlertKeyHooks {

struct Handlers
{
    std::function<bool(int keyCode)> canArm;
    std::function<void(qint16 keyCode, qint16 shift, QLineEdit* box)> capture;
    std::function<void(const QString& keyText, qint16 keyCode)> parse;
    std::function<void(QWidget* form)> apply;
};
void Install(const Handlers& handlers);

// What the alert key's owner answers; see Hooklib for each.
bool CanArm(int keyCode);
void CaptureAlertKey(qint16 keyCode, qint16 shift, QLineEdit* box);
void ParseAlertKey(const QString& keyText, qint16 keyCode);
void ApplyAlertKey(QWidget* form);

} // namespace AlertKeyHooks
