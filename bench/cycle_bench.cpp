// Read-cycle benchmark: the monitor's read cycle against the sensor stand-in
// on a private bus. Prints wall and CPU time per cycle (median, 90th
// percentile, max) and the resident memory at cycles 100 and 1000.
//
//   ./build/bin/cycle_bench [cycles]
#include "BenchUtil.h"
#include "MonitorCore.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace skyvane;

using bench::cpuMs;
using bench::rssKb;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(100, atoi(argv[1])) : 1000;
    QTemporaryDir home;
    qputenv("SKYVANE_SETTINGS_DIR", home.filePath("settings").toLocal8Bit());

    testing::PrivateBus bus;
    if (!bus.isRunning()) { std::fprintf(stderr, "no bus: %s\n", qPrintable(bus.error())); return 1; }
    testing::SensorStandIn sim(bus, {"--ready-delay", "0"});
    if (!sim.isRunning()) { std::fprintf(stderr, "no stand-in: %s\n", qPrintable(sim.error())); return 1; }

    SettingsStore store(home.filePath("settings"));
    FakeClock clock;
    MonitorCore core(clock, store, bus.connection(), home.path());
    core.load();
    core.config().pathName = home.filePath("data");
    core.config().graphImagePath = home.filePath("images");
    // A station file rewritten before every cycle, as station software does,
    // so that every cycle really reads and parses it.
    const QString stationFile = home.filePath("station.htm");
    core.config().htmFile = stationFile;
    core.config().timeoutRead = 100000;
    int version = 0;
    auto writeStation = [&] {
        QFile f(stationFile);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
        const QDateTime now = clock.now();
        QByteArray page = "<html><body><table>\n";
        auto row = [&](const char* n, const char* u, const QString& v) {
            page += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>\n").arg(QLatin1String(n), QString::fromUtf8(u), v).toUtf8();
        };
        row("Date", "", now.toString("dd/MM/yy"));
        row("Time", "", now.toString("hh:mm:ss"));
        row("OutTemp", "°C", QString::number(5 + (version % 7) * 0.1));
        row("WindSpeed", "km/h", QString::number(4 + version % 3));
        row("Gust", "km/h", QString::number(7 + version % 3));
        row("WindDirection", "", "NNE");
        row("RainDayMin", "mm", "0");
        row("RainDayMax", "mm", "0.2");
        row("OutHumidity", "%", "71");
        row("DewPoint", "°C", "-1.5");
        row("Barometer", "hPa", "1012.4");
        page += "</table></body></html>\n";
        f.write(page);
        ++version;
        // a new modification time for every version
        f.setFileTime(QDateTime::currentDateTime().addSecs(version), QFileDevice::FileModificationTime);
    };
    writeStation();
    core.startProcedure();
    {
        QEventLoop loop;
        QObject::connect(&core, &MonitorCore::startFinished, &loop, &QEventLoop::quit);
        if (core.isStarting()) loop.exec();
    }
    if (!core.isRunning()) { std::fprintf(stderr, "monitor did not start: %s\n", qPrintable(core.state().status.text)); return 1; }

    std::vector<double> wall, cpu;
    long rss100 = 0;
    for (int i = 1; i <= cycles; ++i) {
        writeStation();
        QElapsedTimer t;
        const double c0 = cpuMs();
        t.start();
        // The cycle ends when the sensor server's answers are in; wait for it
        // in the event loop (sleeping, not spinning, so that the CPU figure
        // is the cycle's own).
        QEventLoop loop;
        QObject::connect(&core, &MonitorCore::cycleFinished, &loop, &QEventLoop::quit);
        core.readCycle();
        if (core.awaitingSensor()) loop.exec();
        wall.push_back(t.nsecsElapsed() / 1e6);
        cpu.push_back(cpuMs() - c0);
        QCoreApplication::processEvents();
        if (i == 100) rss100 = rssKb();
    }
    const long rssEnd = rssKb();
    std::printf("read cycles against the sensor stand-in: %d (sensor error: %s, station: %s)\n", cycles,
                core.sensorError() ? "yes" : "no", qPrintable(core.state().status.text));
    bench::printTimings("wall time per cycle", wall);
    bench::printTimings("CPU time per cycle", cpu);
    std::printf("resident memory         cycle 100: %ld kB   cycle %d: %ld kB   growth %ld kB\n", rss100, cycles, rssEnd, rssEnd - rss100);
    core.stopProcedure();
    return 0;
}
