#include "StationReader.h"

#include "CsvStationParser.h"
#include "HtmlTableParser.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdlib>

namespace skyvane::station {

namespace {

// What tells one version of the file from the next: its modification time
// to the millisecond and its size.
QString fileStamp(const QFileInfo& fi)
{
    return fi.lastModified().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + QString::number(fi.size());
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
}

StationCycleResult StationReader::readCycle(const StationSettings& s)
{
    StationCycleResult r;
    // Labels, flags and values carry over until a good read replaces them.
    r.captions = last_.captions;
    r.texts = last_.texts;
    r.fileAbsent = last_.fileAbsent;
    r.tooOld = last_.tooOld;
    r.values = last_.values;
    r.codes = last_.codes;
    r.alarmMessage = last_.alarmMessage;

    if (s.filePath != lastPath_) {
        // Another file: what the old one looked like says nothing about it.
        goodShape_ = Shape{};
        pendingStamp_.clear();
        lastPath_ = s.filePath;
    }

    const QDateTime now = clock_.now();
    const qint64 limitMs = timeoutMs(s);
    auto ageMs = [&] { return std::llabs(dataTime_.msecsTo(now)); };

    QFileInfo fi(s.filePath);
    fi.setCaching(false);
    if (s.filePath.isEmpty() || !fi.exists()) {
        applyOutcome(r, s, StationOutcome::Absent, QStringLiteral("Weather Station Data - file not available"));
        return last_ = r;
    }
    if (fi.isDir()) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - path is a folder"));
        return last_ = r;
    }
    if (!fi.isFile()) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - not a regular file"));
        return last_ = r;
    }

    // Age check: an unchanged file is judged by the time its data carry.
    const QString stamp = fileStamp(fi);
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

    if (fi.size() > s.maxFileBytes) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - file too large"));
        return last_ = r;
    }
    QFile file(s.filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(s.filePath)) {
            // Gone between the look and the open: the station program is
            // replacing it. Read again next cycle.
            applyBadRead(r, s, StationOutcome::Incomplete);
            return last_ = r;
        }
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - file cannot be read"));
        return last_ = r;
    }
    // One byte more than the file had tells a file that grew since it was
    // examined; never more than the limit allows.
    const QByteArray bytes = file.read(std::min(fi.size(), s.maxFileBytes) + 1);
    const bool readError = file.error() != QFileDevice::NoError;
    file.close();
    if (readError) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - file cannot be read"));
        return last_ = r;
    }
    if (bytes.size() > s.maxFileBytes) {
        applyOutcome(r, s, StationOutcome::Unusable, QStringLiteral("Weather Station Data - file too large"));
        return last_ = r;
    }
    rememberedStamp_ = stamp;

    QFileInfo after(s.filePath);
    after.setCaching(false);
    const bool changedWhileRead = !after.exists() || fileStamp(after) != stamp;

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
        dataTime_ = v.dataTime.isValid() ? v.dataTime : fi.lastModified();
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

void StationReader::publish(StationCycleResult& r, const StationSettings& s) const
{
    if (!r.valid) {
        // Nothing of an old or bad read may pass as a measurement.
        for (Reading* x : {&r.values.outTemp, &r.values.windSpeed, &r.values.gust, &r.values.windDirection,
                           &r.values.rain, &r.values.humidity, &r.values.dewPoint, &r.values.barometer})
            x->ok = false;
        r.panelNameColour = colour::red;
        r.panelValueColour = colour::yellow;
        r.panel = StationPanel{};
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
