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
    void baseFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("base");
        QTest::newRow("plain") << "/opt/tavinor"
                               << "/opt/tavinor";
        QTest::newRow("server folder") << "/opt/tavinor/Server"
                                       << "/opt/tavinor";
        QTest::newRow("client folder") << "/opt/tavinor/Client"
                                       << "/opt/tavinor";
        QTest::newRow("both, inside") << "/srv/Server/x/Client/bin"
                                      << "/srv/x/bin";
        QTest::newRow("case matters") << "/opt/tavinor/server"
                                      << "/opt/tavinor/server";
        QTest::newRow("prefix of a longer name") << "/opt/Servers"
                                                 << "/opts";
    }
    void baseFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, base);
        QCOMPARE(Functions::BaseFolder(folder), base);
    }

    void searchPathAppendsBaseAndControls()
    {
        QCOMPARE(Functions::ExtendedSearchPath(QStringLiteral("/usr/bin:/bin"), QStringLiteral("/opt/t/Client")),
                 QStringLiteral("/usr/bin:/bin:/opt/t:/opt/t/System/Controls"));
    }

    void trayTipIsCutAt63()
    {
        const QString long70(70, QLatin1Char('x'));
        QCOMPARE(SysTrayUtil::TrayTipText(long70).size(), 63);
        QCOMPARE(SysTrayUtil::TrayTipText(QStringLiteral("tavinor Client")), QStringLiteral("tavinor Client"));
        QCOMPARE(SysTrayUtil::TrayTipText(QString(63, QLatin1Char('y'))).size(), 63);
    }

    // An XEmbed host: double click shows the window, Qt opens the menu itself, a single click does nothing.
    // A StatusNotifierItem host sends no double click: its left click shows the window, its right click
    // wants the menu from the program.
    void trayClicks_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("embedded");
        QTest::addColumn<int>("action");
        using A = SysTrayUtil::TrayAction;
        QTest::newRow("XEmbed double") << int(QSystemTrayIcon::DoubleClick) << true << int(A::ShowWindow);
        QTest::newRow("XEmbed left") << int(QSystemTrayIcon::Trigger) << true << int(A::None);
        QTest::newRow("XEmbed right") << int(QSystemTrayIcon::Context) << true << int(A::None);
        QTest::newRow("SNI left") << int(QSystemTrayIcon::Trigger) << false << int(A::ShowWindow);
        QTest::newRow("SNI right") << int(QSystemTrayIcon::Context) << false << int(A::ShowMenu);
        QTest::newRow("SNI middle") << int(QSystemTrayIcon::MiddleClick) << false << int(A::None);
    }
    void trayClicks()
    {
        QFETCH(int, reason);
        QFETCH(bool, embedded);
        QFETCH(int, action);
        QCOMPARE(int(SysTrayUtil::TrayMouseEvent(QSystemTrayIcon::ActivationReason(reason), embedded)), action);
    }

    void trayPicturesDiffer()
    {
        const QImage a = SysTrayUtil::TrayPicture(1).pixmap(22, 22).toImage();
        const QImage b = SysTrayUtil::TrayPicture(2).pixmap(22, 22).toImage();
        const QImage c = SysTrayUtil::TrayPicture(3).pixmap(22, 22).toImage();
        QCOMPARE(a.size(), QSize(22, 22));
        QVERIFY(a != b && b != c && a != c);
        // Opaque where the disc is: the picture is not an empty pixmap.
        QVERIFY(qAlpha(b.pixel(11, 3)) > 200);
        // Drawn once: every alarm window asks for it, and a fresh drawing each time would stay in Qt's cache.
        QCOMPARE(SysTrayUtil::TrayPicture(2).cacheKey(), SysTrayUtil::TrayPicture(2).cacheKey());
    }

    void hostNameShortForm()
    {
        QCOMPARE(System::ShortHostName(QStringLiteral("praxis-empfang-links-2.example.org")),
                 QStringLiteral("praxis-empfang-links-2"));
        QCOMPARE(System::ShortHostName(QStringLiteral("PC-015-LONGER-THAN-15")),
                 QStringLiteral("PC-015-LONGER-THAN-15"));
        QCOMPARE(System::ShortHostName(QStringLiteral(".odd")), QStringLiteral(".odd"));
        QVERIFY(!Functions::GetPCName().isEmpty());
        QVERIFY(!Functions::GetPCName().contains(QLatin1Char('.')));
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
            p.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
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
