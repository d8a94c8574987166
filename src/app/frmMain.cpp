#include "app/frmMain.h"

#include "admin/Settings.h"
#include "admin/frmAbout.h"
#include "alarm/Hooklib.h"
#include "alarm/SendAlert.h"
#include "alarm/ioWarrior.h"
#include "app/Wiring.h"
#include "cli/AlarmSocket.h"
#include "core/EventLog.h"
#include "core/Functions.h"
#include "core/Globals.h"
#include "core/IniFiles.h"
#include "log/frmLog.h"
#include "net/AlarmNet.h"
#include "net/LinkRules.h"
#include "net/Network.h"
#include "net/ServerAddresses.h"
#include "platform/ProgramFolder.h"
#include "platform/SingleInstance.h"
#include "platform/System.h"
#include "platform/TermSignals.h"
#include "ui/Forms.h"
#include "ui/SysTrayUtil.h"
#include "ui/XPMsgBox.h"
#include "windows/AlarmIO.h"
#include "windows/frmAlarmPopup.h"
#include "windows/frmAlarmSenderPopup.h"
#include "windows/frmMonitor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace {

const QString kGeneral = QStringLiteral("General");
const QString kTitle = QStringLiteral("tavinor");
QPointer<frmMain> g_main;

QString Ini(const QString& key, const QString& def)
{
    return IniFiles::ReadIni(kGeneral, key, def);
}

// "Server" is read as a Boolean: "0" is false, any other number true. Anything that is no number is
// taken as false, so a damaged value starts a station rather than a second server.
bool ReadServerFlag()
{
    // The service's program folder is the server's, whatever its settings file says.
    if (Globals::IsHeadless)
        return true;
    bool ok = false;
    const double v = Ini(QStringLiteral("Server"), QStringLiteral("0")).trimmed().toDouble(&ok);
    return ok && v != 0.0;
}

QTimer* MakeTimer(QObject* parent, const char* name, int interval)
{
    auto* t = new QTimer(parent);
    t->setObjectName(QLatin1String(name));
    t->setInterval(interval);
    return t;
}

} // namespace

bool frmMain::Load()
{
    if (!SingleInstance::Acquire(ProgramFolder::Path())) {
        std::fputs("tavinor: Programm bereits gestartet!\n", stderr);
        if (Globals::IsHeadless)
            return false;
        QMessageBox box(QMessageBox::Critical, kTitle, QStringLiteral("Programm bereits gestartet!"), QMessageBox::Ok);
        box.exec();
        return false;
    }
    auto* main = new frmMain;
    // Logout, shutdown and "systemctl stop" end the program the orderly way.
    TermSignals::Install(main, [](int signo) {
        std::fprintf(stderr, "tavinor: signal %d, ending\n", signo);
        if (frmMain* m = Instance())
            m->ExitProgram(false);
    });
    if (!Globals::IsHeadless) {
        // "tavinor --alarm" of this user reaches this copy here; we hold the folder's lock, so the socket is ours.
        auto* alarmSocket = new AlarmSocketServer([main] { return main->RaiseFromCommandLine(); }, main);
        QString error;
        const QString path = AlarmSocket::Path(ProgramFolder::Path(), &error);
        if (path.isEmpty())
            std::fprintf(stderr, "tavinor: no socket for --alarm: %s\n", qPrintable(error));
        else
            alarmSocket->Listen(path);
    }
    main->InitProgram();
    if (!Globals::IsEnding)
        main->hide();
    return true;
}

frmMain* frmMain::Instance()
{
    return g_main;
}

frmMain::frmMain(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kTitle);
    g_main = this;
    MainWindow::Register(this, this);
    Wiring::Install();
    Forms::Register(this);

    lblAddresses = new QLabel(this);
    lblAddresses->setObjectName(QStringLiteral("lblAddresses"));
    lblAddresses->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblAddresses->hide();
    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(SysTrayUtil::TrayPicture(2).pixmap(48, 48));
    txtReceive = new QPlainTextEdit(this);
    txtReceive->setObjectName(QStringLiteral("txtReceive"));
    txtReceive->setReadOnly(true);
    cmdHide = new QPushButton(QStringLiteral("Verstecken"), this);
    cmdHide->setObjectName(QStringLiteral("cmdHide"));
    cmdCancel = new QPushButton(QStringLiteral("Beenden"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Picture1);
    buttons->addStretch();
    buttons->addWidget(cmdHide);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblAddresses);
    layout->addWidget(txtReceive);
    layout->addLayout(buttons);
    resize(420, 260);

    connect(cmdHide, &QPushButton::clicked, this, &QWidget::hide);
    connect(cmdCancel, &QPushButton::clicked, this, [this] { ExitProgram(true); });
    connect(txtReceive, &QPlainTextEdit::textChanged, this, &frmMain::txtReceive_Change);

    // All four are off until the parts that own them switch them on.
    m_connectTimer = MakeTimer(this, "connectTimer", 2000);
    m_checkConnectTimer = MakeTimer(this, "checkConnectTimer", 5000);
    m_exitTimer = MakeTimer(this, "exitTimer", 1000);
    m_ioWarrior = MakeTimer(this, "ioWarrior", 15);
    connect(m_exitTimer, &QTimer::timeout, this, &frmMain::exitTimer_Timer);
}

frmMain::~frmMain()
{
    Unload();
}

void frmMain::InitProgram()
{
    Functions::SetSearchPath();
    m_keyPreview = true;

    const QDir folder(ProgramFolder::Path());
    if (!QFileInfo::exists(folder.filePath(QStringLiteral("Log"))))
        folder.mkdir(QStringLiteral("Log"));
    // A default the settings file cannot hold stays out of it: every reader computes it anew.
    const QString logfile = Functions::DefaultLogFile();
    if (Ini(QStringLiteral("Logfile"), QString()).isEmpty() && IniFiles::CanStore(logfile))
        IniFiles::WriteIni(kGeneral, QStringLiteral("Logfile"), logfile);
    if (!QFileInfo::exists(folder.filePath(QStringLiteral("Tmp"))))
        folder.mkdir(QStringLiteral("Tmp"));

    BuildPopUp();

    Globals::IsEnding = false;
    Globals::IsServer = false;
    Globals::UsbButtonHandle = 0;

    // Without a desktop there is no tray to show an icon in.
    if (!Globals::IsHeadless)
        SysTrayUtil::TrayAddIcon(this, 3, kTitle + QStringLiteral(" Server"), m_mnuPopup);

    UpdateVariables(true);

    // A server whose port is taken has not started: its start line follows once the listener is open.
    Network::AlarmNet* net = Network::Instance();
    if (Globals::IsServer && net && !net->ListenerUp()) {
        m_startLogPending = true;
        connect(net, &Network::AlarmNet::ListenerOpened, this, [this] {
            if (!m_startLogPending || !Globals::IsServer)
                return;
            m_startLogPending = false;
            Functions::WriteLog(Functions::StationName(), QStringLiteral("Server gestartet"));
        });
    } else {
        Functions::WriteLog(Functions::StationName(), Globals::IsServer ? QStringLiteral("Server gestartet")
                                                                        : QStringLiteral("Client gestartet"));
    }
    if (net)
        net->UpdateTrayTip();
    else
        SysTrayUtil::TraySetTip(windowTitle());

    // Off before the first-start dialog, not after it: the link may come up while the dialog is open and
    // start the button poll, which must keep running once the dialog is closed.
    m_ioWarrior->stop();
    if (Ini(QStringLiteral("Init"), QStringLiteral("0")) == QLatin1String("0") && !Globals::IsHeadless)
        Settings::ShowSettings(this, true);
}

void frmMain::UpdateVariables(bool Init)
{
    Globals::IsServer = ReadServerFlag();
    const QString station = Functions::StationName();

    if (Globals::IsServer) {
        setWindowTitle(kTitle + QStringLiteral(" Server"));
        SysTrayUtil::TraySetIcon(1);
        MenuEntry(QStringLiteral("popUp3"))->setText(QStringLiteral("Server: ") + station);
        MenuEntry(QStringLiteral("popUp5"))->setText(QStringLiteral("Status: Server"));
        // Whoever sets up the stations needs this server's address.
        lblAddresses->setText(ServerAddresses::Caption());
        lblAddresses->show();
        if (Globals::IsHeadless)
            std::fprintf(stderr, "tavinor: %s\n", qPrintable(lblAddresses->text()));
        ShowMonitorEntry(true);
        Network::StartServerListener();
        ioWarrior::CloseEmergencyButton();
        return;
    }

    setWindowTitle(kTitle + QStringLiteral(" Client"));
    lblAddresses->hide();
    MenuEntry(QStringLiteral("popUp3"))->setText(QStringLiteral("Station: ") + station);
    MenuEntry(QStringLiteral("popUp5"))->setText(QStringLiteral("Status: "));
    ShowMonitorEntry(false);
    if (Init) {
        Network::StartClientListener();
        Globals::UsbButtonHandle = ioWarrior::OpenEmergencyButton();
        Hooklib::InstallKeyboardHook(this);
        const QString key = Ini(QStringLiteral("Alertkey"), QStringLiteral("F12"));
        const qint16 code = static_cast<qint16>(Ini(QStringLiteral("AlertkeyCode"), QStringLiteral("123")).toInt());
        Hooklib::ApplyAlertKey(key, code);
        if (Globals::IsEnding)
            return;
        // Built once registered, not before: an alarm then only shows it, and the start is not held up.
        AlarmIO::OnLinkUp(this, [] {
            frmAlarmPopup::Prebuild();
            frmAlarmSenderPopup::Prebuild();
        });
    }
    if (Globals::IsConnected) {
        SysTrayUtil::TraySetIcon(2);
    } else {
        doClientDisconnect();
        doClientConnect(QString());
    }
}

QString frmMain::ExitQuestion(bool server)
{
    QStringList lines{QStringLiteral("Soll das Programm wirklich beendet werden?")};
    if (server) {
        // Two sentences below the question, set apart by an empty line.
        lines << QString() << QStringLiteral("Es können dann keine Alarme mehr gegeben und / oder empfangen werden.")
              << QStringLiteral(
                     "Alle Client-Verbindungen werden getrennt und die Clients müssen neu gestartet werden!");
    } else {
        lines << QStringLiteral("Es können dann keine Alarme mehr gegeben und / oder empfangen werden!");
    }
    return lines.join(QStringLiteral("\r\n"));
}

QString frmMain::LostServerText()
{
    return QStringLiteral("Die Verbindung zum ") + kTitle + QStringLiteral("-Server ging verloren!") +
           QStringLiteral("\r\nDas Programm wird beendet. Bitte starten Sie es erneut!");
}

void frmMain::ExitProgram(bool AskCancel)
{
    if (Globals::IsEnding)
        return;
    if (AskCancel) {
        int style = 292;
        const short answer = ShowXPMessage(ExitQuestion(Globals::IsServer), style, kTitle, this);
        // Only an explicit "Ja" ends the program: a box closed by an incoming alarm must not.
        if (answer != 6 || Globals::IsEnding)
            return;
    }
    Globals::IsEnding = true;

    m_connectTimer->stop();
    m_checkConnectTimer->stop();
    m_exitTimer->stop();
    m_ioWarrior->stop();

    Functions::WriteLog(Functions::StationName(),
                        Globals::IsServer ? QStringLiteral("Server beendet") : QStringLiteral("Client beendet"));

    Network::CloseForExit();
    ioWarrior::CloseEmergencyButton();

    for (QWidget* form : Forms::Loaded())
        Forms::Unload(form);
    QCoreApplication::quit();
}

QString frmMain::RaiseFromCommandLine()
{
    if (Globals::IsEnding)
        return QStringLiteral("das Programm wird gerade beendet - es wurde kein Alarm ausgelöst");
    if (Globals::IsServer)
        return QStringLiteral("hier läuft der Server - Alarme werden an einer Station ausgelöst");
    if (Forms::IsFormLoaded(QStringLiteral("frmSettings")))
        return QStringLiteral("die Einstellungen sind geöffnet - es wurde kein Alarm ausgelöst");
    const qint16 code = Hooklib::GetAlertKeyCode();
    const qint16 shift = Hooklib::GetAlertKeyShift();
    // The caller gets its answer first; raising lets events run and takes a while. Where the key could not
    // be set up (no hook library, no key grab under Wayland) the command is the only way, so it raises all
    // the same.
    QTimer::singleShot(0, this, [code, shift] {
        if (code != 0)
            Hooklib::AlertKeyDown(code, shift);
        else if (!Forms::IsFormLoaded(QStringLiteral("frmSettings")))
            SendAlert();
    });
    return {};
}

void frmMain::AddReceive(const QString& line)
{
    if (Globals::IsEnding)
        return;
    txtReceive->appendPlainText(line);
}

QAction* frmMain::MenuEntry(const QString& key) const
{
    return m_mnuPopup ? m_mnuPopup->findChild<QAction*>(key) : nullptr;
}

void frmMain::BuildPopUp()
{
    if (m_mnuPopup)
        return;
    m_mnuPopup = new QMenu(this);
    m_mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    const QString station = Functions::StationName();
    const struct
    {
        const char* key;
        QString caption;
    } entries[] = {
        // Shown only while an alarm sounds here without a window (acoustic alerting alone).
        {"popUpAlarm", QStringLiteral("Alarm quittieren")},
        {"popUp1", kTitle},
        {"popUp2", QStringLiteral("-")},
        {"popUp3", QStringLiteral("Station: ") + station},
        {"popUp4", QStringLiteral("-")},
        {"popUp5", QStringLiteral("Status: ")},
        {"popUp6", QStringLiteral("-")},
        {"popUp7", QStringLiteral("Einstellungen")},
        {"popUp8", QStringLiteral("-")},
        {"popUp9", QStringLiteral("Logbuch aufrufen")},
        {"popUp10", QStringLiteral("-")},
        {"popUp14", QStringLiteral("Info...")},
        {"popUp15", QStringLiteral("Beenden")},
        // The server's own view of its stations; a station opens it from the settings dialog.
        {"popUp16", QStringLiteral("-")},
        {"popUp17", QStringLiteral("Status-Monitor")},
    };
    for (const auto& e : entries) {
        QAction* a = e.caption == QLatin1String("-") ? m_mnuPopup->addSeparator() : m_mnuPopup->addAction(e.caption);
        a->setObjectName(QLatin1String(e.key));
    }
    // The program's name heads the menu in bold, the station line below it in italics.
    QFont title = m_mnuPopup->font();
    title.setBold(true);
    MenuEntry(QStringLiteral("popUp1"))->setFont(title);
    QFont station3 = m_mnuPopup->font();
    station3.setItalic(true);
    MenuEntry(QStringLiteral("popUp3"))->setFont(station3);
    MenuEntry(QStringLiteral("popUpAlarm"))->setFont(title);
    MenuEntry(QStringLiteral("popUpAlarm"))->setVisible(false);

    connect(m_mnuPopup, &QMenu::triggered, this, [this](QAction* entry) {
        // Let the menu close before a dialog or a question takes over.
        QTimer::singleShot(0, this, [this, entry = QPointer<QAction>(entry)] {
            if (entry)
                mnuMainbar_Click(entry);
        });
    });
}

void frmMain::ShowMonitorEntry(bool server)
{
    for (const char* key : {"popUp16", "popUp17"}) {
        if (QAction* a = MenuEntry(QLatin1String(key)))
            a->setVisible(server);
    }
}

void frmMain::mnuMainbar_Click(QAction* entry)
{
    const int command = entry->objectName().mid(5).toInt();
    const bool modal = Globals::IsServer;
    switch (command) {
    case 7:
        Settings::ShowSettings(this, modal);
        break;
    case 9:
        frmLog::ShowLog(this, modal);
        break;
    case 14:
        frmAbout::ShowAbout(this, modal);
        break;
    case 15:
        ExitProgram(true);
        break;
    case 17:
        frmMonitor::ShowMonitor(this);
        break;
    default:
        break;
    }
}

bool frmMain::AlarmWindowOpen()
{
    return Forms::IsFormLoaded(QStringLiteral("frmAlarmPopup")) ||
           Forms::IsFormLoaded(QStringLiteral("frmAlarmSenderPopup"));
}

void frmMain::ExitWhenNoAlarm()
{
    if (!AlarmWindowOpen()) {
        ExitProgram(false);
        return;
    }
    if (!m_exitWhenNoAlarm) {
        m_exitWhenNoAlarm = MakeTimer(this, "exitWhenNoAlarmTimer", 1000);
        connect(m_exitWhenNoAlarm, &QTimer::timeout, this, [this] {
            if (AlarmWindowOpen())
                return;
            m_exitWhenNoAlarm->stop();
            ExitProgram(false);
        });
    }
    m_exitWhenNoAlarm->start();
}

void frmMain::exitTimer_Timer()
{
    // One notice at a time: the ticks go on while it is open (the connect timer keeps starting this one).
    if (m_lostNoticeOpen || Globals::IsEnding)
        return;
    using LinkRules::LostServerStep;
    auto next = [this] {
        return LinkRules::NextLostServerStep(Forms::IsFormLoaded(QStringLiteral("frmSettings")), AlarmWindowOpen(),
                                             Globals::IsConnected, m_lostNoticeShown);
    };
    LostServerStep step = next();
    if (step == LostServerStep::Notice) {
        m_lostNoticeOpen = true;
        System::Beep();
        int style = 48;
        ShowXPMessage(LostServerText(), style, kTitle, nullptr);
        m_lostNoticeOpen = false;
        m_lostNoticeShown = true;
        if (Globals::IsEnding)
            return;
        // An alarm may have closed the notice, or the server may be back meanwhile.
        step = next();
    }
    if (step == LostServerStep::Wait)
        return;
    m_exitTimer->stop();
    m_lostNoticeShown = false;
    if (step == LostServerStep::End)
        ExitProgram(false);
}

void frmMain::txtReceive_Change()
{
    if (txtReceive->toPlainText().size() > 1024)
        txtReceive->clear();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // The title-bar close asks as "Beenden" does: whoever opened the window from the tray and closes it
    // expects the station to stay on guard. Only "Ja" ends it, in order.
    if (!Globals::IsEnding) {
        event->ignore();
        QTimer::singleShot(0, this, [this] { ExitProgram(true); });
        return;
    }
    Unload();
    event->accept();
}

void frmMain::Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    SysTrayUtil::TrayRemoveIcon();
    Hooklib::RemoveKeyboardHook();
}
