#include "TestFolder.h"

#include "admin/OpenLink.h"
#include "admin/frmAbout.h"
#include "platform/SysInfo.h"
#include "ui/Forms.h"
#include "ui/XPMsgBox.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// The about window, its link and the system-information button.
class tst_frmAbout : public QObject
{
    Q_OBJECT

    QList<QUrl> m_opened;
    QStringList m_boxes; // "title|text" of every message box shown
    QByteArray m_path;

    static QString MakeProgram(const QTemporaryDir& dir, const QString& name, bool executable = true)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        // Leaves a mark beside itself, so a test can see that it really ran.
        f.write("#!/bin/sh\n/usr/bin/touch \"$0.ran\"\n");
        f.close();
        QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            p |= QFile::ExeOwner;
        f.setPermissions(p);
        return path;
    }

    frmAbout* OpenAbout()
    {
        frmAbout::ShowAbout(nullptr, false);
        return qobject_cast<frmAbout*>(Forms::Find(QStringLiteral("frmAbout")));
    }

private slots:
    void initTestCase() { m_path = qgetenv("PATH"); }

    void init()
    {
        m_opened.clear();
        m_boxes.clear();
        Functions::SetLinkOpenerForTests([this](const QUrl& url) { m_opened << url; });
        XPMsgBox::SetTestResponder([this](XPMsgBox& box) {
            auto* text = box.findChild<QLabel*>(QStringLiteral("msgtextlabel"));
            m_boxes << box.windowTitle() + QLatin1Char('|') + (text ? text->text() : QString());
            return 1;
        });
    }

    void cleanup()
    {
        for (QWidget* w : Forms::Loaded())
            delete w;
        Functions::SetLinkOpenerForTests(nullptr);
        XPMsgBox::SetTestResponder(nullptr);
        qputenv("PATH", m_path);
    }

    void windowContents()
    {
        frmAbout* form = OpenAbout();
        QVERIFY(form);
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), QStringLiteral("Version %1.%2.%3")
                                                                                     .arg(TAVINOR_VERSION_MAJOR)
                                                                                     .arg(TAVINOR_VERSION_MINOR)
                                                                                     .arg(TAVINOR_VERSION_PATCH));
        QCOMPARE(frmAbout::VersionText(1, 2, 15), QStringLiteral("Version 1.2.15"));
        QCOMPARE(form->findChildren<QGroupBox*>().size(), 4);
    }

    // The contact frames show what the distributor filled in, and nothing invented before that.
    void contactsFromTheDistributorsFile()
    {
        TestFolder folder;
        auto texts = [](frmAbout* form, const char* frame) {
            QStringList out;
            for (QLabel* l : form->findChild<QGroupBox*>(QLatin1String(frame))->findChildren<QLabel*>())
                out << l->text();
            return out;
        };
        frmAbout* form = OpenAbout();
        QCOMPARE(texts(form, "fraSupport"), QStringList({"nicht eingetragen", ""}));
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("lblURL"))->text(), QStringLiteral("nicht eingetragen"));
        delete form;

        QFile file(folder.file(QStringLiteral("kontakte.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# filled in\n[Support]\nName = Praxisdienst S\xc3\xbc"
                   "d\nAdresse=\nOrt=12345 Nordstadt\n"
                   "EMail=hilfe@praxisdienst.invalid\n[Link]\nAdresse=www.praxisdienst.invalid\n");
        file.close();
        form = OpenAbout();
        QCOMPARE(texts(form, "fraSupport"),
                 QStringList({QStringLiteral("Praxisdienst Süd\n12345 Nordstadt"), "hilfe@praxisdienst.invalid"}));
        QCOMPARE(texts(form, "fraConsulting"), QStringList({"nicht eingetragen", ""}));
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("lblURL"))->text(),
                 QStringLiteral("www.praxisdienst.invalid"));
    }

    void openLinkTargets()
    {
        Functions::OpenLink(QStringLiteral("www.example.org/kontakt"));
        Functions::OpenLink(QStringLiteral("http://example.org/a?b=c"));
        Functions::OpenLink(QStringLiteral("mailto:support@example.org"));
        Functions::OpenLink(QStringLiteral("support@example.org"));
        Functions::OpenLink(QStringLiteral("ftp://example.org"));
        Functions::OpenLink(QString());
        QCOMPARE(m_opened, QList<QUrl>({QUrl("http://www.example.org/kontakt"), QUrl("http://example.org/a?b=c"),
                                        QUrl("mailto:support@example.org")}));
    }

    void sysInfoStartsTheProgramFoundOnPath()
    {
        QTemporaryDir empty, first, second;
        MakeProgram(first, SysInfo::Candidates().at(1));
        MakeProgram(second, SysInfo::Candidates().at(0));
        MakeProgram(empty, SysInfo::Candidates().at(0), false); // present but not executable
        const QString path = empty.path() + ":" + first.path() + ":" + second.path();
        // The list's order wins over the order of the folders.
        QCOMPARE(SysInfo::Find(path), second.filePath(SysInfo::Candidates().at(0)));
        QCOMPARE(SysInfo::Find(empty.path()), QString());

        qputenv("PATH", path.toLocal8Bit());
        frmAbout* form = OpenAbout();
        QVERIFY(form);
        form->findChild<QPushButton*>(QStringLiteral("cmdSysInfo"))->click();
        QTRY_VERIFY(QFile::exists(second.filePath(SysInfo::Candidates().at(0)) + ".ran"));
        QVERIFY(!QFile::exists(first.filePath(SysInfo::Candidates().at(1)) + ".ran"));
        QCOMPARE(m_boxes, QStringList());
    }

    void sysInfoWithoutProgramShowsTheNotice()
    {
        QTemporaryDir empty;
        qputenv("PATH", empty.path().toLocal8Bit());
        frmAbout* form = OpenAbout();
        QVERIFY(form);
        form->findChild<QPushButton*>(QStringLiteral("cmdSysInfo"))->click();
        QCOMPARE(m_boxes, QStringList({"|System Information Is Unavailable At This Time"}));
        QVERIFY(Forms::IsFormLoaded(form));
    }

    void openedOnceAndUnloadedByOk()
    {
        frmAbout* form = OpenAbout();
        QVERIFY(form);
        frmAbout::ShowAbout(nullptr, false);
        frmAbout::ShowAbout(nullptr, true); // must return at once: the window is already open
        int count = 0;
        for (QWidget* w : Forms::Loaded())
            count += w->objectName() == QLatin1String("frmAbout");
        QCOMPARE(count, 1);
        form->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
        QTRY_VERIFY(!Forms::IsFormLoaded(QStringLiteral("frmAbout")));

        // Modal, as on the server: OK ends the modal loop and unloads the window.
        bool wasModal = false;
        QTimer::singleShot(0, this, [&] {
            if (QWidget* w = Forms::Find(QStringLiteral("frmAbout"))) {
                wasModal = w->isModal();
                w->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
            }
        });
        frmAbout::ShowAbout(nullptr, true);
        QVERIFY(wasModal);
        QTRY_VERIFY(!Forms::IsFormLoaded(QStringLiteral("frmAbout")));
    }
};

QTEST_MAIN(tst_frmAbout)
#include "tst_frmabout.moc"
