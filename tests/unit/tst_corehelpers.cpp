#include "core/Functions.h"
#include "platform/Cp1252.h"
#include "platform/SingleInstance.h"
#include "platform/System.h"
#include "ui/SysTrayUtil.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class tst_CoreHelpers : public QObject
{
    Q_OBJECT
private slots:

    // An XEmbed host: double click shows the window, Qt opens the menu itself, a single click does nothing.
    // A StatusNotifierItem host sends no double click: its left click shows the window, its right click
    // wants the menu from the program.
    void trayClicks()
    {
        using A = SysTrayUtil::TrayAction;
        const struct
        {
            QSystemTrayIcon::ActivationReason reason;
            bool embedded;
            A action;
        } rows[] = {
            {QSystemTrayIcon::DoubleClick, true, A::ShowWindow}, {QSystemTrayIcon::Trigger, true, A::None},
            {QSystemTrayIcon::Context, true, A::None},           {QSystemTrayIcon::Trigger, false, A::ShowWindow},
            {QSystemTrayIcon::Context, false, A::ShowMenu},      {QSystemTrayIcon::MiddleClick, false, A::None},
        };
        for (const auto& r : rows)
            QVERIFY2(SysTrayUtil::TrayMouseEvent(r.reason, r.embedded) == r.action, r.embedded ? "XEmbed" : "SNI");
    }

    void cp1252RoundTrip()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QCOMPARE(Cp1252::Encode(Cp1252::Decode(all)), all);
        QCOMPARE(Cp1252::Decode(QByteArray("\x80\xF6\x9F")), QString::fromUtf8("€öŸ"));
        QCOMPARE(Cp1252::Encode(QString::fromUtf8("ausgelöst €")), QByteArray("ausgel\xF6st \x80"));
        QCOMPARE(Cp1252::Encode(QString::fromUtf8("Ω")), QByteArray("?"));
        QVERIFY(Cp1252::CanEncode(QString::fromUtf8("Praxis Süd € ?")));
        QVERIFY(!Cp1252::CanEncode(QString::fromUtf8("Łódź")));
    }

    // The lock is per folder and held by the process: a second process on the same folder is refused,
    // one on another folder is not, and the lock goes with the process.
    void singleInstancePerFolder()
    {
        QTemporaryDir a, b;
        const QString self = QCoreApplication::applicationFilePath();
        QVERIFY(SingleInstance::Acquire(a.path()));
        auto probe = [&](const QString& folder) {
            QProcess p;
            p.start(self, {QStringLiteral("-probe-lock"), folder});
            p.waitForFinished(20000);
            return p.exitCode();
        };
        QCOMPARE(probe(a.path()), 1);
        QCOMPARE(probe(b.path()), 0);
        QCOMPARE(probe(b.path()), 0);                        // the child's lock went with it
        QCOMPARE(probe(a.path() + QStringLiteral("/.")), 1); // another spelling of the same folder
        // The lock needs no file of its own: nothing is left in the folder.
        QVERIFY(QDir(a.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    }
};

int main(int argc, char* argv[])
{
    // Child mode for the lock test: try the lock for a folder, exit 0 when taken, 1 when refused.
    if (argc == 3 && qstrcmp(argv[1], "-probe-lock") == 0) {
        QCoreApplication app(argc, argv);
        return SingleInstance::Acquire(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    QApplication app(argc, argv);
    tst_CoreHelpers t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_corehelpers.moc"
