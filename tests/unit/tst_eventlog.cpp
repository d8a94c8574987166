#include "core/EventLog.h"

#include "TestFolder.h"
#include "platform/Cp1252.h"
#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Functions;

namespace {

QDateTime FixedNow()
{
    return QDateTime(QDate(2026, 12, 5), QTime(13, 4, 5));
}

QByteArray Ini(const QByteArray& body)
{
    return "[General]\r\n" + body;
}

// What the date field of FixedNow() looks like on this system.
QByteArray FixedDate()
{
    return Cp1252::Encode(QLocale::system().toString(FixedNow().date(), LogDateFormat()));
}

} // namespace

class tst_EventLog : public QObject
{
    Q_OBJECT

private slots:
    void init() { SetLogClockForTests(&FixedNow); }
    void cleanup() { SetLogClockForTests(nullptr); }

    void logText_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("completeLog");
        QTest::addColumn<QString>("expected");

        // clang-format off
        QTest::newRow("001 complete") << "001:" << "1" << "001:Connect Request";
        QTest::newRow("002 complete") << "002:" << "1" << "002:Connect Response";
        QTest::newRow("001 off") << "001:" << "0" << "";
        QTest::newRow("001 other text") << "001:" << "ja" << "";
        QTest::newRow("003") << "003:" << "0" << "003:Send Client IP";
        QTest::newRow("004") << "004:" << "0" << "004:ALARM von Client ausgelöst";
        QTest::newRow("005") << "005:" << "1" << "005:ALARM an Clients weitergeleitet";
        QTest::newRow("006") << "006:" << "1" << "006:ALARM-Receive von Client";
        QTest::newRow("007") << "007:" << "1" << "007:ALARM-Receive an Clients weitergeleitet";
        QTest::newRow("008") << "008:" << "1" << "008:ALARM-Cancel von Client";
        QTest::newRow("009") << "009:" << "0" << "009:ALARM-Cancel an Clients weitergeleitet";
        QTest::newRow("010") << "010:" << "1" << "010:";
        QTest::newRow("plain") << "ALARM aufgehoben" << "0" << "ALARM aufgehoben";
        QTest::newRow("digits start plain text") << "004 Test" << "1" << "004 TestALARM von Client ausgelöst";
        QTest::newRow("digits then letters") << "123abc" << "1" << "123abc";
        // Only three plain digits make a code; blanks, signs and short texts stay as they are.
        QTest::newRow("leading blank") << " 04:" << "1" << " 04:";
        QTest::newRow("sign") << "-1:" << "1" << "-1:";
        QTest::newRow("non-ascii digits") << "٠٠٤:" << "1" << "٠٠٤:";
        QTest::newRow("empty") << "" << "1" << "";
        // clang-format on
    }

    void logText()
    {
        QFETCH(QString, message);
        QFETCH(QString, completeLog);
        QFETCH(QString, expected);
        QCOMPARE(LogTextFor(message, completeLog), expected);
    }

    void stationField_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("expected");

        // clang-format off
        QTest::newRow("no record") << "" << "10.0.0.7";
        QTest::newRow("four fields") << "001: PC7|1|0|10.0.0.7" << "10.0.0.7";
        QTest::newRow("five fields") << "001: |PC7|1|0|10.0.0.7" << "10.0.0.7 (PC7)";
        QTest::newRow("six fields") << "001: |PC7|1|0|10.0.0.7|extra" << "10.0.0.7 (PC7)";
        QTest::newRow("empty fields") << "||||" << " ()";
        // A "|" in a station name shifts the fields; the rule takes them as they fall.
        QTest::newRow("bar in name") << "001: |Raum|12|1|0|10.0.0.7" << "0 (Raum)";
        // clang-format on
    }

    void stationField()
    {
        QFETCH(QString, record);
        QFETCH(QString, expected);
        QCOMPARE(LogStationField(QStringLiteral("10.0.0.7"), record), expected);
    }

    // The locale's short date with a four-digit year; a month name (the C locale's "d MMM yyyy") gives way to
    // the German numeric date.
    void dateFormat_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");

        // clang-format off
        QTest::newRow("german") << "dd.MM.yy" << "dd.MM.yyyy";
        QTest::newRow("numeric d/M/yy") << "d/M/yy" << "d/M/yyyy";
        QTest::newRow("already four") << "dd.MM.yyyy" << "dd.MM.yyyy";
        QTest::newRow("single y") << "d.M.y" << "d.M.yyyy";
        QTest::newRow("no year") << "dd.MM." << "dd.MM.";
        QTest::newRow("quoted four y is no year") << "'yyyy' d/M/yy" << "'yyyy' d/M/yyyy";
        QTest::newRow("C locale month name") << "d MMM yyyy" << "dd.MM.yyyy";
        QTest::newRow("long month name") << "MMMM d, yy" << "dd.MM.yyyy";
        QTest::newRow("quoted M is no month") << "'M' d MMM yyyy" << "dd.MM.yyyy";
        // clang-format on
    }

    void dateFormat()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(LogDateFormatFor(format), expected);
    }

    // Whole lines in Windows-1252, a ";" in a name kept as it is; 001 lines follow CompleteLog; the station
    // column from the record; a peer's line break cannot start a forged line of its own.
    void writesWholeLines()
    {
        TestFolder folder;
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("Log")));
        folder.writeIni(Ini("CompleteLog=0\r\n"));
        const QString record = QStringLiteral("001: |PC7|1|0|10.0.0.7");
        WriteLog(QStringLiteral("10.0.0.7"), QStringLiteral("001:"), record);
        QVERIFY(!QFileInfo::exists(folder.file(QStringLiteral("Log/log.csv"))));

        WriteLog(QStringLiteral("Raum;12"), QStringLiteral("ALARM ausgelöst"));
        WriteLog(QStringLiteral("10.0.0.7"), QStringLiteral("004:"), record);
        WriteLog(QStringLiteral("10.0.0.8"), QStringLiteral("Client Anwendung gestartet"), QStringLiteral("001: |PC8"));
        const QByteArray at = FixedDate() + ";13:04:05;";
        const QByteArray expected = at + "Raum;12;ALARM ausgel\xF6st\r\n" + at +
                                    "10.0.0.7 (PC7);004:ALARM von Client ausgel\xF6st\r\n" + at +
                                    "10.0.0.8;Client Anwendung gestartet\r\n";
        QCOMPARE(folder.readFile(QStringLiteral("Log/log.csv")), expected);

        WriteLog(QStringLiteral("10.0.0.9"), QStringLiteral("004:"),
                 QStringLiteral("001: |PC9\r\n05.12.2026;00:00:00;X;ALARM aufgehoben|1|0|10.0.0.9"));
        const QByteArray forged = folder.readFile(QStringLiteral("Log/log.csv")).sliced(expected.size());
        QCOMPARE(forged.count('\n'), 1);
        QCOMPARE(forged.count('\r'), 1);
        QVERIFY(forged.endsWith("004:ALARM von Client ausgel\xF6st\r\n"));
    }

    // A missing folder is not made; a FIFO without reader neither blocks the caller nor gets anything.
    void missingFolderOrFifoWritesNothing()
    {
        TestFolder folder;
        folder.writeIni(Ini("Logfile=" + folder.file(QStringLiteral("nowhere/log.csv")).toUtf8() + "\r\n"));
        WriteLog(QStringLiteral("PC1"), QStringLiteral("Client gestartet"));
        QVERIFY(!QFileInfo::exists(folder.file(QStringLiteral("nowhere"))));
        const QString fifo = folder.file(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        folder.writeIni(Ini("Logfile=" + fifo.toUtf8() + "\r\n"));
        WriteLog(QStringLiteral("PC1"), QStringLiteral("Client gestartet")); // would hang here
    }

    // A stored path is used as it is, except the default as an earlier version mangled it ("?" for every
    // character outside Windows-1252): the log then goes where the default says.
    void logFilePath_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        const QString def = QStringLiteral("/opt/Łódź-Дом/Log/log.csv");
        QTest::newRow("blank") << " " << def;
        QTest::newRow("mangled default") << "/opt/?ód?-???/Log/log.csv" << def;
        QTest::newRow("another path") << "/srv/log.csv"
                                      << "/srv/log.csv";
        QTest::newRow("another mangled path") << "/srv/?/log.csv"
                                              << "/srv/?/log.csv";
        QTest::newRow("the default itself") << def << def;
    }
    void logFilePath()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QCOMPARE(ResolveLogFile(stored, QStringLiteral("/opt/Łódź-Дом/Log/log.csv")), expected);
    }

    // An installation below a folder named outside Windows-1252 writes its log to the default path.
    void writesBelowAnyFolderName()
    {
        TestFolder folder;
        const QString program = folder.file(QStringLiteral("Łódź-Дом"));
        QVERIFY(QDir(program).mkpath(QStringLiteral("Log")));
        ProgramFolder::SetForTests(program);
        WriteLog(QStringLiteral("PC1"), QStringLiteral("Client gestartet"));
        // What an earlier version stored there.
        QFile ini(program + QStringLiteral("/tavinor.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(Ini("Logfile=" + Cp1252::Encode(program + QStringLiteral("/Log/log.csv")) + "\r\n"));
        ini.close();
        WriteLog(QStringLiteral("PC1"), QStringLiteral("ALARM ausgelöst"));
        QFile log(program + QStringLiteral("/Log/log.csv"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith(";PC1;Client gestartet\r"));
        QVERIFY(lines[1].endsWith(";PC1;ALARM ausgel\xF6st\r"));
    }

    void partialWriteLeavesNoHalfLine()
    {
        TestFolder folder;
        const QString path = folder.file(QStringLiteral("l.csv"));
        folder.writeIni(Ini("Logfile=" + path.toUtf8() + "\r\n"));
        WriteLog(QStringLiteral("PC1"), QStringLiteral("eins"));
        const QByteArray before = folder.readFile(QStringLiteral("l.csv"));
        QVERIFY(!before.isEmpty());

        // A file size limit just above the current size makes the next write stop part-way, like a full disk.
        struct rlimit old;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tight = old;
        tight.rlim_cur = static_cast<rlim_t>(before.size() + 10);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tight), 0);
        WriteLog(QStringLiteral("PC1"), QStringLiteral("eine Zeile, die nicht mehr ganz hineinpasst"));
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(folder.readFile(QStringLiteral("l.csv")), before);
        WriteLog(QStringLiteral("PC1"), QStringLiteral("drei"));
        QVERIFY(folder.readFile(QStringLiteral("l.csv")).endsWith(";13:04:05;PC1;drei\r\n"));
    }
};

QTEST_GUILESS_MAIN(tst_EventLog)
#include "tst_eventlog.moc"
