// What the class reports as Safe, against the sensor stand-in and station
// files: never Safe without a current evaluation, never Safe because a client
// that took control went away; and the call-count lamp of a new first client.
#include "NephorTestRig.h"
#include "Safety.h"

#include <gtest/gtest.h>
#include <atomic>
#include <cmath>
#include <limits>

using namespace skyvane;
using namespace skyvane::testing;
using automation::Failure;

namespace {

// Rain and very windy are marked unsafe; nothing else is. Returning to safe
// is not delayed.
void markRainAndStrongWind(ClientThread& c)
{
    for (const char* m : {"SafeClear", "SafeCloudy", "SafeOvercast", "SafeDry", "SafeDark", "SafeLight", "SafeVLight",
                          "SafeWindCalm", "SafeWindWindy", "SafeGustCalm", "SafeGustWindy", "SafeGustVWindy",
                          "SafeDewFine", "SafeDewHumid", "SafeDewCondensation", "SafeHumFine", "SafeHumHumid",
                          "SafeHumVHumid", "SafeTempCold", "SafeTempFine", "SafeTempHot"})
        ASSERT_TRUE(c.let(QString::fromLatin1(m), 0).ok()) << m;
    for (const char* m : {"SafeWet", "SafeRain", "SafeWindVWindy"}) ASSERT_TRUE(c.let(QString::fromLatin1(m), 1).ok()) << m;
    ASSERT_TRUE(c.let("ThreshWindCalm", 10.0).ok());
    ASSERT_TRUE(c.let("ThreshWindWindy", 30.0).ok());
    ASSERT_TRUE(c.let("XOB_SafeDelayValue", 0).ok());
}

// A raw client (no client library holding its connection) that takes
// control and declares the sky safe.
void takeControlAndSaySafe(ClientThread& c)
{
    ASSERT_TRUE(c.createRaw());
    ASSERT_EQ(c.raw(c.instanceCall("XOB_LocalControl", {true, QStringLiteral("Dome program")})).type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(c.raw(c.instanceCall("SetUnSafe", {false})).type(), QDBusMessage::ReplyMessage);
}

} // namespace

TEST(NephorSafety, ControlEndsWhenTheClientThatTookItLeaves)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto watcher = rig.client();
    markRainAndStrongWind(*watcher);
    ASSERT_TRUE(watcher->call("Device_Start").ok());
    const qint64 cycle = rig.core->readTimerInterval();

    ClientThread dome(rig.bus.address(), "dome");
    takeControlAndSaySafe(dome);
    ASSERT_TRUE(rig.core->hasControlFlag());
    // Rain and 45 km/h wind: only the client's word keeps the flag safe.
    ASSERT_TRUE(rig.sim->setLevels(1, 3, 1));
    rig.writeStationFile(45, 50);
    rig.clock.advance(cycle);
    rig.settle();
    EXPECT_TRUE(watcher->call("Safe").value.toBool());

    // The client crashes without giving control back.
    dome.disconnect();
    ASSERT_TRUE(rig.clientsAre(1));
    EXPECT_FALSE(rig.core->hasControlFlag());
    EXPECT_FALSE(rig.core->state().controlText.visible);
    rig.clock.advance(cycle);
    rig.settle();
    EXPECT_FALSE(watcher->call("Safe").value.toBool());
    EXPECT_TRUE(rig.sim->lastUnsafe());
    EXPECT_EQ(rig.sim->lastSwitch(), 2.0);
    EXPECT_EQ(rig.core->state().valSwitch.text, "Closed");

    // Another client's leaving does not end control it never had.
    ClientThread holder(rig.bus.address(), "holder");
    takeControlAndSaySafe(holder);
    ClientThread passer(rig.bus.address(), "passer");
    ASSERT_TRUE(passer.createRaw());
    ASSERT_TRUE(rig.clientsAre(3));
    passer.disconnect();
    ASSERT_TRUE(rig.clientsAre(2));
    EXPECT_TRUE(rig.core->hasControlFlag());
    // Releasing its last instance politely ends control too.
    QDBusMessage release = QDBusMessage::createMethodCall(nephor::kProgId, "/", automation::kFactoryInterface, "ReleaseInstance");
    release << QVariant::fromValue(QDBusObjectPath(holder.path()));
    ASSERT_EQ(holder.raw(release).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(rig.clientsAre(1));
    EXPECT_FALSE(rig.core->hasControlFlag());
}

TEST(NephorSafety, EveryStartEndsControlHeldByAClient)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto watcher = rig.client();
    markRainAndStrongWind(*watcher);
    ASSERT_TRUE(rig.sim->setLevels(1, 3, 1));
    rig.writeStationFile(45, 50);
    ASSERT_TRUE(watcher->call("Device_Start").ok());

    ClientThread dome(rig.bus.address(), "dome");
    takeControlAndSaySafe(dome);
    EXPECT_TRUE(watcher->call("Safe").value.toBool());

    // Stop and Start: the monitor decides again from the first cycle.
    ASSERT_TRUE(watcher->call("Device_Stop").ok());
    ASSERT_TRUE(watcher->call("Device_Start").ok());
    EXPECT_FALSE(rig.core->hasControlFlag());
    EXPECT_FALSE(watcher->call("Safe").value.toBool());
    EXPECT_TRUE(rig.sim->lastUnsafe());
    EXPECT_EQ(rig.sim->lastSwitch(), 2.0);
    // The client still attached may take control again.
    ASSERT_EQ(dome.raw(dome.instanceCall("XOB_LocalControl", {true, QStringLiteral("Dome program")})).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_TRUE(rig.core->hasControlFlag());
}

TEST(NephorSafety, NoCurrentEvaluationIsNeverSafe)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    markRainAndStrongWind(*c);
    ASSERT_TRUE(rig.sim->setLevels(1, 1, 1));
    const QString unsafeCaption = conditions::unsafeFlagDisplay(true).caption;

    // Before the first evaluation.
    EXPECT_FALSE(c->call("Safe").value.toBool());
    EXPECT_EQ(c->call("SecondsSinceGoodData").value.toInt(), 1000);

    ASSERT_TRUE(c->call("Device_Start").ok());
    const qint64 cycle = rig.core->readTimerInterval();
    rig.clock.advance(cycle);
    rig.settle();
    ASSERT_TRUE(c->call("Safe").value.toBool()) << rig.core->state().safeDelayMsg.text.toStdString();
    EXPECT_LT(c->call("SecondsSinceGoodData").value.toInt(), 1000);

    // After Stop: unsafe, and the window says so.
    ASSERT_TRUE(c->call("Device_Stop").ok());
    EXPECT_FALSE(c->call("Safe").value.toBool());
    EXPECT_EQ(c->call("SecondsSinceGoodData").value.toInt(), 1000);
    EXPECT_EQ(rig.core->state().unsafeFlag.text, unsafeCaption);

    // A cycle that has not completed for more than two intervals.
    ASSERT_TRUE(c->call("Device_Start").ok());
    rig.clock.advance(cycle);
    rig.settle();
    ASSERT_TRUE(c->call("Safe").value.toBool());
    rig.clock.stall(2 * cycle + 1000);
    EXPECT_FALSE(c->call("Safe").value.toBool());
    EXPECT_EQ(c->call("SecondsSinceGoodData").value.toInt(), 1000);
    rig.clock.advance(0); // the late cycle runs
    rig.settle();
    EXPECT_TRUE(c->call("Safe").value.toBool()); // the late cycle has completed
}

TEST(NephorSafety, AClientsStartIsAnsweredWithItsOutcome)
{
    NephorRig rig({"--ready-delay", "-1"}); // the sensor server never has data
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    rig.core->config().npTimeout = 3;
    // The client waits for its answer while the data wait makes its passes
    // (a second apart on the monitor's clock).
    automation::CallResult r;
    std::atomic<bool> answered{false};
    c->post([&] {
        QVariantList none;
        r = c->object()->callLong(QStringLiteral("Device_Start"), none, 60000);
        answered = true;
    });
    ASSERT_TRUE(spinUntil([&] { return rig.core->isStarting(); }));
    for (int pass = 0; pass < 10 && !answered; ++pass) {
        rig.clock.advance(1000);
        spinUntil([&] { return answered.load(); }, 100);
    }
    ASSERT_TRUE(spinUntil([&] { return answered.load(); }));
    EXPECT_EQ(r.failure, Failure::ServerError);
    EXPECT_TRUE(r.error.contains("cannot read XOB_Nephor")) << r.error.toStdString();
    EXPECT_FALSE(rig.core->isRunning());
    // The monitor answers the next call as before.
    EXPECT_TRUE(c->get("Name").ok());
    ASSERT_TRUE(rig.sim->setReadyDelay(0));
    EXPECT_TRUE(c->call("Device_Start").ok());
    EXPECT_TRUE(rig.core->isRunning());
    EXPECT_TRUE(c->call("Device_Start").ok()); // already running
}

TEST(NephorSafety, SettingsThatCanNotBeStoredAreRefused)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    ClientThread raw(rig.bus.address(), "raw");
    ASSERT_TRUE(raw.createRaw());
    ASSERT_EQ(raw.raw(raw.instanceCall("Device_Start")).type(), QDBusMessage::ReplyMessage);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();

    // The monitor's own threshold: a NaN is not 0.
    const double wind = rig.core->conditionsConfig().levels.thresholds[conditions::Quantity::Wind][0];
    QDBusMessage r = raw.raw(raw.instanceCall("let_ThreshWindCalm", {nan}));
    EXPECT_EQ(r.errorName(), "XOB.Automation.Error.BadArguments");
    EXPECT_EQ(rig.core->conditionsConfig().levels.thresholds[conditions::Quantity::Wind][0], wind);

    // The sensor server's settings get the same checks as the monitor's.
    const double clear = raw.raw(raw.instanceCall("get_ThreshTempClear")).arguments().value(0).toDouble();
    for (double v : {nan, inf, -inf}) {
        r = raw.raw(raw.instanceCall("let_ThreshTempClear", {v}));
        EXPECT_EQ(r.errorName(), "XOB.Automation.Error.BadArguments") << v;
    }
    EXPECT_EQ(raw.raw(raw.instanceCall("get_ThreshTempClear")).arguments().value(0).toDouble(), clear);
    const int colour = raw.raw(raw.instanceCall("get_ColorClear")).arguments().value(0).toInt();
    for (int v : {-1, 16777216, std::numeric_limits<int>::max()}) {
        r = raw.raw(raw.instanceCall("let_ColorClear", {v}));
        EXPECT_EQ(r.errorName(), "XOB.Automation.Error.BadArguments") << v;
        EXPECT_TRUE(r.errorMessage().contains("16777215")) << r.errorMessage().toStdString();
    }
    EXPECT_EQ(raw.raw(raw.instanceCall("get_ColorClear")).arguments().value(0).toInt(), colour);
    EXPECT_EQ(raw.raw(raw.instanceCall("let_ColorClear", {16777215})).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(raw.raw(raw.instanceCall("get_ColorClear")).arguments().value(0).toInt(), 16777215);
}

TEST(NephorSafety, AFirstClientStartsTheCallCountAfresh)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto a = rig.client();
    for (int i = 0; i < 3; ++i) a->call("Safe");
    EXPECT_EQ(rig.core->state().comCalls, "3");
    a->release();
    ASSERT_TRUE(rig.clientsAre(0));
    auto b = rig.client();
    ASSERT_TRUE(rig.clientsAre(1));
    EXPECT_EQ(rig.core->state().comCalls, "");
    b->call("Safe");
    EXPECT_EQ(rig.core->state().comCalls, "1");
}
