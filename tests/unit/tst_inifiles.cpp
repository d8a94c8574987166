#include "core/IniFiles.h"
#include "platform/Cp1252.h"
#include "platform/ProgramFolder.h"

#include "TestFolder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <QtTest>

using File = std::optional<QByteArray>;

namespace {

// The vectors spell bytes as JSON strings, one character U+0000..U+00FF per byte.
QByteArray Bytes(const QJsonValue& v)
{
    return v.toString().toLatin1();
}

QString Text(const QJsonValue& v)
{
    return Cp1252::Decode(Bytes(v));
}

File FileOf(const QJsonValue& v)
{
    const QJsonObject o = v.toObject();
    if (!o.value(QLatin1String("exists")).toBool())
        return std::nullopt;
    return QByteArray::fromBase64(o.value(QLatin1String("b64")).toString().toLatin1());
}

QJsonObject FileJson(const QByteArray& bytes)
{
    return {{"exists", true}, {"b64", QString::fromLatin1(bytes.toBase64())}};
}

// Readable in QCOMPARE output; no vector file holds this text.
QByteArray Show(const File& f)
{
    return f ? *f : QByteArray("<no file>");
}

QByteArray Utf16(const QString& s)
{
    QByteArray out("\xFF\xFE", 2);
    for (QChar c : s)
        out.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return out;
}

// The vectors were recorded with a reimplementation of the profile functions. Where Windows is known to behave
// otherwise (see the vectors' README), Windows wins.
void FollowWindows(QJsonObject& c)
{
    const QString name = c.value(QLatin1String("name")).toString();
    QJsonArray ops = c.value(QLatin1String("ops")).toArray();
    if (name == QLatin1String("read_utf8_bom")) {
        // The UTF-8 byte order mark is not recognised, so "\xEF\xBB\xBF[General]" is no header: defaults.
        for (auto&& ref : ops) {
            QJsonObject op = ref.toObject();
            QJsonObject r = op.value(QLatin1String("result")).toObject();
            const QString def = op.value(QLatin1String("default")).toString();
            r[QLatin1String("count")] = def.size();
            r[QLatin1String("value_b64")] = QString::fromLatin1(def.toLatin1().toBase64());
            r[QLatin1String("read_ini")] = def;
            op[QLatin1String("result")] = r;
            ref = op;
        }
    } else if (name == QLatin1String("write_utf8_bom_file")) {
        // Same reason: [General] is missing, so the first write appends it; the file stays Windows-1252 bytes.
        QByteArray file = *FileOf(c.value(QLatin1String("initial_file")));
        const char* added[] = {"[General]\r\nServer=1\r\n", "Servername=B\xFCro\r\n"};
        for (int i = 0; i < 2; ++i) {
            QJsonObject op = ops[i].toObject();
            file += added[i];
            op[QLatin1String("result")] = QJsonObject{{"ret", 1}, {"file_after", FileJson(file)}};
            ops[i] = op;
        }
    } else if (name == QLatin1String("write_new_file_null_value")) {
        // Windows leaves an empty file behind.
        QJsonObject op = ops[0].toObject();
        op[QLatin1String("result")] = QJsonObject{{"ret", 1}, {"file_after", FileJson({})}};
        ops[0] = op;
    }
    c[QLatin1String("ops")] = ops;
}

QJsonArray Vectors()
{
    static const QJsonArray cases = [] {
        QFile f(QStringLiteral(TAVINOR_TESTDATA "/ini/vectors.json"));
        if (!f.open(QIODevice::ReadOnly))
            return QJsonArray();
        QJsonArray all = QJsonDocument::fromJson(f.readAll()).object().value(QLatin1String("cases")).toArray();
        for (auto&& ref : all) {
            QJsonObject c = ref.toObject();
            FollowWindows(c);
            ref = c;
        }
        return all;
    }();
    return cases;
}

// Every section/key pair any vector asks for: what a write is judged by when its bytes may differ.
QList<std::pair<QByteArray, QByteArray>> Probes()
{
    QSet<std::pair<QByteArray, QByteArray>> set{{"Other", "X"}};
    for (const QJsonValue& c : Vectors()) {
        for (const QJsonValue& op : c[QLatin1String("ops")].toArray())
            set.insert({Bytes(op[QLatin1String("section")]), Bytes(op[QLatin1String("key")])});
    }
    return set.values();
}

// Files the reference writer would reproduce byte for byte: "[name]" and "key=value" lines ending in CR LF,
// nothing to trim. Only there may our bytes be held against the reference, which rewrites whole files.
bool IsCanonical(const File& file)
{
    if (!file || file->isEmpty())
        return true;
    if (file->startsWith("\xEF\xBB\xBF"))
        return false;
    QString text = QString::fromLatin1(*file);
    if (file->startsWith("\xFF\xFE"))
        text = QString::fromUtf16(reinterpret_cast<const char16_t*>(file->constData() + 2), (file->size() - 2) / 2);
    if (!text.endsWith(QLatin1String("\r\n")))
        return false;
    for (const QString& line : text.chopped(2).split(QLatin1String("\r\n"))) {
        if (line.isEmpty() || line != line.trimmed() || line.contains(u'\r') || line.contains(u'\n'))
            return false;
        if (line.startsWith(u'[') && line.contains(u']')) {
            if (!line.endsWith(u']') || line.mid(1, line.size() - 2) != line.mid(1, line.size() - 2).trimmed())
                return false;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && (line.left(eq) != line.left(eq).trimmed() || line.mid(eq + 1) != line.mid(eq + 1).trimmed()))
            return false;
    }
    return true;
}

} // namespace

class tst_IniFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Vectors().size() >= 50, "golden vectors not found under " TAVINOR_TESTDATA "/ini"); }

    void vectors_data()
    {
        QTest::addColumn<QJsonObject>("vector");
        for (const QJsonValue& c : Vectors())
            QTest::newRow(qPrintable(c[QLatin1String("name")].toString())) << c.toObject();
    }

    // Replays the operations of one case, on the bytes and through a real file side by side: every read as the
    // profile call gives it and as the program reads it (Windows-1252 text, blank means default).
    void vectors()
    {
        QFETCH(QJsonObject, vector);
        static const auto probes = Probes();
        File ours = FileOf(vector[QLatin1String("initial_file")]);
        File reference = ours;
        TestFolder folder;
        if (ours)
            folder.writeIni(*ours);

        const QJsonArray ops = vector[QLatin1String("ops")].toArray();
        for (int i = 0; i < ops.size(); ++i) {
            const QJsonObject o = ops[i].toObject();
            const QJsonObject r = o[QLatin1String("result")].toObject();
            const QByteArray section = Bytes(o[QLatin1String("section")]);
            const QByteArray key = Bytes(o[QLatin1String("key")]);
            const QByteArray step = QByteArray::number(i) + ' ' + key;
            if (o[QLatin1String("op")].toString() == QLatin1String("read")) {
                const QByteArray got = IniFiles::ProfileRead(ours, section, key, Bytes(o[QLatin1String("default")]),
                                                             o[QLatin1String("bufsize")].toInt());
                QVERIFY2(got == QByteArray::fromBase64(r[QLatin1String("value_b64")].toString().toLatin1()), step);
                QVERIFY2(got.size() == r[QLatin1String("count")].toInt(), step);
                const QString read = IniFiles::ReadIni(Text(o[QLatin1String("section")]), Text(o[QLatin1String("key")]),
                                                       Text(o[QLatin1String("default")]));
                QVERIFY2(read == Text(r[QLatin1String("read_ini")]), step);
                continue;
            }

            const QJsonValue value = o[QLatin1String("value")];
            const File before = ours;
            ours = IniFiles::ProfileWrite(ours, section, key, value.isNull() ? File() : File(Bytes(value)));
            const File expected = FileOf(r[QLatin1String("file_after")]);
            if ((IsCanonical(before) && before == reference) || expected == reference) {
                // Canonical file, or a write the reference found to change nothing: the bytes must agree.
                QCOMPARE(Show(ours), Show(expected));
            } else {
                QCOMPARE(ours.has_value(), expected.has_value());
                for (const auto& [s, k] : probes) {
                    QVERIFY2(IniFiles::ProfileRead(ours, s, k, "<default>") ==
                                 IniFiles::ProfileRead(expected, s, k, "<default>"),
                             step + " then reading " + s + '/' + k);
                }
            }
            reference = expected;

            if (value.isNull()) {
                if (ours) // WriteIni cannot delete; keep the real file in step
                    folder.writeIni(*ours);
            } else {
                IniFiles::WriteIni(Text(o[QLatin1String("section")]), Text(o[QLatin1String("key")]), Text(value));
            }
            const File onDisk = QFile::exists(folder.iniPath()) ? File(folder.readFile("tavinor.ini")) : File();
            QVERIFY2(Show(onDisk) == Show(ours), step + " through WriteIni");
        }
    }

    void profileRead_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("expected");

        // Windows rules the vectors do not reach.
        const QByteArray bracket("[Other]\r\nX=1\r\n[General\r\nServer=1\r\n");
        const struct
        {
            const char* name;
            QByteArray file;
            const char* section;
            const char* key;
            QByteArray expected; // "-" is the default
        } rows[] = {
            {"second section ignored", "[General]\r\nServer=1\r\n[Other]\r\nX=1\r\n[GENERAL]\r\nInit=1\r\n", "General",
             "Init", "-"},
            {"bare key hides a later one", "[General]\r\nServer\r\nServer=1\r\n", "General", "Server", "-"},
            {"key above first header", "Server=1\r\n[General]\r\nInit=1\r\n", "General", "Server", "-"},
            {"lone quote", "[General]\r\nA=\"\r\n", "General", "A", "\""},
            {"header without ], section above", bracket, "Other", "Server", "1"},
            {"UTF-16 beyond the code page", Utf16(QStringLiteral("[General]\r\nX=\u03A9 \u20AC\r\n")), "General", "X",
             "? \x80"},
            {"blank-padded arguments", "[General]\r\nServer=1\r\n", " General ", " Server\t", "1"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.name) << r.file << QByteArray(r.section) << QByteArray(r.key) << r.expected;
    }

    void profileRead()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        QCOMPARE(IniFiles::ProfileRead(file, section, key, "-"), expected);
    }

    void profileWrite_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<File>("value");
        QTest::addColumn<QByteArray>("expected");

        const File remove;
        const QByteArray dup("[General]\r\nServer=1\r\nserver=5\r\n");
        // Only the written line changes: comments, blank lines, spacing and line breaks stay.
        const QByteArray edited("; Tavinor\r\n\r\n  [General]  \r\n; 1 = server\r\nServer = 0\r\n\r\n"
                                "Stationname = PC 01 \r\nJunk line\r\n\r\n[Other]\r\nX = 1\r\n");
        const struct
        {
            const char* name;
            QByteArray file;
            const char* key;
            File value;
            QByteArray expected;
        } rows[] = {
            {"duplicate: first replaced", dup, "Server", "2", "[General]\r\nServer=2\r\nserver=5\r\n"},
            {"duplicate: first deleted", dup, "Server", remove, "[General]\r\nserver=5\r\n"},
            {"hand-edited: append", edited, "Init", "1",
             QByteArray(edited).replace("Junk line\r\n", "Junk line\r\nInit=1\r\n")},
            {"hand-edited: delete", edited, "Stationname", remove,
             QByteArray(edited).replace("Stationname = PC 01 \r\n", "")},
            {"line break cannot inject keys", "[General]\r\n", "Stationname", "PC01\r\n[Other]\r\nServer=1",
             "[General]\r\nStationname=PC01\r\n"},
            {"value ends at NUL", "[General]\r\n", "Stationname", QByteArray("PC\0 01", 6),
             "[General]\r\nStationname=PC\r\n"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.name) << r.file << QByteArray(r.key) << r.value << r.expected;
    }

    void profileWrite()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, key);
        QFETCH(File, value);
        QFETCH(QByteArray, expected);
        QCOMPARE(Show(IniFiles::ProfileWrite(file, "General", key, value)), expected);
    }

    void badFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("server"); // what "Server" reads

        QRandomGenerator random(1161);
        QByteArray garbage(64 * 1024, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(garbage.data()), garbage.size() / 4);
        QTest::newRow("binary garbage") << garbage << QStringLiteral("0");
        QTest::newRow("long lines around the section")
            << QByteArray(100000, '=') + "\n[General]\n" + QByteArray(100000, 'k') + "=v\nServer=1\n"
            << QStringLiteral("1");
        QTest::newRow("NUL ends a value") << QByteArray("[General]\r\nServer=\0001\r\nX=\0", 25) << QStringLiteral("0");
        QTest::newRow("too large to be ours")
            << "[General]\r\nServer=1\r\n" + QByteArray(5 * 1024 * 1024, '\n') << QStringLiteral("0");
    }

    void badFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, server);
        TestFolder folder;
        folder.writeIni(content);
        QCOMPARE(IniFiles::ReadIni("General", "Server", "0"), server);
        QCOMPARE(IniFiles::ReadIni("General", "AlertkeyCode", "123"), QStringLiteral("123"));

        IniFiles::WriteIni("General", "Init", "1");
        const QByteArray after = folder.readFile("tavinor.ini");
        if (content.size() > 4 * 1024 * 1024) {
            QCOMPARE(after, content); // not ours to rewrite
        } else {
            // One line was added; every byte that was there is still there, in order.
            qsizetype same = 0;
            while (same < content.size() && after[same] == content[same])
                ++same;
            QVERIFY(after.size() > content.size());
            QVERIFY(after.endsWith(content.sliced(same)));
            QCOMPARE(IniFiles::ReadIni("General", "Init", "0"), QStringLiteral("1"));
        }
    }

    // A settings path that is a folder, a missing folder, or a "folder" that is a file: defaults, nothing written.
    void unusablePath()
    {
        TestFolder folder;
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("tavinor.ini")));
        QCOMPARE(IniFiles::ReadIni("General", "Server", "0"), QStringLiteral("0"));
        IniFiles::WriteIni("General", "Server", "1");
        QVERIFY(QFileInfo(folder.iniPath()).isDir());
        QVERIFY(QDir(folder.path()).rmdir(QStringLiteral("tavinor.ini")));

        folder.writeIni("x");
        for (const QString& where : {folder.file(QStringLiteral("missing/folder")), folder.iniPath()}) {
            ProgramFolder::SetForTests(where);
            IniFiles::WriteIni("General", "Server", "1");
            QCOMPARE(IniFiles::ReadIni("General", "Server", "0"), QStringLiteral("0"));
        }
        QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"tavinor.ini"});
    }

    void permissionsKept()
    {
        TestFolder folder;
        folder.writeIni("[General]\r\nServer=0\r\n");
        const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        QVERIFY(QFile::setPermissions(folder.iniPath(), perms));
        IniFiles::WriteIni("General", "Server", "1");
        QCOMPARE(folder.readFile("tavinor.ini"), QByteArray("[General]\r\nServer=1\r\n"));
        QCOMPARE(QFile::permissions(folder.iniPath()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), perms);
        // No temporary file is left behind.
        QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"tavinor.ini"});
    }
};

QTEST_GUILESS_MAIN(tst_IniFiles)
#include "tst_inifiles.moc"
