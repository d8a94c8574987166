#include "cli/AlarmSocket.h"
#include "cli/CommandLine.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

// The options of the command line, and who may raise an alarm through the local socket.
class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse()
    {
        using A = CommandLine::Action;
        const std::pair<QStringList, A> rows[] = {
            {{}, A::Run},
            {{"--alarm"}, A::Alarm},
            {{"--headless"}, A::Headless},
            {{"--help"}, A::Help},
            {{"-h"}, A::Help},
            {{"--version"}, A::Version},
            {{"--alarm", "--help"}, A::Help},
            {{"--version", "--headless"}, A::Version},
            {{"--alarm", "--headless"}, A::Error},
            {{"--alarn"}, A::Error},
            {{"alarm"}, A::Error},
        };
        for (const auto& [args, action] : rows) {
            const CommandLine::Result r = CommandLine::Parse(args);
            QVERIFY2(r.action == action, qPrintable(args.join(' ')));
            QVERIFY2(r.error.isEmpty() == (r.action != A::Error), qPrintable(args.join(' ')));
        }
    }

    // Only the user who runs the program raises through its socket: another user is stopped by the folder's
    // rights (cannot connect: 2), and by the program's check of the caller where the rights were opened
    // (refused: 1).
    void onlyThisUserRaises_data()
    {
        QTest::addColumn<uint>("uid");
        QTest::addColumn<bool>("openRights");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("raised");
        QTest::newRow("same user") << uint(::geteuid()) << false << 0 << 1;
        QTest::newRow("other user") << 65534u << false << 2 << 0;
        QTest::newRow("other user, rights opened") << 65534u << true << 1 << 0;
    }
    void onlyThisUserRaises()
    {
        QFETCH(uint, uid);
        QFETCH(bool, openRights);
        if (uid != ::geteuid() && ::geteuid() != 0)
            QSKIP("acting as another user needs root");
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const QString path = AlarmSocket::Path(QStringLiteral("/opt/tavinor"));
        int count = 0;
        AlarmSocketServer server([&count] {
            ++count;
            return QString();
        });
        QVERIFY(server.Listen(path));
        if (openRights) {
            ::chmod(QFile::encodeName(runtime.path()).constData(), 0777);
            ::chmod(QFile::encodeName(path).constData(), 0777);
        }
        sockaddr_un addr{AF_UNIX, {}};
        qstrncpy(addr.sun_path, QFile::encodeName(path).constData(), sizeof addr.sun_path);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            // Only plain system calls after fork() in a process with threads.
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::setuid(uid) != 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
                ::_exit(2);
            char reply[3] = {};
            if (::write(fd, "ALARM\n", 6) != 6)
                ::_exit(3);
            ::_exit(::recv(fd, reply, 3, MSG_WAITALL) == 3 && std::memcmp(reply, "OK\n", 3) == 0 ? 0 : 1);
        }
        int status = 0;
        bool reaped = false; // the macro evaluates its condition once more at the end
        QTRY_VERIFY_WITH_TIMEOUT(reaped || (reaped = ::waitpid(pid, &status, WNOHANG) == pid), 20000);
        QVERIFY(WIFEXITED(status));
        QTEST(WEXITSTATUS(status), "exitCode");
        QTEST(count, "raised");
        qunsetenv("XDG_RUNTIME_DIR");
    }
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
