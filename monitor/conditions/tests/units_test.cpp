#include "ConditionSettings.h"
#include "Units.h"

#include <gtest/gtest.h>

using namespace skyvane::conditions;

namespace {

using S = SpeedUnit;
using T = TemperatureUnit;

struct SpeedCase {
    S from, to;
    double value, expected;
};

TEST(ConvertSpeed, ExactFactors)
{
    const SpeedCase cases[] = {
        {S::KilometresPerHour, S::Knots, 20, 10.799136069114471},
        {S::KilometresPerHour, S::MilesPerHour, 16.09344, 10},
        {S::KilometresPerHour, S::MetresPerSecond, 36, 10},
        {S::MilesPerHour, S::KilometresPerHour, 10, 16.09344},
        {S::MilesPerHour, S::MetresPerSecond, 1, 0.44704},
        {S::MilesPerHour, S::Knots, 1, 0.8689762419006479},
        {S::MetresPerSecond, S::KilometresPerHour, 10, 36},
        {S::MetresPerSecond, S::MilesPerHour, 0.44704, 1},
        {S::MetresPerSecond, S::Knots, 1, 1.9438444924406046},
        {S::Knots, S::KilometresPerHour, 10, 18.52},
        {S::Knots, S::MilesPerHour, 1, 1.1507794480235425},
        {S::Knots, S::MetresPerSecond, 3.6, 1.852},
        {S::Knots, S::Knots, 7, 7},
    };
    for (const SpeedCase& c : cases)
        EXPECT_NEAR(convertSpeed(c.from, c.to, c.value), c.expected, 1e-12)
            << unitCode(c.from).toStdString() << "->" << unitCode(c.to).toStdString();
    // By code; an unknown code leaves the value alone.
    EXPECT_NEAR(convertSpeed(QStringLiteral("k"), QStringLiteral("K"), 10), 18.52, 1e-12);
    EXPECT_EQ(convertSpeed(QStringLiteral("X"), QStringLiteral("K"), 5), 5);
    EXPECT_EQ(convertSpeed(QStringLiteral("K"), QStringLiteral("KPH"), 5), 5);
}

TEST(ConvertTemperature, RoundedHalfToEven)
{
    EXPECT_EQ(convertTemperature(T::Fahrenheit, -5), 23);
    EXPECT_EQ(convertTemperature(T::Fahrenheit, 50), 122);
    EXPECT_EQ(convertTemperature(T::Fahrenheit, 99), 210);
    EXPECT_EQ(convertTemperature(T::Celsius, 23), -5);
    EXPECT_EQ(convertTemperature(T::Celsius, 100), 38);
    EXPECT_EQ(convertTemperatureDifference(T::Fahrenheit, 3), 5);
    EXPECT_EQ(convertTemperatureDifference(T::Fahrenheit, 5), 9);
    EXPECT_EQ(convertTemperatureDifference(T::Celsius, 9), 5);
    // 2.5 C is 36.5 F and 4.5 F as a difference: both go to the even neighbour.
    EXPECT_EQ(convertTemperature(T::Fahrenheit, 2.5), 36);
    EXPECT_EQ(convertTemperatureDifference(T::Fahrenheit, 2.5), 4);
    EXPECT_EQ(convertTemperature(QStringLiteral("C"), 23), -5);
    EXPECT_EQ(convertTemperature(QStringLiteral("x"), -5), 23); // anything but "C" is Fahrenheit

    const std::pair<double, double> halves[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {2.4, 2}, {2.6, 3}, {0.5, 0}};
    for (auto [v, r] : halves) EXPECT_EQ(roundHalfEven(v), r) << v;
}

// A history that records what it was asked to convert.
struct RecordingHistory : HistoryUnitConverter {
    std::vector<double> speeds{20, 10};
    std::vector<double> temps{-5, 50};
    std::vector<double> spreads{3, 5};
    void convertSpeeds(const std::function<double(double)>& f) override
    {
        for (double& v : speeds) v = f(v);
    }
    void convertTemperatures(const std::function<double(double)>& abs, const std::function<double(double)>& diff) override
    {
        for (double& v : temps) v = abs(v);
        for (double& v : spreads) v = diff(v);
    }
};

TEST(UnitChange, SpeedThresholdsAndHistoryRoundTrip)
{
    UnitConfig units;
    LevelConfig levels = LevelConfig::defaults();
    RecordingHistory history;
    selectSpeedUnit(units, levels, S::Knots, &history);
    EXPECT_EQ(units.speed, S::Knots);
    EXPECT_NEAR(levels.thresholds[Quantity::Wind][1], 10.799136069114471, 1e-12);
    EXPECT_NEAR(levels.thresholds[Quantity::Gust][0], 5.399568034557236, 1e-12);
    EXPECT_NEAR(history.speeds[0], 10.799136069114471, 1e-12);
    EXPECT_EQ(levels.thresholds[Quantity::Temperature][0], -5); // untouched

    selectSpeedUnit(units, levels, S::KilometresPerHour, &history);
    EXPECT_DOUBLE_EQ(levels.thresholds[Quantity::Wind][1], 20);
    EXPECT_DOUBLE_EQ(history.speeds[0], 20);
}

TEST(UnitChange, TemperatureThresholdsBecomeWholeDegrees)
{
    UnitConfig units;
    LevelConfig levels = LevelConfig::defaults();
    RecordingHistory history;
    selectTemperatureUnit(units, levels, T::Fahrenheit, &history);
    EXPECT_EQ(levels.thresholds[Quantity::Temperature], (PerLevel<double>{23, 122, 210}));
    EXPECT_EQ(levels.thresholds[Quantity::DewPoint], (PerLevel<double>{5, 9, 178}));
    EXPECT_EQ(history.temps, (std::vector<double>{23, 122}));
    EXPECT_EQ(history.spreads, (std::vector<double>{5, 9}));
    EXPECT_EQ(levels.thresholds[Quantity::Wind][0], 10); // untouched

    selectTemperatureUnit(units, levels, T::Celsius, nullptr);
    EXPECT_EQ(levels.thresholds[Quantity::Temperature], (PerLevel<double>{-5, 50, 99}));
    EXPECT_EQ(levels.thresholds[Quantity::DewPoint], (PerLevel<double>{3, 5, 99}));
}

TEST(Recognition, StationUnitTexts)
{
    const UnitSpellings sp = ConditionsConfig::defaults().units.spellings;
    const std::pair<const char*, std::optional<S>> speeds[] = {
        {"km/h", S::KilometresPerHour}, {"KTS", S::Knots},    {"kts", S::Knots},
        {"m/s", S::MetresPerSecond},    {"K", S::KilometresPerHour}, {"H", S::KilometresPerHour},
        {"KPH", S::KilometresPerHour},  {"mph", S::MilesPerHour}, {" knots ", S::Knots},
        {"furlongs", std::nullopt},     {"", std::nullopt},   {"  ", std::nullopt}};
    for (auto [text, unit] : speeds) EXPECT_EQ(recogniseSpeedUnit(QString::fromUtf8(text), sp), unit) << text;

    const std::pair<const char*, std::optional<T>> temps[] = {
        {"\u00B0F", T::Fahrenheit}, {"\u00B0C", T::Celsius}, {"deg c", T::Celsius}, {"K", std::nullopt}, {"", std::nullopt}};
    for (auto [text, unit] : temps) EXPECT_EQ(recogniseTemperatureUnit(QString::fromUtf8(text), sp), unit) << text;

    UnitSpellings sloppy = sp;
    sloppy.dc = QStringLiteral("C; ;CELSIUS;");
    EXPECT_EQ(recogniseTemperatureUnit(QStringLiteral("X"), sloppy), std::nullopt);
    EXPECT_EQ(recogniseTemperatureUnit(QStringLiteral("celsius"), sloppy), T::Celsius);
    EXPECT_EQ(temperatureLetter(std::nullopt), QStringLiteral(" "));
}

TEST(Recognition, FollowStationUnitsConvertsOnce)
{
    ConditionsConfig c = ConditionsConfig::defaults();
    StationUnitResult r = followStationUnits(c.units, c.levels, QStringLiteral("\u00B0F"), QStringLiteral("KTS"), nullptr);
    EXPECT_EQ(r.temperatureLetter, QStringLiteral("F"));
    EXPECT_TRUE(r.temperatureChanged);
    EXPECT_TRUE(r.speedChanged);
    EXPECT_EQ(c.levels.thresholds[Quantity::Temperature][0], 23);
    EXPECT_NEAR(c.levels.thresholds[Quantity::Wind][1], 10.799136069114471, 1e-12);

    // Same units again: nothing converted twice.
    r = followStationUnits(c.units, c.levels, QStringLiteral("\u00B0F"), QStringLiteral("kts"), nullptr);
    EXPECT_FALSE(r.temperatureChanged);
    EXPECT_FALSE(r.speedChanged);
    EXPECT_EQ(c.levels.thresholds[Quantity::Temperature][0], 23);

    // Unreadable texts keep the units in force.
    r = followStationUnits(c.units, c.levels, QString(), QString(), nullptr);
    EXPECT_EQ(r.temperatureLetter, QStringLiteral(" "));
    EXPECT_EQ(c.units.temperature, T::Fahrenheit);
    EXPECT_EQ(c.units.speed, S::Knots);
}

TEST(Compass, Names)
{
    // Directions are read from these names by the station reader.
    CompassTable t;
    EXPECT_EQ(t.get(1), QStringLiteral("N"));
    EXPECT_EQ(t.get(16), QStringLiteral("NNW"));
    EXPECT_EQ(t.get(0), QString());
    EXPECT_EQ(t.get(17), QString());
    EXPECT_FALSE(t.set(17, QStringLiteral("X")));
    ASSERT_TRUE(t.set(5, QStringLiteral("O")));
    EXPECT_EQ(t.get(5), QStringLiteral("O"));
}

} // namespace
