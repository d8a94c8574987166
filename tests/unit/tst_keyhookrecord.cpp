// The shared record and the hook library's decision on a key event, without an X server.
#include "platform/KeyHookRecord.h"

#include <QtTest>

using namespace KeyHookRecord;

namespace {
const XModifiers kMods; // Shift, Lock, Control, Mod1 = Alt, Mod2 = NumLock
constexpr std::uint16_t Shift = 1, Lock = 2, Control = 4, Mod1 = 8, Mod2 = 16, Mod4 = 64;
} // namespace

class tst_KeyHookRecord : public QObject
{
    Q_OBJECT
private slots:
    void bytesOfTheRecord()
    {
        const auto b = Encode(Make(0x04a00003u, 7, 123, 2 | 1 | 4));
        const unsigned char expected[24] = {0x03, 0x00, 0xa0, 0x04, 7, 0,    0, 0, 123, 0,    0, 0,
                                            0,    0x80, 0,    0,    0, 0x80, 0, 0, 0,   0x80, 0, 0};
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(b.data()), 24),
                 QByteArray(reinterpret_cast<const char*>(expected), 24));
        // Ctrl alone at offset 12 only, Shift at 16 only, Alt at 20 only.
        for (const auto& [mask, offset] : {std::pair{2, 12}, std::pair{1, 16}, std::pair{4, 20}}) {
            const auto r = Encode(Make(1, 0, 65, std::int16_t(mask)));
            for (int o : {12, 16, 20})
                QCOMPARE(int(r[std::size_t(o + 1)]), o == offset ? 0x80 : 0);
        }
    }

    void oneBlockPerUserAndDisplay()
    {
        QCOMPARE(SharedMemoryName(":5", 1000), std::string("/tavinor_shared_mem.1000:5"));
        QCOMPARE(SharedMemoryName(":5.1", 1000), SharedMemoryName(":5", 1000));
        QCOMPARE(SharedMemoryName("host.example:10.0", 7), std::string("/tavinor_shared_mem.7@host.example:10"));
        // No second "/" may reach the name.
        QCOMPARE(SharedMemoryName("/tmp/launch/x:0", 0), std::string("/tavinor_shared_mem.0@_tmp_launch_x:0"));
        QCOMPARE(SharedMemoryName(nullptr, 0), std::string("/tavinor_shared_mem.0"));
    }

    void modifierStatesAndGrabs()
    {
        QCOMPARE(MaskOfXState(Shift | Control | Mod1, kMods), 7);
        QCOMPARE(MaskOfXState(Control | Lock | Mod2, kMods), 2); // the locks do not count
        QCOMPARE(MaskOfXState(Mod4, kMods), -1);                 // a modifier the program has no bit for
        QCOMPARE(MaskOfXState(Shift | 0x100, kMods), 1);         // pointer buttons do not count
        const XModifiers altOnMod4{.alt = Mod4};
        QCOMPARE(MaskOfXState(Mod4, altOnMod4), 4);
        QCOMPARE(MaskOfXState(Mod1, altOnMod4), -1);

        // A grab for each state of the locks, NumLock only where the display has it.
        QCOMPARE(GrabStates(Make(1, 0, 123, 3), kMods),
                 (std::vector<std::uint16_t>{Shift | Control, Shift | Control | Lock, Shift | Control | Mod2,
                                             Shift | Control | Lock | Mod2}));
        const XModifiers noNumLock{.numLock = 0};
        QCOMPARE(GrabStates(Make(1, 0, 123, 0), noNumLock), (std::vector<std::uint16_t>{0, Lock}));
    }

    void whichEventsFire()
    {
        const Record f12 = Make(42, 1, 123, 0);
        QVERIFY(Fires(f12, KeyEvent{.keyCodes = {123}}, kMods));
        QVERIFY(Fires(f12, KeyEvent{.keyCodes = {123}, .state = Lock | Mod2}, kMods));
        QVERIFY(!Fires(f12, KeyEvent{.keyCodes = {123}, .state = Shift}, kMods)); // exact modifiers only
        QVERIFY(!Fires(f12, KeyEvent{.keyCodes = {122}}, kMods));                 // another key
        QVERIFY(!Fires(f12, KeyEvent{.keyCodes = {}}, kMods));                    // a key without a code

        QVERIFY(!Fires(f12, KeyEvent{.press = false, .keyCodes = {123}}, kMods));
        QVERIFY(!Fires(f12, KeyEvent{.autoRepeat = true, .keyCodes = {123}}, kMods)); // holding the key is one alarm

        const Record csf12 = Make(42, 1, 123, 3);
        QVERIFY(Fires(csf12, KeyEvent{.keyCodes = {123}, .state = Control | Shift}, kMods));
        QVERIFY(!Fires(csf12, KeyEvent{.keyCodes = {123}, .state = Control | Shift | Mod1}, kMods));

        // A keypad key matches its code with and without NumLock.
        QVERIFY(Fires(Make(42, 1, 0x61, 0), KeyEvent{.keyCodes = {0x23, 0x61}, .state = Mod2}, kMods));
    }
};

QTEST_GUILESS_MAIN(tst_KeyHookRecord)
#include "tst_keyhookrecord.moc"
