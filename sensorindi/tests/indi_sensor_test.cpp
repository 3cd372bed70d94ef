// The bridge's sensor on its own: INDI property updates in, readings, levels
// and the data-health flags out, on a fake clock.
#include "BridgeConfig.h"
#include "Clock.h"
#include "IndiSensor.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::sensorindi;

namespace {

const QString kDev = QStringLiteral("Weather Simulator");

BridgeConfig weatherConfig(QStringList* problems = nullptr)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("b.ini"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(exampleConfig().toUtf8());
    f.write("[Switch]\nDevice=Dome\nProperty=DOME_PARK\nSafeElement=UNPARK\nUnsafeElement=PARK\n"
            "[Data]\nMaxAgeSeconds=10\n[Server]\nReconnectSeconds=5\n");
    f.close();
    QSettings ini(path, QSettings::IniFormat);
    BridgeConfig c;
    QStringList p;
    EXPECT_TRUE(loadConfig(ini, &c, &p));
    if (problems) *problems = p;
    return c;
}

IndiProperty weather(double forecast, double temperature, double rain)
{
    IndiProperty p;
    p.device = kDev;
    p.name = QStringLiteral("WEATHER_PARAMETERS");
    p.kind = IndiProperty::Number;
    p.numbers = {{QStringLiteral("WEATHER_FORECAST"), forecast},
                 {QStringLiteral("WEATHER_TEMPERATURE"), temperature},
                 {QStringLiteral("WEATHER_RAIN_HOUR"), rain}};
    return p;
}

IndiProperty connection(const QString& device, bool on)
{
    IndiProperty p;
    p.device = device;
    p.name = QStringLiteral("CONNECTION");
    p.kind = IndiProperty::Switch;
    p.switches = {{QStringLiteral("CONNECT"), on}, {QStringLiteral("DISCONNECT"), !on}};
    return p;
}

IndiProperty park(bool parked)
{
    IndiProperty p;
    p.device = QStringLiteral("Dome");
    p.name = QStringLiteral("DOME_PARK");
    p.kind = IndiProperty::Switch;
    p.switches = {{QStringLiteral("PARK"), parked}, {QStringLiteral("UNPARK"), !parked}};
    return p;
}

struct Rig {
    FakeClock clock;
    IndiSensor sensor{weatherConfig(), clock, QStringLiteral("5.2.015")};
    QStringList connects;
    QStringList switches;
    Rig()
    {
        sensor.connectDeviceHook = [this](const QString& d) { connects << d; };
        sensor.switchHook = [this](const QString& d, const QString& p, const QString& e) { switches << d + '.' + p + '.' + e; };
    }
    void allUp()
    {
        sensor.setServerConnected(true);
        sensor.propertyUpdated(connection(kDev, true));
        sensor.propertyUpdated(connection(QStringLiteral("Dome"), true));
        sensor.propertyUpdated(park(false));
    }
    bool good() const { return sensor.deviceRunning() && !sensor.transferError() && sensor.dataReady(); }
};

} // namespace

TEST(BridgeConfig, ExampleLoadsCleanlyAndBadValuesAreReported)
{
    QStringList problems;
    const BridgeConfig c = weatherConfig(&problems);
    EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
    EXPECT_EQ(c.devices(), (QStringList{kDev, QStringLiteral("Dome")}));
    EXPECT_TRUE(c.readings.value("SkyTemperature").cloudCover);
    EXPECT_EQ(c.maxAgeMs, 10000);

    QTemporaryDir dir;
    QSettings ini(dir.filePath("bad.ini"), QSettings::IniFormat);
    ini.setValue("Server/Port", "70000");
    ini.setValue("Data/MaxAgeSeconds", "soon");
    ini.setValue("RainValue/Device", "Rain");            // property and element missing
    ini.setValue("Levels/ThreshTempClear", "-20");
    ini.setValue("Levels/NoSuchThing", "1");
    ini.setValue("Levels/BrightnessDirection", "sideways");
    ini.sync();
    BridgeConfig b;
    EXPECT_FALSE(loadConfig(ini, &b, &problems)) << "no reading from a device";
    EXPECT_EQ(problems.size(), 5) << problems.join('\n').toStdString();
    EXPECT_EQ(b.port, 7624);
    EXPECT_EQ(b.maxAgeMs, 120000);
    EXPECT_EQ(b.settings.value("ThreshTempClear").toDouble(), -20.0);
    EXPECT_TRUE(b.brightnessRising);
}

TEST(IndiSensor, MapsCloudCoverRainAndTemperatureToReadingsAndLevels)
{
    Rig rig;
    rig.allUp();
    struct Row {
        double forecast, rain;
        double sky;
        int cloud, rainLevel;
    };
    // forecast x 50 = cover %, -25 °C clear sky .. 0 °C overcast; rain mm/h
    const Row rows[] = {{0, 0.0, -25.0, 1, 1}, {1, 0.5, -12.5, 2, 2}, {2, 5.0, 0.0, 3, 3}, {9, 0.0, 0.0, 3, 1}};
    for (const Row& r : rows) {
        rig.sensor.propertyUpdated(weather(r.forecast, 12.0, r.rain));
        EXPECT_DOUBLE_EQ(rig.sensor.reading("SkyTemperature").toDouble(), r.sky);
        EXPECT_EQ(rig.sensor.reading("Condition_Cloud").toInt(), r.cloud);
        EXPECT_EQ(rig.sensor.reading("Condition_Rain").toInt(), r.rainLevel);
        EXPECT_DOUBLE_EQ(rig.sensor.reading("RainValue").toDouble(), r.rain);
    }
    // The fixed brightness is dark; readings nobody supplies are 0.
    EXPECT_EQ(rig.sensor.reading("Condition_Brightness").toInt(), 1);
    EXPECT_DOUBLE_EQ(rig.sensor.reading("RainHeaterPercent").toDouble(), 0.0);
    // Fahrenheit is reported, levels stay.
    rig.sensor.setTemperatureUnits("F");
    EXPECT_DOUBLE_EQ(rig.sensor.reading("AmbientTemperature").toDouble(), 53.6);
    EXPECT_DOUBLE_EQ(rig.sensor.reading("SkyTemperature").toDouble(), 32.0);
    EXPECT_EQ(rig.sensor.reading("Condition_Cloud").toInt(), 3);
    // A client's threshold counts at once.
    rig.sensor.setSetting("ThreshTempCloudy", 5.0);
    EXPECT_EQ(rig.sensor.reading("Condition_Cloud").toInt(), 2);
    EXPECT_EQ(rig.sensor.reading("LastReading").toDateTime(), rig.clock.now());
}

TEST(IndiSensor, DataAreGoodOnlyWhileConnectedAndFresh)
{
    Rig rig;
    EXPECT_FALSE(rig.sensor.deviceRunning());
    EXPECT_TRUE(rig.sensor.transferError());
    EXPECT_FALSE(rig.sensor.dataReady());

    // Properties may arrive before the news of the connection.
    rig.sensor.propertyUpdated(connection(kDev, false));
    EXPECT_TRUE(rig.connects.isEmpty()) << "nothing is sent before the server is connected";
    rig.sensor.setServerConnected(true);
    EXPECT_EQ(rig.connects, QStringList{kDev}) << "a disconnected device is asked to connect";
    rig.sensor.propertyUpdated(connection(kDev, true));
    rig.sensor.propertyUpdated(connection(QStringLiteral("Dome"), true));
    EXPECT_TRUE(rig.sensor.deviceRunning());
    EXPECT_TRUE(rig.sensor.transferError()) << "no values yet";
    rig.sensor.propertyUpdated(weather(0, 10, 0));
    EXPECT_TRUE(rig.good()) << rig.sensor.fault().toStdString();

    // Values that the driver stops sending go stale after the maximum age,
    // though nothing else changed.
    rig.clock.advance(10000);
    EXPECT_TRUE(rig.good());
    rig.clock.advance(1);
    EXPECT_TRUE(rig.sensor.transferError());
    EXPECT_FALSE(rig.sensor.dataReady());
    EXPECT_TRUE(rig.sensor.deviceRunning());
    EXPECT_NE(rig.sensor.fault().indexOf("not updated"), -1) << rig.sensor.fault().toStdString();
    EXPECT_EQ(rig.sensor.reading("LastReading").toDateTime(), rig.clock.now().addMSecs(-10001));
    // The same values sent again are fresh.
    rig.sensor.propertyUpdated(weather(0, 10, 0));
    EXPECT_TRUE(rig.good());

    // The device disconnects: faulty at once, its values are gone, and it is
    // asked to connect again, but not more often than the retry period.
    rig.connects.clear();
    rig.sensor.propertyUpdated(connection(kDev, false));
    EXPECT_FALSE(rig.sensor.deviceRunning());
    EXPECT_EQ(rig.connects, QStringList{kDev});
    rig.sensor.propertyUpdated(connection(kDev, false));
    rig.sensor.deviceStart();
    EXPECT_EQ(rig.connects.size(), 1);
    rig.clock.advance(5000);
    rig.sensor.deviceStart();
    EXPECT_EQ(rig.connects.size(), 2);
    rig.sensor.propertyUpdated(connection(kDev, true));
    EXPECT_TRUE(rig.sensor.transferError()) << "values from before the disconnection do not count";
    rig.sensor.propertyUpdated(weather(0, 10, 0));
    EXPECT_TRUE(rig.good());

    // The server goes away: nothing of it is kept.
    rig.sensor.setServerConnected(false);
    EXPECT_FALSE(rig.sensor.deviceRunning());
    rig.sensor.setServerConnected(true);
    EXPECT_FALSE(rig.sensor.deviceRunning()) << "device state is not carried over a new connection";
    EXPECT_TRUE(rig.sensor.transferError());
    EXPECT_NE(rig.sensor.fault().indexOf("not found"), -1);

    // A property the driver deletes takes its reading with it.
    rig.allUp();
    rig.sensor.propertyUpdated(weather(0, 10, 0));
    EXPECT_TRUE(rig.good());
    rig.sensor.propertyRemoved(kDev, "WEATHER_PARAMETERS");
    EXPECT_TRUE(rig.sensor.transferError());
}

TEST(IndiSensor, SwitchIsDrivenOnChangeAndReadBack)
{
    Rig rig;
    rig.sensor.setSwitch(2.0);
    EXPECT_TRUE(rig.switches.isEmpty()) << "not while the devices are down";
    rig.allUp();
    rig.sensor.propertyUpdated(weather(0, 10, 0));
    EXPECT_EQ(rig.sensor.reading("SwitchStatus").toDouble(), 1.0);
    rig.sensor.setSwitch(1.0);
    EXPECT_TRUE(rig.switches.isEmpty()) << "already open";
    rig.sensor.setSwitch(2.0);
    rig.sensor.setSwitch(2.0); // every cycle sends it; the device is told once
    EXPECT_EQ(rig.switches, QStringList{"Dome.DOME_PARK.PARK"});
    EXPECT_EQ(rig.sensor.reading("SwitchStatus").toDouble(), 1.0) << "status is what the device says";
    rig.clock.advance(5000);
    rig.sensor.setSwitch(2.0);
    EXPECT_EQ(rig.switches.size(), 2) << "told again when it did not follow";
    rig.sensor.propertyUpdated(park(true));
    EXPECT_EQ(rig.sensor.reading("SwitchStatus").toDouble(), 2.0);
    rig.clock.advance(5000);
    rig.sensor.setSwitch(2.0);
    EXPECT_EQ(rig.switches.size(), 2);
    rig.sensor.setSwitch(3.0); // not a switch position
    EXPECT_EQ(rig.switches.size(), 2);
}

TEST(IndiSensor, AReadingMayHaveAnAgeOfItsOwnOrNone)
{
    BridgeConfig c = weatherConfig();
    c.readings["RainValue"].maxAgeMs = 0;           // sent only on change
    c.readings["AmbientTemperature"].maxAgeMs = 30000;
    FakeClock clock;
    IndiSensor s(c, clock, "5.2.015");
    s.setServerConnected(true);
    s.propertyUpdated(connection(kDev, true));
    s.propertyUpdated(connection("Dome", true));
    s.propertyUpdated(weather(0, 10, 0));
    IndiProperty sky = weather(0, 10, 0);
    sky.numbers.remove("WEATHER_RAIN_HOUR");
    sky.numbers.remove("WEATHER_TEMPERATURE");
    for (int i = 0; i < 2; ++i) {
        clock.advance(10000);
        s.propertyUpdated(sky); // the sky keeps coming
    }
    EXPECT_FALSE(s.transferError()) << s.fault().toStdString();
    clock.advance(10001);
    s.propertyUpdated(sky);
    EXPECT_TRUE(s.transferError()) << "the temperature's own 30 s";
    EXPECT_NE(s.fault().indexOf("AmbientTemperature"), -1);
}
