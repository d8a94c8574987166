#include "core/Translations.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace {

// Caption, visible pictures and buttons as "name=caption=tag", "*" for the focus and one for the default.
QStringList Observe(XPMsgBox& box)
{
    QStringList seen{box.windowTitle()};
    for (const char* n : {"picfrage", "picachtung", "picinfo", "picstop", "picLogo"}) {
        if (box.findChild<QLabel*>(n)->isVisible())
            seen << n;
    }
    for (const char* n : {"links", "mitte", "rechts", "HelpButton"}) {
        auto* b = box.findChild<QPushButton*>(n);
        if (b->isVisible())
            seen << QString("%1=%2=%3").arg(n, b->text()).arg(b->property("tag").toInt()) +
                        (box.focusWidget() == b ? "*" : "") + (b->isDefault() ? "*" : "");
    }
    return seen;
}

} // namespace

class TestXPMsgBox : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { XPMsgBox::SetTestResponder(nullptr); }

    // The style as the shown box decodes it (Enter presses the focused button), and what is left of it.
    void shownBoxMatchesStyle_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("remainder");
        // clang-format off
        QTest::newRow("plain, no title") << 0 << "" << QStringList{"", "picLogo", "links=OK=1**"} << 0;
        QTest::newRow("end question 292") << 292 << "" << QStringList{"Info", "picfrage", "links=Ja=6", "rechts=Nein=7**"} << 4;
        QTest::newRow("second default") << 256 + 3 << "" << QStringList{"", "links=Ja=6", "mitte=Nein=7**", "rechts=Abbrechen=2"} << 3;
        QTest::newRow("help, 4th default") << 16384 + 768 + 3 << ""
            << QStringList{"", "links=Ja=6", "mitte=Nein=7", "rechts=Abbrechen=2", "HelpButton=Hilfe=16384**"} << 3;
        QTest::newRow("stop + buttons 7 count as OK") << 23 << "" << QStringList{"Stop", "picstop", "links=OK=1**"} << 7;
        QTest::newRow("control characters in the title") << 48 << "tav\r\ninor\x01"
            << QStringList{"tav  inor ", "picachtung", "links=OK=1**"} << 0;
        // clang-format on
    }

    void shownBoxMatchesStyle()
    {
        QFETCH(int, style);
        QFETCH(QString, title);
        QStringList seen;
        XPMsgBox::SetTestResponder([&](XPMsgBox& box) {
            seen = Observe(box);
            return -1;
        });
        QCOMPARE(int(ShowXPMessage("Nachricht", style, title)), -1);
        QTEST(seen, "shown");
        QTEST(style, "remainder");
    }

    // On a German system Qt's own texts (file dialogs, standard buttons) are German.
    void qtTranslation()
    {
        QVERIFY(!Translations::InstallQt(QLocale(QLocale::English, QLocale::UnitedStates)));
        QVERIFY(Translations::InstallQt(QLocale(QLocale::German, QLocale::Germany)));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Suchen in:"));
    }

    // An alarm unloads every other window while the question is open; the answer the responder then gives
    // must not reach the unloaded box.
    void unloadDuringWaitReturnsMinusOne()
    {
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
};

QTEST_MAIN(TestXPMsgBox)
#include "tst_xpmsgbox.moc"
