#include "windows/frmAlarmSenderPopup.h"

#include "core/EventLog.h"
#include "core/Functions.h"
#include "ui/ForceFore.h"
#include "ui/Forms.h"
#include "ui/MainWindow.h"
#include "ui/SysTrayUtil.h"
#include "windows/AlarmIO.h"
#include "windows/AlarmLine.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kName = QStringLiteral("frmAlarmSenderPopup");

struct StepDef
{
    const char* name;
    const char* caption;
    Qt::Key key;
    const char* text;
};

// Button, caption, key, and the text that goes into the list and the event log.
const StepDef kSteps[] = {
    {"btnHelpArrived", "F1 - Hilfe eingetroffen", Qt::Key_F1, "Hilfe eingetroffen"},
    {"btnEquipment", "F2 - Notfallausrüstung eingetroffen", Qt::Key_F2, "Notfallausrüstung eingetroffen"},
    {"btnShock", "F3 - 1. Schock gegeben", Qt::Key_F3, "ersten Schock gegeben"},
    {"btnEnde", "F4 - Ende", Qt::Key_F4, "ALARM aufgehoben"},
};

} // namespace

frmAlarmSenderPopup::frmAlarmSenderPopup(QWidget* owner) : frmAlarmSenderPopup(owner, true) {}

frmAlarmSenderPopup::frmAlarmSenderPopup(QWidget* owner, bool loaded)
    : AlarmWindow(kName, QStringLiteral("tavinor") + QStringLiteral(" - ALARM-Sender"), owner, loaded)
{
    lblTitle = MakeLabel(this, "lblTitle", QStringLiteral("  tavinor"), 1.6, true);
    lblStation = MakeLabel(this, "lblStation", QStringLiteral("Sie haben den"), 2.0, true);
    lblNotruf = MakeLabel(this, "lblNotruf", QStringLiteral("NOTRUF"), 2.0, true);
    lblAlert = MakeLabel(this, "lblAlert", QStringLiteral("ausgelöst!"), 2.0, true);
    lblEnded = MakeLabel(this, "lblEnded", QString(), 1.4, true);
    lblEnded->setAlignment(Qt::AlignCenter);
    lblEnded->hide();
    lblTimeleft = MakeLabel(this, "lblTimeleft", QStringLiteral("Zeit seit Auslösung:"));
    lblTimeCounter = MakeLabel(this, "lblTimeCounter", QStringLiteral("00:00:00"), 1.0, true);
    lblReceipts = MakeLabel(this, "lblReceipts", QString(), 1.0, true);
    lblReceipts->setWordWrap(true);
    lblReceipts->hide();
    picLogo = new QLabel(this);
    picLogo->setObjectName(QStringLiteral("picLogo"));
    picLogo->setPixmap(SysTrayUtil::TrayPicture(2).pixmap(64, 64));

    fraSteps = new QFrame(this);
    fraSteps->setObjectName(QStringLiteral("fraSteps"));
    fraSteps->setFrameShape(QFrame::Box);
    auto* steps = new QGridLayout(fraSteps);
    QPushButton** buttons[] = {&btnHelpArrived, &btnEquipment, &btnShock, &btnEnde};
    for (int i = 0; i < 4; ++i) {
        auto* b = new QPushButton(QString::fromUtf8(kSteps[i].caption), fraSteps);
        b->setObjectName(QLatin1String(kSteps[i].name));
        steps->addWidget(b, i / 2, i % 2);
        *buttons[i] = b;
        const QString text = QString::fromUtf8(kSteps[i].text);
        connect(b, &QPushButton::clicked, this, [this, b, text] { RecordStep(b, text); });
    }
    lblDelivery = MakeLabel(this, "lblDelivery", QString(), 1.2, true);
    lblDelivery->setWordWrap(true);
    lblDelivery->hide();
    btnClose = new QPushButton(QStringLiteral("Schließen"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));

    gridLog = new QTableWidget(0, 2, this);
    gridLog->setObjectName(QStringLiteral("gridLog"));
    gridLog->setHorizontalHeaderLabels({QStringLiteral("Ereignis"), QStringLiteral("Zeitpunkt")});
    gridLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridLog->setSelectionMode(QAbstractItemView::NoSelection);
    gridLog->setFocusPolicy(Qt::NoFocus);
    gridLog->verticalHeader()->hide();
    gridLog->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    gridLog->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    auto* head = new QHBoxLayout;
    head->addWidget(picLogo);
    head->addWidget(lblTitle, 1);
    auto* time = new QHBoxLayout;
    time->addWidget(lblTimeleft);
    time->addWidget(lblTimeCounter);
    time->addStretch();
    time->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addLayout(MakeHeadline(lblStation, lblNotruf, lblAlert));
    layout->addWidget(lblEnded);
    layout->addWidget(lblDelivery);
    layout->addWidget(fraSteps);
    layout->addWidget(lblReceipts);
    layout->addWidget(gridLog, 1);
    layout->addLayout(time);
    resize(640, 600);

    connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
    connect(m_alertTimer, &QTimer::timeout, this, &frmAlarmSenderPopup::alertTimer_Timer);
    m_settleTimer = new QTimer(this);
    m_settleTimer->setObjectName(QStringLiteral("settleTimer"));
    m_settleTimer->setSingleShot(true);
    m_settleTimer->setInterval(kSettleMs);
    connect(m_settleTimer, &QTimer::timeout, this, &frmAlarmSenderPopup::SendWaitingAlarm);
    AlarmIO::OnLinkUp(this, [this] { LinkUp(); });
    InstallKeyPreview();
}

frmAlarmSenderPopup::~frmAlarmSenderPopup()
{
    Unload();
}

frmAlarmSenderPopup* frmAlarmSenderPopup::Loaded()
{
    return qobject_cast<frmAlarmSenderPopup*>(Forms::Find(kName));
}

SpareWindow& frmAlarmSenderPopup::Spare()
{
    static SpareWindow spare([]() -> AlarmWindow* {
        auto* w = new frmAlarmSenderPopup(MainWindow::Widget(), false);
        w->winId();
        // Styled and laid out, not drawn: drawing its list would start Qt's worker threads in an idle station.
        w->ensurePolished();
        w->layout()->activate();
        return w;
    });
    return spare;
}

void frmAlarmSenderPopup::Prebuild()
{
    Spare().Build();
}

frmAlarmSenderPopup* frmAlarmSenderPopup::Load()
{
    if (frmAlarmSenderPopup* open = Loaded())
        return open;
    if (auto* spare = static_cast<frmAlarmSenderPopup*>(Spare().Take()))
        return spare;
    return new frmAlarmSenderPopup(MainWindow::Widget());
}

QString frmAlarmSenderPopup::TimeNow()
{
    return AlarmIO::Now().toString(QStringLiteral("hh:mm:ss"));
}

void frmAlarmSenderPopup::AddEntry(const QString& text, const QString& time)
{
    gridLog->setUpdatesEnabled(false);
    const int row = gridLog->rowCount();
    gridLog->insertRow(row);
    gridLog->setItem(row, 0, new QTableWidgetItem(text));
    gridLog->setItem(row, 1, new QTableWidgetItem(time));
    // The scroll range follows new rows only on the next layout pass: lay out now, then scroll.
    gridLog->doItemsLayout();
    gridLog->scrollToBottom();
    gridLog->setUpdatesEnabled(true);
}

void frmAlarmSenderPopup::ResetForm()
{
    // A new alarm while the window is open: the earlier one is over and gets its report first.
    if (m_running)
        EndIncident(QStringLiteral("neuer NOTRUF ausgelöst"));
    m_ended = false;
    m_reportPath.clear();
    lblEnded->hide();
    m_incident = Incident();
    m_incident.station = Functions::StationName();
    m_incident.address = AlarmIO::OwnAddresses().value(0);
    m_incident.raised = AlarmIO::Now();
    m_running = true;
    RestartElapsed();
    lblTimeCounter->setText(AlarmLine::Elapsed(0));
    gridLog->setUpdatesEnabled(false);
    gridLog->setRowCount(0);
    gridLog->setUpdatesEnabled(true);
    for (QPushButton* b : {btnHelpArrived, btnEquipment, btnShock, btnEnde})
        b->setEnabled(true);
    lblTitle->hide();
    ShowReceipts(QString());
    AddEntry(Functions::StationName() + QStringLiteral(" hat Notruf ausgelöst "), TimeNow());
}

QString frmAlarmSenderPopup::SentNotice()
{
    return QStringLiteral("Der Alarm wurde um ") + TimeNow() + QStringLiteral(" an den Server gesendet.");
}

void frmAlarmSenderPopup::ShowDelivery(const QString& text, bool problem)
{
    lblDelivery->setText(text);
    lblDelivery->setStyleSheet(problem ? QStringLiteral("color: #c00000;") : QString());
    lblDelivery->setVisible(!text.isEmpty());
}

void frmAlarmSenderPopup::AlarmSent(bool sent)
{
    if (sent) {
        // Raised again with the link up: a waiting alarm has gone out with this one.
        ShowDelivery(m_waiting ? SentNotice() : QString(), false);
        m_waiting = false;
        return;
    }
    m_waiting = true;
    ShowDelivery(QStringLiteral("Keine Verbindung zum Server: Der Alarm wurde noch NICHT weitergegeben! "
                                "Er wird gesendet, sobald die Verbindung wieder besteht. Holen Sie Hilfe auf "
                                "anderem Weg."),
                 true);
}

void frmAlarmSenderPopup::LinkUp()
{
    if (m_waiting && !m_settleTimer->isActive())
        m_settleTimer->start();
}

void frmAlarmSenderPopup::SendWaitingAlarm()
{
    // Still waiting when the link failed again meanwhile: the next registration tries anew.
    if (!m_waiting || !AlarmIO::Send(QStringLiteral("004: ")))
        return;
    m_waiting = false;
    Functions::WriteLog(Functions::StationName(), QStringLiteral("ALARM nachträglich gesendet"));
    ShowDelivery(SentNotice(), false);
    AddEntry(QStringLiteral("ALARM gesendet"), TimeNow());
}

bool frmAlarmSenderPopup::IncidentRunning() const
{
    return btnEnde->isEnabled();
}

void frmAlarmSenderPopup::addTextMessage(const QString& value)
{
    const QString station = AlarmLine::Parse(value).station;
    AddEntry(station + QStringLiteral(" hat Notruf gehört"), TimeNow());
    if (m_running)
        m_incident.acknowledgements.append({station, AlarmIO::Now()});
}

void frmAlarmSenderPopup::ShowReceipts(const QString& text)
{
    lblReceipts->setText(text);
    lblReceipts->setVisible(!text.isEmpty());
}

void frmAlarmSenderPopup::RecordStep(QPushButton* button, const QString& text)
{
    // Each step once per alarm.
    if (!button->isEnabled())
        return;
    button->setEnabled(false);
    Functions::WriteLog(Functions::StationName(), text);
    AddEntry(text, TimeNow());
    if (button == btnEnde) {
        AlarmIO::Send(QStringLiteral("008: "));
        // The incident is over: an alarm still waiting for the link is not sent any more.
        if (m_waiting) {
            m_waiting = false;
            ShowDelivery(QStringLiteral("Der Alarm wurde nicht gesendet: keine Verbindung zum Server."), true);
        }
        EndIncident(text);
    } else if (m_running) {
        m_incident.steps.append({text, AlarmIO::Now()});
    }
}

void frmAlarmSenderPopup::EndIncident(const QString& how)
{
    if (!m_ended) {
        m_ended = true;
        m_endedElapsed = ElapsedSeconds();
        lblTimeCounter->setText(AlarmLine::Elapsed(m_endedElapsed));
        for (QPushButton* b : {btnHelpArrived, btnEquipment, btnShock, btnEnde})
            b->setEnabled(false);
        lblEnded->setText(QStringLiteral("Der NOTRUF ist beendet (") + TimeNow() + QStringLiteral(")."));
        lblEnded->show();
    }
    if (!m_running)
        return;
    m_running = false;
    m_incident.ended = AlarmIO::Now();
    m_incident.endText = how;
    m_reportPath = IncidentReport::Write(m_incident);
}

bool frmAlarmSenderPopup::PreviewKey(int key)
{
    QPushButton* buttons[] = {btnHelpArrived, btnEquipment, btnShock, btnEnde};
    for (int i = 0; i < 4; ++i) {
        if (key == kSteps[i].key) {
            RecordStep(buttons[i], QString::fromUtf8(kSteps[i].text));
            return true;
        }
    }
    return false;
}

void frmAlarmSenderPopup::alertTimer_Timer()
{
    // Ended: the time stands at the end of the incident.
    lblTimeCounter->setText(AlarmLine::Elapsed(m_ended ? m_endedElapsed : ElapsedSeconds()));
    if (isVisible() && !focusWidget())
        setFocus(Qt::OtherFocusReason);
}

void frmAlarmSenderPopup::ClosedByUser()
{
    AlarmIO::Send(QStringLiteral("008: "));
    if (m_running)
        EndIncident(QStringLiteral("Fenster geschlossen"));
}

void frmAlarmSenderPopup::OnUnload()
{
    // Unloaded by the program (an alarm from elsewhere, the end of the program): the record is kept all
    // the same, and the desktop gets back what the alarm put away.
    if (m_running)
        EndIncident(QStringLiteral("Fenster vom Programm geschlossen"));
    ForceFore::RestoreMinimized();
}
