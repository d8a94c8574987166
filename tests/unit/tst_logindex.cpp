#include "log/LogIndex.h"

#include <QTemporaryDir>
#include <QtTest>

// The offset index behind the log viewer: which lines become rows, and what a row shows, however the file
// is cut into scan slices.
class tst_LogIndex : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString Write(const QByteArray& bytes)
    {
        QFile f(m_dir.filePath(QStringLiteral("log.csv")));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(f.fileName()));
        f.write(bytes);
        return f.fileName();
    }

    static QStringList Rows(LogIndex& index)
    {
        QStringList out;
        for (int r = 0; r < index.RowCount(); ++r) {
            const LogIndex::Fields f = index.Row(r);
            out << QStringList{f[0], f[1], f[2], f[3]}.join(QLatin1Char('|'));
        }
        return out;
    }

private slots:
    void rowsDoNotDependOnSliceSize()
    {
        // Empty lines, lines with too few fields, a ";" in the event text, LF-only and CR LF line ends,
        // a final line without line end.
        const QByteArray log = "01.02.2026;08:00:00;PC1;Server gestartet\r\n"
                               "\r\n"
                               "kaputt;nur;drei\r\n"
                               "02.02.2026;09:15:00;10.0.0.7 (Empfang);004: ALARM von Client ausgel\xf6st\r\n"
                               ";;;\r\n"
                               "03.02.2026;10:00:00;PC;2;Text;mit;Semikolon\n"
                               "\n"
                               "05.02.2026;12:00:00;PC;001:Connect Request\r\n"
                               "05.02.2026;12:00:01;PC;002:\r\n"
                               "05.02.2026;12:00:02;PC;003:Send Client IP\r\n"
                               "05.02.2026;12:00:03;PC;001\r\n"
                               "04.02.2026;11:00:00;PC3;Client beendet";
        const QStringList expected = {
            "01.02.2026|08:00:00|PC1|Server gestartet",
            "02.02.2026|09:15:00|10.0.0.7 (Empfang)|004: ALARM von Client ausgelöst",
            "|||",
            "03.02.2026|10:00:00|PC|2",
            "05.02.2026|12:00:00|PC|001:Connect Request",
            "05.02.2026|12:00:01|PC|002:",
            "05.02.2026|12:00:02|PC|003:Send Client IP",
            "05.02.2026|12:00:03|PC|001",
            "04.02.2026|11:00:00|PC3|Client beendet",
        };
        const QString path = Write(log);
        for (qint64 slice : {1, 2, 3, 7, 40, 4096}) {
            LogIndex index;
            QVERIFY(index.Open(path));
            int slices = 0;
            while (!index.Scan(slice))
                ++slices;
            QCOMPARE(Rows(index), expected);
            // The 001/002 chatter is told apart by the scan, also where a slice cuts its code.
            QCOMPARE(index.RowsWithoutChatter(), (std::vector<int>{0, 1, 2, 3, 6, 7, 8}));
            QVERIFY2(slice > 1000 || slices > 0, "the scan must have taken several slices");
        }
    }

    void everyRowOfALargeLogIsFound()
    {
        // Several offset chunks, rows of every length, skipped lines between, and rows further than 64 KiB
        // from the row before (a long line without fields ahead of them).
        QByteArray log;
        QStringList expected;
        for (int i = 0; i < 70000; ++i) {
            if (i % 9999 == 5)
                log += QByteArray(70000 + i % 3, 'j') + "\r\n";
            if (i % 7 == 3)
                log += "kaputt;zeile\r\n";
            const QByteArray event = QByteArray::number(i) + QByteArray(i % 300, 'e');
            log += "d;t;s;" + event + (i % 2 ? "\r\n" : "\n");
            expected << QStringLiteral("d|t|s|") + QString::fromLatin1(event);
        }
        LogIndex index;
        QVERIFY(index.Open(Write(log)));
        while (!index.Scan(100003)) {
        }
        QCOMPARE(Rows(index), expected);
    }

    // Missing, empty and field-less files give no rows; a file that grows or shrinks while open shows what was
    // there at opening, and rows gone since then read as empty; a line longer than the limit is cut there.
    void oddAndChangingFiles()
    {
        LogIndex index;
        for (const char* bytes : {static_cast<const char*>(nullptr), "", "\r\n\r\n\n", "a;b;c"}) { // nullptr: no file
            QCOMPARE(index.Open(bytes ? Write(bytes) : m_dir.filePath(QStringLiteral("nicht-da.csv"))), bool(bytes));
            QVERIFY(index.Scan(1 << 20));
            QCOMPARE(index.RowCount(), 0);
        }

        const QString path = Write("01.01.2026;00:00:01;A;eins\r\n01.01.2026;00:00:02;A;zwei");
        QVERIFY(index.Open(path));
        // The writer finishes its line and adds another while the viewer is open.
        QFile f(path);
        QVERIFY(f.open(QIODevice::Append));
        f.write(" und mehr\r\n01.01.2026;00:00:03;A;drei\r\n");
        f.close();
        QVERIFY(index.Scan(1 << 20));
        QCOMPARE(index.RowCount(), 2);
        QCOMPARE(index.Row(1)[3], QStringLiteral("zwei"));
        QVERIFY(QFile::resize(path, 0));
        QCOMPARE(index.Row(1), LogIndex::Fields{});
        QCOMPARE(index.Row(-1), LogIndex::Fields{});

        const QByteArray event(5000, 'x');
        QVERIFY(index.Open(Write("d;t;s;" + event + "\r\nd;t;s;" + QByteArray(LogIndex::MaxLineBytes * 2, 'y') +
                                 "\r\nd;t;s;kurz\r\n")));
        QVERIFY(index.Scan(1 << 20));
        QCOMPARE(index.RowCount(), 3);
        QCOMPARE(index.Row(0)[3], QString::fromLatin1(event));
        QCOMPARE(index.Row(1)[3].size(), LogIndex::MaxLineBytes - 6);
        QCOMPARE(index.Row(2)[3], QStringLiteral("kurz"));
    }
};

QTEST_GUILESS_MAIN(tst_LogIndex)
#include "tst_logindex.moc"
