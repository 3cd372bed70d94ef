// The stand-in's simulated sensor: levels follow its own thresholds, frozen
// readings stay put, and forced levels win.
#include "SensorModel.h"

#include <gtest/gtest.h>

using skyvane::sensorsim::SensorModel;

namespace {

TEST(SensorModel, ClassifiesFromItsThresholds)
{
    struct Case {
        const char* reading;
        double value;
        const char* level;
        int expected;
    };
    const Case cases[] = {
        {"SkyTemperature", -20.0, "Condition_Cloud", 1},   {"SkyTemperature", -15.0, "Condition_Cloud", 2},
        {"SkyTemperature", -5.0, "Condition_Cloud", 3},    {"SkyTemperature", 31.0, "Condition_Cloud", 0},
        {"RainValue", 2700.0, "Condition_Rain", 1},        {"RainValue", 1800.0, "Condition_Rain", 2},
        {"RainValue", 1000.0, "Condition_Rain", 3},        {"RainValue", 100.0, "Condition_Rain", 0},
        {"BrightnessValue", 50.0, "Condition_Brightness", 1}, {"BrightnessValue", 5000.0, "Condition_Brightness", 2},
        {"BrightnessValue", 50000.0, "Condition_Brightness", 3}, {"BrightnessValue", 200000.0, "Condition_Brightness", 0},
    };
    SensorModel m;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.reading) + " " + std::to_string(c.value));
        ASSERT_TRUE(m.freeze(QLatin1String(c.reading), c.value));
        m.step(QDateTime::currentDateTime()); // a frozen reading survives a step
        EXPECT_EQ(m.reading(QLatin1String(c.reading)).toDouble(), c.value);
        EXPECT_EQ(m.reading(QLatin1String(c.level)).toInt(), c.expected);
    }
    // The unknown level reports the configured value.
    m.setSetting(QStringLiteral("CloudUnknowConditionValue"), 3);
    ASSERT_TRUE(m.freeze(QStringLiteral("SkyTemperature"), 40.0));
    EXPECT_EQ(m.cloudLevel(), 3);
}

TEST(SensorModel, SimulatesAClearDryNightAndForcesLevels)
{
    SensorModel m;
    m.seed(7);
    const QDateTime night(QDate(2026, 12, 7), QTime(1, 0));
    for (int i = 0; i < 50; ++i) m.step(night.addSecs(2 * i));
    EXPECT_NEAR(m.reading(QStringLiteral("SkyTemperature")).toDouble(), -20.0, 5.0);
    EXPECT_EQ(m.cloudLevel(), 1);
    EXPECT_EQ(m.rainLevel(), 1);
    EXPECT_EQ(m.brightnessLevel(), 1);
    EXPECT_EQ(m.reading(QStringLiteral("LastReading")).toDateTime(), night.addSecs(98));

    m.forceLevels(3, -1, 2);
    EXPECT_EQ(m.cloudLevel(), 3);
    EXPECT_EQ(m.rainLevel(), 1);
    EXPECT_EQ(m.brightnessLevel(), 2);
    m.release({});
    EXPECT_EQ(m.cloudLevel(), 1);

    // Fahrenheit reports, classification stays in Celsius.
    m.setTemperatureUnits(QStringLiteral("F"));
    ASSERT_TRUE(m.freeze(QStringLiteral("SkyTemperature"), -4.0)); // -20 °C
    EXPECT_EQ(m.cloudLevel(), 1);
    EXPECT_FALSE(m.freeze(QStringLiteral("NoSuchReading"), 1));
    EXPECT_FALSE(m.freeze(QStringLiteral("SkyTemperature"), QStringLiteral("cold")));
}

} // namespace
