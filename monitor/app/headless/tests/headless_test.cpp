// The real program in its headless mode: no DISPLAY, no QT_QPA_PLATFORM, a
// private bus with the sensor stand-in, a station file and a notify socket
// the test listens on in place of systemd.
#include "WaitFor.h"
#include "Automation.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

constexpr const char* kProgId = "XOB_Skyvane.Nephor";
constexpr int kIntervalMs = 1000; // the program's test hook: a 1 s read period

using skyvane::testing::waitFor;

// What systemd would listen on: a unix datagram socket; each datagram is one
// or more newline-separated assignments.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : path_(path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(path);
        if (fd_ < 0 || size_t(p.size()) >= sizeof(a.sun_path)) return;
        std::memcpy(a.sun_path, p.constData(), size_t(p.size()));
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    }
    ~NotifySocket()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    bool bound() const { return bound_; }
    // Takes in what has arrived.
    void drain()
    {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) break;
            for (const QByteArray& line : QByteArray(buf, int(n)).split('\n'))
                if (!line.isEmpty()) received << QString::fromUtf8(line);
        }
    }
    int count(const QString& assignment)
    {
        drain();
        return int(received.count(assignment));
    }

    QStringList received;

private:
    QString path_;
    int fd_ = -1;
    bool bound_ = false;
};

struct Headless {
    PrivateBus bus;
    std::unique_ptr<SensorStandIn> sim;
    QTemporaryDir dir;
    NotifySocket notify{dir.filePath("notify")};
    QProcess monitor;
    QByteArray log;
    const QString app = QStringLiteral("XOB_Skyvane");

    explicit Headless(bool withSensorServer = true)
    {
        if (withSensorServer) sim = std::make_unique<SensorStandIn>(bus, QStringList{"--ready-delay", "0"});
        SettingsStore store(dir.path());
        store.save(app, "Setup", "Emulator", "1");
        store.save(app, "Setup", "HTMFile", dir.filePath("station.csv"));
        store.save(app, "Window", "PathName", dir.filePath("data"));
        store.save(app, "Window", "FileNameCCDAP4", "ccd.txt");
        store.save(app, "Window", "PathNameCCDAP4", dir.path());
        store.save(app, "Graphs", "GraphImagePath", dir.filePath("images"));
        store.save(app, "INDI", "SafetyFeed", "1");
        store.save(app, "INDI", "SafetyFile", dir.filePath("safety.json"));
        store.sync();
        writeStationFile();
    }
    ~Headless()
    {
        if (monitor.state() != QProcess::NotRunning) {
            monitor.kill();
            monitor.waitForFinished(5000);
        }
    }
    void writeStationFile()
    {
        QFile f(dir.filePath("station.csv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QDateTime now = QDateTime::currentDateTime();
        f.write(QStringLiteral("Date,,%1\nTime,,%2\nOutTemp,\u00b0C,5.2\nWindSpeed,km/h,5\nGust,km/h,8\n"
                               "WindDirection,,NNE\nRainDayMin,mm,0\nRainDayMax,mm,0\nOutHumidity,%,60\n"
                               "DewPoint,\u00b0C,-2.0\nBarometer,hPa,1013\n")
                    .arg(now.toString("dd/MM/yy"), now.toString("hh:mm:ss"))
                    .toUtf8());
    }
    QProcessEnvironment environment(const QStringList& extra = {}) const
    {
        QProcessEnvironment env = bus.environment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("SKYVANE_SETTINGS_DIR", dir.path());
        env.insert("NOTIFY_SOCKET", dir.filePath("notify"));
        env.insert("SKYVANE_TEST_READ_INTERVAL_MS", QString::number(kIntervalMs));
        for (const QString& kv : extra) env.insert(kv.section('=', 0, 0), kv.section('=', 1));
        return env;
    }
    bool start(const QStringList& extraEnv = {})
    {
        monitor.setProcessEnvironment(environment(extraEnv));
        QObject::connect(&monitor, &QProcess::readyReadStandardError, [this] { log += monitor.readAllStandardError(); });
        monitor.start(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Skyvane", {"--headless"});
        return monitor.waitForStarted(5000);
    }
    bool running() { return waitFor([&] { return notify.count("READY=1") > 0; }, 20000); }
    // Waits for n more watchdog notifications; false when they do not come
    // within ms.
    bool watchdogs(int n, int ms)
    {
        const int before = notify.count("WATCHDOG=1");
        return waitFor([&] { return notify.count("WATCHDOG=1") >= before + n; }, ms);
    }
    QJsonObject roof() const
    {
        QFile f(dir.filePath("safety.json"));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QJsonDocument::fromJson(f.readAll()).object().value("roof_status").toObject();
    }
    int terminate()
    {
        ::kill(pid_t(monitor.processId()), SIGTERM);
        if (!waitFor([&] { return monitor.state() == QProcess::NotRunning; }, 15000)) return -1;
        log += monitor.readAllStandardError();
        return monitor.exitStatus() == QProcess::NormalExit ? monitor.exitCode() : -2;
    }
};

} // namespace

TEST(Headless, RunsTheNightWithoutADisplayAndEndsCleanlyOnSigterm)
{
    Headless h;
    ASSERT_TRUE(h.bus.isRunning()) << h.bus.error().toStdString();
    ASSERT_TRUE(h.sim->isRunning()) << h.sim->error().toStdString();
    ASSERT_TRUE(h.notify.bound());
    h.sim->setLevels(1, 1, 1);
    ASSERT_TRUE(h.start());
    ASSERT_TRUE(h.running()) << "no READY=1\n" << h.log.toStdString();
    ASSERT_TRUE(h.watchdogs(2, 10000)) << h.log.toStdString();
    EXPECT_TRUE(h.sim->localControl());
    EXPECT_FALSE(h.sim->lastUnsafe());
    EXPECT_EQ(h.roof().value("open_ok").toInt(-1), 1);

    // A client reads the flag as on the desktop.
    QDBusConnection conn = h.bus.connection("client");
    QString error;
    auto client = automation::LateBoundObject::create(conn, kProgId, 15000, &error);
    ASSERT_NE(client, nullptr) << error.toStdString();
    const automation::CallResult safe = client->call("Safe");
    ASSERT_TRUE(safe.ok()) << safe.error.toStdString();
    EXPECT_TRUE(safe.value.toBool());

    // Overcast: UNSAFE, as the desktop does on the same night.
    h.sim->setLevels(3, 1, 1);
    ASSERT_TRUE(waitFor([&] { return h.sim->lastUnsafe(); }, 10000)) << h.log.toStdString();
    ASSERT_TRUE(h.watchdogs(2, 10000)); // the cycle that sent UNSAFE has ended
    EXPECT_EQ(h.roof().value("open_ok").toInt(-1), 0);
    EXPECT_FALSE(client->call("Safe").value.toBool());
    h.sim->setLevels(1, 1, 1);
    ASSERT_TRUE(waitFor([&] { return !h.sim->lastUnsafe(); }, 10000)) << h.log.toStdString();
    client.reset();

    // The outputs of the cycle: the imaging file and the graph images.
    EXPECT_TRUE(QFile::exists(h.dir.filePath("ccd.txt")));
    EXPECT_TRUE(waitFor([&] { return !QDir(h.dir.filePath("images")).entryList(QDir::Files).isEmpty(); }, 10000))
        << "no graph image written";

    EXPECT_EQ(h.terminate(), 0) << h.log.toStdString();
    EXPECT_GE(h.notify.count("STOPPING=1"), 1);
    SettingsStore after(h.dir.path());
    EXPECT_EQ(after.get(h.app, "Limit", "WindCalm"), "10") << "settings were not saved";
    EXPECT_EQ(after.get(h.app, "INDI", "SafetyFeed"), "1");
    EXPECT_FALSE(h.sim->localControl()) << "local control was not given back";
    EXPECT_EQ(h.roof().value("open_ok").toInt(-1), 0) << "a stopped monitor must not leave \"open ok\" behind";
    // Status and code lines, time-stamped, on standard error.
    const QString log = QString::fromUtf8(h.log);
    EXPECT_TRUE(log.contains(QRegularExpression(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d flag: UNSAFE)"))) << log.toStdString();
    EXPECT_TRUE(log.contains("flag: SAFE"));
    EXPECT_FALSE(QFile::exists(h.dir.filePath("XOB_Skyvane.lock")));
}

TEST(Headless, WatchdogFollowsTheCycleNotTheSensorServer)
{
    {
        SCOPED_TRACE("hung sensor server: one timeout per cycle, notifications go on");
        Headless h;
        ASSERT_TRUE(h.sim->isRunning());
        ASSERT_TRUE(h.start());
        ASSERT_TRUE(h.running()) << h.log.toStdString();
        ASSERT_TRUE(h.watchdogs(1, 10000));
        ASSERT_TRUE(h.sim->hang(8000));
        QElapsedTimer t;
        t.start();
        EXPECT_TRUE(h.watchdogs(2, 7000)) << h.log.toStdString();
        EXPECT_LT(t.elapsed(), 8000) << "the notifications came only after the hang";
        EXPECT_EQ(h.terminate(), 0);
    }
    {
        SCOPED_TRACE("blocked event loop: notifications stop");
        Headless h;
        ASSERT_TRUE(h.sim->isRunning());
        ASSERT_TRUE(h.start({"SKYVANE_TEST_BLOCK_AFTER_CYCLES=2"}));
        ASSERT_TRUE(h.running()) << h.log.toStdString();
        ASSERT_TRUE(h.watchdogs(1, 10000));
        waitFor([&] { return h.log.contains("blocking the event loop"); }, 10000);
        const int seen = h.notify.count("WATCHDOG=1");
        EXPECT_FALSE(h.watchdogs(1, 4 * kIntervalMs)) << "notified with the loop blocked";
        EXPECT_EQ(seen, 2);
        h.monitor.kill();
        h.monitor.waitForFinished(5000);
    }
    {
        SCOPED_TRACE("stopped by a client: nothing is stuck, the idle loop notifies");
        Headless h;
        ASSERT_TRUE(h.sim->isRunning());
        // A 3 s watchdog: the idle notifications come every second.
        ASSERT_TRUE(h.start({"WATCHDOG_USEC=3000000"}));
        ASSERT_TRUE(h.running()) << h.log.toStdString();
        QDBusConnection conn = h.bus.connection("client");
        QString error;
        auto client = automation::LateBoundObject::create(conn, kProgId, 15000, &error);
        ASSERT_NE(client, nullptr) << error.toStdString();
        ASSERT_TRUE(client->call("Device_Stop").ok());
        // No cycle runs now; the notifications go on all the same.
        EXPECT_TRUE(h.watchdogs(3, 5000)) << h.log.toStdString();
        client.reset();
        EXPECT_EQ(h.terminate(), 0);
    }
}

TEST(Headless, OneMonitorPerUserAcrossBothModes)
{
    Headless h;
    ASSERT_TRUE(h.sim->isRunning());
    ASSERT_TRUE(h.start());
    ASSERT_TRUE(h.running()) << h.log.toStdString();
    for (const bool desktop : {false, true}) {
        SCOPED_TRACE(desktop ? "desktop" : "headless");
        QProcess second;
        QProcessEnvironment env = h.environment();
        env.remove("NOTIFY_SOCKET");
        if (desktop) env.insert("QT_QPA_PLATFORM", "offscreen");
        second.setProcessEnvironment(env);
        second.start(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Skyvane", desktop ? QStringList{} : QStringList{"--headless"});
        ASSERT_TRUE(second.waitForFinished(15000)) << "a second monitor kept running";
        EXPECT_EQ(second.exitCode(), 0);
    }
    EXPECT_EQ(h.terminate(), 0);
}

TEST(Headless, WithoutTheSensorServerItEndsAsAFailureForTheServiceManager)
{
    Headless h(false);
    ASSERT_TRUE(h.bus.isRunning());
    ASSERT_TRUE(h.start());
    ASSERT_TRUE(waitFor([&] { return h.monitor.state() == QProcess::NotRunning; }, 60000)) << h.log.toStdString();
    h.log += h.monitor.readAllStandardError();
    // Exit status 1: Restart=on-failure tries again later.
    EXPECT_EQ(h.monitor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(h.monitor.exitCode(), 1) << h.log.toStdString();
    EXPECT_TRUE(h.log.contains("Problem with XOB_Nephor")) << h.log.toStdString();
    EXPECT_GE(h.notify.count("STOPPING=1"), 1);
    EXPECT_EQ(h.roof().value("open_ok").toInt(-1), 0);
}

TEST(Headless, HelpAndVersionNeedNoDisplay)
{
    for (const char* arg : {"--help", "--version"}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Skyvane", {arg});
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 0) << arg;
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(out.contains(QString::fromLatin1(arg) == "--help" ? QString("--headless") : QString("5.02.015"))) << out.toStdString();
    }
}
