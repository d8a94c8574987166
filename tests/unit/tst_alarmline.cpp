#include "platform/Sound.h"
#include "windows/AlarmLine.h"

#include <QtEndian>
#include <QtTest>

class tst_AlarmLine : public QObject
{
    Q_OBJECT
private slots:
    void parse()
    {
        const struct
        {
            const char* line;
            const char* station;
            QStringList addresses;
        } rows[] = {
            {"005: 192.168.10.23|001: |Empfang|1|0|192.168.10.23", "Empfang", {"192.168.10.23"}},
            // A separator inside the name shifts every later field: field 5 is then the acoustic flag, so the
            // address the server put in front is what identifies the sender.
            {"005: 10.0.0.4|001: |OP|Saal 2|1|0|10.0.0.4", "OP", {"10.0.0.4", "0"}},
            {"005: 10.0.0.6|", "10.0.0.6", {"10.0.0.6"}},
            {"005: ", "", {}},
            // Three to five fields: still an alarm, missing fields read as empty.
            {"005: 10.0.0.7|001: |Labor", "Labor", {"10.0.0.7"}},
            {"005: 10.0.0.8|001: ||1|0|10.0.0.8", "10.0.0.8", {"10.0.0.8"}},
            {"007: 10.0.0.9|001: | Büro 1 |1|1|10.0.0.9", " Büro 1 ", {"10.0.0.9"}},
        };
        for (const auto& r : rows) {
            const AlarmLine::Sender s = AlarmLine::Parse(QString::fromUtf8(r.line));
            QVERIFY2(s.station == QString::fromUtf8(r.station) && s.addresses == r.addresses, r.line);
        }
    }

    void selfCheckUsesEveryAddress()
    {
        const AlarmLine::Sender s = AlarmLine::Parse("005: 10.1.1.2|001: |A|1|0|10.1.1.2");
        QVERIFY(AlarmLine::IsFrom(s, {"192.168.0.5", "10.1.1.2"}));
        QVERIFY(!AlarmLine::IsFrom(s, {"192.168.0.5", "10.1.1.20"}));
        QVERIFY(!AlarmLine::IsFrom(s, {}));
        // The shifted field 5 ("0") of a name with a separator must not make anyone the sender.
        const AlarmLine::Sender shifted = AlarmLine::Parse("005: 10.1.1.3|001: |A|B|1|0|10.1.1.3");
        QVERIFY(AlarmLine::IsFrom(shifted, {"10.1.1.3"}));
        QVERIFY(!AlarmLine::IsFrom(shifted, {"10.1.1.2"}));
    }
};

QTEST_GUILESS_MAIN(tst_AlarmLine)
#include "tst_alarmline.moc"
