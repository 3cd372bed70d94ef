// Automation benchmark: the monitor's class on a private bus, against the
// sensor stand-in, with monitoring running on a real 5 s read cycle.
//  1. Round trip of a property get from an external client (its own bus
//     connection, through the bus daemon): median, p90, p99, max.
//  2. Read-cycle time with no client, with 100 clients attached, and with
//     100 clients attached that each poll a member ten times a second. The
//     100 clients are another process (this program run with --load), as
//     client programs are.
//
//  3. The sensor server stopped (SIGSTOP) for a while: a client's Safe get
//     latency meanwhile, read cycles running back to back, and whether the
//     flag is unsafe at the end of the first cycle after the stop.
//
//   ./build/bin/nephor_bench [seconds of latency probing, default 12]
//                            [seconds of the stopped server, default 30]
#include "BenchUtil.h"
#include "MonitorCore.h"
#include "NephorServer.h"
#include "NephorTestRig.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QProcess>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

struct Stats {
    double median, p90, p99, max;
    size_t n;
};

Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min(v.size() - 1, size_t(q * double(v.size())))]; };
    return {at(0.5), at(0.9), at(0.99), v.back(), v.size()};
}

void print(const char* what, const Stats& s)
{
    std::printf("%-44s n=%5zu  median %8.3f ms  p90 %8.3f ms  p99 %8.3f ms  max %8.3f ms\n", what, s.n, s.median, s.p90,
                s.p99, s.max);
}

// Read-cycle wall time, run directly between event-loop passes.
std::vector<double> cycleTimes(MonitorCore& core, int cycles)
{
    std::vector<double> t;
    QElapsedTimer e;
    for (int i = 0; i < cycles; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        e.start();
        QEventLoop loop;
        QObject::connect(&core, &MonitorCore::cycleFinished, &loop, &QEventLoop::quit);
        core.readCycle();
        if (core.awaitingSensor()) loop.exec();
        t.push_back(double(e.nsecsElapsed()) / 1e6);
    }
    return t;
}

// The client load: n connections, each with an instance; with poll, each
// calls Condition_Cloud ten times a second. Runs until killed.
int clientLoad(const QString& address, int n, bool poll)
{
    struct Client {
        QDBusConnection bus;
        QString path;
    };
    std::vector<Client> clients;
    for (int i = 0; i < n; ++i) {
        QDBusConnection c = QDBusConnection::connectToBus(address, QStringLiteral("load%1").arg(i));
        const QDBusMessage r = c.call(QDBusMessage::createMethodCall(nephor::kProgId, "/", automation::kFactoryInterface,
                                                                     "CreateInstance"),
                                      QDBus::Block, 5000);
        if (r.type() != QDBusMessage::ReplyMessage) {
            std::fprintf(stderr, "load client %d: %s\n", i, qPrintable(r.errorMessage()));
            return 1;
        }
        clients.push_back({c, r.arguments().value(0).value<QDBusObjectPath>().path()});
    }
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (Client& c : clients)
            c.bus.asyncCall(QDBusMessage::createMethodCall(nephor::kProgId, c.path, nephor::kProgId, "Condition_Cloud"), 2000);
    });
    if (poll) timer.start(100);
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// Starts the client load as another process and waits until the monitor
// counts its clients.
bool startLoad(QProcess& p, const QString& address, int n, bool poll, MonitorCore& core)
{
    const int before = core.state().clients;
    QStringList args{"--load", QString::number(n), address};
    if (poll) args << "--poll";
    p.start(QCoreApplication::applicationFilePath(), args);
    if (!p.waitForStarted(5000)) return false;
    return spinUntil([&] { return core.state().clients == before + n; }, 20000);
}

void stopLoad(QProcess& p, MonitorCore& core, int expected)
{
    p.kill();
    p.waitForFinished(5000);
    spinUntil([&] { return core.state().clients == expected; }, 10000);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 4 && QByteArray(argv[1]) == "--load")
        return clientLoad(QString::fromLocal8Bit(argv[3]), atoi(argv[2]), argc > 4 && QByteArray(argv[4]) == "--poll");
    const int probeSeconds = argc > 1 ? std::max(6, atoi(argv[1])) : 12;
    const int hangSeconds = argc > 2 ? std::max(3, atoi(argv[2])) : 30;
    QTemporaryDir home;
    qputenv("SKYVANE_SETTINGS_DIR", home.filePath("settings").toLocal8Bit());

    PrivateBus bus;
    if (!bus.isRunning()) { std::fprintf(stderr, "no bus: %s\n", qPrintable(bus.error())); return 1; }
    SensorStandIn sim(bus, {"--ready-delay", "0"});
    if (!sim.isRunning()) { std::fprintf(stderr, "no stand-in: %s\n", qPrintable(sim.error())); return 1; }

    SettingsStore store(home.filePath("settings"));
    SystemClock clock;
    MonitorCore core(clock, store, bus.connection(), home.path());
    core.load();
    core.config().pathName = home.filePath("data");
    core.config().graphImagePath = home.filePath("images");
    core.config().htmFile = home.filePath("station.csv");
    core.config().timeoutRead = 100000;
    core.config().refreshRead = 0; // "5  secs"
    bench::writeStation(core.config().htmFile, clock.now());
    core.setPrompter([](const QString& text, int, const QString&) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return int(AnswerOk);
    });
    nephor::NephorServer server(core, bus.connection());
    QString err;
    if (!server.publish(&err)) { std::fprintf(stderr, "publish: %s\n", qPrintable(err)); return 1; }

    // ---- 1. property get round trip while monitoring runs -------------------
    ClientThread probe(bus.address(), "probe");
    if (!probe.create(&err)) { std::fprintf(stderr, "create: %s\n", qPrintable(err)); return 1; }
    if (!probe.call("Device_Start").ok() || !core.isRunning()) { std::fprintf(stderr, "monitoring did not start\n"); return 1; }
    std::printf("monitoring runs, read timer %lld ms\n", core.readTimerInterval());

    const int cyclesBefore = core.cycleCount();
    std::vector<double> rtt;
    std::atomic<bool> done{false};
    probe.post([&] {
        QElapsedTimer run, e;
        run.start();
        QDBusMessage get = QDBusMessage::createMethodCall(nephor::kProgId, probe.path(), nephor::kProgId,
                                                          "get_XOB_SpeedUnits");
        while (run.elapsed() < probeSeconds * 1000) {
            e.start();
            const QDBusMessage r = probe.bus().call(get, QDBus::Block, 2000);
            const double ms = double(e.nsecsElapsed()) / 1e6;
            if (r.type() == QDBusMessage::ReplyMessage) rtt.push_back(ms);
            QThread::usleep(2000);
        }
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("%d read cycles ran during %d s of probing\n", core.cycleCount() - cyclesBefore, probeSeconds);
    print("property get round trip (external client)", stats(rtt));

    // Through the client library as a program would use it.
    std::vector<double> lib = probe.run([&] {
        std::vector<double> v;
        QElapsedTimer e;
        for (int i = 0; i < 2000; ++i) {
            e.start();
            probe.get("XOB_SpeedUnits");
            v.push_back(double(e.nsecsElapsed()) / 1e6);
        }
        return v;
    });
    print("property get via LateBoundObject", stats(lib));

    // ---- 2. read-cycle time with clients attached -----------------------------
    const int cycles = 200;
    const Stats none = stats(cycleTimes(core, cycles));
    print("read cycle, 1 client (the probe)", none);

    QProcess load;
    load.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!startLoad(load, bus.address(), 100, false, core)) { std::fprintf(stderr, "the client load did not attach\n"); return 1; }
    std::printf("attached clients: %d\n", core.state().clients);
    const Stats idle = stats(cycleTimes(core, cycles));
    print("read cycle, 100 more clients attached", idle);
    stopLoad(load, core, 1);

    // The 100 clients poll, ten calls a second each.
    if (!startLoad(load, bus.address(), 100, true, core)) { std::fprintf(stderr, "the polling load did not attach\n"); return 1; }
    spinFor(500);
    const int comBefore = core.state().comCalls.toInt();
    QElapsedTimer busy;
    busy.start();
    const Stats polling = stats(cycleTimes(core, cycles));
    spinFor(1000);
    const int served = (core.state().comCalls.toInt() - comBefore + 10000) % 10000;
    print("read cycle, 100 clients polling at 10 Hz", polling);
    std::printf("client calls served meanwhile: about %d in %.1f s\n", served, double(busy.elapsed()) / 1000.0);
    std::printf("slow-down with 100 attached: %+.1f %%, with 100 polling: %+.1f %% (median)\n",
                100.0 * (idle.median - none.median) / none.median, 100.0 * (polling.median - none.median) / none.median);
    stopLoad(load, core, 1);
    std::printf("attached clients after the load ended: %d\n", core.state().clients);

    // ---- 3. the sensor server stopped ----------------------------------------
    {
        std::vector<double> safeGets;
        int failedGets = 0;
        std::atomic<bool> stop{false}, finished{false};
        probe.post([&] {
            QElapsedTimer e;
            while (!stop) {
                e.start();
                const auto r = probe.object()->get(QStringLiteral("Safe"));
                safeGets.push_back(double(e.nsecsElapsed()) / 1e6);
                if (!r.ok()) ++failedGets;
                QThread::msleep(10);
            }
            finished = true;
        });
        ::kill(pid_t(sim.pid()), SIGSTOP);
        QElapsedTimer hung;
        hung.start();
        std::vector<double> hungCycles;
        bool unsafeAfterFirst = false;
        int n = 0;
        while (hung.elapsed() < hangSeconds * 1000) {
            QElapsedTimer e;
            e.start();
            QEventLoop loop;
            QObject::connect(&core, &MonitorCore::cycleFinished, &loop, &QEventLoop::quit);
            core.readCycle();
            if (core.awaitingSensor()) loop.exec();
            hungCycles.push_back(double(e.nsecsElapsed()) / 1e6);
            if (n++ == 0) unsafeAfterFirst = core.unsafe();
        }
        ::kill(pid_t(sim.pid()), SIGCONT);
        stop = true;
        while (!finished) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::printf("sensor server stopped for %d s: %d read cycles, flag unsafe after the first: %s, failed client gets: %d\n",
                    hangSeconds, n, unsafeAfterFirst ? "yes" : "NO", failedGets);
        print("read cycle against the stopped server", stats(hungCycles));
        print("Safe get while the server is stopped", stats(safeGets));
    }

    probe.call("Device_Stop");
    return 0;
}
