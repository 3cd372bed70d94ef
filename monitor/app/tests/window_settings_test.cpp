// The window's own settings: its position and the selected tab come back
// from the store, go back into it with every save, and a minimised window
// keeps the stored position.
#include "MainWindow.h"
#include "MonitorCore.h"
#include "SettingsStore.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane;

namespace {

const QString kApp = QString::fromLatin1(kAppName);

QDBusConnection deadBus()
{
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/skyvane-test"), QStringLiteral("dead"));
}

QString onDisk(const QTemporaryDir& dir, const char* key)
{
    SettingsStore disk(dir.path());
    return disk.get(kApp, "Window", QLatin1String(key), "<missing>");
}

} // namespace

TEST(WindowSettings, PositionAndTabRestoredSavedAndKeptWhileMinimised)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    store.save(kApp, "Window", "Left", "1500"); // twips: 100 pixels
    store.save(kApp, "Window", "Top", "750");
    store.save(kApp, "Window", "SSTab1", "4");
    FakeClock clock;
    MonitorCore core(clock, store, deadBus(), dir.path());
    MainWindow w(core);
    core.load();
    w.restorePosition();
    w.show();
    QCoreApplication::processEvents();
    auto* tab = w.findChild<QTabWidget*>("SSTab1");
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->currentIndex(), 4);
    EXPECT_EQ(w.pos(), QPoint(100, 50));

    // A tab chosen and a move are on disk within a second.
    tab->setCurrentIndex(2);
    w.move(120, 60);
    QCoreApplication::processEvents();
    clock.advance(1000);
    EXPECT_EQ(onDisk(dir, "SSTab1"), "2");
    EXPECT_EQ(onDisk(dir, "Left"), "1800");
    EXPECT_EQ(onDisk(dir, "Top"), "900");

    // So is a box ticked on the window.
    auto* upload = w.findChild<QCheckBox*>("flgUpload");
    ASSERT_NE(upload, nullptr);
    upload->click();
    clock.advance(1000);
    {
        SettingsStore disk(dir.path());
        EXPECT_EQ(disk.get(kApp, "Setup", "Upload"), "1");
    }

    // Minimised (or in the tray), the stored position stays.
    w.hide();
    QCoreApplication::processEvents();
    core.save();
    EXPECT_EQ(onDisk(dir, "Left"), "1800");
    EXPECT_EQ(onDisk(dir, "SSTab2"), "1");
}

TEST(WindowSettings, EmptyStoreCentresTheWindow)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    FakeClock clock;
    MonitorCore core(clock, store, deadBus(), dir.path());
    MainWindow w(core);
    core.load();
    const WindowLayout& layout = core.config().window;
    EXPECT_EQ(layout.left, layout.centreLeft);
    EXPECT_EQ(layout.top, layout.centreTop);
    w.restorePosition();
    w.show();
    QCoreApplication::processEvents();
    core.save();
    EXPECT_EQ(onDisk(dir, "Left"), QString::number(w.x() * 15));
}
