#include "windows/frmMonitor.h"

#include "net/AlarmNet.h"
#include "net/MonitorRows.h"
#include "net/Network.h"
#include "net/ReceiptRelay.h"
#include "net/ServerRelay.h"
#include "platform/SocketArray.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {
enum Column { ColId, ColStation, ColStatus, ColAlarm, ColReceipt, ColumnCount };
} // namespace

void frmMonitor::ShowMonitor(QWidget* owner, Network::AlarmNet* net)
{
    if (Forms::Activate(QStringLiteral("frmMonitor")))
        return;
    QPointer<frmMonitor> monitor(new frmMonitor(owner, net));
    // An alarm that arrived during the first refresh has closed the monitor already: bringing it up now would
    // put it back, modal, in front of the alarm's window.
    if (monitor && !monitor->m_closed)
        monitor->exec(); // deletes the form on return (WA_DeleteOnClose)
}

frmMonitor::frmMonitor(QWidget* owner, Network::AlarmNet* net)
    : QDialog(owner), lblTitle(new QLabel(this)), lvwStatus(new QTableWidget(this)), lblTime(new QLabel(this)),
      cmdAktualisieren(new QPushButton(this)), cmdClose(new QPushButton(this)), m_net(net ? net : Network::Instance())
{
    setObjectName(QStringLiteral("frmMonitor"));
    setAttribute(Qt::WA_DeleteOnClose);
    Forms::Register(this);

    setWindowTitle(QStringLiteral("tavinor") + QStringLiteral(" - Status-Monitor"));
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setText(QStringLiteral("tavinor"));
    Forms::StyleTitle(lblTitle);

    lvwStatus->setObjectName(QStringLiteral("lvwStatus"));
    lvwStatus->setColumnCount(ColumnCount);
    lvwStatus->setHorizontalHeaderLabels({QStringLiteral("ID"), QStringLiteral("Name (IP) der Station"),
                                          QStringLiteral("Status"), QStringLiteral("Alarmierung"),
                                          QStringLiteral("Rückmeldung")});
    lvwStatus->setColumnHidden(ColId, true);
    lvwStatus->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwStatus->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwStatus->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwStatus->setShowGrid(false);
    lvwStatus->setWordWrap(false);
    lvwStatus->verticalHeader()->hide();
    lvwStatus->horizontalHeader()->setHighlightSections(false);
    const qreal dpi = logicalDpiX();
    // The names need the room: the station column takes what the two narrow ones leave.
    lvwStatus->setColumnWidth(ColId, XPMsgBox::TwipsToPixels(1000, dpi));
    lvwStatus->setColumnWidth(ColStation, XPMsgBox::TwipsToPixels(3000, dpi));
    lvwStatus->setColumnWidth(ColStatus, XPMsgBox::TwipsToPixels(2000, dpi));
    lvwStatus->setColumnWidth(ColAlarm, XPMsgBox::TwipsToPixels(2000, dpi));
    lvwStatus->setColumnWidth(ColReceipt, XPMsgBox::TwipsToPixels(2500, dpi));
    lvwStatus->horizontalHeader()->setSectionResizeMode(ColStation, QHeaderView::Stretch);
    lvwStatus->horizontalHeaderItem(ColStatus)->setTextAlignment(Qt::AlignCenter);
    lvwStatus->horizontalHeaderItem(ColAlarm)->setTextAlignment(Qt::AlignCenter);

    lblTime->setObjectName(QStringLiteral("lblTime"));
    lblLegend = new QLabel(QStringLiteral("Alarmierung: vis = Alarmfenster (visuell), ak = Ton (akustisch); "
                                          "rot = Station nicht verbunden"),
                           this);
    lblLegend->setObjectName(QStringLiteral("lblLegend"));
    lblLegend->setWordWrap(true);
    auto* tmrRefresh = new QTimer(this);
    tmrRefresh->setObjectName(QStringLiteral("tmrRefresh"));
    tmrRefresh->setInterval(RefreshSeconds * 1000);
    connect(tmrRefresh, &QTimer::timeout, this, &frmMonitor::Refresh);
    tmrRefresh->start();
    cmdAktualisieren->setObjectName(QStringLiteral("cmdAktualisieren"));
    cmdAktualisieren->setText(QStringLiteral("Aktualisieren"));
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setText(QStringLiteral("Schließen"));
    connect(cmdAktualisieren, &QPushButton::clicked, this, &frmMonitor::Refresh);
    connect(cmdClose, &QPushButton::clicked, this, &frmMonitor::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblTime, 1);
    buttons->addWidget(cmdAktualisieren);
    buttons->addWidget(cmdClose);
    auto* root = new QVBoxLayout(this);
    root->addWidget(lblTitle);
    root->addWidget(lvwStatus, 1);
    root->addWidget(lblLegend);
    root->addLayout(buttons);
    resize(XPMsgBox::TwipsToPixels(8400, dpi), XPMsgBox::TwipsToPixels(5000, dpi));

    Refresh();
}

void frmMonitor::Refresh()
{
    // The refresh lets events run; a timer tick or a click meanwhile must not start a second one inside it.
    if (m_refreshing)
        return;
    m_refreshing = true;
    QPointer<frmMonitor> self(this);
    const int current = lvwStatus->currentRow();
    lvwStatus->setUpdatesEnabled(false);
    lvwStatus->setRowCount(0);

    const int n = m_net ? qMax(m_net->HighestListenerSlot(), m_net->HighestWriterSlot()) : 0;
    for (int i = 1; i <= n; ++i) {
        // Socket events and timers go on meanwhile; each row shows its slot as it is when the row is built.
        QCoreApplication::processEvents();
        if (!self)
            return;
        if (m_closed) {
            m_refreshing = false;
            return;
        }
        Socket* socket = m_net ? m_net->WS_Listener()->At(i) : nullptr;
        // Numbers above the highest listener slot (more downlinks than uplinks) have no slot to show.
        AddRow((socket ? Monitor::RowText(i, m_net->StationRecord(i), socket->IsConnected(), socket->PeerAddress())
                       : Monitor::EmptyRowText(i)) +
               QLatin1Char('\t') + m_net->Server()->receipts()->StateText(i));
    }

    // The refresh of its own must not take away the row the user is looking at.
    if (current >= 0 && current < lvwStatus->rowCount())
        lvwStatus->setCurrentCell(current, ColStation);
    lvwStatus->setUpdatesEnabled(true);
    lblTime->setText(Monitor::TimeText(QDateTime::currentDateTime()));
    m_refreshing = false;
}

void frmMonitor::AddRow(const QString& row)
{
    const QStringList cells = row.split(QLatin1Char('\t'));
    const int r = lvwStatus->rowCount();
    lvwStatus->insertRow(r);
    // Who would miss an alarm stands out.
    const bool down = cells.value(ColStatus) != QLatin1String("verbunden");
    for (int c = 0; c < ColumnCount; ++c) {
        auto* item = new QTableWidgetItem(c < cells.size() ? cells[c] : QString());
        if (c == ColStatus || c == ColAlarm)
            item->setTextAlignment(Qt::AlignCenter);
        if (down)
            item->setForeground(QColor(200, 0, 0));
        lvwStatus->setItem(r, c, item);
    }
}

QStringList frmMonitor::RowTexts() const
{
    QStringList rows;
    for (int r = 0; r < lvwStatus->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < ColumnCount; ++c)
            cells << (lvwStatus->item(r, c) ? lvwStatus->item(r, c)->text() : QString());
        rows << cells.join(QLatin1Char('\t'));
    }
    return rows;
}

void frmMonitor::closeEvent(QCloseEvent* event)
{
    m_closed = true;
    QDialog::closeEvent(event);
}

void frmMonitor::done(int result)
{
    m_closed = true;
    QDialog::done(result);
}
