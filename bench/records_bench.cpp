// Record-files benchmark: the read cycle against the sensor stand-in with
// the two record files off, then on (the CCDAutopilot record every cycle, a
// user data line every cycle, each synced to disk). Prints the CPU time per
// cycle of both (median, p90, max), the difference of the medians, and the
// resident memory of the recording run at cycle 100 and at its end.
//
//   ./build/bin/records_bench [cycles-with-files]   (default 10000), after 2000+2000 interleaved
#include "MonitorCore.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace skyvane;

namespace {
double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

long rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void report(const char* what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min(v.size() - 1, size_t(q * double(v.size())))]; };
    std::printf("%-22s median %7.3f ms   p90 %7.3f ms   max %7.3f ms\n", what, at(0.5), at(0.9), v.back());
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(200, atoi(argv[1])) : 10000;
    const int plainCycles = std::min(cycles, 2000);
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
    core.outputsConfig().pathNameCcdap4 = home.path();
    core.outputsConfig().freqSave = 1;
    const QString stationFile = home.filePath("station.csv");
    core.config().htmFile = stationFile;
    core.config().timeoutRead = 100000;
    int version = 0;
    auto writeStation = [&] {
        QFile f(stationFile);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
        const QDateTime now = clock.now();
        f.write(QStringLiteral("Date,,%1\nTime,,%2\nOutTemp,\u00b0C,%3\nWindSpeed,km/h,%4\nGust,km/h,7\n"
                               "WindDirection,,NNE\nRainDayMin,mm,0\nRainDayMax,mm,0\nOutHumidity,%,71\n"
                               "DewPoint,\u00b0C,-1.5\nBarometer,hPa,1012\n")
                    .arg(now.toString("dd/MM/yy"), now.toString("hh:mm:ss"))
                    .arg(5 + (version % 7) * 0.1)
                    .arg(4 + version % 3)
                    .toUtf8());
        ++version;
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

    long rss100 = 0;
    auto run = [&](int n, std::vector<double>& cpu, bool watchMemory) {
        for (int i = 1; i <= n; ++i) {
            writeStation();
            const double c0 = cpuMs();
            QEventLoop loop;
            QObject::connect(&core, &MonitorCore::cycleFinished, &loop, &QEventLoop::quit);
            core.readCycle();
            if (core.awaitingSensor()) loop.exec();
            cpu.push_back(cpuMs() - c0);
            QCoreApplication::processEvents();
            if (watchMemory && i == 100) rss100 = rssKb();
        }
    };

    // Files off and on in alternating blocks of 50 cycles, so that a busy
    // machine slows both alike; then the long recording run for memory.
    auto filesOn = [&](bool on) {
        core.outputsConfig().fileNameCcdap4 = on ? QStringLiteral("XOB_CCDAP4_II.dat") : QString();
        if (on) core.recordStart(true);
        else core.recordStop();
    };
    std::vector<double> plain, withFiles;
    for (int block = 0; block < plainCycles / 50; ++block) {
        filesOn(false);
        run(50, plain, false);
        filesOn(true);
        if (!core.recording()) { std::fprintf(stderr, "could not record\n"); return 1; }
        run(50, withFiles, false);
    }
    std::vector<double> longRun;
    run(cycles, longRun, true);
    const long rssEnd = rssKb();
    filesOn(false);

    std::printf("read cycles: %d without the record files and %d with both, interleaved; then %d with both "
                "(sensor error: %s)\n", int(plain.size()), int(withFiles.size()), cycles, core.sensorError() ? "yes" : "no");
    report("CPU, files off", plain);
    report("CPU, files on", withFiles);
    report("CPU, long run", longRun);
    const double diff = median(withFiles) - median(plain);
    std::printf("median CPU difference   %+.3f ms per cycle (limit +0.300 ms): %s\n", diff, diff <= 0.3 ? "ok" : "OVER");
    QFile csv(home.filePath("data/Skyvane.csv"));
    std::printf("user data file          %lld bytes, CCDAutopilot file %lld bytes\n", qint64(csv.size()),
                qint64(QFileInfo(home.filePath("XOB_CCDAP4_II.dat")).size()));
    std::printf("resident memory         cycle 100: %ld kB   cycle %d: %ld kB   growth %ld kB\n", rss100, cycles, rssEnd,
                rssEnd - rss100);
    core.stopProcedure();
    return 0;
}
