// Record-files benchmark: the read cycle against the sensor stand-in with
// the two record files off, then on (the CCDAutopilot record every cycle, a
// user data line every cycle, each synced to disk). Prints the CPU time per
// cycle of both (median, p90, max), the CPU they add (median over pairs of
// interleaved blocks), the record step alone, and the resident memory of the
// recording run at cycle 100 and at its end. Most of what the files add is
// the sync of each user data line (fdatasync), the price of losing at most
// one line in a power cut.
//
//   ./build/bin/records_bench [cycles-with-files]   (default 10000), after 2000+2000 interleaved
#include "BenchUtil.h"
#include "CcdAutopilotFile.h"
#include "MonitorCore.h"
#include "UserDataFile.h"
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

using bench::cpuMs;
using bench::rssKb;

namespace {
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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

    // Files off and on in alternating blocks of 20 cycles, so that a busy
    // machine slows both alike; the figure is the median over the block
    // pairs of (median on - median off). Then the long recording run for
    // memory.
    auto filesOn = [&](bool on) {
        core.outputsConfig().fileNameCcdap4 = on ? QStringLiteral("XOB_CCDAP4_II.dat") : QString();
        if (on) core.recordStart(true);
        else core.recordStop();
    };
    std::vector<double> plain, withFiles, pairDiffs;
    for (int block = 0; block < plainCycles / 20; ++block) {
        std::vector<double> off, on;
        filesOn(false);
        run(20, off, false);
        filesOn(true);
        if (!core.recording()) { std::fprintf(stderr, "could not record\n"); return 1; }
        run(20, on, false);
        pairDiffs.push_back(median(on) - median(off));
        plain.insert(plain.end(), off.begin(), off.end());
        withFiles.insert(withFiles.end(), on.begin(), on.end());
    }
    std::vector<double> longRun;
    run(cycles, longRun, true);
    const long rssEnd = rssKb();
    filesOn(false);

    // The record step alone, as the cycle runs it (values, the record and
    // its write, one synced line): less exposed to what the machine does
    // meanwhile than the whole cycle.
    std::vector<double> step;
    {
        outputs::UserDataFile file;
        file.open(home.filePath("step.csv"), false, core.outputsConfig().columns);
        const QString ccd = outputs::ccdFullName(home.path(), QStringLiteral("step.dat"));
        for (int i = 0; i < 2000; ++i) {
            const double c0 = cpuMs();
            const outputs::OutputValues v = core.outputValues();
            outputs::writeCcdRecord(ccd, outputs::ccdRecord(v));
            file.cycle(core.outputsConfig().columns, 1, v);
            step.push_back(cpuMs() - c0);
        }
    }

    std::printf("read cycles: %d without the record files and %d with both, interleaved; then %d with both "
                "(sensor error: %s)\n", int(plain.size()), int(withFiles.size()), cycles, core.sensorError() ? "yes" : "no");
    bench::printTimings("CPU, files off", plain);
    bench::printTimings("CPU, files on", withFiles);
    bench::printTimings("CPU, long run", longRun);
    const double diff = median(pairDiffs);
    std::printf("CPU added by the files  %+.3f ms per cycle, median over %d block pairs (limit +0.300 ms): %s\n", diff,
                int(pairDiffs.size()), diff <= 0.3 ? "ok" : "OVER");
    std::printf("                        (difference of the overall medians %+.3f ms)\n", median(withFiles) - median(plain));
    bench::printTimings("CPU, record step alone", step);
    QFile csv(home.filePath("data/Skyvane.csv"));
    std::printf("user data file          %lld bytes, CCDAutopilot file %lld bytes\n", qint64(csv.size()),
                qint64(QFileInfo(home.filePath("XOB_CCDAP4_II.dat")).size()));
    std::printf("resident memory         cycle 100: %ld kB   cycle %d: %ld kB   growth %ld kB\n", rss100, cycles, rssEnd,
                rssEnd - rss100);
    core.stopProcedure();
    return 0;
}
