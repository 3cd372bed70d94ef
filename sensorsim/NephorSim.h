#pragma once
// The sensor-server stand-in: publishes the class "XOB_Nephor.Nephor" with
// every member the monitor calls or forwards, the server's main window
// ("MForm") with its limit controls, and the control object "/Control" through
// which tests and demonstrations steer the simulation and ask what the
// monitor sent.

#include "AutomationServer.h"
#include "NephorService.h"
#include "SensorBackend.h"
#include "SensorModel.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

namespace skyvane::sensorsim {

using sensorserve::kFormInterface;
using sensorserve::kFormPath;
using sensorserve::kNumberBoxInterface;
using sensorserve::kProgId;
inline constexpr const char* kControlPath = "/Control";
inline constexpr const char* kControlInterface = "XOB.NephorSim.Control";

struct Options {
    QString version = QStringLiteral("5.30.001");
    QString role = QStringLiteral("MASTER");
    int readyDelayMs = 1500; // -1: never ready
};

// The served class comes from NephorService; the stand-in is its backend
// (the simulated sensor) and adds the control object.
class NephorSim : public QObject, private sensorserve::SensorBackend {
    Q_OBJECT
public:
    NephorSim(const QDBusConnection& bus, const Options& options, QObject* parent = nullptr);
    ~NephorSim() override;

    // Registers every object and takes the bus name.
    bool start(QString* error = nullptr);
    // Runs the lines of a script file (see docs/sensor-standin.md).
    bool loadScript(const QString& path, QString* error = nullptr);
    // Runs one control command given as words, as a script line does.
    bool runCommand(const QStringList& words, QString* error = nullptr);

    // The classes, for the introspection document.
    static std::shared_ptr<automation::ClassSpec> nephorClass();
    static std::shared_ptr<automation::ClassSpec> formClass();
    static std::shared_ptr<automation::ClassSpec> numberBoxClass();
    static std::shared_ptr<automation::ClassSpec> controlClass();
    // Every interface the stand-in serves, as one document.
    static QString introspectionDocument();

    SensorModel& model() { return model_; }

private:
    // SensorBackend
    QVariant reading(const QString& name) const override { return model_.reading(name); }
    bool hasSetting(const QString& name) const override { return model_.hasSetting(name); }
    QVariant setting(const QString& name) const override { return model_.setting(name); }
    void setSetting(const QString& name, const QVariant& value) override;
    QString temperatureUnits() const override { return model_.temperatureUnits(); }
    void setTemperatureUnits(const QString& units) override { model_.setTemperatureUnits(units); }
    QString version() const override { return options_.version; }
    QString role() const override { return options_.role; }
    bool dataReady() const override { return ready_; }
    bool deviceRunning() const override { return running_; }
    bool transferError() const override { return xferError_; }
    void deviceStart() override;
    void setSwitch(double value) override { model_.setSwitchStatus(value); }
    QVariantList history(int graph) const override { return model_.history(graph); }
    int firstSlot() const override { return model_.firstSlot(); }
    int lastSlot() const override { return model_.lastSlot(); }

    automation::Reply control(automation::Call& call);
    void takeReading();
    void armReadingTimer();

    QDBusConnection bus_;
    Options options_;
    SensorModel model_;
    sensorserve::NephorService service_;
    QTimer readTimer_;
    QTimer readyTimer_;

    // State the tests set.
    bool running_ = false;
    bool ready_ = false;
    bool xferError_ = false;
};

} // namespace skyvane::sensorsim
