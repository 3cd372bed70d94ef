// The six graphs on the main window through a scripted night: the panes
// show the pictures of the newest sample, the controls behave as the user
// expects. With SKYVANE_SCREENSHOT_DIR set, the window and the image files
// are left there to be looked at.
#include "FreeImageLibrary.h"
#include "GraphImages.h"
#include "GraphPanel.h"
#include "GraphPipeline.h"
#include "MainWindow.h"
#include "MonitorRig.h"
#include "XOBGetNumber.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::outputs;
using Rig = skyvane::testing::MonitorRig;

namespace {
constexpr qint64 kCycle = 10000;

void writeStation(Rig& rig, int i)
{
    const double phase = i / 20.0;
    const double wind = 12 + 10 * std::sin(phase);
    const double temp = 4 - i * 0.05;
    const double dew = temp - (3 + 2 * std::cos(phase / 2));
    const char* dirs[4] = {"NNE", "E", "SSW", "WNW"};
    QFile f(rig.dir.filePath("station.csv"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QStringLiteral("Date,,%1\nTime,,%2\nOutTemp,\u00b0C,%3\nWindSpeed,km/h,%4\nGust,km/h,%5\n"
                           "WindDirection,,%6\nRainDayMin,mm,0\nRainDayMax,mm,0\nOutHumidity,%,%7\n"
                           "DewPoint,\u00b0C,%8\nBarometer,hPa,1013\n")
                .arg(rig.clock.now().toString("dd/MM/yy"), rig.clock.now().toString("hh:mm:ss"))
                .arg(temp, 0, 'f', 1)
                .arg(wind, 0, 'f', 1)
                .arg(wind * 1.4, 0, 'f', 1)
                .arg(QString::fromLatin1(dirs[(i / 25) % 4]))
                .arg(70 + 25 * std::sin(phase / 3), 0, 'f', 0)
                .arg(dew, 0, 'f', 1)
                .toUtf8());
}

void nightCycles(Rig& rig, int from, int n)
{
    for (int i = from; i < from + n; ++i) {
        writeStation(rig, i);
        rig.sim->setReading("LastReading", rig.clock.now().addMSecs(kCycle).toString(Qt::ISODate));
        rig.clock.advance(kCycle);
    }
}
} // namespace

TEST(GraphWindow, ScriptedNightShowsTheNewestPicturesInTheSixPanes)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    FreeImageLibrary library;
    ASSERT_TRUE(library.initialise(QCoreApplication::applicationDirPath()));
    GraphPipeline pipeline(&library);
    rig.core->graphs().setPipeline(&pipeline);
    rig.core->graphs().setFreq(1);
    MainWindow window(*rig.core);
    GraphPanel* panel = window.graphPanel();
    ASSERT_NE(panel, nullptr);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // the span of 120 points, one a read, every 10 seconds
    EXPECT_EQ(panel->spanLabel()->text(), QStringLiteral("1200"));
    EXPECT_EQ(panel->spanDescLabel()->text(), QStringLiteral("00 h 20 m 00 s"));
    EXPECT_EQ(panel->imageTypeBox()->text(), QStringLiteral("Image PNG"));

    writeStation(rig, 0);
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    EXPECT_FALSE(panel->pointsField()->isEnabled()) << "graph settings are locked while monitoring";
    nightCycles(rig, 1, 150);
    pipeline.waitIdle();
    QCoreApplication::processEvents();

    for (GraphId g : kAllGraphs) {
        ASSERT_TRUE(panel->pane(g)->isVisible());
        const QImage shown = panel->pane(g)->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(shown, rig.core->graphs().pictures()[g].convertToFormat(QImage::Format_RGB32)) << int(g);
        EXPECT_FALSE(QImageReader(imageFileName(rig.core->config().graphImagePath, g, true)).read().isNull());
    }

    const QByteArray shots = qgetenv("SKYVANE_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        QDir out(QString::fromLocal8Bit(shots));
        out.mkpath(".");
        QCoreApplication::processEvents();
        window.grab().save(out.filePath("main_window.png"));
        for (GraphId g : kAllGraphs) {
            const QString name = imageFileName(rig.core->config().graphImagePath, g, true);
            QFile::remove(out.filePath(QFileInfo(name).fileName()));
            QFile::copy(name, out.filePath(QFileInfo(name).fileName()));
        }
    }
    rig.core->stopProcedure();
    rig.core->graphs().setPipeline(nullptr);
}

TEST(GraphWindow, ControlsFollowTheUser)
{
    Rig rig(QStringList{}, false);
    MainWindow window(*rig.core);
    GraphPanel* panel = window.graphPanel();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // typed values are held and written back
    auto type = [](XOBGetNumber* f, const char* keys) {
        f->setFocus();
        f->selectAll();
        QTest::keyClicks(f, QString::fromLatin1(keys));
        QTest::keyClick(f, Qt::Key_Return);
    };
    type(panel->pointsField(), "5");
    EXPECT_EQ(panel->pointsField()->value(), 20);
    type(panel->pointsField(), "5000");
    EXPECT_EQ(panel->pointsField()->value(), 2000);
    type(panel->freqField(), "0");
    EXPECT_EQ(panel->freqField()->value(), 1);
    EXPECT_EQ(panel->spanLabel()->text(), QStringLiteral("20000"));

    // the span follows the read period
    window.findChild<QComboBox*>("RefreshRead")->setCurrentIndex(0); // 5 seconds
    QCoreApplication::processEvents();
    EXPECT_EQ(panel->spanLabel()->text(), QStringLiteral("10000"));
    EXPECT_EQ(panel->spanDescLabel()->text(), QStringLiteral("02 h 46 m 40 s"));

    // unticking a graph hides it and takes its image away
    QCheckBox* gen = panel->generateBox(GraphHum);
    QCheckBox* img = panel->imageBox(GraphHum);
    ASSERT_TRUE(img->isChecked());
    gen->click();
    EXPECT_FALSE(panel->pane(GraphHum)->isVisible());
    EXPECT_FALSE(img->isChecked());
    EXPECT_FALSE(img->isEnabled());
    EXPECT_FALSE(rig.core->config().graphImage[ImageHum]);
    // ... and its twin on the Files tab too, which can not be ticked alone
    QCheckBox* twin = nullptr;
    for (QCheckBox* b : window.findChildren<QCheckBox*>("GraphImageHum"))
        if (b != img) twin = b;
    ASSERT_NE(twin, nullptr);
    ASSERT_NE(twin, img);
    EXPECT_FALSE(twin->isChecked());
    EXPECT_FALSE(twin->isEnabled());
    gen->click();
    EXPECT_TRUE(panel->pane(GraphHum)->isVisible());
    EXPECT_TRUE(img->isEnabled());
    EXPECT_TRUE(twin->isEnabled());
    twin->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(img->isChecked()) << "the twins show one box";
    EXPECT_TRUE(rig.core->config().graphImage[ImageHum]);
    twin->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(img->isChecked());

    // an image box without a folder asks for one and stays unticked
    QStringList messages;
    rig.core->setPrompter([&](const QString& t, int, const QString&) { messages << t; return int(AnswerOk); });
    rig.core->config().graphImagePath = "  ";
    img->click();
    EXPECT_FALSE(img->isChecked());
    EXPECT_EQ(messages, QStringList{"Define the PATH"});
    // the Files tab's box asks in the same way
    twin->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(twin->isChecked());
    EXPECT_FALSE(rig.core->config().graphImage[ImageHum]);
    EXPECT_EQ(messages, (QStringList{"Define the PATH", "Define the PATH"}));

    // PNG / JPEG caption and the quality options
    panel->imageTypeBox()->click();
    EXPECT_EQ(panel->imageTypeBox()->text(), QStringLiteral("Image JPEG"));
    EXPECT_FALSE(rig.core->graphs().settings().png);
    EXPECT_TRUE(panel->findChild<QWidget*>("ImageQuality_0")->isVisible());
    panel->imageTypeBox()->click();
    EXPECT_FALSE(panel->findChild<QWidget*>("ImageQuality_0")->isVisible());
}
