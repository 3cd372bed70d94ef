#pragma once
// Speed and temperature units, their conversions, the recognition of the
// weather station's unit texts, the conversion of thresholds (and of the
// stored history) when the unit changes, and the compass-point table.

#include "ConditionTypes.h"

#include <QString>
#include <array>
#include <functional>
#include <optional>

namespace skyvane::conditions {

struct LevelConfig;

// The speed-unit options, in the order of the option group UnitsSpeed.
enum class SpeedUnit : int { KilometresPerHour = 0, MilesPerHour = 1, MetresPerSecond = 2, Knots = 3 };
// The temperature-unit options, in the order of UnitsTemp.
enum class TemperatureUnit : int { Celsius = 0, Fahrenheit = 1 };

// One-letter codes: "K", "M", "m", "k" (case matters) and "C", "F".
QString unitCode(SpeedUnit u);
QString unitCode(TemperatureUnit u);
// Display texts: "km/hr", "mph", "m/s", "knot" and "°C", "°F".
QString unitText(SpeedUnit u);
QString unitText(TemperatureUnit u);
// Exact, case-sensitive code lookup; nullopt for anything else.
std::optional<SpeedUnit> speedUnitFromCode(const QString& code);
std::optional<TemperatureUnit> temperatureUnitFromCode(const QString& code);
std::optional<SpeedUnit> speedUnitFromOption(int index);
std::optional<TemperatureUnit> temperatureUnitFromOption(int index);
// The letter sent to the sensor server: "C", "F", or one blank when the
// station's unit is not recognised.
QString temperatureLetter(std::optional<TemperatureUnit> u);

// ---- conversions ------------------------------------------------------------

// 1 mile = 1.609344 km, 1 knot = 1.852 km/h, 1 m/s = 3.6 km/h. Not rounded.
double convertSpeed(SpeedUnit from, SpeedUnit to, double v);
// By codes: the same, and an unknown code leaves the value unchanged.
double convertSpeed(const QString& fromCode, const QString& toCode, double v);

// Round half to even (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double roundHalfEven(double v);

// An absolute temperature, or a temperature difference, given in the other
// unit, converted to `to` and rounded to whole degrees (half to even).
double convertTemperature(TemperatureUnit to, double v);
double convertTemperatureDifference(TemperatureUnit to, double v);
// By code: "C" means Celsius, anything else Fahrenheit.
double convertTemperature(const QString& toCode, double v);
double convertTemperatureDifference(const QString& toCode, double v);

// ---- recognising the station's unit texts -----------------------------------

// The user's accepted spellings (settings "StringKPH", ...), upper case.
// Speed lists are blank-separated words; temperature lists ";"-separated.
struct UnitSpellings {
    QString kph, mps, mph, knots; // km/h, m/s, mph, knots
    QString dc, df;               // Celsius, Fahrenheit
    bool operator==(const UnitSpellings&) const = default;
};

// Celsius when any piece of the Celsius list occurs in the text (ignoring
// case), else Fahrenheit the same way, else nullopt. Empty pieces are
// skipped: they would match every text.
std::optional<TemperatureUnit> recogniseTemperatureUnit(const QString& text, const UnitSpellings& sp);
// The upper-cased text is looked up as a substring of the km/h list, then
// mph, m/s, knots; nullopt (keep the unit in force) when none contains it.
// A blank or empty text says nothing about the unit and gives nullopt.
std::optional<SpeedUnit> recogniseSpeedUnit(const QString& text, const UnitSpellings& sp);

// ---- unit state and unit changes --------------------------------------------

// Where converted history samples live; the history implements this so that a
// unit change converts its stored rows in the same step as the thresholds.
class HistoryUnitConverter {
public:
    virtual ~HistoryUnitConverter() = default;
    // Wind and gust speeds of every stored sample.
    virtual void convertSpeeds(const std::function<double(double)>& convert) = 0;
    // The temperature of every sample (absolute) and the temperature minus
    // dew point (a difference).
    virtual void convertTemperatures(const std::function<double(double)>& absolute,
                                     const std::function<double(double)>& difference) = 0;
};

struct UnitConfig {
    SpeedUnit speed = SpeedUnit::KilometresPerHour;
    TemperatureUnit temperature = TemperatureUnit::Celsius;
    UnitSpellings spellings;
    QString excludedHumidityChars; // "ExcChrHumidity": removed from a humidity text
    bool operator==(const UnitConfig&) const = default;
};

// UnitsSpeed_Click: selects a speed unit and converts the wind and gust
// thresholds (and the history, when given) from the unit in force.
void selectSpeedUnit(UnitConfig& units, LevelConfig& levels, SpeedUnit to, HistoryUnitConverter* history);
// UnitsTemp_Click: the same for temperature; dew-point thresholds are
// differences, temperature thresholds absolute values.
void selectTemperatureUnit(UnitConfig& units, LevelConfig& levels, TemperatureUnit to,
                           HistoryUnitConverter* history);

struct StationUnitResult {
    QString temperatureLetter; // for the sensor server's XOB_TemperatureUnits
    bool temperatureChanged = false;
    bool speedChanged = false;
};
// Steps 3 to 5 of the read cycle: recognise the station's temperature and
// speed unit texts and switch the displayed units when they differ.
StationUnitResult followStationUnits(UnitConfig& units, LevelConfig& levels, const QString& temperatureText,
                                     const QString& speedText, HistoryUnitConverter* history);

// ---- compass points ----------------------------------------------------------

inline constexpr std::array<const char*, 16> kDefaultCompassNames{
    "N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE", "S", "SSW", "SW", "WSW", "W", "WNW", "NW", "NNW"};

// 17 names, index 0..16: 1..16 are the compass points from north clockwise in
// 22.5 degree steps; index 0 is not used.
class CompassTable {
public:
    CompassTable(); // the default names
    static constexpr int kSize = 17;

    // CS_Get / CS_Set. An index outside 0..16 reads as empty text and is not
    // written.
    QString get(int index) const;
    bool set(int index, const QString& name);

    bool operator==(const CompassTable&) const = default;

private:
    std::array<QString, kSize> names_;
};

} // namespace skyvane::conditions
