// Key codes and names: settings written on Windows must name and mean the same keys here.
#include "platform/KeyCodes.h"
#include "platform/KeySyms.h"

#include <QKeyEvent>
#include <QtTest>

class tst_KeyCodes : public QObject
{
    Q_OBJECT
private slots:

    void namesAndKeysyms()
    {
        // Keys that exist twice are named after their keypad twin, as Windows names them; the Windows key has no name.
        const std::pair<int, const char*> names[] = {
            {0x11, "Ctrl"}, {0x14, "Caps Lock"}, {0x26, "Num 8"}, {0x2E, "Num Del"}, {0x22, "Num 3"}, {0x65, "Num 5"},
            {0x6F, "/"},    {0x2C, "Sys Req"},   {0xE2, "\\"},    {0x5B, ""},        {0xFF, ""},
        };
        for (const auto& [vk, name] : names)
            QVERIFY2(KeyCodes::KeyName(vk) == QLatin1String(name), qPrintable(QString::number(vk, 16)));

        // x, F12, F24, KP_Enter, KP_End, Control_R, ISO_Left_Tab, German odiaeresis, dead_circumflex, Greek alpha
        const std::pair<uint, int> keysyms[] = {
            {0x78, 0x58},   {0xffc9, 0x7B}, {0xffd5, 0x87}, {0xff8d, 0x0D}, {0xff9c, 0x23},
            {0xffe4, 0x11}, {0xfe20, 0x09}, {0xf6, 0xC0},   {0xfe52, 0xDC}, {0x7e1, 0},
        };
        for (const auto& [keysym, vk] : keysyms)
            QVERIFY2(KeyCodes::FromKeysym(keysym) == vk, qPrintable(QString::number(keysym, 16)));
    }

    // A key's code comes from its unshifted level, as Windows codes the key whatever Shift puts on it.
    void levels()
    {
        // KP_End / KP_1 gives both codes, so the key is caught with and without NumLock. A shifted character on a
        // plain key is another key's code and does not count: comma / less, a / A, US 1 / exclam, German 7 / slash,
        // AZERTY ampersand / 1, German ssharp / question. Greek letters have a code on neither level.
        const struct
        {
            uint first;
            uint second;
            std::vector<int> codes;
        } rows[] = {
            {0xff9c, 0xffb1, {0x23, 0x61}}, {0x2c, 0x3c, {0xBC}}, {0x61, 0x41, {0x41}}, {0x31, 0x21, {0x31}},
            {0x37, 0x2f, {0x37}},           {0x26, 0x31, {0x31}}, {0xdf, 0x3f, {0xDB}}, {0x7e1, 0x7c1, {}},
        };
        for (const auto& r : rows)
            QVERIFY2(KeySyms::VirtualKeysOfLevels(r.first, r.second) == r.codes,
                     qPrintable(QString::number(r.first, 16)));
    }

    void qtKeysAndEvents()
    {
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_F12), 123);
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_X), 88);
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_5, true), 0x65);
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_5, false), 0x35);
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_unknown), 0);
        for (const int vk : {0x60, 0x69}) // the keypad's digits, both ends
            QCOMPARE(KeyCodes::FromQtKey(KeyCodes::ToQtKey(vk), true), vk);

        QKeyEvent f12(QEvent::KeyPress, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(KeyCodes::FromKeyEvent(f12), 123);
        QCOMPARE(KeyCodes::ShiftState(f12.modifiers()), qint16(3));
        QCOMPARE(KeyCodes::ShiftState(Qt::AltModifier | Qt::MetaModifier | Qt::KeypadModifier), qint16(4));
        // A key Qt has no code for: the X keysym decides.
        QKeyEvent odd(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, 0, 0xffc9, 0);
        QCOMPARE(KeyCodes::FromKeyEvent(odd), 123);
    }
};

QTEST_GUILESS_MAIN(tst_KeyCodes)
#include "tst_keycodes.moc"
