#include "ConditionSettings.h"
#include "SettingsStore.h"

#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::conditions;

namespace {

const QString kApp = QStringLiteral("XOB_Skyvane");

class Settings : public ::testing::Test {
protected:
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
};

TEST_F(Settings, EveryKeyOnce)
{
    QSet<QString> seen;
    for (const conditions::SettingRow& r : conditionSettingRows()) {
        const QString id = r.section.toLower() + QLatin1Char('/') + r.key.toLower();
        EXPECT_FALSE(seen.contains(id)) << id.toStdString();
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 161);
}

TEST_F(Settings, DefaultsFromAnEmptyStore)
{
    const ConditionsConfig c = loadConditionsConfig(store);
    EXPECT_EQ(c.levels.thresholds[Quantity::Wind], (PerLevel<double>{10, 20, 99}));
    EXPECT_EQ(c.levels.thresholds[Quantity::Temperature], (PerLevel<double>{-5, 50, 99}));
    EXPECT_EQ(c.levels.thresholds[Quantity::Humidity], (PerLevel<double>{80, 90, 99}));
    EXPECT_EQ(c.levels.styles[Quantity::DewPoint][0], (LevelStyle{QStringLiteral("Condensation"), 12640511}));
    EXPECT_EQ(c.levels.styles[Quantity::Temperature][0], (LevelStyle{QStringLiteral("Cold"), 12648447}));
    EXPECT_EQ(c.levels.styles[Quantity::Gust][2], (LevelStyle{QStringLiteral("Very Gusty"), 12640511}));
    // Marks: Cold and Hot, Condensation, Overcast, Wet and Rain, ...
    EXPECT_EQ(c.safety.unsafeMarks[Quantity::Temperature], (PerLevel<bool>{true, false, true}));
    EXPECT_EQ(c.safety.unsafeMarks[Quantity::DewPoint], (PerLevel<bool>{true, false, false}));
    EXPECT_EQ(c.safety.unsafeMarks[Quantity::Cloud], (PerLevel<bool>{false, false, true}));
    EXPECT_EQ(c.safety.unsafeMarks[Quantity::Rain], (PerLevel<bool>{false, true, true}));
    EXPECT_EQ(c.safety.unsafeMarks[Quantity::Gust], (PerLevel<bool>{false, true, true}));
    EXPECT_EQ(c.safety.windSectors[2], QStringLiteral("000  359  01"));
    EXPECT_TRUE(c.safety.wsDataOldUnsafe);
    EXPECT_TRUE(c.safety.npDataOldUnsafe);
    EXPECT_EQ(c.safety.safeDelaySeconds, 0);
    EXPECT_EQ(c.units.speed, SpeedUnit::KilometresPerHour);
    EXPECT_EQ(c.units.temperature, TemperatureUnit::Celsius);
    EXPECT_EQ(c.units.spellings.knots, QStringLiteral("KNOTS KTS KT"));
    EXPECT_EQ(c.units.excludedHumidityChars, QStringLiteral("%"));
    EXPECT_EQ(c.compass.get(3), QStringLiteral("NE"));
    EXPECT_FALSE(c.alarms.suspendSound);
    EXPECT_FALSE(c.alarms.boxes[Quantity::Cloud][2].armed());
}

TEST_F(Settings, StoredNamesAndEncodings)
{
    ConditionsConfig c = ConditionsConfig::defaults();
    c.safety.unsafeMarks[Quantity::Temperature] = {false, false, true}; // only Hot
    c.safety.unsafeMarks[Quantity::DewPoint] = {false, true, false};
    c.units.speed = SpeedUnit::Knots;
    c.levels.thresholds[Quantity::Wind][0] = 5.5;
    c.alarms.boxes[Quantity::Temperature][0].setSound(QStringLiteral("/s/cold.wav|repeat"));
    c.alarms.boxes[Quantity::Temperature][0].setArmed(true);
    c.alarms.stationData.setSound(QStringLiteral("/s/ws.wav"));
    c.compass.set(16, QStringLiteral("NW2"));
    saveConditionsConfig(store, c);

    const auto get = [this](const char* section, const char* key) {
        return store.get(kApp, QLatin1String(section), QLatin1String(key), QStringLiteral("<missing>"));
    };
    // The temperature and dew keys of "Unsafe" run against the level order.
    EXPECT_EQ(get("Unsafe", "TempHigh"), QStringLiteral("0"));
    EXPECT_EQ(get("Unsafe", "TempLow"), QStringLiteral("1"));
    EXPECT_EQ(get("Unsafe", "DewHigh"), QStringLiteral("0"));
    EXPECT_EQ(get("Unsafe", "DewMedium"), QStringLiteral("1"));
    // ... while "Alarms", "Limit", "Description" and "Color" run in level order.
    EXPECT_EQ(get("Alarms", "TempLow"), QStringLiteral("/s/cold.wav|repeat"));
    EXPECT_EQ(get("Alarms", "TempLowStat"), QStringLiteral("1"));
    EXPECT_EQ(get("Alarms", "WSAlarm"), QStringLiteral("/s/ws.wav"));
    EXPECT_EQ(get("Alarms", "WSAlarmStat"), QStringLiteral("0"));
    EXPECT_EQ(get("Limit", "TempLow"), QStringLiteral("-5"));
    EXPECT_EQ(get("Description", "DewLow"), QStringLiteral("Condensation"));
    EXPECT_EQ(get("Color", "WindVWindy"), QStringLiteral("12640511"));
    EXPECT_EQ(get("Limit", "UnitsSpeed0"), QStringLiteral("False"));
    EXPECT_EQ(get("Limit", "UnitsSpeed3"), QStringLiteral("True"));
    EXPECT_EQ(get("Limit", "UnitsTemp0"), QStringLiteral("True"));
    EXPECT_EQ(get("Window", "Cadinal16"), QStringLiteral("NW2"));
    EXPECT_EQ(get("Window", "Cadinal01"), QStringLiteral("N"));
    EXPECT_EQ(get("Setup", "SuspendAlarm"), QStringLiteral("0"));
    EXPECT_EQ(get("Unsafe", "GustDir1"), QStringLiteral("000  359  01"));

    store.sync();
    SettingsStore other(dir.path());
    EXPECT_EQ(loadConditionsConfig(other).safety.unsafeMarks[Quantity::Temperature], (PerLevel<bool>{false, false, true}));
    const ConditionsConfig back = loadConditionsConfig(other);
    EXPECT_EQ(back.levels.thresholds[Quantity::Wind][0], 5.5);
    EXPECT_EQ(back.units, c.units);
    EXPECT_EQ(back.alarms, c.alarms);
    EXPECT_EQ(back.compass, c.compass);
    EXPECT_EQ(back.safety.unsafeMarks, c.safety.unsafeMarks);
}

TEST_F(Settings, BadStoredValuesFallBackOrStayConsistent)
{
    store.save(kApp, QStringLiteral("Limit"), QStringLiteral("WindCalm"), QStringLiteral("abc"));
    store.save(kApp, QStringLiteral("Color"), QStringLiteral("HumLow"), QStringLiteral("-7"));
    // A box stored armed without a sound does not come back armed.
    store.save(kApp, QStringLiteral("Alarms"), QStringLiteral("OvercastStat"), QStringLiteral("1"));
    // Key names are matched without regard to case.
    store.save(kApp, QStringLiteral("unsafe"), QStringLiteral("overcast"), QStringLiteral("0"));
    const ConditionsConfig c = loadConditionsConfig(store);
    EXPECT_EQ(c.levels.thresholds[Quantity::Wind][0], 10);
    EXPECT_EQ(c.levels.styles[Quantity::Humidity][0].colour, 12648384);
    EXPECT_FALSE(c.alarms.boxes[Quantity::Cloud][2].armed());
    EXPECT_FALSE(c.safety.unsafeMarks[Quantity::Cloud][2]);
}

} // namespace
