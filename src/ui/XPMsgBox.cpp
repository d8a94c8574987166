#include "ui/XPMsgBox.h"

#include "core/EventLog.h"
#include "core/Functions.h"
#include "core/Globals.h"
#include "ui/Forms.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <cstdio>

namespace {

// Measures of the box, in twips.
constexpr int PictureLeft = 240;
constexpr int PictureTop = 240;
constexpr int PictureSize = 480;
constexpr int LabelLeft = 960;
constexpr int LabelTop = 240;
constexpr int WrapAbove = 11000;
constexpr int WrapWidth = 10000;
constexpr int LabelToButtons = 520;
constexpr int BottomMargin = 300;
constexpr int RightMargin = 300;
constexpr int ButtonGap = 225;
constexpr int ButtonWidth = 1215;
constexpr int ButtonHeight = 375;

constexpr short HelpTag = 16384;

std::function<int(XPMsgBox&)>& Responder()
{
    static std::function<int(XPMsgBox&)> responder;
    return responder;
}

QPixmap LogoPixmap(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.drawRect(QRectF(0.5, 0.5, size - 1, size - 1));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(204, 0, 0));
    const qreal bar = size / 3.0;
    const qreal margin = size / 8.0;
    p.drawRect(QRectF(bar, margin, bar, size - 2 * margin));
    p.drawRect(QRectF(margin, bar, size - 2 * margin, bar));
    return pm;
}

} // namespace

XPMsgBox::Style XPMsgBox::DecodeStyle(int style)
{
    Style s;
    if (style >= 16384) {
        s.help = true;
        style -= 16384;
    }
    for (int code : {768, 512, 256}) {
        if (style >= code) {
            s.focus = code;
            style -= code;
            break;
        }
    }
    if (style >= 64 && style <= 79) {
        s.icon = Icon::Information;
        s.defaultTitle = QStringLiteral("Info");
        style -= 64;
    } else if (style >= 48 && style <= 63) {
        s.icon = Icon::Warning;
        s.defaultTitle = QStringLiteral("Achtung");
        style -= 48;
    } else if (style >= 32 && style <= 47) {
        s.icon = Icon::Question;
        s.defaultTitle = QStringLiteral("Info");
        style -= 32;
    } else if (style >= 16 && style <= 31) {
        s.icon = Icon::Stop;
        s.defaultTitle = QStringLiteral("Stop");
        style -= 16;
    } else if (style == 0) {
        s.logo = true;
    }
    s.remainder = style;
    s.buttonSet = (style >= 0 && style <= 5) ? style : 0;

    const ButtonDef ok{QStringLiteral("OK"), 1};
    const ButtonDef cancel{QStringLiteral("Abbrechen"), 2};
    const ButtonDef abort{QStringLiteral("Abbrechen"), 3};
    const ButtonDef retry{QStringLiteral("Wiederholen"), 4};
    const ButtonDef ignore{QStringLiteral("Ignorieren"), 5};
    const ButtonDef yes{QStringLiteral("Ja"), 6};
    const ButtonDef no{QStringLiteral("Nein"), 7};
    switch (s.buttonSet) {
    case 1:
        s.buttons = {ok, ButtonDef{}, cancel};
        break;
    case 2:
        s.buttons = {abort, retry, ignore};
        break;
    case 3:
        s.buttons = {yes, no, cancel};
        break;
    case 4:
        s.buttons = {yes, ButtonDef{}, no};
        break;
    case 5:
        s.buttons = {retry, ButtonDef{}, cancel};
        break;
    default:
        s.buttons = {ok, ButtonDef{}, ButtonDef{}};
        break;
    }
    return s;
}

int XPMsgBox::TwipsToPixels(int twips, qreal dpi)
{
    return qRound(twips * dpi / 1440.0);
}

XPMsgBox::Layout XPMsgBox::ComputeLayout(const LayoutInput& in)
{
    const auto px = [&in](int twips) { return TwipsToPixels(twips, in.dpi); };
    Layout l;
    QSize label = in.labelSize;
    if (label.width() > px(WrapAbove)) {
        l.wrapped = true;
        label.setWidth(px(WrapWidth));
        if (in.heightForWidth)
            label.setHeight(in.heightForWidth(label.width()));
    }
    l.label = QRect(QPoint(px(LabelLeft), px(LabelTop)), label);

    const int buttonTop = l.label.top() + label.height() + px(LabelToButtons);
    int width = l.label.left() + label.width() + px(RightMargin);
    const int height = buttonTop + in.buttonSize.height() + px(BottomMargin);

    const int count = qMax(in.buttonCount, 0);
    const int gap = px(ButtonGap);
    const int row = count > 0 ? count * in.buttonSize.width() + (count - 1) * gap : 0;
    if (row + 2 * gap > width)
        width = row + 2 * gap;
    int x = (width - row) / 2;
    for (int i = 0; i < count; ++i) {
        l.buttons.append(QRect(QPoint(x, buttonTop), in.buttonSize));
        x += in.buttonSize.width() + gap;
    }
    l.window = QSize(width, height);
    return l;
}

QString XPMsgBox::FocusTarget(int focus, bool mitteVisible, bool rechtsVisible, bool helpVisible)
{
    const QString links = QStringLiteral("links");
    const QString mitte = QStringLiteral("mitte");
    const QString rechts = QStringLiteral("rechts");
    switch (focus) {
    case 256:
        return mitteVisible ? mitte : rechtsVisible ? rechts : links;
    case 512:
        return rechtsVisible ? rechts : mitteVisible ? mitte : links;
    case 768:
        return helpVisible ? QStringLiteral("HelpButton") : links;
    default:
        return links;
    }
}

XPMsgBox::XPMsgBox(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("XPMsgBox"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("msgtextlabel"));
    // Messages carry file names and peer texts: never let them be read as markup.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_buttons = {MakeButton(QStringLiteral("links")), MakeButton(QStringLiteral("mitte")),
                 MakeButton(QStringLiteral("rechts")), MakeButton(QStringLiteral("HelpButton"))};

    const int size = TwipsToPixels(PictureSize, logicalDpiX());
    const QSize icon(size, size);
    const auto standard = [this, icon](QStyle::StandardPixmap which) {
        return style()->standardIcon(which).pixmap(icon);
    };
    m_pictures = {MakePicture(QStringLiteral("picfrage"), standard(QStyle::SP_MessageBoxQuestion)),
                  MakePicture(QStringLiteral("picachtung"), standard(QStyle::SP_MessageBoxWarning)),
                  MakePicture(QStringLiteral("picinfo"), standard(QStyle::SP_MessageBoxInformation)),
                  MakePicture(QStringLiteral("picstop"), standard(QStyle::SP_MessageBoxCritical)),
                  MakePicture(QStringLiteral("picLogo"), LogoPixmap(size))};
}

QPushButton* XPMsgBox::MakeButton(const QString& name)
{
    auto* b = new QPushButton(this);
    b->setObjectName(name);
    b->hide();
    connect(b, &QPushButton::clicked, this, [this, b] {
        m_pressed = static_cast<short>(b->property("tag").toInt());
        done(QDialog::Accepted);
    });
    return b;
}

QLabel* XPMsgBox::MakePicture(const QString& name, const QPixmap& pixmap)
{
    auto* pic = new QLabel(this);
    pic->setObjectName(name);
    pic->setPixmap(pixmap);
    pic->setScaledContents(true);
    const int dpi = logicalDpiX();
    pic->setGeometry(TwipsToPixels(PictureLeft, dpi), TwipsToPixels(PictureTop, dpi), TwipsToPixels(PictureSize, dpi),
                     TwipsToPixels(PictureSize, dpi));
    pic->hide();
    return pic;
}

void XPMsgBox::Prepare(const QString& prompt, int& style, const QString& title)
{
    QString text = prompt;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    m_text->setWordWrap(false);
    m_text->setText(text);
    m_pressed = -1;

    const Style s = DecodeStyle(style);
    style = s.remainder;
    m_focus = s.focus;

    const std::array<bool, 5> shown = {s.icon == Icon::Question, s.icon == Icon::Warning, s.icon == Icon::Information,
                                       s.icon == Icon::Stop, s.logo};
    for (size_t i = 0; i < m_pictures.size(); ++i)
        m_pictures[i]->setVisible(shown[i]);
    // A title bar shows control characters as boxes: a line break in a caller's title becomes a blank.
    QString caption = s.icon != Icon::None && title.isEmpty() ? s.defaultTitle : title;
    for (QChar& c : caption) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    setWindowTitle(caption);

    const std::array<ButtonDef, 4> defs = {s.buttons[0], s.buttons[1], s.buttons[2],
                                           s.help ? ButtonDef{QStringLiteral("Hilfe"), HelpTag} : ButtonDef{}};
    const int dpi = logicalDpiX();
    QSize buttonSize(TwipsToPixels(ButtonWidth, dpi), TwipsToPixels(ButtonHeight, dpi));
    QList<QPushButton*> row;
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        QPushButton* b = m_buttons[i];
        b->setText(defs[i].caption);
        b->setProperty("tag", int(defs[i].tag));
        b->setVisible(defs[i].tag != 0);
        if (defs[i].tag != 0) {
            row.append(b);
            buttonSize = buttonSize.expandedTo(b->sizeHint());
        }
    }

    LayoutInput in;
    in.dpi = dpi;
    in.labelSize = m_text->sizeHint();
    in.heightForWidth = [this](int w) {
        m_text->setWordWrap(true);
        const int h = m_text->heightForWidth(w);
        m_text->setWordWrap(false);
        return h;
    };
    in.buttonSize = buttonSize;
    in.buttonCount = int(row.size());
    const Layout l = ComputeLayout(in);

    m_text->setWordWrap(l.wrapped);
    m_text->setGeometry(l.label);
    for (int i = 0; i < row.size(); ++i)
        row[i]->setGeometry(l.buttons[i]);
    setFixedSize(l.window);
    ApplyFocus();
}

void XPMsgBox::ApplyFocus()
{
    const QString target =
        FocusTarget(m_focus, !m_buttons[1]->isHidden(), !m_buttons[2]->isHidden(), !m_buttons[3]->isHidden());
    for (QPushButton* b : m_buttons) {
        const bool chosen = b->objectName() == target;
        b->setDefault(chosen);
        if (chosen)
            b->setFocus(Qt::ActiveWindowFocusReason);
    }
}

void XPMsgBox::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ApplyFocus();
    if (Responder() && !m_responderDue) {
        m_responderDue = true;
        QTimer::singleShot(0, this, &XPMsgBox::Respond);
    }
}

bool XPMsgBox::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        ApplyFocus();
    return QDialog::event(event);
}

void XPMsgBox::Respond()
{
    // A copy: the responder may replace the seam while it runs.
    const auto responder = Responder();
    if (!responder || !isVisible())
        return;
    QPointer<XPMsgBox> self(this);
    const int answer = responder(*this);
    if (!self || !isVisible())
        return;
    if (answer == -1) {
        close();
        return;
    }
    for (QPushButton* b : m_buttons) {
        if (!b->isHidden() && b->property("tag").toInt() == answer) {
            b->click();
            return;
        }
    }
}

void XPMsgBox::SetTestResponder(std::function<int(XPMsgBox&)> responder)
{
    Responder() = std::move(responder);
}

short ShowXPMessage(const QString& prompt, int& style, const QString& title, QWidget* owner)
{
    if (Globals::IsHeadless) {
        // Without a desktop a box would wait for ever for an answer nobody can give: what it says goes to
        // the event log and the journal, and it counts as closed without a button.
        style = XPMsgBox::DecodeStyle(style).remainder;
        QString text = prompt;
        text.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
        std::fprintf(stderr, "tavinor: %s\n", text.toUtf8().constData());
        Functions::WriteLog(Functions::StationName(), text);
        return -1;
    }
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (!owner)
        owner = Forms::Find(QStringLiteral("frmMain"));

    // A fresh box per call: a notice raised from a socket or timer event while another box waits gets its
    // own window instead of re-laying-out the one the user is reading.
    QPointer<XPMsgBox> box = new XPMsgBox(owner);
    Forms::Register(box);
    box->Prepare(prompt, style, title);
    if (!owner || !owner->isVisible()) {
        // The main window is hidden for the whole run: centre on the screen rather than on its old place.
        if (QScreen* screen = box->screen())
            box->move(screen->availableGeometry().center() - box->rect().center());
    }

    box->exec();
    // An alarm may have unloaded the box (or its owner) during the wait: then nothing was answered.
    if (!box)
        return -1;
    const short result = box->pressed();
    delete box.data();
    return result;
}
