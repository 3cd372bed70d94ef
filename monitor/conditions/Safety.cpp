#include "Safety.h"

#include "Clock.h"
#include "Colours.h"
#include "Format.h"
#include "Levels.h"
#include "Units.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cmath>
#include <limits>

namespace skyvane::conditions {

namespace {

// Reads one fixed-width field of a sector text: an optional sign and digits,
// blanks around allowed. Anything else is unreadable.
std::optional<int> sectorField(const QString& field)
{
    const QString f = field.trimmed();
    if (f.isEmpty()) return 0;
    int i = 0;
    if (f[0] == QLatin1Char('-') || f[0] == QLatin1Char('+')) i = 1;
    if (i >= f.size()) return std::nullopt;
    for (int j = i; j < f.size(); ++j)
        if (!f[j].isDigit()) return std::nullopt;
    bool ok = false;
    const int v = f.toInt(&ok);
    if (!ok) return std::nullopt;
    return v;
}

// Gates are applied in this order; it is also the order of the reasons.
constexpr std::array<Quantity, kQuantityCount> kDecisionOrder{
    Quantity::Cloud,    Quantity::Rain,     Quantity::Wind,        Quantity::Gust,
    Quantity::DewPoint, Quantity::Humidity, Quantity::Temperature, Quantity::Brightness};

// Delays beyond a few years are nonsense; keep the date arithmetic in range.
constexpr double kMaxDelaySeconds = 1e8;

} // namespace

SectorText parseSectorText(const QString& text)
{
    SectorText r;
    const QString s = text.trimmed();
    if (s.isEmpty()) return r;
    const QString p = s + QStringLiteral("0000 0000 000");
    const auto from = sectorField(p.mid(0, 4));
    const auto to = sectorField(p.mid(5, 4));
    const auto minutes = sectorField(p.mid(10, 2));
    const bool inRange = from && to && minutes && *from >= -359 && *from <= 359 && *to >= -359 && *to <= 359 &&
                         *minutes >= 0;
    if (!inRange) {
        r.kind = SectorText::Kind::Invalid;
        return r;
    }
    r.kind = SectorText::Kind::Valid;
    r.sector = {*from, *to, *minutes};
    return r;
}

QString formatSectorText(const DirectionSector& s)
{
    const auto degrees = [](int v) { return format::number(v, QStringLiteral("000")).leftJustified(4, QLatin1Char(' ')); };
    return degrees(s.from) + QLatin1Char(' ') + degrees(s.to) + QLatin1Char(' ') +
           format::number(s.minutes, QStringLiteral("00")) + QLatin1Char(' ');
}

bool sectorContains(const DirectionSector& s, double direction)
{
    if (!std::isfinite(direction)) return true;
    double d = std::fmod(direction, 360.0);
    if (d < 0) d += 360.0;
    const int deg = int(std::floor(d)) % 360;
    if (s.from >= 0) return s.from <= deg && deg <= s.to;
    return deg >= s.from + 360 || deg <= s.to;
}

UnsafeFlagDisplay unsafeFlagDisplay(bool reportedUnsafe)
{
    if (reportedUnsafe) return {QStringLiteral("Unsafe"), colour::Red};
    return {QStringLiteral("Safe"), colour::Lime};
}

SwitchCommand switchCommand(bool reportedUnsafe)
{
    if (reportedUnsafe) return {2.0, QStringLiteral("Closed"), colour::Red};
    return {1.0, QStringLiteral("Opened"), colour::Green};
}

// ---- evaluator -------------------------------------------------------------------

SafetyEvaluator::SafetyEvaluator(Clock& clock) : clock_(clock), lastChange_(clock.msClock()) {}

void SafetyEvaluator::start()
{
    state_ = LastRaw::NoneSinceStart;
    lastChange_ = clock_.msClock();
    message_.clear();
    remaining_ = 0;
    cloudSince_.reset();
    lastCloudLevel_ = Level::Two;
}

qint64 SafetyEvaluator::msSince(const std::optional<qint64>& t) const
{
    if (!t) return std::numeric_limits<qint64>::max();
    return clock_.msClock() - *t;
}

bool SafetyEvaluator::cloudLevelCounts(Level level, Level k)
{
    if (level != k) return false;
    const Level prev = lastCloudLevel_;
    if (prev != level) {
        lastCloudLevel_ = level;
        cloudSince_ = clock_.msClock();
    }
    // Cloudy that follows Clear must last the cloud alarm delay; Cloudy that
    // follows Overcast counts at once and stays confirmed.
    if (level == Level::Two && prev != Level::Three)
        return double(msSince(cloudSince_)) >= cloudAlarmDelay_ * 1000.0;
    if (prev == Level::Three) cloudSince_.reset();
    return true;
}

bool SafetyEvaluator::sectorHolds(Quantity kind, const QString& sectorText, std::optional<double> direction)
{
    const SectorText st = parseSectorText(sectorText);
    if (st.kind != SectorText::Kind::Valid) return true;
    std::optional<qint64>& since = kind == Quantity::Gust ? gustSince_ : windSince_;
    const bool inside = !direction || sectorContains(st.sector, *direction);
    qint64 elapsedMs = 0;
    if (inside) {
        elapsedMs = msSince(since);
    } else {
        since = clock_.msClock();
    }
    return elapsedMs >= qint64(st.sector.minutes) * 60000;
}

void SafetyEvaluator::applySafeDelay(bool raw, double delay)
{
    const qint64 now = clock_.msClock();
    const LastRaw found = raw ? LastRaw::Unsafe : LastRaw::Safe;
    if (state_ == LastRaw::NoneSinceStart) {
        // First evaluation since Start: reported as it is, without delay.
        lastChange_ = now - qint64(std::llround(delay * 1000.0));
        reported_ = raw;
        state_ = found;
        return;
    }
    if (state_ != found) lastChange_ = now; // the delay runs from the last change

    if (delay <= 0 || raw) {
        remaining_ = 0;
        message_.clear();
        reported_ = raw;
    } else {
        const qint64 elapsed = (now - lastChange_) / 1000;
        if (delay > double(elapsed)) {
            remaining_ = int(roundHalfEven(delay - double(elapsed)));
            message_ = QStringLiteral("SAFE condition delayed by ") + QString::number(remaining_) + QStringLiteral(" s");
            reported_ = true;
        } else {
            remaining_ = 0;
            message_.clear();
            reported_ = false;
        }
    }
    state_ = found;
}

SafetyResult SafetyEvaluator::evaluate(const SafetyInputs& in, const SafetyConfig& config, bool hasControl)
{
    SafetyResult r;
    // While a client has control nothing of the decision moves, the cloud
    // confirmation and the sector times included: the gates are asked only
    // for the label colours, and their time state is put back afterwards.
    struct GateTimes {
        Level lastCloudLevel;
        std::optional<qint64> cloudSince, windSince, gustSince;
    };
    const GateTimes saved{lastCloudLevel_, cloudSince_, windSince_, gustSince_};
    for (Quantity q : kAllQuantities) {
        r.levelGate[q] = {false, false, false};
        r.countsUnsafe[q] = false;
    }

    std::vector<UnsafeReason> raw;
    for (Quantity q : kDecisionOrder) {
        const Level l = in.levels[q];
        const int i = levelIndex(l);
        if (i >= 0) {
            bool gate = true;
            UnsafeReason why{UnsafeCause::MarkedLevel, q, l, in.values[q]};
            if (q == Quantity::Cloud) {
                gate = cloudLevelCounts(l, l);
                if (l == Level::Two) why.gate = UnsafeGate::CloudGate;
            } else if (hasDirectionSector(q)) {
                const QString& text = config.sectors(q)[std::size_t(i)];
                gate = sectorHolds(q, text, in.windDirection);
                const SectorText st = parseSectorText(text);
                if (st.kind == SectorText::Kind::Valid) {
                    why.gate = q == Quantity::Gust ? UnsafeGate::GustSector : UnsafeGate::WindSector;
                    why.sector = text;
                    why.sectorMinutes = st.sector.minutes;
                }
            }
            r.levelGate[q][std::size_t(i)] = gate;
            if (gate && config.unsafeMarks[q][std::size_t(i)]) {
                r.countsUnsafe[q] = true;
                raw.push_back(why);
            }
        } else {
            // A quantity the user cares about that cannot be judged is not
            // taken as safe. While its data source is flagged stale the
            // stale-data option decides instead.
            const bool sourceFlagged = isSuppliedBySensor(q) ? in.sensorError : in.stationTooOld;
            if (config.anyMark(q) && !sourceFlagged) {
                r.countsUnsafe[q] = true;
                UnsafeReason why{UnsafeCause::UnknownLevel, q, l, in.values[q]};
                // Why there is no level: what the source lacks, or else a
                // value out of the plausible range.
                why.detail = !in.missing[q].isEmpty() ? in.missing[q]
                             : in.values[q]           ? QStringLiteral("above the highest limit")
                                                      : QString();
                raw.push_back(why);
            }
        }
    }
    if (config.wsDataOldUnsafe && in.stationTooOld) {
        UnsafeReason why{UnsafeCause::StationDataOld};
        if (in.stationAgeSeconds >= 0) why.value = in.stationAgeSeconds;
        raw.push_back(why);
    }
    if (config.npDataOldUnsafe && in.sensorError) raw.push_back({UnsafeCause::SensorDataError});
    r.rawUnsafe = !raw.empty();

    if (hasControl) {
        lastCloudLevel_ = saved.lastCloudLevel;
        cloudSince_ = saved.cloudSince;
        windSince_ = saved.windSince;
        gustSince_ = saved.gustSince;
    } else {
        double delay = config.safeDelaySeconds;
        if (!std::isfinite(delay) || delay < 0) delay = 0;
        if (delay > kMaxDelaySeconds) delay = kMaxDelaySeconds;
        applySafeDelay(r.rawUnsafe, delay);
        r.evaluated = true;
    }

    r.reportedUnsafe = reported_;
    // The reasons follow the reported flag, so that they can never disagree
    // with it: while a client has control the client is the reason; a safe
    // raw result held back is the safe delay's doing.
    if (!reported_) {
        r.reasons.clear();
    } else if (hasControl) {
        r.reasons = {UnsafeReason{UnsafeCause::ClientSetUnsafe}};
    } else if (!raw.empty()) {
        r.reasons = std::move(raw);
    } else {
        UnsafeReason why{UnsafeCause::SafeDelay};
        why.value = double(remaining_);
        r.reasons = {why};
    }
    r.safeDelayRemaining = remaining_;
    r.safeDelayMessage = message_;
    r.flag = unsafeFlagDisplay(reported_);
    r.setUnSafe = reported_;
    r.switchCmd = switchCommand(reported_);
    for (Quantity q : kAllQuantities) r.labelColour[q] = conditionLabelColour(q, in.levels[q], r.countsUnsafe[q]);
    return r;
}

// ---- reasons as text -------------------------------------------------------------

QString causeName(UnsafeCause c)
{
    switch (c) {
    case UnsafeCause::MarkedLevel: return QStringLiteral("marked-level");
    case UnsafeCause::UnknownLevel: return QStringLiteral("unknown-level");
    case UnsafeCause::StationDataOld: return QStringLiteral("station-data-old");
    case UnsafeCause::SensorDataError: return QStringLiteral("sensor-data-error");
    case UnsafeCause::SafeDelay: return QStringLiteral("safe-delay");
    case UnsafeCause::ClientSetUnsafe: return QStringLiteral("client-set-unsafe");
    case UnsafeCause::NotEvaluated: return QStringLiteral("not-evaluated");
    }
    return QString();
}

QString quantityKey(Quantity q)
{
    switch (q) {
    case Quantity::Cloud: return QStringLiteral("cloud");
    case Quantity::Rain: return QStringLiteral("rain");
    case Quantity::Brightness: return QStringLiteral("brightness");
    case Quantity::Wind: return QStringLiteral("wind");
    case Quantity::Gust: return QStringLiteral("gust");
    case Quantity::Temperature: return QStringLiteral("temperature");
    case Quantity::DewPoint: return QStringLiteral("dewpoint");
    case Quantity::Humidity: return QStringLiteral("humidity");
    }
    return QString();
}

QString gateName(UnsafeGate g)
{
    switch (g) {
    case UnsafeGate::None: return QString();
    case UnsafeGate::CloudGate: return QStringLiteral("cloud-gate");
    case UnsafeGate::WindSector: return QStringLiteral("wind-sector");
    case UnsafeGate::GustSector: return QStringLiteral("gust-sector");
    }
    return QString();
}

namespace {
QString quantityTitle(Quantity q)
{
    switch (q) {
    case Quantity::Cloud: return QStringLiteral("Cloud");
    case Quantity::Rain: return QStringLiteral("Rain");
    case Quantity::Brightness: return QStringLiteral("Brightness");
    case Quantity::Wind: return QStringLiteral("Wind");
    case Quantity::Gust: return QStringLiteral("Gust");
    case Quantity::Temperature: return QStringLiteral("Temperature");
    case Quantity::DewPoint: return QStringLiteral("Dew point");
    case Quantity::Humidity: return QStringLiteral("Humidity");
    }
    return QString();
}
QString num(double v) { return QString::number(v, 'f', std::abs(v) < 100 ? 1 : 0); }
} // namespace

QString reasonText(const UnsafeReason& r)
{
    const QString value = r.value ? QLatin1Char(' ') + num(*r.value) : QString();
    switch (r.cause) {
    case UnsafeCause::MarkedLevel: {
        QString t = quantityTitle(r.quantity) + value + QStringLiteral(" at level ") + QString::number(toInt(r.level)) +
                    QStringLiteral(" (marked unsafe");
        if (r.gate == UnsafeGate::CloudGate) t += QStringLiteral("; cloudy confirmed");
        else if (r.gate == UnsafeGate::WindSector || r.gate == UnsafeGate::GustSector) {
            // The stored sector reads "fff  ttt  mm"; people read "from 090° to 180°".
            const QStringList f = r.sector.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const QString where = f.size() >= 2 ? f[0] + QStringLiteral("\u00b0 to ") + f[1] + QStringLiteral("\u00b0")
                                                : r.sector.trimmed();
            t += QStringLiteral("; direction in sector ") + where + QStringLiteral(" for ") +
                 QString::number(r.sectorMinutes) + QStringLiteral(" min");
        }
        return t + QLatin1Char(')');
    }
    case UnsafeCause::UnknownLevel:
        return quantityTitle(r.quantity) + value + QStringLiteral(" cannot be judged (level unknown") +
               (r.detail.isEmpty() ? QString() : QStringLiteral(": ") + r.detail) + QLatin1Char(')');
    case UnsafeCause::StationDataOld:
        return r.value ? QStringLiteral("Weather station data too old (") + QString::number(qint64(*r.value)) +
                             QStringLiteral(" s)")
                       : QStringLiteral("Weather station data missing");
    case UnsafeCause::SensorDataError: return QStringLiteral("Sensor data old or faulty");
    case UnsafeCause::SafeDelay:
        return QStringLiteral("Safe delay: SAFE held back for ") + QString::number(qint64(r.value.value_or(0))) +
               QStringLiteral(" s");
    case UnsafeCause::ClientSetUnsafe: return QStringLiteral("Set unsafe by a client that has control");
    case UnsafeCause::NotEvaluated: return QStringLiteral("No current evaluation (monitoring stopped or data late)");
    }
    return QString();
}

QString reasonsText(const std::vector<UnsafeReason>& reasons)
{
    QStringList lines;
    for (const UnsafeReason& r : reasons) lines << reasonText(r);
    return lines.join(QLatin1Char('\n'));
}

QJsonArray reasonsArray(const std::vector<UnsafeReason>& reasons)
{
    QJsonArray list;
    for (const UnsafeReason& r : reasons) {
        QJsonObject o{{QStringLiteral("cause"), causeName(r.cause)}, {QStringLiteral("text"), reasonText(r)}};
        if (r.cause == UnsafeCause::MarkedLevel || r.cause == UnsafeCause::UnknownLevel) {
            o.insert(QStringLiteral("quantity"), quantityKey(r.quantity));
            o.insert(QStringLiteral("level"), toInt(r.level));
        }
        if (r.value) o.insert(QStringLiteral("value"), *r.value);
        if (!r.detail.isEmpty()) o.insert(QStringLiteral("why"), r.detail);
        if (r.gate != UnsafeGate::None) o.insert(QStringLiteral("rule"), gateName(r.gate));
        if (!r.sector.isEmpty()) {
            o.insert(QStringLiteral("sector"), r.sector.trimmed());
            o.insert(QStringLiteral("minutes"), r.sectorMinutes);
        }
        list.append(o);
    }
    return list;
}

QByteArray reasonsJson(const std::vector<UnsafeReason>& reasons)
{
    return QJsonDocument(reasonsArray(reasons)).toJson(QJsonDocument::Compact);
}

} // namespace skyvane::conditions
