#include "windows/AlarmLine.h"

#include <QtTest>

class tst_AlarmLine : public QObject
{
    Q_OBJECT
private slots:
    // Station and addresses of an alarm line, and whether it is this PC's own alarm: any of its addresses counts.
    void parseAndSelfCheck()
    {
        const struct
        {
            const char* line;
            const char* station;
            QStringList addresses;
            QStringList own;
            bool self;
        } rows[] = {
            {"005: 192.168.1.23|001: |Empfang|1|0|192.168.1.23", "Empfang", {"192.168.1.23"}, {"192.168.1.23"}, true},
            // A separator inside the name shifts every later field: field 5 is then the acoustic flag, so the
            // address the server put in front is what identifies the sender.
            {"005: 10.0.0.4|001: |OP|Saal 2|1|0|10.0.0.4", "OP", {"10.0.0.4", "0"}, {"10.0.0.1", "10.0.0.4"}, true},
            {"005: 10.0.0.6|", "10.0.0.6", {"10.0.0.6"}, {"10.0.0.60"}, false},
            {"005: ", "", {}, {}, false},
            // Three to five fields: still an alarm, missing fields read as empty.
            {"005: 10.0.0.7|001: |Labor", "Labor", {"10.0.0.7"}, {"10.0.0.7"}, true},
            {"005: 10.0.0.8|001: ||1|0|10.0.0.8", "10.0.0.8", {"10.0.0.8"}, {}, false},
            {"007: 10.0.0.9|001: | Büro 1 |1|1|10.0.0.9", " Büro 1 ", {"10.0.0.9"}, {"10.0.0.8"}, false},
        };
        for (const auto& r : rows) {
            const AlarmLine::Sender s = AlarmLine::Parse(QString::fromUtf8(r.line));
            QVERIFY2(s.station == QString::fromUtf8(r.station) && s.addresses == r.addresses, r.line);
            QVERIFY2(AlarmLine::IsFrom(s, r.own) == r.self, r.line);
        }
    }
};

QTEST_GUILESS_MAIN(tst_AlarmLine)
#include "tst_alarmline.moc"
