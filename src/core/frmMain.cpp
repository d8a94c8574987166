#include "core/frmMain.h"

#include "admin/Settings.h"
#include "admin/XPMsgBox.h"
#include "admin/frmAbout.h"
#include "alarm/Hooklib.h"
#include "alarm/ioWarrior.h"
#include "core/Forms.h"
#include "core/Functions.h"
#include "core/Globals.h"
#include "core/IniFiles.h"
#include "core/ProgramFolder.h"
#include "core/SysTrayUtil.h"
#include "log/EventLog.h"
#include "log/frmLog.h"
#include "net/Network.h"
#include "net/frmMonitor.h"
#include "platform/SingleInstance.h"
#include "platform/System.h"

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
        QMessageBox box(QMessageBox::Critical, kTitle, QStringLiteral("Programm bereits gestartet!"), QMessageBox::Ok);
        box.exec();
        return false;
    }
    auto* main = new frmMain;
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
    Forms::Register(this);

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

    SysTrayUtil::TrayAddIcon(this, 3, kTitle + QStringLiteral(" Server"), m_mnuPopup);

    UpdateVariables(true);

    Functions::WriteLog(Functions::StationName(),
                        Globals::IsServer ? QStringLiteral("Server gestartet") : QStringLiteral("Client gestartet"));
    SysTrayUtil::TraySetTip(windowTitle());

    // Off before the first-start dialog, not after it: the link may come up while the dialog is open and
    // start the button poll, which must keep running once the dialog is closed.
    m_ioWarrior->stop();
    if (Ini(QStringLiteral("Init"), QStringLiteral("0")) == QLatin1String("0"))
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
        ShowMonitorEntry(true);
        Network::StartServerListener();
        ioWarrior::CloseEmergencyButton();
        return;
    }

    setWindowTitle(kTitle + QStringLiteral(" Client"));
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

void frmMain::exitTimer_Timer()
{
    // The end waits while the settings dialog is open.
    if (Forms::IsFormLoaded(QStringLiteral("frmSettings")))
        return;
    m_exitTimer->stop();
    System::Beep();
    int style = 48;
    ShowXPMessage(LostServerText(), style, kTitle, nullptr);
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
