// XOB_Nephor_sim: a stand-in for the sensor server, for tests and
// demonstrations. It owns "XOB_Nephor.Nephor" on the session bus (the one
// DBUS_SESSION_BUS_ADDRESS names) and simulates a cloud, rain and brightness
// sensor. See docs/sensor-standin.md.
#include "NephorSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QTextStream>
#include <cstdio>

using namespace skyvane::sensorsim;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("XOB_Nephor_sim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Sensor-server stand-in: serves the class XOB_Nephor.Nephor on the session bus\n"
        "(DBUS_SESSION_BUS_ADDRESS) with a simulated cloud, rain and brightness sensor,\n"
        "and the control object /Control (interface XOB.NephorSim.Control)."));
    p.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Text answered to Version (default 5.30.001)."),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption role(QStringLiteral("role"), QStringLiteral("Text answered to XOB_DeviceRole (default MASTER)."),
                                  QStringLiteral("TEXT"));
    const QCommandLineOption delay(QStringLiteral("ready-delay"),
                                   QStringLiteral("Milliseconds from Device_Start to DataReady (default 1500, -1 never)."),
                                   QStringLiteral("MS"));
    const QCommandLineOption script(QStringLiteral("script"), QStringLiteral("Run the timed control commands of FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the simulation's noise."), QStringLiteral("N"));
    const QCommandLineOption printXml(QStringLiteral("print-introspection"),
                                      QStringLiteral("Print the introspection data of every object and exit."));
    p.addOptions({version, role, delay, script, seed, printXml});
    p.process(app);

    if (p.isSet(printXml)) {
        QTextStream(stdout) << NephorSim::introspectionDocument();
        return 0;
    }

    Options o;
    if (p.isSet(version)) o.version = p.value(version);
    if (p.isSet(role)) o.role = p.value(role);
    if (p.isSet(delay)) {
        bool ok = false;
        o.readyDelayMs = p.value(delay).toInt(&ok);
        if (!ok || o.readyDelayMs < -1) {
            std::fprintf(stderr, "XOB_Nephor_sim: --ready-delay needs milliseconds or -1\n");
            return 1;
        }
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "XOB_Nephor_sim: no session bus: %s\n", qPrintable(bus.lastError().message()));
        return 2;
    }
    NephorSim sim(bus, o);
    if (p.isSet(seed)) sim.model().seed(p.value(seed).toUInt());
    QString err;
    if (p.isSet(script) && !sim.loadScript(p.value(script), &err)) {
        std::fprintf(stderr, "XOB_Nephor_sim: %s\n", qPrintable(err));
        return 1;
    }
    if (!sim.start(&err)) {
        std::fprintf(stderr, "XOB_Nephor_sim: %s\n", qPrintable(err));
        return 3;
    }
    std::fprintf(stderr, "XOB_Nephor_sim: serving XOB_Nephor.Nephor as %s\n", qPrintable(bus.baseService()));
    return app.exec();
}
