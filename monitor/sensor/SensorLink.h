#pragma once
// The monitor's side of the sensor server: connect, check the version, settle
// who drives the roof switch, take local control, start the device, wait for
// the first data, read once per cycle, release.
//
// Every call goes through a LateBoundObject with a short timeout. A call that
// fails leaves its value missing; a reading with any missing value, a stopped
// device or a transfer-file error is a failed reading, and a failed reading is
// never shown or used as a good one. Once a call has timed out the object is
// suspended for the rest of the cycle, so a hung server costs one timeout per
// cycle at most; the next cycle tries again. When the server has gone away
// (restarted, crashed) the next cycle creates a new instance.

#include "Automation.h"
#include "Clock.h"

#include <QDBusConnection>
#include <QDateTime>
#include <functional>
#include <memory>
#include <optional>

namespace skyvane {

inline constexpr const char* kSensorProgId = "XOB_Nephor.Nephor";
inline constexpr const char* kSensorControlText = "XOB_Skyvane has control";

struct SensorReadings {
    int cloud = 0;      // CloudCond, 0 = unknown
    int rain = 0;       // RainCond
    int brightness = 0; // BrightnessCond
    double skyTemperature = 0;
    double rainValue = 0;
    double brightnessValue = 0;
    double skySensorTemperature = 0;
    double ambientTemperature = 0;
    double rainHeaterPercent = 0;
    double rainHeaterTemperature = 0;
    QString rainHeaterStatus;
    QDateTime lastReading;
    bool deviceRunning = false;
    bool transferError = false;
    // Every member answered. When false the values above are not to be shown.
    bool complete = false;
    // Data good: complete, device running and no transfer-file error.
    bool good() const { return complete && deviceRunning && !transferError; }
};

enum class ConnectOutcome {
    Connected,
    NoServer,       // creation failed
    VersionTooOld,  // the server's version is below 5.2
    NoData,         // DataReady did not come within the timeout
};

struct ConnectResult {
    ConnectOutcome outcome = ConnectOutcome::NoServer;
    QString versionText;   // as the server gave it
    QString role;          // XOB_DeviceRole
    bool master = false;   // role is "MASTER": this monitor may drive the switch
    QString detail;        // why it failed, for logs and the status tip
    bool ok() const { return outcome == ConnectOutcome::Connected; }
};

class SensorLink {
public:
    SensorLink(QDBusConnection bus, Clock& clock);
    ~SensorLink();

    // Version text check: the text less its last 4 characters, read as a
    // number, must be at least 5.2.
    static bool versionAcceptable(const QString& versionText);

    // Connects as the Start procedure does. timeoutSeconds is read again on
    // every pass of the data wait (the user may change it meanwhile); each
    // pass waits one second through the clock, which keeps the window alive.
    ConnectResult connect(const std::function<double()>& timeoutSeconds);
    // Gives local control back and drops the object.
    void release();
    bool isConnected() const { return object_ != nullptr; }
    bool dataReadyAtConnect() const { return connected_; }

    // Start of a read cycle: lifts the suspension of the last cycle and, when
    // the server went away, tries once to create a new instance.
    void beginCycle();
    SensorReadings read();

    // The other members the read cycle uses. Each returns nullopt when the
    // call failed.
    std::optional<QString> temperatureUnits();
    bool setTemperatureUnits(const QString& letter);
    bool setUnsafe(bool& unsafe);
    bool setSwitch(double& value);
    bool setSwitch(int& value);
    std::optional<double> switchStatus();
    std::optional<bool> dataReady();
    bool alarmStop();
    std::optional<QString> description(const QString& member);

    // Raw access for members forwarded by the automation class.
    automation::LateBoundObject* object() { return object_.get(); }
    QString role() const { return role_; }
    QString lastError() const { return lastError_; }
    void setCallTimeout(int ms) { callTimeoutMs_ = ms; }

private:
    bool takeControl();
    template <typename T> std::optional<T> getAs(const char* member);

    QDBusConnection bus_;
    Clock& clock_;
    std::unique_ptr<automation::LateBoundObject> object_;
    bool connected_ = false;
    bool lost_ = false; // the server went away while connected
    QString role_;
    QString lastError_;
    int callTimeoutMs_ = automation::kDefaultTimeoutMs;
};

} // namespace skyvane
