#include "core/ErrorObject.h"
#include "ui/ErrorDisplay.h"
#include "ui/XPMsgBox.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

struct Shown
{
    int boxes = 0;
    QString title;
    QString text;
    bool warningIcon = false;
    QStringList buttons;
    bool cursorRestored = false;
};

// Runs `show` with a responder that records the box and closes it.
template <typename F> Shown Capture(F show)
{
    Shown s;
    XPMsgBox::SetTestResponder([&s](XPMsgBox& box) {
        ++s.boxes;
        s.title = box.windowTitle();
        s.text = box.findChild<QLabel*>("msgtextlabel")->text();
        s.warningIcon = box.findChild<QLabel*>("picachtung")->isVisible();
        for (const char* n : {"links", "mitte", "rechts"}) {
            if (auto* b = box.findChild<QPushButton*>(n); b->isVisible())
                s.buttons << b->text();
        }
        s.cursorRestored = QApplication::overrideCursor() == nullptr;
        return -1;
    });
    show();
    XPMsgBox::SetTestResponder(nullptr);
    return s;
}

} // namespace

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
        // The caller's style and title give way to the warning box.
        Shown s = Capture([&e] { Functions::ShowErrorMessage("Beim Laden", 4, "Eigener Titel", &e); });
        QCOMPARE(s.boxes, 1);
        QCOMPARE(s.title, QString("tavinor"));
        QCOMPARE(s.text, QString("Folgender Fehler ist aufgetreten:\nBeim Laden\n53 - Datei nicht gefunden"));
        QVERIFY(s.warningIcon);
        QCOMPARE(s.buttons, QStringList{"OK"});
        QVERIFY(s.cursorRestored);
    }
};

QTEST_MAIN(TestErrorObject)
#include "tst_errorobject.moc"
