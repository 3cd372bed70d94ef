// INDI bridge benchmark: the monitor (private bus) reading XOB_Nephor_indi,
// which reads indiserver with Debian's indi_simulator_weather (update period
// 1 s) on a free port.
//  1. Latency from a rain value set on the simulator (indi_setprop) to the
//     monitor's decision reflecting it (unsafe on rain, safe when it clears;
//     safe delay 0), over N changes at random phases of the read cycle.
//  2. The bridge's resident memory and CPU over M minutes of monitoring with
//     a change every 10 s.
// The monitor's read cycle runs on its fake clock, advanced by one read
// period every read interval of real time, so a cycle comes every interval.
//
//   ./build/bin/indi_bench [--changes 50] [--interval-ms 5000] [--minutes 1]
#include "BenchUtil.h"
#include "BridgeRig.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>
#include <cstdio>
#include <vector>

using namespace skyvane;
using skyvane::testing::BridgeRig;
using skyvane::testing::pollUntil;

namespace {

struct ProcStat {
    long rssKb = -1;
    double cpuMs = 0;
};

ProcStat statOf(qint64 pid)
{
    ProcStat s;
    QFile st(QStringLiteral("/proc/%1/status").arg(pid));
    if (st.open(QIODevice::ReadOnly))
        for (const QByteArray& line : st.readAll().split('\n'))
            if (line.startsWith("VmRSS:")) s.rssKb = line.mid(6).trimmed().split(' ').first().toLong();
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray all = f.readAll();
        const QList<QByteArray> w = all.mid(all.lastIndexOf(')') + 2).split(' ');
        if (w.size() > 13) s.cpuMs = (w[11].toDouble() + w[12].toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    }
    return s;
}

void wait(int ms) { pollUntil([] { return false; }, ms); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.addHelpOption();
    const QCommandLineOption changesOpt("changes", "Value changes for the latency (default 50).", "N", "50");
    const QCommandLineOption intervalOpt("interval-ms", "Real time between read cycles (default 5000).", "MS", "5000");
    const QCommandLineOption minutesOpt("minutes", "Minutes of the memory and CPU run (default 1).", "M", "1");
    p.addOptions({changesOpt, intervalOpt, minutesOpt});
    p.process(app);
    const int changes = std::max(2, p.value(changesOpt).toInt());
    const int interval = std::max(200, p.value(intervalOpt).toInt());
    const double minutes = std::max(0.0, p.value(minutesOpt).toDouble());

    QTemporaryDir home;
    qputenv("SKYVANE_SETTINGS_DIR", home.filePath("settings").toLocal8Bit());
    qputenv("HOME", home.path().toLocal8Bit());
    if (!skyvane::testing::IndiServer::available()) {
        std::fprintf(stderr, "indi_bench: indiserver is not installed\n");
        return 1;
    }
    BridgeRig b({}, 10.0);
    b.rig.core->config().refreshRead = 0; // 5 s
    b.rig.core->conditionsConfig().safety.safeDelaySeconds = 0;
    QString why;
    if (!b.bringUp(&why)) {
        std::fprintf(stderr, "indi_bench: %s\n", qPrintable(why));
        return 1;
    }
    const qint64 period = b.rig.core->readTimerInterval();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { b.rig.clock.advance(period); });
    ticker.start(interval);
    std::printf("indi_bench: read period %lld ms (fake clock), a cycle every %d ms of real time, "
                "simulator update period 1 s\n", period, interval);

    // 1. Latency.
    std::vector<double> latencies;
    int missed = 0;
    for (int i = 0; i < changes; ++i) {
        const bool rain = i % 2 == 0;
        wait(int(QRandomGenerator::global()->bounded(interval)));
        QElapsedTimer t;
        t.start();
        b.setControl("Precip", rain ? 5 : 0);
        if (pollUntil([&] { return b.rig.core->unsafe() == rain; }, 4 * interval + 3000)) latencies.push_back(double(t.elapsed()));
        else ++missed;
    }
    if (latencies.empty()) {
        std::fprintf(stderr, "indi_bench: no change reached the decision\n");
        return 1;
    }
    bench::printTimings("change -> decision", latencies);
    std::sort(latencies.begin(), latencies.end());
    const double median = bench::quantile(latencies, 0.5);
    std::printf("changes %d, missed %d; target median <= interval + 100 ms = %d ms: %s\n", changes, missed, interval + 100,
                median <= interval + 100 ? "met" : "NOT met");

    // 2. The bridge's memory and CPU.
    const qint64 pid = b.bridge.processId();
    const ProcStat s0 = statOf(pid);
    long maxRss = s0.rssKb;
    QElapsedTimer run;
    run.start();
    int n = 0;
    while (run.elapsed() < qint64(minutes * 60000)) {
        b.setControl("Precip", (n++ % 2) ? 0 : 5);
        wait(10000);
        maxRss = std::max(maxRss, statOf(pid).rssKb);
    }
    const ProcStat s1 = statOf(pid);
    const double secs = run.elapsed() / 1000.0;
    std::printf("bridge over %.1f min: RSS start %ld kB, end %ld kB, max %ld kB; CPU %.0f ms (%.3f %% of one core)\n",
                secs / 60.0, s0.rssKb, s1.rssKb, maxRss, s1.cpuMs - s0.cpuMs,
                secs > 0 ? (s1.cpuMs - s0.cpuMs) / (secs * 10.0) : 0.0);
    return 0;
}
