#pragma once
// The monitor (fake clock, private bus) with XOB_Nephor_indi in front of a
// real INDI server running indi_simulator_weather on a free port. The bridge
// and the INDI server run in real time; ages in its configuration are kept
// short, and waits poll with a deadline.

#include "Automation.h"
#include "IndiServer.h"
#include "MonitorRig.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <functional>
#include <memory>

namespace skyvane::testing {

inline QString bridgeProgram()
{
    QString dir = qEnvironmentVariable("SKYVANE_BIN_DIR");
    return (dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir) + QStringLiteral("/XOB_Nephor_indi");
}

// Polls cond, processing events, until it holds or timeoutMs has passed.
inline bool pollUntil(const std::function<bool()>& cond, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct BridgeRig {
    MonitorRig rig{{}, false};
    IndiServer indi;
    QProcess bridge;
    QString configPath;
    std::unique_ptr<automation::LateBoundObject> probe; // the bridge, as a second client sees it

    static constexpr const char* kDev = "Weather Simulator";

    // extraIni is appended to the example configuration (later keys win).
    explicit BridgeRig(const QString& extraIni = {}, double maxAgeSeconds = 3.0,
                       const QStringList& drivers = {QStringLiteral("indi_simulator_weather")})
        : indi(drivers)
    {
        configPath = rig.dir.filePath(QStringLiteral("XOB_Nephor_indi.ini"));
        QFile f(configPath);
        if (!f.open(QIODevice::WriteOnly)) return;
        f.write(QStringLiteral("[Server]\nHost=127.0.0.1\nPort=%1\nReconnectSeconds=0.3\nConnectTimeoutSeconds=1\n"
                               "[Data]\nMaxAgeSeconds=%2\n")
                    .arg(indi.port())
                    .arg(maxAgeSeconds)
                    .toUtf8());
        f.write(extraIni.toUtf8());
        f.close();
        writeReadings();
    }
    ~BridgeRig()
    {
        probe.reset();
        bridge.kill();
        bridge.waitForFinished(3000);
    }

    void writeReadings()
    {
        // The example's readings, without its [Server] and [Data].
        QSettings example(configPath, QSettings::IniFormat);
        const QString text = QStringLiteral(
            "SkyTemperature/Device=Weather Simulator\nSkyTemperature/Property=WEATHER_PARAMETERS\n"
            "SkyTemperature/Element=WEATHER_FORECAST\nSkyTemperature/Scale=50\nSkyTemperature/CloudCover=true\n"
            "RainValue/Device=Weather Simulator\nRainValue/Property=WEATHER_PARAMETERS\nRainValue/Element=WEATHER_RAIN_HOUR\n"
            "AmbientTemperature/Device=Weather Simulator\nAmbientTemperature/Property=WEATHER_PARAMETERS\n"
            "AmbientTemperature/Element=WEATHER_TEMPERATURE\nBrightnessValue/Fixed=0\n");
        for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const int eq = line.indexOf(QLatin1Char('='));
            if (!example.contains(line.left(eq))) example.setValue(line.left(eq), line.mid(eq + 1));
        }
        example.sync();
    }

    // Starts the bridge on the rig's bus and waits until it serves.
    bool startBridge(QString* why)
    {
        QProcessEnvironment env = rig.bus.environment();
        env.insert(QStringLiteral("SKYVANE_SETTINGS_DIR"), rig.dir.path());
        bridge.setProcessEnvironment(env);
        bridge.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        bridge.start(bridgeProgram(), {QStringLiteral("--config"), configPath});
        if (!bridge.waitForStarted(5000)) {
            *why = bridge.errorString();
            return false;
        }
        QDBusConnection c = rig.bus.connection(QStringLiteral("probe"));
        if (!pollUntil([&] { return c.interface()->isServiceRegistered(QStringLiteral("XOB_Nephor.Nephor")).value(); }, 8000)) {
            *why = QStringLiteral("the bridge did not take its bus name");
            return false;
        }
        QString err;
        probe = automation::LateBoundObject::create(c, QStringLiteral("XOB_Nephor.Nephor"), 1000, &err);
        if (!probe) *why = err;
        return bool(probe);
    }

    QVariant ask(const QString& member) { return probe ? probe->get(member).value : QVariant(); }
    bool bridgeGood() { return ask(QStringLiteral("DataReady")).toBool(); }

    // The simulator sends its values every second, as a weather device
    // would, instead of every minute. Once the bridge has connected it.
    bool fastUpdates()
    {
        const QString dev = QLatin1String(kDev);
        return indi.waitProp(dev + QStringLiteral(".CONNECTION.CONNECT"), QStringLiteral("On"), 8000)
            && indi.setProp(dev + QStringLiteral(".WEATHER_UPDATE.PERIOD=1"));
    }

    bool setControl(const QString& element, double v)
    {
        return indi.setProp(QStringLiteral("%1.WEATHER_CONTROL.%2=%3").arg(QLatin1String(kDev), element).arg(v));
    }

    // Everything up and the monitor started on good data.
    bool bringUp(QString* why)
    {
        if (!indi.isRunning()) return *why = indi.error(), false;
        if (!startBridge(why)) return false;
        if (!fastUpdates()) return *why = QStringLiteral("the bridge did not connect the device"), false;
        if (!pollUntil([&] { return bridgeGood(); }, 8000)) return *why = QStringLiteral("no good data from the bridge"), false;
        rig.start();
        if (!rig.core->isRunning()) return *why = rig.core->state().status.text, false;
        return true;
    }

    // One read cycle of the monitor (fake clock); its real duration in ms.
    qint64 cycle()
    {
        QElapsedTimer t;
        t.start();
        rig.clock.advance(10000);
        return t.elapsed();
    }
};

} // namespace skyvane::testing
