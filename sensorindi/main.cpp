// XOB_Nephor_indi: the sensor server for real sensors on Linux. It owns
// "XOB_Nephor.Nephor" on the session bus, like the simulator, and answers
// from the devices of an INDI server (weather stations, cloud, rain and
// sky-quality sensors). See docs/sensor-indi.md.
#include "BridgeConfig.h"
#include "Clock.h"
#include "IndiLink.h"
#include "IndiSensor.h"
#include "NephorService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSettings>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace skyvane;
using namespace skyvane::sensorindi;

namespace {

QString versionText()
{
    return QStringLiteral("%1.%2.%3")
        .arg(SKYVANE_VERSION_MAJOR)
        .arg(SKYVANE_VERSION_MINOR)
        .arg(SKYVANE_VERSION_REVISION, 3, 10, QLatin1Char('0'));
}

const char* const kHelp = R"(
Configuration: an INI file, by default XOB_Nephor_indi.ini in the settings
folder ($SKYVANE_SETTINGS_DIR when set, else ~/.config/VB and VBA Program
Settings), or the file given with --config. Sections and keys:

  [Server]   Host (localhost), Port (7624), ReconnectSeconds (5),
             ConnectTimeoutSeconds (2: for a connection, and for the server
             to answer when a quiet connection is checked, once every
             ReconnectSeconds), ConnectDevices (true: a configured device
             found disconnected is asked to connect)
  [Data]     MaxAgeSeconds (120): a value the device has not sent again for
             this long makes the data faulty (a reading's own MaxAgeSeconds
             overrides it; 0: no limit, for drivers that send only changes);
             Role (MASTER)
  [SkyTemperature] [RainValue] [BrightnessValue] [AmbientTemperature]
  [SkySensorTemperature] [RainHeaterPercent] [RainHeaterTemperature]
  [RainHeaterStatus]
             Device, Property, Element: the INDI number (or text, switch,
             light) that supplies the reading; Scale (1) and Offset (0):
             value = INDI value x Scale + Offset; or Fixed: a value no device
             supplies. [SkyTemperature] also CloudCover=true: the value is
             cloud cover in percent, reported as a sky temperature from
             ClearSky (-25) at 0 % to OvercastSky (0) at 100 %.
  [Levels]   RainDirection (up: larger is wetter; down for frequency-type
             sensors), BrightnessDirection (up: larger is lighter; down for a
             sky-quality meter in mag/arcsec2), and any threshold, description
             or colour member by name (ThreshTempClear, ThreshRainDry, ...).
  [Switch]   Device, Property, SafeElement, UnsafeElement: the switch that
             XOB_SetSwitch drives (1 safe turns SafeElement on, 2 unsafe
             UnsafeElement); SwitchStatus reads it back.

The data are faulty (the monitor shows a31 and goes unsafe) while the server
is not connected, a configured device is disconnected, or a configured value
is older than MaxAgeSeconds. The bridge reconnects by itself.
--print-example-config prints a complete file for indi_simulator_weather.)";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("XOB_Nephor_indi"));
    QCoreApplication::setApplicationVersion(versionText());

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Sensor server for INDI devices: serves the class XOB_Nephor.Nephor on the session bus\n"
        "(DBUS_SESSION_BUS_ADDRESS) from the devices of an INDI server.")
                                + QString::fromLatin1(kHelp));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("Read the configuration from FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption example(QStringLiteral("print-example-config"),
                                     QStringLiteral("Print an example configuration (for indi_simulator_weather) and exit."));
    const QCommandLineOption check(QStringLiteral("check-config"),
                                   QStringLiteral("Read the configuration, report problems and exit (1 if any)."));
    p.addOptions({config, example, check});
    p.process(app);

    if (p.isSet(example)) {
        QTextStream(stdout) << exampleConfig();
        return 0;
    }
    const QString path = p.isSet(config) ? p.value(config) : defaultConfigPath();
    if (!QFileInfo::exists(path)) {
        std::fprintf(stderr, "XOB_Nephor_indi: no configuration %s (see --help, --print-example-config)\n", qPrintable(path));
        return 1;
    }
    QSettings ini(path, QSettings::IniFormat);
    BridgeConfig cfg;
    QStringList problems;
    const bool usable = loadConfig(ini, &cfg, &problems);
    for (const QString& pr : problems) std::fprintf(stderr, "XOB_Nephor_indi: %s: %s\n", qPrintable(path), qPrintable(pr));
    if (!usable) std::fprintf(stderr, "XOB_Nephor_indi: %s names no INDI device\n", qPrintable(path));
    if (p.isSet(check)) return problems.isEmpty() && usable ? 0 : 1;
    if (!usable) return 1;

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "XOB_Nephor_indi: no session bus: %s\n", qPrintable(bus.lastError().message()));
        return 2;
    }

    SystemClock clock;
    IndiSensor sensor(cfg, clock, versionText());
    IndiLink link(cfg.host, cfg.port, cfg.devices(), cfg.reconnectMs, cfg.connectTimeoutMs);
    sensor.connectDeviceHook = [&link](const QString& d) { link.connectDevice(d); };
    sensor.switchHook = [&link](const QString& d, const QString& pr, const QString& e) { link.setSwitch(d, pr, e); };
    QObject::connect(&link, &IndiLink::connectionChanged, &link, [&sensor](bool up) { sensor.setServerConnected(up); });
    QObject::connect(&link, &IndiLink::propertyUpdated, &link, [&sensor](const IndiProperty& pr) { sensor.propertyUpdated(pr); });
    QObject::connect(&link, &IndiLink::propertyRemoved, &link,
                     [&sensor](const QString& d, const QString& n) { sensor.propertyRemoved(d, n); });
    QObject::connect(&link, &IndiLink::deviceRemoved, &link, [&sensor](const QString& d) { sensor.deviceRemoved(d); });

    // Graph samples every ReadCycle seconds; a change of the data's health
    // is logged when it is seen there.
    QTimer samples;
    auto arm = [&] { samples.start(std::clamp(sensor.setting(QStringLiteral("ReadCycle")).toInt(), 1, 3600) * 1000); };
    QString lastFault = QStringLiteral("-");
    QObject::connect(&samples, &QTimer::timeout, &samples, [&] {
        sensor.sample();
        const QString f = sensor.fault();
        // Logged once per cause, not again as its age grows.
        static const QRegularExpression age(QStringLiteral("\\d+ s$"));
        if (QString(f).remove(age) != QString(lastFault).remove(age)) {
            if (f.isEmpty()) qCInfo(lcSensor) << "data good";
            else qCWarning(lcSensor) << "data faulty:" << qPrintable(f);
            lastFault = f;
        }
    });
    sensor.settingChangedHook = [&](const QString& name) {
        if (name == QLatin1String("ReadCycle")) arm();
    };
    arm();

    sensorserve::NephorService service(bus, sensor);
    service.setServerName(QStringLiteral("the INDI bridge"));
    QString err;
    if (!service.publish(&err)) {
        std::fprintf(stderr, "XOB_Nephor_indi: %s\n", qPrintable(err));
        return 3;
    }
    link.start();
    std::fprintf(stderr, "XOB_Nephor_indi: serving XOB_Nephor.Nephor as %s from INDI %s:%d\n", qPrintable(bus.baseService()),
                 qPrintable(cfg.host), cfg.port);
    return app.exec();
}
