#pragma once
// What every sensor server behind the class shares: the settings a client
// can read and change (thresholds, colours, descriptions, ...) with their
// defaults, the classification of a reading into a level from three of
// those thresholds, and the history ring behind the graph members.

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <array>

namespace skyvane::sensorserve {

// The settings by member name, with sensible defaults for a cloud sensor
// measuring sky temperature, a rain sensor measuring a frequency (falling as
// it gets wet) and a brightness sensor rising with the light.
QHash<QString, QVariant> defaultSensorSettings();

// The level (1..3, or the unknown value clamped to 0..3) of a value from
// three thresholds. Rising: below first is 1, below second 2, else 3, and
// above beyond the sensor can not tell. Falling: at or above first is 1, at
// or above second 2, else 3, and below beyond it can not tell.
int classifyLevel(double value, double first, double second, double beyond, bool rising, int unknownLevel);

// The sky temperature, rain and brightness levels from the settings' own
// thresholds (ThreshTemp*, ThreshRain*, ThreshBrightness* and the
// *UnknowConditionValue settings). Sky temperature in Celsius.
int cloudLevelOf(const QHash<QString, QVariant>& settings, double skyCelsius);
int rainLevelOf(const QHash<QString, QVariant>& settings, double rain, bool rising);
int brightnessLevelOf(const QHash<QString, QVariant>& settings, double brightness, bool rising);

// Graph 1 cloud (sky temperature), 2 rain, 3 brightness, 4 ambient
// temperature; a ring of kSize samples each.
class HistoryRing {
public:
    static constexpr int kSize = 120;
    void add(const std::array<double, 4>& sample);
    QVariantList graph(int graph) const; // empty for a graph number not 1..4
    int firstSlot() const { return count_ < kSize ? 0 : next_; }
    int lastSlot() const { return count_ == 0 ? 0 : (next_ + kSize - 1) % kSize; }
    int count() const { return count_; }

private:
    double ring_[4][kSize] = {};
    int next_ = 0, count_ = 0;
};

} // namespace skyvane::sensorserve
