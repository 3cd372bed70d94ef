#include "UserDataFile.h"

#include "Format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace skyvane::outputs {

namespace {
const char* const kHeaders[kColumnCount] = {
    "Date", "Time", "Cloud Condition", "Rain Condition", "Wind Condition", "Gust Condition",
    "Temperature Condition", "DewPoint Condition", "Humidity Condition", "Brightness Condition", "Cloud Value",
    "Rain Value", "Wind Speed", "Gust Speed", "Wind Direction", "Ambient Temperature", "DewPoint", "Humidity",
    "Brightness Value", "Rain Heating Percentage", "Rain Sensor Temperature", "Cloud Sensor Temperature",
    "Heating Status", "Switch Status",
    // spelled so since the first version: existing logs and their readers use it
    "Safe Condtition"};

QString num(double v, const char* pattern) { return format::number(v, QString::fromLatin1(pattern)); }

QString switchText(double status)
{
    if (!std::isfinite(status)) return QString();
    switch (qint64(std::llround(status))) {
    case 0: return QStringLiteral("Unknown");
    case 1: return QStringLiteral("Opened");
    case 2: return QStringLiteral("Closed");
    default: return QString();
    }
}

QString line(const ColumnTable& table, const std::function<QString(const DataColumn&)>& value)
{
    QString out;
    for (const DataColumn& c : table.columns) {
        if (!c.include) continue;
        out += QLatin1Char('"');
        out += value(c);
        out += QStringLiteral("\",");
    }
    out += QStringLiteral("\r\n");
    return out;
}
} // namespace

ColumnTable ColumnTable::defaults()
{
    ColumnTable t;
    for (int i = 0; i < kColumnCount; ++i) t.columns[size_t(i)] = {defaultHeader(i + 1), i + 1, true};
    return t;
}

QString defaultHeader(int quantity)
{
    if (quantity < 1 || quantity > kColumnCount) return QString();
    return QString::fromLatin1(kHeaders[quantity - 1]);
}

QString defaultChooserText(int quantity)
{
    return QStringLiteral("(%1) ").arg(quantity, 2, 10, QLatin1Char('0')) + defaultHeader(quantity);
}

QString formatQuantity(int quantity, const OutputValues& v)
{
    switch (quantity) {
    case 1: return format::dateTime(v.lastReading, QStringLiteral("yyyy-mm-dd"));
    case 2: return format::dateTime(v.lastReading, QStringLiteral("hh:mm:ss"));
    case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 10:
        return v.levelTexts[size_t(quantity - 3)];
    case 11: return num(v.skyTemperature, "0.0");
    case 12: return num(v.rainValue, "0");
    case 13: return num(v.windSpeed, "0");
    case 14: return num(v.gust, "0");
    case 15: return num(v.windDirection, "0.0");
    case 16: return num(v.outTemperature, "0.0");
    case 17: return num(v.dewPoint, "0.0");
    case 18: return num(v.humidity, "0");
    case 19: return num(v.brightnessValue, "0");
    case 20: {
        const QString p = num(v.rainHeaterPercent, "0");
        return p.isEmpty() ? p : p + QLatin1Char('%');
    }
    case 21: return num(v.rainHeaterTemperature, "0.0");
    case 22: return num(v.skySensorTemperature, "0.0");
    case 23: return v.rainHeaterStatus;
    case 24: return switchText(v.switchStatus);
    case 25: return v.unsafe ? QStringLiteral("Unsafe") : QStringLiteral("Safe");
    default: return QString();
    }
}

QString headerLine(const ColumnTable& table)
{
    return line(table, [](const DataColumn& c) { return c.header.trimmed(); });
}

QString dataLine(const ColumnTable& table, const OutputValues& v)
{
    return line(table, [&v](const DataColumn& c) { return formatQuantity(c.quantity, v); });
}

// ---- the file ----------------------------------------------------------------

UserDataFile::~UserDataFile() { close(); }

QString UserDataFile::fullName(const QString& folder, const QString& name)
{
    // always inside the folder, whatever the name looks like
    QString f = folder.trimmed();
    while (f.size() > 1 && f.endsWith(QLatin1Char('/'))) f.chop(1);
    return f + QLatin1Char('/') + name.trimmed() + QStringLiteral(".csv");
}

bool UserDataFile::open(const QString& path, bool append, const ColumnTable& table)
{
    close();
    path_ = path;
    const QByteArray native = QFile::encodeName(path);
    const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = ::open(native.constData(), flags, 0644);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    fd_ = fd;
    error_.clear();
    lastWriteOk_ = true;
    cutLine_ = false;
    if (append) endUnfinishedLine();
    // a header line after every open, also when appending: an appended file
    // holds one header for each start of recording
    writeLine(headerLine(table).toLocal8Bit());
    return true;
}

void UserDataFile::endUnfinishedLine()
{
    // A file that does not end with a line end is either one of ours cut by
    // a crash, or a file of the user's own (notes, another program's log).
    // Either way its bytes stay: the next line starts a line of its own.
    const off_t size = ::lseek(fd_, 0, SEEK_END);
    if (size <= 0) return;
    char last = 0;
    if (::pread(fd_, &last, 1, size - 1) != 1) return;
    if (last != '\n') cutLine_ = true; // the next write ends it first
}

void UserDataFile::close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool UserDataFile::writeLine(const QByteArray& bytes)
{
    // One write for the whole line: a reader, or a crash, never sees half a
    // line from us. A line that does not fit (a full disk) is taken back
    // whole, so the file never ends in a cut line of ours; when even that
    // fails, the next line first ends the cut one. Errors are not fatal:
    // recording goes on and the next line tries again.
    QByteArray out;
    if (cutLine_) out = QByteArrayLiteral("\r\n");
    out += bytes;
    const off_t before = ::lseek(fd_, 0, SEEK_END);
    const char* p = out.constData();
    qsizetype left = out.size();
    int failure = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            failure = errno;
            break;
        }
        p += n;
        left -= n;
    }
    // A file system that allocates late reports a full disk only here.
    if (failure == 0 && ::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) failure = errno;
    if (failure == 0) {
        cutLine_ = false;
        lastWriteOk_ = true;
        return true;
    }
    error_ = QString::fromLocal8Bit(std::strerror(failure));
    lastWriteOk_ = false;
    if (before >= 0 && p != out.constData()) cutLine_ = ::ftruncate(fd_, before) != 0;
    return false;
}

bool UserDataFile::cycle(const ColumnTable& table, int savePeriod, const OutputValues& v)
{
    if (!isRecording()) return false;
    if (counter_ >= std::max(1, savePeriod)) counter_ = 0;
    if (counter_ != 0) {
        ++counter_;
        return false;
    }
    ++counter_;
    return writeLine(dataLine(table, v).toLocal8Bit());
}

StartOutcome startByUser(UserDataFile& file, const QString& folder, const QString& name, const ColumnTable& table,
                         const std::function<AppendAnswer()>& askAppend)
{
    file.close();
    if (name.trimmed().isEmpty()) return StartOutcome::NoName;
    if (folder.trimmed().isEmpty()) return StartOutcome::NoFolder;
    const QString path = UserDataFile::fullName(folder, name);
    bool append = false;
    if (QFileInfo(path).isFile()) {
        switch (askAppend ? askAppend() : AppendAnswer::Yes) {
        case AppendAnswer::Yes: append = true; break;
        case AppendAnswer::No: append = false; break;
        case AppendAnswer::Cancel: return StartOutcome::Cancelled;
        }
    }
    return file.open(path, append, table) ? StartOutcome::Started : StartOutcome::OpenFailed;
}

} // namespace skyvane::outputs
