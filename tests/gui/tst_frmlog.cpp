#include "TestFolder.h"

#include "admin/XPMsgBox.h"
#include "core/Forms.h"
#include "log/LogModel.h"
#include "log/frmLog.h"

#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// The log viewer window on real files in a throwaway program folder.
class tst_frmLog : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestFolder> m_folder;
    int m_boxes = 0;

    void WriteLog(const QByteArray& bytes, const QString& relative = QStringLiteral("Log/log.csv"))
    {
        QDir(m_folder->path()).mkpath(QFileInfo(m_folder->file(relative)).path());
        QFile f(m_folder->file(relative));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // Opens the viewer from the tray's way in and waits until the log is shown.
    frmLog* Open()
    {
        frmLog::ShowLog(nullptr, false);
        auto* form = qobject_cast<frmLog*>(Forms::Find(QStringLiteral("frmLog")));
        if (!form)
            return nullptr;
        QSignalSpy shown(form, &frmLog::LogShown);
        if (!shown.wait(10000))
            return nullptr;
        return form;
    }

    static QString Cell(frmLog* form, int row, int column)
    {
        return form->Model()->index(row, column).data().toString();
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

    void rowsWithGaplessIds()
    {
        WriteLog("05.12.2026;08:00:00;PC-Empfang;Server gestartet\r\n"
                 "\r\n"
                 "05.12.2026;08:00:01;nur drei Felder\r\n"
                 "05.12.2026;08:05:00;10.0.0.7 (OP 2);004: ALARM von Client ausgel\xf6st\r\n"
                 "05.12.2026;08:06:00;Station;Hilfe; eingetroffen;rest\r\n");
        frmLog* form = Open();
        QVERIFY(form);
        QCOMPARE(form->Model()->rowCount(), 3);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(Cell(form, row, LogModel::ColId), QString::number(row + 1));
        QCOMPARE(Cell(form, 1, LogModel::ColDate), QStringLiteral("05.12.2026"));
        QCOMPARE(Cell(form, 1, LogModel::ColTime), QStringLiteral("08:05:00"));
        QCOMPARE(Cell(form, 1, LogModel::ColStation), QStringLiteral("10.0.0.7 (OP 2)"));
        QCOMPARE(Cell(form, 1, LogModel::ColEvent), QStringLiteral("004: ALARM von Client ausgelöst"));
        // Only the part before a ";" inside the event text is shown.
        QCOMPARE(Cell(form, 2, LogModel::ColEvent), QStringLiteral("Hilfe"));
        QCOMPARE(m_boxes, 0);
    }

    void missingOrEmptyLogGivesEmptyGridWithoutMessage()
    {
        frmLog* form = Open(); // no Log folder at all
        QVERIFY(form);
        QCOMPARE(form->Model()->rowCount(), 0);
        form->close();
        QTRY_VERIFY(!Forms::IsFormLoaded(QStringLiteral("frmLog")));

        WriteLog("");
        form = Open();
        QVERIFY(form);
        QCOMPARE(form->Model()->rowCount(), 0);
        QCOMPARE(m_boxes, 0);
    }

    // Only a regular file is read: a FIFO as the log path gives an empty grid at once. A writer stands by
    // in case the viewer waited on the FIFO after all, so that such a fault shows as a row, not a hang.
    void fifoLogIsNotRead()
    {
        const QByteArray fifo = QFile::encodeName(m_folder->file(QStringLiteral("pipe")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        m_folder->writeIni("[General]\r\nLogfile=" + fifo + "\r\n");
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

    void logfileSettingIsFollowed()
    {
        WriteLog("d;t;s;im Standardpfad\r\n");
        WriteLog("d;t;s;woanders\r\nd;t;s;zweite\r\n", QStringLiteral("Anderswo/events.csv"));
        m_folder->writeIni("[General]\r\nLogfile=" + m_folder->file(QStringLiteral("Anderswo/events.csv")).toUtf8() +
                           "\r\n");
        frmLog* form = Open();
        QVERIFY(form);
        QCOMPARE(form->Model()->rowCount(), 2);
        QCOMPARE(Cell(form, 0, LogModel::ColEvent), QStringLiteral("woanders"));
    }

    void newestRowInViewAndReadOnce()
    {
        QByteArray log;
        for (int i = 1; i <= 3000; ++i)
            log += "06.12.2026;10:00:00;PC;Ereignis " + QByteArray::number(i) + "\r\n";
        WriteLog(log);
        frmLog* form = Open();
        QVERIFY(form);
        auto* grid = form->findChild<QTableView*>(QStringLiteral("lvwLog"));
        QCOMPARE(grid->currentIndex().row(), 2999);
        QVERIFY(grid->viewport()->rect().contains(grid->visualRect(grid->currentIndex())));

        // A line written while the viewer is open shows only after opening it again.
        QFile f(m_folder->file(QStringLiteral("Log/log.csv")));
        QVERIFY(f.open(QIODevice::Append));
        f.write("06.12.2026;10:00:01;PC;neu\r\n");
        f.close();
        QTest::qWait(50);
        QCOMPARE(form->Model()->rowCount(), 3000);
        form->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
        QTRY_VERIFY(!Forms::IsFormLoaded(QStringLiteral("frmLog")));
        form = Open();
        QVERIFY(form);
        QCOMPARE(form->Model()->rowCount(), 3001);
        QCOMPARE(Cell(form, 3000, LogModel::ColEvent), QStringLiteral("neu"));
    }

    void resizeKeepsMarginsAndClampsAtZero()
    {
        WriteLog("d;t;s;e\r\n");
        frmLog* form = Open();
        QVERIFY(form);
        auto* grid = form->findChild<QTableView*>(QStringLiteral("lvwLog"));
        auto* close = form->findChild<QPushButton*>(QStringLiteral("cmdClose"));
        auto* title = form->findChild<QLabel*>(QStringLiteral("lblTitle"));
        const int margin = 240 * form->logicalDpiX() / 1440;
        const QPoint gridTopLeft = grid->pos();

        form->resize(700, 500);
        QCOMPARE(close->geometry().bottomRight() + QPoint(1, 1), QPoint(700 - margin, 500 - margin));
        QCOMPARE(grid->width(), 700 - 2 * margin);
        QCOMPARE(grid->height(), 500 - gridTopLeft.y() - close->height() - 2 * margin);

        // Smaller than the margins: nothing negative, nothing moved off to the left or top.
        for (const QSize s : {QSize(20, 20), QSize(1, 1), QSize(700, 40)}) {
            form->resize(s);
            QCOMPARE(form->size(), s);
            for (QWidget* w :
                 {static_cast<QWidget*>(grid), static_cast<QWidget*>(close), static_cast<QWidget*>(title)}) {
                QVERIFY2(w->width() >= 0 && w->height() >= 0 && w->x() >= 0 && w->y() >= 0,
                         qPrintable(w->objectName()));
            }
        }
        QCOMPARE(grid->height(), 0);
    }

    void eventLoopKeepsRunningDuringLargeLoad()
    {
        // Large enough for many slices at the reduced slice size below.
        QByteArray log;
        log.reserve(6 << 20);
        int valid = 0;
        for (int i = 0; log.size() < (6 << 20); ++i) {
            if (i % 97 == 0) {
                log += "kaputt\r\n";
                continue;
            }
            ++valid;
            log += "07.12.2026;11:22:33;192.168.10." + QByteArray::number(i % 250) + " (Station " +
                   QByteArray::number(i % 20) + ");Zeile " + QByteArray::number(valid) + "\r\n";
        }
        WriteLog(log);

        auto* form = new frmLog;
        form->Model()->SetSliceLimits(0, 64 * 1024);
        form->show();
        QSignalSpy shown(form, &frmLog::LogShown);

        // Stands for the alarm timers and socket events of the running program.
        int ticksWhileLoading = 0;
        int rowsSeenWhileLoading = 0;
        QTimer tick;
        tick.setInterval(0);
        connect(&tick, &QTimer::timeout, this, [&] {
            if (form->Model()->IsLoading()) {
                ++ticksWhileLoading;
                rowsSeenWhileLoading = std::max(rowsSeenWhileLoading, form->Model()->rowCount());
            }
        });
        tick.start();
        QVERIFY(shown.wait(30000));
        tick.stop();

        QVERIFY2(ticksWhileLoading >= 20, qPrintable(QString::number(ticksWhileLoading)));
        QCOMPARE(rowsSeenWhileLoading, 0); // the grid stays still until the load is complete
        QCOMPARE(form->Model()->rowCount(), valid);
        for (int row : {0, valid / 3, valid / 2, valid - 1})
            QCOMPARE(Cell(form, row, LogModel::ColEvent), QStringLiteral("Zeile %1").arg(row + 1));
    }

    void openedNeverTwice()
    {
        WriteLog("d;t;s;e\r\n");
        frmLog::ShowLog(nullptr, false);
        QWidget* first = Forms::Find(QStringLiteral("frmLog"));
        QVERIFY(first);
        frmLog::ShowLog(nullptr, false);
        // A modal request while one is open must not block nor open a second one.
        frmLog::ShowLog(nullptr, true);
        int count = 0;
        for (QWidget* w : Forms::Loaded())
            count += w->objectName() == QLatin1String("frmLog");
        QCOMPARE(count, 1);
    }

    void modalViewerRunsTheLoadAndUnloadsOnClose()
    {
        WriteLog("d;t;s;eins\r\nd;t;s;zwei\r\n");
        int rowsSeen = -1;
        QTimer::singleShot(0, this, [&] {
            auto* form = qobject_cast<frmLog*>(Forms::Find(QStringLiteral("frmLog")));
            if (!form)
                return;
            QVERIFY(form->isModal());
            QSignalSpy shown(form, &frmLog::LogShown);
            if (shown.count() || shown.wait(10000))
                rowsSeen = form->Model()->rowCount();
            QTest::keyClick(form, Qt::Key_Escape);
        });
        frmLog::ShowLog(nullptr, true);
        QCOMPARE(rowsSeen, 2);
        QTRY_VERIFY(!Forms::IsFormLoaded(QStringLiteral("frmLog")));
    }
};

QTEST_MAIN(tst_frmLog)
#include "tst_frmlog.moc"
