#include "ui/Forms.h"

#include <QDialog>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace {
QList<QPointer<QWidget>>& List()
{
    static QList<QPointer<QWidget>> list;
    return list;
}

void Prune()
{
    List().removeIf([](const QPointer<QWidget>& p) { return p.isNull(); });
}
} // namespace

namespace Forms {

void Register(QWidget* form)
{
    Prune();
    if (!form || List().contains(form))
        return;
    List().append(form);
    QObject::connect(form, &QObject::destroyed, form, [] { Prune(); });
}

QList<QWidget*> Loaded()
{
    Prune();
    QList<QWidget*> out;
    for (const auto& p : List())
        out.append(p.data());
    return out;
}

QWidget* Find(const QString& name)
{
    for (QWidget* w : Loaded()) {
        if (w->objectName() == name)
            return w;
    }
    return nullptr;
}

bool IsFormLoaded(const QString& name)
{
    return Find(name) != nullptr;
}

bool IsFormLoaded(const QWidget* form)
{
    return form && Loaded().contains(const_cast<QWidget*>(form));
}

void Unload(QWidget* form)
{
    if (!form)
        return;
    List().removeAll(form);
    form->close();
    // A dialog may be inside its own exec() further up the stack: let that return before it goes.
    if (auto* dlg = qobject_cast<QDialog*>(form))
        dlg->reject();
    form->deleteLater();
}

void UnloadFormsExcept(const QString& names)
{
    const QStringList keep = names.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QWidget* w : Loaded()) {
        bool kept = false;
        for (const QString& k : keep)
            kept = kept || k.trimmed() == w->objectName();
        if (!kept)
            Unload(w);
    }
}

bool Activate(const QString& name)
{
    QWidget* open = Find(name);
    if (!open)
        return false;
    open->showNormal();
    open->raise();
    open->activateWindow();
    return true;
}

void Show(QDialog* form, bool modal)
{
    QWidget* owner = form->parentWidget();
    if ((!owner || !owner->isVisible()) && form->screen())
        form->move(form->screen()->availableGeometry().center() - form->rect().center());
    if (modal)
        form->exec(); // a window with WA_DeleteOnClose is gone on return
    else
        form->show();
}

void StyleTitle(QLabel* label)
{
    QFont big = label->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.5);
    label->setFont(big);
}

} // namespace Forms
