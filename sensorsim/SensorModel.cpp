#include "SensorModel.h"

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
    // Cloud: sky temperature (°C) below Clear is clear, below Cloudy cloudy,
    // else overcast; above VCloudy the sensor can not tell (unknown level).
    settings_.insert(QStringLiteral("ThreshTempClear"), -15.0);
    settings_.insert(QStringLiteral("ThreshTempCloudy"), -5.0);
    settings_.insert(QStringLiteral("ThreshTempVCloudy"), 30.0);
    settings_.insert(QStringLiteral("CloudUnknowConditionValue"), 0);
    // Rain: the sensor's frequency falls as it gets wet. At or above Dry it is
    // dry, at or above Wet wet, else rain; below Rain the reading is unknown.
    settings_.insert(QStringLiteral("ThreshRainDry"), 2000.0);
    settings_.insert(QStringLiteral("ThreshRainWet"), 1700.0);
    settings_.insert(QStringLiteral("ThreshRainRain"), 400.0);
    settings_.insert(QStringLiteral("RainUnknowConditionValue"), 0);
    // Brightness: below Dark dark, below Ligth light, else very light; above
    // VLigth the sensor is saturated (unknown level).
    settings_.insert(QStringLiteral("ThreshBrightnessDark"), 1000.0);
    settings_.insert(QStringLiteral("ThreshBrightnessLigth"), 20000.0);
    settings_.insert(QStringLiteral("ThreshBrightnessVLigth"), 100000.0);
    settings_.insert(QStringLiteral("BrightnessUnknowConditionValue"), 0);
    // Colours (blue x 65536 + green x 256 + red).
    settings_.insert(QStringLiteral("ColorClear"), 0x00FF00);
    settings_.insert(QStringLiteral("ColorCloudy"), 0x00FFFF);
    settings_.insert(QStringLiteral("ColorVCloudy"), 0x0000FF);
    settings_.insert(QStringLiteral("ColorDry"), 0x00FF00);
    settings_.insert(QStringLiteral("ColorWet"), 0x00FFFF);
    settings_.insert(QStringLiteral("ColorRain"), 0x0000FF);
    settings_.insert(QStringLiteral("ColorDark"), 0x00FF00);
    settings_.insert(QStringLiteral("ColorLight"), 0x00FFFF);
    settings_.insert(QStringLiteral("ColorVLight"), 0x0000FF);
    settings_.insert(QStringLiteral("DescriptionClear"), QStringLiteral("Clear"));
    settings_.insert(QStringLiteral("DescriptionCloudy"), QStringLiteral("Cloudy"));
    settings_.insert(QStringLiteral("DescriptionVCloudy"), QStringLiteral("Overcast"));
    settings_.insert(QStringLiteral("DescriptionDry"), QStringLiteral("Dry"));
    settings_.insert(QStringLiteral("DescriptionWet"), QStringLiteral("Wet"));
    settings_.insert(QStringLiteral("DescriptionRain"), QStringLiteral("Rain"));
    settings_.insert(QStringLiteral("DescriptionDark"), QStringLiteral("Dark"));
    settings_.insert(QStringLiteral("DescriptionLight"), QStringLiteral("Light"));
    settings_.insert(QStringLiteral("DescriptionVLight"), QStringLiteral("Very Light"));
    settings_.insert(QStringLiteral("TempFactorON"), true);
    settings_.insert(QStringLiteral("TempFactorK1"), 33);
    settings_.insert(QStringLiteral("TempFactorK2"), 0);
    settings_.insert(QStringLiteral("TempFactorK3"), 4);
    settings_.insert(QStringLiteral("TempFactorK4"), 100);
    settings_.insert(QStringLiteral("TempFactorK5"), 100);
    settings_.insert(QStringLiteral("NoConsecutiveUnknownReads"), 3);
    settings_.insert(QStringLiteral("NoConsecutiveRS232Errors"), 3);
    settings_.insert(QStringLiteral("XOB_CloudAlarmDelay"), 0);
    settings_.insert(QStringLiteral("ReadCycle"), 2);
    settings_.insert(QStringLiteral("GraphFreq"), 1);
    settings_.insert(QStringLiteral("GraphTemperatureMax"), 30);
    settings_.insert(QStringLiteral("GraphTemperatureMin"), -40);
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

    const int slot = next_;
    ring_[0][slot] = raw(QStringLiteral("SkyTemperature"));
    ring_[1][slot] = raw(QStringLiteral("RainValue"));
    ring_[2][slot] = raw(QStringLiteral("BrightnessValue"));
    ring_[3][slot] = raw(QStringLiteral("AmbientTemperature"));
    next_ = (next_ + 1) % kHistory;
    count_ = std::min(count_ + 1, kHistory);
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
    const double t = raw(QStringLiteral("SkyTemperature"));
    if (t > setting(QStringLiteral("ThreshTempVCloudy")).toDouble())
        return clampLevel(setting(QStringLiteral("CloudUnknowConditionValue")).toInt());
    if (t < setting(QStringLiteral("ThreshTempClear")).toDouble()) return 1;
    if (t < setting(QStringLiteral("ThreshTempCloudy")).toDouble()) return 2;
    return 3;
}

int SensorModel::rainLevel() const
{
    if (forced_[1] >= 0) return forced_[1];
    const double v = raw(QStringLiteral("RainValue"));
    if (v < setting(QStringLiteral("ThreshRainRain")).toDouble())
        return clampLevel(setting(QStringLiteral("RainUnknowConditionValue")).toInt());
    if (v >= setting(QStringLiteral("ThreshRainDry")).toDouble()) return 1;
    if (v >= setting(QStringLiteral("ThreshRainWet")).toDouble()) return 2;
    return 3;
}

int SensorModel::brightnessLevel() const
{
    if (forced_[2] >= 0) return forced_[2];
    const double v = raw(QStringLiteral("BrightnessValue"));
    if (v > setting(QStringLiteral("ThreshBrightnessVLigth")).toDouble())
        return clampLevel(setting(QStringLiteral("BrightnessUnknowConditionValue")).toInt());
    if (v < setting(QStringLiteral("ThreshBrightnessDark")).toDouble()) return 1;
    if (v < setting(QStringLiteral("ThreshBrightnessLigth")).toDouble()) return 2;
    return 3;
}

QVariantList SensorModel::history(int graph) const
{
    QVariantList out;
    if (graph < 1 || graph > 4) return out;
    out.reserve(kHistory);
    for (int i = 0; i < kHistory; ++i) out << ring_[graph - 1][i];
    return out;
}

} // namespace skyvane::sensorsim
