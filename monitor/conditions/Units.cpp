#include "Units.h"

#include "Levels.h"

#include <QStringList>
#include <cmath>

namespace skyvane::conditions {

namespace {
struct SpeedInfo {
    const char* code;
    const char* text;
};
constexpr std::array<SpeedInfo, 4> kSpeeds{{{"K", "km/hr"}, {"M", "mph"}, {"m", "m/s"}, {"k", "knot"}}};
} // namespace

QString unitCode(SpeedUnit u) { return QLatin1String(kSpeeds[std::size_t(u)].code); }
QString unitText(SpeedUnit u) { return QLatin1String(kSpeeds[std::size_t(u)].text); }
QString unitCode(TemperatureUnit u) { return u == TemperatureUnit::Celsius ? QStringLiteral("C") : QStringLiteral("F"); }
QString unitText(TemperatureUnit u)
{
    return u == TemperatureUnit::Celsius ? QStringLiteral("\u00B0C") : QStringLiteral("\u00B0F");
}

std::optional<SpeedUnit> speedUnitFromCode(const QString& code)
{
    for (std::size_t i = 0; i < kSpeeds.size(); ++i)
        if (code == QLatin1String(kSpeeds[i].code)) return SpeedUnit(i);
    return std::nullopt;
}

std::optional<TemperatureUnit> temperatureUnitFromCode(const QString& code)
{
    if (code == QLatin1String("C")) return TemperatureUnit::Celsius;
    if (code == QLatin1String("F")) return TemperatureUnit::Fahrenheit;
    return std::nullopt;
}

std::optional<SpeedUnit> speedUnitFromOption(int index)
{
    if (index < 0 || index > 3) return std::nullopt;
    return SpeedUnit(index);
}

std::optional<TemperatureUnit> temperatureUnitFromOption(int index)
{
    if (index < 0 || index > 1) return std::nullopt;
    return TemperatureUnit(index);
}

QString temperatureLetter(std::optional<TemperatureUnit> u) { return u ? unitCode(*u) : QStringLiteral(" "); }

// ---- conversions ------------------------------------------------------------

double convertSpeed(SpeedUnit from, SpeedUnit to, double v)
{
    using S = SpeedUnit;
    if (from == to) return v;
    switch (from) {
    case S::KilometresPerHour:
        if (to == S::MilesPerHour) return v / 1.609344;
        if (to == S::MetresPerSecond) return v * 1000 / 3600;
        return v / 1.852;
    case S::MilesPerHour:
        if (to == S::KilometresPerHour) return v * 1.609344;
        if (to == S::MetresPerSecond) return v * 1609.344 / 3600;
        return v * 1.609344 / 1.852;
    case S::MetresPerSecond:
        if (to == S::KilometresPerHour) return v * 3600 / 1000;
        if (to == S::MilesPerHour) return v * 3.6 / 1.609344;
        return v * 3.6 / 1.852;
    case S::Knots:
        if (to == S::KilometresPerHour) return v * 1.852;
        if (to == S::MilesPerHour) return v * 1.852 / 1.609344;
        return v * 1.852 / 3.6;
    }
    return v;
}

double convertSpeed(const QString& fromCode, const QString& toCode, double v)
{
    const auto from = speedUnitFromCode(fromCode);
    const auto to = speedUnitFromCode(toCode);
    if (!from || !to) return v;
    return convertSpeed(*from, *to, v);
}

double roundHalfEven(double v)
{
    if (!std::isfinite(v)) return v;
    const double r = std::round(v); // half away from zero
    if (std::abs(v - std::trunc(v)) == 0.5) return 2.0 * std::round(v / 2.0);
    return r;
}

double convertTemperature(TemperatureUnit to, double v)
{
    if (to == TemperatureUnit::Celsius) return roundHalfEven((v - 32) * 5 / 9);
    return roundHalfEven(v * 9 / 5 + 32);
}

double convertTemperatureDifference(TemperatureUnit to, double v)
{
    if (to == TemperatureUnit::Celsius) return roundHalfEven(v * 5 / 9);
    return roundHalfEven(v * 9 / 5);
}

double convertTemperature(const QString& toCode, double v)
{
    return convertTemperature(toCode == QLatin1String("C") ? TemperatureUnit::Celsius : TemperatureUnit::Fahrenheit, v);
}

double convertTemperatureDifference(const QString& toCode, double v)
{
    return convertTemperatureDifference(
        toCode == QLatin1String("C") ? TemperatureUnit::Celsius : TemperatureUnit::Fahrenheit, v);
}

// ---- recognition --------------------------------------------------------------

namespace {
bool anyPieceIn(const QString& text, const QString& list)
{
    const QStringList pieces = list.split(QLatin1Char(';'));
    for (const QString& p : pieces) {
        const QString piece = p.trimmed();
        if (!piece.isEmpty() && text.contains(piece, Qt::CaseInsensitive)) return true;
    }
    return false;
}
} // namespace

std::optional<TemperatureUnit> recogniseTemperatureUnit(const QString& text, const UnitSpellings& sp)
{
    if (anyPieceIn(text, sp.dc)) return TemperatureUnit::Celsius;
    if (anyPieceIn(text, sp.df)) return TemperatureUnit::Fahrenheit;
    return std::nullopt;
}

std::optional<SpeedUnit> recogniseSpeedUnit(const QString& text, const UnitSpellings& sp)
{
    const QString t = text.trimmed().toUpper();
    if (t.isEmpty()) return std::nullopt;
    if (sp.kph.contains(t)) return SpeedUnit::KilometresPerHour;
    if (sp.mph.contains(t)) return SpeedUnit::MilesPerHour;
    if (sp.mps.contains(t)) return SpeedUnit::MetresPerSecond;
    if (sp.knots.contains(t)) return SpeedUnit::Knots;
    return std::nullopt;
}

// ---- unit changes -----------------------------------------------------------

void selectSpeedUnit(UnitConfig& units, LevelConfig& levels, SpeedUnit to, HistoryUnitConverter* history)
{
    const SpeedUnit from = units.speed;
    units.speed = to;
    if (from == to) return;
    const auto conv = [from, to](double v) { return convertSpeed(from, to, v); };
    for (Quantity q : {Quantity::Wind, Quantity::Gust})
        for (double& limit : levels.thresholds[q]) limit = conv(limit);
    if (history) history->convertSpeeds(conv);
}

void selectTemperatureUnit(UnitConfig& units, LevelConfig& levels, TemperatureUnit to,
                           HistoryUnitConverter* history)
{
    const TemperatureUnit from = units.temperature;
    units.temperature = to;
    if (from == to) return;
    const auto absolute = [to](double v) { return convertTemperature(to, v); };
    const auto difference = [to](double v) { return convertTemperatureDifference(to, v); };
    for (double& limit : levels.thresholds[Quantity::DewPoint]) limit = difference(limit);
    for (double& limit : levels.thresholds[Quantity::Temperature]) limit = absolute(limit);
    if (history) history->convertTemperatures(absolute, difference);
}

StationUnitResult followStationUnits(UnitConfig& units, LevelConfig& levels, const QString& temperatureText,
                                     const QString& speedText, HistoryUnitConverter* history)
{
    StationUnitResult r;
    const auto t = recogniseTemperatureUnit(temperatureText, units.spellings);
    r.temperatureLetter = temperatureLetter(t);
    if (t && *t != units.temperature) {
        selectTemperatureUnit(units, levels, *t, history);
        r.temperatureChanged = true;
    }
    const auto s = recogniseSpeedUnit(speedText, units.spellings);
    if (s && *s != units.speed) {
        selectSpeedUnit(units, levels, *s, history);
        r.speedChanged = true;
    }
    return r;
}

// ---- compass ------------------------------------------------------------------

CompassTable::CompassTable()
{
    for (std::size_t i = 0; i < kDefaultCompassNames.size(); ++i)
        names_[i + 1] = QLatin1String(kDefaultCompassNames[i]);
}

QString CompassTable::get(int index) const
{
    if (index < 0 || index >= kSize) return {};
    return names_[std::size_t(index)];
}

bool CompassTable::set(int index, const QString& name)
{
    if (index < 0 || index >= kSize) return false;
    names_[std::size_t(index)] = name;
    return true;
}

} // namespace skyvane::conditions
