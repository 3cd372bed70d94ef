// Pictures of the graphs and their image files: pixels where the geometry
// puts them, complete files at every moment, the newest sample winning.
#include "FreeImageLibrary.h"
#include "GraphImages.h"
#include "GraphOutputs.h"
#include "GraphPipeline.h"
#include "GraphRenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace skyvane;
using namespace skyvane::outputs;

namespace {
constexpr int kRedBand = 0x0000FF;    // stored colours: blue x 65536 + green x 256 + red
constexpr int kGreenBand = 0x00FF00;
constexpr int kBlueBand = 0xFF0000;
constexpr int kCurve = 0x00FFFF;      // yellow
const qint64 kT0 = 1'800'000'000'000;

GraphScene lineScene(std::vector<std::pair<qint64, double>> points, QSize size = {360, 160})
{
    GraphScene s;
    s.id = GraphWind;
    s.kind = GraphKind::Line;
    s.size = size;
    s.range = timeRange(points.front().first, points.back().first, 3600);
    s.points = std::move(points);
    s.bandColours = {kGreenBand, kBlueBand, kRedBand};
    s.bandCaptions = {"Calm", "Windy", "Very Windy"};
    s.scale = {10, 20, 40};
    s.axisColour = 0x404040;
    s.curveColour = kCurve;
    return s;
}

QColor at(const QImage& img, double x, double y) { return img.pixelColor(int(x), int(y)); }

// The graph history of a steady night: one sample a minute.
GraphHistory nightHistory(int n, int points)
{
    GraphHistory h;
    for (int i = 0; i < n; ++i) {
        HistorySample s;
        s.timeMs = kT0 + qint64(i) * 60'000;
        s.row(RowWind) = 5 + (i % 30);
        s.row(RowGust) = 8 + (i % 30);
        s.row(RowDir) = (i * 7) % 360;
        s.row(RowDew) = 2 + (i % 10) * 0.5;
        s.row(RowHum) = 60 + (i % 40);
        s.row(RowTemp) = -2 + (i % 20) * 0.5;
        h.append(s, points);
    }
    return h;
}

// A complete image of the file's kind, or a null image.
QImage decodeFile(const QString& name)
{
    QImageReader r(name);
    r.setDecideFormatFromContent(true);
    return r.read();
}
} // namespace

TEST(GraphRender, BandsCurveAndFrameWhereTheGeometrySaysSo)
{
    // a flat 15 km/h then 30 km/h: the middle of band 1 then of band 2
    const GraphScene s = lineScene({{kT0, 15}, {kT0 + 1800'000, 15}, {kT0 + 1801'000, 30}, {kT0 + 3600'000, 30}});
    const QImage img = renderGraph(s);
    ASSERT_EQ(img.size(), QSize(360, 160));
    const int H = 160 - timeStripHeight();
    // band colours away from the captions, the curve and the frame
    EXPECT_EQ(at(img, 20, H / 6.0 - 12), QColor(0, 255, 0));
    EXPECT_EQ(at(img, 20, H / 2.0 - 12), QColor(0, 0, 255));
    EXPECT_EQ(at(img, 20, 5 * H / 6.0 + 5), QColor(255, 0, 0));
    // the curve: 15 lies half way down band 1, 30 half way down band 2
    const double y15 = s.scale.y(15, H), y30 = s.scale.y(30, H);
    EXPECT_NEAR(y15, H / 2.0, 1);
    EXPECT_EQ(at(img, 90, y15), QColor(255, 255, 0));
    EXPECT_EQ(at(img, 270, y30), QColor(255, 255, 0));
    EXPECT_NE(at(img, 270, y15), QColor(255, 255, 0));
    // frame in the axis colour; the strip below the plot stays white
    EXPECT_EQ(at(img, 0, H / 2.0 + 7), QColor(0x40, 0x40, 0x40));
    EXPECT_EQ(at(img, 359, 3 * H / 4.0), QColor(0x40, 0x40, 0x40));
    EXPECT_EQ(at(img, 3, 159), QColor(Qt::white));
}

TEST(GraphRender, NoTimeRangeDrawsNoCurve)
{
    GraphScene s = lineScene({{kT0, 30}, {kT0, 30}});
    s.range = TimeRange{kT0, kT0};
    const QImage img = renderGraph(s); // must not divide by zero
    const int H = 160 - timeStripHeight();
    EXPECT_EQ(at(img, 1, s.scale.y(30, H)), QColor(255, 0, 0)) << "no curve from the left edge";
    s.range = TimeRange{kT0 + 5000, kT0};
    EXPECT_FALSE(renderGraph(s).isNull());
}

TEST(GraphRender, DirectionDotsAtTheirAngleOverTheBackground)
{
    GraphScene s;
    s.id = GraphDir;
    s.kind = GraphKind::Direction;
    s.size = {360, 200};
    s.range = {kT0, kT0 + 3600'000};
    s.points = {{kT0 + 900'000, 90}, {kT0 + 2700'000, 270}};
    s.axisColour = 0x404040;
    s.curveColour = 0x0000FF;
    s.backColour = 0xC0FFFF; // stored light yellow
    const QImage img = renderGraph(s);
    const int H = 200 - timeStripHeight();
    EXPECT_EQ(at(img, 90, directionY(90, H)), QColor(255, 0, 0));
    EXPECT_EQ(at(img, 270, directionY(270, H)), QColor(255, 0, 0));
    EXPECT_NE(at(img, 90, directionY(270, H)), QColor(255, 0, 0)) << "dots, not a line";
    EXPECT_EQ(at(img, 200, H / 8.0 * 3), QColor(255, 255, 0xC0));
    // grid lines at 270, 180 and 90 degrees
    EXPECT_EQ(at(img, 200, H / 4.0), QColor(0x40, 0x40, 0x40));
    EXPECT_EQ(at(img, 200, H / 2.0), QColor(0x40, 0x40, 0x40));
}

class GraphFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(library.initialise(QCoreApplication::applicationDirPath())) << qPrintable(library.errorString());
    }
    GraphCycleContext context(bool images = true)
    {
        GraphCycleContext c;
        c.levels = &levels;
        c.readIntervalSeconds = 10;
        c.imageFolder = dir.path();
        c.imageBoxes.fill(images);
        return c;
    }
    QTemporaryDir dir;
    FreeImageLibrary library;
    conditions::LevelConfig levels = conditions::LevelConfig::defaults();
};

TEST_F(GraphFiles, EveryEnabledGraphIsWrittenAsAValidImageAndPngToJpegKeepsThePng)
{
    GraphPipeline pipeline(&library);
    GraphOutputs graphs;
    graphs.settings().freq = 1;
    graphs.setPipeline(&pipeline);
    int pictures = 0;
    QObject::connect(&graphs, &GraphOutputs::picturesChanged, [&] { ++pictures; });
    HistorySample s;
    s.timeMs = kT0;
    s.values = {10, 12, 180, 3, 80, 5};
    graphs.settings().generate[GraphHum] = false;
    GraphCycleContext ctx = context();
    ctx.imageBoxes[GraphGust] = false;
    ASSERT_TRUE(graphs.cycle(s, ctx));
    pipeline.waitIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(pictures, 1);
    for (GraphId g : kAllGraphs) {
        const QString png = imageFileName(dir.path(), g, true);
        const bool expected = g != GraphHum && g != GraphGust;
        EXPECT_EQ(QFile::exists(png), expected) << qPrintable(png);
        if (expected) {
            const QImage img = decodeFile(png);
            EXPECT_EQ(img.size(), graphs.pictureSize()) << qPrintable(png);
        }
        EXPECT_EQ(graphs.pictures()[g].isNull(), g == GraphHum);
    }
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).filter(".part").isEmpty()) << "no temporary files left";

    const QDateTime pngTime = QFileInfo(imageFileName(dir.path(), GraphWind, true)).lastModified();
    graphs.settings().png = false;
    graphs.settings().quality = JpegQuality::Top;
    s.timeMs += 10'000;
    graphs.cycle(s, ctx);
    pipeline.waitIdle();
    const QImage jpg = decodeFile(imageFileName(dir.path(), GraphWind, false));
    EXPECT_EQ(jpg.size(), graphs.pictureSize());
    EXPECT_EQ(QImageReader(imageFileName(dir.path(), GraphWind, false)).format(), "jpeg");
    EXPECT_EQ(QFileInfo(imageFileName(dir.path(), GraphWind, true)).lastModified(), pngTime) << "the old PNG is left alone";
}

TEST_F(GraphFiles, MissingLibraryReportsI23AndI24AndTheGraphsStillDraw)
{
    qputenv("SKYVANE_FREEIMAGE", QByteArray("/nonexistent/libfreeimage.so.3"));
    FreeImageLibrary missing;
    EXPECT_FALSE(missing.initialise(dir.path()));
    qunsetenv("SKYVANE_FREEIMAGE");
    GraphPipeline pipeline(&missing);
    GraphOutputs graphs;
    graphs.settings().freq = 1;
    graphs.setPipeline(&pipeline);
    QStringList problems;
    QObject::connect(&graphs, &GraphOutputs::imageProblem, [&](const QString& c) { problems << c; });
    HistorySample s;
    s.timeMs = kT0;
    graphs.cycle(s, context());
    pipeline.waitIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(problems, QStringList{"i23 i24"});
    EXPECT_FALSE(graphs.pictures()[GraphTemp].isNull());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    // an unwritable folder: i23 only, and the monitor goes on
    problems.clear();
    GraphPipeline working(&library);
    graphs.setPipeline(&working);
    GraphCycleContext bad = context();
    bad.imageFolder = dir.filePath("no/such/folder");
    graphs.cycle(s, bad);
    working.waitIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(problems, QStringList{"i23"});
}

TEST_F(GraphFiles, ReadersNeverSeeAHalfWrittenImage)
{
    GraphPipeline pipeline(&library);
    GraphOutputs graphs;
    graphs.settings().freq = 1;
    graphs.settings().points = 2000;
    graphs.setPictureSize({300, 150});
    // two graphs keep the decoding reader and the writer busy on the same files
    graphs.settings().generate = {true, false, false, false, false, true};
    graphs.setPipeline(&pipeline);
    const GraphHistory night = nightHistory(2000, 2000);
    night.forEach([&](const HistorySample& s) { graphs.history().append(s, 2000); });
    const GraphCycleContext ctx = context();
    HistorySample s = graphs.history().slot(graphs.history().last());
    graphs.cycle(s, ctx);
    pipeline.waitIdle();

    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, bad{0};
    const QString files[2] = {imageFileName(dir.path(), GraphWind, true), imageFileName(dir.path(), GraphTemp, true)};
    std::thread reader([&] {
        for (int i = 0; i < 10000; ++i) {
            QFile f(files[i % 2]);
            if (!f.open(QIODevice::ReadOnly)) {
                ++bad;
                continue;
            }
            const QByteArray data = f.readAll();
            QImage img;
            if (!img.loadFromData(data, "PNG") || img.size() != QSize(300, 150)) ++bad;
            ++reads;
        }
        stop = true;
    });
    int samples = 0;
    while (!stop) {
        s.timeMs += 60'000;
        s.row(RowWind) = samples % 40;
        graphs.cycle(s, ctx);
        ++samples;
        pipeline.waitIdle();
    }
    reader.join();
    pipeline.waitIdle();
    EXPECT_EQ(reads.load(), 10000);
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(pipeline.completed(), 10u);
}

TEST_F(GraphFiles, TheNewestSampleWinsAndNothingQueues)
{
    GraphPipeline pipeline(&library);
    GraphOutputs graphs;
    graphs.settings().freq = 1;
    graphs.setPipeline(&pipeline);
    std::vector<quint64> seen;
    QObject::connect(&pipeline, &GraphPipeline::finished,
                     [&](std::shared_ptr<const GraphJobResult> r) { seen.push_back(r->serial); });
    HistorySample s;
    s.timeMs = kT0;
    for (int i = 0; i < 50; ++i) {
        s.timeMs += 1000;
        graphs.cycle(s, context());
    }
    pipeline.waitIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(pipeline.completed() + pipeline.replaced(), 50u);
    EXPECT_LT(pipeline.completed(), 50u) << "submissions faster than drawing replace waiting jobs";
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 50u) << "the last sample is always drawn";
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(GraphOutputsSettings, PointChangeClearsTheHistoryOnlyWhenItDiffers)
{
    GraphOutputs graphs;
    graphs.settings().freq = 1;
    HistorySample s;
    for (int i = 0; i < 5; ++i) graphs.cycle(s, {});
    EXPECT_EQ(graphs.history().last(), 6);
    EXPECT_EQ(graphs.setPoints(120), 120);
    EXPECT_EQ(graphs.history().last(), 6) << "same size: kept";
    EXPECT_EQ(graphs.setPoints(5), 20);
    EXPECT_TRUE(graphs.history().empty());
    EXPECT_EQ(graphs.history().slotBound(), 0);
    EXPECT_EQ(graphs.setPoints(5000), 2000);
    EXPECT_EQ(graphs.setFreq(0), 1);
    EXPECT_EQ(graphs.spanSeconds(5), 2000 * 5);
    graphs.setPoints(120);
    graphs.setFreq(6);
    EXPECT_EQ(graphs.spanSeconds(5), 3600);
    // period 6: one sample in six cycles
    for (int i = 0; i < 12; ++i) graphs.cycle(s, {});
    EXPECT_EQ(graphs.history().count(), 3); // slots 1, 2 and 3
}
