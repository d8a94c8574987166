#include "windows/frmAlarmPopup.h"

#include "core/Globals.h"
#include "core/IniFiles.h"
#include "platform/Desktop.h"
#include "ui/ForceFore.h"
#include "ui/Forms.h"
#include "ui/MainWindow.h"
#include "ui/SysTrayUtil.h"
#include "ui/XPMsgBox.h"
#include "windows/AlarmIO.h"
#include "windows/AlarmLine.h"

#include <QCursor>
#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {

const QString kName = QStringLiteral("frmAlarmPopup");
const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
// Output lines are active low: a cleared bit switches the line on.
constexpr quint8 kAllOff = 255;
constexpr quint8 kBuzzerOn = 127; // bit 7
constexpr quint8 kLedOn = 191;    // bit 6

bool Setting(const char* key)
{
    return IniFiles::ReadIni(QStringLiteral("General"), QLatin1String(key), QStringLiteral("0")) == QLatin1String("1");
}

// The screen the user works on: where the mouse is. With one screen there is nothing to ask the X server.
QScreen* UserScreen()
{
    if (QGuiApplication::screens().size() == 1)
        return QGuiApplication::primaryScreen();
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    return screen ? screen : QGuiApplication::primaryScreen();
}

void SetTextColour(QLabel* label, const QColor& colour)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

} // namespace

frmAlarmPopup::frmAlarmPopup(QWidget* owner) : frmAlarmPopup(owner, true) {}

frmAlarmPopup::frmAlarmPopup(QWidget* owner, bool loaded)
    : AlarmWindow(kName, QStringLiteral("tavinor") + QStringLiteral(" - ALARM-Receiver"), owner, loaded)
{
    lblTitle = MakeLabel(this, "lblTitle", QStringLiteral("  tavinor"), 1.6, true);
    lblStation = MakeLabel(this, "lblStation", QString(), 2.0, true);
    lblNotruf = MakeLabel(this, "lblNotruf", QStringLiteral("NOTRUF"), 2.0, true);
    lblAlert = MakeLabel(this, "lblAlert", QStringLiteral("ausgelöst!"), 2.0, true);
    lblTask1 = MakeLabel(this, "lblTask1", QStringLiteral("1. Quittieren Sie den Notruf mit der Entertaste"), 1.2);
    lblTask2 = MakeLabel(this, "lblTask2", QStringLiteral("2. Nehmen Sie die Notfallausrüstung"), 1.2);
    lblTask3 = MakeLabel(this, "lblTask3", QStringLiteral("3. Laufen Sie sofort zum Notfallort"), 1.2);
    lblTimeleft = MakeLabel(this, "lblTimeleft", QStringLiteral("Zeit seit Auslösung:"));
    lblTimeCounter = MakeLabel(this, "lblTimeCounter", QStringLiteral("00:00:00"), 1.0, true);
    picLogo = new QLabel(this);
    picLogo->setObjectName(QStringLiteral("picLogo"));
    picLogo->setPixmap(SysTrayUtil::TrayPicture(2).pixmap(64, 64));
    btnClose = new QPushButton(QStringLiteral("Schließen"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    fraAlarm = new QFrame(this);
    fraAlarm->setObjectName(QStringLiteral("fraAlarm"));
    fraAlarm->setFrameShape(QFrame::Box);
    auto* tasks = new QVBoxLayout(fraAlarm);
    for (QLabel* task : {lblTask1, lblTask2, lblTask3}) {
        task->setWordWrap(true); // a small screen breaks a task into two lines rather than cutting it
        tasks->addWidget(task);
    }

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
    layout->addWidget(fraAlarm, 1);
    layout->addLayout(time);
    // Nobody may put the alarm out of sight: no minimise (nor maximise) button.
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) &
                   ~(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowMinMaxButtonsHint));
    resize(620, 420);

    setAutoFillBackground(true);
    Paint();
    connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
    connect(m_alertTimer, &QTimer::timeout, this, &frmAlarmPopup::alertTimer_Timer);
    InstallKeyPreview();
}

frmAlarmPopup::~frmAlarmPopup()
{
    Unload();
}

frmAlarmPopup* frmAlarmPopup::Loaded()
{
    return qobject_cast<frmAlarmPopup*>(Forms::Find(kName));
}

SpareWindow& frmAlarmPopup::Spare()
{
    static SpareWindow spare([]() -> AlarmWindow* {
        auto* w = new frmAlarmPopup(MainWindow::Widget(), false);
        // The native window, the fonts at the screen's sizes, the style's drawings in both colours:
        // everything the first alarm would otherwise wait for.
        if (QScreen* screen = UserScreen())
            w->ApplyScreen(screen->availableGeometry());
        w->winId();
        for (int i = 0; i < 2; ++i) {
            w->grab();
            w->m_red = !w->m_red;
            w->Paint();
        }
        // And the questions an alarm asks the desktop and the network, answered slowest the first time.
        Desktop::Instance().ActiveWindow();
        AlarmIO::OwnAddresses();
        return w;
    });
    return spare;
}

void frmAlarmPopup::Prebuild()
{
    Spare().Build();
}

frmAlarmPopup* frmAlarmPopup::Load()
{
    if (frmAlarmPopup* open = Loaded())
        return open;
    if (auto* spare = static_cast<frmAlarmPopup*>(Spare().Take()))
        return spare;
    return new frmAlarmPopup(MainWindow::Widget());
}

frmAlarmPopup::Presented frmAlarmPopup::ShowAlertReceiver(const QString& value, bool trainee)
{
    const bool visual = Setting("Visuell");
    const bool acoustic = Setting("Akustisch");
    const AlarmLine::Sender sender = AlarmLine::Parse(value);
    // The station that raised the alarm gets its own relay back: it shows its sender window, not this one.
    if (AlarmLine::IsFrom(sender, AlarmIO::OwnAddresses()))
        return Presented::OwnAlarm;
    if (!visual && !acoustic)
        return Presented::Nothing;

    // A training alarm must not take the place of a real one that is still running (the link has logged it).
    if (frmAlarmPopup* open = Loaded(); trainee && open && !open->m_trainee && !open->m_test) {
        std::fputs("tavinor: training alarm ignored: an alarm is running\n", stderr);
        return Presented::HeldBack;
    }

    AlarmIO::CloseTrayMenu();
    // An earlier receiver window goes too, so that the time starts again for the newer alarm.
    Forms::UnloadFormsExcept(QStringLiteral("frmMain"));
    frmAlarmPopup* popup = Load();
    popup->m_trainee = trainee;
    popup->lblStation->setText(sender.station + QStringLiteral(" hat den"));

    quint8 pattern = kAllOff;
    if (acoustic) {
        popup->m_acoustic = true;
        AlarmIO::Beep();
        pattern &= kBuzzerOn;
    }
    if (visual) {
        popup->lblTitle->setText(QStringLiteral("Trainings-Modus"));
        popup->lblTitle->setVisible(trainee);
        popup->PlaceOnUserScreen();
        // The task asks for the Enter key: the window needs the keyboard, not only the top of the stack.
        ForceFore::ForceForeground(popup);
        pattern &= kLedOn;
    } else {
        // Nothing on the screen: the tray shows the alarm and offers to acknowledge it where it sounds.
        popup->m_inTray = true;
        AlarmIO::ShowTrayAlarm(sender.station, popup);
    }
    popup->m_pattern = pattern;
    AlarmIO::WriteOutputs(pattern);
    return visual ? Presented::Window : Presented::ToneOnly;
}

void frmAlarmPopup::TestAlertReceiver(const QString& value, bool akustisch, bool visuell)
{
    if (!akustisch && !visuell)
        return;
    // A running alarm is not turned into a test: its acknowledgement would be lost.
    if (frmAlarmPopup* open = Loaded(); open && !open->m_test) {
        int style = 48;
        ShowXPMessage(QStringLiteral("Ein Alarm läuft. Der Test ist erst nach dem Alarm möglich."), style,
                      QStringLiteral("tavinor"), nullptr);
        return;
    }
    QPointer<frmAlarmPopup> popup = Load();
    popup->m_test = true;
    popup->lblStation->setText(value + QStringLiteral(" hat den"));
    popup->lblTitle->setText(QStringLiteral("TEST"));
    if (akustisch) {
        popup->m_acoustic = true;
        AlarmIO::Beep();
    }
    // The timer's pulses repeat what the test wrote.
    popup->m_pattern = akustisch ? kBuzzerOn : kAllOff;
    AlarmIO::WriteOutputs(popup->m_pattern);

    if (visuell) {
        // Modal: the test waits here until the window is closed.
        QEventLoop loop;
        connect(popup, &AlarmWindow::Unloaded, &loop, &QEventLoop::quit);
        popup->setWindowModality(Qt::ApplicationModal);
        popup->PlaceOnUserScreen();
        ForceFore::ForceForeground(popup);
        loop.exec();
        return;
    }
    int style = 48;
    ShowXPMessage(QStringLiteral("Test beenden!"), style, QStringLiteral("tavinor"), nullptr);
    if (popup)
        Forms::Unload(popup);
}

frmAlarmPopup::ScreenFit frmAlarmPopup::FitToScreen(const QRect& available)
{
    ScreenFit fit;
    const int w = std::max(available.width() * 3 / 5, (available.width() + 1) / 2);
    const int h = std::max(available.height() * 7 / 10, (available.height() + 1) / 2);
    fit.geometry =
        QRect(available.x() + (available.width() - w) / 2, available.y() + (available.height() - h) / 2, w, h);
    // Read from across the room, yet the longest task still fits on two lines of a 1024x768 screen.
    fit.textPixels = std::max(12, std::min(available.height() / 34, available.width() / 46));
    return fit;
}

void frmAlarmPopup::ApplyScreen(const QRect& available)
{
    const ScreenFit fit = FitToScreen(available);
    const int px = fit.textPixels;
    SetPixelSize(lblTitle, px * 6 / 5);
    for (QLabel* l : {lblStation, lblAlert})
        SetPixelSize(l, px * 8 / 5);
    SetPixelSize(lblNotruf, px * 16 / 5);
    for (QLabel* l : {lblTask1, lblTask2, lblTask3})
        SetPixelSize(l, px * 6 / 5);
    for (QLabel* l : {lblTimeleft, lblTimeCounter})
        SetPixelSize(l, px);
    QFont button = btnClose->font();
    button.setPixelSize(px);
    btnClose->setFont(button);
    setGeometry(fit.geometry);
}

void frmAlarmPopup::PlaceOnUserScreen()
{
    if (QScreen* screen = UserScreen())
        ApplyScreen(screen->availableGeometry());
}

void frmAlarmPopup::Paint()
{
    QPalette p = palette();
    p.setColor(QPalette::Window, m_red ? kRed : kWhite);
    setPalette(p);
    SetTextColour(lblTitle, m_red ? kWhite : kRed);
    const QColor text = m_red ? kWhite : kBlack;
    for (QLabel* l : {lblStation, lblNotruf, lblAlert, lblTask1, lblTask2, lblTask3})
        SetTextColour(l, text);
    SetTextColour(lblTimeleft, text);
    SetTextColour(lblTimeCounter, text);
}

void frmAlarmPopup::alertTimer_Timer()
{
    m_red = !m_red;
    Paint();
    const qint64 elapsed = ElapsedSeconds();
    lblTimeCounter->setText(AlarmLine::Elapsed(elapsed));
    if (m_acoustic) {
        AlarmIO::Beep();
        // Buzzer and LED pulse: off on odd seconds, the alarm's pattern on even ones.
        AlarmIO::WriteOutputs(elapsed % 2 ? kAllOff : m_pattern);
    }
    if (isVisible())
        btnClose->setFocus(Qt::OtherFocusReason);
}

void frmAlarmPopup::showEvent(QShowEvent* event)
{
    AlarmWindow::showEvent(event);
    m_shownAt = AlarmIO::Now();
}

bool frmAlarmPopup::BlocksKey(const QKeyEvent& event) const
{
    // The window takes the keyboard from whatever the person was typing into: a Space or Enter meant for
    // that program must not acknowledge an alarm nobody has seen yet. Space never acknowledges, a held key's
    // repeats do not either, and nothing counts in the first moments after the window appeared.
    if (event.key() == Qt::Key_Space || event.isAutoRepeat())
        return true;
    return !m_shownAt.isValid() || m_shownAt.msecsTo(AlarmIO::Now()) < KeyGuardMs;
}

bool frmAlarmPopup::PreviewKey(int key)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    btnClose->click();
    return true;
}

void frmAlarmPopup::ClosedByUser()
{
    // The settings dialog's test is local: no station heard a real alarm.
    if (!m_test)
        AlarmIO::Send(QStringLiteral("006: "));
}

void frmAlarmPopup::OnUnload()
{
    AlarmIO::WriteOutputs(kAllOff);
    if (m_inTray)
        AlarmIO::ClearTrayAlarm();
}
