#include "windows/AlarmWindow.h"

#include "core/Globals.h"
#include "platform/Desktop.h"
#include "ui/Forms.h"
#include "ui/SysTrayUtil.h"
#include "windows/AlarmIO.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmapCache>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

AlarmWindow::AlarmWindow(const QString& name, const QString& caption, QWidget* owner, bool loaded)
    : QWidget(owner, Qt::Window | Qt::WindowStaysOnTopHint), m_caption(caption)
{
    setObjectName(name);
    // The window manager draws the icon in the title bar and the window switcher. The program's larger sizes
    // would only make it read and scale a hundred kilobytes each time an alarm window appears.
    setWindowIcon(SysTrayUtil::ProgramIcon({16, 32, 48}));
    m_alertTimer = new QTimer(this);
    m_alertTimer->setObjectName(QStringLiteral("alertTimer"));
    m_alertTimer->setInterval(1000);
    if (loaded)
        Arm();
}

void AlarmWindow::Arm()
{
    // Titled only now: a hidden window built ahead must not be taken for an alarm by anything that looks
    // for its caption.
    setWindowTitle(m_caption);
    Forms::Register(this);
    m_unloaded = false;
    m_start = AlarmIO::Now();
    m_alertTimer->start();
}

qint64 AlarmWindow::ElapsedSeconds() const
{
    // Rounded: a tick a few milliseconds early must not show the same second twice.
    return (m_start.msecsTo(AlarmIO::Now()) + 500) / 1000;
}

void AlarmWindow::RestartElapsed()
{
    m_start = AlarmIO::Now();
}

QLabel* AlarmWindow::MakeLabel(QWidget* parent, const char* name, const QString& text, qreal scale, bool bold)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    QFont f = label->font();
    f.setBold(bold);
    if (scale != 1.0)
        f.setPointSizeF(f.pointSizeF() * scale);
    label->setFont(f);
    return label;
}

QLayout* AlarmWindow::MakeHeadline(QLabel* station, QLabel* notruf, QLabel* alert)
{
    QFont f = notruf->font();
    f.setBold(true);
    f.setPointSizeF(station->font().pointSizeF() * 2.2);
    notruf->setFont(f);
    station->setWordWrap(true); // a long station name takes two lines, not the whole screen
    auto* headline = new QVBoxLayout;
    headline->setSpacing(0);
    for (QLabel* l : {station, notruf, alert}) {
        l->setAlignment(Qt::AlignCenter);
        headline->addWidget(l);
    }
    return headline;
}

void AlarmWindow::SetPixelSize(QLabel* label, int pixels)
{
    QFont f = label->font();
    f.setPixelSize(std::max(pixels, 1));
    label->setFont(f);
}

void AlarmWindow::InstallKeyPreview()
{
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

bool AlarmWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (BlocksKey(*key))
            return true;
        if (event->type() == QEvent::KeyPress && PreviewKey(key->key()))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void AlarmWindow::keyPressEvent(QKeyEvent* event)
{
    if (BlocksKey(*event) || PreviewKey(event->key()))
        return;
    QWidget::keyPressEvent(event);
}

void AlarmWindow::keyReleaseEvent(QKeyEvent* event)
{
    if (BlocksKey(*event))
        return;
    QWidget::keyReleaseEvent(event);
}

void AlarmWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Topmost again on every activation, in case something took the state away meanwhile.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Desktop::Instance().SetTopmost(this);
}

void AlarmWindow::closeEvent(QCloseEvent* event)
{
    // Still in the window list: the user closed it. The program's own unload takes it off the list first.
    if (Forms::IsFormLoaded(this)) {
        ClosedByUser();
        Forms::Unload(this);
    }
    Unload();
    event->accept();
}

void AlarmWindow::Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_alertTimer->stop();
    // The style caches this window's button drawings under its palette, which no later window shares: the
    // entries would only pile up, one set per alarm.
    QPixmapCache::clear();
    OnUnload();
    emit Unloaded();
}

namespace {
// After an alarm has taken the spare, late enough not to hold up the window's first paint.
constexpr int kRebuildMs = 1000;
} // namespace

SpareWindow::SpareWindow(std::function<AlarmWindow*()> build) : m_build(std::move(build)) {}

void SpareWindow::Build()
{
    if (m_spare || Globals::IsEnding)
        return;
    m_spare = m_build();
}

AlarmWindow* SpareWindow::Take()
{
    AlarmWindow* spare = m_spare;
    if (!spare)
        return nullptr;
    m_spare.clear();
    spare->Arm();
    if (!m_rebuild) {
        m_rebuild = new QTimer(QCoreApplication::instance());
        m_rebuild->setSingleShot(true);
        QObject::connect(m_rebuild, &QTimer::timeout, [this] { Build(); });
    }
    m_rebuild->start(kRebuildMs);
    QObject::connect(spare, &AlarmWindow::Unloaded, m_rebuild, [timer = m_rebuild] { timer->start(0); });
    return spare;
}
