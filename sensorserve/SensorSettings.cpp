#include "SensorSettings.h"

#include "Colours.h"

#include <algorithm>

namespace skyvane::sensorserve {

QHash<QString, QVariant> defaultSensorSettings()
{
    QHash<QString, QVariant> s;
    // Cloud: sky temperature (°C) below Clear is clear, below Cloudy cloudy,
    // else overcast; above VCloudy the sensor can not tell (unknown level).
    s.insert(QStringLiteral("ThreshTempClear"), -15.0);
    s.insert(QStringLiteral("ThreshTempCloudy"), -5.0);
    s.insert(QStringLiteral("ThreshTempVCloudy"), 30.0);
    s.insert(QStringLiteral("CloudUnknowConditionValue"), 0);
    // Rain: the sensor's frequency falls as it gets wet. At or above Dry it is
    // dry, at or above Wet wet, else rain; below Rain the reading is unknown.
    s.insert(QStringLiteral("ThreshRainDry"), 2000.0);
    s.insert(QStringLiteral("ThreshRainWet"), 1700.0);
    s.insert(QStringLiteral("ThreshRainRain"), 400.0);
    s.insert(QStringLiteral("RainUnknowConditionValue"), 0);
    // Brightness: below Dark dark, below Ligth light, else very light; above
    // VLigth the sensor is saturated (unknown level).
    s.insert(QStringLiteral("ThreshBrightnessDark"), 1000.0);
    s.insert(QStringLiteral("ThreshBrightnessLigth"), 20000.0);
    s.insert(QStringLiteral("ThreshBrightnessVLigth"), 100000.0);
    s.insert(QStringLiteral("BrightnessUnknowConditionValue"), 0);
    s.insert(QStringLiteral("ColorClear"), colour::Lime);
    s.insert(QStringLiteral("ColorCloudy"), colour::Yellow);
    s.insert(QStringLiteral("ColorVCloudy"), colour::Red);
    s.insert(QStringLiteral("ColorDry"), colour::Lime);
    s.insert(QStringLiteral("ColorWet"), colour::Yellow);
    s.insert(QStringLiteral("ColorRain"), colour::Red);
    s.insert(QStringLiteral("ColorDark"), colour::Lime);
    s.insert(QStringLiteral("ColorLight"), colour::Yellow);
    s.insert(QStringLiteral("ColorVLight"), colour::Red);
    s.insert(QStringLiteral("DescriptionClear"), QStringLiteral("Clear"));
    s.insert(QStringLiteral("DescriptionCloudy"), QStringLiteral("Cloudy"));
    s.insert(QStringLiteral("DescriptionVCloudy"), QStringLiteral("Overcast"));
    s.insert(QStringLiteral("DescriptionDry"), QStringLiteral("Dry"));
    s.insert(QStringLiteral("DescriptionWet"), QStringLiteral("Wet"));
    s.insert(QStringLiteral("DescriptionRain"), QStringLiteral("Rain"));
    s.insert(QStringLiteral("DescriptionDark"), QStringLiteral("Dark"));
    s.insert(QStringLiteral("DescriptionLight"), QStringLiteral("Light"));
    s.insert(QStringLiteral("DescriptionVLight"), QStringLiteral("Very Light"));
    s.insert(QStringLiteral("TempFactorON"), true);
    s.insert(QStringLiteral("TempFactorK1"), 33);
    s.insert(QStringLiteral("TempFactorK2"), 0);
    s.insert(QStringLiteral("TempFactorK3"), 4);
    s.insert(QStringLiteral("TempFactorK4"), 100);
    s.insert(QStringLiteral("TempFactorK5"), 100);
    s.insert(QStringLiteral("NoConsecutiveUnknownReads"), 3);
    s.insert(QStringLiteral("NoConsecutiveRS232Errors"), 3);
    s.insert(QStringLiteral("XOB_CloudAlarmDelay"), 0);
    s.insert(QStringLiteral("ReadCycle"), 2);
    s.insert(QStringLiteral("GraphFreq"), 1);
    s.insert(QStringLiteral("GraphTemperatureMax"), 30);
    s.insert(QStringLiteral("GraphTemperatureMin"), -40);
    return s;
}

int classifyLevel(double v, double first, double second, double beyond, bool rising, int unknownLevel)
{
    if (rising) {
        if (v > beyond) return std::clamp(unknownLevel, 0, 3);
        if (v < first) return 1;
        if (v < second) return 2;
        return 3;
    }
    if (v < beyond) return std::clamp(unknownLevel, 0, 3);
    if (v >= first) return 1;
    if (v >= second) return 2;
    return 3;
}

namespace {
int levelOf(const QHash<QString, QVariant>& s, double v, const char* a, const char* b, const char* c, const char* unknown,
            bool rising)
{
    return classifyLevel(v, s.value(QLatin1String(a)).toDouble(), s.value(QLatin1String(b)).toDouble(),
                         s.value(QLatin1String(c)).toDouble(), rising, s.value(QLatin1String(unknown)).toInt());
}
} // namespace

int cloudLevelOf(const QHash<QString, QVariant>& s, double skyCelsius)
{
    return levelOf(s, skyCelsius, "ThreshTempClear", "ThreshTempCloudy", "ThreshTempVCloudy", "CloudUnknowConditionValue", true);
}

int rainLevelOf(const QHash<QString, QVariant>& s, double rain, bool rising)
{
    return levelOf(s, rain, "ThreshRainDry", "ThreshRainWet", "ThreshRainRain", "RainUnknowConditionValue", rising);
}

int brightnessLevelOf(const QHash<QString, QVariant>& s, double brightness, bool rising)
{
    return levelOf(s, brightness, "ThreshBrightnessDark", "ThreshBrightnessLigth", "ThreshBrightnessVLigth",
                   "BrightnessUnknowConditionValue", rising);
}

void HistoryRing::add(const std::array<double, 4>& sample)
{
    for (int g = 0; g < 4; ++g) ring_[g][next_] = sample[std::size_t(g)];
    next_ = (next_ + 1) % kSize;
    count_ = std::min(count_ + 1, kSize);
}

QVariantList HistoryRing::graph(int graph) const
{
    QVariantList out;
    if (graph < 1 || graph > 4) return out;
    out.reserve(kSize);
    for (int i = 0; i < kSize; ++i) out << ring_[graph - 1][i];
    return out;
}

} // namespace skyvane::sensorserve
