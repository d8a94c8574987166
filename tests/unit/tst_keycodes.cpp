// Key codes and names: settings written on Windows must name and mean the same keys here.
#include "platform/KeyCodes.h"
#include "platform/KeySyms.h"

#include <QKeyEvent>
#include <QtTest>

class tst_KeyCodes : public QObject
{
    Q_OBJECT
private slots:

    void namesOfSpecialKeys_data()
    {
        QTest::addColumn<int>("vk");
        QTest::addColumn<QString>("name");
        QTest::newRow("Ctrl") << 0x11 << "Ctrl";
        QTest::newRow("Caps Lock") << 0x14 << "Caps Lock";
        // Keys that exist twice are named after their keypad twin, as Windows names them this way.
        QTest::newRow("Up") << 0x26 << "Num 8";
        QTest::newRow("Delete") << 0x2E << "Num Del";
        QTest::newRow("PageDown") << 0x22 << "Num 3";
        QTest::newRow("Numpad 5") << 0x65 << "Num 5";
        QTest::newRow("Numpad /") << 0x6F << "/";
        QTest::newRow("Print") << 0x2C << "Sys Req";
        QTest::newRow("OEM_102") << 0xE2 << "\\";
        QTest::newRow("Windows key has no name") << 0x5B << "";
        QTest::newRow("unknown code") << 0xFF << "";
    }
    void namesOfSpecialKeys()
    {
        QFETCH(int, vk);
        QFETCH(QString, name);
        QCOMPARE(KeyCodes::KeyName(vk), name);
    }

    void keysymsToCodes_data()
    {
        QTest::addColumn<uint>("keysym");
        QTest::addColumn<int>("vk");
        QTest::newRow("x") << 0x78u << 0x58;
        QTest::newRow("F12") << 0xffc9u << 0x7B;
        QTest::newRow("F24") << 0xffd5u << 0x87;
        QTest::newRow("KP_Enter") << 0xff8du << 0x0D;
        QTest::newRow("KP_End") << 0xff9cu << 0x23;
        QTest::newRow("Control_R") << 0xffe4u << 0x11;
        QTest::newRow("ISO_Left_Tab") << 0xfe20u << 0x09;
        QTest::newRow("odiaeresis (German)") << 0xf6u << 0xC0;
        QTest::newRow("dead_circumflex") << 0xfe52u << 0xDC;
        QTest::newRow("Greek alpha") << 0x7e1u << 0;
    }
    void keysymsToCodes()
    {
        QFETCH(uint, keysym);
        QFETCH(int, vk);
        QCOMPARE(KeyCodes::FromKeysym(keysym), vk);
    }

    // A key's code comes from its unshifted level, as Windows codes the key whatever Shift puts on it.
    void levels_data()
    {
        QTest::addColumn<uint>("first");
        QTest::addColumn<uint>("second");
        QTest::addColumn<QList<int>>("codes");
        // KP_End / KP_1: both codes, so the key is caught with and without NumLock.
        QTest::newRow("keypad 1") << 0xff9cu << 0xffb1u << QList<int>{0x23, 0x61};
        // A shifted character on a plain key is another key's code and does not count.
        QTest::newRow("comma / less") << 0x2cu << 0x3cu << QList<int>{0xBC};
        QTest::newRow("a / A") << 0x61u << 0x41u << QList<int>{0x41};
        QTest::newRow("US 1 / exclam") << 0x31u << 0x21u << QList<int>{0x31};
        QTest::newRow("German 7 / slash") << 0x37u << 0x2fu << QList<int>{0x37};
        QTest::newRow("AZERTY ampersand / 1") << 0x26u << 0x31u << QList<int>{0x31};
        QTest::newRow("German ssharp / question") << 0xdfu << 0x3fu << QList<int>{0xDB};
        QTest::newRow("no code on either level") << 0x7e1u << 0x7c1u << QList<int>{};
    }
    void levels()
    {
        QFETCH(uint, first);
        QFETCH(uint, second);
        QFETCH(QList<int>, codes);
        const std::vector<int> got = KeySyms::VirtualKeysOfLevels(first, second);
        QCOMPARE(QList<int>(got.begin(), got.end()), codes);
    }

    void qtKeys()
    {
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_F12), 123);
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_X), 88);
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_5, true), 0x65);
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_5, false), 0x35);
        QCOMPARE(KeyCodes::FromQtKey(Qt::Key_unknown), 0);
        for (const int vk : {0x60, 0x69}) // the keypad's digits, both ends
            QCOMPARE(KeyCodes::FromQtKey(KeyCodes::ToQtKey(vk), true), vk);
    }

    void keyEvents()
    {
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
