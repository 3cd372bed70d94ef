// The uploader's window: captions, the stop key and the window keys written
// when the program closes.
#include "Clock.h"
#include "CurlTransfer.h"
#include "SettingsStore.h"
#include "UploadRun.h"
#include "UploaderWindow.h"

#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace skyvane;

namespace {
struct WindowRig {
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    FakeClock clock;
    CurlTransfer transfer;
    UploadRun run{store, clock, transfer};
    std::unique_ptr<UploaderWindow> window;

    explicit WindowRig(int files)
    {
        store.save(kUploaderApp, "Setup", "NoFiles", QString::number(files));
        for (int i = 1; i <= files; ++i)
            store.save(kUploaderApp, "Setup", QStringLiteral("File%1").arg(i), dir.filePath("none.png"));
        window = std::make_unique<UploaderWindow>(store, run);
    }
    QString win(const char* key) { return store.get(kUploaderApp, "Window", key); }
};
} // namespace

TEST(UploaderWindow, CaptionShowsVersionAndStopKey)
{
    EXPECT_EQ(UploaderWindow::normalCaption(),
              QStringLiteral("XOB_Uploader (v%1.%2)     (<F6>=stop)")
                  .arg(SKYVANE_VERSION_MAJOR).arg(SKYVANE_VERSION_MINOR, 2, 10, QLatin1Char('0')));
    EXPECT_TRUE(UploaderWindow::normalCaption().contains(")     (<F6>=stop)"));
}

TEST(UploaderWindow, OnlyPlainF6IsTheStopKey)
{
    EXPECT_TRUE(isStopKey(Qt::Key_F6, Qt::NoModifier));
    EXPECT_TRUE(isStopKey(Qt::Key_F6, Qt::KeypadModifier));
    EXPECT_FALSE(isStopKey(Qt::Key_F6, Qt::ShiftModifier));
    EXPECT_FALSE(isStopKey(Qt::Key_F6, Qt::ControlModifier));
    EXPECT_FALSE(isStopKey(Qt::Key_F6, Qt::AltModifier));
    EXPECT_FALSE(isStopKey(Qt::Key_F5, Qt::NoModifier));
}

TEST(UploaderWindow, ShiftF6DoesNothingF6ClosesAndSavesTheWindow)
{
    WindowRig rig(2);
    rig.store.save(kUploaderApp, "Window", "Width", "6000");
    rig.store.save(kUploaderApp, "Window", "Height", "3600");
    rig.window->restoreAndShow();
    EXPECT_EQ(rig.window->width(), 400);
    EXPECT_EQ(rig.window->height(), 240);
    EXPECT_EQ(rig.window->windowTitle(), UploaderWindow::normalCaption());
    rig.run.start();
    QTest::keyClick(rig.window.get(), Qt::Key_F6, Qt::ShiftModifier);
    QTest::keyClick(rig.window.get(), Qt::Key_F6, Qt::ControlModifier);
    EXPECT_FALSE(rig.run.closed());
    QTest::keyClick(rig.window.get(), Qt::Key_F6);
    EXPECT_TRUE(rig.run.closed());
    EXPECT_EQ(rig.win("Running"), "0");
    EXPECT_EQ(rig.win("State"), "0");
    EXPECT_EQ(rig.win("Width"), "6000");
    EXPECT_EQ(rig.win("Height"), "3600");
    EXPECT_FALSE(rig.win("Left").isEmpty());
}

TEST(UploaderWindow, MinimumSizeIsKept)
{
    WindowRig rig(1);
    rig.store.save(kUploaderApp, "Window", "Width", "100");
    rig.store.save(kUploaderApp, "Window", "Height", "100");
    rig.window->restoreAndShow();
    EXPECT_EQ(rig.window->width(), 4650 / 15);
    EXPECT_EQ(rig.window->height(), 2895 / 15);
}

TEST(UploaderWindow, LogListSelectsItsNewLastLine)
{
    WindowRig rig(1);
    rig.window->restoreAndShow();
    rig.run.onLog("first");
    rig.run.onLog("second");
    EXPECT_EQ(rig.window->msgList()->count(), 2);
    EXPECT_EQ(rig.window->msgList()->currentItem()->text(), "second");
}
