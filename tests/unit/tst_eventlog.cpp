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

class tst_EventLog : public QObject
{
    Q_OBJECT

    static QByteArray Logfile(const QByteArray& path) { return "[General]\r\nLogfile=" + path + "\r\n"; }

private slots:
    void init()
    {
        SetLogClockForTests([] { return QDateTime(QDate(2026, 12, 5), QTime(13, 4, 5)); });
    }
    void cleanup() { SetLogClockForTests(nullptr); }

    // One table per rule: the log text of a message, the station column, the date format, the log path.
    void lineRules()
    {
        // Message, CompleteLog, text: the connect lines only with CompleteLog 1.
        const char* texts[][3] = {
            {"001:", "1", "001:Connect Request"},
            {"002:", "1", "002:Connect Response"},
            {"001:", "0", ""},
            {"001:", "ja", ""},
            {"003:", "0", "003:Send Client IP"},
            {"004:", "0", "004:ALARM von Client ausgelöst"},
            {"005:", "1", "005:ALARM an Clients weitergeleitet"},
            {"006:", "1", "006:ALARM-Receive von Client"},
            {"007:", "1", "007:ALARM-Receive an Clients weitergeleitet"},
            {"008:", "1", "008:ALARM-Cancel von Client"},
            {"009:", "0", "009:ALARM-Cancel an Clients weitergeleitet"},
            {"004 Test", "1", "004 TestALARM von Client ausgelöst"},
        };
        for (const auto& [message, completeLog, expected] : texts) {
            const QString got = LogTextFor(QString::fromUtf8(message), QString::fromLatin1(completeLog));
            QVERIFY2(got == QString::fromUtf8(expected), qPrintable(QString::fromUtf8(message) + " -> " + got));
        }
        // Only three plain digits make a code; anything else stands as it is, whatever CompleteLog says.
        for (const char* plain : {"010:", "ALARM aufgehoben", "123abc", " 04:", "-1:", "٠٠٤:", ""})
            for (const char* complete : {"0", "1"})
                QCOMPARE(LogTextFor(QString::fromUtf8(plain), QString::fromLatin1(complete)), QString::fromUtf8(plain));

        // A "|" in a station name shifts the fields; the rule takes them as they fall.
        const char* stations[][2] = {{"", "10.0.0.7"},
                                     {"001: PC7|1|0|10.0.0.7", "10.0.0.7"},
                                     {"001: |PC7|1|0|10.0.0.7", "10.0.0.7 (PC7)"},
                                     {"001: |PC7|1|0|10.0.0.7|extra", "10.0.0.7 (PC7)"},
                                     {"||||", " ()"},
                                     {"001: |Raum|12|1|0|10.0.0.7", "0 (Raum)"}};
        for (const auto& [record, expected] : stations)
            QCOMPARE(LogStationField(QStringLiteral("10.0.0.7"), QString::fromLatin1(record)), QLatin1String(expected));

        // The locale's short date with a four-digit year; a month name (the C locale's "d MMM yyyy") gives way
        // to the German numeric date.
        const char* dates[][2] = {
            {"dd.MM.yy", "dd.MM.yyyy"},   {"d/M/yy", "d/M/yyyy"},       {"dd.MM.yyyy", "dd.MM.yyyy"},
            {"d.M.y", "d.M.yyyy"},        {"dd.MM.", "dd.MM."},         {"'yyyy' d/M/yy", "'yyyy' d/M/yyyy"},
            {"d MMM yyyy", "dd.MM.yyyy"}, {"MMMM d, yy", "dd.MM.yyyy"}, {"'M' d MMM yyyy", "dd.MM.yyyy"},
        };
        for (const auto& [format, expected] : dates)
            QCOMPARE(LogDateFormatFor(QString::fromLatin1(format)), QLatin1String(expected));

        // A stored path is used as it is, except the default as an earlier version mangled it ("?" for every
        // character outside Windows-1252): the log then goes where the default says.
        const QString def = QStringLiteral("/opt/Łódź-Дом/Log/log.csv");
        const QString paths[][2] = {{" ", def},
                                    {"/opt/?ód?-???/Log/log.csv", def},
                                    {"/srv/log.csv", "/srv/log.csv"},
                                    {"/srv/?/log.csv", "/srv/?/log.csv"},
                                    {def, def}};
        for (const auto& [stored, expected] : paths)
            QCOMPARE(ResolveLogFile(stored, def), expected);
    }

    // Whole lines in Windows-1252, a ";" in a name kept as it is; 001 lines follow CompleteLog; the station
    // column from the record; a peer's line break cannot start a forged line of its own.
    void writesWholeLines()
    {
        TestFolder folder;
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("Log")));
        folder.writeIni("[General]\r\nCompleteLog=0\r\n");
        const QString record = QStringLiteral("001: |PC7|1|0|10.0.0.7");
        WriteLog(QStringLiteral("10.0.0.7"), QStringLiteral("001:"), record);
        QVERIFY(!QFileInfo::exists(folder.file(QStringLiteral("Log/log.csv"))));

        WriteLog(QStringLiteral("Raum;12"), QStringLiteral("ALARM ausgelöst"));
        WriteLog(QStringLiteral("10.0.0.7"), QStringLiteral("004:"), record);
        WriteLog(QStringLiteral("10.0.0.8"), QStringLiteral("Client Anwendung gestartet"), QStringLiteral("001: |PC8"));
        const QDate day(2026, 12, 5);
        const QByteArray at = Cp1252::Encode(QLocale::system().toString(day, LogDateFormat())) + ";13:04:05;";
        const QByteArray expected = at + "Raum;12;ALARM ausgel\xF6st\r\n" + at +
                                    "10.0.0.7 (PC7);004:ALARM von Client ausgel\xF6st\r\n" + at +
                                    "10.0.0.8;Client Anwendung gestartet\r\n";
        QCOMPARE(folder.readFile(QStringLiteral("Log/log.csv")), expected);

        WriteLog(QStringLiteral("10.0.0.9"), QStringLiteral("004:"),
                 QStringLiteral("001: |PC9\r\n05.12.2026;00:00:00;X;ALARM aufgehoben|1|0|10.0.0.9"));
        QCOMPARE(folder.readFile(QStringLiteral("Log/log.csv")).sliced(expected.size()),
                 at + "10.0.0.9 (PC9  05.12.2026;00:00:00;X;ALARM aufgehoben);004:ALARM von Client ausgel\xF6st\r\n");

        // An installation below a folder named outside Windows-1252 whose settings hold the default as an earlier
        // version stored it ("?" for each such character) writes its log to the default path.
        const QString program = folder.file(QStringLiteral("Łódź-Дом"));
        QVERIFY(QDir(program).mkpath(QStringLiteral("Log")));
        folder.writeFile(QStringLiteral("Łódź-Дом/tavinor.ini"),
                         Logfile(Cp1252::Encode(program + QStringLiteral("/Log/log.csv"))));
        ProgramFolder::SetForTests(program);
        WriteLog(QStringLiteral("PC1"), QStringLiteral("ALARM ausgelöst"));
        QVERIFY(folder.readFile(QStringLiteral("Łódź-Дом/Log/log.csv")).endsWith(";PC1;ALARM ausgel\xF6st\r\n"));
    }

    // A missing folder is not made; a FIFO without reader neither blocks the caller nor gets anything; a write
    // that stops part-way (a full disk) leaves no half line.
    void writeFailures()
    {
        TestFolder folder;
        folder.writeIni(Logfile(folder.file(QStringLiteral("nowhere/log.csv")).toUtf8()));
        WriteLog(QStringLiteral("PC1"), QStringLiteral("Client gestartet"));
        QVERIFY(!QFileInfo::exists(folder.file(QStringLiteral("nowhere"))));
        const QString fifo = folder.file(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        folder.writeIni(Logfile(fifo.toUtf8()));
        WriteLog(QStringLiteral("PC1"), QStringLiteral("Client gestartet")); // would hang here

        const QString path = folder.file(QStringLiteral("l.csv"));
        folder.writeIni(Logfile(path.toUtf8()));
        WriteLog(QStringLiteral("PC1"), QStringLiteral("eins"));
        const QByteArray before = folder.readFile(QStringLiteral("l.csv"));
        QVERIFY(!before.isEmpty());

        // A file size limit just above the current size makes the next write stop part-way, like a full disk.
        struct rlimit old;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit tight = {rlim_t(before.size() + 10), old.rlim_max};
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
