#pragma once
// The bridge's configuration: where the INDI server is, which device,
// property and element supplies each reading, the thresholds of the three
// levels, how old a value may get, and the optional roof or relay switch. Kept
// in the program's own INI file (see docs/sensor-indi.md and --help).

#include <QHash>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace skyvane::sensorindi {

// Where one reading comes from.
struct ReadingSource {
    QString device, property, element;
    // value = INDI value x scale + offset
    double scale = 1.0;
    double offset = 0.0;
    // A reading no device supplies may be given a fixed value instead; the
    // user then knows the level it gives is not measured.
    bool hasFixed = false;
    double fixed = 0.0;
    QString fixedText;
    // SkyTemperature only: the value is cloud cover in percent (0 clear, 100
    // overcast), reported as a sky temperature between these two, so that
    // the sky-temperature thresholds classify it.
    bool cloudCover = false;
    double clearSky = -25.0;
    double overcastSky = 0.0;

    // How old its value may get: -1 the [Data] MaxAgeSeconds, 0 no limit
    // (for a driver that sends a value only when it changes).
    int maxAgeMs = -1;

    bool fromDevice() const { return !device.isEmpty() && !property.isEmpty() && !element.isEmpty(); }
    bool present() const { return fromDevice() || hasFixed; }
    QString label() const { return device + QLatin1Char('.') + property + QLatin1Char('.') + element; }
};

// A switch property (roof, relay) that XOB_SetSwitch drives: value 1 (safe,
// open) turns safeElement on, 2 (unsafe, closed) turns unsafeElement on.
struct SwitchTarget {
    QString device, property, safeElement, unsafeElement;
    bool configured() const
    {
        return !device.isEmpty() && !property.isEmpty() && !safeElement.isEmpty() && !unsafeElement.isEmpty();
    }
};

struct BridgeConfig {
    QString host = QStringLiteral("localhost");
    int port = 7624;
    int reconnectMs = 5000;      // between connection attempts
    int connectTimeoutMs = 2000; // of one attempt
    bool connectDevices = true;  // ask the server to connect a configured device found disconnected
    int maxAgeMs = 120000;       // a value not updated for longer is faulty data
    QString role = QStringLiteral("MASTER");

    // By member name: SkyTemperature, RainValue, BrightnessValue,
    // SkySensorTemperature, AmbientTemperature, RainHeaterPercent,
    // RainHeaterTemperature, RainHeaterStatus.
    QHash<QString, ReadingSource> readings;
    bool rainRising = true;       // a larger rain value is wetter
    bool brightnessRising = true; // a larger brightness value is lighter
    // The settings clients see (thresholds, descriptions, colours...).
    QHash<QString, QVariant> settings;
    SwitchTarget switchTarget;

    static const QStringList& readingNames();
    // Every device named by a reading or the switch.
    QStringList devices() const;
    ReadingSource source(const QString& reading) const { return readings.value(reading); }
};

// Reads the configuration; problems lists what was wrong (the value then
// keeps its default). Returns false when nothing at all would be read from
// a device.
bool loadConfig(QSettings& ini, BridgeConfig* config, QStringList* problems);

// The folder of the settings: SKYVANE_SETTINGS_DIR when set (tests, demo),
// else the user's configuration folder, as for the monitor.
QString settingsRoot();
QString defaultConfigPath();

// A complete example for Debian's indi_simulator_weather.
QString exampleConfig();

} // namespace skyvane::sensorindi
