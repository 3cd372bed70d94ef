#include "BridgeConfig.h"

#include "SensorSettings.h"

#include <QDir>
#include <QStandardPaths>
#include <cmath>

namespace skyvane::sensorindi {

namespace {

bool readBool(QSettings& ini, const QString& key, bool def, QStringList* problems)
{
    const QVariant v = ini.value(key);
    if (!v.isValid()) return def;
    const QString t = v.toString().trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("yes") || t == QLatin1String("on")) return true;
    if (t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no") || t == QLatin1String("off")) return false;
    problems->append(QStringLiteral("%1: \"%2\" is not true or false").arg(key, v.toString()));
    return def;
}

// A finite number within [lo, hi], else the default and a problem.
double readNumber(QSettings& ini, const QString& key, double def, double lo, double hi, QStringList* problems)
{
    const QVariant v = ini.value(key);
    if (!v.isValid()) return def;
    bool ok = false;
    const double d = QLocale::c().toDouble(v.toString().trimmed(), &ok);
    if (!ok || !std::isfinite(d) || d < lo || d > hi) {
        problems->append(QStringLiteral("%1: \"%2\" is not a number from %3 to %4").arg(key, v.toString()).arg(lo).arg(hi));
        return def;
    }
    return d;
}

} // namespace

const QStringList& BridgeConfig::readingNames()
{
    static const QStringList names = {
        QStringLiteral("SkyTemperature"),     QStringLiteral("RainValue"),
        QStringLiteral("BrightnessValue"),    QStringLiteral("SkySensorTemperature"),
        QStringLiteral("AmbientTemperature"), QStringLiteral("RainHeaterPercent"),
        QStringLiteral("RainHeaterTemperature"), QStringLiteral("RainHeaterStatus")};
    return names;
}

QStringList BridgeConfig::devices() const
{
    QStringList out;
    for (const QString& name : readingNames()) {
        const ReadingSource s = readings.value(name);
        if (s.fromDevice() && !out.contains(s.device)) out << s.device;
    }
    if (switchTarget.configured() && !out.contains(switchTarget.device)) out << switchTarget.device;
    return out;
}

bool loadConfig(QSettings& ini, BridgeConfig* c, QStringList* problems)
{
    *c = BridgeConfig();
    c->settings = sensorserve::defaultSensorSettings();

    ini.beginGroup(QStringLiteral("Server"));
    c->host = ini.value(QStringLiteral("Host"), c->host).toString().trimmed();
    c->port = int(readNumber(ini, QStringLiteral("Port"), c->port, 1, 65535, problems));
    c->reconnectMs = int(1000 * readNumber(ini, QStringLiteral("ReconnectSeconds"), c->reconnectMs / 1000.0, 0.1, 3600, problems));
    c->connectTimeoutMs =
        int(1000 * readNumber(ini, QStringLiteral("ConnectTimeoutSeconds"), c->connectTimeoutMs / 1000.0, 0.1, 60, problems));
    c->connectDevices = readBool(ini, QStringLiteral("ConnectDevices"), c->connectDevices, problems);
    ini.endGroup();

    ini.beginGroup(QStringLiteral("Data"));
    c->maxAgeMs = int(1000 * readNumber(ini, QStringLiteral("MaxAgeSeconds"), c->maxAgeMs / 1000.0, 0.1, 86400, problems));
    c->role = ini.value(QStringLiteral("Role"), c->role).toString();
    ini.endGroup();

    for (const QString& name : BridgeConfig::readingNames()) {
        ini.beginGroup(name);
        ReadingSource s;
        s.device = ini.value(QStringLiteral("Device")).toString().trimmed();
        s.property = ini.value(QStringLiteral("Property")).toString().trimmed();
        s.element = ini.value(QStringLiteral("Element")).toString().trimmed();
        s.scale = readNumber(ini, QStringLiteral("Scale"), 1.0, -1e12, 1e12, problems);
        s.offset = readNumber(ini, QStringLiteral("Offset"), 0.0, -1e12, 1e12, problems);
        if (ini.contains(QStringLiteral("Fixed"))) {
            s.hasFixed = true;
            s.fixedText = ini.value(QStringLiteral("Fixed")).toString();
            if (name != QLatin1String("RainHeaterStatus"))
                s.fixed = readNumber(ini, QStringLiteral("Fixed"), 0.0, -1e12, 1e12, problems);
        }
        if (ini.contains(QStringLiteral("MaxAgeSeconds")))
            s.maxAgeMs = int(1000 * readNumber(ini, QStringLiteral("MaxAgeSeconds"), -0.001, 0, 86400, problems));
        if (name == QLatin1String("SkyTemperature")) {
            s.cloudCover = readBool(ini, QStringLiteral("CloudCover"), false, problems);
            s.clearSky = readNumber(ini, QStringLiteral("ClearSky"), s.clearSky, -100, 100, problems);
            s.overcastSky = readNumber(ini, QStringLiteral("OvercastSky"), s.overcastSky, -100, 100, problems);
        }
        const bool partly = !s.fromDevice() && (!s.device.isEmpty() || !s.property.isEmpty() || !s.element.isEmpty());
        if (partly) problems->append(QStringLiteral("%1: Device, Property and Element are all needed").arg(name));
        if (s.fromDevice() && s.hasFixed) {
            problems->append(QStringLiteral("%1: both a device and Fixed; the device is used").arg(name));
            s.hasFixed = false;
        }
        ini.endGroup();
        c->readings.insert(name, s);
    }

    ini.beginGroup(QStringLiteral("Levels"));
    auto direction = [&](const QString& key, bool def) {
        const QString v = ini.value(key, def ? QStringLiteral("up") : QStringLiteral("down")).toString().trimmed().toLower();
        if (v == QLatin1String("up")) return true;
        if (v == QLatin1String("down")) return false;
        problems->append(QStringLiteral("Levels/%1: \"%2\" is not up or down").arg(key, v));
        return def;
    };
    c->rainRising = direction(QStringLiteral("RainDirection"), true);
    c->brightnessRising = direction(QStringLiteral("BrightnessDirection"), true);
    if (c->rainRising) {
        // Rain rates (mm/h) and wet flags: anything above a trace is wet,
        // above 1 rain; no upper limit worth calling unknown.
        c->settings.insert(QStringLiteral("ThreshRainDry"), 0.1);
        c->settings.insert(QStringLiteral("ThreshRainWet"), 1.0);
        c->settings.insert(QStringLiteral("ThreshRainRain"), 1e9);
    }
    for (const QString& key : ini.childKeys()) {
        if (key == QLatin1String("RainDirection") || key == QLatin1String("BrightnessDirection")) continue;
        auto it = c->settings.find(key);
        if (it == c->settings.end()) {
            problems->append(QStringLiteral("Levels/%1: no such setting").arg(key));
            continue;
        }
        const QMetaType::Type type = QMetaType::Type(it->metaType().id());
        if (type == QMetaType::QString) *it = ini.value(key).toString();
        else if (type == QMetaType::Bool) *it = readBool(ini, key, it->toBool(), problems);
        else if (type == QMetaType::Int) *it = int(readNumber(ini, key, it->toInt(), -1e9, 1e9, problems));
        else *it = readNumber(ini, key, it->toDouble(), -1e12, 1e12, problems);
    }
    ini.endGroup();

    ini.beginGroup(QStringLiteral("Switch"));
    c->switchTarget.device = ini.value(QStringLiteral("Device")).toString().trimmed();
    c->switchTarget.property = ini.value(QStringLiteral("Property")).toString().trimmed();
    c->switchTarget.safeElement = ini.value(QStringLiteral("SafeElement")).toString().trimmed();
    c->switchTarget.unsafeElement = ini.value(QStringLiteral("UnsafeElement")).toString().trimmed();
    if (!c->switchTarget.configured() && !c->switchTarget.device.isEmpty())
        problems->append(QStringLiteral("Switch: Device, Property, SafeElement and UnsafeElement are all needed"));
    ini.endGroup();

    if (ini.status() != QSettings::NoError) problems->append(QStringLiteral("the file can not be read as INI"));
    return !c->devices().isEmpty();
}

QString settingsRoot()
{
    const QByteArray env = qgetenv("SKYVANE_SETTINGS_DIR");
    if (!env.isEmpty()) return QString::fromLocal8Bit(env);
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/VB and VBA Program Settings");
}

QString defaultConfigPath() { return settingsRoot() + QStringLiteral("/XOB_Nephor_indi.ini"); }

QString exampleConfig()
{
    return QStringLiteral(R"(; XOB_Nephor_indi: every reading from Debian's indi_simulator_weather
; (indiserver indi_simulator_weather). See docs/sensor-indi.md.

[Server]
Host=localhost
Port=7624
ReconnectSeconds=5
ConnectDevices=true

[Data]
; a value the device has not sent again for this long is faulty data
MaxAgeSeconds=120

[SkyTemperature]
; The simulator has no cloud sensor: its forecast (0 good, 1 fair, 2 bad)
; x 50 stands in for cloud cover in percent, reported as a sky temperature
; from ClearSky (0 %) to OvercastSky (100 %).
Device=Weather Simulator
Property=WEATHER_PARAMETERS
Element=WEATHER_FORECAST
Scale=50
CloudCover=true
ClearSky=-25
OvercastSky=0

[RainValue]
; mm/h; see [Levels] for the thresholds
Device=Weather Simulator
Property=WEATHER_PARAMETERS
Element=WEATHER_RAIN_HOUR

[AmbientTemperature]
Device=Weather Simulator
Property=WEATHER_PARAMETERS
Element=WEATHER_TEMPERATURE

[BrightnessValue]
; no brightness sensor in the simulator: a fixed dark sky, not measured
Fixed=0

[Levels]
RainDirection=up
ThreshRainDry=0.1
ThreshRainWet=1
ThreshTempClear=-15
ThreshTempCloudy=-5
ThreshBrightnessDark=1000
ThreshBrightnessLigth=20000

[Switch]
; a roof or relay: XOB_SetSwitch 1 turns SafeElement on, 2 UnsafeElement
;Device=Dome Simulator
;Property=DOME_PARK
;SafeElement=UNPARK
;UnsafeElement=PARK
)");
}

} // namespace skyvane::sensorindi
