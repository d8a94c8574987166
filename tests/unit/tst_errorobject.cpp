#include "core/ErrorObject.h"
#include "ui/ErrorDisplay.h"
#include "ui/XPMsgBox.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

// The error record shown as a box: the warning box replaces the caller's style and title, and the busy cursor
// is gone while it is open.
class TestErrorObject : public QObject
{
    Q_OBJECT
private slots:
    void showWithRecord()
    {
        ErrorObject e;
        e.SetError(53, "Hooklib", "Datei nicht gefunden");
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QApplication::setOverrideCursor(Qt::BusyCursor);
        QStringList seen; // per box: title, text, the visible buttons, the warning icon, the cursor as it is
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            seen << box.windowTitle() << box.findChild<QLabel*>("msgtextlabel")->text();
            for (const char* n : {"links", "mitte", "rechts"}) {
                if (auto* b = box.findChild<QPushButton*>(n); b->isVisible())
                    seen << b->text();
            }
            seen << (box.findChild<QLabel*>("picachtung")->isVisible() ? "warning icon" : "no warning icon")
                 << (QApplication::overrideCursor() ? "busy cursor" : "normal cursor");
            return -1;
        });
        Functions::ShowErrorMessage("Beim Laden", 4, "Eigener Titel", &e);
        XPMsgBox::SetTestResponder(nullptr);
        QCOMPARE(seen,
                 QStringList({"tavinor", "Folgender Fehler ist aufgetreten:\nBeim Laden\n53 - Datei nicht gefunden",
                              "OK", "warning icon", "normal cursor"}));
    }
};

QTEST_MAIN(TestErrorObject)
#include "tst_errorobject.moc"
