#include "log/frmLog.h"

#include "core/EventLog.h"
#include "log/IncidentReport.h"
#include "log/LogFilterModel.h"
#include "log/LogModel.h"
#include "ui/Forms.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
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
    : QDialog(owner), lblTitle(new QLabel(this)), lvwLog(new QTableView(this)), cmdClose(new QPushButton(this)),
      m_model(new LogModel(this))
{
    setObjectName(QStringLiteral("frmLog"));
    setAttribute(Qt::WA_DeleteOnClose);
    Forms::Register(this);
    m_shown = new LogFilterModel(m_model, this);
    m_filter = new LogFilter(this);

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
    lvwLog->setModel(m_shown);
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
    connect(m_filter, &LogFilter::Finished, this, &frmLog::OnFilterFinished);
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
    connect(cmdShowAlarm, &QPushButton::clicked, this, [this] { ShowAlarm(lvwLog->currentIndex().row()); });
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
    RunFilter(c, 0);
}

void frmLog::RunFilter(const LogCriteria& criteria, int firstRow)
{
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
    if (m_shown->IsFiltered() && m_incidentText.isEmpty() && cboStation->count() == 1) {
        const QSignalBlocker block(cboStation);
        cboStation->addItems(m_filter->Stations());
    }
    if (shown > 0 && m_firstShow) {
        const QModelIndex newest = m_shown->index(shown - 1, 0);
        lvwLog->setCurrentIndex(newest);
        lvwLog->scrollTo(newest, QAbstractItemView::PositionAtBottom);
    }
    lvwLog->viewport()->update();
    if (m_firstShow) {
        m_firstShow = false;
        emit LogShown();
    }
    UpdateAlarmButton();
    emit FilterDone();
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
    const int source = m_shown->SourceRow(lvwLog->currentIndex().row());
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
