#pragma once
// The sensor behind the bridge: the latest values of the INDI properties the
// configuration names, turned into the readings, levels and flags of the
// served class. It knows nothing of sockets or threads: IndiLink feeds it
// property updates and connection changes on the Qt thread, and it asks
// IndiLink (through the two hooks) to connect a device or set a switch.
//
// Data are good only while the server is connected, every configured device
// is connected, and every reading taken from a device has been sent within
// the maximum age. A driver that hangs keeps its connection but sends
// nothing, so its values age and turn faulty; a driver whose values simply
// do not change still sends them at its update period and stays good.

#include "BridgeConfig.h"
#include "Clock.h"
#include "SensorBackend.h"
#include "SensorSettings.h"

#include <QDateTime>
#include <QHash>
#include <QLoggingCategory>
#include <QMetaType>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcSensor)

namespace skyvane::sensorindi {

// One INDI property as a device last sent it.
struct IndiProperty {
    enum Kind { Number, Switch, Text, Light, Other };
    QString device;
    QString name;
    Kind kind = Other;
    QHash<QString, double> numbers;
    QHash<QString, bool> switches; // element -> On
    QHash<QString, QString> texts;
};

class IndiSensor : public sensorserve::SensorBackend {
public:
    IndiSensor(BridgeConfig config, Clock& clock, QString version);
    ~IndiSensor() override;

    // From the INDI side.
    void setServerConnected(bool up);
    void propertyUpdated(const IndiProperty& p);
    void propertyRemoved(const QString& device, const QString& name);
    void deviceRemoved(const QString& device);

    // Requests to the INDI side.
    std::function<void(const QString& device)> connectDeviceHook;
    std::function<void(const QString& device, const QString& property, const QString& element)> switchHook;

    bool serverConnected() const { return server_; }
    // Why data are not good right now (empty when they are).
    QString fault() const;
    // Takes a sample for the graphs (every ReadCycle seconds).
    void sample();
    const BridgeConfig& config() const { return config_; }

    // SensorBackend
    QVariant reading(const QString& name) const override;
    bool hasSetting(const QString& name) const override { return config_.settings.contains(name); }
    QVariant setting(const QString& name) const override { return config_.settings.value(name); }
    void setSetting(const QString& name, const QVariant& value) override;
    QString temperatureUnits() const override { return units_; }
    void setTemperatureUnits(const QString& units) override { units_ = units; }
    QString version() const override { return version_; }
    QString role() const override { return config_.role; }
    bool dataReady() const override;
    bool deviceRunning() const override;
    bool transferError() const override;
    void deviceStart() override;
    void setSwitch(double value) override;
    QVariantList history(int graph) const override { return ring_.graph(graph); }
    int firstSlot() const override { return ring_.firstSlot(); }
    int lastSlot() const override { return ring_.lastSlot(); }

    // Called after a setting changed (the program re-arms its sample timer
    // for ReadCycle).
    std::function<void(const QString& name)> settingChangedHook;

private:
    struct Value {
        bool has = false;
        double number = 0.0;
        QString text;
        qint64 atMs = 0; // clock.msClock() of arrival
        QDateTime at;
    };
    // The value of a reading (scaled, cloud cover mapped; Celsius), if any.
    std::optional<double> value(const QString& reading) const;
    void take(const QString& reading, const ReadingSource& s, const IndiProperty& p);
    void requestConnect(const QString& device);
    bool tooOld(const ReadingSource& s, qint64 atMs, qint64 nowMs) const;
    double toUnit(double celsius) const { return units_ == QLatin1String("F") ? celsius * 9.0 / 5.0 + 32.0 : celsius; }

    BridgeConfig config_;
    Clock& clock_;
    QString version_;
    QString units_ = QStringLiteral("C");
    bool server_ = false;
    QHash<QString, Value> values_;          // by reading
    QHash<QString, int> deviceConnected_;   // device -> 1 on, 0 off (absent: not seen)
    QHash<QString, qint64> connectAsked_;   // device -> msClock of the last request
    int switchState_ = 0;                   // read back: 1 safe element on, 2 unsafe on, 0 not known
    double lastSwitch_ = 1.0;
    double switchSent_ = 0.0;
    qint64 switchSentAt_ = 0;
    QDateTime started_;
    sensorserve::HistoryRing ring_;
};

} // namespace skyvane::sensorindi

Q_DECLARE_METATYPE(skyvane::sensorindi::IndiProperty)
