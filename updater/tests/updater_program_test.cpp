// The updater program itself: a whole update from one monitor version to the
// next with the real restart, and its window during a download.
#include "WaitFor.h"
#include "Clock.h"
#include "HandOver.h"
#include "SettingsStore.h"
#include "UpdateRun.h"
#include "UpdateServer.h"
#include "UpdateTestFiles.h"
#include "UpdaterWindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QProcessEnvironment>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace skyvane;
using namespace skyvane::updater;
using namespace skyvane::testing;

namespace {

QByteArray record(const QString& name, const QString& address, const QString& local, const QString& target,
                  const QString& backup)
{
    return quoteField(name) + "," + quoteField(address) + "," + quoteField(local) + "," + quoteField(target) + ","
           + quoteField(backup) + "\r\n";
}

using skyvane::testing::waitFor;

// Copies the built updater into the program folder, as it is installed, and
// starts it there with the test's settings folder.
bool startInstalledUpdater(QProcess& p, const QTemporaryDir& program, const QTemporaryDir& settings)
{
    const QString updater = program.filePath("XOB_Updater");
    if (!QFile::copy(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Updater", updater)) return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SKYVANE_SETTINGS_DIR", settings.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(updater);
    return p.waitForStarted(10000);
}

} // namespace

TEST(UpdaterProgram, UpdatesFromAToBAndRestartsTheNewMonitor)
{
    QTemporaryDir serverRoot, program, settings;
    UpdateServer server(serverRoot.path());
    ASSERT_TRUE(server.isRunning());
    writeFile(serverRoot.filePath("XOB_Skyvane"), monitorScript("5.03.000"));
    writeFile(program.filePath("XOB_Skyvane"), monitorScript("5.02.015"), true);
    {
        SettingsStore store(settings.path());
        store.save("XOB_Skyvane", "Setup", "UpdateCAFile", server.cert());
        store.save("XOB_Skyvane", "Window", "LastUpdateMsg", "stale text");
        store.sync();
    }
    writeFile(program.filePath(kHandOverFile),
              titleRecord("XOB_Skyvane", 10, 10, "XOB_Skyvane")
                  + record("XOB_Skyvane", server.url("/XOB_Skyvane"), "XOB_Skyvane_new", "XOB_Skyvane", "XOB_Skyvane.old"));

    // The updater runs from the program folder, as installed.
    QProcess p;
    ASSERT_TRUE(startInstalledUpdater(p, program, settings));
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0);

    // The restarted monitor is the new one.
    EXPECT_TRUE(waitFor([&] { return readFile(program.filePath("started.log")).contains("5.03.000"); }));
    EXPECT_EQ(readFile(program.filePath("started.log")), "5.03.000\n");
    EXPECT_EQ(readFile(program.filePath("XOB_Skyvane.old")), monitorScript("5.02.015"));
    EXPECT_FALSE(QFileInfo::exists(program.filePath(kHandOverFile)));
    SettingsStore after(settings.path());
    EXPECT_EQ(after.get("XOB_Skyvane", "Window", "LastUpdateMsg", "<absent>"), "");

    // Its own version answer.
    QProcess v;
    v.start(program.filePath("XOB_Updater"), {"--version"});
    ASSERT_TRUE(v.waitForFinished(10000));
    EXPECT_TRUE(v.readAllStandardOutput().startsWith("XOB_Updater 5."));
}

TEST(UpdaterWindow, ShowsTheDownloadAndCancelEndsIt)
{
    QTemporaryDir serverRoot, program, settings;
    UpdateServer server(serverRoot.path());
    ASSERT_TRUE(server.isRunning());
    QByteArray big(300000, 'x');
    writeFile(serverRoot.filePath("XOB_Skyvane"), big);
    writeFile(program.filePath("XOB_Skyvane"), monitorScript("5.02.015"), true);
    writeFile(program.filePath(kHandOverFile),
              titleRecord("XOB_Skyvane", 40, 30, "XOB_Skyvane")
                  + record("XOB_Skyvane", server.url("/stall/XOB_Skyvane"), "XOB_Skyvane_new", "XOB_Skyvane",
                           "XOB_Skyvane.old"));
    SettingsStore store(settings.path());
    FakeClock clock;
    UpdateRun run(store, clock, program.path());
    run.setCaFile(server.cert());
    ASSERT_TRUE(run.load());
    UpdaterWindow window(run);
    window.begin();
    window.show();
    EXPECT_EQ(window.windowTitle(), "XOB_Skyvane Updater (" + versionText() + ")");

    auto* bar = window.findChild<QProgressBar*>("Progressbar");
    auto* list = window.findChild<QListWidget*>("MsgList");
    auto* cancel = window.findChild<QPushButton*>("ButCancel");
    ASSERT_TRUE(bar && list && cancel);
    ASSERT_TRUE(waitFor([&] { return bar->isVisible() && bar->text() == "1,000 bytes"; }));
    EXPECT_EQ(bar->value(), 0); // 1000 of 300000 bytes
    EXPECT_EQ(list->currentItem()->text(), "File size = 300,000 bytes");
    EXPECT_TRUE(cancel->isEnabled());
    const QString shots = qEnvironmentVariable("SKYVANE_SHOT_DIR");
    if (!shots.isEmpty()) window.grab().save(shots + "/updater-download.png");

    bool done = false;
    QObject::connect(&window, &UpdaterWindow::done, [&] { done = true; });
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return done; }));
    EXPECT_EQ(store.get("XOB_Skyvane", "Window", "LastUpdateMsg"), cancelledMessage());
    EXPECT_FALSE(QFileInfo::exists(program.filePath("XOB_Skyvane_new")));
    EXPECT_FALSE(window.isVisible());
}

TEST(UpdaterWindow, ClosingTheWindowCancelsAndWaitsForTheRunToPutThingsBack)
{
    QTemporaryDir serverRoot, program, settings;
    UpdateServer server(serverRoot.path());
    ASSERT_TRUE(server.isRunning());
    writeFile(serverRoot.filePath("XOB_Skyvane"), QByteArray(300000, 'x'));
    writeFile(program.filePath("XOB_Skyvane"), monitorScript("5.02.015"), true);
    writeFile(program.filePath(kHandOverFile),
              titleRecord("XOB_Skyvane", 40, 30, "XOB_Skyvane")
                  + record("XOB_Skyvane", server.url("/stall/XOB_Skyvane"), "XOB_Skyvane_new", "XOB_Skyvane",
                           "XOB_Skyvane.old"));
    SettingsStore store(settings.path());
    FakeClock clock;
    UpdateRun run(store, clock, program.path());
    run.setCaFile(server.cert());
    run.setTimeoutMs(120000); // only the close can end this run in time
    ASSERT_TRUE(run.load());
    UpdaterWindow window(run);
    bool done = false;
    QObject::connect(&window, &UpdaterWindow::done, [&] { done = true; });
    window.begin();
    window.show();
    auto* bar = window.findChild<QProgressBar*>("Progressbar");
    auto* cancel = window.findChild<QPushButton*>("ButCancel");
    ASSERT_TRUE(waitFor([&] { return bar->isVisible() && bar->text() == "1,000 bytes"; }));

    window.close();
    EXPECT_FALSE(cancel->isEnabled()); // the Cancel is under way
    ASSERT_TRUE(waitFor([&] { return done; }, 15000));
    EXPECT_EQ(store.get("XOB_Skyvane", "Window", "LastUpdateMsg"), cancelledMessage());
    EXPECT_FALSE(QFileInfo::exists(program.filePath("XOB_Skyvane_new")));
    EXPECT_EQ(run.programToStart(), program.filePath("XOB_Skyvane"));
    EXPECT_FALSE(window.isVisible());
}

TEST(UpdaterProgram, TerminationSignalsCancelAndStartTheOldMonitor)
{
    for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signo);
        QTemporaryDir serverRoot, program, settings;
        UpdateServer server(serverRoot.path());
        ASSERT_TRUE(server.isRunning());
        writeFile(serverRoot.filePath("XOB_Skyvane"), QByteArray(300000, 'x'));
        writeFile(program.filePath("XOB_Skyvane"), monitorScript("5.02.015"), true);
        {
            SettingsStore store(settings.path());
            store.save("XOB_Skyvane", "Setup", "UpdateCAFile", server.cert());
            store.save("XOB_Skyvane", "Setup", "UpdateTimeout", "600");
            store.sync();
        }
        writeFile(program.filePath(kHandOverFile),
                  titleRecord("XOB_Skyvane", 10, 10, "XOB_Skyvane")
                      + record("XOB_Skyvane", server.url("/stall/XOB_Skyvane"), "XOB_Skyvane_new", "XOB_Skyvane",
                               "XOB_Skyvane.old"));
        QProcess p;
        ASSERT_TRUE(startInstalledUpdater(p, program, settings));
        // The download has begun (the file is made when its GET starts).
        ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(program.filePath("XOB_Skyvane_new")); }, 20000));
        QThread::msleep(300);

        ::kill(pid_t(p.processId()), signo);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_TRUE(waitFor([&] { return readFile(program.filePath("started.log")) == "5.02.015\n"; }))
            << readFile(program.filePath("started.log")).toStdString();
        EXPECT_FALSE(QFileInfo::exists(program.filePath("XOB_Skyvane_new")));
        EXPECT_EQ(readFile(program.filePath("XOB_Skyvane")), monitorScript("5.02.015"));
        SettingsStore after(settings.path());
        EXPECT_EQ(after.get("XOB_Skyvane", "Window", "LastUpdateMsg"), cancelledMessage());
    }
}
