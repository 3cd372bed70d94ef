#pragma once
// The simulated cloud, rain and brightness sensor behind the stand-in: a sky
// temperature drifting around -20 °C with noise, a dry rain sensor, a
// brightness that follows the time of day, and the condition levels classified
// from the sensor's own thresholds. Any reading can be frozen at a given value
// (the simulation then leaves it alone) and any level forced.

#include "SensorSettings.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVariant>
#include <random>

namespace skyvane::sensorsim {

class SensorModel {
public:
    SensorModel();

    // One reading of the device at time now: every reading that is not
    // frozen moves on; LastReading becomes now (unless frozen).
    void step(const QDateTime& now);
    void seed(quint32 s) { rng_.seed(s); }

    // Readings by member name: SkyTemperature, RainValue, BrightnessValue,
    // SkySensorTemperature, AmbientTemperature, RainHeaterPercent,
    // RainHeaterTemperature (doubles), RainHeaterStatus (text), LastReading
    // (date), SwitchStatus (double), Condition_Cloud, Condition_Rain,
    // Condition_Brightness (levels). Temperatures are reported in the
    // current temperature unit.
    QVariant reading(const QString& name) const;
    static bool isReading(const QString& name);
    // Freezes a reading at value (in the reporting unit); false for an
    // unknown name or a value of the wrong kind.
    bool freeze(const QString& name, const QVariant& value, QString* error = nullptr);
    // Back to simulation; an empty name releases every reading and level.
    void release(const QString& name);

    // Levels 0..3; a forced level (>= 0) wins over the classification, -1
    // hands the level back to it.
    int cloudLevel() const;
    int rainLevel() const;
    int brightnessLevel() const;
    void forceLevels(int cloud, int rain, int brightness);

    // The sensor's settings by member name (thresholds, colours,
    // descriptions, temperature factors, error counts, alarm delay, read
    // cycle), with sensible defaults.
    QVariant setting(const QString& name) const { return settings_.value(name); }
    bool hasSetting(const QString& name) const { return settings_.contains(name); }
    void setSetting(const QString& name, const QVariant& v) { settings_.insert(name, v); }

    // "C" or "F" (anything else reports Celsius).
    QString temperatureUnits() const { return units_; }
    void setTemperatureUnits(const QString& u) { units_ = u; }
    void setSwitchStatus(double v) { if (!frozen_.contains(QStringLiteral("SwitchStatus"))) switchStatus_ = v; }

    // History for the graphs: graph 1 cloud (sky temperature), 2 rain, 3
    // brightness, 4 ambient temperature; a ring of kHistory samples.
    static constexpr int kHistory = sensorserve::HistoryRing::kSize;
    QVariantList history(int graph) const;
    int firstSlot() const { return ring_.firstSlot(); }
    int lastSlot() const { return ring_.lastSlot(); }

private:
    double raw(const QString& name) const; // simulated or frozen, Celsius
    double toUnit(double celsius) const;
    double fromUnit(double v) const;
    double n(double sigma);

    std::mt19937 rng_;
    double skyDrift_ = 0.0, ambientDrift_ = 0.0;
    double sky_ = -20.0, rain_ = 2700.0, brightness_ = 50.0, skySensor_ = 6.0, ambient_ = 8.0;
    double heaterPercent_ = 10.0, heaterTemperature_ = 11.0, switchStatus_ = 1.0;
    QString heaterStatus_ = QStringLiteral("Normal");
    QDateTime last_;
    QString units_ = QStringLiteral("C");
    QHash<QString, QVariant> frozen_;
    int forced_[3] = {-1, -1, -1};
    QHash<QString, QVariant> settings_;
    sensorserve::HistoryRing ring_;
};

} // namespace skyvane::sensorsim
