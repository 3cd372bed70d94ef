#include "Levels.h"
#include "ThresholdRules.h"

#include <gtest/gtest.h>
#include <cmath>

using namespace skyvane::conditions;

namespace {

PerLevel<double> defaultLimits(Quantity q) { return LevelConfig::defaults().thresholds[q]; }
PerLevel<QString> defaultNames(Quantity q) { return LevelConfig::defaults().descriptions(q); }

} // namespace

TEST(ThresholdRules, WindFieldAboveTheNextLevelNamesBothInCapitals)
{
    auto l = defaultLimits(Quantity::Wind);
    l[0] = 25;
    EXPECT_EQ(thresholdFieldMessage(Quantity::Wind, l, 0, defaultNames(Quantity::Wind)),
              QStringLiteral("CALM value CANNOT be greater or equal than WINDY value"));
    EXPECT_TRUE(thresholdFieldMessage(Quantity::Wind, defaultLimits(Quantity::Wind), 0,
                                      defaultNames(Quantity::Wind)).isEmpty());
}

TEST(ThresholdRules, EachFieldGivesItsOwnMessageAndEqualValuesAreRefused)
{
    const PerLevel<QString> d{QStringLiteral("Low"), QStringLiteral("Mid"), QStringLiteral("High")};
    for (Quantity q : {Quantity::Wind, Quantity::Gust, Quantity::Temperature, Quantity::DewPoint, Quantity::Humidity}) {
        SCOPED_TRACE(static_cast<int>(q));
        EXPECT_EQ(thresholdFieldMessage(q, {5, 5, 9}, 0, d), QStringLiteral("LOW value CANNOT be greater or equal than MID value"));
        EXPECT_EQ(thresholdFieldMessage(q, {5, 5, 9}, 1, d), QStringLiteral("MID value CANNOT be smaller or equal than LOW value"));
        EXPECT_EQ(thresholdFieldMessage(q, {1, 9, 9}, 1, d), QStringLiteral("MID value CANNOT be larger or equal than HIGH value"));
        EXPECT_EQ(thresholdFieldMessage(q, {9, 1, 9}, 2, d), QStringLiteral("HIGH value CANNOT be smaller or equal than LOW value"));
        EXPECT_EQ(thresholdFieldMessage(q, {1, 9, 9}, 2, d), QStringLiteral("HIGH value CANNOT be smaller or equal than MID value"));
        // Field 0 only looks at its neighbour; the field that is out of
        // order with level 3 reports it when it is edited.
        EXPECT_TRUE(thresholdFieldMessage(q, {1, 9, 5}, 0, d).isEmpty());
        EXPECT_TRUE(thresholdFieldMessage(q, {-5, 0, 5}, 2, d).isEmpty());
        EXPECT_TRUE(thresholdFieldMessage(q, {1, 2, 3}, 3, d).isEmpty());
    }
}

TEST(ThresholdRules, HumidityMayReachButNotPassOneHundred)
{
    const auto d = defaultNames(Quantity::Humidity);
    EXPECT_TRUE(thresholdFieldMessage(Quantity::Humidity, {80, 90, 100}, 2, d).isEmpty());
    EXPECT_EQ(thresholdFieldMessage(Quantity::Humidity, {80, 90, 100.5}, 2, d),
              QStringLiteral("VERY HUMID value CANNOT be greater than 100"));
    // The limit comes before the order check, and names the edited level.
    EXPECT_EQ(thresholdFieldMessage(Quantity::Humidity, {101, 90, 99}, 0, d),
              QStringLiteral("FINE value CANNOT be greater than 100"));
    // Only humidity has the limit.
    EXPECT_TRUE(thresholdFieldMessage(Quantity::Temperature, {80, 90, 100.5}, 2, d).isEmpty());
}

TEST(ThresholdRules, NotANumberNeverPasses)
{
    const auto d = defaultNames(Quantity::Wind);
    EXPECT_FALSE(thresholdFieldMessage(Quantity::Wind, {NAN, 20, 99}, 0, d).isEmpty());
    EXPECT_FALSE(thresholdFieldMessage(Quantity::Humidity, {80, 90, NAN}, 2, defaultNames(Quantity::Humidity)).isEmpty());
    EXPECT_FALSE(thresholdSetMessage(Quantity::Gust, {10, NAN, 99}, d).isEmpty());
}

TEST(ThresholdRules, WholeSetReportsTheFirstFaultyField)
{
    const PerLevel<QString> d{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    EXPECT_TRUE(thresholdSetMessage(Quantity::Wind, {1, 2, 3}, d).isEmpty());
    EXPECT_EQ(thresholdSetMessage(Quantity::Wind, {1, 5, 3}, d), QStringLiteral("B value CANNOT be larger or equal than C value"));
    EXPECT_EQ(thresholdSetMessage(Quantity::Humidity, {1, 5, 300}, d), QStringLiteral("C value CANNOT be greater than 100"));
    for (Quantity q : {Quantity::Wind, Quantity::Gust, Quantity::Temperature, Quantity::DewPoint, Quantity::Humidity})
        EXPECT_TRUE(thresholdSetMessage(q, defaultLimits(q), defaultNames(q)).isEmpty()) << static_cast<int>(q);
}
