#include "SensorModel.h"

#include "SensorSettings.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace skyvane::sensorsim {

namespace {

const QStringList kTemperatureReadings = {
    QStringLiteral("SkyTemperature"), QStringLiteral("SkySensorTemperature"),
    QStringLiteral("AmbientTemperature"), QStringLiteral("RainHeaterTemperature")};
const QStringList kNumberReadings = {
    QStringLiteral("SkyTemperature"), QStringLiteral("RainValue"), QStringLiteral("BrightnessValue"),
    QStringLiteral("SkySensorTemperature"), QStringLiteral("AmbientTemperature"), QStringLiteral("RainHeaterPercent"),
    QStringLiteral("RainHeaterTemperature"), QStringLiteral("SwitchStatus")};
const QStringList kLevelReadings = {
    QStringLiteral("Condition_Cloud"), QStringLiteral("Condition_Rain"), QStringLiteral("Condition_Brightness")};

int clampLevel(int v) { return std::clamp(v, 0, 3); }

} // namespace

SensorModel::SensorModel() : rng_(std::random_device{}())
{
    settings_ = sensorserve::defaultSensorSettings();
    last_ = QDateTime::currentDateTime();
}

double SensorModel::n(double sigma)
{
    std::normal_distribution<double> d(0.0, sigma);
    return d(rng_);
}

void SensorModel::step(const QDateTime& now)
{
    // Slow drifts pulled back to their centres, plus reading noise.
    skyDrift_ += -0.1 * skyDrift_ + n(0.4);
    ambientDrift_ += -0.05 * ambientDrift_ + n(0.1);
    sky_ = -20.0 + skyDrift_ + n(0.3);
    ambient_ = 8.0 + ambientDrift_;
    skySensor_ = ambient_ - 2.0 + n(0.1);
    rain_ = 2700.0 + n(15.0);
    // Brightness follows the hour: dark at night, very light at midday.
    const double hour = now.time().msecsSinceStartOfDay() / 3600000.0;
    const double sun = std::cos((hour - 13.0) / 24.0 * 2.0 * M_PI); // 1 at 13:00, -1 at 01:00
    brightness_ = std::max(0.0, sun > -0.2 ? 60000.0 * (sun + 0.2) / 1.2 : 0.0) + 50.0 + n(5.0);
    heaterPercent_ = std::clamp(10.0 + n(1.0), 0.0, 100.0);
    heaterTemperature_ = ambient_ + 3.0 + n(0.2);
    if (!frozen_.contains(QStringLiteral("LastReading"))) last_ = now;

    ring_.add({raw(QStringLiteral("SkyTemperature")), raw(QStringLiteral("RainValue")),
               raw(QStringLiteral("BrightnessValue")), raw(QStringLiteral("AmbientTemperature"))});
}

double SensorModel::toUnit(double c) const { return units_ == QLatin1String("F") ? c * 9.0 / 5.0 + 32.0 : c; }
double SensorModel::fromUnit(double v) const { return units_ == QLatin1String("F") ? (v - 32.0) * 5.0 / 9.0 : v; }

double SensorModel::raw(const QString& name) const
{
    if (auto it = frozen_.constFind(name); it != frozen_.constEnd()) {
        const double v = it->toDouble();
        return kTemperatureReadings.contains(name) ? fromUnit(v) : v;
    }
    if (name == QLatin1String("SkyTemperature")) return sky_;
    if (name == QLatin1String("RainValue")) return rain_;
    if (name == QLatin1String("BrightnessValue")) return brightness_;
    if (name == QLatin1String("SkySensorTemperature")) return skySensor_;
    if (name == QLatin1String("AmbientTemperature")) return ambient_;
    if (name == QLatin1String("RainHeaterPercent")) return heaterPercent_;
    if (name == QLatin1String("RainHeaterTemperature")) return heaterTemperature_;
    if (name == QLatin1String("SwitchStatus")) return switchStatus_;
    return 0.0;
}

bool SensorModel::isReading(const QString& name)
{
    return kNumberReadings.contains(name) || kLevelReadings.contains(name) || name == QLatin1String("RainHeaterStatus")
        || name == QLatin1String("LastReading");
}

QVariant SensorModel::reading(const QString& name) const
{
    if (name == QLatin1String("Condition_Cloud")) return cloudLevel();
    if (name == QLatin1String("Condition_Rain")) return rainLevel();
    if (name == QLatin1String("Condition_Brightness")) return brightnessLevel();
    if (name == QLatin1String("RainHeaterStatus")) return frozen_.value(name, heaterStatus_);
    if (name == QLatin1String("LastReading")) return frozen_.value(name, last_);
    if (frozen_.contains(name)) return frozen_.value(name).toDouble();
    if (kTemperatureReadings.contains(name)) return toUnit(raw(name));
    if (kNumberReadings.contains(name)) return raw(name);
    return {};
}

bool SensorModel::freeze(const QString& name, const QVariant& value, QString* error)
{
    auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (!isReading(name)) return fail(QStringLiteral("no reading named %1").arg(name));
    if (kLevelReadings.contains(name)) {
        bool ok = false;
        const int v = value.toInt(&ok);
        if (!ok) return fail(QStringLiteral("%1 needs a level 0..3").arg(name));
        forced_[kLevelReadings.indexOf(name)] = clampLevel(v);
        return true;
    }
    if (name == QLatin1String("LastReading")) {
        QDateTime t = value.toDateTime();
        if (!t.isValid()) t = QDateTime::fromString(value.toString(), Qt::ISODate);
        if (!t.isValid()) return fail(QStringLiteral("LastReading needs a date"));
        frozen_.insert(name, t);
        return true;
    }
    if (name == QLatin1String("RainHeaterStatus")) {
        frozen_.insert(name, value.toString());
        return true;
    }
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok) return fail(QStringLiteral("%1 needs a number").arg(name));
    frozen_.insert(name, d);
    return true;
}

void SensorModel::release(const QString& name)
{
    if (name.isEmpty()) {
        frozen_.clear();
        forced_[0] = forced_[1] = forced_[2] = -1;
        return;
    }
    if (int i = int(kLevelReadings.indexOf(name)); i >= 0) forced_[i] = -1;
    frozen_.remove(name);
}

void SensorModel::forceLevels(int cloud, int rain, int brightness)
{
    forced_[0] = cloud < 0 ? -1 : clampLevel(cloud);
    forced_[1] = rain < 0 ? -1 : clampLevel(rain);
    forced_[2] = brightness < 0 ? -1 : clampLevel(brightness);
}

int SensorModel::cloudLevel() const
{
    if (forced_[0] >= 0) return forced_[0];
    return sensorserve::cloudLevelOf(settings_, raw(QStringLiteral("SkyTemperature")));
}

int SensorModel::rainLevel() const
{
    if (forced_[1] >= 0) return forced_[1];
    return sensorserve::rainLevelOf(settings_, raw(QStringLiteral("RainValue")), false);
}

int SensorModel::brightnessLevel() const
{
    if (forced_[2] >= 0) return forced_[2];
    return sensorserve::brightnessLevelOf(settings_, raw(QStringLiteral("BrightnessValue")), true);
}

QVariantList SensorModel::history(int graph) const { return ring_.graph(graph); }

} // namespace skyvane::sensorsim
