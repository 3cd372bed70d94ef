#include "Clock.h"
#include "ConditionSettings.h"
#include "FakeSoundPlayer.h"
#include "SafetyMonitor.h"

#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::conditions;

namespace {

const QString kOvercast = QStringLiteral("/sounds/overcast.wav");
const QString kRain = QStringLiteral("/sounds/rain.wav");
const QString kStation = QStringLiteral("/sounds/station.wav");

class Alarms : public ::testing::Test {
protected:
    Alarms()
    {
        for (Quantity q : kAllQuantities) in.levels[q] = Level::One;
        in.levels[Quantity::Temperature] = Level::Two;
        in.levels[Quantity::DewPoint] = Level::Three;
        in.windDirection = 0;
        arm(cfg.alarms.boxes[Quantity::Cloud][2], kOvercast);
        arm(cfg.alarms.boxes[Quantity::Rain][2], kRain + QStringLiteral("|repeat"));
        mon.start();
    }
    static void arm(AlarmBox& box, const QString& sound)
    {
        box.setSound(sound);
        box.setArmed(true);
    }
    SafetyResult cycle()
    {
        clock.advance(10000);
        return mon.evaluateSafety(in, cfg.safety, cfg.alarms, false);
    }
    AlarmController& alarms() { return mon.alarms(); }

    FakeClock clock;
    FakeSoundPlayer player;
    SafetyMonitor mon{clock, player};
    ConditionsConfig cfg = ConditionsConfig::defaults();
    SafetyInputs in;
};

TEST_F(Alarms, OvercastSoundsOncePerCauseAndStopsWhenClear)
{
    in.levels[Quantity::Cloud] = Level::Three;
    cycle();
    EXPECT_EQ(player.played, QStringList{kOvercast});
    EXPECT_EQ(alarms().currentCode(), QStringLiteral("C2"));
    EXPECT_EQ(alarms().litIcon(), 0);
    EXPECT_TRUE(alarms().stopButtonVisible());

    // The sound ends by itself: the next player tick hides the button, the
    // icon stays lit, and later Overcast cycles do not restart it.
    player.endOfSound();
    clock.advance(500);
    EXPECT_FALSE(alarms().stopButtonVisible());
    EXPECT_FALSE(alarms().playerTimerActive());
    EXPECT_EQ(alarms().litIcon(), 0);
    cycle();
    cycle();
    EXPECT_EQ(player.played.size(), 1);

    in.levels[Quantity::Cloud] = Level::One;
    cycle();
    EXPECT_EQ(alarms().currentCode(), QString());
    EXPECT_EQ(alarms().litIcon(), std::nullopt);
}

TEST_F(Alarms, TwoCausesTheFirstInOrderPlaysThenTheNext)
{
    in.levels[Quantity::Rain] = Level::Three;
    in.levels[Quantity::Cloud] = Level::Three;
    cycle();
    cycle();
    EXPECT_EQ(player.played, QStringList{kOvercast});
    EXPECT_EQ(alarms().currentCode(), QStringLiteral("C2"));

    in.levels[Quantity::Cloud] = Level::One;
    cycle();
    EXPECT_EQ(player.played, (QStringList{kOvercast, kRain + QStringLiteral(" (loop)")}));
    EXPECT_EQ(alarms().currentCode(), QStringLiteral("R2"));
    EXPECT_EQ(alarms().litIcon(), 1);
}

TEST_F(Alarms, RepeatLoopsUntilStopped)
{
    in.levels[Quantity::Rain] = Level::Three;
    cycle();
    EXPECT_TRUE(player.looping());
    player.endOfSound(); // a looping sound does not end
    clock.advance(5000);
    EXPECT_TRUE(alarms().stopButtonVisible());
    alarms().alarmStop(); // ButtStopAlarm
    EXPECT_FALSE(player.isPlaying());
    EXPECT_FALSE(alarms().stopButtonVisible());
    EXPECT_EQ(alarms().currentCode(), QStringLiteral("R2"));
    cycle(); // same cause: no restart
    EXPECT_EQ(player.played.size(), 1);
}

TEST_F(Alarms, SuspendStopsAndResumeReplaysAStandingAlarm)
{
    in.levels[Quantity::Cloud] = Level::Three;
    cycle();
    alarms().setSuspendSoundAlarm(cfg.alarms, true);
    EXPECT_TRUE(cfg.alarms.suspendSound);
    EXPECT_FALSE(player.isPlaying());
    cycle();
    cycle();
    EXPECT_EQ(player.played.size(), 1);

    alarms().setSuspendSoundAlarm(cfg.alarms, false);
    EXPECT_EQ(player.played.size(), 1); // not before the next cycle
    cycle();
    EXPECT_EQ(player.played, (QStringList{kOvercast, kOvercast}));
}

TEST_F(Alarms, ChooserOpenBlocksChangesAndANewSoundPlaysAfterIt)
{
    in.levels[Quantity::Cloud] = Level::Three;
    cycle();
    AlarmBox& box = cfg.alarms.boxes[Quantity::Cloud][2];
    const QString newSound = QStringLiteral("/other/bell.wav");

    alarms().chooseAlarmSound(box, cfg.alarms.lastMusicDir, true, [&](const SoundChooserStart& start) {
        EXPECT_EQ(start.folder, QStringLiteral("/sounds"));
        EXPECT_EQ(start.fileName, kOvercast);
        EXPECT_FALSE(start.loop);
        EXPECT_TRUE(alarms().chooserOpen());
        // Read cycles go on meanwhile, but neither stop nor start alarms.
        in.levels[Quantity::Cloud] = Level::One;
        cycle();
        EXPECT_TRUE(player.isPlaying());
        EXPECT_EQ(alarms().currentCode(), QStringLiteral("C2"));
        in.levels[Quantity::Cloud] = Level::Three;
        in.levels[Quantity::Rain] = Level::Three;
        cycle();
        EXPECT_EQ(player.played.size(), 1);
        return std::optional<SoundChoice>(SoundChoice{newSound, true, QStringLiteral("/other")});
    });
    EXPECT_FALSE(alarms().chooserOpen());
    EXPECT_EQ(box.sound(), newSound + QStringLiteral("|repeat"));
    EXPECT_TRUE(box.armed());
    EXPECT_EQ(cfg.alarms.lastMusicDir, QStringLiteral("/other"));
    EXPECT_EQ(alarms().currentCode(), QString());

    cycle();
    EXPECT_EQ(player.played.last(), newSound + QStringLiteral(" (loop)"));
    EXPECT_EQ(alarms().currentCode(), QStringLiteral("C2"));
}

TEST_F(Alarms, ChooserClosedWithoutOkStillReleasesTheBlock)
{
    AlarmBox box;
    alarms().chooseAlarmSound(box, cfg.alarms.lastMusicDir, true, [](const SoundChooserStart& start) {
        EXPECT_EQ(start.folder, QString()); // no sound, no last folder yet
        return std::optional<SoundChoice>();
    });
    EXPECT_FALSE(alarms().chooserOpen());
    EXPECT_FALSE(box.armed());

    // Choosing an empty file name removes the sound and disarms the box.
    AlarmBox& rain = cfg.alarms.boxes[Quantity::Rain][2];
    alarms().chooseAlarmSound(rain, cfg.alarms.lastMusicDir, true, [](const SoundChooserStart& start) {
        EXPECT_TRUE(start.loop);
        EXPECT_EQ(start.fileName, kRain);
        return std::optional<SoundChoice>(SoundChoice{QStringLiteral("  "), true, QStringLiteral("/sounds")});
    });
    EXPECT_EQ(rain.sound(), QString());
    EXPECT_FALSE(rain.armed());
}

TEST_F(Alarms, ArmedBoxNeedsASound)
{
    AlarmBox box;
    EXPECT_FALSE(box.setArmed(true));
    box.setSound(kOvercast);
    EXPECT_TRUE(box.setArmed(true));
    box.setSound(QString());
    EXPECT_FALSE(box.armed());

    // A marked and unsafe level whose box has no sound raises nothing.
    cfg.alarms.boxes[Quantity::Cloud][2] = AlarmBox{};
    in.levels[Quantity::Cloud] = Level::Three;
    EXPECT_TRUE(cycle().reportedUnsafe);
    EXPECT_TRUE(player.played.isEmpty());
    EXPECT_EQ(alarms().currentCode(), QString());
}

TEST_F(Alarms, UnplayableSoundIsIgnoredButCountsAsRaised)
{
    player.unplayable.insert(kOvercast);
    in.levels[Quantity::Cloud] = Level::Three;
    cycle();
    EXPECT_EQ(alarms().currentCode(), QStringLiteral("C2"));
    EXPECT_FALSE(alarms().stopButtonVisible());
    EXPECT_FALSE(alarms().playerTimerActive());
    cycle();
    EXPECT_TRUE(player.played.isEmpty());
}

TEST_F(Alarms, StaleStationDataAlarm)
{
    arm(cfg.alarms.stationData, kStation);
    in.levels[Quantity::Cloud] = Level::Three;
    cycle();
    EXPECT_TRUE(alarms().stationDataCheck(true, cfg.alarms)); // silence the server's own alarm
    EXPECT_EQ(alarms().currentCode(), QStringLiteral("10"));
    EXPECT_EQ(alarms().litIcon(), 8);
    EXPECT_EQ(player.file(), kStation);

    // While the data are old the alarm step changes nothing, and the check
    // does not restart the sound.
    in.stationTooOld = true;
    cycle();
    EXPECT_FALSE(alarms().stationDataCheck(true, cfg.alarms));
    EXPECT_EQ(player.played, (QStringList{kOvercast, kStation}));

    // Fresh data stop it; the next evaluation brings the Overcast alarm back.
    in.stationTooOld = false;
    EXPECT_FALSE(alarms().stationDataCheck(false, cfg.alarms));
    EXPECT_EQ(alarms().currentCode(), QString());
    EXPECT_FALSE(player.isPlaying());
    cycle();
    EXPECT_EQ(alarms().currentCode(), QStringLiteral("C2"));
}

TEST_F(Alarms, SensorErrorAlarmRespectsSuspend)
{
    arm(cfg.alarms.sensorData, kStation);
    cfg.alarms.suspendSound = true;
    EXPECT_FALSE(alarms().sensorDataCheck(true, cfg.alarms));
    EXPECT_TRUE(player.played.isEmpty());

    cfg.alarms.suspendSound = false;
    EXPECT_TRUE(alarms().sensorDataCheck(true, cfg.alarms));
    EXPECT_EQ(alarms().litIcon(), 9);
    in.sensorError = true;
    cycle(); // unsafe by the error, but the sensor alarm stays
    EXPECT_EQ(alarms().currentCode(), QStringLiteral("20"));
    EXPECT_TRUE(player.isPlaying());
    EXPECT_FALSE(alarms().sensorDataCheck(false, cfg.alarms));
    EXPECT_EQ(alarms().currentCode(), QString());
}

TEST_F(Alarms, ClientTakingControlSilences)
{
    in.levels[Quantity::Rain] = Level::Three;
    cycle();
    mon.hasControl(true);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(alarms().currentCode(), QString());
    // While the client has control the alarm step does not run.
    mon.evaluateSafety(in, cfg.safety, cfg.alarms, true);
    EXPECT_EQ(player.played.size(), 1);
}

TEST(AlarmCodes, CodesIconsAndSpecs)
{
    EXPECT_EQ(alarmCode(Quantity::DewPoint, 1), QStringLiteral("P1"));
    EXPECT_EQ(alarmCode(Quantity::Brightness, 2), QStringLiteral("D2"));
    EXPECT_EQ(alarmIconPosition(QStringLiteral("T0")), 4);
    EXPECT_EQ(alarmIconPosition(QStringLiteral("H2")), 6);
    EXPECT_EQ(alarmIconPosition(QStringLiteral("20")), 9);
    EXPECT_EQ(alarmIconPosition(QString()), std::nullopt);
    EXPECT_FALSE(parseLevelAlarmCode(QStringLiteral("10")));
    const SoundSpec s = parseSoundSpec(QStringLiteral("/a|b/c.wav|repeat"));
    EXPECT_EQ(s.file, QStringLiteral("/a|b/c.wav"));
    EXPECT_TRUE(s.loop);
    EXPECT_FALSE(parseSoundSpec(QStringLiteral("/a/c.wav")).loop);
    EXPECT_EQ(makeSoundSpec(QStringLiteral("/a/c.wav"), true), QStringLiteral("/a/c.wav|repeat"));
    EXPECT_EQ(makeSoundSpec(QStringLiteral(" "), true), QString());
}

} // namespace
