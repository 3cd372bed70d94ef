#pragma once
// The sensor-server stand-in XOB_Nephor_sim as a child process of a test, on
// a private bus, with typed helpers for its control object (/Control,
// interface XOB.NephorSim.Control).
//
//     PrivateBus bus;
//     SensorStandIn sim(bus, {"--ready-delay", "0"});
//     ASSERT_TRUE(sim.isRunning()) << sim.error().toStdString();
//     sim.setReading("SkyTemperature", -2.0);
//     ... run the monitor's code against bus.connection() ...
//     EXPECT_TRUE(sim.lastUnsafe());

#include "Automation.h"
#include "PrivateBus.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace skyvane::testing {

class SensorStandIn {
public:
    static constexpr const char* kBusName = "XOB_Nephor.Nephor";

    // Starts the program from SKYVANE_BIN_DIR (else the build's program
    // folder) with the extra arguments, and waits until it owns its bus name
    // (a few seconds at most).
    explicit SensorStandIn(PrivateBus& bus, const QStringList& arguments = {});
    ~SensorStandIn(); // kills the program
    SensorStandIn(const SensorStandIn&) = delete;
    SensorStandIn& operator=(const SensorStandIn&) = delete;

    bool isRunning() const;
    QString error() const { return error_; }
    qint64 pid() const { return process_.processId(); }
    static QString programPath();

    // Ends the program at once (the server disappears from the bus).
    void kill();
    // Asks the program to quit and waits for it to end.
    bool quit(int waitMs = 3000);

    // The control object, for calls without a helper below.
    automation::LateBoundObject* control() { return control_.get(); }
    automation::CallResult controlCall(const QString& member, QVariantList args = {});

    // Steering. Each returns false when the call failed (see lastError()).
    bool setReading(const QString& name, const QVariant& value); // freezes it
    bool releaseReading(const QString& name = {});
    bool setLevels(int cloud, int rain, int brightness);        // -1: classified
    bool setDeviceRunning(bool running);
    bool setXferError(bool error);
    bool setReadyDelay(int ms);                                 // -1: never ready
    bool setDataReady(bool ready);
    bool setRole(const QString& role);
    bool setVersion(const QString& version);
    bool readNow();
    // The program answers, then stops answering anyone for ms.
    bool hang(int ms);

    // What the monitor sent.
    bool lastUnsafe();
    int unsafeCount();
    double lastSwitch();
    int switchCount();
    bool localControl();
    QString localControlLabel();
    QVariantList localControlCalls(); // each a QVariantList {bool, QString}
    QString temperatureUnits();
    bool switchCtrl();
    int switchCtrlCount();
    int deviceStartCount();
    int alarmStopCount();
    double formValue(const QString& name); // "UnknowRainLT", "RainLimit(2)", "CloudTempSet", ...
    QStringList callLog();                 // D-Bus member names, e.g. "get_Version"
    bool clearCallLog();
    int instanceCount();

    QString lastError() const { return lastError_; }

private:
    QVariant value(const QString& member, QVariantList args = {});
    bool command(const QString& member, QVariantList args = {});

    PrivateBus& bus_;
    QProcess process_;
    QString error_;
    QString lastError_;
    QString connName_;
    std::unique_ptr<automation::LateBoundObject> control_;
};

} // namespace skyvane::testing
