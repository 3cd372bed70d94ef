// The monitor against the real sensor stand-in on a private bus: connecting,
// the version check, the read cycle's sensor step, failures and recovery.
#include "MonitorCore.h"
#include "MonitorRig.h"
#include "PrivateBus.h"
#include "SensorLink.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane;
using skyvane::testing::PrivateBus;
using skyvane::testing::SensorStandIn;
using Rig = skyvane::testing::MonitorRig;

TEST(SensorLink, VersionNumberPartMustBeAtLeast5_2)
{
    struct Row { const char* text; bool ok; };
    const Row rows[] = {
        {"5.2.015", true},  // number part "5.2"
        {"5.20.015", true},
        {"5.30.001", true},
        {"6.00.000", true},
        {"5.19.003", false}, // 5.19 < 5.2
        {"5.1.999", false},
        {"5.2", false},      // nothing left after dropping the build part
        {"", false},
        {"garbage", false},
    };
    for (const Row& r : rows) EXPECT_EQ(SensorLink::versionAcceptable(QString::fromLatin1(r.text)), r.ok) << r.text;
}


TEST(SensorLinkLive, StartConnectsTakesControlAndReadsAtOnce)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    ASSERT_TRUE(rig.sim->setReading("SkyTemperature", -21.26));
    ASSERT_TRUE(rig.sim->setLevels(1, 1, 1));
    rig.start();
    ASSERT_TRUE(rig.core->isRunning()) << rig.core->state().status.text.toStdString();
    EXPECT_TRUE(rig.messages.isEmpty());

    // control taken and the device started
    EXPECT_TRUE(rig.sim->localControl());
    EXPECT_EQ(rig.sim->localControlLabel(), "XOB_Skyvane has control");
    EXPECT_EQ(rig.sim->deviceStartCount(), 1);
    EXPECT_TRUE(rig.sim->switchCtrl()); // the stand-in is MASTER by default

    // the first cycle ran at once, the timer runs at the read period
    EXPECT_EQ(rig.core->cycleCount(), 1);
    EXPECT_EQ(rig.core->state().valCloud.text, "-21.3");
    EXPECT_TRUE(rig.core->readTimerActive());
    EXPECT_EQ(rig.core->readTimerInterval(), 10000);
    EXPECT_TRUE(rig.core->switchControl());
    EXPECT_EQ(rig.sim->lastSwitch(), 1.0);
    EXPECT_EQ(rig.core->state().valSwitch.text, "Opened");
    EXPECT_EQ(rig.core->state().valSwitch.colour, colour::Green);
    EXPECT_FALSE(rig.core->state().menus.startVisible);

    // time drives the cycle
    rig.clock.advance(30000);
    EXPECT_EQ(rig.core->cycleCount(), 4);

    // Stop gives control back
    rig.core->stopProcedure();
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_FALSE(rig.core->readTimerActive());
    EXPECT_FALSE(rig.sim->localControl());
    rig.clock.advance(60000);
    EXPECT_EQ(rig.core->cycleCount(), 4);
}

TEST(SensorLinkLive, OldVersionIsRefused)
{
    Rig rig({"--ready-delay", "0", "--version", "5.19.003"});
    ASSERT_TRUE(rig.ready());
    rig.start();
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_EQ(rig.messages, (QStringList{"Version of XOB_Nephor must be equal or greater than 5.2x", "Cannot read XOB_Nephor"}));
    EXPECT_EQ(rig.core->state().status.text, "Problem with XOB_Nephor");
}

TEST(SensorLinkLive, NoDataWithZeroTimeoutEndsAfterOnePass)
{
    Rig rig({"--ready-delay", "-1"});
    ASSERT_TRUE(rig.ready());
    rig.core->config().npTimeout = 0;
    const QDateTime before = rig.clock.now();
    rig.start();
    EXPECT_LE(before.msecsTo(rig.clock.now()), 1000);
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_EQ(rig.messages, QStringList{"Cannot read XOB_Nephor"});
    // Stop released the server
    EXPECT_FALSE(rig.sim->localControl());

    // With a timeout of 3 s the wait makes its passes, then gives up.
    rig.messages.clear();
    rig.core->config().npTimeout = 3;
    const QDateTime t0 = rig.clock.now();
    rig.start();
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_EQ(t0.msecsTo(rig.clock.now()), 4000);
}

TEST(SensorLinkLive, NoServerOnTheBus)
{
    Rig rig({}, false);
    ASSERT_TRUE(rig.bus.isRunning());
    rig.start();
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_EQ(rig.core->state().status.text, "Problem with XOB_Nephor");
    EXPECT_EQ(rig.messages, QStringList{"Cannot read XOB_Nephor"});
}

TEST(SensorLinkLive, FaultyDataShowA31AndRecover)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.sim->setLevels(1, 1, 1);
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    EXPECT_FALSE(rig.core->sensorError());

    for (int variant = 0; variant < 2; ++variant) {
        if (variant == 0) rig.sim->setDeviceRunning(false);
        else rig.sim->setXferError(true);
        rig.clock.advance(10000);
        EXPECT_TRUE(rig.core->sensorError());
        EXPECT_EQ(rig.core->state().codes.text, "a31");
        EXPECT_EQ(rig.core->state().status.text, "Error with XOB_Nephor");
        EXPECT_EQ(rig.core->state().npAlarmMsg.text, "NP error");
        EXPECT_EQ(rig.core->state().valCloud.text, "");
        EXPECT_EQ(rig.core->state().sensorNames[0].colour, colour::Red);
        EXPECT_EQ(rig.core->secondsSinceGoodData(), 1000);
        // faulty data never count as safe
        EXPECT_TRUE(rig.core->unsafe());
        EXPECT_TRUE(rig.sim->lastUnsafe());
        EXPECT_EQ(rig.sim->lastSwitch(), 2.0);
        EXPECT_EQ(rig.core->state().valSwitch.text, "Closed");

        if (variant == 0) rig.sim->setDeviceRunning(true);
        else rig.sim->setXferError(false);
        rig.clock.advance(10000);
        EXPECT_FALSE(rig.core->sensorError());
        EXPECT_EQ(rig.core->state().codes.text, "");
        EXPECT_EQ(rig.core->state().npAlarmMsg.text, "");
        EXPECT_EQ(rig.core->state().sensorNames[0].colour, colour::Cyan);
        EXPECT_EQ(rig.core->secondsSinceGoodData(), 3);
    }
}

TEST(SensorLinkLive, HungServerCostsOneTimeoutPerCycleAndRecovers)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.sim->setLevels(1, 1, 1);
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());

    ASSERT_TRUE(rig.sim->hang(2500));
    QElapsedTimer t;
    t.start();
    rig.clock.advance(10000); // one cycle
    const qint64 ms = t.elapsed();
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms, 1000) << "more than one call timeout in one cycle";
    EXPECT_TRUE(rig.core->sensorError());
    EXPECT_EQ(rig.core->state().codes.text, "a31");
    EXPECT_TRUE(rig.core->unsafe());

    // Once the server answers again the next cycle is good.
    QElapsedTimer wait;
    wait.start();
    bool recovered = false;
    while (wait.elapsed() < 6000 && !recovered) {
        rig.clock.advance(10000);
        recovered = !rig.core->sensorError();
    }
    EXPECT_TRUE(recovered);
    EXPECT_EQ(rig.core->state().codes.text, "");
}

TEST(SensorLinkLive, ServerRestartIsPickedUpByTheNextCycle)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.sim->setLevels(1, 1, 1);
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());

    rig.sim->kill();
    rig.clock.advance(10000);
    EXPECT_TRUE(rig.core->sensorError());
    EXPECT_TRUE(rig.core->unsafe());
    EXPECT_TRUE(rig.core->isRunning()) << "a dead server must not stop the read cycle";

    rig.sim = std::make_unique<SensorStandIn>(rig.bus, QStringList{"--ready-delay", "0"});
    ASSERT_TRUE(rig.sim->isRunning());
    rig.sim->setLevels(1, 1, 1);
    rig.clock.advance(10000);
    EXPECT_FALSE(rig.core->sensorError());
    // control was taken again on the new instance
    EXPECT_TRUE(rig.sim->localControl());
}

TEST(SensorLinkLive, ClientSetSwitchOnlyWhenThisProgramDoesNotDriveIt)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.sim->setLevels(1, 1, 1);
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    const int before = rig.sim->switchCount();
    // SWRole(0): this program drives the switch, a client's call does nothing
    rig.core->setSwitch(2);
    EXPECT_EQ(rig.sim->switchCount(), before);
    rig.core->config().swRole = 1;
    rig.core->followSwitchRole();
    rig.core->setSwitch(2);
    EXPECT_EQ(rig.sim->switchCount(), before + 1);
    EXPECT_EQ(rig.sim->lastSwitch(), 2.0);
}

TEST(SensorLinkLive, SlaveRoleLeavesTheSwitchAlone)
{
    Rig rig({"--ready-delay", "0", "--role", "SLAVE"});
    ASSERT_TRUE(rig.ready());
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    EXPECT_FALSE(rig.sim->switchCtrl());
    EXPECT_FALSE(rig.core->switchControl());
    EXPECT_EQ(rig.core->config().swRole, 1);
    EXPECT_EQ(rig.core->state().timeoutAlarmLabel.text, "Timeout Alarm");
    EXPECT_TRUE(rig.core->state().alarmNpVisible);
    EXPECT_EQ(rig.sim->switchCount(), 0);
    rig.core->setSwitch(2); // not MASTER: no effect
    EXPECT_EQ(rig.sim->switchCount(), 0);
}
