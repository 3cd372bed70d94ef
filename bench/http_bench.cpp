// The HTTP server under a steady Alpaca load: 50 clients (another process,
// one keep-alive connection each) ask issafe ten times a second while the
// monitor runs its real read cycle against the sensor stand-in on a private
// bus. Prints the request latency (median, p99, max), the requests served
// per second, and the read-cycle time without and during the load.
//
//   http_bench [seconds]      load duration, default 10 (60 for the full run)
#include "BenchUtil.h"
#include "HttpService.h"
#include "MonitorCore.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

constexpr int kClients = 50;
constexpr int kPeriodMs = 100; // 10 Hz per client

// Read-cycle wall time. The monitor ticks every few seconds; here a cycle
// starts every kCyclePauseMs (many times more often, for enough samples),
// and the event loop the server shares runs in between as it does in the
// program. Cycles back to back would leave the server only the gaps of a
// loop that no real monitor runs.
constexpr int kCyclePauseMs = 200;

std::vector<double> cycleTimes(MonitorCore& core, const std::function<bool()>& more)
{
    std::vector<double> t;
    QElapsedTimer e;
    while (more()) {
        QEventLoop pause;
        QTimer::singleShot(kCyclePauseMs, &pause, &QEventLoop::quit);
        pause.exec();
        e.start();
        QEventLoop loop;
        QObject::connect(&core, &MonitorCore::cycleFinished, &loop, &QEventLoop::quit);
        core.readCycle();
        if (core.awaitingSensor()) loop.exec();
        t.push_back(double(e.nsecsElapsed()) / 1e6);
    }
    return t;
}

// The load process: kClients connections polling issafe every kPeriodMs for
// the given time; prints "requests errors median p99 max" at the end.
int clientLoad(quint16 port, int seconds)
{
    struct Client {
        QTcpSocket socket;
        QByteArray buffer;
        QElapsedTimer sent;
        bool waiting = false;
    };
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<double> latencies;
    latencies.reserve(size_t(kClients) * 10 * size_t(seconds) + 100);
    int errors = 0;
    const QByteArray request = "GET /api/v1/safetymonitor/0/issafe?ClientID=9&ClientTransactionID=1 HTTP/1.1\r\n"
                               "Host: 127.0.0.1\r\n\r\n";
    for (int i = 0; i < kClients; ++i) {
        auto c = std::make_unique<Client>();
        Client* raw = c.get();
        QObject::connect(&c->socket, &QTcpSocket::readyRead, [raw, &latencies, &errors] {
            raw->buffer += raw->socket.readAll();
            for (;;) {
                const qsizetype end = raw->buffer.indexOf("\r\n\r\n");
                if (end < 0) return;
                const qsizetype cl = raw->buffer.indexOf("Content-Length: ");
                const qsizetype eol = raw->buffer.indexOf("\r\n", cl);
                const int length = raw->buffer.mid(cl + 16, eol - cl - 16).toInt();
                if (raw->buffer.size() < end + 4 + length) return;
                if (!raw->buffer.startsWith("HTTP/1.1 200") || !raw->buffer.mid(end + 4, length).contains("\"Value\":true"))
                    ++errors;
                latencies.push_back(double(raw->sent.nsecsElapsed()) / 1e6);
                raw->buffer.remove(0, end + 4 + length);
                raw->waiting = false;
            }
        });
        c->socket.connectToHost(QHostAddress::LocalHost, port);
        if (!c->socket.waitForConnected(5000)) {
            std::fprintf(stderr, "client %d could not connect\n", i);
            return 1;
        }
        clients.push_back(std::move(c));
    }
    std::vector<std::unique_ptr<QTimer>> timers;
    for (int i = 0; i < kClients; ++i) {
        auto t = std::make_unique<QTimer>();
        t->setTimerType(Qt::PreciseTimer);
        Client* raw = clients[size_t(i)].get();
        QObject::connect(t.get(), &QTimer::timeout, [raw, &request, &errors] {
            if (raw->waiting) { // the last answer is overdue: count it, ask again
                ++errors;
            }
            raw->sent.start();
            raw->waiting = true;
            raw->socket.write(request);
        });
        // Spread the clients over the period.
        QTimer::singleShot(i * kPeriodMs / kClients, t.get(), [p = t.get()] { p->start(kPeriodMs); });
        timers.push_back(std::move(t));
    }
    QElapsedTimer run;
    run.start();
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    const double elapsed = double(run.elapsed()) / 1000.0;
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) return 1;
    std::printf("%zu %d %.3f %.3f %.3f %.3f\n", latencies.size(), errors, bench::quantile(latencies, 0.5),
                bench::quantile(latencies, 0.99), latencies.back(), double(latencies.size()) / elapsed);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 4 && QByteArray(argv[1]) == "--load") return clientLoad(quint16(atoi(argv[2])), atoi(argv[3]));
    const int seconds = argc > 1 ? std::max(3, atoi(argv[1])) : 10;

    QTemporaryDir home;
    qputenv("SKYVANE_SETTINGS_DIR", home.filePath("settings").toLocal8Bit());
    PrivateBus bus;
    if (!bus.isRunning()) { std::fprintf(stderr, "no bus: %s\n", qPrintable(bus.error())); return 1; }
    SensorStandIn sim(bus, {"--ready-delay", "0"});
    if (!sim.isRunning()) { std::fprintf(stderr, "no stand-in: %s\n", qPrintable(sim.error())); return 1; }
    sim.setLevels(1, 1, 1);

    SettingsStore store(home.filePath("settings"));
    SystemClock clock;
    MonitorCore core(clock, store, bus.connection(), home.path());
    core.load();
    core.config().pathName = home.filePath("data");
    core.config().graphImagePath = home.filePath("images");
    core.config().htmFile = home.filePath("station.csv");
    core.config().timeoutRead = 100000;
    bench::writeStation(core.config().htmFile, clock.now());
    core.setPrompter([](const QString& text, int, const QString&) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return int(AnswerOk);
    });

    http::HttpService service(core);
    service.config().port = 0;
    if (!service.start()) { std::fprintf(stderr, "the server did not start\n"); return 1; }
    http::HttpRequest connect;
    connect.method = "PUT";
    connect.path = "/api/v1/safetymonitor/0/connected";
    connect.body = "Connected=true";
    service.route(connect);

    QEventLoop started;
    QObject::connect(&core, &MonitorCore::startFinished, &started, &QEventLoop::quit);
    core.startProcedure();
    if (core.isStarting()) started.exec();
    if (!core.isRunning()) { std::fprintf(stderr, "monitoring did not start\n"); return 1; }
    std::printf("monitoring runs; server on 127.0.0.1:%u; %d clients at %d Hz for %d s\n", service.server().port(),
                kClients, 1000 / kPeriodMs, seconds);

    // ---- read cycle without load ----------------------------------------------
    QElapsedTimer quiet;
    quiet.start();
    const std::vector<double> idle = cycleTimes(core, [&] { return quiet.elapsed() < seconds * 500; });
    bench::printTimings("read cycle, no load", idle);

    // ---- the load ---------------------------------------------------------------
    QProcess load;
    load.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    load.start(QCoreApplication::applicationFilePath(),
               {"--load", QString::number(service.server().port()), QString::number(seconds)});
    if (!load.waitForStarted(5000)) { std::fprintf(stderr, "no load process\n"); return 1; }
    const qint64 servedBefore = service.server().requestsServed();
    const double cpuBefore = bench::cpuMs();
    QElapsedTimer loaded;
    loaded.start();
    const std::vector<double> busy = cycleTimes(core, [&] { return load.state() != QProcess::NotRunning; });
    const double wall = double(loaded.elapsed()) / 1000.0;
    load.waitForFinished(5000);
    bench::printTimings("read cycle, under load", busy);
    const QList<QByteArray> f = load.readAllStandardOutput().trimmed().split(' ');
    if (f.size() < 6) { std::fprintf(stderr, "the load process gave no figures\n"); return 1; }
    std::printf("requests answered %s (late or wrong %s), %.0f req/s seen by the clients, %.0f req/s served\n",
                f[0].constData(), f[1].constData(), f[5].toDouble(),
                double(service.server().requestsServed() - servedBefore) / wall);
    std::printf("issafe latency          median %7.3f ms   p99 %7.3f ms   max %7.3f ms\n", f[2].toDouble(), f[3].toDouble(),
                f[4].toDouble());
    std::printf("monitor CPU during load %.0f %% of one core\n", (bench::cpuMs() - cpuBefore) / (wall * 10.0));
    std::vector<double> a = idle, b = busy;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    const double ratio = bench::quantile(b, 0.5) / bench::quantile(a, 0.5);
    std::printf("read-cycle median under load / without: %.2f\n", ratio);
    core.stopProcedure();
    return 0;
}
