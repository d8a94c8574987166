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
        int boxes = 0;
        QStringList seen; // title, text, then the visible buttons
        bool warningIcon = false;
        bool cursorRestored = false;
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            ++boxes;
            seen << box.windowTitle() << box.findChild<QLabel*>("msgtextlabel")->text();
            for (const char* n : {"links", "mitte", "rechts"}) {
                if (auto* b = box.findChild<QPushButton*>(n); b->isVisible())
                    seen << b->text();
            }
            warningIcon = box.findChild<QLabel*>("picachtung")->isVisible();
            cursorRestored = QApplication::overrideCursor() == nullptr;
            return -1;
        });
        Functions::ShowErrorMessage("Beim Laden", 4, "Eigener Titel", &e);
        XPMsgBox::SetTestResponder(nullptr);
        QCOMPARE(boxes, 1);
        QCOMPARE(seen, QStringList({"tavinor",
                                    "Folgender Fehler ist aufgetreten:\nBeim Laden\n53 - Datei nicht gefunden", "OK"}));
        QVERIFY(warningIcon);
        QVERIFY(cursorRestored);
    }
};

QTEST_MAIN(TestErrorObject)
#include "tst_errorobject.moc"
