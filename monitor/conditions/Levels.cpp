#include "Levels.h"

#include "Colours.h"
#include "Format.h"

#include <cmath>

namespace skyvane::conditions {

PerLevel<QString> LevelConfig::descriptions(Quantity q) const
{
    const auto& s = styles[q];
    return {s[0].description, s[1].description, s[2].description};
}

Level classify(double value, const PerLevel<double>& thresholds)
{
    // NaN compares false everywhere and so falls through to Unknown.
    for (Level l : kNamedLevels)
        if (thresholds[std::size_t(levelIndex(l))] >= value) return l;
    return Level::Unknown;
}

Level classify(std::optional<double> value, const PerLevel<double>& thresholds)
{
    return value ? classify(*value, thresholds) : Level::Unknown;
}

QString levelDescription(qint64 level, const PerLevel<QString>& names)
{
    if (level == 0) return QStringLiteral("Unknown");
    if (level >= 1 && level <= 3) return names[std::size_t(level - 1)];
    return {};
}

QString switchStatusText(qint64 status)
{
    switch (status) {
    case 0: return QStringLiteral("Unknown");
    case 1: return QStringLiteral("Opened");
    case 2: return QStringLiteral("Closed");
    default: return {};
    }
}

QString safetyText(std::optional<bool> unsafe)
{
    if (!unsafe) return {};
    return *unsafe ? QStringLiteral("Unsafe") : QStringLiteral("Safe");
}

const PerLevel<QString>& SensorLevelNames::of(Quantity q) const
{
    switch (q) {
    case Quantity::Rain: return rain;
    case Quantity::Brightness: return brightness;
    default: return cloud;
    }
}

int conditionLabelColour(Quantity q, Level level, bool countsUnsafe)
{
    if (countsUnsafe) return colour::Orange;
    // An unknown wind is shown as a warning even when nothing is marked.
    if (hasDirectionSector(q) && level == Level::Unknown) return colour::Orange;
    return colour::Yellow;
}

std::optional<double> captionNumber(const QString& caption)
{
    const QString t = caption.trimmed();
    const QString dec = format::regional().decimal;
    QString digits;
    int i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) digits += t[i++];
    bool anyDigit = false;
    bool point = false;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c.isDigit()) {
            digits += c;
            anyDigit = true;
        } else if (!point && (c == QLatin1Char('.') || QString(c) == dec)) {
            digits += QLatin1Char('.');
            point = true;
        } else {
            break;
        }
    }
    // Whatever follows the number must be a unit after a blank.
    if (!anyDigit || (i < t.size() && !t[i].isSpace())) return std::nullopt;
    bool ok = false;
    const double v = digits.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

// ---- ConditionBoard ---------------------------------------------------------

void ConditionBoard::storeSensorLevels(qint64 cloud, qint64 rain, qint64 brightness)
{
    levels_[Quantity::Cloud] = levelFromInt(cloud);
    levels_[Quantity::Rain] = levelFromInt(rain);
    levels_[Quantity::Brightness] = levelFromInt(brightness);
}

void ConditionBoard::showSensorConditions(bool sensorDataFlagged, const SensorLevelNames& names)
{
    if (sensorDataFlagged) return;
    for (Quantity q : kSensorQuantities) labels_[q] = levelDescription(levels_[q], names.of(q));
}

void ConditionBoard::blankSensorConditions()
{
    for (Quantity q : kSensorQuantities) labels_[q].clear();
}

void ConditionBoard::classifyInto(Quantity q, std::optional<double> value, const LevelConfig& config)
{
    levels_[q] = classify(value, config.thresholds[q]);
    labels_[q] = levelDescription(levels_[q], config.descriptions(q));
}

void ConditionBoard::classifyTemperature(std::optional<double> temperature, const LevelConfig& config)
{
    if (!temperature) {
        labels_[Quantity::Temperature].clear();
        return;
    }
    classifyInto(Quantity::Temperature, temperature, config);
}

void ConditionBoard::forgetStationLevels()
{
    for (Quantity q : kLocalQuantities) {
        levels_[q] = Level::Unknown;
        labels_[q].clear();
    }
}

void ConditionBoard::classifyStation(const StationValues& values, const LevelConfig& config)
{
    if (!values.available) {
        // The levels keep what the last good data said; an Unknown here would
        // be taken for "nothing to judge" while the station is down.
        for (Quantity q : kLocalQuantities) labels_[q].clear();
        return;
    }
    classifyInto(Quantity::Temperature, values.temperature, config);
    // Dew point: the spread between temperature and dew point; a small
    // spread is level 1 (condensation). A caption that is no number leaves
    // the spread unknown rather than keeping an old, possibly safe, level.
    std::optional<double> spread;
    const auto t = captionNumber(values.temperatureCaption);
    const auto d = captionNumber(values.dewPointCaption);
    if (t && d) spread = *t - *d;
    classifyInto(Quantity::DewPoint, spread, config);
    classifyInto(Quantity::Humidity, values.humidity, config);
    classifyInto(Quantity::Wind, values.windSpeed, config);
    classifyInto(Quantity::Gust, values.gust, config);
}

} // namespace skyvane::conditions
