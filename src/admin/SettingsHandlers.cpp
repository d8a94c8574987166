// What the settings dialog does: filling, saving and the handlers of its controls.
#include "admin/frmSettings.h"

#include "admin/SettingsFolderBrowser.h"
#include "admin/XPMsgBox.h"
#include "alarm/Hooklib.h"
#include "core/Functions.h"
#include "core/Globals.h"
#include "core/IniFiles.h"
#include "core/ProgramFolder.h"
#include "core/frmMain.h"
#include "net/Network.h"
#include "net/ServerAddresses.h"
#include "net/frmMonitor.h"
#include "windows/frmAlarmPopup.h"

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

} // namespace

QString frmSettings::RestartText()
{
    return QStringLiteral("Das Programm wird beendet, da sich wichtige Einstellungen geändert haben!\r\n"
                          "Starten Sie es im Anschluss bitte neu.");
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
    txtAlertkey->setText(Ini(QStringLiteral("Alertkey"), QStringLiteral("F12")));
    txtAlertkey->setProperty("tag", Ini(QStringLiteral("AlertkeyCode"), QStringLiteral("123")));
    chkCheckBuzzer->setChecked(Ini(QStringLiteral("CheckBuzzer"), QStringLiteral("1")) == QLatin1String("1"));
    txtLogfile->setText(Ini(QStringLiteral("Logfile"), ProgramFolder::Path() + QStringLiteral("/Log/log.csv")));

    // The visual test follows its check box from the start, not only after the first click.
    if (client)
        chkAlert_Click();
}

void frmSettings::SaveSettings()
{
    const bool client = ClientSelected();
    if (StoredServer() == client)
        SetIni(QStringLiteral("Init"), QStringLiteral("0"));

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
    SetIni(QStringLiteral("Logfile"), txtLogfile->text());

    frmMain* main = frmMain::Instance();
    if (Ini(QStringLiteral("Init"), QStringLiteral("0")) == QLatin1String("0")) {
        SetIni(QStringLiteral("Init"), QStringLiteral("1"));
        int style = 64;
        ShowXPMessage(RestartText(), style, QStringLiteral("tavinor"), this);
        if (main)
            main->ExitProgram(false);
        return;
    }
    if (main)
        main->UpdateVariables(false);
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
    SaveSettings();
    // Ending the program has unloaded the dialog already.
    if (self)
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
    Hooklib::CaptureAlertKey(static_cast<qint16>(keyCode), static_cast<qint16>(shift), txtAlertkey);
}

void frmSettings::cmdSetKey_Click()
{
    Hooklib::ApplyAlertKey(frmMain::Instance());
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
