#include "platform/KeyCodes.h"

#include "platform/KeySyms.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QtGui/qguiapplication_platform.h>
#include <utility>

#include <xcb/xcb.h>

#include <cstdlib>

namespace KeyCodes {

namespace {

// Keys whose code does not follow from a range. Keypad keys are listed in kKeypad.
constexpr std::pair<int, int> kKeys[] = {
    {Qt::Key_Escape, 0x1B},      {Qt::Key_Tab, 0x09},          {Qt::Key_Backtab, 0x09},
    {Qt::Key_Backspace, 0x08},   {Qt::Key_Return, 0x0D},       {Qt::Key_Enter, 0x0D},
    {Qt::Key_Insert, 0x2D},      {Qt::Key_Delete, 0x2E},       {Qt::Key_Pause, 0x13},
    {Qt::Key_Print, 0x2C},       {Qt::Key_SysReq, 0x2C},       {Qt::Key_Clear, 0x0C},
    {Qt::Key_Home, 0x24},        {Qt::Key_End, 0x23},          {Qt::Key_Left, 0x25},
    {Qt::Key_Up, 0x26},          {Qt::Key_Right, 0x27},        {Qt::Key_Down, 0x28},
    {Qt::Key_PageUp, 0x21},      {Qt::Key_PageDown, 0x22},     {Qt::Key_Shift, 0x10},
    {Qt::Key_Control, 0x11},     {Qt::Key_Alt, 0x12},          {Qt::Key_AltGr, 0x12},
    {Qt::Key_Meta, 0x5B},        {Qt::Key_CapsLock, 0x14},     {Qt::Key_NumLock, 0x90},
    {Qt::Key_ScrollLock, 0x91},  {Qt::Key_Menu, 0x5D},         {Qt::Key_Space, 0x20},
    {Qt::Key_Cancel, 0x03},      {Qt::Key_Semicolon, 0xBA},    {Qt::Key_Colon, 0xBA},
    {Qt::Key_Equal, 0xBB},       {Qt::Key_Plus, 0xBB},         {Qt::Key_Comma, 0xBC},
    {Qt::Key_Less, 0xE2},        {Qt::Key_Greater, 0xE2},      {Qt::Key_Minus, 0xBD},
    {Qt::Key_Underscore, 0xBD},  {Qt::Key_Period, 0xBE},       {Qt::Key_Slash, 0xBF},
    {Qt::Key_Question, 0xBF},    {Qt::Key_NumberSign, 0xBF},   {Qt::Key_QuoteLeft, 0xC0},
    {Qt::Key_Dead_Grave, 0xC0},  {Qt::Key_BracketLeft, 0xDB},  {Qt::Key_ssharp, 0xDB},
    {Qt::Key_Backslash, 0xDC},   {Qt::Key_AsciiCircum, 0xDC},  {Qt::Key_Dead_Circumflex, 0xDC},
    {Qt::Key_BracketRight, 0xDD}, {Qt::Key_Dead_Acute, 0xDD},  {Qt::Key_Apostrophe, 0xDE},
    {Qt::Key_QuoteDbl, 0xDE},    {Qt::Key_Adiaeresis, 0xDE},   {Qt::Key_Odiaeresis, 0xC0},
    {Qt::Key_Udiaeresis, 0xBA},
};

constexpr std::pair<int, int> kKeypad[] = {
    {Qt::Key_Asterisk, 0x6A}, {Qt::Key_Plus, 0x6B}, {Qt::Key_Minus, 0x6D},
    {Qt::Key_Period, 0x6E},   {Qt::Key_Comma, 0x6E}, {Qt::Key_Slash, 0x6F},
};

} // namespace

int FromQtKey(int key, bool keypad)
{
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return key - Qt::Key_0 + 0x60;
        for (const auto& [qt, vk] : kKeypad) {
            if (qt == key)
                return vk;
        }
    }
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return key; // same values as the virtual-key codes
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return key - Qt::Key_F1 + KeySyms::VK_F1;
    for (const auto& [qt, vk] : kKeys) {
        if (qt == key)
            return vk;
    }
    return 0;
}

int ToQtKey(int vk)
{
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9'))
        return vk;
    if (vk >= KeySyms::VK_F1 && vk < KeySyms::VK_F1 + 24)
        return vk - KeySyms::VK_F1 + Qt::Key_F1;
    if (vk >= 0x60 && vk <= 0x69)
        return vk - 0x60 + Qt::Key_0;
    for (const auto& [qt, code] : kKeypad) {
        if (code == vk)
            return qt;
    }
    for (const auto& [qt, code] : kKeys) {
        if (code == vk)
            return qt;
    }
    return 0;
}

int FromKeysym(std::uint32_t keysym)
{
    return KeySyms::VirtualKey(keysym);
}

QList<int> VirtualKeysOfKeycode(quint32 keycode)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection() || keycode < 8 || keycode > 255)
        return {};
    xcb_connection_t* conn = x11->connection();
    auto* reply =
        xcb_get_keyboard_mapping_reply(conn, xcb_get_keyboard_mapping(conn, xcb_keycode_t(keycode), 1), nullptr);
    if (!reply)
        return {};
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int count = xcb_get_keyboard_mapping_keysyms_length(reply);
    const auto codes = KeySyms::VirtualKeysOfLevels(count > 0 ? syms[0] : 0, count > 1 ? syms[1] : 0);
    std::free(reply);
    return QList<int>(codes.begin(), codes.end());
}

int FromKeyEvent(const QKeyEvent& event)
{
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    // The key's own code, as Windows gives it whatever Shift or the layout puts on the key (Shift+1 is 49,
    // not the code of "!"), and as the hook library sees the key. The keypad's code follows NumLock, which
    // Qt's key tells.
    if (!keypad) {
        const QList<int> codes = VirtualKeysOfKeycode(event.nativeScanCode());
        if (!codes.isEmpty())
            return codes.front();
    }
    const int vk = FromQtKey(event.key(), keypad);
    return vk ? vk : FromKeysym(event.nativeVirtualKey());
}

qint16 ShiftState(Qt::KeyboardModifiers modifiers)
{
    qint16 mask = 0;
    if (modifiers.testFlag(Qt::ShiftModifier))
        mask |= KeySyms::MaskShift;
    if (modifiers.testFlag(Qt::ControlModifier))
        mask |= KeySyms::MaskCtrl;
    if (modifiers.testFlag(Qt::AltModifier))
        mask |= KeySyms::MaskAlt;
    return mask;
}

QString KeyName(int vk)
{
    return QString::fromStdString(KeySyms::KeyName(vk));
}

} // namespace KeyCodes
