#include "core/Translations.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace {

const QStringList ButtonNames = {"links", "mitte", "rechts", "HelpButton"};
const QStringList PictureNames = {"picfrage", "picachtung", "picinfo", "picstop", "picLogo"};

// What a responder saw of a shown box.
struct Seen
{
    QString title;
    QString text;
    QStringList buttons;  // visible ones, "name=caption=tag"
    QStringList pictures; // visible ones
    QString focus;
    QString defaultButton;
    int pressed = -2;
};

Seen Observe(XPMsgBox& box)
{
    Seen s;
    s.title = box.windowTitle();
    auto* label = box.findChild<QLabel*>("msgtextlabel");
    s.text = label->text();
    for (const QString& n : ButtonNames) {
        auto* b = box.findChild<QPushButton*>(n);
        if (!b->isVisible())
            continue;
        s.buttons << QString("%1=%2=%3").arg(n, b->text()).arg(b->property("tag").toInt());
        if (b->isDefault())
            s.defaultButton += n;
    }
    for (const QString& n : PictureNames) {
        if (box.findChild<QLabel*>(n)->isVisible())
            s.pictures << n;
    }
    s.focus = box.focusWidget() ? box.focusWidget()->objectName() : QString();
    s.pressed = box.property("pressed").toInt();
    return s;
}

// Shows one box, records what it looked like and answers with `answer`.
short Answer(const QString& prompt, int& style, const QString& title, int answer, Seen* seen)
{
    XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
        if (seen)
            *seen = Observe(box);
        return answer;
    });
    return ShowXPMessage(prompt, style, title);
}

} // namespace

class TestXPMsgBox : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { XPMsgBox::SetTestResponder(nullptr); }

    // The style decoded as the shown box has it: caption, picture, buttons with their numbers, the focused
    // (and default) button, and what is left of the caller's style.
    void shownBoxMatchesStyle_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("pictures");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("remainder");

        const QStringList ok{"links=OK=1"};
        const QStringList yesNoCancel{"links=Ja=6", "mitte=Nein=7", "rechts=Abbrechen=2"};
        const QStringList none;
        // clang-format off
        QTest::newRow("plain, no title") << 0 << "" << "" << QStringList{"picLogo"} << ok << "links" << 0;
        QTest::newRow("end question 292") << 292 << "" << "Info" << QStringList{"picfrage"}
            << QStringList{"links=Ja=6", "rechts=Nein=7"} << "rechts" << 4;
        QTest::newRow("second default") << 256 + 3 << "" << "" << none << yesNoCancel << "mitte" << 3;
        QTest::newRow("help, 4th default") << 16384 + 768 + 3 << "" << "" << none
            << yesNoCancel + QStringList{"HelpButton=Hilfe=16384"} << "HelpButton" << 3;
        QTest::newRow("stop + buttons 7 count as OK") << 23 << "" << "Stop" << QStringList{"picstop"} << ok << "links"
            << 7;
        QTest::newRow("control characters in the title") << 48 << "tav\r\ninor\x01" << "tav  inor " << QStringList{"picachtung"}
            << ok << "links" << 0;
        // clang-format on
    }

    void shownBoxMatchesStyle()
    {
        QFETCH(int, style);
        QFETCH(QString, title);
        QFETCH(QString, focus);
        Seen seen;
        Answer("Nachricht", style, title, -1, &seen);
        QTEST(seen.title, "caption");
        QTEST(seen.pictures, "pictures");
        QTEST(seen.buttons, "buttons");
        QCOMPARE(seen.focus, focus);
        QCOMPARE(seen.defaultButton, focus); // Enter presses the same button
        QTEST(style, "remainder");
        QCOMPARE(seen.text, QString("Nachricht"));
        QCOMPARE(seen.pressed, -1);
    }

    // A box has no minimise or maximise button; on a German system Qt's own texts are German.
    void windowButtonsAndQtTranslation()
    {
        XPMsgBox box;
        QVERIFY(!(box.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!Translations::InstallQt(QLocale(QLocale::English, QLocale::UnitedStates)));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
        QVERIFY(Translations::InstallQt(QLocale(QLocale::German, QLocale::Germany)));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Suchen in:"));
    }

    void unloadDuringWaitReturnsMinusOne()
    {
        // An alarm unloads every other window while the question is open; the answer the responder then
        // gives must not reach the unloaded box.
        QPointer<XPMsgBox> shown;
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            shown = &box;
            Forms::UnloadFormsExcept("frmMain,frmAlarmPopup");
            return 6;
        });
        int style = 292;
        QCOMPARE(int(ShowXPMessage("Beenden?", style, QString())), -1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(shown.isNull());
    }

    void nestedCallGetsItsOwnBox()
    {
        int calls = 0;
        XPMsgBox* outer = nullptr;
        XPMsgBox* inner = nullptr;
        short innerResult = 0;
        QString innerText;
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            if (++calls == 1) {
                outer = &box;
                int style = 48;
                innerResult = ShowXPMessage("Verbindung verloren", style, "tavinor");
                return 7;
            }
            inner = &box;
            innerText = box.findChild<QLabel*>("msgtextlabel")->text();
            return 1;
        });
        int style = 292;
        QCOMPARE(int(ShowXPMessage("Beenden?", style, QString())), 7);
        QCOMPARE(calls, 2);
        QCOMPARE(int(innerResult), 1);
        QCOMPARE(innerText, QString("Verbindung verloren"));
        QVERIFY(outer && inner && outer != inner);
    }
};

QTEST_MAIN(TestXPMsgBox)
#include "tst_xpmsgbox.moc"
