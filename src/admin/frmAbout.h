#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about window: program, version and the parties behind it, with the system information and a
// contact link. Controls: lblTitle, lblVersion, lblURL, cmdSysInfo, cmdOK.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    // Opens the about window owned by `owner`: modal when `modal`, never twice.
    static void ShowAbout(QWidget* owner, bool modal);

    explicit frmAbout(QWidget* owner = nullptr);

    // Starts the system-information program, or tells the user there is none.
    void StartSysInfo();

    // "Version " with major, minor and revision as plain decimal numbers.
    static QString VersionText(int major, int minor, int revision);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* MakeParty(const QString& objectName, const QString& caption, const QString& contact, const QString& mail);

    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblURL;
    QPushButton* cmdSysInfo;
    QPushButton* cmdOK;
};
