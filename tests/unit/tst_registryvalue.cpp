#include "core/RegistryValue.h"

#include <QtTest>

// The value decoding of the about window's registry lookup, kept for a Windows backend.
class tst_RegistryValue : public QObject
{
    Q_OBJECT

private slots:
    void cutToReportedSize()
    {
        const QByteArray buffer("C:\\Tools\\info.exe\0garbage", 25);
        QCOMPARE(RegistryValue::CutData(buffer, 18), QByteArray("C:\\Tools\\info.exe"));
        // Only one NUL comes off; the string decoder deals with the rest.
        QCOMPARE(RegistryValue::CutData(QByteArray("ab\0\0", 4), 4), QByteArray("ab\0", 3));
        // A size larger than the buffer cannot read past it.
        QCOMPARE(RegistryValue::CutData(QByteArray("abc"), 1000), QByteArray("abc"));
    }

    void strings()
    {
        QCOMPARE(RegistryValue::Decode(RegistryValue::RegSz, "C:\\Programme\\Gr\xfc"
                                                             "n\\info.exe"),
                 QStringLiteral("C:\\Programme\\Grün\\info.exe"));
        QCOMPARE(RegistryValue::Decode(RegistryValue::RegSz, QByteArray("ab\0cd", 5)), QStringLiteral("ab"));
    }

    void numbersAreLittleEndianWithTwoDigitsPerByte()
    {
        struct Case
        {
            quint32 value;
            QString text;
        };
        // 0x102 is the case a one-digit-per-byte conversion gets wrong (it would give 18).
        const Case cases[] = {{0, "0"},
                              {0x102, "258"},
                              {0x0A0B0C0D, "168496141"},
                              {0x00FF0001, "16711681"},
                              {0x80000000, "2147483648"},
                              {0xFFFFFFFF, "4294967295"}};
        for (const Case& c : cases) {
            QByteArray raw(4, '\0');
            qToLittleEndian(c.value, raw.data());
            // Through the same cut as the lookup: a zero high byte goes as a trailing NUL.
            const QByteArray data = RegistryValue::CutData(raw + "junk", 4);
            QCOMPARE(RegistryValue::Decode(RegistryValue::RegDword, data), c.text);
        }
    }

    void otherTypesLeaveTheTextAlone()
    {
        for (quint32 type : {0u, 2u, 3u, 7u, 11u})
            QCOMPARE(RegistryValue::Decode(type, "abcd"), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(tst_RegistryValue)
#include "tst_registryvalue.moc"
