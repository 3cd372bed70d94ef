#include "CcdAutopilotFile.h"

#include "Clock.h"
#include "Format.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace skyvane::outputs {

namespace {
// A text field: left-aligned, padded with blanks or cut to its width.
QString textField(const QString& text, int width) { return text.leftJustified(width, QLatin1Char(' '), true); }

QString numField(double v, const char* pattern, int width)
{
    return rightAligned(format::number(v, QString::fromLatin1(pattern)), width);
}

QString levelDigit(int level, int width) { return rightAligned(QString::number(level), width).left(width); }
} // namespace

QString rightAligned(const QString& formatted, int width)
{
    if (width <= 1) return formatted.left(1).leftJustified(1, QLatin1Char(' '));
    const QString padded = QString(width - 1, QLatin1Char(' ')) + formatted;
    return padded.right(width - 1) + QLatin1Char(' ');
}

QByteArray ccdRecord(const OutputValues& v)
{
    // The time is read once for the whole record: date, time and serial day
    // number always describe the same moment, also across midnight.
    const QDateTime& t = v.now;
    QString r;
    r.reserve(kCcdRecordLength);
    r += textField(format::dateTime(t, QStringLiteral("yyyy-mm-dd")), 11);         // 1-11
    // the pattern has no fraction: the digits after the point repeat the
    // seconds, as the imaging program has always been given them
    r += textField(format::dateTime(t, QStringLiteral("hh:mm:ss.ss")), 12);        // 12-23
    r += textField(v.temperatureLetter, 2);                                        // 24-25
    r += textField(v.speedLetter, 2);                                              // 26-27
    r += numField(v.skyTemperature, "#0.0", 7);                                    // 28-34
    r += numField(v.outTemperature, "#0.0", 7);                                    // 35-41
    r += numField(v.skySensorTemperature, "#0.0", 7);                              // 42-48
    r += numField(v.windSpeed, "#0.0", 7);                                         // 49-55
    r += numField(v.humidity, "0", 4);                                             // 56-59
    r += numField(v.dewPoint, "#0.0", 7);                                          // 60-66
    r += numField(v.rainHeaterPercent, "0", 4);                                    // 67-70
    const QString wet = v.levels[LevelRain] == 1 ? QStringLiteral("0 ") : QStringLiteral("2 ");
    r += wet;                                                                      // 71-72 rain flag
    r += wet;                                                                      // 73-74 wet flag
    r += textField(format::number(v.secondsSinceGoodData, QStringLiteral("00000")), 6); // 75-80
    r += textField(format::number(toOleDate(t), QStringLiteral("000000.00000")), 13);  // 81-93
    r += levelDigit(v.levels[LevelCloud], 2);                                      // 94-95
    r += levelDigit(v.levels[LevelWind], 2);                                       // 96-97
    r += levelDigit(v.levels[LevelRain], 2);                                       // 98-99
    r += levelDigit(v.levels[LevelBrightness], 1);                                 // 100
    QByteArray bytes = r.toLatin1();
    // Only a character outside Latin-1 (an exotic decimal symbol) could
    // change the length; the reader counts columns, so keep exactly 100.
    bytes = bytes.leftJustified(kCcdRecordLength, ' ', true);
    return bytes;
}

bool ccdFileEnabled(const QString& fileName) { return !fileName.trimmed().isEmpty(); }

QString ccdFullName(const QString& folder, const QString& fileName)
{
    // Always inside the folder: a name that looks like a full path is still
    // a name in it, as it always was.
    QString f = folder;
    while (f.size() > 1 && f.endsWith(QLatin1Char('/'))) f.chop(1);
    return f + QLatin1Char('/') + fileName;
}

bool writeCcdRecord(const QString& path, const QByteArray& record, QString* error)
{
    auto fail = [error](int e) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(e));
        return false;
    };
    const QByteArray native = QFile::encodeName(path);
    // A reader keeps finding the old record or the new one: bytes 1-100 of
    // a file that has them are overwritten in place, which needs no new
    // space. A file made now that could not be filled (a full disk) goes
    // again, so that no reader takes an empty or cut file for a record.
    int fd = ::open(native.constData(), O_WRONLY | O_CLOEXEC);
    const bool made = fd < 0 && errno == ENOENT;
    if (made) fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return fail(errno);
    ssize_t n;
    do {
        n = ::pwrite(fd, record.constData(), size_t(record.size()), 0);
    } while (n < 0 && errno == EINTR);
    int e = n < 0 ? errno : n != record.size() ? ENOSPC : 0;
    if (e == 0 && made && ::fdatasync(fd) != 0 && errno != EINVAL) e = errno;
    if (::close(fd) != 0 && e == 0) e = errno;
    if (e != 0) {
        if (made) ::unlink(native.constData());
        return fail(e);
    }
    return true;
}

} // namespace skyvane::outputs
