// What the settings dialog does: filling, saving and the handlers of its controls.
#include "admin/frmSettings.h"

#include "admin/AlertKeyHooks.h"
#include "admin/SettingsFolderBrowser.h"
#include "core/EventLog.h"
#include "core/Functions.h"
#include "core/Globals.h"
#include "core/IniFiles.h"
#include "net/Network.h"
#include "net/ServerAddresses.h"
#include "platform/KeySyms.h"
#include "platform/ProgramFolder.h"
#include "ui/MainWindow.h"
#include "ui/XPMsgBox.h"
#include "windows/frmAlarmPopup.h"
#include "windows/frmMonitor.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

namespace {

const QString kGeneral = QStringLiteral("General");

QString Ini(const QString& key, const QString& def)
{
    return IniFiles::ReadIni(kGeneral, key, def);
}

void SetIni(const QString& key, const QString& value)
{
    IniFiles::WriteIni(kGeneral, key, value);
}

QString Flag(const QCheckBox* box)
{
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

// The stored program type as the start reads it: "0" a station, any other number the server, anything that
// is no number a station. Comparing the choice with this (and not only with the texts "0" and "1") makes a
// hand-edited value end the program like any other change of the type, instead of switching it at run time.
bool StoredServer()
{
    bool ok = false;
    const double v = Ini(QStringLiteral("Server"), QStringLiteral("0")).trimmed().toDouble(&ok);
    return ok && v != 0.0;
}

// The settings have not been confirmed on this PC yet (first start, or the program type was changed).
bool FirstConfiguration()
{
    return Ini(QStringLiteral("Init"), QStringLiteral("0")) == QLatin1String("0");
}

} // namespace

QString frmSettings::RestartText()
{
    return QStringLiteral("Das Programm wird beendet, da sich wichtige Einstellungen geändert haben!\r\n"
                          "Starten Sie es im Anschluss bitte neu.");
}

QString frmSettings::KeyRefusedText()
{
    return QStringLiteral("Diese Taste kann nicht als Alarmtaste verwendet werden.\r\n"
                          "Bitte wählen Sie eine andere Taste oder Tastenkombination.");
}

QString frmSettings::StationNameText()
{
    return QStringLiteral("Der Stationsname enthält Zeichen, die in den Einstellungen nicht gespeichert werden "
                          "können.\r\nBitte ändern Sie den Stationsnamen.");
}

QString frmSettings::LogfileText()
{
    return QStringLiteral("Der Pfad der Logdatei enthält Zeichen, die in den Einstellungen nicht gespeichert "
                          "werden können.\r\nBitte wählen Sie ein anderes Verzeichnis für die Logdatei.");
}

QString frmSettings::BrowseTitle()
{
    return QStringLiteral("tavinor\r\nBitte wählen Sie das Verzeichnis für die Logdatei aus!");
}

bool frmSettings::ClientSelected() const
{
    return !optProgramType[1]->isChecked();
}

void frmSettings::ShowSettings(bool isServer)
{
    lblTitle->setText(QStringLiteral("tavinor"));

    const bool client = !isServer;
    for (QWidget* w : std::initializer_list<QWidget*>{
             lblSettings[0], txtServer, cmdConnect, frameSettings[1], lblSettings[3], txtStationname, chkAlert[0],
             chkAlert[1], cmdAlert[0], cmdAlert[1], chkCheckBuzzer, lblSettings[1], txtAlertkey, cmdSetKey})
        w->setEnabled(client);
    cmdMonitor->setEnabled(isServer);
    // The person setting up the stations reads the server's address here.
    lblOwnAddresses->setVisible(isServer);
    if (isServer)
        lblOwnAddresses->setText(ServerAddresses::Caption());

    if (isServer) {
        optProgramType[1]->setChecked(true);
        optProgramType[1]->setFocus();
        txtServer->clear();
        SetBorder(kNeutralColour);
        cmdConnect->setText(QStringLiteral("Verbinden"));
    } else {
        optProgramType[0]->setChecked(true);
        optProgramType[0]->setFocus();
        txtServer->setText(Ini(QStringLiteral("Servername"), QString()));
        SetBorder(Globals::IsConnected ? kGreenColour : kRedColour);
        cmdConnect->setText(Globals::IsConnected ? QStringLiteral("Trennen") : QStringLiteral("Verbinden"));
    }

    txtStationname->setText(Functions::StationName());
    chkAlert[0]->setChecked(Ini(QStringLiteral("Visuell"), QStringLiteral("0")) == QLatin1String("1"));
    chkAlert[1]->setChecked(Ini(QStringLiteral("Akustisch"), QStringLiteral("0")) == QLatin1String("1"));
    // A station being set up (first start, or a server turned into one) with neither box would show nothing
    // when an alarm comes: propose the window.
    if (client && (FirstConfiguration() || StoredServer()) && !chkAlert[0]->isChecked() && !chkAlert[1]->isChecked())
        chkAlert[0]->setChecked(true);
    txtAlertkey->setText(Ini(QStringLiteral("Alertkey"), QStringLiteral("F12")));
    txtAlertkey->setProperty("tag", Ini(QStringLiteral("AlertkeyCode"), QStringLiteral("123")));
    chkCheckBuzzer->setChecked(Ini(QStringLiteral("CheckBuzzer"), QStringLiteral("1")) == QLatin1String("1"));
    txtLogfile->setText(Functions::LogFilePath());
}

QString frmSettings::Refusal() const
{
    const bool client = ClientSelected();
    if (client && !IniFiles::CanStore(txtStationname->text()))
        return StationNameText();
    const QString logfile = txtLogfile->text();
    if (!IniFiles::CanStore(logfile) && logfile != Functions::DefaultLogFile())
        return LogfileText();
    if (client && txtAlertkey->isEnabled() && !txtAlertkey->text().trimmed().isEmpty()) {
        bool ok = false;
        const int code = txtAlertkey->property("tag").toString().trimmed().toInt(&ok);
        if (!ok || !AlertKeyHooks::CanArm(code))
            return KeyRefusedText();
    }
    return {};
}

bool frmSettings::SaveSettings()
{
    // Nothing is written while one value cannot be stored as it is: the dialog stays open to mend it.
    const QString refusal = Refusal();
    if (!refusal.isEmpty()) {
        int style = 48;
        ShowXPMessage(refusal, style, QStringLiteral("tavinor"), this);
        return false;
    }

    const bool client = ClientSelected();
    if (StoredServer() == client)
        SetIni(QStringLiteral("Init"), QStringLiteral("0"));

    bool keyWritten = false;
    if (client) {
        SetIni(QStringLiteral("Server"), QStringLiteral("0"));
        SetIni(QStringLiteral("Servername"), txtServer->text());
        SetIni(QStringLiteral("Stationname"), txtStationname->text());
        SetIni(QStringLiteral("Visuell"), Flag(chkAlert[0]));
        SetIni(QStringLiteral("Akustisch"), Flag(chkAlert[1]));
        // A capture that ended on a lone Shift, Ctrl or Alt leaves the field empty: keep the stored key
        // rather than store a blank name, which would read back as "F12" with another key's code.
        if (txtAlertkey->isEnabled() && !txtAlertkey->text().trimmed().isEmpty()) {
            SetIni(QStringLiteral("Alertkey"), txtAlertkey->text());
            SetIni(QStringLiteral("AlertkeyCode"), txtAlertkey->property("tag").toString());
            keyWritten = true;
        }
        SetIni(QStringLiteral("CheckBuzzer"), Flag(chkCheckBuzzer));
    } else {
        SetIni(QStringLiteral("Server"), QStringLiteral("1"));
        SetIni(QStringLiteral("Servername"), QString());
        SetIni(QStringLiteral("Visuell"), QStringLiteral("0"));
        SetIni(QStringLiteral("Akustisch"), QStringLiteral("0"));
        SetIni(QStringLiteral("Alertkey"), QString());
        SetIni(QStringLiteral("AlertkeyCode"), QString());
    }
    // The default below a folder the file cannot name is left out: it is computed anew at every use.
    SetIni(QStringLiteral("Logfile"), IniFiles::CanStore(txtLogfile->text()) ? txtLogfile->text() : QString());

    MainWindow* main = MainWindow::Instance();
    if (FirstConfiguration()) {
        SetIni(QStringLiteral("Init"), QStringLiteral("1"));
        int style = 64;
        ShowXPMessage(RestartText(), style, QStringLiteral("tavinor"), this);
        if (main)
            main->ExitWhenNoAlarm();
        return true;
    }
    // What is saved is armed: staff trained on the new key must raise the alarm with it from now on.
    if (keyWritten && main) {
        AlertKeyHooks::ParseAlertKey(txtAlertkey->text(), static_cast<qint16>(txtAlertkey->property("tag").toInt()));
        AlertKeyHooks::ApplyAlertKey(MainWindow::Widget());
    }
    if (main)
        main->UpdateVariables(false);
    return true;
}

void frmSettings::SetConnectionStatus(bool connected)
{
    // With the server option chosen the connection controls are not in use; their look stays neutral.
    if (!ClientSelected())
        return;
    SetBorder(connected ? kGreenColour : kRedColour);
    cmdConnect->setText(connected ? QStringLiteral("Trennen") : QStringLiteral("Verbinden"));
    if (connected && Globals::IsEnding)
        return;
    cmdConnect->setEnabled(connected);
}

void frmSettings::optProgramType_Click(int index)
{
    ShowSettings(index == 1);
}

void frmSettings::cmdOK_Click()
{
    QPointer<frmSettings> self(this);
    // Ending the program has unloaded the dialog already.
    if (SaveSettings() && self)
        close();
}

void frmSettings::cmdConnect_Click()
{
    cmdConnect->setEnabled(false);
    if (Globals::IsConnected) {
        doClientDisconnect();
        cmdConnect->setEnabled(true);
    } else {
        // Stays disabled until the address is edited: the link's status shows the outcome.
        doClientConnect(txtServer->text());
    }
}

void frmSettings::txtServer_Change()
{
    // Emptying the field for the server option must not bring the button back.
    cmdConnect->setEnabled(ClientSelected());
}

void frmSettings::chkAlert_Click()
{
    cmdAlert[0]->setEnabled(chkAlert[0]->isChecked());
}

void frmSettings::cmdAlert_Click()
{
    // The boxes as they are now, saved or not.
    frmAlarmPopup::TestAlertReceiver(Functions::StationName(), chkAlert[1]->isChecked(), chkAlert[0]->isChecked());
}

void frmSettings::txtAlertkey_KeyDown(int keyCode, int shift)
{
    // A key without a code of its own would disarm the alert key: refuse it and keep the one shown.
    if (!AlertKeyHooks::CanArm(keyCode) && keyCode != KeySyms::VK_SHIFT && keyCode != KeySyms::VK_CONTROL &&
        keyCode != KeySyms::VK_MENU) {
        int style = 48;
        ShowXPMessage(KeyRefusedText(), style, QStringLiteral("tavinor"), this);
        return;
    }
    AlertKeyHooks::CaptureAlertKey(static_cast<qint16>(keyCode), static_cast<qint16>(shift), txtAlertkey);
}

void frmSettings::cmdSetKey_Click()
{
    AlertKeyHooks::ApplyAlertKey(MainWindow::Widget());
}

void frmSettings::cmdLogfile_Click()
{
    const QString folder = GetDirLib::BrowseForFolder(ProgramFolder::Path(), BrowseTitle(), this);
    if (folder.isEmpty())
        return;
    txtLogfile->setText(folder.endsWith(QLatin1Char('/')) ? folder + QStringLiteral("log.csv")
                                                          : folder + QStringLiteral("/log.csv"));
}

void frmSettings::cmdMonitor_Click()
{
    frmMonitor::ShowMonitor(this);
}
