#include "ConditionSettings.h"
#include "Levels.h"

#include <gtest/gtest.h>
#include <cmath>

using namespace skyvane::conditions;

namespace {

struct Case {
    Quantity q;
    double value;
    Level expected;
};

class ClassifyDefaults : public ::testing::TestWithParam<Case> {};

TEST_P(ClassifyDefaults, ThresholdAtLeastValueFirstMatch)
{
    const Case c = GetParam();
    const LevelConfig config = LevelConfig::defaults();
    EXPECT_EQ(classify(c.value, config.thresholds[c.q]), c.expected) << "value " << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ClassifyDefaults,
    ::testing::Values(
        // wind, gust: 10 / 20 / 99
        Case{Quantity::Wind, 10, Level::One}, Case{Quantity::Wind, 10.1, Level::Two},
        Case{Quantity::Wind, 99, Level::Three}, Case{Quantity::Wind, 99.1, Level::Unknown},
        Case{Quantity::Gust, 20, Level::Two}, Case{Quantity::Gust, 20.01, Level::Three},
        // temperature: -5 / 50 / 99
        Case{Quantity::Temperature, -5, Level::One}, Case{Quantity::Temperature, -4.9, Level::Two},
        Case{Quantity::Temperature, 50, Level::Two}, Case{Quantity::Temperature, 50.1, Level::Three},
        Case{Quantity::Temperature, 99.1, Level::Unknown},
        // dew-point spread: 3 / 5 / 99; a negative spread is condensation
        Case{Quantity::DewPoint, 3, Level::One}, Case{Quantity::DewPoint, 4, Level::Two},
        Case{Quantity::DewPoint, 5, Level::Two}, Case{Quantity::DewPoint, 6, Level::Three},
        Case{Quantity::DewPoint, 99.5, Level::Unknown}, Case{Quantity::DewPoint, -2, Level::One},
        // humidity: 80 / 90 / 99
        Case{Quantity::Humidity, 80, Level::One}, Case{Quantity::Humidity, 90, Level::Two},
        Case{Quantity::Humidity, 99, Level::Three}, Case{Quantity::Humidity, 100, Level::Unknown},
        Case{Quantity::Humidity, NAN, Level::Unknown}));

TEST(Classify, MissingValueIsUnknown)
{
    EXPECT_EQ(classify(std::nullopt, PerLevel<double>{10, 20, 99}), Level::Unknown);
}

TEST(LevelDescription, Family)
{
    const PerLevel<QString> names{QStringLiteral("Calm"), QStringLiteral("Windy"), QStringLiteral("Very Windy")};
    EXPECT_EQ(levelDescription(qint64(0), names), QStringLiteral("Unknown"));
    EXPECT_EQ(levelDescription(qint64(3), names), QStringLiteral("Very Windy"));
    EXPECT_EQ(levelDescription(qint64(4), names), QString());
    EXPECT_EQ(levelDescription(qint64(-1), names), QString());
    EXPECT_EQ(switchStatusText(0), QStringLiteral("Unknown"));
    EXPECT_EQ(switchStatusText(1), QStringLiteral("Opened"));
    EXPECT_EQ(switchStatusText(2), QStringLiteral("Closed"));
    EXPECT_EQ(switchStatusText(3), QString());
    EXPECT_EQ(safetyText(true), QStringLiteral("Unsafe"));
    EXPECT_EQ(safetyText(false), QStringLiteral("Safe"));
    EXPECT_EQ(safetyText(std::nullopt), QString());
}

TEST(LabelColour, WindUnknownIsOrangeTemperatureUnknownFollowsDecision)
{
    EXPECT_EQ(conditionLabelColour(Quantity::Wind, Level::Unknown, false), 33023);
    EXPECT_EQ(conditionLabelColour(Quantity::Gust, Level::Unknown, false), 33023);
    EXPECT_EQ(conditionLabelColour(Quantity::Temperature, Level::Unknown, false), 65535);
    EXPECT_EQ(conditionLabelColour(Quantity::Wind, Level::Two, true), 33023);
    EXPECT_EQ(conditionLabelColour(Quantity::Wind, Level::One, false), 65535);
    EXPECT_EQ(conditionLabelColour(Quantity::Cloud, Level::Unknown, false), 65535);
}

TEST(CaptionNumber, ReadsLeadingNumberWithUnit)
{
    EXPECT_EQ(captionNumber(QStringLiteral("12.3")), 12.3);
    EXPECT_EQ(captionNumber(QStringLiteral(" 8.1 \u00B0C")), 8.1);
    EXPECT_EQ(captionNumber(QStringLiteral("-4")), -4.0);
    EXPECT_EQ(captionNumber(QString()), std::nullopt);
    EXPECT_EQ(captionNumber(QStringLiteral("abc")), std::nullopt);
    EXPECT_EQ(captionNumber(QStringLiteral("12.3abc")), std::nullopt);
    EXPECT_EQ(captionNumber(QStringLiteral("-")), std::nullopt);
}

TEST(ConditionBoard, StationClassificationAndItsFailures)
{
    const LevelConfig config = LevelConfig::defaults();
    ConditionBoard board;
    StationValues v;
    v.available = true;
    v.windSpeed = 10.1;
    v.gust = 25;
    v.humidity = 100;
    v.temperatureCaption = QStringLiteral("12.0");
    v.dewPointCaption = QStringLiteral("9.0 \u00B0C");
    board.classifyStation(v, config);
    EXPECT_EQ(board.level(Quantity::Wind), Level::Two);
    EXPECT_EQ(board.labelText(Quantity::Wind), QStringLiteral("Windy"));
    EXPECT_EQ(board.level(Quantity::Gust), Level::Three);
    EXPECT_EQ(board.labelText(Quantity::Gust), QStringLiteral("Very Gusty"));
    EXPECT_EQ(board.level(Quantity::DewPoint), Level::One);
    EXPECT_EQ(board.labelText(Quantity::DewPoint), QStringLiteral("Condensation"));
    EXPECT_EQ(board.level(Quantity::Humidity), Level::Unknown);
    EXPECT_EQ(board.labelText(Quantity::Humidity), QStringLiteral("Unknown"));

    // No station data: labels emptied, levels kept.
    board.classifyStation(StationValues{}, config);
    EXPECT_EQ(board.level(Quantity::Wind), Level::Two);
    EXPECT_EQ(board.labelText(Quantity::Wind), QString());

    // A dew point that can not be read does not keep the old level.
    v.dewPointCaption = QStringLiteral("n/a");
    board.classifyStation(v, config);
    EXPECT_EQ(board.level(Quantity::DewPoint), Level::Unknown);
    v.windSpeed.reset();
    board.classifyStation(v, config);
    EXPECT_EQ(board.level(Quantity::Wind), Level::Unknown);
}

TEST(ConditionBoard, TemperatureKeepsItsLevelWithoutStationDataLikeTheOthers)
{
    const LevelConfig config = LevelConfig::defaults();
    ConditionBoard board;
    StationValues v;
    v.available = true;
    v.temperature = 60; // Hot
    v.temperatureCaption = QStringLiteral("60.0");
    v.dewPointCaption = QStringLiteral("10.0");
    v.windSpeed = 15;  // Windy
    board.classifyTemperature(60, config);
    board.classifyStation(v, config);
    ASSERT_EQ(board.level(Quantity::Temperature), Level::Three);
    ASSERT_EQ(board.labelText(Quantity::Temperature), QStringLiteral("Hot"));

    // The station data are old or missing: the sensor step has no
    // temperature to show, the station step has no data.
    board.classifyTemperature(std::nullopt, config);
    board.classifyStation(StationValues{}, config);
    EXPECT_EQ(board.level(Quantity::Temperature), Level::Three);
    EXPECT_EQ(board.level(Quantity::Wind), Level::Two);
    EXPECT_EQ(board.labelText(Quantity::Temperature), QString());
    EXPECT_EQ(board.labelText(Quantity::Wind), QString());

    // Data again, but without a temperature that can be read: Unknown, and
    // no spread from a temperature of another reading.
    v.temperature.reset();
    v.temperatureCaption.clear();
    board.classifyTemperature(std::nullopt, config);
    board.classifyStation(v, config);
    EXPECT_EQ(board.level(Quantity::Temperature), Level::Unknown);
    EXPECT_EQ(board.labelText(Quantity::Temperature), QStringLiteral("Unknown"));
    EXPECT_EQ(board.level(Quantity::DewPoint), Level::Unknown);
}

TEST(ConditionBoard, SensorLevelsAndLabels)
{
    ConditionBoard board;
    SensorLevelNames names;
    names.cloud = {QStringLiteral("Clear"), QStringLiteral("Cloudy"), QStringLiteral("Overcast")};
    names.rain = {QStringLiteral("Dry"), QStringLiteral("Wet"), QStringLiteral("Rain")};
    names.brightness = {QStringLiteral("Dark"), QStringLiteral("Light"), QStringLiteral("Very Light")};
    board.storeSensorLevels(3, 1, 7);
    board.showSensorConditions(false, names);
    EXPECT_EQ(board.level(Quantity::Cloud), Level::Three);
    EXPECT_EQ(board.labelText(Quantity::Cloud), QStringLiteral("Overcast"));
    EXPECT_EQ(board.labelText(Quantity::Rain), QStringLiteral("Dry"));
    EXPECT_EQ(board.level(Quantity::Brightness), Level::Unknown);
    EXPECT_EQ(board.labelText(Quantity::Brightness), QStringLiteral("Unknown"));

    // Flagged sensor data: the stored level changes, the labels stay.
    board.storeSensorLevels(1, 1, 1);
    board.showSensorConditions(true, names);
    EXPECT_EQ(board.level(Quantity::Cloud), Level::One);
    EXPECT_EQ(board.labelText(Quantity::Cloud), QStringLiteral("Overcast"));
}

} // namespace
