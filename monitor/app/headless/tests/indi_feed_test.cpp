// The INDI feed files, read by the real drivers of Debian's indi-bin: the
// Weather Watcher shows our values, the Safety Proxy says "open ok" exactly
// while our flag is SAFE.
#include "IndiFeed.h"
#include "MonitorRig.h"
#include "MonitorServices.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>
#include <QDeadlineTimer>
#include <gtest/gtest.h>
#include <optional>

using namespace skyvane;
using namespace skyvane::outputs;
using Rig = skyvane::testing::MonitorRig;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QJsonObject roofStatus(const QString& path)
{
    return QJsonDocument::fromJson(readAll(path)).object().value("roof_status").toObject();
}

// indiserver with both drivers on a free port of 127.0.0.1, and the two
// command-line clients that talk to it.
class IndiServer {
public:
    IndiServer()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) return;
        port_ = probe.serverPort();
        probe.close();
        server_.setProcessChannelMode(QProcess::MergedChannels);
        // Its own local socket too (abstract, default /tmp/indiserver), so
        // that another server on this machine does not stop it.
        server_.start("indiserver", {"-p", QString::number(port_), "-u", QStringLiteral("skyvane-test-%1").arg(port_),
                                     "indi_watcher_weather", "indi_weather_safety_proxy"});
        if (!server_.waitForStarted(5000)) return;
        // Both drivers keep their configuration under HOME (the test's own).
        // Up when both drivers answer.
        QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            const QMap<QString, QString> p = props();
            if (p.contains("Weather Watcher.CONNECTION.CONNECT") && p.contains("Weather Safety Proxy.CONNECTION.CONNECT")) {
                running_ = true;
                return;
            }
            QThread::msleep(100);
        }
    }
    ~IndiServer()
    {
        server_.terminate();
        if (!server_.waitForFinished(5000)) server_.kill();
        server_.waitForFinished(2000);
    }
    bool running() const { return running_; }

    QMap<QString, QString> props(const QString& pattern = "*.*.*")
    {
        QProcess p;
        p.start("indi_getprop", {"-p", QString::number(port_), "-t", "1", pattern});
        p.waitForFinished(10000);
        QMap<QString, QString> out;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
            const int eq = line.indexOf('=');
            if (eq > 0) out.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
        }
        return out;
    }
    bool set(const QString& assignment)
    {
        QProcess p;
        p.start("indi_setprop", {"-p", QString::number(port_), assignment});
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    // Polls until the property has the wanted value; returns the last seen.
    QString waitFor(const QString& property, const std::function<bool(const QString&)>& wanted, int ms = 15000)
    {
        QDeadlineTimer deadline(ms);
        QString last;
        while (true) {
            last = props(property.section('.', 0, 0) + ".*.*").value(property);
            if (wanted(last) || deadline.hasExpired()) return last;
            QThread::msleep(150);
        }
    }

private:
    QProcess server_;
    quint16 port_ = 0;
    bool running_ = false;
};

struct FeedRig {
    Rig rig;
    MonitorServices services{*rig.core};
    QString watcher;
    QString safety;
    FeedRig()
    {
        watcher = rig.dir.filePath("weather.txt");
        safety = rig.dir.filePath("safety.json");
        services.indiFeed() = {true, watcher, true, safety};
        rig.core->conditionsConfig().safety.safeDelaySeconds = 0;
        services.attach(rig.bus.connection(), {}, {});
    }
    void cycle() { rig.clock.advance(rig.core->config().readIntervalMs()); }
};

} // namespace

TEST(IndiFeedRecords, WatcherFileInTheDriversUnitsWithoutMadeUpValues)
{
    OutputValues v;
    v.temperatureLetter = "F";
    v.speedLetter = "M";
    v.outTemperature = 50;   // 10 C
    v.windSpeed = 10;        // 16.1 km/h
    v.gust = kMissing;       // not known this cycle
    v.humidity = 61;
    v.levels[LevelRain] = 3; // rain
    v.levels[LevelCloud] = 2;
    const QByteArray unsafe = watcherRecord(v, false);
    EXPECT_EQ(unsafe, "temperature=10.0\nwind=16.1\nhumidity=61.0\nprecip=1\nclouds=50\nforecast=1\n");
    EXPECT_FALSE(unsafe.contains("gust")) << "a missing value must not be sent as zero";

    // An unknown temperature unit can not be converted: left out.
    v.temperatureLetter = " ";
    v.speedLetter = "k";
    v.windSpeed = 10; // knots
    v.levels = {};
    EXPECT_EQ(watcherRecord(v, true), "wind=18.5\nhumidity=61.0\nforecast=0\n");
}

TEST(IndiFeedRecords, SafetyJsonAndAtomicWrite)
{
    const QJsonObject o = QJsonDocument::fromJson(safetyRecord(false, "a31 \"x\"")).object();
    EXPECT_EQ(o.value("roof_status").toObject().value("open_ok").toInt(-1), 0);
    EXPECT_EQ(o.value("roof_status").toObject().value("reasons").toString(), "a31 \"x\"");

    QTemporaryDir dir;
    const QString path = dir.filePath("safety.json");
    ASSERT_TRUE(writeFileAtomically(path, "one"));
    ASSERT_TRUE(writeFileAtomically(path, "two"));
    EXPECT_EQ(readAll(path), "two");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"safety.json"}) << "no temporary file left";
    EXPECT_TRUE(QFileInfo(path).permissions() & QFileDevice::ReadOther) << "drivers of another user read it";
    QString error;
    EXPECT_FALSE(writeFileAtomically(dir.filePath("no/such/folder/f.json"), "x", &error));
    EXPECT_FALSE(error.isEmpty());
    // Relative names go into the folder given, absolute ones stay.
    EXPECT_EQ(indiFeedPath("/data", "f.txt"), "/data/f.txt");
    EXPECT_EQ(indiFeedPath("/data", "/run/f.txt"), "/run/f.txt");
}

TEST(IndiFeed, FollowsTheFlagAndSaysClosedWhenMonitoringStops)
{
    FeedRig f;
    ASSERT_TRUE(f.rig.ready());
    // Before any start: nothing may be opened on our word.
    EXPECT_EQ(roofStatus(f.safety).value("open_ok").toInt(-1), 0);
    f.rig.sim->setLevels(1, 1, 1);
    f.rig.start();
    ASSERT_TRUE(f.rig.core->isRunning());
    EXPECT_EQ(roofStatus(f.safety).value("open_ok").toInt(-1), 1);
    EXPECT_TRUE(readAll(f.watcher).contains("temperature=5.2\n")) << readAll(f.watcher).toStdString();

    f.rig.sim->setLevels(3, 1, 1);
    f.cycle();
    EXPECT_EQ(roofStatus(f.safety).value("open_ok").toInt(-1), 0);
    EXPECT_TRUE(readAll(f.watcher).contains("forecast=1\n"));

    // Safe again, but the station file goes away: the data are not fresh.
    f.rig.sim->setLevels(1, 1, 1);
    f.cycle();
    EXPECT_EQ(roofStatus(f.safety).value("open_ok").toInt(-1), 1);
    QFile::remove(f.rig.dir.filePath("station.csv"));
    f.cycle();
    EXPECT_EQ(roofStatus(f.safety).value("open_ok").toInt(-1), 0);
    EXPECT_TRUE(roofStatus(f.safety).value("reasons").toString().contains("Weather station data missing"))
        << roofStatus(f.safety).value("reasons").toString().toStdString();
    f.rig.writeStationFile();
    f.cycle();
    EXPECT_EQ(roofStatus(f.safety).value("open_ok").toInt(-1), 1);

    // Stop: the last word is "closed", not the last cycle's "open ok".
    f.rig.core->stopProcedure();
    f.rig.settle();
    EXPECT_EQ(roofStatus(f.safety).value("open_ok").toInt(-1), 0);
    EXPECT_EQ(roofStatus(f.safety).value("reasons").toString(), "monitoring stopped");
}

TEST(IndiFeed, RealDriversReadOurFiles)
{
    if (QStandardPaths::findExecutable("indiserver").isEmpty()) GTEST_SKIP() << "indi-bin is not installed";
    FeedRig f;
    ASSERT_TRUE(f.rig.ready());
    f.rig.sim->setLevels(1, 1, 1);
    f.rig.start();
    ASSERT_TRUE(f.rig.core->isRunning());

    IndiServer indi;
    ASSERT_TRUE(indi.running()) << "indiserver did not come up";
    // The Watcher takes a path (it adds file:// itself); the Proxy a URL.
    ASSERT_TRUE(indi.set("Weather Watcher.WATCH_SOURCE.URL=" + f.watcher));
    ASSERT_TRUE(indi.set("Weather Watcher.CONNECTION.CONNECT=On"));
    ASSERT_TRUE(indi.set("Weather Safety Proxy.WEATHER_SAFETY_URLS.WEATHER_SAFETY_URL=file://" + f.safety));
    ASSERT_TRUE(indi.set("Weather Safety Proxy.SCRIPT_OR_CURL.Use script=Off;Use url=On"));
    ASSERT_TRUE(indi.set("Weather Safety Proxy.CONNECTION.CONNECT=On"));

    auto number = [](double want) { return [want](const QString& v) { return !v.isEmpty() && qAbs(v.toDouble() - want) < 0.01; }; };
    EXPECT_TRUE(number(5.2)(indi.waitFor("Weather Watcher.WEATHER_PARAMETERS.WEATHER_TEMPERATURE", number(5.2))));
    EXPECT_TRUE(number(5)(indi.waitFor("Weather Watcher.WEATHER_PARAMETERS.WEATHER_WIND_SPEED", number(5))));
    EXPECT_TRUE(number(8)(indi.waitFor("Weather Watcher.WEATHER_PARAMETERS.WEATHER_WIND_GUST", number(8))));
    EXPECT_TRUE(number(0)(indi.waitFor("Weather Watcher.WEATHER_PARAMETERS.WEATHER_RAIN_HOUR", number(0))));

    const QString safety = "Weather Safety Proxy.WEATHER_PARAMETERS.WEATHER_SAFETY";
    const QString status = "Weather Safety Proxy.WEATHER_STATUS.WEATHER_SAFETY";
    auto is = [](const QString& want) { return [want](const QString& v) { return v == want; }; };
    // SAFE -> UNSAFE -> SAFE; the Proxy reads on REFRESH, not only on its
    // minute-long period.
    struct Step {
        int cloud;
        const char* openOk;
        const char* status;
    };
    for (const Step& s : {Step{1, "1", "Ok"}, Step{3, "0", "Alert"}, Step{1, "1", "Ok"}}) {
        SCOPED_TRACE(s.cloud);
        f.rig.sim->setLevels(s.cloud, 1, 1);
        f.cycle();
        ASSERT_EQ(f.rig.core->reportedUnsafe(), s.cloud == 3);
        ASSERT_TRUE(indi.set("Weather Safety Proxy.WEATHER_REFRESH.REFRESH=On"));
        EXPECT_EQ(indi.waitFor(safety, is(s.openOk)), s.openOk);
        EXPECT_EQ(indi.waitFor(status, is(s.status)), s.status);
    }
    EXPECT_EQ(indi.props("Weather Safety Proxy.*.*").value("Weather Safety Proxy.WEATHER_SAFETY_REASONS.Reasons"),
              flagReasons(*f.rig.core));
}
