// Upload benchmark against a local FTP server (pyftpdlib on 127.0.0.1):
//  1. the uploader program as the monitor starts it, with six 100 kB images
//     and one 1 MB file: wall time of the whole run (it pauses a second after
//     each file and before it closes, as it always has), the uploader's peak
//     resident memory;
//  2. the transfer alone (the same files through the libcurl transfer, no
//     pauses): time and throughput;
//  3. the monitor's read cycle against the sensor stand-in, without an upload
//     and while the uploader runs (wall time per cycle, median over blocks).
//
//   ./build/bin/upload_bench [runs]   (default 3)
#include "BenchUtil.h"
#include "CurlTransfer.h"
#include "FtpServer.h"
#include "MonitorCore.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"
#include "Uploads.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <vector>

using namespace skyvane;

namespace {

long peakKbOf(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    const QString settings = home.filePath("settings");
    qputenv("SKYVANE_SETTINGS_DIR", settings.toLocal8Bit());

    skyvane::testing::FtpServer server;
    if (!server.start()) { std::fprintf(stderr, "no FTP server (python3-pyftpdlib)\n"); return 1; }

    QStringList files;
    qint64 bytes = 0;
    for (int i = 0; i < 7; ++i) {
        const int size = i < 6 ? 100 * 1024 : 1024 * 1024;
        QByteArray data(size, Qt::Uninitialized);
        for (int k = 0; k < size; ++k) data[k] = char(k * 31 + i + (k >> 11));
        files << home.filePath(i < 6 ? QStringLiteral("graph%1.png").arg(i) : QStringLiteral("archive.dat"));
        QFile f(files.last());
        f.open(QIODevice::WriteOnly);
        f.write(data);
        bytes += size;
    }

    // 1. The program, as the monitor starts it.
    SettingsStore store(settings);
    FakeClock clock;
    outputs::Uploads uploads(clock, store);
    uploads.config().server = server.url();
    uploads.config().username = skyvane::testing::FtpServer::user();
    uploads.config().password = skyvane::testing::FtpServer::password();
    uploads.config().tls = outputs::UploadTls::IfOffered;
    uploads.list().addFiles(files);
    std::vector<double> wall;
    long peak = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        uploads.startUploader();
        if (!uploads.uploaderRunning()) { std::fprintf(stderr, "uploader did not start\n"); return 1; }
        const qint64 pid = uploads.uploaderPid();
        while (uploads.uploaderRunning()) {
            peak = std::max(peak, peakKbOf(pid));
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(5);
        }
        wall.push_back(double(t.elapsed()));
    }
    for (const QString& f : files)
        if (!QFile::exists(server.root() + "/" + QFileInfo(f).fileName())) { std::fprintf(stderr, "missing on server: %s\n", qPrintable(f)); return 1; }
    std::printf("files: 6 x 100 kB + 1 x 1 MB = %lld bytes, %d runs\n", bytes, runs);
    std::printf("uploader run, wall      median %8.1f ms  (includes the program's 1 s pause after each of 7 files "
                "and before it closes)\n", median(wall));
    std::printf("uploader peak resident  %ld kB\n", peak);

    // 2. The transfer alone.
    std::vector<double> transfer;
    for (int r = 0; r < runs; ++r) {
        CurlTransfer tr;
        tr.configure({server.url(), skyvane::testing::FtpServer::user(), skyvane::testing::FtpServer::password(), 60});
        QElapsedTimer t;
        t.start();
        for (const QString& f : files) {
            int last = 0;
            tr.onStateChanged = [&](int s) { if (s == 11 || s == 12) last = s; };
            tr.put(f, QFileInfo(f).fileName());
            while (last == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            if (last != 12) { std::fprintf(stderr, "transfer failed: %s\n", qPrintable(tr.responseInfo())); return 1; }
        }
        transfer.push_back(double(t.elapsed()));
        bool closed = false;
        tr.onStateChanged = [&](int s) { closed = closed || s == 10; };
        tr.close();
        while (!closed) QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    const double tm = median(transfer);
    std::printf("transfer alone          median %8.1f ms  = %.1f MB/s\n", tm, double(bytes) / 1e6 / (tm / 1e3));

    // 3. The read cycle with and without an uploader at work.
    skyvane::testing::PrivateBus bus;
    if (!bus.isRunning()) { std::fprintf(stderr, "no bus\n"); return 1; }
    skyvane::testing::SensorStandIn sim(bus, {"--ready-delay", "0"});
    if (!sim.isRunning()) { std::fprintf(stderr, "no stand-in\n"); return 1; }
    SettingsStore mstore(home.filePath("monitor"));
    FakeClock mclock;
    MonitorCore core(mclock, mstore, bus.connection(), home.path());
    core.load();
    core.config().pathName = home.filePath("data");
    core.config().graphImagePath = home.filePath("images");
    const QString station = home.filePath("station.csv");
    core.config().htmFile = station;
    core.config().timeoutRead = 100000;
    bench::writeStation(station, mclock.now());
    core.uploads().config() = uploads.config();
    core.uploads().list().addFiles(files);
    core.startProcedure();
    {
        QEventLoop loop;
        QObject::connect(&core, &MonitorCore::startFinished, &loop, &QEventLoop::quit);
        if (core.isStarting()) loop.exec();
    }
    if (!core.isRunning()) { std::fprintf(stderr, "monitor did not start\n"); return 1; }
    // Wall time (what the cycle's period sees, including waits for the
    // sensor server and the CPU the uploader takes from us on a small
    // machine) and this process's CPU time (what the monitor itself spends).
    std::vector<double> cpu;
    auto cycle = [&] {
        QElapsedTimer t;
        t.start();
        const double c0 = bench::cpuMs();
        QEventLoop loop;
        QObject::connect(&core, &MonitorCore::cycleFinished, &loop, &QEventLoop::quit);
        core.readCycle();
        if (core.awaitingSensor()) loop.exec();
        cpu.push_back(bench::cpuMs() - c0);
        return double(t.nsecsElapsed()) / 1e6;
    };
    std::vector<double> idle, busy, idleCpu, busyCpu, pairs, cpuPairs;
    for (int r = 0; r < runs; ++r) {
        std::vector<double> a, b;
        cpu.clear();
        for (int i = 0; i < 200; ++i) {
            a.push_back(cycle());
            QThread::msleep(10);
        }
        std::vector<double> ac = cpu;
        cpu.clear();
        core.uploads().startUploader();
        while (core.uploads().uploaderRunning()) {
            b.push_back(cycle());
            QThread::msleep(10);
        }
        std::vector<double> bc = cpu;
        pairs.push_back(median(b) / median(a));
        cpuPairs.push_back(median(bc) / median(ac));
        idle.insert(idle.end(), a.begin(), a.end());
        busy.insert(busy.end(), b.begin(), b.end());
        idleCpu.insert(idleCpu.end(), ac.begin(), ac.end());
        busyCpu.insert(busyCpu.end(), bc.begin(), bc.end());
    }
    core.stopProcedure();
    bench::printTimings("cycle wall, no upload", idle);
    bench::printTimings("cycle wall, uploading", busy);
    bench::printTimings("cycle CPU, no upload", idleCpu);
    bench::printTimings("cycle CPU, uploading", busyCpu);
    std::printf("read cycle while uploading / without: wall %.3f, CPU %.3f (overall medians; per-run medians of the "
                "ratios %.3f, %.3f over %d runs; target 1.10)\n",
                median(busy) / median(idle), median(busyCpu) / median(idleCpu), median(pairs), median(cpuPairs),
                int(pairs.size()));
    return 0;
}
