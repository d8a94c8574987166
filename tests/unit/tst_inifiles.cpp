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
#include <QStringEncoder>
#include <QtTest>

using File = std::optional<QByteArray>;

class tst_IniFiles : public QObject
{
    Q_OBJECT

    // The vectors spell bytes as JSON strings, one character U+0000..U+00FF per byte; files also as base64.
    static QByteArray Bytes(const QJsonValue& v) { return v.toString().toLatin1(); }
    static QString Text(const QJsonValue& v) { return Cp1252::Decode(Bytes(v)); }
    static File FileOf(const QJsonValue& v)
    {
        return v["exists"].toBool() ? File(QByteArray::fromBase64(Bytes(v["b64"]))) : File();
    }
    static QJsonObject FileJson(const QByteArray& b) { return {{"exists", true}, {"b64", QString(b.toBase64())}}; }
    // Readable in failure messages; no vector file holds this text.
    static QByteArray Show(const File& f) { return f ? *f : QByteArray("<no file>"); }

    // The vectors were recorded with a reimplementation of the profile functions. Where Windows is known to behave
    // otherwise (see the vectors' README), Windows wins.
    static QJsonObject FollowWindows(QJsonObject c)
    {
        QJsonArray ops = c["ops"].toArray();
        const auto result = [&](int i, const QJsonObject& r) {
            QJsonObject op = ops.at(i).toObject();
            op["result"] = r;
            ops[i] = op;
        };
        const QString name = c["name"].toString();
        if (name == "read_utf8_bom") {
            // The UTF-8 byte order mark is not recognised, so "\xEF\xBB\xBF[General]" is no header: defaults.
            for (int i = 0; i < ops.size(); ++i) {
                const QString def = ops.at(i)["default"].toString();
                result(i, {{"count", def.size()},
                           {"value_b64", QString::fromLatin1(def.toLatin1().toBase64())},
                           {"read_ini", def}});
            }
        } else if (name == "write_utf8_bom_file") {
            // Same reason: [General] is missing, so the first write appends it; the file stays Windows-1252 bytes.
            const QByteArray file = *FileOf(c["initial_file"]) + "[General]\r\nServer=1\r\n";
            result(0, {{"ret", 1}, {"file_after", FileJson(file)}});
            result(1, {{"ret", 1}, {"file_after", FileJson(file + "Servername=B\xFCro\r\n")}});
        } else if (name == "write_new_file_null_value") {
            result(0, {{"ret", 1}, {"file_after", FileJson({})}}); // Windows leaves an empty file behind
        }
        c["ops"] = ops;
        return c;
    }

    static QJsonArray Vectors()
    {
        static const QJsonArray cases = [] {
            QFile f(QStringLiteral(TAVINOR_TESTDATA "/ini/vectors.json"));
            QJsonArray all = QJsonDocument::fromJson(f.open(QIODevice::ReadOnly) ? f.readAll() : "")["cases"].toArray();
            for (auto&& ref : all)
                ref = FollowWindows(ref.toObject());
            return all;
        }();
        return cases;
    }

    // Files the reference writer would reproduce byte for byte: "[name]" and "key=value" lines ending in CR LF,
    // nothing to trim. Only there may our bytes be held against the reference, which rewrites whole files.
    static bool IsCanonical(const File& file)
    {
        if (!file || file->isEmpty())
            return true;
        QString text = QString::fromLatin1(*file);
        if (file->startsWith("\xFF\xFE"))
            text = QString::fromUtf16(reinterpret_cast<const char16_t*>(file->constData() + 2), (file->size() - 2) / 2);
        if (file->startsWith("\xEF\xBB\xBF") || !text.endsWith(QLatin1String("\r\n")))
            return false;
        const auto trimmed = [](const QString& s) { return s == s.trimmed(); };
        for (const QString& line : text.chopped(2).split(QLatin1String("\r\n"))) {
            const bool header = line.startsWith(u'[') && line.contains(u']');
            const qsizetype eq = header ? -1 : line.indexOf(u'=');
            if (line.isEmpty() || !trimmed(line) || line.contains(u'\r') || line.contains(u'\n') ||
                (header && (!line.endsWith(u']') || !trimmed(line.mid(1, line.size() - 2)))) ||
                (eq >= 0 && (!trimmed(line.left(eq)) || !trimmed(line.mid(eq + 1)))))
                return false;
        }
        return true;
    }

    // Replays the operations of one case, on the bytes and through a real file side by side: every read as the
    // profile call gives it and as the program reads it (Windows-1252 text, blank means default). A write is
    // judged by its bytes where the reference's are ours too, else by what every key any vector asks for reads.
    void Replay(const QJsonObject& vector)
    {
        static const auto probes = [] {
            QSet<std::pair<QByteArray, QByteArray>> set{{"Other", "X"}};
            for (const QJsonValue& c : Vectors())
                for (const QJsonValue& op : c["ops"].toArray())
                    set.insert({Bytes(op["section"]), Bytes(op["key"])});
            return set.values();
        }();
        File ours = FileOf(vector["initial_file"]);
        File reference = ours;
        TestFolder folder;
        if (ours)
            folder.writeIni(*ours);
        const QJsonArray ops = vector["ops"].toArray();
        for (int i = 0; i < ops.size(); ++i) {
            const QJsonValue o = ops.at(i), r = o["result"], value = o["value"];
            const QByteArray section = Bytes(o["section"]), key = Bytes(o["key"]);
            const QByteArray step = Bytes(vector["name"]) + ' ' + QByteArray::number(i) + ' ' + key;
            if (o["op"].toString() == "read") {
                const QByteArray got =
                    IniFiles::ProfileRead(ours, section, key, Bytes(o["default"]), o["bufsize"].toInt());
                QVERIFY2(got == QByteArray::fromBase64(Bytes(r["value_b64"])) && got.size() == r["count"].toInt(),
                         step);
                QVERIFY2(IniFiles::ReadIni(Text(o["section"]), Text(o["key"]), Text(o["default"])) ==
                             Text(r["read_ini"]),
                         step);
                continue;
            }
            const File before = ours;
            ours = IniFiles::ProfileWrite(ours, section, key, value.isNull() ? File() : File(Bytes(value)));
            const File expected = FileOf(r["file_after"]);
            if ((IsCanonical(before) && before == reference) || expected == reference) {
                // Canonical file, or a write the reference found to change nothing: the bytes must agree.
                QVERIFY2(Show(ours) == Show(expected), step + ": " + Show(ours));
            } else {
                QVERIFY2(ours.has_value() == expected.has_value(), step);
                for (const auto& [s, k] : probes)
                    QVERIFY2(IniFiles::ProfileRead(ours, s, k, "<default>") ==
                                 IniFiles::ProfileRead(expected, s, k, "<default>"),
                             step + " then reading " + s + '/' + k);
            }
            reference = expected;
            if (value.isNull() && ours) // WriteIni cannot delete; keep the real file in step
                folder.writeIni(*ours);
            else if (!value.isNull())
                IniFiles::WriteIni(Text(o["section"]), Text(o["key"]), Text(value));
            const File onDisk = QFile::exists(folder.iniPath()) ? File(folder.readFile("tavinor.ini")) : File();
            QVERIFY2(Show(onDisk) == Show(ours), step + " through WriteIni");
        }
    }

private slots:
    void vectors()
    {
        QVERIFY2(Vectors().size() >= 50, "golden vectors not found under " TAVINOR_TESTDATA "/ini");
        for (const QJsonValue& c : Vectors())
            Replay(c.toObject());
    }

    // Windows rules the vectors do not reach; "-" is the default.
    void profileRead()
    {
        const QByteArray utf16 = QStringEncoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom)(
            QStringLiteral("[General]\r\nX=\u03A9 \u20AC\r\n"));
        const struct
        {
            const char* name;
            QByteArray file;
            const char *section, *key, *expected;
        } rows[] = {
            {"second section ignored", "[General]\r\nServer=1\r\n[Other]\r\nX=1\r\n[GENERAL]\r\nInit=1\r\n", "General",
             "Init", "-"},
            {"bare key hides a later one", "[General]\r\nServer\r\nServer=1\r\n", "General", "Server", "-"},
            {"key above first header", "Server=1\r\n[General]\r\nInit=1\r\n", "General", "Server", "-"},
            {"lone quote", "[General]\r\nA=\"\r\n", "General", "A", "\""},
            {"header without ], section above", "[Other]\r\nX=1\r\n[General\r\nServer=1\r\n", "Other", "Server", "1"},
            {"UTF-16 beyond the code page", utf16, "General", "X", "? \x80"},
            {"blank-padded arguments", "[General]\r\nServer=1\r\n", " General ", " Server\t", "1"},
        };
        for (const auto& r : rows)
            QVERIFY2(IniFiles::ProfileRead(r.file, r.section, r.key, "-") == r.expected, r.name);
    }

    // Only the written line changes: comments, blank lines, spacing and line breaks stay.
    void profileWrite()
    {
        const QByteArray dup("[General]\r\nServer=1\r\nserver=5\r\n");
        const QByteArray edited("; Tavinor\r\n\r\n  [General]  \r\n; 1 = server\r\nServer = 0\r\n\r\n"
                                "Stationname = PC 01 \r\nJunk line\r\n\r\n[Other]\r\nX = 1\r\n");
        const File remove;
        const struct
        {
            const char *name, *key;
            QByteArray file;
            File value;
            QByteArray expected;
        } rows[] = {
            {"duplicate: first replaced", "Server", dup, "2", "[General]\r\nServer=2\r\nserver=5\r\n"},
            {"duplicate: first deleted", "Server", dup, remove, "[General]\r\nserver=5\r\n"},
            {"hand-edited: append", "Init", edited, "1",
             QByteArray(edited).replace("Junk line\r\n", "Junk line\r\nInit=1\r\n")},
            {"hand-edited: delete", "Stationname", edited, remove,
             QByteArray(edited).replace("Stationname = PC 01 \r\n", "")},
            {"line break cannot inject keys", "Stationname", "[General]\r\n", "PC01\r\n[Other]\r\nServer=1",
             "[General]\r\nStationname=PC01\r\n"},
            {"value ends at NUL", "Stationname", "[General]\r\n", QByteArray("PC\0 01", 6),
             "[General]\r\nStationname=PC\r\n"},
        };
        for (const auto& r : rows) {
            const QByteArray got = Show(IniFiles::ProfileWrite(r.file, "General", r.key, r.value));
            QVERIFY2(got == r.expected, r.name + QByteArray(": ") + got);
        }
    }

    // A damaged or foreign file: "Server" reads as given, a write adds one line and keeps every byte that was
    // there in order; a file too large to be ours is never rewritten.
    void badFile()
    {
        QByteArray garbage(64 * 1024, Qt::Uninitialized);
        QRandomGenerator(1161).fillRange(reinterpret_cast<quint32*>(garbage.data()), garbage.size() / 4);
        const struct
        {
            const char *name, *server;
            QByteArray content;
        } rows[] = {
            {"binary garbage", "0", garbage},
            {"long lines around the section", "1",
             QByteArray(100000, '=') + "\n[General]\n" + QByteArray(100000, 'k') + "=v\nServer=1\n"},
            {"NUL ends a value", "0", QByteArray("[General]\r\nServer=\0001\r\nX=\0", 25)},
            {"too large to be ours", "0", "[General]\r\nServer=1\r\n" + QByteArray(5 * 1024 * 1024, '\n')},
        };
        for (const auto& r : rows) {
            TestFolder folder;
            folder.writeIni(r.content);
            QVERIFY2(IniFiles::ReadIni("General", "Server", "0") == QLatin1String(r.server), r.name);
            QVERIFY2(IniFiles::ReadIni("General", "AlertkeyCode", "123") == QLatin1String("123"), r.name);
            IniFiles::WriteIni("General", "Init", "1");
            const QByteArray after = folder.readFile("tavinor.ini");
            const bool ours = r.content.size() < 4 * 1024 * 1024;
            qsizetype same = 0;
            while (same < r.content.size() && after[same] == r.content[same])
                ++same;
            QVERIFY2(ours ? after.size() > r.content.size() && after.endsWith(r.content.sliced(same))
                          : after == r.content,
                     r.name);
            QVERIFY2(IniFiles::ReadIni("General", "Init", "0") == QLatin1String(ours ? "1" : "0"), r.name);
        }
    }

    // A write keeps the file's permissions and leaves no temporary file. A settings path that is a folder, a
    // missing folder, or a "folder" that is a file: defaults, nothing written.
    void theFileItself()
    {
        TestFolder folder;
        folder.writeIni("[General]\r\nServer=0\r\n");
        const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        QVERIFY(QFile::setPermissions(folder.iniPath(), perms));
        IniFiles::WriteIni("General", "Server", "1");
        QCOMPARE(folder.readFile("tavinor.ini"), QByteArray("[General]\r\nServer=1\r\n"));
        QCOMPARE(QFile::permissions(folder.iniPath()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), perms);
        const auto entries = [&] { return QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries); };
        QCOMPARE(entries(), QStringList{"tavinor.ini"});

        QVERIFY(QFile::remove(folder.iniPath()));
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
        QCOMPARE(entries(), QStringList{"tavinor.ini"});
    }
};

QTEST_GUILESS_MAIN(tst_IniFiles)
#include "tst_inifiles.moc"
