#include "core/EventLog.h"

#include "core/IniFiles.h"
#include "platform/Cp1252.h"
#include "platform/ProgramFolder.h"

#include <QByteArray>
#include <QLocale>
#include <QStringList>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <QFile>

namespace {

QDateTime (*g_clock)() = nullptr;

QDateTime Now()
{
    return g_clock ? g_clock() : QDateTime::currentDateTime();
}

// The code of a message: its first three characters when all three are digits, else 0. Received lines
// always start with three digits; signs, blanks or shorter texts are plain text, so they stay unchanged.
int MessageCode(const QString& message)
{
    if (message.size() < 3)
        return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        const QChar c = message.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        code = code * 10 + (c.unicode() - '0');
    }
    return code;
}

// A CR or LF inside a field would split the line and let a peer's station name forge log lines.
QString OneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

struct FormatRun
{
    qsizetype pos;
    qsizetype len;
};

// The runs of `letter` in a date format, outside quoted literal text.
QList<FormatRun> LetterRuns(const QString& format, QChar letter)
{
    QList<FormatRun> runs;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (quoted || c != letter)
            continue;
        qsizetype j = i;
        while (j < format.size() && format.at(j) == letter)
            ++j;
        runs.append({i, j - i});
        i = j - 1;
    }
    return runs;
}

#ifdef Q_OS_UNIX
// One open-append-close with a single write, so a line lands whole or not at all where the system allows.
// Only regular files: a FIFO or device as "Logfile" must not block or signal the window thread.
void AppendBytes(const QString& path, const QByteArray& bytes)
{
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    ssize_t written;
    do {
        written = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    } while (written < 0 && errno == EINTR);
    if (written > 0 && written < bytes.size()) {
        // Disk full part-way: take the fragment back unless somebody else appended meanwhile.
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end >= written && ::fstat(fd, &st) == 0 && st.st_size == end) {
            [[maybe_unused]] const int rc = ::ftruncate(fd, end - written);
        }
    }
    ::close(fd);
}
#else
void AppendBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return;
    f.write(bytes);
}
#endif

} // namespace

namespace Functions {

QString LogStationField(const QString& stationName, const QString& stationRecord)
{
    const QStringList fields = stationRecord.split(QLatin1Char('|'));
    if (fields.size() < 5)
        return stationName;
    return fields.at(4) + QStringLiteral(" (") + fields.at(1) + QLatin1Char(')');
}

QString LogTextFor(const QString& message, const QString& completeLog)
{
    const bool complete = completeLog == QLatin1String("1");
    switch (MessageCode(message)) {
    case 1:
        return complete ? message + QStringLiteral("Connect Request") : QString();
    case 2:
        return complete ? message + QStringLiteral("Connect Response") : QString();
    case 3:
        return message + QStringLiteral("Send Client IP");
    case 4:
        return message + QStringLiteral("ALARM von Client ausgelöst");
    case 5:
        return message + QStringLiteral("ALARM an Clients weitergeleitet");
    case 6:
        return message + QStringLiteral("ALARM-Receive von Client");
    case 7:
        return message + QStringLiteral("ALARM-Receive an Clients weitergeleitet");
    case 8:
        return message + QStringLiteral("ALARM-Cancel von Client");
    case 9:
        return message + QStringLiteral("ALARM-Cancel an Clients weitergeleitet");
    default:
        return message;
    }
}

QString GetLogText(const QString& message)
{
    const int code = MessageCode(message);
    // The setting only matters for the connect lines; everything else needs no file access.
    if (code != 1 && code != 2)
        return LogTextFor(message, QStringLiteral("1"));
    return LogTextFor(message,
                      IniFiles::ReadIni(QStringLiteral("General"), QStringLiteral("CompleteLog"), QStringLiteral("1")));
}

QString WidenYearFormat(const QString& format)
{
    const QList<FormatRun> runs = LetterRuns(format, QLatin1Char('y'));
    for (const FormatRun& r : runs) {
        if (r.len >= 4)
            return format;
    }
    QString out = format;
    for (qsizetype k = runs.size() - 1; k >= 0; --k)
        out.replace(runs.at(k).pos, runs.at(k).len, QStringLiteral("yyyy"));
    return out;
}

QString LogDateFormatFor(const QString& shortFormat)
{
    // The viewer, spreadsheets and people compare dates: a month name ("6 Dec 2026") sorts and reads wrong.
    // One or two 'M' are the month as a number.
    const QList<FormatRun> months = LetterRuns(shortFormat, QLatin1Char('M'));
    if (std::none_of(months.begin(), months.end(), [](const FormatRun& r) { return r.len <= 2; }))
        return QStringLiteral("dd.MM.yyyy");
    return WidenYearFormat(shortFormat);
}

QString LogDateFormat()
{
    return LogDateFormatFor(QLocale::system().dateFormat(QLocale::ShortFormat));
}

QString DefaultLogFile()
{
    return ProgramFolder::Path() + QStringLiteral("/Log/log.csv");
}

QString ResolveLogFile(const QString& stored, const QString& defaultPath)
{
    if (stored.trimmed().isEmpty())
        return defaultPath;
    if (stored != defaultPath && Cp1252::Decode(Cp1252::Encode(defaultPath)) == stored)
        return defaultPath;
    return stored;
}

QString LogFilePath()
{
    const QString def = DefaultLogFile();
    return ResolveLogFile(IniFiles::ReadIni(QStringLiteral("General"), QStringLiteral("Logfile"), def), def);
}

QString LogLine(const QDateTime& when, const QString& station, const QString& eventText)
{
    return QLocale::system().toString(when.date(), LogDateFormat()) + QLatin1Char(';') +
           when.time().toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(';') + OneLine(station) + QLatin1Char(';') +
           OneLine(eventText);
}

void WriteLog(const QString& stationName, const QString& message, const QString& stationRecord)
{
    const QString text = GetLogText(message);
    if (text.isEmpty())
        return;
    const QString path = LogFilePath();
    const QString line = LogLine(Now(), LogStationField(stationName, stationRecord), text);
    AppendBytes(path, Cp1252::Encode(line + QStringLiteral("\r\n")));
}

void SetLogClockForTests(QDateTime (*now)())
{
    g_clock = now;
}

} // namespace Functions
