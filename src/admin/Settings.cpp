#include "admin/Settings.h"

#include "admin/frmSettings.h"
#include "ui/Forms.h"

namespace Settings {

namespace {
std::function<void(frmSettings&)>& Responder()
{
    static std::function<void(frmSettings&)> responder;
    return responder;
}
} // namespace

void ShowSettings(QWidget* owner, bool modal)
{
    if (Forms::Activate(QStringLiteral("frmSettings")))
        return;
    auto* form = new frmSettings(owner);
    if (modal)
        form->exec(); // deletes the form on return (WA_DeleteOnClose)
    else
        form->show();
}

void SetTestResponder(std::function<void(frmSettings&)> responder)
{
    Responder() = std::move(responder);
}

void RespondForTests(frmSettings& form)
{
    if (Responder())
        Responder()(form);
}

} // namespace Settings
