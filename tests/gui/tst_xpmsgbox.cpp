#include "admin/XPMsgBox.h"
#include "core/Forms.h"

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
    int focusCode = -2;
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
    s.focusCode = box.property("focus").toInt();
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

    void decodeStyle_data();
    void decodeStyle();
    void layoutArithmetic();
    void focusTargets();

    void shownBoxMatchesStyle_data();
    void shownBoxMatchesStyle();
    void returnsPressedButton_data();
    void returnsPressedButton();
    void focusOnDefaultButton_data();
    void focusOnDefaultButton();
    void longLineWrapsShortTextDoesNot();
    void ownerIsMainWindowAndCursorIsRestored();
    void unloadDuringWaitReturnsMinusOne();
    void ownerDeletedDuringWaitReturnsMinusOne();
    void nestedCallGetsItsOwnBox();
};

void TestXPMsgBox::decodeStyle_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<bool>("help");
    QTest::addColumn<int>("focus");
    QTest::addColumn<int>("icon");
    QTest::addColumn<bool>("logo");
    QTest::addColumn<QString>("defaultTitle");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<int>("remainder");

    using I = XPMsgBox::Icon;
    QTest::newRow("plain") << 0 << false << 0 << int(I::None) << true << "" << QStringList{"OK=1", "", ""} << 0;
    QTest::newRow("end question 292") << 292 << false << 256 << int(I::Question) << false << "Info"
                                      << QStringList{"Ja=6", "", "Nein=7"} << 4;
    QTest::newRow("stop ok-cancel") << 17 << false << 0 << int(I::Stop) << false << "Stop"
                                    << QStringList{"OK=1", "", "Abbrechen=2"} << 1;
    QTest::newRow("abort retry ignore") << 2 << false << 0 << int(I::None) << false << ""
                                        << QStringList{"Abbrechen=3", "Wiederholen=4", "Ignorieren=5"} << 2;
    QTest::newRow("retry cancel, 3rd default") << 512 + 5 << false << 512 << int(I::None) << false << ""
                                               << QStringList{"Wiederholen=4", "", "Abbrechen=2"} << 5;
    QTest::newRow("help, 4th default, yes-no-cancel") << 16384 + 768 + 3 << true << 768 << int(I::None) << false << ""
                                                      << QStringList{"Ja=6", "Nein=7", "Abbrechen=2"} << 3;
    QTest::newRow("buttons 6 count as OK")
        << 6 << false << 0 << int(I::None) << false << "" << QStringList{"OK=1", "", ""} << 6;
    QTest::newRow("stop + buttons 7") << 23 << false << 0 << int(I::Stop) << false << "Stop"
                                      << QStringList{"OK=1", "", ""} << 7;
    QTest::newRow("beyond the icons: no icon, no logo")
        << 96 << false << 0 << int(I::None) << false << "" << QStringList{"OK=1", "", ""} << 96;
    QTest::newRow("negative") << -1 << false << 0 << int(I::None) << false << "" << QStringList{"OK=1", "", ""} << -1;
}

void TestXPMsgBox::decodeStyle()
{
    QFETCH(int, style);
    const XPMsgBox::Style s = XPMsgBox::DecodeStyle(style);
    QTEST(s.help, "help");
    QTEST(s.focus, "focus");
    QTEST(int(s.icon), "icon");
    QTEST(s.logo, "logo");
    QTEST(s.defaultTitle, "defaultTitle");
    QStringList buttons;
    for (const auto& b : s.buttons)
        buttons << (b.tag ? QString("%1=%2").arg(b.caption).arg(b.tag) : QString());
    QTEST(buttons, "buttons");
    QTEST(s.remainder, "remainder");
}

void TestXPMsgBox::layoutArithmetic()
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
        QCOMPARE(l.buttons.size(), 2);
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
        QCOMPARE(l.buttons[0].top(), px(240) + 999 + px(520));
        in.labelSize = QSize(px(11000), 20);
        QVERIFY(!XPMsgBox::ComputeLayout(in).wrapped);

        // A row wider than the text widens the window to row + a gap on each side.
        in.labelSize = QSize(5, 20);
        in.buttonCount = 4;
        l = XPMsgBox::ComputeLayout(in);
        const int wideRow = 4 * px(1215) + 3 * px(225);
        QCOMPARE(l.window.width(), wideRow + 2 * px(225));
        QCOMPARE(l.buttons.first().left(), px(225));
        QCOMPARE(l.buttons.last().right() + 1, l.window.width() - px(225));
    }
}

void TestXPMsgBox::focusTargets()
{
    QCOMPARE(XPMsgBox::FocusTarget(0, true, true, true), "links");
    QCOMPARE(XPMsgBox::FocusTarget(256, true, true, false), "mitte");
    QCOMPARE(XPMsgBox::FocusTarget(256, false, true, false), "rechts");
    QCOMPARE(XPMsgBox::FocusTarget(256, false, false, true), "links");
    QCOMPARE(XPMsgBox::FocusTarget(512, true, true, false), "rechts");
    QCOMPARE(XPMsgBox::FocusTarget(512, true, false, false), "mitte");
    QCOMPARE(XPMsgBox::FocusTarget(512, false, false, true), "links");
    QCOMPARE(XPMsgBox::FocusTarget(768, true, true, true), "HelpButton");
    QCOMPARE(XPMsgBox::FocusTarget(768, true, true, false), "links");
}

void TestXPMsgBox::shownBoxMatchesStyle_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("pictures");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<int>("remainder");

    QTest::newRow("plain, no title") << 0 << ""
                                     << "" << QStringList{"picLogo"} << QStringList{"links=OK=1"} << 0;
    QTest::newRow("292") << 292 << ""
                         << "Info" << QStringList{"picfrage"} << QStringList{"links=Ja=6", "rechts=Nein=7"} << 4;
    QTest::newRow("48 tavinor") << 48 << "tavinor"
                                << "tavinor" << QStringList{"picachtung"} << QStringList{"links=OK=1"} << 0;
    QTest::newRow("64") << 64 << ""
                        << "Info" << QStringList{"picinfo"} << QStringList{"links=OK=1"} << 0;
    QTest::newRow("16") << 16 << ""
                        << "Stop" << QStringList{"picstop"} << QStringList{"links=OK=1"} << 0;
    QTest::newRow("buttons 6") << 6 << "t"
                               << "t" << QStringList{} << QStringList{"links=OK=1"} << 6;
    QTest::newRow("help + 768 + 3") << 16384 + 768 + 3 << ""
                                    << "" << QStringList{}
                                    << QStringList{"links=Ja=6", "mitte=Nein=7", "rechts=Abbrechen=2",
                                                   "HelpButton=Hilfe=16384"}
                                    << 3;
}

void TestXPMsgBox::shownBoxMatchesStyle()
{
    QFETCH(int, style);
    QFETCH(QString, title);
    Seen seen;
    Answer("Nachricht", style, title, -1, &seen);
    QTEST(seen.title, "caption");
    QTEST(seen.pictures, "pictures");
    QTEST(seen.buttons, "buttons");
    QTEST(style, "remainder");
    QCOMPARE(seen.text, QString("Nachricht"));
    QCOMPARE(seen.pressed, -1);

    // The row is centred and evenly spaced, every button the same size.
    const QList<QRect> row = seen.buttonGeometry.values();
    int left = seen.window.width(), right = 0;
    for (const QRect& r : row) {
        QCOMPARE(r.size(), row.first().size());
        QCOMPARE(r.top(), seen.label.bottom() + 1 + Px(520, seen.dpi));
        left = qMin(left, r.left());
        right = qMax(right, r.right() + 1);
    }
    QVERIFY(qAbs(left - (seen.window.width() - right)) <= 1);
    QCOMPARE(seen.window.height(), row.first().bottom() + 1 + Px(300, seen.dpi));
}

void TestXPMsgBox::returnsPressedButton_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("result");
    QTest::newRow("OK") << 0 << 1 << 1;
    QTest::newRow("OK/Abbrechen: cancel") << 1 << 2 << 2;
    QTest::newRow("abort") << 2 << 3 << 3;
    QTest::newRow("retry") << 2 << 4 << 4;
    QTest::newRow("ignore") << 2 << 5 << 5;
    QTest::newRow("yes") << 3 << 6 << 6;
    QTest::newRow("no") << 292 << 7 << 7;
    QTest::newRow("retry of set 5") << 5 << 4 << 4;
    QTest::newRow("help") << 16384 + 4 << 16384 << 16384;
    QTest::newRow("closed without a button") << 292 << -1 << -1;
}

void TestXPMsgBox::returnsPressedButton()
{
    QFETCH(int, style);
    QFETCH(int, answer);
    QFETCH(int, result);
    QCOMPARE(int(Answer("Frage?", style, QString(), answer)), result);
}

void TestXPMsgBox::focusOnDefaultButton_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("focus");
    QTest::newRow("first") << 3 << "links";
    QTest::newRow("second") << 256 + 3 << "mitte";
    QTest::newRow("second, no middle button") << 256 + 4 << "rechts";
    QTest::newRow("second, only OK") << 256 << "links";
    QTest::newRow("third") << 512 + 2 << "rechts";
    QTest::newRow("third, only OK") << 512 << "links";
    QTest::newRow("fourth = help") << 16384 + 768 + 1 << "HelpButton";
    QTest::newRow("fourth without help") << 768 + 3 << "links";
}

void TestXPMsgBox::focusOnDefaultButton()
{
    QFETCH(int, style);
    QFETCH(QString, focus);
    const int code = XPMsgBox::DecodeStyle(style).focus;
    Seen seen;
    Answer("Frage?", style, QString(), -1, &seen);
    QCOMPARE(seen.focus, focus);
    QCOMPARE(seen.defaultButton, focus); // Enter presses the same button
    QCOMPARE(seen.focusCode, code);
}

void TestXPMsgBox::longLineWrapsShortTextDoesNot()
{
    Seen shortText, twoLines, longLine;
    int style = 0;
    Answer("Kurz", style, QString(), 1, &shortText);
    QVERIFY(!shortText.wrapped);
    QVERIFY(shortText.label.width() < Px(11000, shortText.dpi));

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
    QCOMPARE(longLine.window.width(), longLine.label.right() + 1 + Px(300, longLine.dpi));
    QCOMPARE(longLine.buttonGeometry.value("links").top(), longLine.label.bottom() + 1 + Px(520, longLine.dpi));

    // Markup in a message is shown as it is.
    Seen markup;
    style = 0;
    Answer("<b>fett</b>", style, QString(), 1, &markup);
    QCOMPARE(markup.text, QString("<b>fett</b>"));
}

void TestXPMsgBox::ownerIsMainWindowAndCursorIsRestored()
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

void TestXPMsgBox::unloadDuringWaitReturnsMinusOne()
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

void TestXPMsgBox::ownerDeletedDuringWaitReturnsMinusOne()
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

void TestXPMsgBox::nestedCallGetsItsOwnBox()
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

QTEST_MAIN(TestXPMsgBox)
#include "tst_xpmsgbox.moc"
