// The read cycle samples the graph history every graph period, in display
// units, and the pictures and image files follow each sample.
#include "FreeImageLibrary.h"
#include "GraphImages.h"
#include "GraphPipeline.h"
#include "MonitorRig.h"

#include <QDir>
#include <QImageReader>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::outputs;
using Rig = skyvane::testing::MonitorRig;

namespace {
constexpr qint64 kCycle = 10000; // the default read period

struct GraphRig {
    Rig rig;
    GraphRig()
    {
        rig.core->graphs().setPoints(20);
        rig.core->graphs().setFreq(2);
    }
    // The stand-in stamps its readings with the test's clock.
    void cycle(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            EXPECT_TRUE(rig.sim->setReading("LastReading", rig.clock.now().addMSecs(kCycle).toString(Qt::ISODate)));
            rig.clock.advance(kCycle);
        }
    }
    const GraphHistory& history() const { return rig.core->graphs().history(); }
};
} // namespace

TEST(GraphCycle, SamplesEveryPeriodWithTheStationValuesAndConvertsThemWithTheUnit)
{
    GraphRig g;
    ASSERT_TRUE(g.rig.ready());
    g.rig.core->graphs().setFreq(3);
    g.rig.start(); // the start's cycle is the first sample
    ASSERT_TRUE(g.rig.core->isRunning());
    EXPECT_EQ(g.history().last(), 2);
    g.cycle(2);
    EXPECT_EQ(g.history().last(), 2) << "no sample before the period is over";
    g.cycle(1);
    EXPECT_EQ(g.history().last(), 3);
    g.cycle(6);
    EXPECT_EQ(g.history().last(), 5);
    EXPECT_EQ(g.history().first(), 1);

    const HistorySample& s = g.history().slot(g.history().last());
    EXPECT_DOUBLE_EQ(s.row(RowWind), 5);
    EXPECT_DOUBLE_EQ(s.row(RowGust), 8);
    EXPECT_DOUBLE_EQ(s.row(RowDir), 22.5);
    EXPECT_NEAR(s.row(RowDew), 7.2, 1e-9);
    EXPECT_DOUBLE_EQ(s.row(RowHum), 60);
    EXPECT_DOUBLE_EQ(s.row(RowTemp), 5.2);
    EXPECT_EQ(s.timeMs, g.rig.core->readings().lastReading.toMSecsSinceEpoch());
    EXPECT_GT(s.timeMs, g.history().slot(3).timeMs);

    // the user picks mph: the stored speeds follow, nothing else
    g.rig.core->selectSpeedUnit(conditions::SpeedUnit::MilesPerHour);
    const HistorySample& m = g.history().slot(g.history().last());
    EXPECT_NEAR(m.row(RowWind), 5 / 1.609344, 0.01);
    EXPECT_NEAR(m.row(RowGust), 8 / 1.609344, 0.01);
    EXPECT_DOUBLE_EQ(m.row(RowTemp), 5.2);
    EXPECT_DOUBLE_EQ(m.row(RowHum), 60);
}

TEST(GraphCycle, PicturesAndImageFilesFollowEachSampleAndAMissingLibraryIsReported)
{
    GraphRig g;
    ASSERT_TRUE(g.rig.ready());
    FreeImageLibrary library;
    ASSERT_TRUE(library.initialise(QCoreApplication::applicationDirPath()));
    GraphPipeline pipeline(&library);
    g.rig.core->graphs().setPipeline(&pipeline);
    g.rig.start();
    g.cycle(4);
    pipeline.waitIdle();
    QCoreApplication::processEvents();
    const QString folder = g.rig.core->config().graphImagePath;
    for (GraphId id : kAllGraphs) {
        const QString name = imageFileName(folder, id, true);
        QImageReader r(name);
        EXPECT_FALSE(r.read().isNull()) << qPrintable(name);
        EXPECT_FALSE(g.rig.core->graphs().pictures()[id].isNull());
    }
    EXPECT_EQ(g.rig.core->graphs().samples(), 3u);

    // the library goes missing: the code line says so and monitoring goes on
    FreeImageLibrary none;
    GraphPipeline failing(&none);
    g.rig.core->graphs().setPipeline(&failing);
    g.cycle(2);
    failing.waitIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(g.rig.core->state().codes.text, QStringLiteral("i23 i24"));
    EXPECT_TRUE(g.rig.core->isRunning());
    g.rig.core->graphs().setPipeline(nullptr);
}
