#include "IndiSensor.h"

#include <QLoggingCategory>
#include <algorithm>
#include <cmath>

Q_LOGGING_CATEGORY(lcSensor, "skyvane.sensorindi", QtInfoMsg)

namespace skyvane::sensorindi {

namespace {
const QStringList kTemperatures = {QStringLiteral("SkyTemperature"), QStringLiteral("SkySensorTemperature"),
                                   QStringLiteral("AmbientTemperature"), QStringLiteral("RainHeaterTemperature")};
} // namespace

IndiSensor::IndiSensor(BridgeConfig config, Clock& clock, QString version)
    : config_(std::move(config)), clock_(clock), version_(std::move(version)), started_(clock.now())
{
}

IndiSensor::~IndiSensor() = default;

void IndiSensor::setServerConnected(bool up)
{
    if (up == server_) return;
    server_ = up;
    qCInfo(lcSensor) << (up ? "INDI server connected" : "INDI server connection lost");
    if (up) {
        // Properties may come in before the news of the connection does.
        for (auto it = deviceConnected_.constBegin(); it != deviceConnected_.constEnd(); ++it)
            if (it.value() == 0) requestConnect(it.key());
        return;
    }
    // Whatever came over the lost connection says nothing about the devices
    // now: values and device states start afresh with the next connection.
    values_.clear();
    deviceConnected_.clear();
    connectAsked_.clear();
    switchState_ = 0;
}

void IndiSensor::propertyUpdated(const IndiProperty& p)
{
    if (p.name == QLatin1String("CONNECTION") && p.kind == IndiProperty::Switch && config_.devices().contains(p.device)) {
        const bool on = p.switches.value(QStringLiteral("CONNECT"), false);
        const int old = deviceConnected_.value(p.device, -1);
        deviceConnected_.insert(p.device, on ? 1 : 0);
        if (old != (on ? 1 : 0)) qCInfo(lcSensor) << "device" << p.device << (on ? "connected" : "disconnected");
        if (!on) {
            // The device's values belong to the old connection.
            for (const QString& r : BridgeConfig::readingNames())
                if (config_.readings.value(r).device == p.device) values_.remove(r);
            requestConnect(p.device);
        }
    }
    for (const QString& r : BridgeConfig::readingNames()) {
        const ReadingSource& s = config_.readings[r];
        if (s.fromDevice() && s.device == p.device && s.property == p.name) take(r, s, p);
    }
    const SwitchTarget& sw = config_.switchTarget;
    if (sw.configured() && sw.device == p.device && sw.property == p.name && p.kind == IndiProperty::Switch) {
        if (p.switches.value(sw.unsafeElement)) switchState_ = 2;
        else if (p.switches.value(sw.safeElement)) switchState_ = 1;
        else switchState_ = 0;
    }
}

void IndiSensor::take(const QString& reading, const ReadingSource& s, const IndiProperty& p)
{
    Value v;
    if (p.kind == IndiProperty::Number && p.numbers.contains(s.element)) {
        v.number = p.numbers.value(s.element);
        v.text = QString::number(v.number);
    } else if (p.kind == IndiProperty::Text && p.texts.contains(s.element)) {
        v.text = p.texts.value(s.element);
        bool ok = false;
        v.number = v.text.trimmed().toDouble(&ok);
        if (!ok && reading != QLatin1String("RainHeaterStatus")) return;
    } else if ((p.kind == IndiProperty::Switch || p.kind == IndiProperty::Light) && p.switches.contains(s.element)) {
        // A switch or light: on is 1, off 0 (a wet flag, a heater on).
        v.number = p.switches.value(s.element) ? 1.0 : 0.0;
        v.text = p.switches.value(s.element) ? QStringLiteral("On") : QStringLiteral("Off");
    } else {
        return;
    }
    if (!std::isfinite(v.number)) return;
    v.has = true;
    v.atMs = clock_.msClock();
    v.at = clock_.now();
    values_.insert(reading, v);
}

void IndiSensor::propertyRemoved(const QString& device, const QString& name)
{
    for (const QString& r : BridgeConfig::readingNames()) {
        const ReadingSource& s = config_.readings[r];
        if (s.fromDevice() && s.device == device && s.property == name) values_.remove(r);
    }
    const SwitchTarget& sw = config_.switchTarget;
    if (sw.device == device && sw.property == name) switchState_ = 0;
    if (name == QLatin1String("CONNECTION")) deviceConnected_.remove(device);
}

void IndiSensor::deviceRemoved(const QString& device)
{
    for (const QString& r : BridgeConfig::readingNames())
        if (config_.readings.value(r).device == device) values_.remove(r);
    deviceConnected_.remove(device);
    if (config_.switchTarget.device == device) switchState_ = 0;
}

void IndiSensor::requestConnect(const QString& device)
{
    if (!config_.connectDevices || !connectDeviceHook || !server_) return;
    // Not more often than the reconnection period: a device that refuses to
    // connect must not be asked in a tight loop.
    const qint64 now = clock_.msClock();
    auto it = connectAsked_.constFind(device);
    if (it != connectAsked_.constEnd() && now - *it < config_.reconnectMs) return;
    connectAsked_.insert(device, now);
    qCInfo(lcSensor) << "asking the server to connect" << device;
    connectDeviceHook(device);
}

std::optional<double> IndiSensor::value(const QString& reading) const
{
    const ReadingSource s = config_.readings.value(reading);
    double v = 0.0;
    if (s.fromDevice()) {
        const Value x = values_.value(reading);
        if (!x.has) return std::nullopt;
        v = x.number * s.scale + s.offset;
    } else if (s.hasFixed) {
        v = s.fixed;
    } else {
        return std::nullopt;
    }
    if (s.cloudCover) {
        const double cover = std::clamp(v, 0.0, 100.0);
        v = s.clearSky + cover / 100.0 * (s.overcastSky - s.clearSky);
    }
    return v;
}

QVariant IndiSensor::reading(const QString& name) const
{
    const auto& st = config_.settings;
    if (name == QLatin1String("Condition_Cloud")) {
        const auto v = value(QStringLiteral("SkyTemperature"));
        return v ? sensorserve::cloudLevelOf(st, *v) : 0;
    }
    if (name == QLatin1String("Condition_Rain")) {
        const auto v = value(QStringLiteral("RainValue"));
        return v ? sensorserve::rainLevelOf(st, *v, config_.rainRising) : 0;
    }
    if (name == QLatin1String("Condition_Brightness")) {
        const auto v = value(QStringLiteral("BrightnessValue"));
        return v ? sensorserve::brightnessLevelOf(st, *v, config_.brightnessRising) : 0;
    }
    if (name == QLatin1String("SwitchStatus")) return config_.switchTarget.configured() ? double(switchState_) : lastSwitch_;
    if (name == QLatin1String("RainHeaterStatus")) {
        const ReadingSource s = config_.readings.value(name);
        if (s.fromDevice()) return values_.value(name).text;
        return s.hasFixed ? s.fixedText : QString();
    }
    if (name == QLatin1String("LastReading")) {
        // The oldest of the latest values: the time up to which every
        // reading is known.
        QDateTime t;
        for (const QString& r : BridgeConfig::readingNames()) {
            if (!config_.readings.value(r).fromDevice()) continue;
            const Value x = values_.value(r);
            if (x.has && (!t.isValid() || x.at < t)) t = x.at;
        }
        return t.isValid() ? t : started_;
    }
    if (!sensorserve::isReadingMember(name)) return {};
    const double v = value(name).value_or(0.0);
    return kTemperatures.contains(name) ? toUnit(v) : v;
}

void IndiSensor::setSetting(const QString& name, const QVariant& v)
{
    config_.settings.insert(name, v);
    if (settingChangedHook) settingChangedHook(name);
}

bool IndiSensor::deviceRunning() const
{
    if (!server_) return false;
    for (const QString& d : config_.devices())
        if (deviceConnected_.value(d, 0) != 1) return false;
    return true;
}

QString IndiSensor::fault() const
{
    if (!server_) return QStringLiteral("no connection to the INDI server %1:%2").arg(config_.host).arg(config_.port);
    for (const QString& d : config_.devices()) {
        const int c = deviceConnected_.value(d, -1);
        if (c == -1) return QStringLiteral("device \"%1\" not found on the INDI server").arg(d);
        if (c == 0) return QStringLiteral("device \"%1\" is disconnected").arg(d);
    }
    const qint64 now = clock_.msClock();
    for (const QString& r : BridgeConfig::readingNames()) {
        const ReadingSource s = config_.readings.value(r);
        if (!s.fromDevice()) continue;
        const Value x = values_.value(r);
        if (!x.has) return QStringLiteral("%1 (%2): no value yet").arg(r, s.label());
        if (tooOld(s, x.atMs, now))
            return QStringLiteral("%1 (%2): not updated for %3 s").arg(r, s.label()).arg((now - x.atMs) / 1000);
    }
    return {};
}

bool IndiSensor::tooOld(const ReadingSource& s, qint64 atMs, qint64 nowMs) const
{
    const int limit = s.maxAgeMs < 0 ? config_.maxAgeMs : s.maxAgeMs;
    return limit > 0 && nowMs - atMs > limit;
}

bool IndiSensor::transferError() const
{
    // Every reading taken from a device must be there and fresh.
    const qint64 now = clock_.msClock();
    for (const QString& r : BridgeConfig::readingNames()) {
        const ReadingSource s = config_.readings.value(r);
        if (!s.fromDevice()) continue;
        const Value x = values_.value(r);
        if (!x.has || tooOld(s, x.atMs, now)) return true;
    }
    return false;
}

bool IndiSensor::dataReady() const { return deviceRunning() && !transferError(); }

void IndiSensor::deviceStart()
{
    // The devices run as the INDI server runs them; a disconnected one is
    // asked to connect.
    for (auto it = deviceConnected_.constBegin(); it != deviceConnected_.constEnd(); ++it)
        if (it.value() == 0) requestConnect(it.key());
}

void IndiSensor::setSwitch(double v)
{
    lastSwitch_ = v;
    const SwitchTarget& sw = config_.switchTarget;
    if (!sw.configured() || !switchHook || !deviceRunning()) return;
    if (v != 1.0 && v != 2.0) return;
    if (switchState_ == int(v)) return;
    // The monitor sends its value every cycle: the device is told again only
    // when it has not followed within the reconnection period.
    const qint64 now = clock_.msClock();
    if (switchSent_ == v && now - switchSentAt_ < config_.reconnectMs) return;
    switchSent_ = v;
    switchSentAt_ = now;
    const QString element = v == 2.0 ? sw.unsafeElement : sw.safeElement;
    qCInfo(lcSensor) << "switch" << sw.device << sw.property << "->" << element;
    switchHook(sw.device, sw.property, element);
}

void IndiSensor::sample()
{
    ring_.add({value(QStringLiteral("SkyTemperature")).value_or(0.0), value(QStringLiteral("RainValue")).value_or(0.0),
               value(QStringLiteral("BrightnessValue")).value_or(0.0),
               value(QStringLiteral("AmbientTemperature")).value_or(0.0)});
}

} // namespace skyvane::sensorindi
