#pragma once
// What the served sensor-server class asks of the sensor behind it. The
// simulator answers from its simulated sensor, the INDI bridge from the
// devices of an INDI server; NephorService turns either into the members the
// monitor calls.

#include <QString>
#include <QStringList>
#include <QVariant>

namespace skyvane::sensorserve {

// The members that are readings of the sensor, answered by
// SensorBackend::reading: SkyTemperature, RainValue, BrightnessValue,
// SkySensorTemperature, AmbientTemperature, RainHeaterPercent,
// RainHeaterTemperature, SwitchStatus (doubles), RainHeaterStatus (text),
// LastReading (date), Condition_Cloud, Condition_Rain, Condition_Brightness
// (levels 0..3).
const QStringList& readingMembers();
bool isReadingMember(const QString& name);

class SensorBackend {
public:
    virtual ~SensorBackend() = default;

    // A reading by member name (see readingMembers()). Temperatures in the
    // current temperature unit.
    virtual QVariant reading(const QString& name) const = 0;

    // The sensor's settings by member name: thresholds, unknown-level values,
    // colours, descriptions, temperature factors, error counts, alarm delay,
    // ReadCycle, GraphFreq, GraphTemperatureMax and -Min.
    virtual bool hasSetting(const QString& name) const = 0;
    virtual QVariant setting(const QString& name) const = 0;
    virtual void setSetting(const QString& name, const QVariant& value) = 0;

    virtual QString temperatureUnits() const = 0;
    virtual void setTemperatureUnits(const QString& units) = 0;

    virtual QString version() const = 0;
    virtual QString role() const = 0;

    // The monitor's data test: good only while the device runs and there is
    // no transfer error; DataReady once valid readings exist.
    virtual bool dataReady() const = 0;
    virtual bool deviceRunning() const = 0;
    virtual bool transferError() const = 0;

    // Device_Start and XOB_SetSwitch (1 safe / open, 2 unsafe / closed).
    virtual void deviceStart() = 0;
    virtual void setSwitch(double value) = 0;

    // History for the graphs: graph 1 cloud (sky temperature), 2 rain, 3
    // brightness, 4 ambient temperature, as a ring; the slots of its oldest
    // and newest sample.
    virtual QVariantList history(int graph) const = 0;
    virtual int firstSlot() const = 0;
    virtual int lastSlot() const = 0;
};

} // namespace skyvane::sensorserve
