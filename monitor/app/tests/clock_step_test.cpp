// The real monitor with its wall clock stepped while it runs, as NTP does
// when the observatory computer gets its network back or a user fixes the
// time: every delay runs its own length.
#include "SteppedClock.h"

using namespace skyvane;
using namespace skyvane::testing;

// The safe delay, the cloud alarm delay and a sector's minute, each with
// steps of +1 h, -1 h and a day into it: each ends after its own length.
TEST_F(ClockSteps, DelaysRunTheirLengthWhateverTheWallClockDoes)
{
    writeSettings([&](SettingsStore& s) {
        s.save(kApp, "Window", "SafeDelayVal", "20");
        s.save(kApp, "Setup", "TimeoutREAD", "3000"); // stamps a day off stay fresh
        s.save(kApp, "Unsafe", "Cloudy", "1");
        s.save(kApp, "Unsafe", "WindDir1", "000  180  01");
    });
    double wind = 5;
    const char* direction = "NNE";
    writeStation(station, clock->now(), wind, direction);
    SensorStandIn sim(bus, {"--ready-delay", "0"});
    ASSERT_TRUE(sim.isRunning()) << sim.error().toStdString();
    ASSERT_TRUE(sim.setLevels(1, 1, 1));
    ASSERT_TRUE(startMonitor()) << monitor.log().toStdString();
    ASSERT_GE(waitFlag("SAFE", 20), 0) << monitor.log().toStdString();

    auto run = [&](Steps steps) {
        return [&, steps](double t) mutable {
            if (steps.done < steps.at.size() && t >= steps.at[steps.done].first) {
                clock->step(steps.at[steps.done].second);
                ++steps.done;
                writeStation(station, clock->now(), wind, direction);
                steps.lastWrite = t;
            }
            if (t - steps.lastWrite >= 4) {
                writeStation(station, clock->now(), wind, direction);
                steps.lastWrite = t;
            }
        };
    };

    // --- the safe delay of 20 s
    ASSERT_TRUE(sim.setLevels(1, 3, 1)); // rain
    ASSERT_GE(waitFlag("UNSAFE", 10), 0) << monitor.log().toStdString();
    ASSERT_TRUE(sim.setLevels(1, 1, 1));
    double safeAfter = waitFlag("SAFE", 40, run({{{5, 3600}, {8, -3600}, {15, 86400}}}));
    EXPECT_GE(safeAfter, 19.5) << "a step shortened the safe delay\n" << monitor.log().toStdString();
    EXPECT_LE(safeAfter, 24) << monitor.log().toStdString();

    // --- the cloud alarm delay of 20 s, Cloudy marked
    ASSERT_TRUE(client->let("XOB_CloudAlarmDelay", 20).ok());
    ASSERT_TRUE(sim.setLevels(2, 1, 1));
    double unsafeAfter = waitFlag("UNSAFE", 60, run({{{5, -86400}, {10, -3600}, {15, 3600}}}));
    EXPECT_GE(unsafeAfter, 19.5) << monitor.log().toStdString();
    EXPECT_LE(unsafeAfter, 24) << "a step held the cloud alarm delay\n" << monitor.log().toStdString();
    ASSERT_TRUE(sim.setLevels(1, 1, 1));
    ASSERT_GE(waitFlag("SAFE", 40, run({})), 0) << monitor.log().toStdString();

    // --- a Windy wind inside a 1-minute sector, after being seen outside
    wind = 15.5;
    direction = "W";
    writeStation(station, clock->now(), wind, direction);
    QThread::msleep(2000);
    QCoreApplication::processEvents();
    ASSERT_EQ(lastFlag(monitor), "SAFE") << "Windy outside the sector counts\n" << monitor.log().toStdString();
    direction = "ENE";
    writeStation(station, clock->now(), wind, direction);
    unsafeAfter = waitFlag("UNSAFE", 90, run({{{10, 3600}, {20, -3600}, {30, 86400}, {40, -86400}}}));
    EXPECT_GE(unsafeAfter, 59) << monitor.log().toStdString();
    EXPECT_LE(unsafeAfter, 64) << "a step held the sector's minute\n" << monitor.log().toStdString();

    // every step was told once, and none as a different size
    const QString log = monitor.log();
    for (const char* told : {"clock stepped by +3600 s", "clock stepped by -3600 s", "clock stepped by +86400 s", "clock stepped by -86400 s"})
        EXPECT_TRUE(log.contains(QString::fromLatin1(told))) << told << "\n" << log.toStdString();
    EXPECT_EQ(log.count("clock stepped by"), 10) << log.toStdString();
    client.reset();
    monitor.terminate();
}

