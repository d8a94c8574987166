#include "admin/frmSettings.h"

#include "admin/Settings.h"
#include "core/Globals.h"
#include "net/Protocol.h"
#include "platform/KeyCodes.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

template <typename T> T* Make(QWidget* parent, const QString& name, const QString& text = QString())
{
    auto* w = new T(parent);
    w->setObjectName(name);
    if constexpr (!std::is_same_v<T, QLineEdit>) {
        if (!text.isEmpty())
            w->setText(text);
    }
    return w;
}

QString Indexed(const char* name, int index)
{
    return QLatin1String(name) + QLatin1Char('(') + QString::number(index) + QLatin1Char(')');
}

} // namespace

frmSettings::frmSettings(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmSettings"));
    setAttribute(Qt::WA_DeleteOnClose);
    Forms::Register(this);
    BuildControls();

    // The load: caption, the controls for the running program type, then the lower right corner.
    setWindowTitle(QStringLiteral("tavinor") + QStringLiteral(" - Einstellungen"));
    ShowSettings(Globals::IsServer);
    adjustSize();
    PlaceInCorner();
}

void frmSettings::PlaceInCorner()
{
    if (QScreen* s = screen())
        move(Placement(s->geometry(), frameGeometry().size(), s->logicalDotsPerInchX(), s->logicalDotsPerInchY()));
}

bool frmSettings::event(QEvent* event)
{
    // The window manager tells the size of its frame only once the window is up: place it again, once, so
    // that the frame and not only the inside keeps the distance from the screen's edges.
    if (!m_framePlaced && (event->type() == QEvent::Move || event->type() == QEvent::Resize) && isVisible() &&
        frameGeometry().size() != size()) {
        m_framePlaced = true;
        PlaceInCorner();
    }
    return QDialog::event(event);
}

void frmSettings::BuildControls()
{
    lblTitle = Make<QLabel>(this, QStringLiteral("lblTitle"), QStringLiteral("tavinor"));
    lblTitle->setTextFormat(Qt::PlainText);
    QFont big = lblTitle->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.5);
    lblTitle->setFont(big);

    const char* frames[] = {"Verbindung", "Einstellungen", "Log"};
    for (int i = 0; i < 3; ++i) {
        frameSettings[i] = new QGroupBox(QString::fromUtf8(frames[i]), this);
        frameSettings[i]->setObjectName(Indexed("frameSettings", i));
    }

    // Connection.
    QGroupBox* f0 = frameSettings[0];
    optProgramType[0] =
        Make<QRadioButton>(f0, Indexed("optProgramType", 0), QStringLiteral("Diese Station als Client starten"));
    optProgramType[1] =
        Make<QRadioButton>(f0, Indexed("optProgramType", 1), QStringLiteral("Diese Station als Server starten"));
    lblSettings[0] = Make<QLabel>(f0, Indexed("lblSettings", 0), QStringLiteral("Mit Server verbinden (IP-Adresse):"));
    txtServer = Make<QLineEdit>(f0, QStringLiteral("txtServer"));
    cmdConnect = Make<QPushButton>(f0, QStringLiteral("cmdConnect"), QStringLiteral("Verbinden"));
    auto* g0 = new QGridLayout(f0);
    g0->addWidget(optProgramType[0], 0, 0, 1, 2);
    g0->addWidget(optProgramType[1], 1, 0, 1, 2);
    g0->addWidget(lblSettings[0], 2, 0, 1, 2);
    g0->addWidget(txtServer, 3, 0);
    g0->addWidget(cmdConnect, 3, 1);
    lblOwnAddresses = Make<QLabel>(f0, QStringLiteral("lblOwnAddresses"), QString());
    lblOwnAddresses->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblOwnAddresses->hide();
    g0->addWidget(lblOwnAddresses, 4, 0, 1, 2);

    // Station settings.
    QGroupBox* f1 = frameSettings[1];
    lblSettings[3] = Make<QLabel>(f1, Indexed("lblSettings", 3), QStringLiteral("Stationsname:"));
    txtStationname = Make<QLineEdit>(f1, QStringLiteral("txtStationname"));
    txtStationname->setMaxLength(Protocol::kMaxStationName);
    chkAlert[0] = Make<QCheckBox>(f1, Indexed("chkAlert", 0), QStringLiteral("visuellen Alarm aktivieren"));
    chkAlert[1] = Make<QCheckBox>(f1, Indexed("chkAlert", 1), QStringLiteral("akustischen Alarm aktivieren"));
    for (int i = 0; i < 2; ++i)
        cmdAlert[i] = Make<QPushButton>(f1, Indexed("cmdAlert", i), QStringLiteral("Testen"));
    lblSettings[1] = Make<QLabel>(f1, Indexed("lblSettings", 1),
                                  QStringLiteral("Alarm auslösen durch (Taste / Tastenkombination):"));
    txtAlertkey = Make<QLineEdit>(f1, QStringLiteral("txtAlertkey"));
    txtAlertkey->setContextMenuPolicy(Qt::NoContextMenu);
    txtAlertkey->setAcceptDrops(false);
    txtAlertkey->setAttribute(Qt::WA_InputMethodEnabled, false);
    txtAlertkey->installEventFilter(this);
    cmdSetKey = Make<QPushButton>(f1, QStringLiteral("cmdSetKey"), QStringLiteral("Zuweisen"));
    chkCheckBuzzer = Make<QCheckBox>(f1, QStringLiteral("chkCheckBuzzer"),
                                     QStringLiteral("beim Programmstart auf vorhandenen Nottaster prüfen"));
    auto* g1 = new QGridLayout(f1);
    g1->addWidget(lblSettings[3], 0, 0, 1, 2);
    g1->addWidget(txtStationname, 1, 0, 1, 2);
    g1->addWidget(chkAlert[0], 2, 0);
    g1->addWidget(cmdAlert[0], 2, 1);
    g1->addWidget(chkAlert[1], 3, 0);
    g1->addWidget(cmdAlert[1], 3, 1);
    g1->addWidget(lblSettings[1], 4, 0, 1, 2);
    g1->addWidget(txtAlertkey, 5, 0);
    g1->addWidget(cmdSetKey, 5, 1);
    g1->addWidget(chkCheckBuzzer, 6, 0, 1, 2);

    // Log.
    QGroupBox* f2 = frameSettings[2];
    lblSettings[2] = Make<QLabel>(f2, Indexed("lblSettings", 2), QStringLiteral("lokale Logdatei:"));
    txtLogfile = Make<QLineEdit>(f2, QStringLiteral("txtLogfile"));
    cmdLogfile = Make<QPushButton>(f2, QStringLiteral("cmdLogfile"), QStringLiteral("Ändern ..."));
    cmdMonitor = Make<QPushButton>(f2, QStringLiteral("cmdMonitor"), QStringLiteral("tavinor-Monitor starten"));
    auto* g2 = new QGridLayout(f2);
    g2->addWidget(lblSettings[2], 0, 0, 1, 2);
    g2->addWidget(txtLogfile, 1, 0);
    g2->addWidget(cmdLogfile, 1, 1);
    g2->addWidget(cmdMonitor, 2, 0, 1, 2, Qt::AlignLeft);

    cmdOK = Make<QPushButton>(this, QStringLiteral("cmdOK"), QStringLiteral("OK"));
    cmdCancel = Make<QPushButton>(this, QStringLiteral("cmdCancel"), QStringLiteral("Abbrechen"));
    // Enter in a text field is OK, whichever button was last focused (the key field takes Enter as a key).
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(false);
    cmdOK->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* root = new QVBoxLayout(this);
    root->addWidget(lblTitle);
    root->addWidget(frameSettings[0]);
    root->addWidget(frameSettings[1]);
    root->addWidget(frameSettings[2]);
    root->addLayout(buttons);
    root->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(420);

    for (int i = 0; i < 2; ++i) {
        connect(optProgramType[i], &QRadioButton::clicked, this, [this, i] { optProgramType_Click(i); });
        connect(chkAlert[i], &QCheckBox::clicked, this, &frmSettings::chkAlert_Click);
        connect(cmdAlert[i], &QPushButton::clicked, this, &frmSettings::cmdAlert_Click);
    }
    connect(txtServer, &QLineEdit::textChanged, this, &frmSettings::txtServer_Change);
    connect(cmdConnect, &QPushButton::clicked, this, &frmSettings::cmdConnect_Click);
    connect(cmdSetKey, &QPushButton::clicked, this, &frmSettings::cmdSetKey_Click);
    connect(cmdLogfile, &QPushButton::clicked, this, &frmSettings::cmdLogfile_Click);
    connect(cmdMonitor, &QPushButton::clicked, this, &frmSettings::cmdMonitor_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmSettings::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSettings::close);
}

QColor frmSettings::WindowsColour(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

QPoint frmSettings::Placement(const QRect& screen, const QSize& window, qreal dpiX, qreal dpiY)
{
    return {screen.left() + screen.width() - window.width() - XPMsgBox::TwipsToPixels(50, dpiX),
            screen.top() + screen.height() - window.height() - XPMsgBox::TwipsToPixels(500, dpiY)};
}

void frmSettings::SetBorder(int windowsColour)
{
    m_border = WindowsColour(windowsColour);
    txtServer->setStyleSheet(
        QStringLiteral("QLineEdit#txtServer { border: 2px solid %1; padding: 1px; }").arg(m_border.name()));
}

bool frmSettings::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtAlertkey) {
        switch (event->type()) {
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            // Tab still moves on, so the key field does not trap the keyboard.
            if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
                !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
                return false;
            txtAlertkey_KeyDown(KeyCodes::FromKeyEvent(*key), KeyCodes::ShiftState(key->modifiers()));
            return true;
        }
        case QEvent::KeyRelease:
        case QEvent::InputMethod:
        case QEvent::ShortcutOverride:
            // Typed characters never reach the field: it shows the captured key only.
            event->accept();
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmSettings::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_responded)
        return;
    m_responded = true;
    // Tests answer the dialog once it is up, from the event loop it runs in.
    QTimer::singleShot(0, this, [this] { Settings::RespondForTests(*this); });
}
