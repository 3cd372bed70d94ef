// The history ring, its settings and the graph geometry, without drawing.
#include "GraphGeometry.h"
#include "GraphHistory.h"
#include "GraphImages.h"
#include "GraphSettings.h"
#include "SettingsStore.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::outputs;

namespace {
HistorySample sampleOf(double v, qint64 timeMs = 0)
{
    HistorySample s;
    s.timeMs = timeMs;
    for (double& x : s.values) x = v;
    return s;
}

std::vector<double> windValues(const GraphHistory& h)
{
    std::vector<double> out;
    h.forEach([&](const HistorySample& s) { out.push_back(s.row(RowWind)); });
    return out;
}
} // namespace

TEST(GraphHistory, FirstSampleAllocatesAndFillsSlotsOneAndTwo)
{
    GraphHistory h;
    EXPECT_EQ(h.slotBound(), 0);
    EXPECT_EQ(h.first(), 0);
    EXPECT_EQ(h.last(), 0);
    h.append(sampleOf(7), 20);
    EXPECT_EQ(h.slotBound(), 20);
    EXPECT_EQ(h.first(), 1);
    EXPECT_EQ(h.last(), 2);
    EXPECT_EQ(h.slot(1), h.slot(2));
    EXPECT_EQ(windValues(h), (std::vector<double>{7, 7}));
}

TEST(GraphHistory, TwentyPointsAfterTwentyFiveSamplesKeepTheNewestTwenty)
{
    GraphHistory h;
    for (int i = 1; i <= 25; ++i) h.append(sampleOf(i), 20);
    EXPECT_EQ(h.last(), 6);
    EXPECT_EQ(h.first(), 7);
    EXPECT_EQ(h.count(), 20);
    std::vector<double> expected;
    for (int i = 6; i <= 25; ++i) expected.push_back(i);
    EXPECT_EQ(windValues(h), expected);
    // the first sample, stored twice, is gone
    for (int i = 1; i <= 20; ++i) EXPECT_NE(h.slot(i).row(RowWind), 1.0) << i;
}

TEST(GraphHistory, WrapAtTheTopSlotPutsFirstBackAtOne)
{
    GraphHistory h;
    // slots 1,2 then 3..20: the 19th sample lands in slot 20
    for (int i = 1; i <= 19; ++i) h.append(sampleOf(i), 20);
    EXPECT_EQ(h.last(), 20);
    EXPECT_EQ(h.first(), 1);
    h.append(sampleOf(20), 20);
    EXPECT_EQ(h.last(), 1);
    EXPECT_EQ(h.first(), 2);
    EXPECT_EQ(h.count(), 20);
}

TEST(GraphHistory, ChangedPointCountReallocatesAndPointsAreHeldInRange)
{
    GraphHistory h;
    for (int i = 1; i <= 5; ++i) h.append(sampleOf(i), 20);
    h.append(sampleOf(99), 30);
    EXPECT_EQ(h.slotBound(), 30);
    EXPECT_EQ(windValues(h), (std::vector<double>{99, 99}));

    EXPECT_EQ(clampGraphPoints(5), 20);
    EXPECT_EQ(clampGraphPoints(5000), 2000);
    EXPECT_EQ(clampGraphPoints(150), 150);
    EXPECT_EQ(clampGraphFreq(0), 1);
    EXPECT_EQ(clampGraphFreq(-4), 1);
    EXPECT_EQ(clampGraphFreq(6), 6);
}

TEST(GraphHistory, ClientTableHasRowsZeroToSevenAndEmptyUnusedSlots)
{
    GraphHistory h;
    const qint64 t = QDateTime(QDate(2026, 12, 8), QTime(22, 0)).toMSecsSinceEpoch();
    HistorySample s = sampleOf(3, t);
    s.row(RowHum) = kNoValue;
    h.append(s, 20);
    const QVariantList rows = h.table();
    ASSERT_EQ(rows.size(), 8);
    for (const QVariant& r : rows) ASSERT_EQ(r.toList().size(), 21);
    EXPECT_FALSE(rows[0].toList()[1].isValid());
    EXPECT_FALSE(rows[RowWind].toList()[0].isValid());
    EXPECT_EQ(rows[RowTime].toList()[2].toDateTime().toMSecsSinceEpoch(), t);
    EXPECT_DOUBLE_EQ(rows[RowTemp].toList()[1].toDouble(), 3);
    EXPECT_FALSE(rows[RowHum].toList()[1].isValid()) << "a missing value is empty";
    EXPECT_FALSE(rows[RowWind].toList()[3].isValid()) << "an unused slot is empty";
}

TEST(GraphHistory, UnitChangeConvertsOnlyTheAffectedRows)
{
    GraphHistory h;
    for (int i = 1; i <= 3; ++i) {
        HistorySample s = sampleOf(10 * i, i * 1000);
        s.row(RowGust) = kNoValue;
        h.append(s, 20);
    }
    h.convertSpeeds([](double v) { return v * 2; });
    h.forEach([](const HistorySample& s) {
        EXPECT_DOUBLE_EQ(s.row(RowWind), 2 * s.row(RowDir));
        EXPECT_TRUE(std::isnan(s.row(RowGust))) << "a missing value stays missing";
        EXPECT_DOUBLE_EQ(s.row(RowTemp), s.row(RowDir));
        EXPECT_DOUBLE_EQ(s.row(RowHum), s.row(RowDir));
    });
    h.convertTemperatures([](double c) { return c * 9 / 5 + 32; }, [](double d) { return d * 9 / 5; });
    h.forEach([](const HistorySample& s) {
        EXPECT_DOUBLE_EQ(s.row(RowTemp), s.row(RowDir) * 9 / 5 + 32);
        EXPECT_DOUBLE_EQ(s.row(RowDew), s.row(RowDir) * 9 / 5);
        EXPECT_DOUBLE_EQ(s.row(RowHum), s.row(RowDir));
    });

    // through the unit selection the rest of the monitor uses
    conditions::UnitConfig units;
    conditions::LevelConfig levels = conditions::LevelConfig::defaults();
    GraphHistory k;
    k.append(sampleOf(36), 20);
    conditions::selectSpeedUnit(units, levels, conditions::SpeedUnit::MetresPerSecond, &k);
    EXPECT_NEAR(k.slot(k.last()).row(RowWind), 10, 1e-9);
    EXPECT_DOUBLE_EQ(k.slot(k.last()).row(RowTemp), 36);
}

TEST(GraphHistory, SampleCounterSamplesEveryPeriod)
{
    SampleCounter c;
    std::vector<bool> got;
    for (int i = 0; i < 7; ++i) got.push_back(c.tick(3));
    EXPECT_EQ(got, (std::vector<bool>{true, false, false, true, false, false, true}));
    SampleCounter one;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(one.tick(1));
}

TEST(GraphHistory, SpanLabels)
{
    EXPECT_EQ(graphSpanSeconds(120, 6, 5), 3600);
    EXPECT_EQ(graphSpanText(3600), QStringLiteral("01 h 00 m 00 s"));
    EXPECT_EQ(graphSpanText(2 * 3600 + 3 * 60 + 7), QStringLiteral("02 h 03 m 07 s"));
    EXPECT_EQ(graphSpanText(2000 * 1000 * 60), QStringLiteral("33333 h 20 m 00 s"));
}

TEST(GraphSettingsDefaults, ColoursAndQuality)
{
    const GraphSettings g;
    EXPECT_EQ(g.colours[GraphDir], (std::array<int, 3>{4210752, 255, 16777152}));
    EXPECT_EQ(g.colours[GraphTemp][1], 12582912);
    EXPECT_EQ(g.quality, JpegQuality::Normal);
    EXPECT_EQ(g.points, 120);
    EXPECT_EQ(g.freq, 6);
}

TEST(GraphGeometry, ValueScaleWithTheBottomValueRule)
{
    const double H = 300; // bands of 100
    ValueScale wind{10, 20, 40};
    EXPECT_DOUBLE_EQ(wind.bottom(), 0);
    EXPECT_DOUBLE_EQ(wind.y(0, H), 1);
    EXPECT_DOUBLE_EQ(wind.y(5, H), 50);
    EXPECT_DOUBLE_EQ(wind.y(10, H), 100);
    EXPECT_DOUBLE_EQ(wind.y(15, H), 150);
    EXPECT_DOUBLE_EQ(wind.y(30, H), 250);
    EXPECT_DOUBLE_EQ(wind.y(40, H), H - 1);
    EXPECT_DOUBLE_EQ(wind.y(400, H), H - 1);

    ValueScale temp{-5, 5, 25};
    EXPECT_DOUBLE_EQ(temp.bottom(), -10);
    EXPECT_DOUBLE_EQ(temp.y(-10, H), 1);
    EXPECT_DOUBLE_EQ(temp.y(-30, H), 1);
    EXPECT_DOUBLE_EQ(temp.y(-7.5, H), 50);
    EXPECT_DOUBLE_EQ(temp.y(0, H), 150);

    // equal limits must not divide by zero
    ValueScale flat{10, 10, 10};
    EXPECT_TRUE(std::isfinite(flat.y(5, H)));
    EXPECT_DOUBLE_EQ(flat.y(10, H), H - 1);

    EXPECT_DOUBLE_EQ(directionY(0, 240), 240);
    EXPECT_DOUBLE_EQ(directionY(90, 240), 180);
    EXPECT_DOUBLE_EQ(directionY(360, 240), 0);
    EXPECT_EQ(directionLabel(0), QStringLiteral("360°"));
    EXPECT_EQ(directionLabel(7), QStringLiteral("045°"));
    EXPECT_EQ(directionLabel(8), QStringLiteral("000°"));
}

TEST(GraphGeometry, TimeRangeCoversTheSpanAndRefusesEmptyRanges)
{
    const TimeRange r = timeRange(1000, 5000, 3600);
    EXPECT_EQ(r.t0, 1000);
    EXPECT_EQ(r.t1, 1000 + 3600 * 1000);
    const TimeRange longer = timeRange(0, 7200 * 1000, 3600);
    EXPECT_EQ(longer.t1, 7200 * 1000);
    EXPECT_DOUBLE_EQ(longer.x(3600 * 1000, 400), 200);

    EXPECT_FALSE(timeRange(5000, 5000, 0).drawable());
    EXPECT_FALSE(timeRange(9000, 5000, 0).drawable()) << "a clock that went backwards";
    const auto none = timeTicks(timeRange(5000, 5000, 0), 400, [](const QString&) { return 10.0; });
    EXPECT_TRUE(none.empty());
}

TEST(GraphGeometry, TicksAndLabels)
{
    const qint64 t0 = QDateTime(QDate(2026, 12, 8), QTime(21, 0, 0)).toMSecsSinceEpoch();
    // one hour: a step of five minutes, seconds in the labels
    const TimeRange hour{t0, t0 + 3600 * 1000};
    auto narrow = [](const QString& t) { return 4.0 * t.size(); };
    auto ticks = timeTicks(hour, 1200, narrow);
    ASSERT_EQ(ticks.size(), 11u);
    EXPECT_DOUBLE_EQ(ticks[0].x, 100);
    EXPECT_EQ(ticks[0].label, QStringLiteral("21:05:00"));
    EXPECT_EQ(ticks[10].label, QStringLiteral("21:55:00"));

    // exactly ten minutes per step: "hh:mm"
    EXPECT_EQ(timeLabelPattern(10 * 60 * 1000), QStringLiteral("hh:mm"));
    EXPECT_EQ(timeLabelPattern(10 * 60 * 1000 - 1), QStringLiteral("hh:mm:ss"));
    ticks = timeTicks({t0, t0 + 12 * 600 * 1000}, 1200, narrow);
    EXPECT_EQ(ticks[0].label, QStringLiteral("21:10"));

    // labels too wide for their place are skipped; their ticks stay
    ticks = timeTicks(hour, 240, [](const QString&) { return 30.0; });
    ASSERT_EQ(ticks.size(), 11u);
    double right = -1e9;
    int shown = 0;
    for (const TimeTick& t : ticks) {
        if (t.label.isEmpty()) continue;
        EXPECT_GE(t.labelLeft, right + 10);
        right = t.labelLeft + 30;
        ++shown;
    }
    EXPECT_EQ(shown, 6); // every other tick at 20 px apart

    // nothing sticks out of the picture: ticks 10 px apart, labels 25 wide
    ticks = timeTicks(hour, 120, [](const QString&) { return 25.0; });
    shown = 0;
    for (const TimeTick& t : ticks) {
        if (t.label.isEmpty()) continue;
        ++shown;
        EXPECT_GE(t.labelLeft, 0.0) << t.x;
        EXPECT_LE(t.labelLeft + 25, 120.0) << t.x;
    }
    EXPECT_GT(shown, 0);
}

TEST(GraphImageNames, FolderPartFormatsAndFlags)
{
    EXPECT_EQ(imageFileName("/srv/www\\", GraphWind, true), imageFileName("/srv/www", GraphWind, true));
    EXPECT_EQ(imageFileName(" /srv/www/ ", GraphDir, false), QStringLiteral("/srv/www/XOB_ImageWindDirCondition.jpg"));
    EXPECT_EQ(imageFileName("/srv/www", GraphTemp, true), QStringLiteral("/srv/www/XOB_ImageTempCondition.png"));
    EXPECT_TRUE(imageFileName("   ", GraphWind, true).isEmpty());
    EXPECT_EQ(imageFormat(true), 13);
    EXPECT_EQ(imageFormat(false), 2);
    EXPECT_EQ(imageFlags(true, JpegQuality::Top), 0);
    EXPECT_EQ(imageFlags(false, JpegQuality::Top), 128);
    EXPECT_EQ(imageFlags(false, JpegQuality::Good), 256);
    EXPECT_EQ(imageFlags(false, JpegQuality::Normal), 512);
    EXPECT_EQ(imageFlags(false, JpegQuality::None), 0);
}
