// The real program ended by a signal: it closes as Exit does, saving its
// settings and giving the sensor server its local control back.
#include "WaitFor.h"
#include "Automation.h"
#include "MonitorConfig.h"
#include "MonitorProcess.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

constexpr const char* kProgId = "XOB_Skyvane.Nephor";

using skyvane::testing::waitFor;

// A settings folder for a monitor that reads a calm station file, with every
// output inside the folder.
void prepareSettings(const QTemporaryDir& dir)
{
    SettingsStore store(dir.path());
    const QString app = QString::fromLatin1(kAppName);
    store.save(app, "Setup", "Emulator", "1");
    store.save(app, "Setup", "HTMFile", dir.filePath("station.csv"));
    store.save(app, "Window", "PathName", dir.filePath("data"));
    store.save(app, "Window", "PathNameCCDAP4", dir.filePath("ccd"));
    store.save(app, "Graphs", "GraphImagePath", dir.filePath("images"));
    store.sync();
    ASSERT_TRUE(writeCalmStation(dir.filePath("station.csv")));
}

} // namespace

TEST(Termination, SignalsCloseTheMonitorAsExitDoes)
{
    struct Case {
        int signo;
        const char* name;
        bool clientAttached; // a signal can not be refused as a close request can
    };
    const Case cases[] = {{SIGTERM, "SIGTERM", true}, {SIGINT, "SIGINT", false}, {SIGHUP, "SIGHUP", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrivateBus bus;
        ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
        SensorStandIn sim(bus, {"--ready-delay", "0"});
        ASSERT_TRUE(sim.isRunning()) << sim.error().toStdString();
        QTemporaryDir dir;
        prepareSettings(dir);
        const QString app = QString::fromLatin1(kAppName);
        {
            SettingsStore before(dir.path());
            ASSERT_FALSE(before.contains(app, "Limit", "WindCalm"));
        }

        QProcess monitor;
        QProcessEnvironment env = bus.environment();
        env.insert("SKYVANE_SETTINGS_DIR", dir.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        monitor.setProcessEnvironment(env);
        monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        monitor.start(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Skyvane", {});
        ASSERT_TRUE(monitor.waitForStarted(5000));

        QDBusConnection conn = bus.connection(QStringLiteral("client-%1").arg(c.name));
        ASSERT_TRUE(waitFor([&] { return conn.interface()->isServiceRegistered(kProgId).value(); }, 15000))
            << "the monitor did not publish its class";
        QString error;
        auto client = automation::LateBoundObject::create(conn, kProgId, 15000, &error);
        ASSERT_NE(client, nullptr) << error.toStdString();
        const automation::CallResult started = client->call("Device_Start");
        ASSERT_TRUE(started.ok()) << started.error.toStdString();
        ASSERT_GE(sim.deviceStartCount(), 1) << "monitoring did not start";
        ASSERT_TRUE(sim.localControl()) << "the monitor did not take control of the sensor server";
        if (!c.clientAttached) client.reset();

        ::kill(pid_t(monitor.processId()), c.signo);
        ASSERT_TRUE(waitFor([&] { return monitor.state() == QProcess::NotRunning; }, 15000)) << "the monitor did not end";
        EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(monitor.exitCode(), 0);

        SettingsStore after(dir.path());
        EXPECT_EQ(after.get(app, "Limit", "WindCalm"), "10") << "settings were not saved";
        const QVariantList calls = sim.localControlCalls();
        ASSERT_FALSE(calls.isEmpty());
        const QVariantList last = calls.last().toList();
        ASSERT_EQ(last.size(), 2);
        EXPECT_FALSE(last[0].toBool()) << "local control was not given back";
        EXPECT_FALSE(sim.localControl());
        // The lock went with it: the next monitor starts.
        EXPECT_FALSE(QFile::exists(dir.filePath("XOB_Skyvane.lock")));
        client.reset();
    }
}
