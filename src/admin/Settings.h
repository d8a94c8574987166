#pragma once

#include <functional>

class QWidget;
class frmSettings;

// Entry points of the settings dialog.
namespace Settings {

// Opens the settings dialog owned by `owner`, modal when `modal`, never twice: an open one comes to the front.
void ShowSettings(QWidget* owner, bool modal);

// Test seam: when set, every settings dialog calls `responder` once, from the event loop, after it was
// shown (a modal one from inside its own loop). nullptr: a person answers.
void SetTestResponder(std::function<void(frmSettings&)> responder);
// Called by the dialog once it is up.
void RespondForTests(frmSettings& form);

} // namespace Settings
