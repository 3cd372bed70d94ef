#include "Clock.h"
#include "ConditionSettings.h"
#include "Safety.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::conditions;

namespace {

class Safety : public ::testing::Test {
protected:
    Safety()
    {
        // A sky that is safe with the default marks.
        in.levels[Quantity::Cloud] = Level::One;
        in.levels[Quantity::Rain] = Level::One;
        in.levels[Quantity::Brightness] = Level::One;
        in.levels[Quantity::Wind] = Level::One;
        in.levels[Quantity::Gust] = Level::One;
        in.levels[Quantity::Temperature] = Level::Two;
        in.levels[Quantity::DewPoint] = Level::Three;
        in.levels[Quantity::Humidity] = Level::One;
        in.windDirection = 0;
        ev.start();
    }
    SafetyResult cycle(qint64 afterMs = 0)
    {
        clock.advance(afterMs);
        return ev.evaluate(in, cfg, false);
    }

    FakeClock clock;
    SafetyEvaluator ev{clock};
    SafetyConfig cfg = SafetyConfig::defaults();
    SafetyInputs in;
};

TEST_F(Safety, NothingJudgedYetIsUnsafe)
{
    SafetyEvaluator fresh(clock);
    EXPECT_TRUE(fresh.reportedUnsafe());
}

TEST_F(Safety, DefaultMarks)
{
    struct Case {
        Quantity q;
        Level level;
        bool unsafe;
    };
    const Case cases[] = {
        {Quantity::Cloud, Level::Three, true},     {Quantity::Cloud, Level::Two, false},
        {Quantity::Rain, Level::Two, true},        {Quantity::Rain, Level::Three, true},
        {Quantity::Brightness, Level::Three, true}, {Quantity::Brightness, Level::Two, false},
        {Quantity::Wind, Level::Two, true},        {Quantity::Wind, Level::Three, true},
        {Quantity::Gust, Level::Two, true},        {Quantity::Gust, Level::Three, true},
        {Quantity::Temperature, Level::One, true}, {Quantity::Temperature, Level::Three, true},
        {Quantity::Humidity, Level::Three, true},  {Quantity::Humidity, Level::Two, false},
        {Quantity::DewPoint, Level::One, true},    {Quantity::DewPoint, Level::Two, false},
    };
    EXPECT_FALSE(cycle().reportedUnsafe);
    for (const Case& c : cases) {
        const Level before = in.levels[c.q];
        in.levels[c.q] = c.level;
        ev.start();
        const SafetyResult r = cycle(1000);
        EXPECT_EQ(r.reportedUnsafe, c.unsafe) << int(c.q) << " level " << toInt(c.level);
        EXPECT_EQ(r.countsUnsafe[c.q], c.unsafe) << int(c.q);
        in.levels[c.q] = before;
    }
}

TEST_F(Safety, SafeDelayThirtySecondsRestartedByAnUnsafeCycle)
{
    cfg.safeDelaySeconds = 30;
    in.levels[Quantity::Rain] = Level::Three;
    EXPECT_TRUE(cycle().reportedUnsafe);

    in.levels[Quantity::Rain] = Level::One;
    SafetyResult r = cycle(10000);
    EXPECT_FALSE(r.rawUnsafe);
    EXPECT_TRUE(r.reportedUnsafe);
    EXPECT_EQ(r.safeDelayRemaining, 30);
    EXPECT_EQ(r.safeDelayMessage, QStringLiteral("SAFE condition delayed by 30 s"));
    EXPECT_EQ(r.flag.caption, QStringLiteral("Unsafe"));

    r = cycle(10000);
    EXPECT_TRUE(r.reportedUnsafe);
    EXPECT_EQ(r.safeDelayMessage, QStringLiteral("SAFE condition delayed by 20 s"));

    // One unsafe cycle in between restarts the wait.
    in.levels[Quantity::Rain] = Level::Two;
    r = cycle(10000);
    EXPECT_TRUE(r.reportedUnsafe);
    EXPECT_EQ(r.safeDelayMessage, QString());
    EXPECT_EQ(r.safeDelayRemaining, 0);

    in.levels[Quantity::Rain] = Level::One;
    r = cycle(10000);
    EXPECT_EQ(r.safeDelayMessage, QStringLiteral("SAFE condition delayed by 30 s"));
    r = cycle(29900);
    EXPECT_TRUE(r.reportedUnsafe);
    EXPECT_EQ(r.safeDelayRemaining, 1);
    r = cycle(100);
    EXPECT_FALSE(r.reportedUnsafe);
    EXPECT_EQ(r.safeDelayMessage, QString());
    EXPECT_EQ(r.flag.caption, QStringLiteral("Safe"));
    EXPECT_EQ(r.flag.lampColour, 65280);
}

TEST_F(Safety, FirstEvaluationAfterStartIsReportedAtOnce)
{
    cfg.safeDelaySeconds = 30;
    in.levels[Quantity::Cloud] = Level::Three;
    EXPECT_TRUE(cycle().reportedUnsafe);

    // Stop and Start: the first result is reported without the delay.
    in.levels[Quantity::Cloud] = Level::One;
    ev.start();
    const SafetyResult r = cycle(5000);
    EXPECT_FALSE(r.reportedUnsafe);
    EXPECT_EQ(r.safeDelayMessage, QString());
    EXPECT_EQ(ev.safetyState(), SafetyEvaluator::LastRaw::Safe);
    // And it stays safe without waiting.
    EXPECT_FALSE(cycle(1000).reportedUnsafe);
}

TEST_F(Safety, NoDelayFollowsRawResult)
{
    cfg.safeDelaySeconds = 0;
    in.levels[Quantity::Rain] = Level::Three;
    EXPECT_TRUE(cycle().reportedUnsafe);
    in.levels[Quantity::Rain] = Level::One;
    const SafetyResult r = cycle(10000);
    EXPECT_FALSE(r.reportedUnsafe);
    EXPECT_EQ(r.safeDelayMessage, QString());
}

TEST_F(Safety, CloudAlarmDelayClearToCloudyVersusOvercastToCloudy)
{
    cfg.unsafeMarks[Quantity::Cloud][1] = true; // Cloudy marked unsafe
    ev.setCloudAlarmDelay(600);

    EXPECT_FALSE(cycle().reportedUnsafe); // Clear
    in.levels[Quantity::Cloud] = Level::Two;
    EXPECT_FALSE(cycle(10000).reportedUnsafe);
    EXPECT_FALSE(cycle(599000).reportedUnsafe); // 599 s of Cloudy
    SafetyResult r = cycle(1000);               // 600 s
    EXPECT_TRUE(r.reportedUnsafe);
    EXPECT_TRUE(r.levelGate[Quantity::Cloud][1]);

    // Overcast, then Cloudy: counts at once and keeps counting.
    in.levels[Quantity::Cloud] = Level::One;
    EXPECT_FALSE(cycle(10000).reportedUnsafe);
    in.levels[Quantity::Cloud] = Level::Three;
    EXPECT_TRUE(cycle(10000).reportedUnsafe);
    in.levels[Quantity::Cloud] = Level::Two;
    EXPECT_TRUE(cycle(10000).reportedUnsafe);
    EXPECT_TRUE(cycle(10000).reportedUnsafe);
}

TEST_F(Safety, FirstCloudyAfterStartCountsAtOnce)
{
    cfg.unsafeMarks[Quantity::Cloud][1] = true;
    ev.setCloudAlarmDelay(600);
    in.levels[Quantity::Cloud] = Level::Two;
    EXPECT_TRUE(cycle().reportedUnsafe);
}

TEST_F(Safety, SectorThroughNorthNeedsFiveMinutesInside)
{
    in.levels[Quantity::Wind] = Level::Two; // Windy, marked unsafe
    cfg.windSectors[1] = QStringLiteral("-060 060  05");

    in.windDirection = 90; // outside: the wait starts
    EXPECT_FALSE(cycle().reportedUnsafe);
    in.windDirection = 300; // inside from now on
    EXPECT_FALSE(cycle(10000).reportedUnsafe);
    EXPECT_FALSE(cycle(289000).reportedUnsafe); // 4:59 since last seen outside
    EXPECT_TRUE(cycle(1000).reportedUnsafe);    // 5:00
    in.windDirection = 60;
    EXPECT_TRUE(cycle(10000).reportedUnsafe);
    in.windDirection = 61;
    SafetyResult r = cycle(10000);
    EXPECT_FALSE(r.reportedUnsafe);
    EXPECT_FALSE(r.levelGate[Quantity::Wind][1]);
    EXPECT_EQ(r.labelColour[Quantity::Wind], 65535);
    in.windDirection = 0;
    EXPECT_FALSE(cycle(10000).reportedUnsafe);
    r = cycle(300000);
    EXPECT_TRUE(r.reportedUnsafe);
    EXPECT_EQ(r.labelColour[Quantity::Wind], 33023);
}

TEST_F(Safety, SectorFromAboveToHoldsNothing)
{
    in.levels[Quantity::Wind] = Level::Two;
    cfg.windSectors[1] = QStringLiteral("300  060  05");
    for (double d : {0.0, 45.0, 300.0, 330.0}) {
        in.windDirection = d;
        EXPECT_FALSE(cycle(600000).reportedUnsafe) << d;
    }
}

TEST_F(Safety, WindAndGustKeepSeparateSinceTimes)
{
    in.levels[Quantity::Wind] = Level::Two;
    in.levels[Quantity::Gust] = Level::Two;
    cfg.windSectors[1] = QStringLiteral("090  180  01");
    in.windDirection = 45; // outside the wind sector, inside the gust default
    SafetyResult r = cycle();
    EXPECT_FALSE(r.levelGate[Quantity::Wind][1]);
    EXPECT_TRUE(r.levelGate[Quantity::Gust][1]);
    EXPECT_TRUE(r.reportedUnsafe);
}

TEST_F(Safety, FullCircleSectorHoldsAtNorth)
{
    in.levels[Quantity::Wind] = Level::Two; // default sector 0..359, 1 minute
    for (double d : {359.6, 360.0, 0.0}) {
        in.windDirection = d;
        EXPECT_TRUE(cycle(20000).reportedUnsafe) << d;
    }
}

TEST_F(Safety, UnreadableSectorOrDirectionDoesNotMakeWindSafe)
{
    in.levels[Quantity::Wind] = Level::Two;
    cfg.windSectors[1] = QStringLiteral("abc");
    EXPECT_TRUE(cycle().reportedUnsafe);
    cfg.windSectors[1] = QStringLiteral("090  180  05");
    in.windDirection.reset();
    EXPECT_TRUE(cycle(1000).reportedUnsafe);
}

TEST_F(Safety, StaleStationData)
{
    in.stationTooOld = true;
    SafetyResult r = cycle();
    EXPECT_TRUE(r.reportedUnsafe);
    ASSERT_EQ(r.reasons.size(), 1u);
    EXPECT_EQ(r.reasons[0].cause, UnsafeCause::StationDataOld);

    // Unchecked: the flag follows the other quantities only.
    cfg.wsDataOldUnsafe = false;
    EXPECT_FALSE(cycle(10000).reportedUnsafe);
    in.levels[Quantity::Rain] = Level::Three;
    EXPECT_TRUE(cycle(10000).reportedUnsafe);
}

TEST_F(Safety, SensorError)
{
    in.sensorError = true;
    EXPECT_TRUE(cycle().reportedUnsafe);
    cfg.npDataOldUnsafe = false;
    EXPECT_FALSE(cycle(10000).reportedUnsafe);
}

TEST_F(Safety, UnknownLevelOfAWatchedQuantityIsUnsafe)
{
    in.levels[Quantity::Humidity] = Level::Unknown; // e.g. 100 % with the defaults
    SafetyResult r = cycle();
    EXPECT_TRUE(r.reportedUnsafe);
    ASSERT_EQ(r.reasons.size(), 1u);
    EXPECT_EQ(r.reasons[0], (UnsafeReason{UnsafeCause::UnknownLevel, Quantity::Humidity, Level::Unknown}));
    EXPECT_EQ(r.labelColour[Quantity::Humidity], 33023);

    // Nothing marked for the quantity: the user does not watch it.
    cfg.unsafeMarks[Quantity::Humidity] = {false, false, false};
    EXPECT_FALSE(cycle(1000).reportedUnsafe);

    // While its source is flagged stale the stale-data option decides.
    in.levels[Quantity::Wind] = Level::Unknown;
    in.stationTooOld = true;
    cfg.wsDataOldUnsafe = false;
    EXPECT_FALSE(cycle(1000).reportedUnsafe);
    in.stationTooOld = false;
    EXPECT_TRUE(cycle(1000).reportedUnsafe);
}

TEST_F(Safety, ClientControlLeavesTheFlagAlone)
{
    EXPECT_FALSE(cycle().reportedUnsafe);
    in.levels[Quantity::Rain] = Level::Three;
    SafetyResult r = ev.evaluate(in, cfg, true);
    EXPECT_FALSE(r.evaluated);
    EXPECT_TRUE(r.rawUnsafe);
    EXPECT_FALSE(r.reportedUnsafe);
    ev.setReportedUnsafe(true); // the client's SetUnSafe
    r = ev.evaluate(in, cfg, true);
    EXPECT_TRUE(r.setUnSafe);
    EXPECT_EQ(r.switchCmd.value, 2.0);
}

TEST_F(Safety, ClientControlStopsTheCloudAndSectorTimes)
{
    cfg.unsafeMarks[Quantity::Cloud][1] = true; // Cloudy marked unsafe
    ev.setCloudAlarmDelay(600);
    in.levels[Quantity::Cloud] = Level::Two;     // confirmed: Cloudy since long ago
    in.levels[Quantity::Wind] = Level::Two;      // Windy, marked unsafe
    cfg.windSectors[1] = QStringLiteral("090  180  05");
    in.windDirection = 120;                      // inside since long ago
    SafetyResult r = cycle();
    ASSERT_TRUE(r.levelGate[Quantity::Cloud][1]);
    ASSERT_TRUE(r.levelGate[Quantity::Wind][1]);
    ASSERT_TRUE(r.reportedUnsafe);

    // A client has control for 12 minutes. Meanwhile the sky clears and the
    // wind turns away, and both come back for the last two minutes. None of
    // it is evaluated, so none of it may restart a wait.
    for (int i = 0; i < 12; ++i) {
        in.levels[Quantity::Cloud] = i < 10 ? Level::One : Level::Two;
        in.windDirection = i < 10 ? 45 : 120;
        clock.advance(60'000);
        ev.evaluate(in, cfg, true);
    }
    // Control given back: as before it, Cloudy and the sector still hold.
    r = cycle(10'000);
    EXPECT_TRUE(r.levelGate[Quantity::Cloud][1]);
    EXPECT_TRUE(r.levelGate[Quantity::Wind][1]);
    EXPECT_TRUE(r.reportedUnsafe);

    // Seen by the evaluation, the same changes do restart the waits.
    in.levels[Quantity::Cloud] = Level::One;
    in.windDirection = 45;
    cycle(60'000);
    in.levels[Quantity::Cloud] = Level::Two;
    in.windDirection = 120;
    r = cycle(60'000);
    EXPECT_FALSE(r.levelGate[Quantity::Cloud][1]);
    EXPECT_FALSE(r.levelGate[Quantity::Wind][1]);
}

TEST(SafetyOutputs, FlagAndSwitch)
{
    const UnsafeFlagDisplay u = unsafeFlagDisplay(true);
    EXPECT_EQ(u.caption, QStringLiteral("Unsafe"));
    EXPECT_EQ(u.lampColour, 255);
    const SwitchCommand closed = switchCommand(true);
    EXPECT_EQ(closed.value, 2.0);
    EXPECT_EQ(closed.caption, QStringLiteral("Closed"));
    EXPECT_EQ(closed.colour, 255);
    const SwitchCommand opened = switchCommand(false);
    EXPECT_EQ(opened.value, 1.0);
    EXPECT_EQ(opened.caption, QStringLiteral("Opened"));
    EXPECT_EQ(opened.colour, 32768);
}

TEST(SectorText, ReadAndWrite)
{
    EXPECT_EQ(formatSectorText({-60, 60, 5}), QStringLiteral("-060 060  05 "));
    EXPECT_EQ(formatSectorText({0, 359, 1}).trimmed(), QStringLiteral("000  359  01"));
    const SectorText d = parseSectorText(QStringLiteral("000  359  01"));
    EXPECT_EQ(d.kind, SectorText::Kind::Valid);
    EXPECT_EQ(d.sector, (DirectionSector{0, 359, 1}));
    EXPECT_EQ(parseSectorText(QStringLiteral("-060 060  05 ")).sector, (DirectionSector{-60, 60, 5}));
    EXPECT_EQ(parseSectorText(QStringLiteral("  ")).kind, SectorText::Kind::Empty);
    EXPECT_EQ(parseSectorText(QStringLiteral("x90  180  01")).kind, SectorText::Kind::Invalid);
    EXPECT_EQ(parseSectorText(QStringLiteral("90")).kind, SectorText::Kind::Invalid); // reads as 9000
}

} // namespace

// ---- the reasons ---------------------------------------------------------------

namespace {
const UnsafeReason* findCause(const SafetyResult& r, UnsafeCause c)
{
    for (const UnsafeReason& x : r.reasons)
        if (x.cause == c) return &x;
    return nullptr;
}
} // namespace

TEST_F(Safety, ReasonsNameTheRuleTheValueAndTheLevel)
{
    for (Quantity q : kAllQuantities) cfg.unsafeMarks[q] = {false, false, false};
    cfg.unsafeMarks[Quantity::Cloud] = {false, true, true};
    cfg.unsafeMarks[Quantity::Wind] = {false, true, false};
    cfg.windSectors[1] = QStringLiteral("090  180  05");
    in.levels[Quantity::Cloud] = Level::Two;
    in.values[Quantity::Cloud] = -5.0;
    in.levels[Quantity::Wind] = Level::Two;
    in.values[Quantity::Wind] = 31.5;
    in.windDirection = 120;
    SafetyResult r = cycle();
    ASSERT_EQ(r.reasons.size(), 2u);
    EXPECT_EQ(r.reasons[0], (UnsafeReason{UnsafeCause::MarkedLevel, Quantity::Cloud, Level::Two}));
    EXPECT_EQ(r.reasons[0].gate, UnsafeGate::CloudGate);
    EXPECT_EQ(r.reasons[0].value, -5.0);
    EXPECT_EQ(reasonText(r.reasons[0]), "Cloud -5.0 at level 2 (marked unsafe; cloudy confirmed)");
    EXPECT_EQ(r.reasons[1].gate, UnsafeGate::WindSector);
    EXPECT_EQ(r.reasons[1].sectorMinutes, 5);
    EXPECT_EQ(reasonText(r.reasons[1]), "Wind 31.5 at level 2 (marked unsafe; direction in sector 090\u00b0 to 180\u00b0 for 5 min)");

    // The wind leaves its sector: only the cloud remains.
    in.windDirection = 10;
    r = cycle(1000);
    ASSERT_EQ(r.reasons.size(), 1u);
    EXPECT_EQ(r.reasons[0].quantity, Quantity::Cloud);

    // Stale station data with its age, faulty sensor data, a level that
    // cannot be judged.
    in.levels[Quantity::Cloud] = Level::One;
    cfg.unsafeMarks[Quantity::Humidity] = {false, false, true};
    in.levels[Quantity::Humidity] = Level::Unknown;
    r = cycle(1000);
    ASSERT_NE(findCause(r, UnsafeCause::UnknownLevel), nullptr);
    EXPECT_EQ(findCause(r, UnsafeCause::UnknownLevel)->quantity, Quantity::Humidity);
    in.stationTooOld = true;
    in.stationAgeSeconds = 700;
    in.sensorError = true;
    r = cycle(1000);
    ASSERT_NE(findCause(r, UnsafeCause::StationDataOld), nullptr);
    EXPECT_EQ(reasonText(*findCause(r, UnsafeCause::StationDataOld)), "Weather station data too old (700 s)");
    EXPECT_NE(findCause(r, UnsafeCause::SensorDataError), nullptr);
    EXPECT_EQ(causeName(UnsafeCause::StationDataOld), "station-data-old");
}

TEST_F(Safety, SafeDelayAndClientControlAreReasonsOfTheirOwn)
{
    cfg.safeDelaySeconds = 30;
    in.levels[Quantity::Rain] = Level::Three;
    EXPECT_TRUE(cycle().reportedUnsafe);
    in.levels[Quantity::Rain] = Level::One;
    SafetyResult r = cycle(10000);
    EXPECT_FALSE(r.rawUnsafe);
    ASSERT_EQ(r.reasons.size(), 1u);
    EXPECT_EQ(r.reasons[0].cause, UnsafeCause::SafeDelay);
    EXPECT_EQ(r.reasons[0].value, 30.0);
    r = cycle(10000);
    EXPECT_EQ(r.reasons[0].value, 20.0);
    EXPECT_EQ(reasonText(r.reasons[0]), "Safe delay: SAFE held back for 20 s");
    r = cycle(20000);
    EXPECT_FALSE(r.reportedUnsafe);
    EXPECT_TRUE(r.reasons.empty());

    // A client in control: its word is the reason, whatever the sky does.
    in.levels[Quantity::Rain] = Level::Three;
    ev.setReportedUnsafe(false);
    r = ev.evaluate(in, cfg, true);
    EXPECT_FALSE(r.reportedUnsafe);
    EXPECT_TRUE(r.reasons.empty());
    ev.setReportedUnsafe(true);
    in.levels[Quantity::Rain] = Level::One;
    r = ev.evaluate(in, cfg, true);
    ASSERT_EQ(r.reasons.size(), 1u);
    EXPECT_EQ(r.reasons[0].cause, UnsafeCause::ClientSetUnsafe);
}

// Random inputs, marks, sectors, delays and client control: the reasons are
// empty exactly when the reported flag is safe, and without control and
// delay they are the rules that fired.
TEST_F(Safety, ReasonsAndFlagNeverDisagree)
{
    quint32 seed = 20261208;
    auto rnd = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % quint32(n));
    };
    int unsafeSeen = 0, safeSeen = 0;
    for (Quantity q : kAllQuantities) cfg.unsafeMarks[q] = {false, false, false};
    for (int i = 0; i < 5000; ++i) {
        for (Quantity q : kAllQuantities) {
            in.levels[q] = rnd(12) == 0 ? Level::Unknown : levelFromInt(1 + rnd(3));
            if (rnd(40) == 0) cfg.unsafeMarks[q] = {false, rnd(4) == 0, rnd(3) == 0};
            in.values[q] = rnd(3) == 0 ? std::nullopt : std::optional<double>(rnd(400) / 10.0);
        }
        if (rnd(10) == 0) cfg.windSectors[std::size_t(rnd(3))] = formatSectorText({rnd(360), rnd(360), rnd(3)});
        if (rnd(10) == 0) cfg.gustSectors[std::size_t(rnd(3))] = rnd(2) ? QStringLiteral("x") : QString();
        in.windDirection = rnd(5) == 0 ? std::nullopt : std::optional<double>(rnd(360));
        in.stationTooOld = rnd(10) == 0;
        in.sensorError = rnd(10) == 0;
        cfg.wsDataOldUnsafe = rnd(2) == 0;
        cfg.npDataOldUnsafe = rnd(2) == 0;
        cfg.safeDelaySeconds = rnd(3) == 0 ? rnd(60) : 0;
        const bool control = rnd(8) == 0;
        if (control && rnd(2) == 0) ev.setReportedUnsafe(rnd(2) == 0);
        if (rnd(50) == 0) ev.start();
        const SafetyResult r = cycle(rnd(3) * 5000);
        ASSERT_EQ(r.reasons.empty(), !r.reportedUnsafe) << "iteration " << i;
        ASSERT_EQ(r.reportedUnsafe, ev.reportedUnsafe());
        if (!control && cfg.safeDelaySeconds == 0) {
            ASSERT_EQ(r.rawUnsafe, r.reportedUnsafe) << "iteration " << i;
        }
        if (!control && r.rawUnsafe) {
            for (const UnsafeReason& x : r.reasons) {
                if (x.cause == UnsafeCause::MarkedLevel) {
                    ASSERT_TRUE(r.countsUnsafe[x.quantity]);
                    ASSERT_EQ(x.level, in.levels[x.quantity]);
                    ASSERT_EQ(x.value, in.values[x.quantity]);
                }
            }
        }
        (r.reportedUnsafe ? unsafeSeen : safeSeen)++;
    }
    // The run must have seen both answers plenty of times to mean anything.
    EXPECT_GT(unsafeSeen, 300);
    EXPECT_GT(safeSeen, 300);
}

// ---- the wall clock stepped (NTP, a user fixing the time) --------------------

// Each delay as written in a user's report: the safe delay, the cloud alarm
// delay and a sector's minutes run their monotonic length whatever the wall
// clock does meanwhile.
TEST_F(Safety, WallClockStepsNeitherShortenNorFreezeADelay)
{
    const qint64 steps[] = {3600000, -3600000 - 8000, 86400000, -3600000};
    for (qint64 step : steps) {
        // the safe delay: SAFE 30 s after the first clear cycle, not earlier
        ev.start();
        cfg = SafetyConfig::defaults();
        cfg.safeDelaySeconds = 30;
        in.levels[Quantity::Rain] = Level::Three;
        EXPECT_TRUE(cycle().reportedUnsafe);
        in.levels[Quantity::Rain] = Level::One;
        EXPECT_TRUE(cycle(5000).reportedUnsafe);
        clock.stepWall(step);
        for (int t = 5; t < 30; t += 5) EXPECT_TRUE(cycle(5000).reportedUnsafe) << step << " at " << t + 5 << " s";
        EXPECT_FALSE(cycle(5000).reportedUnsafe) << step;

        // the cloud alarm delay: Cloudy marked, 30 s, unsafe after 30 s
        ev.start();
        cfg = SafetyConfig::defaults();
        cfg.unsafeMarks[Quantity::Cloud][1] = true;
        ev.setCloudAlarmDelay(30);
        EXPECT_FALSE(cycle().reportedUnsafe);
        in.levels[Quantity::Cloud] = Level::Two;
        EXPECT_FALSE(cycle(5000).reportedUnsafe);
        clock.stepWall(step);
        for (int t = 5; t < 30; t += 5) EXPECT_FALSE(cycle(5000).reportedUnsafe) << step << " at " << t + 5 << " s";
        EXPECT_TRUE(cycle(5000).reportedUnsafe) << step;
        in.levels[Quantity::Cloud] = Level::One;

        // a Windy wind inside a 1-minute sector: unsafe after the minute
        ev.start();
        cfg = SafetyConfig::defaults();
        cfg.windSectors[1] = QStringLiteral("000  180  01");
        in.levels[Quantity::Wind] = Level::Two;
        in.windDirection = 270;
        EXPECT_FALSE(cycle().reportedUnsafe);
        in.windDirection = 90;
        EXPECT_FALSE(cycle(5000).reportedUnsafe);
        clock.stepWall(step);
        EXPECT_FALSE(cycle(50000).reportedUnsafe) << step;
        EXPECT_TRUE(cycle(5000).reportedUnsafe) << step;
        in.levels[Quantity::Wind] = Level::One;
    }
}

// Random nights evaluated twice, on two clocks that move alike except that
// one has its wall clock stepped at random moments by 1 s to a day either
// way: every result agrees, so no step ends a delay earlier or later than its
// monotonic length, and none turns an unsafe cycle safe.
TEST(SafetyProperty, WallStepsChangeNoDecision)
{
    QRandomGenerator rng(20261209);
    for (int night = 0; night < 40; ++night) {
        FakeClock steady, stepped;
        SafetyEvaluator a(steady), b(stepped);
        SafetyConfig cfg = SafetyConfig::defaults();
        cfg.safeDelaySeconds = rng.bounded(0, 90);
        cfg.unsafeMarks[Quantity::Cloud][1] = rng.bounded(2) == 1;
        cfg.windSectors[1] = QStringLiteral("%1  %2  %3").arg(rng.bounded(360), 3, 10, QChar('0'))
                                 .arg(rng.bounded(360), 3, 10, QChar('0')).arg(rng.bounded(1, 4), 2, 10, QChar('0'));
        const qint32 cloudDelay = rng.bounded(0, 120);
        a.setCloudAlarmDelay(cloudDelay);
        b.setCloudAlarmDelay(cloudDelay);
        a.start();
        b.start();
        SafetyInputs in;
        for (Quantity q : kAllQuantities) in.levels[q] = Level::One;
        in.levels[Quantity::Temperature] = Level::Two;
        in.levels[Quantity::DewPoint] = Level::Three;
        int steps = 0;
        for (int cycle = 0; cycle < 400; ++cycle) {
            if (rng.bounded(8) == 0) in.levels[Quantity::Cloud] = Level(rng.bounded(1, 4));
            if (rng.bounded(12) == 0) in.levels[Quantity::Rain] = rng.bounded(4) == 0 ? Level::Three : Level::One;
            if (rng.bounded(10) == 0) in.levels[Quantity::Wind] = rng.bounded(2) ? Level::Two : Level::One;
            if (rng.bounded(6) == 0) in.windDirection = double(rng.bounded(360));
            if (rng.bounded(15) == 0) {
                const qint64 size = qint64(rng.bounded(1, 86400)) * 1000;
                stepped.stepWall(rng.bounded(2) ? size : -size);
                ++steps;
            }
            const qint64 ms = rng.bounded(1000, 15000);
            steady.advance(ms);
            stepped.advance(ms);
            const SafetyResult ra = a.evaluate(in, cfg, false);
            const SafetyResult rb = b.evaluate(in, cfg, false);
            ASSERT_EQ(rb.reportedUnsafe, ra.reportedUnsafe) << "night " << night << " cycle " << cycle << " after " << steps << " steps";
            ASSERT_EQ(rb.safeDelayRemaining, ra.safeDelayRemaining) << "night " << night << " cycle " << cycle;
        }
    }
}
