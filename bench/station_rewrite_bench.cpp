// Station-file benchmark: a station program that rewrites its page in place
// every 100 ms (truncate, then three pieces with pauses between them) while
// the reader runs its cycles, as the monitor does, looking at the file again
// when it catches a rewrite. Prints the share of cycles whose data are the
// file's current truth, the time the decision waits for the file beyond one
// plain read (median, p99, max), and the reader's CPU time per cycle with
// this writer and with a careful one (written aside and renamed).
//
//   ./build/bin/station_rewrite_bench [cycles] [--csv]
#include "BenchUtil.h"
#include "Clock.h"
#include "StationReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace skyvane;

namespace {

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Version k of the station's data: the barometer carries k, so that a read
// tells which version it saw.
QByteArray version(int k, bool csv)
{
    const QDateTime now = QDateTime::currentDateTime();
    const std::pair<const char*, QString> rows[] = {
        {"Date", now.toString("dd/MM/yy")}, {"Time", now.toString("hh:mm:ss")}, {"OutTemp", "5.2"},
        {"WindSpeed", QString::number(k % 40)}, {"Gust", "8"}, {"WindDirection", "NNE"}, {"RainDayMin", "0"},
        {"RainDayMax", "0"}, {"OutHumidity", "60"}, {"DewPoint", "-2.0"}, {"Barometer", QString::number(1000 + k)},
    };
    QByteArray out = csv ? QByteArray() : QByteArray("<html><head><title>Station</title></head><body>\r\n<table>\r\n");
    for (const auto& [name, value] : rows) {
        if (csv) out += QByteArray(name) + ",," + value.toUtf8() + "\r\n";
        else out += "<tr><td>" + QByteArray(name) + "</td><td></td><td>" + value.toUtf8() + "</td></tr>\r\n";
    }
    if (!csv) out += "</table>\r\n</body></html>\r\n";
    return out;
}

struct Writer {
    QString path;
    bool csv = false;
    bool inPlace = true;
    std::atomic<bool> stop{false};
    std::atomic<int> started{0};  // the version being written, or the last one
    std::atomic<int> complete{0}; // the last version written whole

    void run()
    {
        const QByteArray p = QFile::encodeName(path);
        const QByteArray aside = p + ".tmp";
        auto next = std::chrono::steady_clock::now();
        for (int k = 1; !stop.load(); ++k) {
            const QByteArray bytes = version(k, csv);
            started = k;
            if (inPlace) {
                const int fd = ::open(p.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd >= 0) {
                    const qsizetype third = bytes.size() / 3;
                    for (int i = 0; i < 3; ++i) {
                        const qsizetype from = i * third, to = i == 2 ? bytes.size() : (i + 1) * third;
                        (void)!::write(fd, bytes.constData() + from, size_t(to - from));
                        if (i < 2) std::this_thread::sleep_for(std::chrono::milliseconds(8));
                    }
                    ::close(fd);
                }
            } else {
                const int fd = ::open(aside.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd >= 0) {
                    (void)!::write(fd, bytes.constData(), size_t(bytes.size()));
                    ::close(fd);
                    ::rename(aside.constData(), p.constData());
                }
            }
            complete = k;
            next += std::chrono::milliseconds(100);
            std::this_thread::sleep_until(next);
        }
    }
};

struct Figures {
    int cycles = 0, current = 0, forgiven = 0, lookedAgain = 0;
    std::vector<double> added, cpu;
};

Figures run(int cycles, bool csv, bool inPlace, const QString& dir)
{
    Writer w;
    w.path = dir + (csv ? "/station.csv" : "/station.htm");
    w.csv = csv;
    w.inPlace = inPlace;
    std::thread t([&] { w.run(); });
    while (w.complete.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));

    SystemClock clock;
    station::StationReader reader(clock);
    station::StationSettings s;
    s.filePath = w.path;
    s.timeoutReadMinutes = 1000;
    s.separators.decimal = ".";
    reader.startReading();
    Figures f;
    QRandomGenerator rng(7);
    for (int c = 0; c < cycles; ++c) {
        // cycles meet the writer at every point of its beat
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + rng.bounded(250)));
        QElapsedTimer cycleTime;
        cycleTime.start();
        double cpu = 0, firstLook = 0;
        int before = 0, after = 0;
        station::StationCycleResult r;
        for (int look = 0;; ++look) {
            before = w.complete.load();
            const double c0 = threadCpuMs();
            QElapsedTimer lookTime;
            lookTime.start();
            r = reader.readCycle(s);
            if (look == 0) firstLook = lookTime.nsecsElapsed() / 1e6;
            cpu += threadCpuMs() - c0;
            after = w.started.load();
            if (r.retryInMs == 0) break;
            // the monitor waits on a timer with its event loop free
            std::this_thread::sleep_for(std::chrono::milliseconds(r.retryInMs));
        }
        ++f.cycles;
        if (r.tries > 1) ++f.lookedAgain;
        if (r.outcome == station::StationOutcome::BeingWritten) ++f.forgiven;
        // Current: the data are those of the last version written whole when
        // the cycle's read began, or of one written while it read.
        const int seen = r.valid && r.values.barometer.ok ? int(std::lround(r.values.barometer.value)) - 1000 : -1;
        if (r.outcome == station::StationOutcome::Fresh && seen >= before && seen <= after) ++f.current;
        f.added.push_back(cycleTime.nsecsElapsed() / 1e6 - firstLook);
        f.cpu.push_back(cpu);
    }
    w.stop = true;
    t.join();
    return f;
}

void print(const char* what, Figures f)
{
    std::sort(f.added.begin(), f.added.end());
    std::printf("%s\n", what);
    std::printf("  cycles %d: current truth %d (%.2f %%), looked at again %d, forgiven %d\n", f.cycles, f.current,
                100.0 * f.current / f.cycles, f.lookedAgain, f.forgiven);
    std::printf("  added decision latency  median %7.3f ms   p99 %7.3f ms   max %7.3f ms\n", bench::quantile(f.added, 0.5),
                bench::quantile(f.added, 0.99), f.added.back());
    bench::printTimings("  reader CPU per cycle", f.cpu);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int cycles = 500;
    bool csv = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--csv") == 0) csv = true;
        else cycles = std::max(10, std::atoi(argv[i]));
    }
    QTemporaryDir dir;
    std::printf("station %s rewritten every 100 ms, %d cycles each\n", csv ? "CSV file" : "page", cycles);
    print("in place: truncated, then written in 3 pieces 8 ms apart", run(cycles, csv, true, dir.path()));
    print("careful: written aside and renamed", run(cycles, csv, false, dir.path()));
    return 0;
}
