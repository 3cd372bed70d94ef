#include "StationReader.h"

#include "CsvStationParser.h"
#include "HtmlTableParser.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace skyvane::station {

namespace {

QDateTime modificationTime(const struct stat& st)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
}

// What tells one version of the file from the next: its modification time
// to the millisecond and its size.
QString fileStamp(const struct stat& st)
{
    return modificationTime(st).toString(Qt::ISODateWithMs) + QLatin1Char(' ') + QString::number(qint64(st.st_size));
}

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

// Reads at most limit bytes from the start of fd; false on a read error.
bool readUpTo(int fd, qint64 limit, QByteArray& out)
{
    out.resize(limit);
    qint64 got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, out.data() + got, size_t(limit - got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += n;
    }
    out.resize(got);
    return true;
}

QString wholeSeconds(qint64 ms, const format::Separators& sep)
{
    return format::number(double(ms) / 1000.0, QStringLiteral("0"), sep);
}

QString joinUnit(const QString& value, const QString& unit)
{
    return (value + QLatin1Char(' ') + unit).trimmed();
}

} // namespace

StationReader::StationReader(Clock& clock)
    : clock_(clock)
{
    startReading();
    last_.captions.fill({});
    last_.texts.fill({});
}

QString StationReader::resetFileTimeText()
{
    return QDateTime(QDate(1899, 12, 31), QTime(0, 0, 1)).toString(Qt::ISODateWithMs);
}

void StationReader::startReading()
{
    rememberedStamp_ = resetFileTimeText();
    dataTime_ = clock_.now();
    goodShape_ = Shape{};
    pendingStamp_.clear();
    badReadsInARow_ = 0;
    // What was known before monitoring stopped is no news now: the flags are
    // found afresh, and nothing read before the stop passes as data. The
    // labels stay, so that the units do not flip before the first read.
    last_.fileAbsent = false;
    last_.tooOld = false;
    last_.valid = false;
    last_.codes.clear();
    last_.alarmMessage.clear();
    last_.alarm = StationAlarmAction::None;
    last_.stopSensorServerAlarm = false;
    invalidate(last_);
}

StationCycleResult StationReader::readCycle(const StationSettings& s)
{
    if (s.filePath != lastPath_) {
        // Another file: what the old one looked like says nothing about it,
        // and its data are not this file's.
        goodShape_ = Shape{};
        pendingStamp_.clear();
        lastPath_ = s.filePath;
        last_.valid = false;
        invalidate(last_);
    }

    StationCycleResult r;
    // Labels, flags and values carry over until a good read replaces them.
    r.captions = last_.captions;
    r.texts = last_.texts;
    r.fileAbsent = last_.fileAbsent;
    r.tooOld = last_.tooOld;
    r.values = last_.values;
    r.codes = last_.codes;
    r.alarmMessage = last_.alarmMessage;

    const QDateTime now = clock_.now();
    const qint64 limitMs = timeoutMs(s);
    auto ageMs = [&] { return std::llabs(dataTime_.msecsTo(now)); };

    if (s.filePath.isEmpty()) {
        applyOutcome(r, s, StationOutcome::Absent, QStringLiteral("Weather Station Data - file not available"));
        return last_ = r;
    }
    // Open first, then look at what was opened. Looking at the path and then
    // opening it leaves a gap in which the path may turn into something
    // else, and an ordinary open of a named pipe waits for a writer for
    // ever. Without blocking, the open returns at once whatever is there.
    const int fd = ::open(QFile::encodeName(s.filePath).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) {
            applyOutcome(r, s, StationOutcome::Absent, QStringLiteral("Weather Station Data - file not available"));
        } else if (err == ENXIO || err == ENODEV || err == EOPNOTSUPP) { // a socket or a device without a driver
            applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - not a regular file"));
        } else {
            applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - file cannot be read"));
        }
        return last_ = r;
    }
    const FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - file cannot be read"));
        return last_ = r;
    }
    if (S_ISDIR(st.st_mode)) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - path is a folder"));
        return last_ = r;
    }
    if (!S_ISREG(st.st_mode)) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - not a regular file"));
        return last_ = r;
    }

    // Age check: an unchanged file is judged by the time its data carry.
    const QString stamp = fileStamp(st);
    QString freshStatus;
    if (stamp == rememberedStamp_) {
        const qint64 age = ageMs();
        if (age > limitMs) {
            applyOutcome(r, s, StationOutcome::TooOld,
                         QStringLiteral("Weather Station Data too old - ") + wholeSeconds(age, s.separators) + QStringLiteral("s old"));
            return last_ = r;
        }
        freshStatus = QStringLiteral("Weather Station Data - ") + wholeSeconds(age, s.separators) + QStringLiteral("s old");
    } else {
        freshStatus = QStringLiteral("Weather Station Data - Refreshed");
    }

    if (qint64(st.st_size) > s.maxFileBytes) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - file too large"));
        return last_ = r;
    }
    // One byte more than the file had tells a file that grew since it was
    // examined; never more than the limit allows.
    QByteArray bytes;
    if (!readUpTo(fd, std::min(qint64(st.st_size), s.maxFileBytes) + 1, bytes)) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - file cannot be read"));
        return last_ = r;
    }
    if (bytes.size() > s.maxFileBytes) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - file too large"));
        return last_ = r;
    }
    rememberedStamp_ = stamp;

    // Written to while it was read (a file replaced by a new one leaves
    // this one whole).
    struct stat after {};
    const bool changedWhileRead = ::fstat(fd, &after) != 0 || fileStamp(after) != stamp;

    // Stations that save "Unicode" text write UTF-16 with a byte-order mark.
    if (std::optional<QByteArray> utf8 = utf16AsUtf8(bytes)) bytes = std::move(*utf8);

    // The format follows the path: ".csv" (this very spelling) is
    // comma-separated, anything else an HTML page.
    table_.clear();
    const TextEncoding enc = detectEncoding(bytes);
    const bool csv = s.filePath.contains(QLatin1String(".csv"));
    Shape shape;
    shape.known = true;
    if (csv) shape.csvLineEnd = CsvStationParser::parse(bytes, enc, table_).endsWithLineEnd;
    else HtmlTableParser::parse(bytes, enc, table_, 3);

    ConversionOptions opt;
    opt.dayMonthOrder = s.dayMonthOrder;
    opt.compass = s.compass;
    opt.humidityExclusions = s.humidityExclusions;
    opt.separators = s.separators;
    opt.referenceYear = now.date().year();
    StationValues v = convertTable(table_, opt);
    shape.names = v.namesFound;

    StationOutcome outcome = StationOutcome::Fresh;
    QString status = freshStatus;
    if (changedWhileRead) {
        outcome = StationOutcome::Incomplete;
    } else if (v.namesFound == 0) {
        outcome = StationOutcome::NoReadings;
    } else if (goodShape_.known) {
        const bool lostNames = (goodShape_.names & ~shape.names) != 0;
        const bool lostLineEnd = csv && goodShape_.csvLineEnd && !shape.csvLineEnd;
        if ((lostNames || lostLineEnd) && stamp != pendingStamp_) {
            outcome = StationOutcome::Incomplete;
            pendingStamp_ = stamp;
        }
    }

    if (outcome == StationOutcome::Fresh) {
        goodShape_ = shape;
        pendingStamp_.clear();
        // Data without a readable date and time are as old as the file.
        dataTime_ = v.dataTime.isValid() ? v.dataTime : modificationTime(st);
        r.captions = v.captions;
        r.texts = v.texts;
        r.labelsRead = true;
        r.values = std::move(v);
        applyOutcome(r, s, StationOutcome::Fresh, status);
        return last_ = r;
    }

    applyBadRead(r, s, outcome);
    return last_ = r;
}

void StationReader::applyBadRead(StationCycleResult& r, const StationSettings& s, StationOutcome outcome)
{
    ++badReadsInARow_;
    // Once the last good data are past the limit they are too old, however
    // often the file changes.
    const qint64 age = std::llabs(dataTime_.msecsTo(clock_.now()));
    if (age > timeoutMs(s)) {
        applyOutcome(r, s, StationOutcome::TooOld,
                     QStringLiteral("Weather Station Data too old - ") + wholeSeconds(age, s.separators) + QStringLiteral("s old"));
        return;
    }
    applyOutcome(r, s, outcome,
                 outcome == StationOutcome::Incomplete ? QStringLiteral("Weather Station Data - file incomplete, retrying")
                                                       : QStringLiteral("Weather Station Data - no readings in file"));
    if (badReadsInARow_ == 1) {
        // Catching the station program in the middle of a rewrite is part of
        // normal work. The cycle goes on with the data of the last read, so
        // that no level, no flag and no decision moves on a file that is
        // fine again a moment later; a second bad read in a row counts.
        r.valid = last_.valid;
        r.values = last_.values;
        r.panel = last_.panel;
        r.panelNameColour = last_.panelNameColour;
        r.panelValueColour = last_.panelValueColour;
    }
}

qint64 StationReader::timeoutMs(const StationSettings& s)
{
    const double m = s.timeoutReadMinutes;
    return (m >= 0 && m < 1e9) ? qint64(m * 60000.0) : 0;
}

void StationReader::applyOutcome(StationCycleResult& r, const StationSettings& s, StationOutcome o, const QString& status)
{
    r.outcome = o;
    r.status = status;
    r.dataTime = dataTime_;
    r.alarm = StationAlarmAction::None;
    r.stopSensorServerAlarm = false;
    const bool alarmIs10 = s.currentAlarmId == QLatin1String("10");
    const bool mayStart = s.alarmWsArmed && !s.alarmWsSound.isEmpty() && !alarmIs10;

    if (o != StationOutcome::Incomplete && o != StationOutcome::NoReadings) badReadsInARow_ = 0;

    switch (o) {
    case StationOutcome::Fresh:
        r.valid = true;
        r.fileAbsent = false;
        r.tooOld = false;
        r.statusColour = colour::navy;
        r.alarmMessage.clear();
        r.readLampColour = colour::lampGreen;
        r.codes.clear();
        if (alarmIs10) r.alarm = StationAlarmAction::Stop;
        break;
    case StationOutcome::TooOld:
        r.valid = false;
        r.fileAbsent = false;
        r.tooOld = true;
        r.statusColour = colour::red;
        r.alarmMessage = QStringLiteral("WS data too old");
        r.readLampColour = colour::yellow;
        r.codes = QStringLiteral("a41");
        if (mayStart) {
            r.alarm = StationAlarmAction::Start;
            r.alarmSound = s.alarmWsSound;
            r.stopSensorServerAlarm = true;
        }
        break;
    case StationOutcome::Absent:
    case StationOutcome::Unusable:
        r.valid = false;
        r.fileAbsent = true;
        r.tooOld = true;
        r.statusColour = colour::red;
        r.alarmMessage = o == StationOutcome::Absent ? QStringLiteral("WS data file absent") : QStringLiteral("WS data file unreadable");
        r.readLampColour = colour::yellow;
        r.codes = QStringLiteral("a42");
        if (mayStart) {
            r.alarm = StationAlarmAction::Start;
            r.alarmSound = s.alarmWsSound;
        }
        break;
    case StationOutcome::Incomplete:
    case StationOutcome::NoReadings:
        // One bad cycle changes no flag and no alarm: the file is usually
        // being rewritten and is fine again next cycle.
        r.valid = false;
        r.statusColour = colour::red;
        r.readLampColour = colour::yellow;
        break;
    }
    publish(r, s);
}

void StationReader::invalidate(StationCycleResult& r)
{
    // Nothing of an old or bad read may pass as a measurement.
    for (Reading* x : {&r.values.outTemp, &r.values.windSpeed, &r.values.gust, &r.values.windDirection,
                       &r.values.rain, &r.values.humidity, &r.values.dewPoint, &r.values.barometer})
        x->ok = false;
    r.panelNameColour = colour::red;
    r.panelValueColour = colour::yellow;
    r.panel = StationPanel{};
}

void StationReader::publish(StationCycleResult& r, const StationSettings& s) const
{
    if (!r.valid) {
        invalidate(r);
        return;
    }
    r.panelNameColour = colour::panelName;
    const StationValues& v = r.values;
    r.panel.windSpeed = joinUnit(r.texts[FieldWindSpeed], v.units[FieldWindSpeed]);
    r.panel.gust = joinUnit(r.texts[FieldGust], v.units[FieldGust]);
    r.panel.direction = joinUnit(r.texts[FieldWindDirection], v.units[FieldWindDirection]);
    r.panel.dewPoint = joinUnit(r.texts[FieldDewPoint], v.units[FieldDewPoint]);
    r.panel.humidity = joinUnit(r.texts[FieldHumidity], v.units[FieldHumidity]);
    r.panel.temperature = v.outTemp.ok ? format::number(v.outTemp.value, QStringLiteral("0.0"), s.separators) : QString();
}

} // namespace skyvane::station
