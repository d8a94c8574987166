#include "log/frmLog.h"

#include "core/EventLog.h"
#include "log/IncidentReport.h"
#include "log/LogFilterModel.h"
#include "log/LogModel.h"
#include "ui/Forms.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {
// Design-time positions in twips (1440 to the inch).
constexpr int Margin = 240;
constexpr int TitleTop = 240, TitleHeight = 375;
constexpr int GridTop = 720;
constexpr int CloseWidth = 1215, CloseHeight = 375;
constexpr int InnerWidth = 12600, InnerHeight = 8400;
// Rows above a raise that are read again for "show this alarm": other stations' lines of the same second.
constexpr int IncidentLeadRows = 500;
// How far up from a step or acknowledgement the raise of its alarm is looked for.
constexpr int IncidentSearchRows = 5000;

std::function<void(const QString&)> g_reportOpener;

const QString kAllStations = QStringLiteral("Alle Stationen");
} // namespace

// The rows of the shown log that fit on screen, for the grid: a grid over all rows keeps a size and a
// position for every row and lays them all out whenever rows come or go, which for a year of log means
// tens of megabytes and a frozen window. The grid scrolls by moving this window.
class LogWindowModel : public QAbstractTableModel
{
public:
    LogWindowModel(LogFilterModel* rows, QObject* parent) : QAbstractTableModel(parent), m_rows(rows) {}

    int First() const { return m_first; }
    // Shows `size` rows from `first` on; `changed`: rows under the window changed although it stays put.
    void Set(int first, int size, bool changed)
    {
        const int count = std::clamp(m_rows->rowCount() - first, 0, size);
        if (count != m_count) {
            beginResetModel();
            m_first = first;
            m_count = count;
            endResetModel();
        } else if (first != m_first || changed) {
            m_first = first;
            if (count > 0)
                emit dataChanged(index(0, 0), index(count - 1, columnCount() - 1));
        }
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : m_count; }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override { return m_rows->columnCount(parent); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        return index.isValid() ? m_rows->index(m_first + index.row(), index.column()).data(role) : QVariant();
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        return m_rows->headerData(section, orientation, role);
    }

private:
    LogFilterModel* m_rows;
    int m_first = 0, m_count = 0;
};

// The log grid: a table over the window of rows on screen, with its own scroll bar over all rows. The
// current row is kept as a row of the whole list, so it survives scrolling it out of the window.
class LogGrid : public QTableView
{
public:
    explicit LogGrid(QWidget* parent) : QTableView(parent), m_bar(new QScrollBar(Qt::Vertical, this))
    {
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_bar->hide();
        connect(m_bar, &QScrollBar::valueChanged, this, [this](int first) { MoveTo(first, false); });
    }

    void SetRows(LogFilterModel* rows)
    {
        m_rows = rows;
        m_window = new LogWindowModel(rows, this);
        setModel(m_window);
        connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& now) {
            if (m_moving)
                return;
            m_current = now.isValid() ? m_window->First() + now.row() : -1;
            m_column = std::max(0, now.column());
        });
        connect(rows, &QAbstractItemModel::modelReset, this, [this] {
            m_current = -1;
            MoveTo(0, true);
        });
        connect(rows, &QAbstractItemModel::rowsInserted, this, [this] { MoveTo(m_window->First(), true); });
    }

    int Current() const { return m_current; }
    void SetCurrent(int row)
    {
        m_current = row;
        ScrollToCurrent();
    }
    bool InView(int row) const { return row >= m_window->First() && row < m_window->First() + m_window->rowCount(); }

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override
    {
        const int total = m_rows->rowCount();
        if (total == 0)
            return {};
        if (m_current < 0 || m_current >= total)
            m_current = m_window->First(); // as a plain grid: from the top row on screen
        ScrollToCurrent();
        // The grid finds the column and moves within the window; rows further away are counted here.
        const QModelIndex inWindow = QTableView::moveCursor(action, modifiers);
        const int page = std::max(1, RowsOnScreen());
        int row = m_current;
        switch (action) {
        case MoveUp:
            --row;
            break;
        case MoveDown:
            ++row;
            break;
        case MovePageUp:
            row -= page;
            break;
        case MovePageDown:
            row += page;
            break;
        case MoveHome:
            row = modifiers & Qt::ControlModifier ? 0 : row;
            break;
        case MoveEnd:
            row = modifiers & Qt::ControlModifier ? total - 1 : row;
            break;
        default:
            row = inWindow.isValid() ? m_window->First() + inWindow.row() : row;
            break;
        }
        m_current = std::clamp(row, 0, total - 1);
        m_column = inWindow.isValid() ? inWindow.column() : m_column;
        ScrollToCurrent();
        return currentIndex();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        // Copies the current row's cell even when it is scrolled out of the window.
        if (event == QKeySequence::Copy && m_current >= 0) {
            QGuiApplication::clipboard()->setText(m_rows->index(m_current, m_column).data().toString());
            event->accept();
            return;
        }
        QTableView::keyPressEvent(event);
    }

    void wheelEvent(QWheelEvent* event) override
    {
        if (event->angleDelta().y() != 0 && m_bar->isVisible())
            QCoreApplication::sendEvent(m_bar, event);
        else
            QTableView::wheelEvent(event);
    }

    bool viewportEvent(QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            MoveTo(m_window ? m_window->First() : 0, false);
        return QTableView::viewportEvent(event);
    }

    void updateGeometries() override
    {
        QTableView::updateGeometries();
        // The grid sets its margins for the header; the scroll bar takes the right edge.
        const QMargins m = viewportMargins();
        const int right = m_bar->isHidden() ? 0 : m_bar->sizeHint().width();
        if (m.right() != right)
            setViewportMargins(m.left(), m.top(), right, m.bottom());
        const QRect vp = viewport()->geometry();
        m_bar->setGeometry(vp.right() + 1, vp.top(), right, vp.height());
    }

private:
    int RowsOnScreen() const
    {
        return std::max(1, viewport()->height() / std::max(1, verticalHeader()->defaultSectionSize()));
    }

    void ScrollToCurrent()
    {
        int first = m_window->First();
        const int size = RowsOnScreen();
        if (m_current >= 0 && m_current < first)
            first = m_current;
        else if (m_current >= first + size)
            first = m_current - size + 1;
        MoveTo(first, false);
    }

    void MoveTo(int first, bool changed)
    {
        if (!m_window || m_moving)
            return;
        m_moving = true;
        const int total = m_rows->rowCount(), size = RowsOnScreen();
        const int last = std::max(0, total - size);
        first = std::clamp(first, 0, last);
        m_window->Set(first, size, changed);
        m_bar->setRange(0, last);
        m_bar->setPageStep(size);
        m_bar->setValue(first);
        if (m_bar->isHidden() != (last == 0)) {
            m_bar->setHidden(last == 0);
            updateGeometries();
        }
        // The selection follows the current row into and out of the window.
        if (InView(m_current))
            selectionModel()->setCurrentIndex(m_window->index(m_current - first, m_column),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        else
            selectionModel()->clear();
        m_moving = false;
    }

    QScrollBar* m_bar;
    LogFilterModel* m_rows = nullptr;
    LogWindowModel* m_window = nullptr;
    int m_current = -1, m_column = 0;
    bool m_moving = false;
};

void frmLog::SetReportOpenerForTests(std::function<void(const QString&)> opener)
{
    g_reportOpener = std::move(opener);
}

void frmLog::ShowLog(QWidget* owner, bool modal)
{
    if (!Forms::Activate(QStringLiteral("frmLog")))
        Forms::Show(new frmLog(owner), modal);
}

frmLog::frmLog(QWidget* owner)
    : QDialog(owner), lblTitle(new QLabel(this)), lvwLog(new LogGrid(this)), cmdClose(new QPushButton(this)),
      m_model(new LogModel(this))
{
    setObjectName(QStringLiteral("frmLog"));
    setAttribute(Qt::WA_DeleteOnClose);
    Forms::Register(this);
    m_shown = new LogFilterModel(m_model, this);
    m_filter = new LogFilter(this);
    m_stationPass = new LogFilter(this);

    setWindowTitle(QStringLiteral("tavinor") + QStringLiteral(" - Logbuch"));
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setText(QStringLiteral("tavinor"));
    Forms::StyleTitle(lblTitle);

    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setText(QStringLiteral("Schließen"));
    connect(cmdClose, &QPushButton::clicked, this, &frmLog::close);

    // A plain list with headers. Every row has the same fixed height and the columns are sized from a
    // sample, so the grid never walks millions of rows.
    lvwLog->setObjectName(QStringLiteral("lvwLog"));
    m_grid = static_cast<LogGrid*>(lvwLog);
    m_grid->SetRows(m_shown);
    lvwLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwLog->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwLog->setShowGrid(false);
    lvwLog->setWordWrap(false);
    lvwLog->setCornerButtonEnabled(false);
    lvwLog->verticalHeader()->hide();
    lvwLog->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lvwLog->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    lvwLog->horizontalHeader()->setHighlightSections(false);
    lvwLog->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // "Ereignis" takes whatever width is left.
    lvwLog->horizontalHeader()->setStretchLastSection(true);
    FitColumns();
    connect(m_model, &LogModel::Loaded, this, &frmLog::OnLoaded);
    connect(m_filter, &LogFilter::Found, m_shown, &LogFilterModel::Append);
    // The first complete pass over the whole log fills the station list.
    const auto listStations = [this](LogFilter* pass) {
        if (m_incidentText.isEmpty() && cboStation->count() == 1) {
            const QSignalBlocker block(cboStation);
            cboStation->addItems(pass->Stations());
        }
    };
    connect(m_filter, &LogFilter::Finished, this, [this, listStations] {
        listStations(m_filter);
        OnFilterFinished();
    });
    connect(m_stationPass, &LogFilter::Finished, this, [this, listStations] { listStations(m_stationPass); });
    connect(lvwLog->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &frmLog::UpdateAlarmButton);

    // The filters.
    fraFilter = new QWidget(this);
    fraFilter->setObjectName(QStringLiteral("fraFilter"));
    auto* g = new QGridLayout(fraFilter);
    g->setContentsMargins(0, 0, 0, 0);
    const auto make = [this](auto* w, const char* name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };
    txtSearch = make(new QLineEdit(fraFilter), "txtSearch");
    txtSearch->setPlaceholderText(QStringLiteral("Suchen in Station und Ereignis"));
    txtSearch->setClearButtonEnabled(true);
    chkFrom = make(new QCheckBox(QStringLiteral("von"), fraFilter), "chkFrom");
    dtpFrom = make(new QDateEdit(QDate::currentDate(), fraFilter), "dtpFrom");
    chkTo = make(new QCheckBox(QStringLiteral("bis"), fraFilter), "chkTo");
    dtpTo = make(new QDateEdit(QDate::currentDate(), fraFilter), "dtpTo");
    for (QDateEdit* d : {dtpFrom, dtpTo}) {
        d->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        d->setCalendarPopup(true);
    }
    cboStation = make(new QComboBox(fraFilter), "cboStation");
    cboStation->setEditable(true);
    cboStation->addItem(kAllStations);
    cboStation->setInsertPolicy(QComboBox::NoInsert);
    cboStation->setMinimumContentsLength(18);
    chkAlarme = make(new QCheckBox(QStringLiteral("Alarme"), fraFilter), "chkAlarme");
    chkQuittierungen = make(new QCheckBox(QStringLiteral("Quittierungen"), fraFilter), "chkQuittierungen");
    chkVerbindungen = make(new QCheckBox(QStringLiteral("Verbindungen"), fraFilter), "chkVerbindungen");
    chkSonstige = make(new QCheckBox(QStringLiteral("Sonstige"), fraFilter), "chkSonstige");
    chkChatter = make(new QCheckBox(QStringLiteral("001/002 anzeigen"), fraFilter), "chkChatter");
    for (QCheckBox* c : {chkAlarme, chkQuittierungen, chkVerbindungen, chkSonstige})
        c->setChecked(true);
    cmdShowAlarm = make(new QPushButton(QStringLiteral("Diesen Alarm anzeigen"), fraFilter), "cmdShowAlarm");
    cmdShowAlarm->setEnabled(false);
    cmdResetFilter = make(new QPushButton(QStringLiteral("Filter zurücksetzen"), fraFilter), "cmdResetFilter");
    lblStatus = make(new QLabel(fraFilter), "lblStatus");

    g->addWidget(new QLabel(QStringLiteral("Suche:"), fraFilter), 0, 0);
    g->addWidget(txtSearch, 0, 1, 1, 3);
    g->addWidget(new QLabel(QStringLiteral("Station:"), fraFilter), 0, 4);
    g->addWidget(cboStation, 0, 5, 1, 2);
    g->addWidget(chkFrom, 1, 0);
    g->addWidget(dtpFrom, 1, 1);
    g->addWidget(chkTo, 1, 2);
    g->addWidget(dtpTo, 1, 3);
    g->addWidget(cmdShowAlarm, 1, 5);
    g->addWidget(cmdResetFilter, 1, 6);
    auto* kinds = new QHBoxLayout;
    for (QCheckBox* c : {chkAlarme, chkQuittierungen, chkVerbindungen, chkSonstige, chkChatter})
        kinds->addWidget(c);
    kinds->addStretch();
    g->addLayout(kinds, 2, 0, 1, 7);
    g->addWidget(lblStatus, 3, 0, 1, 7);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(3, 1);

    m_typing = new QTimer(this);
    m_typing->setSingleShot(true);
    m_typing->setInterval(300); // a new pass per pause in typing, not per key
    connect(m_typing, &QTimer::timeout, this, &frmLog::ApplyFilter);
    connect(txtSearch, &QLineEdit::textChanged, m_typing, qOverload<>(&QTimer::start));
    connect(cboStation, &QComboBox::currentTextChanged, m_typing, qOverload<>(&QTimer::start));
    for (QCheckBox* c : {chkFrom, chkTo, chkAlarme, chkQuittierungen, chkVerbindungen, chkSonstige, chkChatter})
        connect(c, &QCheckBox::toggled, this, &frmLog::ApplyFilter);
    for (QDateEdit* d : {dtpFrom, dtpTo})
        connect(d, &QDateEdit::dateChanged, this, [this] {
            if (chkFrom->isChecked() || chkTo->isChecked())
                ApplyFilter();
        });
    connect(cmdShowAlarm, &QPushButton::clicked, this, [this] { ShowAlarm(CurrentRow()); });
    connect(cmdResetFilter, &QPushButton::clicked, this, [this] {
        const QSignalBlocker b1(txtSearch), b2(cboStation), b3(chkFrom), b4(chkTo), b5(chkChatter);
        txtSearch->clear();
        cboStation->setCurrentIndex(0);
        chkFrom->setChecked(false);
        chkTo->setChecked(false);
        chkChatter->setChecked(false);
        for (QCheckBox* c : {chkAlarme, chkQuittierungen, chkVerbindungen, chkSonstige}) {
            const QSignalBlocker b(c);
            c->setChecked(true);
        }
        ApplyFilter();
    });

    // The incident reports written beside the log.
    lblReports = make(new QLabel(QStringLiteral("Einsatzberichte:"), this), "lblReports");
    cboReports = make(new QComboBox(this), "cboReports");
    cboReports->setMinimumContentsLength(20);
    cmdOpenReport = make(new QPushButton(QStringLiteral("&Bericht öffnen"), this), "cmdOpenReport");
    connect(cmdOpenReport, &QPushButton::clicked, this, &frmLog::OpenReport);
    ListReports();

    lblTitle->setGeometry(TwipsX(Margin), TwipsY(TitleTop), TwipsX(InnerWidth - 2 * Margin), TwipsY(TitleHeight));
    fraFilter->setGeometry(TwipsX(Margin), TwipsY(GridTop), TwipsX(InnerWidth - 2 * Margin),
                           fraFilter->sizeHint().height());
    lvwLog->move(TwipsX(Margin), fraFilter->geometry().bottom() + TwipsY(Margin / 2));
    cmdClose->resize(TwipsX(CloseWidth), TwipsY(CloseHeight));
    resize(TwipsX(InnerWidth), TwipsY(InnerHeight));
    ApplyLayout();

    LoadLog();
}

void frmLog::LoadLog()
{
    m_model->Load(Functions::LogFilePath());
}

void frmLog::OnLoaded()
{
    m_loaded = true;
    FitColumns();
    ApplyFilter();
}

LogCriteria frmLog::Criteria() const
{
    LogCriteria c;
    c.text = txtSearch->text().trimmed();
    if (chkFrom->isChecked())
        c.from = dtpFrom->date();
    if (chkTo->isChecked())
        c.to = dtpTo->date();
    const QString station = cboStation->currentText().trimmed();
    if (station != kAllStations)
        c.station = station;
    const auto kind = [](QCheckBox* box, LogCriteria::Kind k) { return box->isChecked() ? unsigned(k) : 0u; };
    c.kinds = kind(chkAlarme, LogCriteria::Alarm) | kind(chkQuittierungen, LogCriteria::Ack) |
              kind(chkVerbindungen, LogCriteria::Connection) | kind(chkSonstige, LogCriteria::Other) |
              kind(chkChatter, LogCriteria::Chatter);
    return c;
}

void frmLog::ApplyFilter()
{
    m_typing->stop();
    m_incidentText.clear();
    if (!m_loaded)
        return; // the load applies the filters when it is complete
    const LogCriteria c = Criteria();
    if (c.PassesAll()) {
        m_filter->Stop();
        m_shown->ShowAll();
        OnFilterFinished();
        return;
    }
    LogCriteria chatterHidden;
    chatterHidden.kinds = LogCriteria::AllKinds & ~LogCriteria::Chatter;
    if (c.text.isEmpty() && !c.from.isValid() && !c.to.isValid() && c.station.isEmpty() && c.incidentFrom < 0 &&
        c.kinds == chatterHidden.kinds) {
        // The default view: the load already told the chatter apart, no pass over the file. The station
        // list that a pass would have gathered is collected behind the grid; it matches nothing itself.
        m_filter->Stop();
        if (m_model->ChatterRows() == 0)
            m_shown->ShowAll(true); // a log without chatter needs no list of its rows
        else
            m_shown->ShowRows(m_model->RowsWithoutChatter());
        OnFilterFinished();
        if (cboStation->count() == 1 && !m_stationPass->IsRunning()) {
            LogCriteria none;
            none.kinds = 0;
            m_stationPass->Start(m_model->Path(), 0, 0, m_model->LoadedBytes(), none);
        }
        return;
    }
    RunFilter(c, 0);
}

void frmLog::RunFilter(const LogCriteria& criteria, int firstRow)
{
    if (firstRow == 0 && m_incidentText.isEmpty())
        m_stationPass->Stop(); // this pass lists the stations as well
    m_shown->BeginSelection();
    lblStatus->setText(QStringLiteral("Suche läuft ..."));
    m_filter->Start(m_model->Path(), m_model->RowStart(firstRow), firstRow, m_model->LoadedBytes(), criteria);
}

void frmLog::OnFilterFinished()
{
    const int shown = m_shown->rowCount();
    QString status = m_shown->IsFiltered() ? QStringLiteral("%1 von %2 Einträgen").arg(shown).arg(m_model->rowCount())
                                           : QStringLiteral("%1 Einträge").arg(shown);
    if (!m_incidentText.isEmpty())
        status = m_incidentText + QStringLiteral(": ") + status;
    lblStatus->setText(status);
    if (shown > 0 && m_firstShow) {
        SetCurrentRow(shown - 1); // at the bottom of the grid
    }
    lvwLog->viewport()->update();
    if (m_firstShow) {
        m_firstShow = false;
        emit LogShown();
    }
    UpdateAlarmButton();
    emit FilterDone();
}

int frmLog::CurrentRow() const
{
    return m_grid->Current();
}

void frmLog::SetCurrentRow(int row)
{
    m_grid->SetCurrent(row);
}

bool frmLog::RowInView(int row) const
{
    return m_grid->InView(row);
}

bool frmLog::ShowAlarm(int row)
{
    const int source = m_shown->SourceRow(row);
    if (source < 0 || !m_loaded)
        return false;
    if (LogMatch::Classify(m_model->Fields(source)[3]) != LogCriteria::Alarm)
        return false;
    // From a step or an end, the incident starts at the raise above it.
    int raise = source;
    for (int r = source; r >= std::max(0, source - IncidentSearchRows); --r) {
        if (LogMatch::IsRaise(m_model->Fields(r)[3])) {
            raise = r;
            break;
        }
    }
    // Several stations log the same raise within seconds: the incident starts with the first of them.
    const LogIndex::Fields at = m_model->Fields(raise);
    const qint64 raisedAt = LogMatch::TimeKey(at[0], at[1]);
    while (raise > 0 && LogMatch::IsRaise(m_model->Fields(raise - 1)[3])) {
        const LogIndex::Fields before = m_model->Fields(raise - 1);
        const qint64 key = LogMatch::TimeKey(before[0], before[1]);
        if (key < 0 || key < raisedAt - LogFilter::IncidentSlack)
            break;
        --raise;
    }
    const LogIndex::Fields f = m_model->Fields(raise);
    LogCriteria c;
    c.incidentFrom = LogMatch::TimeKey(f[0], f[1]);
    if (c.incidentFrom < 0)
        return false;
    m_typing->stop();
    m_incidentText = QStringLiteral("NOTRUF vom %1 %2, %3").arg(f[0], f[1], f[2]);
    RunFilter(c, std::max(0, raise - IncidentLeadRows));
    return true;
}

void frmLog::UpdateAlarmButton()
{
    const int source = m_shown->SourceRow(CurrentRow());
    cmdShowAlarm->setEnabled(source >= 0 && m_incidentText.isEmpty() &&
                             LogMatch::Classify(m_model->Fields(source)[3]) == LogCriteria::Alarm);
}

void frmLog::FitColumns()
{
    // Sized to what the columns can hold: a date and a time never cut, the ID as wide as the highest number.
    const QFontMetrics fm(lvwLog->font());
    const int pad = fm.horizontalAdvance(QLatin1Char('M')) * 2;
    const auto width = [&](const QString& sample, int column) {
        const QString header = m_model->headerData(column, Qt::Horizontal).toString();
        return std::max(fm.horizontalAdvance(sample),
                        QFontMetrics(lvwLog->horizontalHeader()->font()).horizontalAdvance(header)) +
               pad;
    };
    lvwLog->setColumnWidth(
        LogModel::ColId,
        width(QString(QString::number(std::max(m_model->rowCount(), 100)).size(), QLatin1Char('8')), LogModel::ColId));
    lvwLog->setColumnWidth(LogModel::ColDate, width(QStringLiteral("88.88.8888"), LogModel::ColDate));
    lvwLog->setColumnWidth(LogModel::ColTime, width(QStringLiteral("88:88:88"), LogModel::ColTime));
    // Stations: the rows at the end of the log tell how long the names are.
    int station = width(QStringLiteral("192.168.100.100 (Station)"), LogModel::ColStation);
    for (int r = std::max(0, m_model->rowCount() - 200); r < m_model->rowCount(); ++r)
        station = std::max(station, fm.horizontalAdvance(m_model->Fields(r)[2]) + pad);
    lvwLog->setColumnWidth(LogModel::ColStation, std::min(station, TwipsX(4500)));
}

void frmLog::ListReports()
{
    cboReports->clear();
    for (const QString& path : IncidentReport::List())
        cboReports->addItem(QFileInfo(path).completeBaseName(), path);
    cmdOpenReport->setEnabled(cboReports->count() > 0);
}

void frmLog::OpenReport()
{
    const QString path = cboReports->currentData().toString();
    if (path.isEmpty())
        return;
    if (g_reportOpener)
        g_reportOpener(path);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

frmLog::Layout frmLog::ComputeLayout(QSize inner, QRect title, QRect grid, QSize close, int margin)
{
    Layout l;
    l.title = QRect(title.topLeft(), QSize(std::max(0, inner.width() - 2 * margin), title.height()));
    l.grid = QRect(grid.topLeft(), QSize(std::max(0, inner.width() - 2 * margin),
                                         std::max(0, inner.height() - grid.top() - close.height() - 2 * margin)));
    l.close = QRect(QPoint(std::max(0, inner.width() - close.width() - margin),
                           std::max(0, inner.height() - close.height() - margin)),
                    close);
    return l;
}

void frmLog::ApplyLayout()
{
    const Layout l = ComputeLayout(size(), lblTitle->geometry(), lvwLog->geometry(), cmdClose->size(), TwipsX(Margin));
    lblTitle->setGeometry(l.title);
    fraFilter->resize(l.title.width(), fraFilter->height());
    lvwLog->setGeometry(l.grid);
    cmdClose->setGeometry(l.close);
    // The reports sit in the bottom row, left of the close button.
    const int h = l.close.height();
    const int x = l.title.left();
    const int labelWidth = lblReports->sizeHint().width();
    const int openWidth = std::max(cmdOpenReport->sizeHint().width(), l.close.width() / 2);
    const int comboWidth =
        std::clamp(l.close.left() - x - labelWidth - openWidth - 3 * TwipsX(Margin / 2), 0, TwipsX(4500));
    lblReports->setGeometry(x, l.close.top(), labelWidth, h);
    cboReports->setGeometry(x + labelWidth + TwipsX(Margin / 2), l.close.top(), comboWidth, h);
    cmdOpenReport->setGeometry(cboReports->geometry().right() + TwipsX(Margin / 2), l.close.top(), openWidth, h);
}

void frmLog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    ApplyLayout();
}

int frmLog::TwipsX(int twips) const
{
    return twips * logicalDpiX() / 1440;
}

int frmLog::TwipsY(int twips) const
{
    return twips * logicalDpiY() / 1440;
}
