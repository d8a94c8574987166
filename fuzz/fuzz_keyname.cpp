// The alert key as the settings file gives it ("AlertkeyCode", the shift mask): any text becomes a code,
// and every code gets a name or none, never a crash.
#include "FuzzInput.h"
#include "platform/KeyCodes.h"
#include "platform/KeySyms.h"

#include <QString>

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const QString text = QString::fromLatin1(in.Piece());
    // The program reads the code as a 16-bit number from the settings text.
    const qint16 code = static_cast<qint16>(text.toInt());
    (void)KeyCodes::KeyName(code);
    (void)KeySyms::KeyName(code);
    (void)KeyCodes::ToQtKey(code);

    const QByteArray rest = in.Rest();
    for (qsizetype i = 0; i + 4 <= rest.size(); i += 4) {
        uint32_t v;
        std::memcpy(&v, rest.constData() + i, 4);
        const int vk = KeyCodes::FromKeysym(v);
        FUZZ_CHECK(vk >= 0 && vk <= 0xff);
        (void)KeyCodes::KeyName(vk);
        (void)KeyCodes::FromQtKey(static_cast<int>(v), v & 1);
        (void)KeyCodes::ShiftState(Qt::KeyboardModifiers::fromInt(static_cast<int>(v)));
        (void)KeyCodes::KeyName(static_cast<int>(v));
    }
    return 0;
}
