#pragma once
// The monitor's side of the sensor server: connect, check the version, settle
// who drives the roof switch, take local control, start the device, wait for
// the first data, read once per cycle, release.
//
// Nothing here waits for the server. Every conversation sends its calls at
// once (they reach the server in order) and hands the answers to a callback
// when the last one has come or the call timeout has passed, so the thread
// that serves the window and the monitor's own clients never stops for the
// sensor server. A cycle's reads are therefore a few round trips, not one per
// member.
//
// A call that fails leaves its value missing; a reading with any missing
// value, a stopped device or a transfer-file error is a failed reading, and a
// failed reading is never shown or used as a good one. Once a call has timed
// out the object is suspended for the rest of the cycle, so a hung server
// costs one timeout per cycle at most; the next cycle tries again. When the
// server has gone away (restarted, crashed) the next cycle creates a new
// instance and takes control again.

#include "Automation.h"
#include "Clock.h"
#include "SensorSource.h"

#include <QDBusConnection>
#include <QDateTime>
#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace skyvane {

inline constexpr const char* kSensorProgId = "XOB_Nephor.Nephor";
inline constexpr const char* kSensorControlText = "XOB_Skyvane has control";

// The level names the server gives, in the order cloud (clear, cloudy, very
// cloudy), rain (dry, wet, rain), brightness (dark, light, very light).
inline constexpr std::array<const char*, 9> kSensorDescriptionMembers = {
    "DescriptionClear", "DescriptionCloudy", "DescriptionVCloudy", "DescriptionDry",   "DescriptionWet",
    "DescriptionRain",  "DescriptionDark",   "DescriptionLight",   "DescriptionVLight"};

class SensorLink final : public SensorSource {
public:
    SensorLink(QDBusConnection bus, Clock& clock);
    ~SensorLink() override;
    SensorLink(const SensorLink&) = delete;
    SensorLink& operator=(const SensorLink&) = delete;

    // Version text check: the text less its last 4 characters, read as a
    // number, must be at least 5.2.
    static bool versionAcceptable(const QString& versionText);

    // Connects as the Start procedure does; done runs once, later, with the
    // result. timeoutSeconds is read again on every pass of the data wait
    // (the user may change it meanwhile); the passes are one second apart on
    // the clock. release() meanwhile ends it with Cancelled.
    void connect(std::function<double()> timeoutSeconds, std::function<void(const ConnectResult&)> done) override;
    bool isConnecting() const override { return connecting_; }
    // Connecting and waiting for an answer of the server (not for the next
    // pass of the data wait).
    bool awaitingAnswer() const override { return connecting_ && !pollTimer_->isActive(); }

    // Gives local control back and drops the object. With wait, the server
    // is given up to half a second to take the release in (program exit);
    // without, the messages are sent and the monitor goes on.
    void release(bool wait = false) override;
    bool isConnected() const override { return object_ != nullptr; }
    bool dataReadyAtConnect() const { return connected_; }

    // One read cycle is two conversations; each runs done once, later.
    // 1. Lifts the suspension of the last cycle and reads every value and the
    //    level names, making sure that the server is still the one connected
    //    to (a new one gets a new instance, and control is taken again) and
    //    that it uses the temperature letter given (else the letter is sent
    //    and the values are read again).
    void read(const QString& letter, std::function<void(const SensorReadings&)> done) override;
    // 2. SetUnSafe with the flag, then XOB_SetSwitch with the switch value when
    //    this program drives the switch (else SwitchStatus is read), then
    //    DataReady.
    void report(bool unsafe, std::optional<double> switchValue, std::function<void(const SensorReport&)> done) override;

    // Sent without waiting for the answer.
    void alarmStop() override;
    void setSwitch(int value) override;

    // Raw access for members forwarded by the automation class.
    automation::LateBoundObject* object() override { return object_.get(); }
    QString role() const override { return role_; }
    QString lastError() const override { return lastError_; }
    void setCallTimeout(int ms) override { callTimeoutMs_ = ms; }
    int callTimeout() const override { return callTimeoutMs_; }

private:
    struct Gather;
    void takeControl(std::function<void(bool ok)> done);
    void pollDataReady(qint64 t0, std::shared_ptr<ConnectResult> r);
    void finishConnect(const ConnectResult& r);
    void reconnect(std::function<void(const std::optional<QString>&)> done);
    void readValues(std::function<void(const SensorReadings&)> done);
    void noteFailure(const automation::CallResult& r);
    void later(std::function<void()> fn);

    QDBusConnection bus_;
    Clock& clock_;
    std::unique_ptr<automation::LateBoundObject> object_;
    std::unique_ptr<ClockTimer> pollTimer_;
    std::function<double()> connectTimeout_;
    std::function<void(const ConnectResult&)> connectDone_;
    // Lives as long as this link; answers that come after it is gone, or
    // after a release (generation), are dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    int generation_ = 0;
    bool connecting_ = false;
    bool connected_ = false;
    bool lost_ = false; // the server went away while connected
    QString role_;
    QString lastError_;
    int callTimeoutMs_ = automation::kDefaultTimeoutMs;
};

} // namespace skyvane
