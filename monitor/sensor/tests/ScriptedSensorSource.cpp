#include "ScriptedSensorSource.h"

#include <QCoreApplication>

namespace skyvane::testing {

namespace {
// A test whose answers keep bringing about more answers has a fault of its
// own; settle() stops there instead of spinning for ever.
constexpr int kSettleRounds = 10000;
} // namespace

ScriptedSensorSource::ScriptedSensorSource(Clock& clock) : clock_(clock)
{
    pollTimer_ = clock_.createTimer();
    pollTimer_->setSingleShot(true);
    timeoutTimer_ = clock_.createTimer();
    timeoutTimer_->setSingleShot(true);
    timeoutTimer_->setCallback([this] {
        // Every answer due by now, in the order they were asked.
        while (!timedOut_.empty() && timedOut_.front().first <= clock_.msClock()) {
            auto fn = std::move(timedOut_.front().second);
            timedOut_.pop_front();
            fn();
        }
        if (!timedOut_.empty()) {
            timeoutTimer_->setInterval(timedOut_.front().first - clock_.msClock());
            timeoutTimer_->start();
        }
    });

    reading_.cloud = reading_.rain = reading_.brightness = 1;
    reading_.skyTemperature = -20.0;
    reading_.rainValue = 2500;
    reading_.brightnessValue = 50;
    reading_.skySensorTemperature = 4.0;
    reading_.ambientTemperature = 5.0;
    reading_.rainHeaterPercent = 10;
    reading_.rainHeaterTemperature = 20;
    reading_.rainHeaterStatus = QStringLiteral("OK");
    reading_.deviceRunning = true;
    reading_.transferError = false;
    reading_.complete = true;
    const char* names[9] = {"Clear", "Cloudy", "Overcast", "Dry", "Wet", "Rain", "Dark", "Light", "Very Light"};
    for (size_t i = 0; i < reading_.descriptions.size(); ++i) reading_.descriptions[i] = QString::fromLatin1(names[i]);
}

ScriptedSensorSource::~ScriptedSensorSource() = default;

void ScriptedSensorSource::setLevels(int cloud, int rain, int brightness)
{
    reading_.cloud = cloud;
    reading_.rain = rain;
    reading_.brightness = brightness;
}

SensorReadings ScriptedSensorSource::failedReading()
{
    // What the real link makes of a reading no member answered: a missing
    // DeviceIsRunning counts as stopped, a missing XOB_XFERFileErr as an error.
    SensorReadings r;
    r.deviceRunning = false;
    r.transferError = true;
    r.complete = false;
    return r;
}

std::optional<bool> ScriptedSensorSource::lastUnsafe() const
{
    if (reports_.empty()) return std::nullopt;
    return reports_.back().unsafe;
}

std::optional<double> ScriptedSensorSource::lastSwitch() const
{
    for (auto it = reports_.rbegin(); it != reports_.rend(); ++it)
        if (it->switchValue) return it->switchValue;
    return std::nullopt;
}

void ScriptedSensorSource::clearCalls()
{
    calls_.clear();
    reports_.clear();
}

// ---- delivery -----------------------------------------------------------------

void ScriptedSensorSource::post(std::function<void()> fn)
{
    ++inFlight_;
    const int gen = generation_;
    QMetaObject::invokeMethod(
        &context_,
        [this, gen, fn = std::move(fn)] {
            --inFlight_;
            if (gen == generation_) fn();
        },
        Qt::QueuedConnection);
}

void ScriptedSensorSource::answer(std::function<void()> fn)
{
    if (!answering_) {
        held_.push_back(std::move(fn));
        return;
    }
    post(std::move(fn));
}

void ScriptedSensorSource::answerAgain()
{
    answering_ = true;
    for (auto& fn : std::exchange(held_, {})) post(std::move(fn));
}

void ScriptedSensorSource::afterCallTimeout(std::function<void()> fn)
{
    const int gen = generation_;
    timedOut_.emplace_back(clock_.msClock() + callTimeoutMs_, [this, gen, fn = std::move(fn)] {
        if (gen == generation_) fn();
    });
    if (!timeoutTimer_->isActive()) {
        timeoutTimer_->setInterval(std::max<qint64>(1, timedOut_.front().first - clock_.msClock()));
        timeoutTimer_->start();
    }
}

void ScriptedSensorSource::settle()
{
    for (int round = 0; inFlight_ > 0 && round < kSettleRounds; ++round) QCoreApplication::processEvents();
}

// ---- connecting -------------------------------------------------------------------

void ScriptedSensorSource::connect(std::function<double()> timeoutSeconds, std::function<void(const ConnectResult&)> done)
{
    drop(); // a connect starts afresh, whatever was under way
    calls_ << QStringLiteral("connect");
    connecting_ = true;
    connectTimeout_ = std::move(timeoutSeconds);
    connectDone_ = std::move(done);
    answer([this] { connectAnswered(); });
}

void ScriptedSensorSource::connectAnswered()
{
    ConnectResult r;
    if (gone_ || connectOutcome_ == ConnectOutcome::NoServer) {
        r.outcome = ConnectOutcome::NoServer;
        r.detail = lastError_ = QStringLiteral("no sensor server");
        finishConnect(r);
        return;
    }
    if (connectOutcome_ == ConnectOutcome::VersionTooOld) {
        r.outcome = ConnectOutcome::VersionTooOld;
        r.versionText = QStringLiteral("5.19.003");
        r.detail = QStringLiteral("version 5.19.003");
        finishConnect(r);
        return;
    }
    r.versionText = QStringLiteral("5.20.015");
    connected_ = true;
    role_ = scriptRole_;
    r.role = role_;
    r.master = role_ == QLatin1String("MASTER");
    ++controlTaken_;
    dataWaitPass(clock_.msClock(), r);
}

void ScriptedSensorSource::dataWaitPass(qint64 t0, ConnectResult r)
{
    if (connectOutcome_ != ConnectOutcome::NoData) {
        r.outcome = ConnectOutcome::Connected;
        finishConnect(r);
        return;
    }
    // The same rule as the real link's: the timeout is read on each pass and
    // the wait ends on the first pass past it.
    const double t = connectTimeout_ ? connectTimeout_() : 0.0;
    if (!(t * 1000.0 >= double(clock_.msClock() - t0))) {
        r.outcome = ConnectOutcome::NoData;
        r.detail = lastError_ = QStringLiteral("no data from the sensor server");
        finishConnect(r);
        return;
    }
    pollTimer_->setCallback([this, t0, r] { answer([this, t0, r] { dataWaitPass(t0, r); }); });
    pollTimer_->setInterval(1000);
    pollTimer_->start();
}

void ScriptedSensorSource::finishConnect(const ConnectResult& r)
{
    connecting_ = false;
    pollTimer_->stop();
    connectTimeout_ = nullptr;
    if (auto done = std::exchange(connectDone_, nullptr)) done(r);
}

void ScriptedSensorSource::drop()
{
    // Whatever was asked before is never answered now.
    ++generation_;
    held_.clear();
    timedOut_.clear();
    timeoutTimer_->stop();
    pollTimer_->stop();
    connected_ = false;
    suspended_ = false;
    lostControl_ = false;
}

void ScriptedSensorSource::release(bool wait)
{
    calls_ << (wait ? QStringLiteral("release wait") : QStringLiteral("release"));
    drop();
    if (connecting_) {
        ConnectResult r;
        r.outcome = ConnectOutcome::Cancelled;
        r.detail = QStringLiteral("released while connecting");
        finishConnect(r);
    }
}

// ---- the read cycle ------------------------------------------------------------------

SensorReadings ScriptedSensorSource::answeredReading() const
{
    SensorReadings r = reading_;
    if (r.complete && !r.lastReading.isValid()) r.lastReading = clock_.now();
    return r;
}

void ScriptedSensorSource::read(const QString& letter, std::function<void(const SensorReadings&)> done)
{
    calls_ << QStringLiteral("read ") + letter;
    if (!connected_) return post([done] { done(SensorReadings{}); });
    suspended_ = false; // a new cycle asks again
    if (timeOutsLeft_ > 0) {
        --timeOutsLeft_;
        suspended_ = true;
        lastError_ = QStringLiteral("no answer in time");
        afterCallTimeout([done] { done(failedReading()); });
        return;
    }
    answer([this, done] {
        if (gone_) {
            lostControl_ = true;
            lastError_ = QStringLiteral("the sensor server has gone");
            done(failedReading());
            return;
        }
        if (lostControl_) {
            // a new instance of the server: control is taken again first
            lostControl_ = false;
            ++controlTaken_;
        }
        done(answeredReading());
    });
}

void ScriptedSensorSource::report(bool unsafe, std::optional<double> switchValue, std::function<void(const SensorReport&)> done)
{
    const QLatin1String flag(unsafe ? "true" : "false");
    calls_ << (switchValue ? QStringLiteral("report unsafe=%1 switch=%2").arg(flag).arg(*switchValue)
                           : QStringLiteral("report unsafe=%1").arg(flag));
    reports_.push_back({unsafe, switchValue});
    // A cycle whose read timed out is not heard any more: its calls fail at once.
    if (!connected_ || suspended_) return post([done] { done(SensorReport{}); });
    answer([this, switchValue, done] {
        if (gone_) return done(SensorReport{});
        SensorReport rep;
        if (switchValue) switchStatus_ = *switchValue;
        else rep.switchStatus = switchStatus_;
        rep.dataReady = dataReady_;
        done(rep);
    });
}

void ScriptedSensorSource::alarmStop() { calls_ << QStringLiteral("alarmStop"); }

void ScriptedSensorSource::setSwitch(int value)
{
    calls_ << QStringLiteral("setSwitch %1").arg(value);
    if (connected_ && !gone_) switchStatus_ = value;
}

} // namespace skyvane::testing
