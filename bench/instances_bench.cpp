// Instance bookkeeping of the automation server: one client creates many
// instances of a class, then leaves the bus without releasing them (as a
// program that crashes). Prints the server's memory growth per instance, the
// time to create them and the time the server's thread is busy releasing
// them when the client goes.
//
//   ./build/bin/instances_bench [instances, default 20000]
#include "AutomationServer.h"
#include "PrivateBus.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

using namespace skyvane;
using namespace skyvane::automation;

namespace {

double residentMB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.value(1).toDouble() * 4096.0 / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::atoi(argv[1]) : 20000;
    testing::PrivateBus bus;
    if (!bus.isRunning()) {
        std::fprintf(stderr, "no bus: %s\n", qPrintable(bus.error()));
        return 1;
    }
    auto cls = std::make_shared<ClassSpec>(QStringLiteral("XOB_Bench.Thing"));
    cls->declare(QStringLiteral("get Name : s\nmethod Poke(x i) : i\n"));
    HandlerTable h;
    h.onGet(QStringLiteral("Name"), [](Call&) { return Reply::ok(QStringLiteral("thing")); });
    h.onMethod(QStringLiteral("Poke"), [](Call& c) { return Reply::ok(c.arg(0)); });
    AutomationServer server(bus.connection(), QStringLiteral("XOB_Bench.Thing"), cls, h);
    server.setMaxInstancesPerClient(n + 1); // the bookkeeping is measured, not the limit
    int released = 0;
    server.setOnReleased([&](int) { ++released; });
    QString err;
    if (!server.publish(&err)) {
        std::fprintf(stderr, "publish: %s\n", qPrintable(err));
        return 1;
    }

    QDBusConnection client = bus.connection(QStringLiteral("greedy"));
    const double before = residentMB();
    QElapsedTimer t;
    t.start();
    QList<QDBusPendingCall> inflight;
    int created = 0;
    auto finish = [&] {
        QDBusPendingCall p = inflight.takeFirst();
        while (!p.isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        created += p.reply().type() == QDBusMessage::ReplyMessage ? 1 : 0;
    };
    for (int i = 0; i < n; ++i) {
        inflight << client.asyncCall(QDBusMessage::createMethodCall(QStringLiteral("XOB_Bench.Thing"), QStringLiteral("/"),
                                                                    QLatin1String(kFactoryInterface),
                                                                    QStringLiteral("CreateInstance")));
        if (inflight.size() >= 64) finish();
    }
    while (!inflight.isEmpty()) finish();
    const double createMs = t.elapsed();
    const double after = residentMB();

    client = QDBusConnection(QString());
    t.restart();
    bus.disconnect(QStringLiteral("greedy"));
    QDeadlineTimer deadline(120000);
    while (released < created && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double releaseMs = t.elapsed();

    std::printf("instances created     %d of %d\n", created, n);
    std::printf("create, all           %.0f ms (%.1f us each)\n", createMs, 1000.0 * createMs / std::max(created, 1));
    std::printf("server memory growth  %.1f MB (%.1f KB each)\n", after - before,
                1024.0 * (after - before) / std::max(created, 1));
    std::printf("release on leaving    %.0f ms for %d instances\n", releaseMs, released);
    return 0;
}
