#pragma once
// What the read cycle needs of the sensor server: connect (version, role,
// control, first data), one read and one report per cycle, a few calls sent
// without waiting, release. SensorLink is the real one, over D-Bus; tests
// hand the monitor a scripted one, so that the read cycle can be driven in
// the test's own process.
//
// Every answer comes later, from the event loop, never inside the call that
// asks for it: the monitor's code is written for answers that take their
// time, and a source that answered at once would run it in an order the real
// one never does.

#include <QDateTime>
#include <QString>
#include <array>
#include <functional>
#include <optional>

namespace skyvane {

namespace automation {
class LateBoundObject;
}

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
    // The nine level names: cloud (clear, cloudy, very cloudy), rain (dry,
    // wet, rain), brightness (dark, light, very light). A name the server did
    // not give is empty.
    std::array<QString, 9> descriptions;
    // The names of one quantity's three levels, lowest first.
    enum NamedQuantity { CloudNames = 0, RainNames = 1, BrightnessNames = 2 };
    std::array<QString, 3> levelNames(NamedQuantity q) const
    {
        const std::size_t base = std::size_t(q) * 3;
        return {descriptions[base], descriptions[base + 1], descriptions[base + 2]};
    }
    // Data good: complete, device running and no transfer-file error.
    bool good() const { return complete && deviceRunning && !transferError; }
};

enum class ConnectOutcome {
    Connected,
    NoServer,       // creation failed
    VersionTooOld,  // the server's version is below 5.2
    NoData,         // DataReady did not come within the timeout
    Cancelled,      // released while connecting (Stop, unload)
};

struct ConnectResult {
    ConnectOutcome outcome = ConnectOutcome::NoServer;
    QString versionText;   // as the server gave it
    QString role;          // XOB_DeviceRole
    bool master = false;   // role is "MASTER": this monitor may drive the switch
    QString detail;        // why it failed, for logs and the status tip
    bool ok() const { return outcome == ConnectOutcome::Connected; }
};

// What the server answered to the end of a cycle.
struct SensorReport {
    std::optional<double> switchStatus; // only asked when this program does not drive the switch
    std::optional<bool> dataReady;
};

class SensorSource {
public:
    virtual ~SensorSource() = default;

    // Connects as the Start procedure does; done runs once, later, with the
    // result. timeoutSeconds is read again on every pass of the wait for the
    // first data (the user may change it meanwhile). release() meanwhile
    // ends it with Cancelled.
    virtual void connect(std::function<double()> timeoutSeconds, std::function<void(const ConnectResult&)> done) = 0;
    virtual bool isConnecting() const = 0;
    // Connecting and waiting for an answer of the server (not for the next
    // pass of the data wait, which only the clock moves on).
    virtual bool awaitingAnswer() const = 0;

    // Gives local control back and drops the connection. Answers to calls
    // made before are not to be counted on: they may never come. With wait,
    // the server is given a moment to take the release in (program exit).
    virtual void release(bool wait = false) = 0;
    virtual bool isConnected() const = 0;

    // One read cycle is two conversations; each runs done once, later.
    // read: every value and the level names, with the temperatures in the
    // unit of letter. A failed reading comes back as such (see
    // SensorReadings::good), never as an error of its own.
    virtual void read(const QString& letter, std::function<void(const SensorReadings&)> done) = 0;
    // report: the flag (SetUnSafe), the switch value when this program drives
    // the switch (else the server's switch status is asked), then DataReady.
    virtual void report(bool unsafe, std::optional<double> switchValue, std::function<void(const SensorReport&)> done) = 0;

    // Sent without waiting for the answer.
    virtual void alarmStop() = 0;
    virtual void setSwitch(int value) = 0;

    // XOB_DeviceRole as the server gave it at connect.
    virtual QString role() const = 0;
    virtual QString lastError() const = 0;
    // How long one call may wait for its answer.
    virtual void setCallTimeout(int ms) = 0;
    virtual int callTimeout() const = 0;

    // The server's object, for the members the automation class forwards to
    // it as they are; null when there is none (not connected, or a source
    // that is not a server on the bus). Those members then answer that the
    // sensor server is not there.
    virtual automation::LateBoundObject* object() { return nullptr; }
};

} // namespace skyvane
