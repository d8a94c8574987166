#include "platform/Desktop.h"
#include "platform/DesktopX11.h"
#include "ui/ForceFore.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <cstdlib>
#include <xcb/xcb.h>

// Needs a real X display with a window manager. Run offscreen (as ctest does) it starts its own Xvfb and
// openbox and runs itself there; without those programs it reports itself skipped.
namespace {

// Starts Xvfb on a free display number and openbox on it, runs this test there, and ends both again.
// -1 when no display could be had.
int RunOnOwnDisplay(const QStringList& args)
{
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    const QString openbox = QStandardPaths::findExecutable("openbox");
    if (xvfb.isEmpty() || openbox.isEmpty())
        return -1;
    for (int n = 150; n < 250; ++n) {
        if (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) || QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
            continue;
        const QString display = QString(":%1").arg(n);
        QProcess server;
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(xvfb, {display, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
        if (!server.waitForStarted())
            return -1;
        QDeadlineTimer up(10000);
        while (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) && server.state() == QProcess::Running &&
               !up.hasExpired())
            QThread::msleep(50);
        if (server.state() != QProcess::Running)
            continue; // taken meanwhile by somebody else
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        QProcess wm;
        wm.setProcessEnvironment(env);
        wm.start(openbox, {"--sm-disable"});
        wm.waitForStarted();
        QProcess inner;
        env.insert("TAVINOR_X11_INNER", "1");
        inner.setProcessEnvironment(env);
        inner.setProcessChannelMode(QProcess::ForwardedChannels);
        inner.start(QCoreApplication::applicationFilePath(), args);
        inner.waitForFinished(100000);
        const int rc = inner.exitStatus() == QProcess::NormalExit ? inner.exitCode() : 1;
        wm.terminate();
        wm.waitForFinished(3000);
        server.terminate();
        server.waitForFinished(3000);
        return rc;
    }
    return -1;
}

// The first 32-bit item of a window property, 0 when there is none.
quint32 First32(quint32 window, const QByteArray& name)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(name.size()), name.constData()), nullptr);
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr);
    quint32 value = 0;
    if (reply && xcb_get_property_value_length(reply) >= 4)
        value = *static_cast<const quint32*>(xcb_get_property_value(reply));
    std::free(reply);
    std::free(atom);
    return value;
}

// WM_STATE of a window: 1 normal, 3 iconic, 0 none.
int WmState(quint32 window)
{
    return int(First32(window, "WM_STATE"));
}

} // namespace

class tst_DesktopX11 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X display with a window manager, and Xvfb or openbox is missing");
        QVERIFY(DesktopX11::Instance());
        QCOMPARE(Desktop::Instance().Name(), QStringLiteral("x11"));
        QTRY_VERIFY2_WITH_TIMEOUT(DesktopX11::Instance()->HasWindowManager(), "no window manager on this display",
                                  10000);
    }

    // Another program's window is iconified, ours are left alone.
    void minimizeAllIconifiesOtherPrograms()
    {
        QProcess other;
        other.setProgram(QCoreApplication::applicationFilePath());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TAVINOR_X11_OTHER", "1");
        other.setProcessEnvironment(env);
        other.start();
        QVERIFY(other.waitForStarted());
        QWidget mine;
        mine.setWindowTitle("mine");
        mine.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mine));
        const auto mineId = quint32(mine.winId());
        quint32 otherId = 0;
        QTRY_VERIFY_WITH_TIMEOUT((otherId = findOther(quint32(other.processId()))) != 0, 10000);
        QTRY_COMPARE(WmState(otherId), 1);

        QVERIFY(ForceFore::MinimizeAll());
        QTRY_COMPARE_WITH_TIMEOUT(WmState(otherId), 3, 5000);
        QCOMPARE(WmState(mineId), 1);
        other.kill();
        other.waitForFinished();
    }

    // A minimised window comes back restored and active; asking again for the active window asks nothing.
    void forceForegroundRestoresAndActivates()
    {
        QWidget front;
        front.setWindowTitle("front");
        QWidget w;
        w.setWindowTitle("alarm");
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.showMinimized();
        QTRY_COMPARE(WmState(quint32(w.winId())), 3);
        front.show();
        QVERIFY(QTest::qWaitForWindowExposed(&front));

        QVERIFY(ForceFore::ForceForeground(&w));
        QTRY_COMPARE_WITH_TIMEOUT(Desktop::Instance().ActiveWindow(), quint64(w.winId()), 5000);
        QCOMPARE(WmState(quint32(w.winId())), 1);
        QVERIFY(ForceFore::ForceForeground(&w));
    }

private:
    // The managed window of process `pid`.
    quint32 findOther(quint32 pid)
    {
        for (quint32 id : DesktopX11::Instance()->ClientList()) {
            if (First32(id, "_NET_WM_PID") == pid)
                return id;
        }
        return 0;
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("TAVINOR_X11_OTHER")) {
        // The "other program": one plain window until it is killed.
        QApplication app(argc, argv);
        QWidget w;
        w.setWindowTitle("other program");
        w.resize(200, 150);
        w.show();
        return app.exec();
    }
    if (!qEnvironmentVariableIsSet("TAVINOR_X11_INNER") && qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        QCoreApplication core(argc, argv);
        const int rc = RunOnOwnDisplay(core.arguments().mid(1));
        if (rc >= 0)
            return rc;
    }
    QApplication app(argc, argv);
    tst_DesktopX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopx11.moc"
