#pragma once
// A monitor core for integration tests: a private bus with the sensor
// stand-in, a settings folder and a station file of its own, a fake clock
// that drives the read cycle, and messages answered OK and recorded.

#include "MonitorCore.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace skyvane::testing {

struct MonitorRig {
    PrivateBus bus;
    std::unique_ptr<SensorStandIn> sim;
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    FakeClock clock;
    // The system clock instead, for tests against programs that run in real
    // time (a station program rewriting its file while the monitor reads it).
    SystemClock realClock;
    bool realTime = false;
    std::unique_ptr<MonitorCore> core;
    QStringList messages;

    explicit MonitorRig(const QStringList& simArgs = {"--ready-delay", "0"}, bool startSim = true,
                        conditions::SoundPlayer* player = nullptr, bool inRealTime = false)
        : realTime(inRealTime)
    {
        if (startSim) sim = std::make_unique<SensorStandIn>(bus, simArgs);
        core = std::make_unique<MonitorCore>(realTime ? static_cast<Clock&>(realClock) : clock, store, bus.connection(),
                                             dir.path(), player);
        clock.setAfterFire([this] { settle(); });
        core->load();
        writeStationFile();
        core->config().htmFile = dir.filePath("station.csv");
        core->config().timeoutRead = 1000; // minutes: the file stays fresh however long a test runs
        core->config().pathName = dir.filePath("data");
        core->config().graphImagePath = dir.filePath("images");
        core->sensor().setCallTimeout(400);
        core->setPrompter([this](const QString& text, int, const QString&) {
            messages << text;
            return int(AnswerOk);
        });
    }
    bool ready() const { return bus.isRunning() && (!sim || sim->isRunning()); }

    // Starts monitoring as the Start button does and lets the start finish.
    // The data wait's passes are a second apart on the fake clock: they are
    // run through here, so that a start ends as it would in real time.
    void start()
    {
        core->startProcedure();
        settle();
        if (realTime) {
            QDeadlineTimer deadline(20000);
            while (core->isStarting() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return;
        }
        for (int pass = 0; core->isStarting() && pass < 3600; ++pass) clock.advance(1000);
    }
    // Lets the monitor finish what it has under way (a start, a read cycle,
    // answers of the sensor server) before a test looks at it.
    bool settle(int ms = 10000)
    {
        QDeadlineTimer deadline(ms);
        QCoreApplication::processEvents();
        while (core->awaitingSensor()) {
            if (deadline.hasExpired()) return false;
            // A station file caught being rewritten is looked at again a
            // moment later, on the clock.
            if (const qint64 wait = core->stationRetryInMs(); wait > 0 && !realTime) {
                clock.advance(wait);
                continue;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    // A calm, mild night unless told otherwise: nothing in it is unsafe.
    void writeStationFile(double wind = 5, double gust = 8, double humidity = 60)
    {
        QFile f(dir.filePath("station.csv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QStringLiteral("Date,,%1\nTime,,%2\nOutTemp,\u00b0C,5.2\nWindSpeed,km/h,%3\nGust,km/h,%4\n"
                               "WindDirection,,NNE\nRainDayMin,mm,0\nRainDayMax,mm,0\nOutHumidity,%,%5\n"
                               "DewPoint,\u00b0C,-2.0\nBarometer,hPa,1013\n")
                    .arg(clock.now().toString("dd/MM/yy"), clock.now().toString("hh:mm:ss"))
                    .arg(wind)
                    .arg(gust)
                    .arg(humidity)
                    .toUtf8());
    }
};

} // namespace skyvane::testing
