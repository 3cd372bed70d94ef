#pragma once
// Condition levels: the classification of the locally judged quantities
// against their three thresholds, the level descriptions and colours, and the
// texts and colours of the condition labels.

#include "ConditionTypes.h"

#include <QString>
#include <optional>

namespace skyvane::conditions {

// Description and background colour of one level label (ColorWind(i), ...).
struct LevelStyle {
    QString description;
    int colour = 0;
    bool operator==(const LevelStyle&) const = default;
};

// The user's thresholds, descriptions and colours. Only the five locally
// classified quantities use these; the sensor server keeps its own for cloud,
// rain and brightness, so their entries here stay unused.
struct LevelConfig {
    // Thresholds in the unit currently selected for the quantity (speed unit
    // for wind and gust, temperature unit for temperature and dew point,
    // percent for humidity). The dew-point thresholds apply to the spread,
    // temperature minus dew point.
    QuantityMap<PerLevel<double>> thresholds;
    QuantityMap<PerLevel<LevelStyle>> styles;

    // The factory settings (the same defaults the settings store falls back to).
    static LevelConfig defaults();
    PerLevel<QString> descriptions(Quantity q) const;
};

// Threshold classification: the first level whose threshold is at least the
// value; a value above the highest threshold is Unknown, and so is a value
// that could not be read (nullopt or NaN). A value equal to a threshold
// belongs to the lower level. The thresholds need not be ordered.
Level classify(double value, const PerLevel<double>& thresholds);
Level classify(std::optional<double> value, const PerLevel<double>& thresholds);

// ---- the LevelDescription family -------------------------------------------

// Level 0 "Unknown", levels 1..3 the given names, any other number empty.
QString levelDescription(qint64 level, const PerLevel<QString>& names);
inline QString levelDescription(Level level, const PerLevel<QString>& names)
{
    return levelDescription(toInt(level), names);
}
// Switch status: 0 "Unknown", 1 "Opened", 2 "Closed", other numbers empty.
QString switchStatusText(qint64 status);
// Safety: true "Unsafe", false "Safe", no value empty.
QString safetyText(std::optional<bool> unsafe);


// The three level names of cloud, rain and brightness as the sensor server
// currently describes them.
struct SensorLevelNames {
    PerLevel<QString> cloud, rain, brightness;
    const PerLevel<QString>& of(Quantity q) const;
};

// Foreground colour of a condition label: orange when the current level
// counts as unsafe, yellow otherwise; wind and gust are orange whenever their
// level is Unknown.
int conditionLabelColour(Quantity q, Level level, bool countsUnsafe);

// What the weather-station reading publishes to the classification.
struct StationValues {
    bool available = false; // the weather-station-valid flag
    std::optional<double> windSpeed;
    std::optional<double> gust;
    std::optional<double> humidity;
    // The outside temperature of this reading (nullopt when it could not be
    // read).
    std::optional<double> temperature;
    // The temperature and dew point of this same reading as the value labels
    // show them, in the current temperature unit ("12.3", "8.1 °C"); the
    // spread is taken from these. Empty when the reading has no such value:
    // a spread needs both values of one reading, never one of them kept from
    // an earlier one.
    QString temperatureCaption;
    QString dewPointCaption;
};

// Reads the number at the start of a value caption: an optional sign, digits
// and one decimal separator (the regional one or '.'), optionally followed by
// a blank and a unit. nullopt when there is no number.
std::optional<double> captionNumber(const QString& caption);

// The eight condition levels of the main window and the texts of their
// condition labels (LCondCloud, ..., LCondHumidity). Levels start Unknown when
// the program starts.
class ConditionBoard {
public:
    Level level(Quantity q) const { return levels_[q]; }
    const QuantityMap<Level>& levels() const { return levels_; }
    const QString& labelText(Quantity q) const { return labels_[q]; }

    // The sensor reading stores the three levels it read from the sensor
    // server (Condition_Cloud, Condition_Rain, Condition_Brightness).
    void storeSensorLevels(qint64 cloud, qint64 rain, qint64 brightness);
    // ShowCloudCondition, ShowRainCondition, ShowBrightnessCondition: while
    // the sensor data are old or faulty the labels are left as they are.
    void showSensorConditions(bool sensorDataFlagged, const SensorLevelNames& names);
    // The sensor reading blanks the three labels when the server is in error.
    void blankSensorConditions();

    // ClassifyTemperature, right after a temperature was shown. Without a
    // temperature the label is emptied and the level left alone: whether the
    // reading had none (Unknown) or there was no reading at all (level kept)
    // is for classifyStation to say.
    void classifyTemperature(std::optional<double> temperature, const LevelConfig& config);
    // The temperature, then ClassifyDewPoint, ClassifyHumidity, ClassifyWind,
    // ClassifyGust, in this order. Without weather-station data the five
    // labels are emptied and the levels kept, the temperature like the
    // others. A value that is present but cannot be read (a missing number, a
    // caption that is not a number) makes its level Unknown.
    void classifyStation(const StationValues& values, const LevelConfig& config);

    // Monitoring starts: the five station levels are Unknown until a read of
    // this run counts, so that nothing from before the Stop passes as data.
    void forgetStationLevels();

    // Sets a level directly (tests, and a client-facing restore if ever needed).
    void setLevel(Quantity q, Level l) { levels_[q] = l; }

private:
    void classifyInto(Quantity q, std::optional<double> value, const LevelConfig& config);

    QuantityMap<Level> levels_{Level::Unknown};
    QuantityMap<QString> labels_;
};

} // namespace skyvane::conditions
