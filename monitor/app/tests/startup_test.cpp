// Start-up: single instance, first run, the updater's self-replacement.
#include "MonitorConfig.h"
#include "SettingsStore.h"
#include "Startup.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
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

TEST(Startup, OneInstancePerUserAndStaleLocksAreTakenOver)
{
    QTemporaryDir dir;
    {
        SingleInstance first(dir.path());
        EXPECT_TRUE(first.acquired());
        SingleInstance second(dir.path());
        EXPECT_FALSE(second.acquired());
    }
    SingleInstance again(dir.path());
    EXPECT_TRUE(again.acquired());
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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SKYVANE_SETTINGS_DIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Skyvane", {});
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
    c.refreshUpload = 0;
    EXPECT_EQ(c.uploadIntervalMs(), 5000);
}
