#pragma once
// A sensor source for tests, in the test's own process: no bus, no server
// program. The test says what the next answers are; the source keeps, in
// order, every call the monitor made.
//
//     FakeClock clock;
//     auto src = std::make_unique<ScriptedSensorSource>(clock);
//     ScriptedSensorSource& sensor = *src;
//     MonitorCore core(clock, store, std::move(src), dir);
//     sensor.setLevels(1, 3, 1);
//     core.startProcedure();
//     sensor.settle();
//     EXPECT_EQ(sensor.lastUnsafe(), true);
//
// Answers come as the real server's do: later, from the event loop (or,
// for a call that times out, from the clock), never inside the call.
// settle() lets the ones on their way arrive. An answer is made when it is
// delivered, from the script as it stands then.

#include "Automation.h"
#include "Clock.h"
#include "SensorSource.h"

#include <QObject>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace skyvane::testing {

class ScriptedSensorSource final : public SensorSource {
public:
    explicit ScriptedSensorSource(Clock& clock);
    ~ScriptedSensorSource() override;
    ScriptedSensorSource(const ScriptedSensorSource&) = delete;
    ScriptedSensorSource& operator=(const ScriptedSensorSource&) = delete;

    // ---- what the server answers ------------------------------------------
    // How the next connects end. Connected (the default): control taken,
    // data at once. NoData: the wait for the first data makes its passes, a
    // second apart on the clock, until the monitor's timeout has passed (set
    // Connected meanwhile and the next pass finds data). NoServer and
    // VersionTooOld end with the first answer.
    void setConnectOutcome(ConnectOutcome outcome) { connectOutcome_ = outcome; }
    void setRole(const QString& role) { scriptRole_ = role; } // "MASTER" unless told

    // What every read returns from now on. Unless told: a good reading of a
    // clear, dry, dark sky with the server's usual level names. A reading
    // without a time of its own is stamped with the clock's time when it is
    // answered. The levels go out as set even when the reading is not good:
    // it is the monitor's business not to use them.
    SensorReadings& reading() { return reading_; }
    void setLevels(int cloud, int rain, int brightness);
    void setDeviceRunning(bool running) { reading_.deviceRunning = running; }
    void setTransferError(bool error) { reading_.transferError = error; }
    // Some member did not answer.
    void setComplete(bool complete) { reading_.complete = complete; }
    // SwitchStatus, answered when the monitor does not drive the switch;
    // the switch values the monitor sends set it.
    void setSwitchStatus(double value) { switchStatus_ = value; }
    void setDataReady(bool ready) { dataReady_ = ready; }

    // From now on no answer comes: the calls are kept until answerAgain(),
    // which sends them in order and lets later calls be answered again.
    void stopAnswering() { answering_ = false; }
    void answerAgain();
    // The next count reads are answered, once the call timeout has passed on
    // the clock, with a failed reading, and the rest of their cycle is not
    // heard (its report answers nothing): a hung server, one timeout a cycle.
    void timeOutReads(int count) { timeOutsLeft_ = count; }
    // The server has gone: connects find none, reads fail, reports answer
    // nothing. When it is back, the next read takes control again.
    void setGone(bool gone) { gone_ = gone; }

    // ---- what the monitor did -------------------------------------------------
    // Every call, whatever the script made of it: "connect", "read C",
    // "report unsafe=true switch=2", "report unsafe=false" (the switch left
    // to the server), "alarmStop", "setSwitch 2", "release", "release wait".
    const QStringList& calls() const { return calls_; }
    struct Report {
        bool unsafe = false;
        std::optional<double> switchValue;
    };
    const std::vector<Report>& reports() const { return reports_; }
    std::optional<bool> lastUnsafe() const;
    std::optional<double> lastSwitch() const;
    int alarmStops() const { return int(calls_.count(QStringLiteral("alarmStop"))); }
    // Times control was taken: at each connect that reached the data wait,
    // and again after the server had gone.
    int controlTaken() const { return controlTaken_; }
    void clearCalls();

    // Answers on their way through the event loop (not those held back, nor
    // those waiting for the clock).
    int answersInFlight() const { return inFlight_; }
    // Runs the event loop until no answer is on its way, including those the
    // answers bring about.
    void settle();

    // ---- SensorSource ----------------------------------------------------------
    void connect(std::function<double()> timeoutSeconds, std::function<void(const ConnectResult&)> done) override;
    bool isConnecting() const override { return connecting_; }
    bool awaitingAnswer() const override { return connecting_ && !pollTimer_->isActive(); }
    void release(bool wait = false) override;
    bool isConnected() const override { return connected_; }
    void read(const QString& letter, std::function<void(const SensorReadings&)> done) override;
    void report(bool unsafe, std::optional<double> switchValue, std::function<void(const SensorReport&)> done) override;
    void alarmStop() override;
    void setSwitch(int value) override;
    QString role() const override { return role_; }
    QString lastError() const override { return lastError_; }
    void setCallTimeout(int ms) override { callTimeoutMs_ = ms; }
    int callTimeout() const override { return callTimeoutMs_; }

    // A reading in which no member answered.
    static SensorReadings failedReading();

private:
    // Sends fn's answer through the event loop, or keeps it while the
    // server does not answer. Dropped when released meanwhile.
    void answer(std::function<void()> fn);
    void post(std::function<void()> fn);
    void afterCallTimeout(std::function<void()> fn);
    void connectAnswered();
    void dataWaitPass(qint64 t0, ConnectResult r);
    void finishConnect(const ConnectResult& r);
    void drop();
    SensorReadings answeredReading() const;

    Clock& clock_;
    QObject context_; // posted answers die with it
    std::unique_ptr<ClockTimer> pollTimer_;
    std::unique_ptr<ClockTimer> timeoutTimer_;
    std::deque<std::pair<qint64, std::function<void()>>> timedOut_; // due on msClock(), answer
    std::vector<std::function<void()>> held_;
    int generation_ = 0;
    int inFlight_ = 0;

    ConnectOutcome connectOutcome_ = ConnectOutcome::Connected;
    QString scriptRole_ = QStringLiteral("MASTER");
    SensorReadings reading_;
    double switchStatus_ = 1;
    bool dataReady_ = true;
    bool answering_ = true;
    bool gone_ = false;
    int timeOutsLeft_ = 0;

    std::function<double()> connectTimeout_;
    std::function<void(const ConnectResult&)> connectDone_;
    bool connecting_ = false;
    bool connected_ = false;
    bool suspended_ = false;   // a call of this cycle timed out
    bool lostControl_ = false; // reads found the server gone
    QString role_;
    QString lastError_;
    int callTimeoutMs_ = automation::kDefaultTimeoutMs;

    QStringList calls_;
    std::vector<Report> reports_;
    int controlTaken_ = 0;
};

} // namespace skyvane::testing
