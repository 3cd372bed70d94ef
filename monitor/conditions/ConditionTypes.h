#pragma once
// Basic vocabulary of the condition logic: the eight judged quantities, their
// condition levels and small containers indexed by them. Everything here is
// plain data; nothing depends on widgets.

#include <QtGlobal>
#include <array>
#include <cstddef>

namespace skyvane::conditions {

// The quantities the monitor judges. Cloud, rain and brightness arrive as
// levels from the sensor server; the other five are classified here against
// the user's thresholds.
enum class Quantity : int { Cloud, Rain, Brightness, Wind, Gust, Temperature, DewPoint, Humidity };

inline constexpr std::size_t kQuantityCount = 8;
inline constexpr std::array<Quantity, kQuantityCount> kAllQuantities{
    Quantity::Cloud, Quantity::Rain,        Quantity::Brightness, Quantity::Wind,
    Quantity::Gust,  Quantity::Temperature, Quantity::DewPoint,   Quantity::Humidity};
inline constexpr std::array<Quantity, 3> kSensorQuantities{Quantity::Cloud, Quantity::Rain, Quantity::Brightness};
inline constexpr std::array<Quantity, 5> kLocalQuantities{Quantity::Wind, Quantity::Gust, Quantity::Temperature,
                                                          Quantity::DewPoint, Quantity::Humidity};

constexpr bool isSuppliedBySensor(Quantity q)
{
    return q == Quantity::Cloud || q == Quantity::Rain || q == Quantity::Brightness;
}
constexpr bool isLocallyClassified(Quantity q) { return !isSuppliedBySensor(q); }
// Wind and gust carry a direction sector per level.
constexpr bool hasDirectionSector(Quantity q) { return q == Quantity::Wind || q == Quantity::Gust; }

// A condition level: 0 is Unknown, 1..3 the three named steps of a quantity
// (Clear/Cloudy/Overcast, Calm/Windy/Very Windy, ...). The numbers are the
// ones clients and the sensor server use.
enum class Level : qint32 { Unknown = 0, One = 1, Two = 2, Three = 3 };

inline constexpr std::array<Level, 3> kNamedLevels{Level::One, Level::Two, Level::Three};

// Any number outside 1..3 is Unknown.
constexpr Level levelFromInt(qint64 v)
{
    return (v >= 1 && v <= 3) ? static_cast<Level>(v) : Level::Unknown;
}
constexpr qint32 toInt(Level l) { return static_cast<qint32>(l); }
// Index 0..2 of a named level in the per-level control groups; -1 for Unknown.
constexpr int levelIndex(Level l) { return l == Level::Unknown ? -1 : toInt(l) - 1; }
// The named level of index 0..2.
constexpr Level levelAt(int index) { return levelFromInt(index + 1); }

// Three values, index 0..2 for levels 1..3.
template <class T>
using PerLevel = std::array<T, 3>;

// One value per quantity.
template <class T>
class QuantityMap {
public:
    QuantityMap() = default;
    explicit QuantityMap(const T& all) { items_.fill(all); }
    T& operator[](Quantity q) { return items_[static_cast<std::size_t>(q)]; }
    const T& operator[](Quantity q) const { return items_[static_cast<std::size_t>(q)]; }
    bool operator==(const QuantityMap&) const = default;

private:
    std::array<T, kQuantityCount> items_{};
};

// The enumerations of the automation type library, with their exact names.
enum CloudCond : qint32 { CloudUnknown = 0, CloudClear = 1, CloudCloudy = 2, CloudVeryCloudy = 3 };
enum RainCond : qint32 { RainUnknown = 0, RainDry = 1, RainWet = 2, RainRain = 3 };
enum BrightnessCond : qint32 { BrightnessUnknown = 0, BrightnessDark = 1, BrightnessLight = 2, BrightnessVerylight = 3 };
enum WindCond : qint32 { WindUnknown = 0, WindCalm = 1, WindWindy = 2, WindVeryWindy = 3 };
enum TemperatureCond : qint32 { TemperatureUnknown = 0, TemperatureLow = 1, TemperatureMedium = 2, TemperatureHigh = 3 };
enum DewCond : qint32 { DewUnknown = 0, DewLow = 1, DewMedium = 2, DewHigh = 3 };
enum HumidityCond : qint32 { HumidityUnknown = 0, HumidityLow = 1, HumidityMedium = 2, HumidityHigh = 3 };
enum SkyCond : qint32 { SkyUnknown = 0, SkyClear = 1, SkyCloudy = 2, SkyVeryCloudy = 3, SkyWet = 4 };

} // namespace skyvane::conditions
