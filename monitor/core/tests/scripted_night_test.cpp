// A whole night against the real sensor stand-in and a station file: clear,
// cloudy, rain, clear again. The flag, the value the stand-in receives, the
// roof switch and the alarms follow, and the safe delay holds the return to
// SAFE back.
#include "FakeSoundPlayer.h"
#include "MonitorRig.h"

#include <gtest/gtest.h>

using namespace skyvane;
using skyvane::conditions::FakeSoundPlayer;
using skyvane::conditions::Quantity;
using Rig = skyvane::testing::MonitorRig;

namespace {
constexpr qint64 kCycle = 10000; // the default read period

struct Night {
    FakeSoundPlayer player;
    Rig rig{{"--ready-delay", "0"}, true, &player};

    void cycle(int n = 1) { rig.clock.advance(kCycle * n); }
    bool reportedUnsafe() const { return rig.core->unsafe(); }
};
} // namespace

TEST(ScriptedNight, ClearCloudyRainClearWithSafeDelayAndAlarms)
{
    Night night;
    Rig& rig = night.rig;
    ASSERT_TRUE(rig.ready());
    auto& cfg = rig.core->conditionsConfig();
    cfg.safety.safeDelaySeconds = 30;
    // Rain (level 3) sounds an alarm, looping.
    cfg.alarms.boxes[Quantity::Rain][2].setSound("/sounds/rain.wav|repeat");
    ASSERT_TRUE(cfg.alarms.boxes[Quantity::Rain][2].setArmed(true));

    // Clear: the first evaluation after Start is reported at once.
    rig.sim->setLevels(1, 1, 1);
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    EXPECT_FALSE(night.reportedUnsafe());
    EXPECT_FALSE(rig.sim->lastUnsafe());
    EXPECT_EQ(rig.sim->lastSwitch(), 1.0);
    EXPECT_EQ(rig.core->state().valSwitch.text, "Opened");
    EXPECT_EQ(rig.core->state().cond[size_t(Quantity::Cloud)].text, "Clear");

    // Overcast: unsafe at once, the roof closes.
    rig.sim->setLevels(3, 1, 1);
    night.cycle();
    EXPECT_TRUE(night.reportedUnsafe());
    EXPECT_TRUE(rig.sim->lastUnsafe());
    EXPECT_EQ(rig.sim->lastSwitch(), 2.0);
    EXPECT_EQ(rig.core->state().valSwitch.text, "Closed");
    EXPECT_TRUE(night.player.played.isEmpty()) << "no alarm armed for cloud";

    // Rain: still unsafe, the rain alarm sounds in a loop.
    rig.sim->setLevels(3, 3, 1);
    night.cycle();
    EXPECT_TRUE(rig.sim->lastUnsafe());
    EXPECT_EQ(night.player.played, QStringList{"/sounds/rain.wav (loop)"});
    EXPECT_EQ(rig.core->alarmId(), "R2");
    EXPECT_EQ(rig.core->state().alarmIcon, 1);

    // Clear again: the sky is fine but SAFE waits 30 s.
    rig.sim->setLevels(1, 1, 1);
    night.cycle();
    EXPECT_TRUE(night.reportedUnsafe());
    EXPECT_TRUE(rig.sim->lastUnsafe());
    EXPECT_EQ(rig.sim->lastSwitch(), 2.0);
    EXPECT_FALSE(rig.core->state().safeDelayMsg.text.isEmpty());
    night.cycle(2); // 20 s of the 30
    EXPECT_TRUE(night.reportedUnsafe());
    night.cycle(); // 30 s
    EXPECT_FALSE(night.reportedUnsafe());
    EXPECT_FALSE(rig.sim->lastUnsafe());
    EXPECT_EQ(rig.sim->lastSwitch(), 1.0);
    EXPECT_EQ(rig.core->state().valSwitch.text, "Opened");
    EXPECT_TRUE(rig.core->state().safeDelayMsg.text.isEmpty());
}

TEST(ScriptedNight, AnUnsafeCycleRestartsTheSafeDelay)
{
    Night night;
    Rig& rig = night.rig;
    ASSERT_TRUE(rig.ready());
    rig.core->conditionsConfig().safety.safeDelaySeconds = 30;
    rig.sim->setLevels(3, 1, 1);
    rig.start();
    ASSERT_TRUE(night.reportedUnsafe());

    rig.sim->setLevels(1, 1, 1);
    night.cycle(2); // 20 s safe
    rig.sim->setLevels(3, 1, 1);
    night.cycle(); // one unsafe cycle in between
    rig.sim->setLevels(1, 1, 1);
    night.cycle(3); // safe again since the first of these: 20 s, not enough
    EXPECT_TRUE(night.reportedUnsafe());
    night.cycle(1); // 30 s
    EXPECT_FALSE(night.reportedUnsafe());
}

TEST(ScriptedNight, StationWindAndStaleStationData)
{
    Night night;
    Rig& rig = night.rig;
    ASSERT_TRUE(rig.ready());
    rig.sim->setLevels(1, 1, 1);
    rig.start();
    ASSERT_FALSE(night.reportedUnsafe());
    EXPECT_EQ(rig.core->state().valWind.text, "5 km/h");

    // Windy (level 2 is marked unsafe by default)
    rig.writeStationFile(15, 18);
    night.cycle();
    EXPECT_TRUE(night.reportedUnsafe());
    EXPECT_EQ(rig.core->state().cond[size_t(Quantity::Wind)].text, "Windy");

    // Calm again, then the station file disappears: a42, and with
    // WSDataOldUnsafe (the default) the sky is unsafe.
    rig.writeStationFile();
    night.cycle();
    EXPECT_FALSE(night.reportedUnsafe());
    QFile::remove(rig.dir.filePath("station.csv"));
    night.cycle();
    EXPECT_EQ(rig.core->state().codes.text, "a42");
    EXPECT_EQ(rig.core->state().wsAlarmMsg.text, "WS data file absent");
    EXPECT_TRUE(night.reportedUnsafe());
    EXPECT_EQ(rig.core->secondsSinceGoodData(), 1000);

    // Without WSDataOldUnsafe a missing file alone does not close the roof.
    rig.core->conditionsConfig().safety.wsDataOldUnsafe = false;
    night.cycle();
    EXPECT_EQ(rig.core->state().codes.text, "a42");
    EXPECT_FALSE(night.reportedUnsafe());

    // The file is back: the code clears by itself.
    rig.writeStationFile();
    night.cycle();
    EXPECT_EQ(rig.core->state().codes.text, "");
    EXPECT_EQ(rig.core->secondsSinceGoodData(), 3);
}

TEST(ScriptedNight, SensorAlarmStartsOncePerErrorPeriod)
{
    Night night;
    Rig& rig = night.rig;
    ASSERT_TRUE(rig.ready());
    rig.sim->setLevels(1, 1, 1);
    auto& np = rig.core->conditionsConfig().alarms.sensorData;
    np.setSound("/sounds/np.wav");
    ASSERT_TRUE(np.setArmed(true));
    rig.start();
    const int stopsBefore = rig.sim->alarmStopCount();

    rig.sim->setDeviceRunning(false);
    night.cycle(3);
    EXPECT_EQ(night.player.played, QStringList{"/sounds/np.wav"});
    EXPECT_EQ(rig.core->alarmId(), "20");
    EXPECT_EQ(rig.sim->alarmStopCount(), stopsBefore + 1) << "the server's own alarm is silenced once";

    rig.sim->setDeviceRunning(true);
    night.cycle();
    EXPECT_EQ(rig.core->alarmId(), "");
    rig.sim->setDeviceRunning(false);
    night.cycle();
    EXPECT_EQ(night.player.played.size(), 2) << "a new error period sounds again";
}
