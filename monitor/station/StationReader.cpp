#include "StationReader.h"

#include "CsvStationParser.h"
#include "HtmlTableParser.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace skyvane::station {

namespace {

QDateTime modificationTime(const struct stat& st)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
}

// What tells one version of the file from the next: its modification time
// to the nanosecond, its size and its inode (a file replaced by a new one).
QString fileStamp(const struct stat& st)
{
    return QString::number(qint64(st.st_mtim.tv_sec)) + QLatin1Char('.') + QString::number(qint64(st.st_mtim.tv_nsec)) +
           QLatin1Char(' ') + QString::number(qint64(st.st_size)) + QLatin1Char(' ') + QString::number(quint64(st.st_ino));
}

// The pauses before the second, third and fourth look at a file that looked
// like a rewrite caught in the act. Most station programs finish a rewrite
// within milliseconds, so the first pause is short; the others are spread so
// that a program rewriting on a fixed beat (every 100 ms, say) is not met at
// the same point of its beat each time. With the reads themselves they fit
// in kRetryBudgetMs, the most a cycle's decision may wait for the file.
constexpr qint64 kRetryPausesMs[] = {30, 110, 230};
constexpr int kMaxRetries = int(std::size(kRetryPausesMs));
constexpr qint64 kRetryBudgetMs = 500;

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

// "+3600" when the station's clock is ahead, "-3600" when behind.
QString signedSeconds(qint64 ms, const format::Separators& sep)
{
    return (ms > 0 ? QStringLiteral("+") : QString()) + wholeSeconds(ms, sep);
}

QString joinUnit(const QString& value, const QString& unit)
{
    return (value + QLatin1Char(' ') + unit).trimmed();
}

} // namespace

// One look at the file: what was there and what it held.
struct StationReader::Look {
    StationOutcome failure = StationOutcome::Fresh; // Absent or Unusable when nothing could be read
    QString failureStatus;
    QString stamp;
    QDateTime modified;
    bool changedWhileRead = false;
    bool unterminated = false;        // the last record had no line end
    bool unterminatedCounted = false; // ... and was taken as whole
    QString cutName;                  // the name of a record that was cut off
    bool recordCut = false;
    StationTable table;
    StationValues values;
};

StationReader::StationReader(Clock& clock)
    : clock_(clock)
{
    startReading();
    last_.captions.fill({});
    last_.texts.fill({});
}

StationReader::~StationReader() = default;

QString StationReader::resetFileTimeText()
{
    return QDateTime(QDate(1899, 12, 31), QTime(0, 0, 1)).toString(Qt::ISODateWithMs);
}

void StationReader::startReading()
{
    rememberedStamp_ = resetFileTimeText();
    dataTime_ = clock_.now();
    forgetFile();
    // What was known before monitoring stopped is no news now: the flags are
    // found afresh, and nothing read before the stop passes as data. The
    // labels stay, so that the units do not flip before the first read.
    last_.fileAbsent = false;
    last_.tooOld = false;
    last_.codes.clear();
    last_.alarmMessage.clear();
    last_.alarm = StationAlarmAction::None;
    last_.stopSensorServerAlarm = false;
}

void StationReader::forgetFile()
{
    previous_ = PreviousRead{};
    counted_ = false;
    countedNames_ = 0;
    badCyclesInARow_ = 0;
    tries_ = 0;
    bestLook_.reset();
    clockDiffersMs_.reset();
    last_.valid = false;
    invalidate(last_);
}

StationCycleResult StationReader::carriedOver() const
{
    // Labels and flags carry over until a read replaces them; values only
    // where a rule says so.
    StationCycleResult r;
    r.captions = last_.captions;
    r.texts = last_.texts;
    r.fileAbsent = last_.fileAbsent;
    r.tooOld = last_.tooOld;
    r.values = last_.values;
    r.codes = last_.codes;
    r.alarmMessage = last_.alarmMessage;
    return r;
}

qint64 StationReader::ageMs() const { return std::llabs(dataTime_.msecsTo(clock_.now())); }

bool StationReader::mayTryAgain() const
{
    if (tries_ >= kMaxRetries) return false;
    const qint64 spent = tries_ == 0 ? 0 : clock_.msClock() - firstTryMs_;
    return spent + kRetryPausesMs[tries_] <= kRetryBudgetMs;
}

StationCycleResult StationReader::readCycle(const StationSettings& s)
{
    if (s.filePath != lastPath_) {
        // Another file: what the old one held and how it was written say
        // nothing about this one.
        forgetFile();
        lastPath_ = s.filePath;
    }
    if (tries_ == 0) firstTryMs_ = clock_.msClock();
    const int tries = tries_ + 1;
    StationCycleResult r = carriedOver();
    r.tries = tries;
    auto done = [&]() -> StationCycleResult {
        tries_ = 0;
        bestLook_.reset();
        return last_ = r;
    };

    if (s.filePath.isEmpty()) {
        applyOutcome(r, s, StationOutcome::Absent, QStringLiteral("Weather Station Data - file not available"));
        return done();
    }
    Look l = look(s);
    if (l.failure != StationOutcome::Fresh) {
        applyOutcome(r, s, l.failure, l.failureStatus);
        return done();
    }

    // Age check: an unchanged file is judged by the time its data carry.
    const bool unchanged = l.stamp == rememberedStamp_;
    if (unchanged && ageMs() > timeoutMs(s)) {
        turnedTooOld(r, s);
        return done();
    }

    Defect defect = defectOf(l);
    // Another look helps only while the file is changing; a file that has
    // stayed as it is since the last cycle will not mend itself in a moment.
    const bool changing = !previous_.exists || l.stamp != previous_.stamp;
    // Defects are declared from the most usable to the least: a look with
    // readings beats one caught with none.
    if (tries_ > 0 && bestLook_ && bestDefect_ < defect) {
        l = std::move(*bestLook_);
        defect = bestDefect_;
    }
    if (defect != Defect::None && changing && mayTryAgain()) {
        bestLook_ = std::make_unique<Look>(std::move(l));
        bestDefect_ = defect;
        StationCycleResult again;
        again.retryInMs = kRetryPausesMs[tries_];
        again.tries = tries;
        ++tries_;
        return again;
    }

    // This try is the cycle's read. A read that ended without a line end
    // tells of a station that writes none only when nothing else was wrong
    // with it: a file cut in the middle of a rewrite tells nothing.
    rememberedStamp_ = l.stamp;
    const bool sameVersion = previous_.exists && l.stamp == previous_.stamp;
    const bool onlyTheLineEnd = l.unterminated && !l.changedWhileRead && l.values.namesFound != 0 && !lostOtherNames(l);
    const int run = sameVersion ? previous_.unterminatedRun : onlyTheLineEnd ? previous_.unterminatedRun + 1 : 0;
    previous_ = PreviousRead{true, l.stamp, run, l.unterminatedCounted};
    const QString status = unchanged ? QStringLiteral("Weather Station Data - ") + wholeSeconds(ageMs(), s.separators) +
                                           QStringLiteral("s old")
                                     : QStringLiteral("Weather Station Data - Refreshed");
    if (defect == Defect::None) {
        badCyclesInARow_ = 0;
        count(r, s, l, status);
        return done();
    }
    // Catching the station program in the middle of a rewrite is part of
    // normal work, so the first bad cycle in a row is forgiven; a second
    // one is not, and nothing read before a Start is carried.
    ++badCyclesInARow_;
    if (badCyclesInARow_ == 1 && counted_) forgive(r, s);
    else if (defect == Defect::NoReadings || defect == Defect::ChangedWhileRead) noReadings(r, s, defect);
    else count(r, s, l, status);
    return done();
}

StationReader::Look StationReader::look(const StationSettings& s) const
{
    Look l;
    auto fail = [&](StationOutcome o, const char* status) {
        l.failure = o;
        l.failureStatus = QString::fromLatin1(status);
        return std::move(l);
    };
    // Open first, then look at what was opened. Looking at the path and then
    // opening it leaves a gap in which the path may turn into something
    // else, and an ordinary open of a named pipe waits for a writer for
    // ever. Without blocking, the open returns at once whatever is there.
    const int fd = ::open(QFile::encodeName(s.filePath).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return fail(StationOutcome::Absent, "Weather Station Data - file not available");
        if (err == ENXIO || err == ENODEV || err == EOPNOTSUPP) // a socket or a device without a driver
            return fail(StationOutcome::Unusable, "Weather Station Data - not a regular file");
        return fail(StationOutcome::Unusable, "Weather Station Data - file cannot be read");
    }
    const FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(StationOutcome::Unusable, "Weather Station Data - file cannot be read");
    if (S_ISDIR(st.st_mode)) return fail(StationOutcome::Unusable, "Weather Station Data - path is a folder");
    if (!S_ISREG(st.st_mode)) return fail(StationOutcome::Unusable, "Weather Station Data - not a regular file");
    if (qint64(st.st_size) > s.maxFileBytes) return fail(StationOutcome::Unusable, "Weather Station Data - file too large");

    // One byte more than the file had tells a file that grew since it was
    // examined; never more than the limit allows.
    QByteArray bytes;
    if (!readUpTo(fd, std::min(qint64(st.st_size), s.maxFileBytes) + 1, bytes))
        return fail(StationOutcome::Unusable, "Weather Station Data - file cannot be read");
    if (bytes.size() > s.maxFileBytes) return fail(StationOutcome::Unusable, "Weather Station Data - file too large");
    l.stamp = fileStamp(st);
    l.modified = modificationTime(st);
    // Written to while it was read (a file replaced by a new one leaves
    // this one whole).
    struct stat after {};
    l.changedWhileRead = ::fstat(fd, &after) != 0 || fileStamp(after) != l.stamp || bytes.size() != qint64(st.st_size);

    // Stations that save "Unicode" text write UTF-16 with a byte-order mark.
    if (std::optional<QByteArray> utf8 = utf16AsUtf8(bytes)) bytes = std::move(*utf8);

    // The format follows the path: ".csv" (this very spelling) is
    // comma-separated, anything else an HTML page.
    const TextEncoding enc = detectEncoding(bytes);
    ConversionOptions opt;
    opt.dayMonthOrder = s.dayMonthOrder;
    opt.compass = s.compass;
    opt.humidityExclusions = s.humidityExclusions;
    opt.separators = s.separators;
    opt.referenceYear = clock_.now().date().year();
    opt.fileModified = l.modified;
    if (s.filePath.contains(QLatin1String(".csv"))) {
        // A last record without its line end is whole only from a station
        // that writes none; an unchanged file keeps the last read's verdict.
        const bool sameVersion = previous_.exists && l.stamp == previous_.stamp;
        bool keepLast = sameVersion ? previous_.unterminatedCounted : previous_.unterminatedRun >= 2;
        for (;;) {
            l.table.clear();
            const CsvParseInfo info = CsvStationParser::parse(bytes, enc, l.table, keepLast);
            l.unterminated = info.unterminatedLastLine;
            l.unterminatedCounted = info.unterminatedLastLine && !info.droppedLastLine;
            l.recordCut = info.droppedLastLine;
            l.cutName = info.droppedName;
            l.values = convertTable(l.table, opt);
            // Caught in the middle of a rewrite, with later names missing:
            // its last record is cut whatever the station's habit.
            if (!keepLast || !l.unterminatedCounted || !lostOtherNames(l)) break;
            keepLast = false;
        }
    } else {
        HtmlTableParser::parse(bytes, enc, l.table, 3);
        l.values = convertTable(l.table, opt);
    }
    if (l.recordCut) {
        // The quantity whose record was cut is not in the file, for a reason
        // the reasons give.
        const std::pair<StationName, Reading StationValues::*> byName[] = {
            {NameOutTemp, &StationValues::outTemp},         {NameWindSpeed, &StationValues::windSpeed},
            {NameGust, &StationValues::gust},               {NameWindDirection, &StationValues::windDirection},
            {NameOutHumidity, &StationValues::humidity},    {NameDewPoint, &StationValues::dewPoint},
            {NameBarometer, &StationValues::barometer},     {NameRainDayMin, &StationValues::rain},
            {NameRainDayMax, &StationValues::rain},
        };
        for (const auto& [name, reading] : byName) {
            Reading& x = l.values.*reading;
            if (!x.ok && stationName(name).compare(l.cutName, Qt::CaseInsensitive) == 0) x.missing = Missing::RecordCut;
        }
    }
    return l;
}

bool StationReader::lostOtherNames(const Look& l) const
{
    if (!counted_) return false;
    unsigned lost = countedNames_ & ~l.values.namesFound;
    for (int n = 0; n < NameCount; ++n)
        if (l.recordCut && stationName(StationName(n)).compare(l.cutName, Qt::CaseInsensitive) == 0) lost &= ~(1u << n);
    return lost != 0;
}

StationReader::Defect StationReader::defectOf(const Look& l) const
{
    if (l.changedWhileRead) return Defect::ChangedWhileRead;
    if (l.values.namesFound == 0) return Defect::NoReadings;
    if (l.recordCut) return Defect::RecordCut;
    if (counted_ && (countedNames_ & ~l.values.namesFound) != 0) return Defect::LostNames;
    return Defect::None;
}

void StationReader::count(StationCycleResult& r, const StationSettings& s, Look& l, const QString& status)
{
    counted_ = true;
    countedNames_ = l.values.namesFound;
    // Data without a readable date and time are as old as the file.
    dataTime_ = l.values.dataTime.isValid() ? l.values.dataTime : l.modified;
    r.captions = l.values.captions;
    r.texts = l.values.texts;
    r.labelsRead = true;
    r.values = std::move(l.values);
    // A file that changed is fresh, unless its data's time is further from
    // the file's own time than the age limit and too old by the computer's
    // clock: a station whose clock is off (or one that rewrites an old
    // reading) would otherwise be fresh at each change and too old between
    // them. It stays too old, and the status says why.
    const qint64 differs = l.modified.msecsTo(dataTime_);
    clockDiffersMs_.reset();
    if (std::llabs(differs) > timeoutMs(s)) clockDiffersMs_ = differs;
    if (clockDiffersMs_ && turnedTooOld(r, s)) return;
    applyOutcome(r, s, StationOutcome::Fresh, status);
}

bool StationReader::turnedTooOld(StationCycleResult& r, const StationSettings& s)
{
    const qint64 age = ageMs();
    if (age <= timeoutMs(s)) return false;
    applyOutcome(r, s, StationOutcome::TooOld,
                 clockDiffersMs_ ? QStringLiteral("Weather Station Data - station clock differs by ") +
                                       signedSeconds(*clockDiffersMs_, s.separators) + QStringLiteral("s")
                                 : QStringLiteral("Weather Station Data too old - ") + wholeSeconds(age, s.separators) +
                                       QStringLiteral("s old"));
    return true;
}

void StationReader::forgive(StationCycleResult& r, const StationSettings& s)
{
    // Once the last counted data are past the limit they are too old,
    // however often the file changes.
    if (turnedTooOld(r, s)) return;
    applyOutcome(r, s, StationOutcome::BeingWritten,
                 QStringLiteral("Weather Station Data - file being written - ") + wholeSeconds(ageMs(), s.separators) +
                     QStringLiteral("s old"));
    // The cycle goes on with the data of the last read, so that no level,
    // no flag and no decision moves.
    r.valid = last_.valid;
    r.values = last_.values;
    r.panel = last_.panel;
    r.panelNameColour = last_.panelNameColour;
    r.panelValueColour = last_.panelValueColour;
}

void StationReader::noReadings(StationCycleResult& r, const StationSettings& s, Defect d)
{
    // Invalid data, as old as the last counted read.
    if (turnedTooOld(r, s)) return;
    const QString what = d == Defect::ChangedWhileRead ? QStringLiteral("file changing while read")
                                                       : QStringLiteral("no readings in file");
    applyOutcome(r, s, StationOutcome::NoReadings,
                 QStringLiteral("Weather Station Data - ") + what + QStringLiteral(" - ") +
                     wholeSeconds(ageMs(), s.separators) + QStringLiteral("s old"));
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

    switch (o) {
    case StationOutcome::Fresh:
        r.valid = true;
        r.fileAbsent = false;
        r.tooOld = false;
        r.statusColour = colour::Navy;
        r.alarmMessage.clear();
        r.readLampColour = colour::Lime;
        r.codes.clear();
        if (alarmIs10) r.alarm = StationAlarmAction::Stop;
        break;
    case StationOutcome::TooOld:
        r.valid = false;
        r.fileAbsent = false;
        r.tooOld = true;
        r.statusColour = colour::Red;
        r.alarmMessage = QStringLiteral("WS data too old");
        r.readLampColour = colour::Yellow;
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
        r.statusColour = colour::Red;
        r.alarmMessage = o == StationOutcome::Absent ? QStringLiteral("WS data file absent") : QStringLiteral("WS data file unreadable");
        r.readLampColour = colour::Yellow;
        r.codes = QStringLiteral("a42");
        if (mayStart) {
            r.alarm = StationAlarmAction::Start;
            r.alarmSound = s.alarmWsSound;
        }
        break;
    case StationOutcome::BeingWritten:
    case StationOutcome::NoReadings:
        // The flags and the alarm wait for the time-out: the file is there
        // and changing, and its data turn too old by their age.
        r.valid = false;
        r.statusColour = colour::Red;
        r.readLampColour = colour::Yellow;
        break;
    }
    publish(r, s);
}

void StationReader::invalidate(StationCycleResult& r)
{
    // Nothing of an old or bad read may pass as a measurement.
    for (Reading* x : {&r.values.outTemp, &r.values.windSpeed, &r.values.gust, &r.values.windDirection,
                       &r.values.rain, &r.values.humidity, &r.values.dewPoint, &r.values.barometer})
        *x = Reading::none(Missing::NoData);
    r.panelNameColour = colour::Red;
    r.panelValueColour = colour::Yellow;
    r.panel = StationPanel{};
}

void StationReader::publish(StationCycleResult& r, const StationSettings& s) const
{
    if (!r.valid) {
        invalidate(r);
        return;
    }
    r.panelNameColour = colour::Cyan;
    const StationValues& v = r.values;
    r.panel.windSpeed = joinUnit(r.texts[FieldWindSpeed], v.units[FieldWindSpeed]);
    r.panel.gust = joinUnit(r.texts[FieldGust], v.units[FieldGust]);
    r.panel.direction = joinUnit(r.texts[FieldWindDirection], v.units[FieldWindDirection]);
    r.panel.dewPoint = joinUnit(r.texts[FieldDewPoint], v.units[FieldDewPoint]);
    r.panel.humidity = joinUnit(r.texts[FieldHumidity], v.units[FieldHumidity]);
    r.panel.temperature = v.outTemp.ok ? format::number(v.outTemp.value, QStringLiteral("0.0"), s.separators) : QString();
}

} // namespace skyvane::station
