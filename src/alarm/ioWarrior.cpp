#include "alarm/ioWarrior.h"

#include "alarm/SendAlert.h"
#include "core/Globals.h"
#include "core/IniFiles.h"
#include "platform/IowKitLibrary.h"
#include "ui/Forms.h"
#include "ui/MainWindow.h"
#include "ui/XPMsgBox.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QtDebug>
#include <array>

namespace {

IowKitLibrary g_library;
IowDevices* g_testDevices = nullptr;
QPointer<QTimer> g_testTimer;
std::function<void()> g_testAlert;

// Index 0: the handle IowKitOpenDevice returned; index k: device k+1.
std::array<quint32, ioWarrior::MaxDevices> g_handles{};
int g_deviceCount = 0;
// One input report: byte 0 the report id, bytes 1 to 7 the ports.
std::array<char, 8> g_report{};
// The timer whose ticks reach the poll.
QPointer<QTimer> g_connectedTimer;
QMetaObject::Connection g_tick;
bool g_polling = false;
// While the device library offers a descriptor that wakes the program when a report arrives, the 15 ms
// timer rests: a station with a button would otherwise wake up 66 times a second all day.
QSocketNotifier* g_wake = nullptr;
// A descriptor that stays readable without any report would keep the event loop spinning; after many
// empty wake-ups within a second the button goes back to the timer until it is opened again.
constexpr int kMaxEmptyWakes = 100;
int g_emptyWakes = 0;
QElapsedTimer g_emptySince;
bool g_wakeRefused = false;
// Reports taken in one go when woken; more wait for the next timer tick.
constexpr int kMaxReportsPerWake = 64;

void Poll(bool woken);

IowDevices& Devices()
{
    return g_testDevices ? *g_testDevices : g_library;
}

QTimer* PollTimer()
{
    if (g_testTimer)
        return g_testTimer;
    MainWindow* main = MainWindow::Instance();
    return main ? main->ioWarriorTimer() : nullptr;
}

// The poll is tied to the timer once, whichever timer that is.
QTimer* ConnectedTimer()
{
    QTimer* timer = PollTimer();
    if (timer && timer != g_connectedTimer) {
        QObject::disconnect(g_tick);
        g_tick = QObject::connect(timer, &QTimer::timeout, timer, &ioWarrior::PollEmergencyButton);
        g_connectedTimer = timer;
    }
    return timer;
}

void RaiseAlarm()
{
    if (g_testAlert)
        g_testAlert();
    else
        SendAlert();
}

void StopWaking()
{
    if (!g_wake)
        return;
    // Unwatched at once (the library may close the descriptor next); freed later, as this may run inside
    // its own wake-up.
    g_wake->setEnabled(false);
    g_wake->deleteLater();
    g_wake = nullptr;
}

// One input report of the first device; a complete one with byte 1 0xDF raises the alarm. False when
// nothing was waiting.
bool ReadReport()
{
    const int size = ioWarrior::ReportSize(Devices().GetProductId(g_handles[0]));
    const quint32 n = size > 0 ? Devices().ReadNonBlocking(g_handles[0], 0, g_report.data(), quint32(size)) : 0;
    if (size > 0 && n == quint32(size)) {
        if (quint8(g_report[1]) == ioWarrior::ButtonPressed)
            RaiseAlarm();
        g_report.fill(0);
    }
    return n > 0;
}

void NoteEmptyWake()
{
    if (g_emptyWakes == 0 || g_emptySince.elapsed() > 1000) {
        g_emptyWakes = 0;
        g_emptySince.start();
    }
    if (++g_emptyWakes >= kMaxEmptyWakes) {
        qWarning() << "ioWarrior: the device wakes the program without input; polling it on the timer instead";
        g_wakeRefused = true;
    }
}

// Hands the wait for the next report to the library's descriptor. False: the library offers none, and the
// timer polls.
bool WaitForReports()
{
    const int fd = g_wakeRefused ? -1 : Devices().ReadFd(g_handles[0], 0);
    if (fd < 0) {
        StopWaking();
        return false;
    }
    if (!g_wake || g_wake->socket() != fd) {
        StopWaking();
        g_wake = new QSocketNotifier(fd, QSocketNotifier::Read);
        QObject::connect(g_wake, &QSocketNotifier::activated, g_wake, [] { Poll(true); });
        // Reports that came before the descriptor was watched may not wake it again.
        QTimer::singleShot(0, g_wake, [] { Poll(true); });
    }
    g_wake->setEnabled(true);
    return true;
}

void Poll(bool woken)
{
    QTimer* timer = ConnectedTimer();
    if (g_handles[0] == 0) {
        if (timer)
            timer->stop();
        StopWaking();
        return;
    }
    // SendAlert lets events run while it brings up the sender window: a tick arriving meanwhile must not
    // read the next report into the buffer that is still being handled.
    if (g_polling)
        return;
    g_polling = true;
    if (g_wake)
        g_wake->setEnabled(false); // it would fire again and again while the alarm runs

    // On the timer one report a tick; woken, every report waiting, since none of them may wake us again.
    int reports = 0;
    const int most = woken ? kMaxReportsPerWake : 1;
    while (reports < most && g_handles[0] != 0 && !Globals::IsEnding && ReadReport())
        ++reports;
    if (reports > 0)
        g_emptyWakes = 0;
    else if (woken)
        NoteEmptyWake();

    g_polling = false;
    // The alarm may have ended the program or closed the device meanwhile.
    if (g_handles[0] == 0 || Globals::IsEnding) {
        StopWaking();
        return;
    }
    const bool waiting = WaitForReports();
    if (timer && waiting && reports < kMaxReportsPerWake)
        timer->stop();
    else if (timer)
        timer->start();
}

// The same box ShowXPMessage would show, but left open on its own: the station goes on starting, connects,
// arms the alert key and polls while nobody has read it yet.
void ShowMissingButtonWarning()
{
    auto* box = new XPMsgBox(MainWindow::Widget());
    Forms::Register(box);
    int style = 48;
    box->Prepare(ioWarrior::MissingButtonText(), style, QStringLiteral("tavinor"));
    box->setWindowModality(Qt::NonModal);
    QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
    if (QScreen* screen = box->screen())
        box->move(screen->availableGeometry().center() - box->rect().center());
    box->show();
}

} // namespace

namespace ioWarrior {

int ReportSize(quint32 productId)
{
    switch (productId) {
    case IoWarrior40:
        return 5;
    case IoWarrior24:
        return 3;
    case IoWarrior56:
        return 8;
    default:
        return 0;
    }
}

int OutputByte(quint32 productId)
{
    switch (productId) {
    case IoWarrior40:
        return 4; // port 3
    case IoWarrior24:
        return 1; // port 0, shared with the button
    case IoWarrior56:
        return 7; // port 6
    default:
        return 0;
    }
}

QByteArray OutputReport(quint32 productId, quint8 pattern)
{
    const int size = ReportSize(productId);
    if (size == 0)
        return {};
    QByteArray report(size, char(0xFF));
    report[0] = 0;
    report[OutputByte(productId)] = char(pattern);
    return report;
}

QString MissingButtonText()
{
    return QStringList{
        QStringLiteral("Nottaster nicht angeschlossen oder funktionsbereit!"),
        QStringLiteral("Die Aktivierung des Alarms ist nur über die Tastatur möglich."), QString(),
        QStringLiteral("Bitte überprüfen Sie die Funktionsfähigkeit des Systems, bevor Sie es einsetzen!")}
        .join(QStringLiteral("\r\n"));
}

long OpenEmergencyButton(bool warn)
{
    ConnectedTimer();
    // A missing library is the same as a missing button.
    if (!g_testDevices && !g_library.IsLoaded())
        g_library.Load();

    StopWaking();
    g_wakeRefused = false;
    g_handles = {};
    g_deviceCount = 0;
    g_handles[0] = Devices().OpenDevice();
    if (g_handles[0] == 0) {
        if (warn && IniFiles::ReadIni(QStringLiteral("General"), QStringLiteral("CheckBuzzer"), QStringLiteral("1")) ==
                        QLatin1String("1"))
            ShowMissingButtonWarning();
        return 0;
    }

    const quint32 count = Devices().GetNumDevs();
    if (count > quint32(MaxDevices))
        qWarning() << "ioWarrior:" << count << "devices attached, only the first" << MaxDevices << "are used";
    g_deviceCount = int(qMin(count, quint32(MaxDevices)));
    for (int k = 2; k <= g_deviceCount; ++k)
        g_handles[k - 1] = Devices().GetDeviceHandle(quint32(k));
    // Buzzer and LED may still be on from a run that ended without switching them off.
    SetButtonOutputs(255);
    return long(g_handles[0]);
}

void PollEmergencyButton()
{
    Poll(false);
}

void SetButtonOutputs(quint8 pattern)
{
    for (int k = 0; k < g_deviceCount; ++k) {
        if (g_handles[k] == 0)
            continue;
        const QByteArray report = OutputReport(Devices().GetProductId(g_handles[k]), pattern);
        if (!report.isEmpty())
            Devices().Write(g_handles[k], 0, report.constData(), quint32(report.size()));
    }
}

void CancelButtonIo()
{
    if (g_handles[0] != 0)
        Devices().CancelIo(g_handles[0], 0);
}

void CloseEmergencyButton()
{
    if (g_handles[0] == 0)
        return;
    // Whatever ends the program or the station mode, buzzer and LED must not outlive it: the receiver
    // window's own switch-off comes too late once the device is closed.
    SetButtonOutputs(255);
    CancelButtonIo();
    StopWaking(); // before the library closes the descriptor
    Devices().CloseDevice(g_handles[0]);
    g_handles[0] = 0;
    // Nobody may write to a closed device through the handle the start stored.
    Globals::UsbButtonHandle = 0;
}

void SetDevicesForTests(IowDevices* devices)
{
    g_testDevices = devices;
    StopWaking();
    g_wakeRefused = false;
    g_emptyWakes = 0;
    g_handles = {};
    g_deviceCount = 0;
    g_report.fill(0);
}

void SetTimerForTests(QTimer* timer)
{
    g_testTimer = timer;
}

void SetAlertForTests(std::function<void()> alert)
{
    g_testAlert = std::move(alert);
}

} // namespace ioWarrior
