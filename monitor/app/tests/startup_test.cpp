// Start-up: single instance, first run, the updater's self-replacement.
#include "MonitorConfig.h"
#include "Uploads.h"
#include "SettingsStore.h"
#include "Startup.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace skyvane;

namespace {
void touch(const QString& path, const QByteArray& content = "x")
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}
QByteArray contentOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

// The real program on a settings folder, headless and away from any bus.
static QProcessEnvironment programEnvironment(const QString& settingsDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!settingsDir.isNull()) env.insert("SKYVANE_SETTINGS_DIR", settingsDir);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/skyvane-startup-test");
    return env;
}

static QString programPath() { return qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Skyvane"; }

TEST(Startup, OneInstancePerUserUntilItEnds)
{
    QTemporaryDir dir;
    {
        SingleInstance first(dir.path());
        EXPECT_TRUE(first.acquired());
        SingleInstance second(dir.path());
        EXPECT_FALSE(second.acquired());
        EXPECT_EQ(second.outcome(), SingleInstance::Outcome::AlreadyRunning);
    }
    SingleInstance again(dir.path());
    EXPECT_TRUE(again.acquired());
}

// A lock left behind by a monitor that was killed.
TEST(Startup, StaleLockOfAKilledMonitorIsTakenOver)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    store.save(kAppName, "Setup", "Emulator", "1");
    store.save(kAppName, "Window", "PathName", dir.filePath("data"));
    store.save(kAppName, "Graphs", "GraphImagePath", dir.filePath("images"));
    store.sync();
    const QString lockPath = dir.filePath("XOB_Skyvane.lock");

    QProcess monitor;
    monitor.setProcessEnvironment(programEnvironment(dir.path()));
    monitor.start(programPath(), {});
    ASSERT_TRUE(monitor.waitForStarted(5000));
    // The monitor holds the lock while it runs...
    QDeadlineTimer deadline(10000);
    while (!QFile::exists(lockPath) && !deadline.hasExpired() && monitor.state() == QProcess::Running) QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(lockPath)) << "the monitor took no lock";
    ASSERT_EQ(monitor.state(), QProcess::Running);
    {
        SingleInstance second(dir.path());
        EXPECT_EQ(second.outcome(), SingleInstance::Outcome::AlreadyRunning);
    }
    // ...and is killed without a chance to remove it.
    ::kill(pid_t(monitor.processId()), SIGKILL);
    ASSERT_TRUE(monitor.waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(lockPath)) << "the lock should be left behind";

    SingleInstance next(dir.path());
    EXPECT_TRUE(next.acquired());
    EXPECT_TRUE(next.error().isEmpty());
}

TEST(Startup, UnwritableSettingsFolderIsAnErrorNotASecondInstance)
{
    // Paths below a regular file can be neither created nor written, even by
    // root (who passes every permission check).
    QTemporaryDir dir;
    const QString blocker = dir.filePath("not-a-folder");
    touch(blocker);
    {
        SingleInstance held(blocker + "/settings");
        EXPECT_EQ(held.outcome(), SingleInstance::Outcome::Failed);
        EXPECT_FALSE(held.acquired());
        EXPECT_TRUE(held.error().contains(blocker)) << held.error().toStdString();
    }

    struct Case {
        const char* name;
        QString settingsDir; // null: not set
        QString home;
    };
    const Case cases[] = {
        {"settings folder", blocker + "/settings", dir.path()},
        {"home", QString(), blocker},
    };
    for (const Case& c : cases) {
        QProcessEnvironment env = programEnvironment(c.settingsDir);
        if (c.settingsDir.isNull()) env.remove("SKYVANE_SETTINGS_DIR");
        env.insert("HOME", c.home);
        env.remove("XDG_CONFIG_HOME");
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(programPath(), {});
        ASSERT_TRUE(p.waitForStarted(5000)) << c.name;
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(2000);
            ADD_FAILURE() << c.name << ": the monitor did not end";
            continue;
        }
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << c.name;
        EXPECT_NE(p.exitCode(), 0) << c.name;
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_TRUE(err.contains("can not start")) << c.name << ": " << err.toStdString();
        EXPECT_TRUE(err.contains(blocker)) << c.name << ": " << err.toStdString();
    }
}

TEST(Startup, SecondProgramExitsAtOnceWithoutWindow)
{
    // The real program, started twice against one settings folder.
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    store.save(kAppName, "Setup", "Emulator", "1");
    store.sync();
    SingleInstance held(dir.path());
    ASSERT_TRUE(held.acquired());
    QProcess p;
    p.setProcessEnvironment(programEnvironment(dir.path()));
    p.start(programPath(), {});
    ASSERT_TRUE(p.waitForStarted(5000));
    ASSERT_TRUE(p.waitForFinished(10000)) << "second instance did not end";
    EXPECT_EQ(p.exitCode(), 0);
}

TEST(Startup, FirstRunIsDetectedByTheEmulatorKey)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    EXPECT_TRUE(isFirstRun(store));
    store.save(kAppName, "setup", "EMULATOR", "0");
    EXPECT_FALSE(isFirstRun(store));
}

TEST(Startup, UpdaterHandOver)
{
    struct Case {
        const char* name;
        QStringList before;
        QStringList after;
    };
    const Case cases[] = {
        {"nothing to do", {"XOB_Updater"}, {"XOB_Updater"}},
        {"new replaces old", {"XOB_Updater", "XOB_Updater_net"}, {"XOB_Updater", "XOB_Updater_exe.old"}},
        {"older backup is replaced", {"XOB_Updater", "XOB_Updater_net", "XOB_Updater_exe.old"}, {"XOB_Updater", "XOB_Updater_exe.old"}},
        {"new without old simply takes the name", {"XOB_Updater_net"}, {"XOB_Updater"}},
        {"names compared without case", {"xob_updater", "XOB_UPDATER_NET"}, {"XOB_Updater", "XOB_Updater_exe.old"}},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        for (const QString& f : c.before) touch(dir.filePath(f), f.toUtf8());
        EXPECT_TRUE(completeUpdaterHandOver(dir.path())) << c.name;
        QStringList now = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
        QStringList want = c.after;
        want.sort();
        EXPECT_EQ(now, want) << c.name;
        if (c.before.size() > 1 || QString(c.name).contains("new without")) {
            EXPECT_TRUE(contentOf(dir.filePath("XOB_Updater")).toUpper().endsWith("_NET")) << c.name;
        }
    }
}

TEST(Startup, ReadIntervalsComeFromTheComboItems)
{
    MonitorConfig c;
    const qint64 want[4] = {5000, 10000, 30000, 60000};
    for (int i = 0; i < 4; ++i) {
        c.refreshRead = i;
        EXPECT_EQ(c.readIntervalMs(), want[i]);
    }
    outputs::UploadConfig u;
    u.refreshUpload = 0;
    EXPECT_EQ(u.intervalMs(), 5000);
}
