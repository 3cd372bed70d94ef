// The real program started with nobody at the screen (D-Bus activation, the
// session's autostart, the headless service) on a damaged or empty settings
// folder: it keeps what can be read, says what happened, and publishes its
// class instead of waiting for an answer that never comes.
#include "WaitFor.h"
#include "Automation.h"
#include "MonitorConfig.h"
#include "MonitorProcess.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

const QString kApp = QString::fromLatin1(kAppName);

QByteArray junk(int n, int seed)
{
    QByteArray b;
    for (int i = 0; i < n; ++i) b.append(char((i * 7919 + seed) & 0xFF));
    return b;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

enum class Start { Desktop, Activated, Autostart, Headless };

const char* name(Start s)
{
    switch (s) {
    case Start::Desktop: return "desktop (offscreen)";
    case Start::Activated: return "started by D-Bus activation";
    case Start::Autostart: return "--autostart";
    case Start::Headless: return "--headless";
    }
    return "";
}

// The program started the way the case says.
bool startAs(MonitorProcess& m, const PrivateBus& bus, const QString& settingsDir, Start how)
{
    QProcessEnvironment extra;
    if (how == Start::Activated) {
        // what the bus daemon sets for a program it starts
        extra.insert("DBUS_STARTER_BUS_TYPE", "session");
        extra.insert("DBUS_STARTER_ADDRESS", bus.environment().value("DBUS_SESSION_BUS_ADDRESS"));
    }
    QStringList args;
    if (how == Start::Headless) args << "--headless";
    if (how == Start::Autostart) args << "--autostart";
    return m.start(bus, settingsDir, args, extra);
}

} // namespace

TEST(UnattendedStart, DamagedSettingsKeepWhatCanBeReadAndTheClassIsPublished)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
    QDBusConnection conn = bus.connection(QStringLiteral("client"));
    // the headless monitor starts monitoring at once and ends without a sensor server
    SensorStandIn sim(bus, {"--ready-delay", "0"});
    ASSERT_TRUE(sim.isRunning()) << sim.error().toStdString();

    const QByteArray keys = "[Window]\nSafeDelayVal=77\n[Setup]\nEmulator=1\nRefreshRead=2\n[Limit]\nWindCalm=12\n";
    struct Content {
        const char* what;
        QByteArray bytes;
        bool keysKept;
    };
    const Content contents[] = {{"binary junk", junk(4096, 3), false}, {"keys, then 4 kB of junk", keys + junk(4096, 11), true}};
    for (const Content& c : contents) {
        for (Start how : {Start::Desktop, Start::Activated, Start::Headless}) {
            SCOPED_TRACE(std::string(c.what) + ", " + name(how));
            QTemporaryDir dir;
            const QString file = dir.filePath("XOB_Skyvane.ini");
            {
                QFile f(file);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(c.bytes);
            }
            MonitorProcess m;
            ASSERT_TRUE(startAs(m, bus, dir.path(), how));
            auto client = attachToMonitor(conn);
            if (!client) {
                m.terminate();
                FAIL() << "the class was never published\n" << m.log().toStdString();
            }
            const automation::CallResult delay = client->get("XOB_SafeDelayValue");
            if (!delay.ok()) {
                m.terminate();
                FAIL() << delay.error.toStdString() << "\n" << m.log().toStdString();
            }
            if (c.keysKept) EXPECT_EQ(delay.value.toInt(), 77) << "a readable key was lost";
            client.reset();
            m.terminate();
            EXPECT_EQ(readAll(file + ".unreadable"), c.bytes) << "the damaged file was not kept as it was";
            SettingsStore after(dir.path());
            EXPECT_FALSE(after.damaged(kApp)) << "the file written after the start is whole";
            if (c.keysKept) {
                EXPECT_EQ(after.get(kApp, "Limit", "WindCalm"), "12");
                EXPECT_EQ(after.get(kApp, "Setup", "RefreshRead"), "2");
            }
            // The headless program logs its status and code lines.
            if (how == Start::Headless) {
                EXPECT_TRUE(m.log().contains("Settings file")) << m.log().toStdString();
                EXPECT_TRUE(m.log().contains("s62")) << m.log().toStdString();
            }
        }
    }
}

// No settings at all and nobody to answer the first-run questions: the
// monitor runs on its defaults, publishes its class and, at its end, saves
// the settings so that the next start is not a first run either.
TEST(UnattendedStart, FirstRunWithNobodyAtTheScreenRunsOnTheDefaults)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
    QDBusConnection conn = bus.connection(QStringLiteral("client"));
    for (Start how : {Start::Desktop, Start::Activated, Start::Autostart}) {
        SCOPED_TRACE(name(how));
        QTemporaryDir dir;
        MonitorProcess m;
        ASSERT_TRUE(startAs(m, bus, dir.path(), how));
        ASSERT_NE(attachToMonitor(conn), nullptr) << "the monitor waits for a first-run answer";
        m.terminate();
        EXPECT_TRUE(m.log().contains("no settings yet")) << m.log().toStdString();
        SettingsStore after(dir.path());
        EXPECT_EQ(after.get(kApp, "Setup", "Emulator", "9"), "1");
    }
}
