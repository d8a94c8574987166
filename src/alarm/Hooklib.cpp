#include "alarm/Hooklib.h"

#include "alarm/HookReceiver.h"
#include "alarm/SendAlert.h"
#include "core/ErrorObject.h"
#include "platform/HookLibrary.h"
#include "platform/HookSharedMemory.h"
#include "platform/KeyCodes.h"
#include "platform/KeyHookRecord.h"
#include "platform/KeySyms.h"
#include "platform/ProgramFolder.h"
#include "ui/ErrorDisplay.h"
#include "ui/Forms.h"

#include <QLibrary>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <cstdio>
#include <exception>
#include <unistd.h>

namespace Hooklib {

namespace {

using HookProc = long (*)(int, std::uintptr_t, std::intptr_t);
using SetHookFn = std::int32_t (*)(HookProc);
using UnhookFn = int (*)(std::int32_t);
using ChangedFn = int (*)();

// The module's values, as long as the program runs.
struct State
{
    QLibrary* library = nullptr; // the loaded hook library
    std::int32_t hook = 0;       // the hook handle
    UnhookFn unhook = nullptr;
    ChangedFn changed = nullptr; // tells the library the record was written; older libraries lack it
    HookSharedMemory mapping;
    qint16 pendingCode = 0;
    qint16 pendingShift = 0;
    qint16 activeCode = 0;
    qint16 activeShift = 0;
    QPointer<QWidget> target;
    HookReceiver* receiver = nullptr;
    QString nameForTests;
    std::function<void()> alertForTests;
    bool alerting = false;
};

State& S()
{
    static State s;
    return s;
}

void ReportError(qint32 number, const QString& source, const QString& text)
{
    SharedError().SetError(number, source, text);
    Functions::ShowErrorMessage(QString(), 48, QString(), &SharedError());
}

// The plain box of a missing library. Not modal: an unattended station must go on starting behind it.
void ShowLoadFailure()
{
    auto* box = new QMessageBox(QMessageBox::NoIcon, QString(), QStringLiteral("Failed to load DLL!"), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("FailedToLoadDll"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void UnloadLibrary()
{
    State& s = S();
    if (!s.library)
        return;
    s.library->unload();
    delete s.library;
    s.library = nullptr;
    s.unhook = nullptr;
    s.changed = nullptr;
}

bool LoadAndHook()
{
    State& s = S();
    const QString file =
        HookLibrary::Locate(HookLibrary::FileName(), ProgramFolder::Path(), qEnvironmentVariable("PATH"));
    s.library = new QLibrary(file.isEmpty() ? HookLibrary::FileName() : file);
    if (file.isEmpty() || !s.library->load()) {
        std::fprintf(stderr, "tavinor: %s not loaded: %s\n", qPrintable(HookLibrary::FileName()),
                     file.isEmpty() ? "not found in the program folder or along PATH"
                                    : qPrintable(s.library->errorString()));
        delete s.library;
        s.library = nullptr;
        ShowLoadFailure();
        return false;
    }
    const auto proc = reinterpret_cast<HookProc>(s.library->resolve("KeyboardProc"));
    const auto setHook = reinterpret_cast<SetHookFn>(s.library->resolve("TvSetKeyboardHook"));
    s.unhook = reinterpret_cast<UnhookFn>(s.library->resolve("TvUnhookKeyboard"));
    if (!proc || !setHook || !s.unhook) {
        std::fprintf(stderr, "tavinor: %s lacks the hook's entry points\n", qPrintable(file));
        UnloadLibrary();
        return false;
    }
    s.changed = reinterpret_cast<ChangedFn>(s.library->resolve("TvKeyRecordChanged"));
    s.hook = setHook(proc);
    if (s.hook == 0) {
        std::fprintf(stderr, "tavinor: the keyboard hook could not be installed\n");
        return false;
    }
    return true;
}

} // namespace

bool InstallKeyboardHook(QWidget* target)
{
    State& s = S();
    s.pendingCode = KeySyms::VK_F12;
    s.pendingShift = 0;
    s.target = target;
    if (s.hook)
        return true;
    UnloadLibrary(); // left from an attempt whose hook failed
    try {
        if (!LoadAndHook())
            return false;
        if (!s.receiver)
            s.receiver = new HookReceiver;
        s.receiver->SetTarget(target);
        return true;
    } catch (const std::exception& e) {
        ReportError(5, QStringLiteral("Hooklib.InstallKeyboardHook"), QString::fromLocal8Bit(e.what()));
        return false;
    }
}

void ParseAlertKey(const QString& keyText, qint16 keyCode)
{
    State& s = S();
    s.pendingShift = 0;
    for (const QString& part : keyText.split(QLatin1Char('+'))) {
        if (part == QLatin1String("CTRL"))
            s.pendingShift |= KeySyms::MaskCtrl;
        else if (part == QLatin1String("SHIFT"))
            s.pendingShift |= KeySyms::MaskShift;
        else if (part == QLatin1String("ALT"))
            s.pendingShift |= KeySyms::MaskAlt;
    }
    s.pendingCode = keyCode;
}

void ApplyAlertKey(QWidget* form)
{
    State& s = S();
    if (s.pendingCode == 0)
        return;
    const QString source = QStringLiteral("Hooklib.ApplyAlertKey");
    try {
        const auto window = form ? std::uint32_t(form->winId()) : 0u;
        const auto bytes = KeyHookRecord::Encode(KeyHookRecord::Make(window, s.hook, s.pendingCode, s.pendingShift));
        if (!s.mapping.IsOpen() && !s.mapping.Create(SharedMemoryName(), int(KeyHookRecord::kSharedSize))) {
            ReportError(s.mapping.ErrorNumber(), source, s.mapping.ErrorText());
            return;
        }
        if (!s.mapping.Write(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())))) {
            ReportError(s.mapping.ErrorNumber(), source, s.mapping.ErrorText());
            return;
        }
        // The library grabs the new key now instead of looking for changes on a timer.
        if (s.hook && s.changed)
            s.changed();
        s.activeCode = s.pendingCode;
        s.activeShift = s.pendingShift;
    } catch (const std::exception& e) {
        ReportError(5, source, QString::fromLocal8Bit(e.what()));
    }
}

void ApplyAlertKey(const QString& keyText, qint16 keyCode)
{
    // A settings file from an earlier version may hold a code that cannot be armed (0): say so at least.
    if (!CanArm(keyCode))
        std::fprintf(stderr, "tavinor: the stored alert key %s (code %d) cannot be armed\n", qPrintable(keyText),
                     int(keyCode));
    ParseAlertKey(keyText, keyCode);
    ApplyAlertKey(S().target.data());
}

void CaptureAlertKey(qint16 keyCode, qint16 shift, QLineEdit* box)
{
    State& s = S();
    box->clear();
    if (keyCode == KeySyms::VK_SHIFT || keyCode == KeySyms::VK_CONTROL || keyCode == KeySyms::VK_MENU)
        return;
    QString text;
    const auto add = [&text](const QString& word) {
        if (text.contains(word))
            return;
        if (!text.isEmpty())
            text += QLatin1Char('+');
        text += word;
    };
    if (shift & KeySyms::MaskCtrl)
        add(QStringLiteral("CTRL"));
    if (shift & KeySyms::MaskShift)
        add(QStringLiteral("SHIFT"));
    if (shift & KeySyms::MaskAlt)
        add(QStringLiteral("ALT"));
    const QString name = GetKeyName(keyCode);
    text = text.isEmpty() ? name : text + QLatin1Char('+') + name.trimmed();
    box->setText(text);
    box->setProperty("tag", QString::number(keyCode));
    s.pendingCode = keyCode;
    s.pendingShift = shift;
}

bool CanArm(int keyCode)
{
    return keyCode > 0 && keyCode < 0xFF && keyCode != KeySyms::VK_SHIFT && keyCode != KeySyms::VK_CONTROL &&
           keyCode != KeySyms::VK_MENU;
}

QString GetKeyName(qint16 keyCode)
{
    return KeyCodes::KeyName(keyCode);
}

qint16 GetAlertKeyCode()
{
    return S().activeCode;
}

qint16 GetAlertKeyShift()
{
    return S().activeShift;
}

void RemoveKeyboardHook()
{
    State& s = S();
    s.mapping.Close();
    delete s.receiver;
    s.receiver = nullptr;
    // The hook goes before the library: its thread runs the library's code.
    if (s.hook && s.unhook)
        s.unhook(s.hook);
    s.hook = 0;
    UnloadLibrary();
}

void AlertKeyDown(qint16 keyCode, qint16 shift)
{
    State& s = S();
    if (Forms::IsFormLoaded(QStringLiteral("frmSettings")))
        return;
    if (keyCode == 0 || keyCode != GetAlertKeyCode() || shift != GetAlertKeyShift())
        return;
    // Raising the alarm lets pending events run; a second press meanwhile belongs to the same alarm.
    if (s.alerting)
        return;
    s.alerting = true;
    std::fprintf(stderr, "tavinor: alert key %d/%d\n", int(keyCode), int(shift));
    if (s.alertForTests)
        s.alertForTests();
    else
        SendAlert();
    s.alerting = false;
}

qint16 PendingKeyCode()
{
    return S().pendingCode;
}

qint16 PendingShift()
{
    return S().pendingShift;
}

QString SharedMemoryName()
{
    const State& s = S();
    if (!s.nameForTests.isEmpty())
        return s.nameForTests;
    return QString::fromStdString(KeyHookRecord::SharedMemoryName(qgetenv("DISPLAY").constData(), unsigned(getuid())));
}

void SetSharedMemoryNameForTests(const QString& name)
{
    S().nameForTests = name;
}

void SetAlertActionForTests(std::function<void()> action)
{
    S().alertForTests = std::move(action);
}

} // namespace Hooklib
