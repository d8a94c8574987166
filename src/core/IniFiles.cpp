#include "core/IniFiles.h"

#include "platform/Cp1252.h"
#include "platform/ProgramFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringView>

namespace {

// A settings file is a few hundred bytes. Anything beyond this is not ours (a log or an image saved under the
// wrong name): parsing it on every read would stall the program, and rewriting it would destroy it.
constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

// White space around names and values as the profile functions see it (^Z is an old end-of-file mark).
bool IsBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r') || u == 0x1A;
}

bool IsLineBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}

QStringView Trimmed(QStringView s)
{
    while (!s.isEmpty() && IsBlank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && IsBlank(s.back()))
        s.chop(1);
    return s;
}

// A name is a C string to the profile functions: it ends at the first NUL.
QStringView UpToNul(QStringView s)
{
    const qsizetype nul = s.indexOf(QChar(0));
    return nul < 0 ? s : s.first(nul);
}

QString Arg(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return Cp1252::Decode(nul < 0 ? bytes : bytes.first(nul));
}

bool SameName(QStringView inFile, QStringView wanted)
{
    return UpToNul(inFile).compare(wanted, Qt::CaseInsensitive) == 0;
}

// The file as one QChar per byte (Windows-1252) or per code unit (UTF-16LE behind its byte order mark), so that
// every position maps back to a byte offset and an edit can splice the untouched bytes around it. A UTF-8 byte
// order mark is not recognised, as on Windows: it merely spoils the first line.
struct Text
{
    QString units;
    bool utf16 = false;

    explicit Text(const QByteArray& file)
    {
        utf16 = file.size() >= 2 && uchar(file[0]) == 0xFF && uchar(file[1]) == 0xFE;
        if (!utf16) {
            units = Cp1252::Decode(file);
            return;
        }
        units.resize((file.size() - 2) / 2);
        for (qsizetype i = 0; i < units.size(); ++i)
            units[i] = QChar(char16_t(uchar(file[2 + 2 * i]) | uchar(file[3 + 2 * i]) << 8));
    }

    qsizetype byteOffset(qsizetype pos) const { return utf16 ? 2 + 2 * pos : pos; }

    QByteArray encode(const QString& s) const
    {
        if (!utf16)
            return Cp1252::Encode(s);
        QByteArray out;
        out.reserve(2 * s.size());
        for (QChar c : s) {
            out.append(char(c.unicode() & 0xFF));
            out.append(char(c.unicode() >> 8));
        }
        return out;
    }

    // New lines take the file's own line break, so an LF file stays an LF file.
    QString lineBreak() const
    {
        for (qsizetype i = 0; i < units.size(); ++i) {
            if (units[i] == u'\n')
                return QStringLiteral("\n");
            if (units[i] == u'\r')
                return i + 1 < units.size() && units[i + 1] == u'\n' ? QStringLiteral("\r\n") : QStringLiteral("\r");
        }
        return QStringLiteral("\r\n");
    }
};

struct Line
{
    qsizetype begin = 0; // first unit
    qsizetype end = 0;   // end of the text, before the line break
    qsizetype next = 0;  // first unit of the following line
};

// Lines end at CR, LF or CR LF.
bool NextLine(const QString& s, qsizetype& pos, Line& line)
{
    if (pos >= s.size())
        return false;
    line.begin = pos;
    while (pos < s.size() && !IsLineBreak(s[pos]))
        ++pos;
    line.end = pos;
    if (pos < s.size())
        pos += (s[pos] == u'\r' && pos + 1 < s.size() && s[pos + 1] == u'\n') ? 2 : 1;
    line.next = pos;
    return true;
}

// Where a key stands: only the first section of the name counts, and in it the first line of the key.
struct Match
{
    bool section = false;
    bool key = false;
    Line keyLine;
    QStringView keyName;   // spelled as in the file
    bool hasValue = false; // a line without '=' names the key but has no value
    QStringView value;
    qsizetype insertAt = 0; // after the last non-blank line of the section
    bool insertNeedsBreak = false;
};

Match Locate(const QString& s, QStringView section, QStringView key)
{
    Match m;
    bool inSection = false;
    qsizetype pos = 0;
    Line line;
    while (NextLine(s, pos, line)) {
        const QStringView text = Trimmed(QStringView(s).sliced(line.begin, line.end - line.begin));
        if (text.isEmpty())
            continue;
        // "[General" without its bracket is no header but a junk line of the section above.
        const qsizetype close = text.front() == u'[' ? text.lastIndexOf(u']') : -1;
        if (close > 0) {
            if (inSection)
                break;
            inSection = m.section = SameName(Trimmed(text.sliced(1, close - 1)), section);
        }
        if (!inSection)
            continue; // lines above the first header belong to no section
        m.insertAt = line.next;
        m.insertNeedsBreak = line.next == line.end;
        if (close > 0)
            continue;
        const qsizetype eq = text.indexOf(u'=');
        const QStringView name = Trimmed(eq < 0 ? text : text.first(eq));
        if (SameName(name, key)) {
            m.key = true;
            m.keyLine = line;
            m.keyName = name;
            m.hasValue = eq >= 0;
            if (m.hasValue)
                m.value = Trimmed(text.sliced(eq + 1));
            break;
        }
    }
    return m;
}

// What lands in a buffer of `len` characters: one pair of matching quotes goes, at most len-1 characters stay.
// The closing quote is dropped by position, so a quoted value of exactly len-1 characters loses its last one.
QString CopyEntry(QStringView value, qsizetype len)
{
    value = UpToNul(value);
    const bool quoted =
        value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front();
    if (quoted)
        value = value.sliced(1);
    QString out = value.first(qMin(value.size(), len - 1)).toString();
    if (quoted && len >= value.size())
        out.chop(1);
    return out;
}

QByteArray Splice(const QByteArray& old, const Text& text, qsizetype from, qsizetype to, const QString& insert)
{
    const qsizetype a = qMin(text.byteOffset(from), old.size());
    const qsizetype b = qMin(text.byteOffset(to), old.size());
    return old.first(a) + text.encode(insert) + old.sliced(b);
}

// Leading blanks are dropped; reads would skip them anyway. A line break would turn the rest of the value into
// lines of their own - keys nobody wrote - so the value ends there.
QString StoredValue(const QByteArray& bytes)
{
    QString v = Arg(bytes);
    qsizetype start = 0;
    while (start < v.size() && IsBlank(v[start]))
        ++start;
    v.remove(0, start);
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (IsLineBreak(v[i])) {
            v.truncate(i);
            break;
        }
    }
    return v;
}

std::optional<QByteArray> LoadFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxFileSize)
        return std::nullopt;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = f.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize || f.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

// The file is replaced as a whole (a temporary file in the same folder, renamed over it), so a crash or a full
// disk never leaves half a settings file. QSaveFile keeps the permissions and writes in place when the folder
// does not allow new files; a rename that fails for another reason falls back to writing in place as well.
void SaveFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile out(path);
    out.setDirectWriteFallback(true);
    if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
        return;
    const bool renameFailed = out.error() == QFileDevice::RenameError;
    if (!renameFailed) {
        out.cancelWriting();
        qWarning("IniFiles: cannot write %s: %s", qPrintable(path), qPrintable(out.errorString()));
        return;
    }
    // Overwrite first and cut afterwards, so the file is never shorter than its new content.
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || f.write(bytes) != bytes.size() || !f.resize(bytes.size()))
        qWarning("IniFiles: cannot write %s: %s", qPrintable(path), qPrintable(f.errorString()));
}

} // namespace

namespace IniFiles {

QString GetIniFileName()
{
    return ProgramFolder::Path() + QLatin1Char('/') + ProgramFolder::ExeName() + QStringLiteral(".ini");
}

QString ReadIni(const QString& section, const QString& key, const QString& def)
{
    // A default the code page cannot hold (a path below a folder named outside Windows-1252) is returned as
    // given instead of with "?" for those characters.
    const bool plainDefault = CanStore(def);
    const QByteArray raw = ProfileRead(LoadFile(GetIniFileName()), Cp1252::Encode(section), Cp1252::Encode(key),
                                       plainDefault ? Cp1252::Encode(def) : QByteArray(), 512);
    const QString text = Cp1252::Decode(raw);
    for (QChar c : text) {
        if (c != u' ')
            return text;
    }
    return def;
}

bool CanStore(const QString& value)
{
    return Cp1252::CanEncode(value);
}

void WriteIni(const QString& section, const QString& key, const QString& value)
{
    const QString path = GetIniFileName();
    const QFileInfo info(path);
    std::optional<QByteArray> old;
    if (info.exists()) {
        // A file we cannot read or may not change keeps what it has: writing it anew would lose every other key.
        if (!info.isFile() || !info.isWritable() || !(old = LoadFile(path))) {
            qWarning("IniFiles: %s is not a readable and writable settings file", qPrintable(path));
            return;
        }
    }
    const auto updated = ProfileWrite(old, Cp1252::Encode(section), Cp1252::Encode(key), Cp1252::Encode(value));
    if (updated && updated != old)
        SaveFile(path, *updated);
}

QByteArray ProfileRead(const std::optional<QByteArray>& file, const QByteArray& section, const QByteArray& key,
                       const QByteArray& def, int bufSize)
{
    if (bufSize <= 0)
        return {};
    // Trailing blanks of the default go, down to one character.
    const QString defText = Arg(def);
    qsizetype defLength = defText.size();
    while (defLength > 1 && defText[defLength - 1] == u' ')
        --defLength;
    QStringView value = QStringView(defText).first(defLength);

    const QString sectionText = Arg(section);
    const QString keyText = Arg(key);
    const QStringView keyName = Trimmed(keyText);
    QString found; // keeps the file's text alive while `value` looks at it
    if (file && !keyName.isEmpty()) {
        const Text text(*file);
        const Match m = Locate(text.units, Trimmed(sectionText), keyName);
        if (m.key && m.hasValue)
            value = found = m.value.toString();
    }
    return Cp1252::Encode(CopyEntry(value, bufSize));
}

std::optional<QByteArray> ProfileWrite(const std::optional<QByteArray>& file, const QByteArray& section,
                                       const QByteArray& key, const std::optional<QByteArray>& value)
{
    const QString sectionText = Arg(section);
    const QString keyText = Arg(key);
    const QStringView sectionName = Trimmed(sectionText);
    const QStringView keyName = Trimmed(keyText);
    if (sectionName.isEmpty() || keyName.isEmpty())
        return file;
    if (!value && !file)
        return QByteArray(); // deleting from a missing file leaves an empty one, as on Windows

    const QByteArray old = file.value_or(QByteArray());
    const Text text(old);
    const Match m = Locate(text.units, sectionName, keyName);
    if (!value)
        return m.key ? Splice(old, text, m.keyLine.begin, m.keyLine.next, {}) : old;

    const QString v = StoredValue(*value);
    if (m.key) {
        if (m.hasValue && m.value == v)
            return file;
        return Splice(old, text, m.keyLine.begin, m.keyLine.end, m.keyName.toString() + u'=' + v);
    }
    const QString br = text.lineBreak();
    const QString entry = keyName.toString() + u'=' + v + br;
    if (m.section)
        return Splice(old, text, m.insertAt, m.insertAt, (m.insertNeedsBreak ? br : QString()) + entry);
    const qsizetype end = text.units.size();
    const bool needsBreak = end > 0 && !IsLineBreak(text.units.back());
    return Splice(old, text, end, end,
                  (needsBreak ? br : QString()) + u'[' + sectionName.toString() + u']' + br + entry);
}

} // namespace IniFiles
