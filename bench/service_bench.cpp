// The monitor as a service: average CPU and resident memory of the real
// program at the 5 s read period, headless and, for comparison, with its
// window open (under xvfb-run). A private bus with the sensor stand-in and a
// station file that a timer keeps fresh stand in for the observatory.
//
//   service_bench [--minutes N] [--long]      (--long: 10 minutes each)
//
// Needs the built XOB_Skyvane and XOB_Nephor_sim beside it (SKYVANE_BIN_DIR
// or the build's bin folder).
#include "BenchUtil.h"
#include "Automation.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <csignal>
#include <unistd.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

struct ProcSample {
    double cpuSeconds = -1; // user + system
    long rssKb = -1;
};

ProcSample sample(qint64 pid)
{
    ProcSample s;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        // Fields after the command name (which may hold spaces).
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 13) s.cpuSeconds = double(f[11].toLongLong() + f[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& l : status.readAll().split('\n'))
            if (l.startsWith("VmRSS:")) s.rssKb = l.mid(6).trimmed().split(' ').first().toLong();
    return s;
}

// The child of parent whose command is name (xvfb-run starts the monitor
// from its shell).
qint64 childNamed(qint64 parent, const QByteArray& name)
{
    for (const QString& d : QDir("/proc").entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = d.toLongLong(&ok);
        if (!ok) continue;
        QFile stat("/proc/" + d + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        const QByteArray comm = line.mid(line.indexOf('(') + 1, line.lastIndexOf(')') - line.indexOf('(') - 1);
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (comm == name && f.size() > 1 && f[1].toLongLong() == parent) return pid;
    }
    return 0;
}

void wait(int ms)
{
    QDeadlineTimer d(ms);
    while (!d.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// Runs one mode for the given time and prints its line.
bool runMode(const char* label, bool desktop, int seconds, const QString& bin)
{
    PrivateBus bus;
    if (!bus.isRunning()) return std::fprintf(stderr, "no bus: %s\n", qPrintable(bus.error())), false;
    SensorStandIn sim(bus, {"--ready-delay", "0"});
    if (!sim.isRunning()) return std::fprintf(stderr, "no stand-in: %s\n", qPrintable(sim.error())), false;
    QTemporaryDir dir;
    const QString app = QStringLiteral("XOB_Skyvane");
    {
        SettingsStore store(dir.path());
        store.save(app, "Setup", "Emulator", "1");
        store.save(app, "Setup", "RefreshRead", "0"); // 5 s
        store.save(app, "Setup", "HTMFile", dir.filePath("station.csv"));
        store.save(app, "Window", "PathName", dir.filePath("data"));
        store.save(app, "Window", "PathNameCCDAP4", dir.filePath("ccd"));
        store.save(app, "Graphs", "GraphImagePath", dir.filePath("images"));
        store.save(app, "INDI", "SafetyFeed", "1");
        store.save(app, "INDI", "WatcherFeed", "1");
        store.sync();
    }
    bench::writeStation(dir.filePath("station.csv"), QDateTime::currentDateTime());
    QTimer station;
    QObject::connect(&station, &QTimer::timeout, [&] { bench::writeStation(dir.filePath("station.csv"), QDateTime::currentDateTime()); });
    station.start(5000);

    QProcess p;
    QProcessEnvironment env = bus.environment();
    env.insert("SKYVANE_SETTINGS_DIR", dir.path());
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardOutputFile(dir.filePath("log.txt"));
    if (desktop) p.start("xvfb-run", {"-a", "-s", "-screen 0 1280x1024x24", bin + "/XOB_Skyvane"});
    else p.start(bin + "/XOB_Skyvane", {"--headless"});
    if (!p.waitForStarted(10000)) return std::fprintf(stderr, "%s did not start\n", label), false;

    QDBusConnection conn = bus.connection(QStringLiteral("bench"));
    QDeadlineTimer up(30000);
    while (!conn.interface()->isServiceRegistered("XOB_Skyvane.Nephor").value() && !up.hasExpired()) wait(100);
    const qint64 pid = desktop ? childNamed(p.processId(), "XOB_Skyvane") : p.processId();
    if (desktop) {
        // The window does not start monitoring by itself: Start, as a client.
        QString error;
        auto client = automation::LateBoundObject::create(conn, "XOB_Skyvane.Nephor", 15000, &error);
        if (!client || !client->call("Device_Start").ok()) return std::fprintf(stderr, "Device_Start failed: %s\n", qPrintable(error)), false;
    }
    wait(15000); // start-up and the first cycles are not what a service costs
    const ProcSample a = sample(pid);
    double peakRss = a.rssKb;
    for (int s = 0; s < seconds; s += 5) {
        wait(5000);
        peakRss = std::max<double>(peakRss, double(sample(pid).rssKb));
    }
    const ProcSample b = sample(pid);
    const double cpuPct = 100.0 * (b.cpuSeconds - a.cpuSeconds) / double(seconds);
    std::printf("%-10s %4d s at 5 s   CPU %6.3f %% of a core   RSS %6.1f MB (peak %6.1f MB)\n", label, seconds, cpuPct,
                double(b.rssKb) / 1024.0, peakRss / 1024.0);
    std::fflush(stdout);
    ::kill(pid_t(pid), SIGTERM);
    if (!p.waitForFinished(20000)) p.kill();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int minutes = 1;
    const QStringList args = app.arguments();
    if (args.contains("--long")) minutes = 10;
    const int m = int(args.indexOf("--minutes"));
    if (m >= 0 && m + 1 < args.size()) minutes = std::max(1, args[m + 1].toInt());
    QString bin = qEnvironmentVariable("SKYVANE_BIN_DIR");
    if (bin.isEmpty()) bin = QCoreApplication::applicationDirPath();
    qputenv("SKYVANE_BIN_DIR", bin.toUtf8());
    std::printf("service_bench: %d minute(s) per mode, programs from %s\n", minutes, qPrintable(bin));
    bool ok = runMode("headless", false, minutes * 60, bin);
    if (QStandardPaths::findExecutable("xvfb-run").isEmpty()) std::printf("desktop    skipped: xvfb-run is not installed\n");
    else ok = runMode("desktop", true, minutes * 60, bin) && ok;
    return ok ? 0 : 1;
}
