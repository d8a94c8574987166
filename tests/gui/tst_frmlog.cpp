#include "TestFolder.h"

#include "log/LogFilterModel.h"
#include "log/LogModel.h"
#include "log/frmLog.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class tst_frmLog : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestFolder> m_folder;
    int m_boxes = 0;

    void WriteLog(const QByteArray& bytes)
    {
        QDir(m_folder->path()).mkdir(QStringLiteral("Log"));
        m_folder->writeFile(QStringLiteral("Log/log.csv"), bytes);
    }

    // Opens the viewer from the tray's way in and waits until the log is shown.
    frmLog* Open()
    {
        frmLog::ShowLog(nullptr, false);
        auto* form = qobject_cast<frmLog*>(Forms::Find(QStringLiteral("frmLog")));
        return form && QSignalSpy(form, &frmLog::LogShown).wait(10000) ? form : nullptr;
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<TestFolder>();
        m_boxes = 0;
        XPMsgBox::SetTestResponder([this](XPMsgBox&) {
            ++m_boxes;
            return -1;
        });
    }

    void cleanup()
    {
        for (QWidget* w : Forms::Loaded())
            delete w;
        XPMsgBox::SetTestResponder(nullptr);
        m_folder.reset();
    }

    // A FIFO as the log path gives an empty grid at once. The writer turns a viewer that waits on the FIFO
    // after all into a row, not a hang.
    void fifoLogIsNotRead()
    {
        const QByteArray fifo = QFile::encodeName(m_folder->file(QStringLiteral("pipe")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        m_folder->writeIni("[General]\r\nLogfile=" + fifo + "\r\n");
        std::signal(SIGPIPE, SIG_IGN); // the viewer may close its end between the writer's open and write
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            while (!stop) {
                const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    [[maybe_unused]] const auto n = ::write(fd, "d;t;s;aus der FIFO\r\n", 21);
                    ::close(fd);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        frmLog* form = Open();
        stop = true;
        writer.join();
        QVERIFY(form);
        QCOMPARE(form->Model()->rowCount(), 0);
    }

    // A large log loads in slices: the program's timers (the zero timer here) keep running and the grid stays
    // still until done; then the newest row is in view and the keys move over the whole log.
    void largeLogLoadsInSlicesAndScrolls()
    {
        QByteArray log;
        int valid = 0;
        for (int i = 0; log.size() < (2 << 20); ++i)
            log += i % 97 == 0 ? QByteArray("kaputt\r\n")
                               : "07.12.2026;11:22:33;PC;Zeile " + QByteArray::number(++valid) + "\r\n";
        WriteLog(log);
        auto* form = new frmLog;
        form->Model()->SetSliceLimits(0, 16 * 1024);
        form->show();
        QSignalSpy shown(form, &frmLog::LogShown);
        int ticksWhileLoading = 0, rowsSeenWhileLoading = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            if (form->Model()->IsLoading()) {
                ++ticksWhileLoading;
                rowsSeenWhileLoading = std::max(rowsSeenWhileLoading, form->Model()->rowCount());
            }
        });
        tick.start(0);
        QVERIFY(shown.wait(30000));
        tick.stop();
        QVERIFY2(ticksWhileLoading >= 20, qPrintable(QString::number(ticksWhileLoading)));
        QCOMPARE(rowsSeenWhileLoading, 0);
        QCOMPARE(form->Model()->rowCount(), valid);
        auto* grid = form->findChild<QTableView*>(QStringLiteral("lvwLog"));
        QCOMPARE(form->CurrentRow(), valid - 1);
        QVERIFY(grid->viewport()->rect().contains(grid->visualRect(grid->currentIndex())));
        QVERIFY(grid->model()->rowCount() < 100);
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(grid->currentIndex().data().toString(), QStringLiteral("1"));
        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(grid->currentIndex().data().toString(), QStringLiteral("Zeile %1").arg(valid)); // last column
    }

    // A server's day: chatter, connections, two alarms; the second with lines of two stations writing to
    // the same log. Row n (1-based) is the ID the grid shows.
    static QByteArray Day()
    {
        return "05.12.2026;08:00:00;Server;Server gestartet\r\n"                              // 1
               "05.12.2026;08:00:05;10.0.0.2 (Labor);Client Anwendung gestartet\r\n"          // 2
               "05.12.2026;08:00:06;10.0.0.2 (Labor);001:Connect Request\r\n"                 // 3
               "05.12.2026;09:10:00;10.0.0.2 (Labor);004:ALARM von Client ausgel\xf6st\r\n"   // 4
               "05.12.2026;09:10:09;10.0.0.3 (Empfang);006:ALARM-Receive von Client\r\n"      // 5
               "05.12.2026;09:12:00;10.0.0.2 (Labor);008:ALARM-Cancel von Client\r\n"         // 6
               "06.12.2026;07:59:59;10.0.0.3 (Empfang);002:Connect Response\r\n"              // 7
               "06.12.2026;10:00:00;Empfang;ALARM ausgel\xf6st\r\n"                           // 8
               "06.12.2026;10:00:01;10.0.0.3 (Empfang);004:ALARM von Client ausgel\xf6st\r\n" // 9
               "06.12.2026;10:00:02;10.0.0.2 (Labor);001:Connect Request\r\n"                 // 10
               "06.12.2026;10:00:09;10.0.0.2 (Labor);006:ALARM-Receive von Client\r\n"        // 11
               "06.12.2026;10:01:00;Empfang;Hilfe eingetroffen\r\n"                           // 12
               "kaputt\r\n"
               "06.12.2026;10:02:00;Empfang;ersten Schock gegeben\r\n"                  // 13
               "06.12.2026;10:03:00;Empfang;ALARM aufgehoben\r\n"                       // 14
               "06.12.2026;10:03:01;10.0.0.3 (Empfang);008:ALARM-Cancel von Client\r\n" // 15
               "06.12.2026;10:09:00;10.0.0.4 (Kasse);Client Anwendung beendet\r\n"      // 16
               "06.12.2026;11:00:00;Kasse;Einsatzbericht nicht geschrieben: x\r\n"      // 17
               "07.12.2026;09:00:00;Empfang;ALARM ausgel\xf6st";                        // 18, no line end
    }

    static QStringList ShownIds(frmLog* form)
    {
        QStringList ids;
        for (int r = 0; r < form->Shown()->rowCount(); ++r)
            ids << form->Shown()->index(r, LogModel::ColId).data().toString();
        return ids;
    }

    void filters_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("ids");
        // clang-format off
        QTest::newRow("default hides 001/002") << "" << "" << "1 2 4 5 6 8 9 11 12 13 14 15 16 17 18";
        QTest::newRow("001/002 shown") << "chkChatter" << "1" << "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18";
        QTest::newRow("search, any case") << "txtSearch" << "SCHOCK" << "13";
        QTest::newRow("station") << "cboStation" << "10.0.0.2 (labor)" << "2 4 6 11";
        QTest::newRow("from") << "chkFrom" << "06.12.2026" << "8 9 11 12 13 14 15 16 17 18";
        QTest::newRow("until") << "chkTo" << "05.12.2026" << "1 2 4 5 6";
        QTest::newRow("no alarms") << "chkAlarme" << "0" << "1 2 5 11 16 17";
        QTest::newRow("no acknowledgements") << "chkQuittierungen" << "0" << "1 2 4 6 8 9 12 13 14 15 16 17 18";
        QTest::newRow("no connections") << "chkVerbindungen" << "0" << "4 5 6 8 9 11 12 13 14 15 17 18";
        QTest::newRow("no others") << "chkSonstige" << "0" << "1 2 4 5 6 8 9 11 12 13 14 15 16 18";
        // From "Hilfe eingetroffen": that incident at every station, not the chatter, the earlier alarm or after it.
        QTest::newRow("this alarm") << "cmdShowAlarm" << "8" << "8 9 11 12 13 14 15";
        // clang-format on
    }

    // Each filter alone, run in slices of a few bytes (lines cut between slices), results in file order.
    void filters()
    {
        QFETCH(QString, control);
        QFETCH(QString, value);
        QFETCH(QString, ids);
        WriteLog(Day());
        frmLog* form = Open();
        QVERIFY(form);
        form->Filter()->SetSliceLimits(0, 7);
        QSignalSpy done(form, &frmLog::FilterDone);
        if (control == "chkFrom" || control == "chkTo") {
            const QDate date = QDate::fromString(value, "dd.MM.yyyy");
            form->findChild<QDateEdit*>(control == "chkFrom" ? "dtpFrom" : "dtpTo")->setDate(date);
            form->findChild<QCheckBox*>(control)->setChecked(true);
        } else if (control.startsWith("chk")) {
            form->findChild<QCheckBox*>(control)->setChecked(value == "1");
        } else if (control == "txtSearch") {
            form->findChild<QLineEdit*>(control)->setText(value);
        } else if (control == "cboStation") {
            form->findChild<QComboBox*>(control)->setEditText(value);
        } else if (control == "cmdShowAlarm") {
            form->SetCurrentRow(value.toInt());
            form->findChild<QPushButton*>(control)->click();
        }
        if (!control.isEmpty())
            QVERIFY(done.count() > 0 || done.wait(10000)); // showing everything needs no pass
        QVERIFY(!form->Filter()->IsRunning());
        QCOMPARE(ShownIds(form), ids.split(' '));
        QCOMPARE(m_boxes, 0); // a broken line is skipped without a word
    }
};

QTEST_MAIN(tst_frmLog)
#include "tst_frmlog.moc"
