#include "admin/frmAbout.h"

#include "admin/AboutContacts.h"
#include "admin/OpenLink.h"
#include "platform/SysInfo.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

void frmAbout::ShowAbout(QWidget* owner, bool modal)
{
    if (!Forms::Activate(QStringLiteral("frmAbout")))
        Forms::Show(new frmAbout(owner), modal);
}

QString frmAbout::VersionText(int major, int minor, int revision)
{
    return QStringLiteral("Version %1.%2.%3").arg(major).arg(minor).arg(revision);
}

frmAbout::frmAbout(QWidget* owner)
    : QDialog(owner), lblTitle(new QLabel), lblVersion(new QLabel), lblURL(new QLabel), cmdSysInfo(new QPushButton),
      cmdOK(new QPushButton)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    Forms::Register(this);
    setWindowTitle(QStringLiteral("tavinor"));

    // A label without a buddy shows "&" as it is, so the title needs no escaping to be shown literally.
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setText(QStringLiteral("tavinor"));
    lblTitle->setTextFormat(Qt::PlainText);
    Forms::StyleTitle(lblTitle);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setText(VersionText(TAVINOR_VERSION_MAJOR, TAVINOR_VERSION_MINOR, TAVINOR_VERSION_PATCH));

    auto* app = new QGroupBox(QStringLiteral("Anwendung:"));
    app->setObjectName(QStringLiteral("fraApplication"));
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("picIcon"));
    const QIcon appIcon = QApplication::windowIcon().isNull() ? style()->standardIcon(QStyle::SP_ComputerIcon)
                                                              : QApplication::windowIcon();
    icon->setPixmap(appIcon.pixmap(48, 48));
    auto* appText = new QVBoxLayout;
    appText->addWidget(lblTitle);
    appText->addWidget(lblVersion);
    auto* appRow = new QHBoxLayout(app);
    appRow->addWidget(icon);
    appRow->addLayout(appText, 1);

    auto* parties = new QVBoxLayout;
    parties->addWidget(app);
    // The distributor's contact data, from the file it fills in.
    const QByteArray contacts = AboutContacts::Load();
    const struct
    {
        const char* name;
        const char* section;
        QString caption;
    } frames[] = {
        {"fraConsulting", "Beratung", QStringLiteral("Notfallmanagement, Beratung und Programmentwicklung:")},
        {"fraSupport", "Support", QStringLiteral("Projektleitung, Hardwareentwicklung, Vertrieb und Support:")},
        {"fraDevelopment", "Entwicklung", QStringLiteral("Softwareentwicklung und Programmierung:")},
    };
    for (const auto& f : frames) {
        const AboutContacts::Party party = AboutContacts::PartyFrom(contacts, QLatin1String(f.section));
        parties->addWidget(MakeParty(QLatin1String(f.name), f.caption, party.contact, party.mail));
    }

    lblURL->setObjectName(QStringLiteral("lblURL"));
    lblURL->setText(AboutContacts::LinkFrom(contacts));
    lblURL->setTextFormat(Qt::PlainText);
    lblURL->setCursor(Qt::PointingHandCursor);
    QFont link = lblURL->font();
    link.setUnderline(true);
    lblURL->setFont(link);
    QPalette pal = lblURL->palette();
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Link));
    lblURL->setPalette(pal);
    lblURL->installEventFilter(this);

    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setText(QStringLiteral("&System Info..."));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setText(QStringLiteral("OK"));
    cmdOK->setDefault(true);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::close);

    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdSysInfo);
    buttons->addWidget(cmdOK);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblURL, 1, Qt::AlignBottom | Qt::AlignLeft);
    bottom->addLayout(buttons);

    auto* root = new QVBoxLayout(this);
    root->addLayout(parties);
    root->addLayout(bottom);
    root->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
}

QWidget* frmAbout::MakeParty(const QString& objectName, const QString& caption, const QString& contact,
                             const QString& mail)
{
    auto* frame = new QGroupBox(caption);
    frame->setObjectName(objectName);
    auto* text = new QLabel(contact);
    text->setTextFormat(Qt::PlainText);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* mailLabel = new QLabel(mail);
    mailLabel->setTextFormat(Qt::PlainText);
    mailLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* box = new QVBoxLayout(frame);
    box->addWidget(text);
    box->addWidget(mailLabel);
    return frame;
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblURL && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Functions::OpenLink(lblURL->text());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::StartSysInfo()
{
    if (SysInfo::Start())
        return;
    int style = 0;
    ShowXPMessage(QStringLiteral("System Information Is Unavailable At This Time"), style, QString(), this);
}
