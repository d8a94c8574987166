// Opens the log viewer on PROGRAM_FOLDER/Log/log.csv, as the tray menu does, and measures the time from
// the call until the grid has painted with the newest row in view (and from the built window on, the load
// alone), the longest the event loop was held up during the load, and the process's peak memory.
// With --filter it then waits for the station list (gathered behind the grid), filters the whole log by one
// station (the newest row's, as a user picks it from the list) and measures the time until the list was
// there, to the first and to all results, and the longest stall meanwhile.
//
//   tv_logbench PROGRAM_FOLDER [--filter]
#include "log/LogFilter.h"
#include "log/LogFilterModel.h"
#include "log/LogModel.h"
#include "log/frmLog.h"
#include "platform/ProgramFolder.h"
#include "ui/Forms.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {
class PaintWatch : public QObject
{
public:
    std::function<void()> onPaint;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && onPaint)
            QTimer::singleShot(0, this, onPaint); // once the paint itself is done
        return false;
    }
};
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const bool filter = argc == 3 && QByteArray(argv[2]) == "--filter";
    if (argc != 2 && !filter) {
        std::fprintf(stderr, "usage: %s PROGRAM_FOLDER [--filter]\n", argv[0]);
        return 2;
    }
    ProgramFolder::SetForTests(QString::fromLocal8Bit(argv[1]));

    QElapsedTimer clock;
    clock.start();
    frmLog::ShowLog(nullptr, false);
    // Building the window is the same for every log; the load runs after it.
    const qint64 openMs = clock.elapsed();
    auto* form = qobject_cast<frmLog*>(Forms::Find(QStringLiteral("frmLog")));
    auto* grid = form ? form->findChild<QTableView*>(QStringLiteral("lvwLog")) : nullptr;
    if (!grid)
        return 1;

    qint64 loadedMs = -1;
    // The longest the event loop was held up between two turns while the viewer opened: what an alarm or
    // a socket event would have had to wait.
    qint64 maxStallMs = 0, lastTurn = openMs, stallAt = 0;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, &app, [&] {
        const qint64 now = clock.elapsed();
        if (now - lastTurn > maxStallMs) {
            maxStallMs = now - lastTurn;
            stallAt = now;
        }
        lastTurn = now;
    });
    turn.start(0);
    // The filter pass: the station of the newest row, over the whole log.
    qint64 start = 0, firstMs = -1, stationsMs = -1;
    const std::function<void()> runFilter = [&] {
        LogModel* model = form->Model();
        LogCriteria c;
        c.station = model->Fields(model->rowCount() - 1)[2];
        c.kinds = LogCriteria::AllKinds & ~LogCriteria::Chatter;
        auto* f = form->Filter();
        start = clock.elapsed();
        maxStallMs = 0;
        lastTurn = start;
        QObject::connect(f, &LogFilter::Found, &app, [&] {
            if (firstMs < 0)
                firstMs = clock.elapsed() - start;
        });
        QObject::connect(f, &LogFilter::Finished, &app, [&, c] {
            rusage ru{};
            getrusage(RUSAGE_SELF, &ru);
            std::printf("filter station=\"%s\" stations_ms=%lld matches=%d first_ms=%lld all_ms=%lld "
                        "filter_stall_ms=%lld peak_rss_mb=%.1f\n",
                        qPrintable(c.station), static_cast<long long>(stationsMs), form->Shown()->rowCount(),
                        static_cast<long long>(firstMs), static_cast<long long>(clock.elapsed() - start),
                        static_cast<long long>(maxStallMs), ru.ru_maxrss / 1024.0);
            QTimer::singleShot(0, &app, &QApplication::quit);
        });
        form->Shown()->BeginSelection();
        f->Start(model->Path(), 0, 0, model->LoadedBytes(), c);
    };
    // The user picks the station from the list: it must be there first.
    QTimer poll;
    const std::function<void()> waitForStations = [&] {
        QObject::connect(&poll, &QTimer::timeout, &app, [&] {
            if (form->findChild<QComboBox*>(QStringLiteral("cboStation"))->count() < 2)
                return;
            poll.stop();
            stationsMs = clock.elapsed();
            runFilter();
        });
        poll.start(5);
    };
    // The index alone, before the default filter pass.
    qint64 indexedMs = -1;
    QObject::connect(form->Model(), &LogModel::Loaded, &app, [&] { indexedMs = clock.elapsed(); });
    PaintWatch watch;
    grid->viewport()->installEventFilter(&watch);
    QObject::connect(form, &frmLog::LogShown, &app, [&] {
        loadedMs = clock.elapsed();
        watch.onPaint = [&] {
            // What the grid shows: the log less what the default filter hides (the 001/002 registrations).
            const int rows = form->Shown()->rowCount();
            if (rows > 0 && !form->RowInView(rows - 1))
                return; // not yet in view
            const qint64 shownMs = clock.elapsed();
            rusage ru{};
            getrusage(RUSAGE_SELF, &ru);
            // CPU time as well: on a shared machine the wall-clock figures include waiting for a core.
            const double cpuMs = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
                                 (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
            std::printf("log_rows=%d indexed_ms=%lld ", form->Model()->rowCount(), static_cast<long long>(indexedMs));
            std::printf("open_ms=%lld load_ms=%lld stall_at_ms=%lld ", static_cast<long long>(openMs),
                        static_cast<long long>(shownMs - openMs), static_cast<long long>(stallAt));
            std::printf("rows=%d loaded_ms=%lld shown_ms=%lld max_stall_ms=%lld peak_rss_mb=%.1f cpu_ms=%.0f "
                        "newest=\"%s\"\n",
                        rows, static_cast<long long>(loadedMs), static_cast<long long>(shownMs),
                        static_cast<long long>(std::max(maxStallMs, shownMs - lastTurn)), ru.ru_maxrss / 1024.0, cpuMs,
                        qPrintable(form->Shown()->index(rows - 1, LogModel::ColEvent).data().toString()));
            watch.onPaint = nullptr;
            if (filter)
                QTimer::singleShot(0, &app, waitForStations);
            else
                QTimer::singleShot(0, &app, &QApplication::quit);
        };
        grid->viewport()->update();
    });
    return app.exec();
}
