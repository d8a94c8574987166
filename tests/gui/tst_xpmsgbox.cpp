#include "core/Translations.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
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
    int dpi = 96;
    bool wrapped = false;
    QRect label;
    QMap<QString, QRect> buttonGeometry;
    QSize window;
    bool modal = false;
    QWidget* parent = nullptr;
};

Seen Observe(XPMsgBox& box)
{
    Seen s;
    s.title = box.windowTitle();
    auto* label = box.findChild<QLabel*>("msgtextlabel");
    s.text = label->text();
    s.wrapped = label->wordWrap();
    s.label = label->geometry();
    for (const QString& n : ButtonNames) {
        auto* b = box.findChild<QPushButton*>(n);
        if (!b->isVisible())
            continue;
        s.buttons << QString("%1=%2=%3").arg(n, b->text()).arg(b->property("tag").toInt());
        s.buttonGeometry.insert(n, b->geometry());
        if (b->isDefault())
            s.defaultButton += n;
    }
    for (const QString& n : PictureNames) {
        if (box.findChild<QLabel*>(n)->isVisible())
            s.pictures << n;
    }
    s.focus = box.focusWidget() ? box.focusWidget()->objectName() : QString();
    s.pressed = box.property("pressed").toInt();
    s.dpi = box.logicalDpiX();
    s.window = box.size();
    s.modal = box.isModal();
    s.parent = box.parentWidget();
    return s;
}

// Shows one box, records what it looked like and answers with `answer`.
short Answer(const QString& prompt, int& style, const QString& title, int answer, Seen* seen = nullptr,
             QWidget* owner = nullptr)
{
    XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
        if (seen)
            *seen = Observe(box);
        return answer;
    });
    return ShowXPMessage(prompt, style, title, owner);
}

int Px(int twips, int dpi)
{
    return XPMsgBox::TwipsToPixels(twips, dpi);
}

} // namespace

class TestXPMsgBox : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { XPMsgBox::SetTestResponder(nullptr); }

    void layoutArithmetic()
    {
        for (qreal dpi : {96.0, 144.0}) {
            const auto px = [dpi](int t) { return XPMsgBox::TwipsToPixels(t, dpi); };
            XPMsgBox::LayoutInput in;
            in.dpi = dpi;
            in.labelSize = QSize(px(3000), 20);
            in.heightForWidth = [](int) { return 999; };
            in.buttonSize = QSize(px(1215), px(375));
            in.buttonCount = 2;
            XPMsgBox::Layout l = XPMsgBox::ComputeLayout(in);
            QVERIFY(!l.wrapped);
            QCOMPARE(l.label, QRect(px(960), px(240), px(3000), 20));
            QCOMPARE(l.window.width(), px(960) + px(3000) + px(300));
            QCOMPARE(l.buttons[0].top(), px(240) + 20 + px(520));
            QCOMPARE(l.window.height(), l.buttons[0].top() + px(375) + px(300));
            QCOMPARE(l.buttons[1].left() - l.buttons[0].right() - 1, px(225));
            const int row = l.buttons[1].right() + 1 - l.buttons[0].left();
            QVERIFY(qAbs(l.buttons[0].left() - (l.window.width() - row - l.buttons[0].left())) <= 1);

            // Just above the limit: fixed width and the wrapped height.
            in.labelSize = QSize(px(11000) + 1, 20);
            l = XPMsgBox::ComputeLayout(in);
            QVERIFY(l.wrapped);
            QCOMPARE(l.label.size(), QSize(px(10000), 999));
            in.labelSize = QSize(px(11000), 20);
            QVERIFY(!XPMsgBox::ComputeLayout(in).wrapped);

            // A row wider than the text widens the window to row + a gap on each side.
            in.labelSize = QSize(5, 20);
            in.buttonCount = 4;
            l = XPMsgBox::ComputeLayout(in);
            QCOMPARE(l.window.width(), 4 * px(1215) + 5 * px(225));
            QCOMPARE(l.buttons.first().left(), px(225));
        }
    }

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
        QTest::newRow("48, own title") << 48 << "tavinor" << "tavinor" << QStringList{"picachtung"} << ok << "links"
            << 0;
        QTest::newRow("64") << 64 << "" << "Info" << QStringList{"picinfo"} << ok << "links" << 0;
        QTest::newRow("stop ok-cancel") << 17 << "" << "Stop" << QStringList{"picstop"}
            << QStringList{"links=OK=1", "rechts=Abbrechen=2"} << "links" << 1;
        QTest::newRow("abort retry ignore") << 2 << "" << "" << none
            << QStringList{"links=Abbrechen=3", "mitte=Wiederholen=4", "rechts=Ignorieren=5"} << "links" << 2;
        QTest::newRow("second default") << 256 + 3 << "" << "" << none << yesNoCancel << "mitte" << 3;
        QTest::newRow("retry cancel, third default") << 512 + 5 << "" << "" << none
            << QStringList{"links=Wiederholen=4", "rechts=Abbrechen=2"} << "rechts" << 5;
        QTest::newRow("third default, only OK") << 512 << "" << "" << QStringList{"picLogo"} << ok << "links" << 0;
        QTest::newRow("help, 4th default") << 16384 + 768 + 3 << "" << "" << none
            << yesNoCancel + QStringList{"HelpButton=Hilfe=16384"} << "HelpButton" << 3;
        QTest::newRow("4th default without help") << 768 + 3 << "" << "" << none << yesNoCancel << "links" << 3;
        QTest::newRow("stop + buttons 7 count as OK") << 23 << "" << "Stop" << QStringList{"picstop"} << ok << "links"
            << 7;
        QTest::newRow("beyond the icons: no icon, no logo") << 96 << "" << "" << none << ok << "links" << 96;
        QTest::newRow("negative") << -1 << "" << "" << none << ok << "links" << -1;
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

        // The shown box is laid out as computed: buttons below the text, the window ends below the buttons.
        const QRect first = seen.buttonGeometry.first();
        QCOMPARE(first.top(), seen.label.bottom() + 1 + Px(520, seen.dpi));
        QCOMPARE(seen.window.height(), first.bottom() + 1 + Px(300, seen.dpi));
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

    void returnsPressedButton_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("answer");
        QTest::newRow("OK") << 0 << 1;
        QTest::newRow("right: cancel") << 1 << 2;
        QTest::newRow("middle: retry") << 2 << 4;
        QTest::newRow("no") << 292 << 7;
        QTest::newRow("help") << 16384 + 4 << 16384;
        QTest::newRow("closed without a button") << 292 << -1;
    }

    void returnsPressedButton()
    {
        QFETCH(int, style);
        QFETCH(int, answer);
        QCOMPARE(int(Answer("Frage?", style, QString(), answer)), answer);
    }

    void longLineWrapsShortTextDoesNot()
    {
        Seen shortText, twoLines, longLine;
        int style = 0;
        Answer("Kurz", style, QString(), 1, &shortText);
        QVERIFY(!shortText.wrapped);

        style = 0;
        Answer("Kurz\r\nZweite Zeile", style, QString(), 1, &twoLines);
        QCOMPARE(twoLines.text, QString("Kurz\nZweite Zeile"));
        QVERIFY(twoLines.label.height() > shortText.label.height());
        QVERIFY(!twoLines.wrapped);

        QString words;
        while (words.size() < 2000)
            words += "Ein langer Satz ohne Zeilenumbruch, ";
        style = 48;
        Answer(words, style, "tavinor", 1, &longLine);
        QVERIFY(longLine.wrapped);
        QCOMPARE(longLine.label.width(), Px(10000, longLine.dpi));
        QVERIFY(longLine.label.height() > 3 * shortText.label.height());

        // Markup in a message is shown as it is.
        Seen markup;
        style = 0;
        Answer("<b>fett</b>", style, QString(), 1, &markup);
        QCOMPARE(markup.text, QString("<b>fett</b>"));
    }

    void ownerIsMainWindowAndCursorIsRestored()
    {
        QWidget main;
        main.setObjectName("frmMain");
        Forms::Register(&main);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QApplication::setOverrideCursor(Qt::BusyCursor);

        bool cursorRestored = false;
        QWidget* listed = nullptr;
        Seen seen;
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            seen = Observe(box);
            cursorRestored = QApplication::overrideCursor() == nullptr;
            listed = Forms::Find("XPMsgBox");
            return 1;
        });
        int style = 0;
        QCOMPARE(int(ShowXPMessage("Hallo", style, QString())), 1);
        QCOMPARE(seen.parent, &main);
        QVERIFY(seen.modal);
        QVERIFY(cursorRestored);
        QVERIFY(listed != nullptr);
        QVERIFY(!Forms::IsFormLoaded("XPMsgBox")); // gone from the window list once answered

        // An explicit owner wins over the main window.
        QWidget other;
        style = 0;
        Answer("Hallo", style, QString(), 1, &seen, &other);
        QCOMPARE(seen.parent, &other);
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

    void ownerDeletedDuringWaitReturnsMinusOne()
    {
        auto* owner = new QWidget;
        QPointer<QWidget> guard(owner);
        XPMsgBox::SetTestResponder([&](XPMsgBox&) {
            QTimer::singleShot(0, qApp, [&] { delete guard.data(); });
            return 0; // leave the box open: the owner's end takes it along
        });
        int style = 4;
        QCOMPARE(int(ShowXPMessage("Frage?", style, QString(), owner)), -1);
        QVERIFY(guard.isNull());
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
