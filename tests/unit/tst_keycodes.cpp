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
        const std::pair<int, const char*> names[] = {
            {0x11, "Ctrl"},
            {0x14, "Caps Lock"},
            // Keys that exist twice are named after their keypad twin, as Windows names them this way.
            {0x26, "Num 8"},
            {0x2E, "Num Del"},
            {0x22, "Num 3"},
            {0x65, "Num 5"},
            {0x6F, "/"},
            {0x2C, "Sys Req"},
            {0xE2, "\\"},
            {0x5B, ""}, // the Windows key has no name
            {0xFF, ""},
        };
        for (const auto& [vk, name] : names)
            QVERIFY2(KeyCodes::KeyName(vk) == QLatin1String(name), qPrintable(QString::number(vk, 16)));

        const std::pair<uint, int> keysyms[] = {
            {0x78, 0x58},   // x
            {0xffc9, 0x7B}, // F12
            {0xffd5, 0x87}, // F24
            {0xff8d, 0x0D}, // KP_Enter
            {0xff9c, 0x23}, // KP_End
            {0xffe4, 0x11}, // Control_R
            {0xfe20, 0x09}, // ISO_Left_Tab
            {0xf6, 0xC0},   // odiaeresis (German)
            {0xfe52, 0xDC}, // dead_circumflex
            {0x7e1, 0},     // Greek alpha
        };
        for (const auto& [keysym, vk] : keysyms)
            QVERIFY2(KeyCodes::FromKeysym(keysym) == vk, qPrintable(QString::number(keysym, 16)));
    }

    // A key's code comes from its unshifted level, as Windows codes the key whatever Shift puts on it.
    void levels()
    {
        const struct
        {
            uint first;
            uint second;
            std::vector<int> codes;
        } rows[] = {
            // KP_End / KP_1: both codes, so the key is caught with and without NumLock.
            {0xff9c, 0xffb1, {0x23, 0x61}},
            // A shifted character on a plain key is another key's code and does not count.
            {0x2c, 0x3c, {0xBC}}, // comma / less
            {0x61, 0x41, {0x41}}, // a / A
            {0x31, 0x21, {0x31}}, // US 1 / exclam
            {0x37, 0x2f, {0x37}}, // German 7 / slash
            {0x26, 0x31, {0x31}}, // AZERTY ampersand / 1
            {0xdf, 0x3f, {0xDB}}, // German ssharp / question
            {0x7e1, 0x7c1, {}},   // no code on either level
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
