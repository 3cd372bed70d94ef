#pragma once
// Every piece of the monitor that needs the time, a delay or a periodic tick
// asks a Clock. The real one is the system clock with QTimers; tests use
// FakeClock, whose time only moves when the test says so, so no test ever
// sleeps through a read interval.
//
// A clock has two faces. now() is the wall clock: what is shown and written,
// and what time stamps from outside (the station file) are compared with.
// It jumps when NTP or a user sets the time. msClock() only ever moves on
// with real time: every delay, period and time-out is measured on it, so
// that no step of the wall clock can end a safe delay early or hold an
// alarm delay for good.

#include <QDateTime>
#include <functional>
#include <memory>

namespace skyvane {

class ClockTimer {
public:
    virtual ~ClockTimer() = default;
    // Interval in milliseconds; 0 disarms the timer, like a VB timer.
    virtual void setInterval(qint64 ms) = 0;
    virtual qint64 interval() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual void setSingleShot(bool single) = 0;
    void setCallback(std::function<void()> cb) { callback_ = std::move(cb); }

protected:
    void fire() { if (callback_) callback_(); }
    std::function<void()> callback_;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Local date-time now.
    virtual QDateTime now() const = 0;
    // Milliseconds on the monotonic clock (including time asleep), for waits
    // and periods. Only differences mean anything.
    virtual qint64 msClock() const = 0;
    virtual std::unique_ptr<ClockTimer> createTimer() = 0;
    // Waits ms milliseconds while the user interface keeps handling events.
    // The fake clock just moves its time on.
    virtual void waitProcessingEvents(qint64 ms) = 0;
};

// Days since 1899-12-30 (the automation date), as a double, and back.
double toOleDate(const QDateTime& t);
QDateTime fromOleDate(double d);

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    qint64 msClock() const override;
    std::unique_ptr<ClockTimer> createTimer() override;
    void waitProcessingEvents(qint64 ms) override;
};

// A clock for tests: time starts at a fixed local date-time and moves only by
// advance(); timers that fall due during an advance fire in time order.
// stepWall() and setNow() move the wall clock alone, as NTP does.
class FakeClock final : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(21, 0, 0)));
    ~FakeClock() override;
    QDateTime now() const override { return now_; }
    qint64 msClock() const override { return mono_; }
    std::unique_ptr<ClockTimer> createTimer() override;
    void waitProcessingEvents(qint64 ms) override { advance(ms); }
    void advance(qint64 ms);
    void setNow(const QDateTime& t) { now_ = t; }
    void stepWall(qint64 ms) { now_ = now_.addMSecs(ms); }
    // Both clocks move on and no timer fires: the event loop was held up.
    // The timers that fell due meanwhile fire at the next advance().
    void stall(qint64 ms)
    {
        now_ = now_.addMSecs(ms);
        mono_ += ms;
    }
    // Runs after every timer that fires during advance(): a test rig lets
    // the work a tick started (answers of other programs) finish there, so
    // that the test sees each tick complete, as in real time.
    void setAfterFire(std::function<void()> fn) { afterFire_ = std::move(fn); }
    int activeTimers() const;

private:
    class Timer;
    friend class Timer;
    QDateTime now_;
    qint64 mono_ = 1000000000; // any start; only differences count
    std::vector<Timer*> timers_;
    std::function<void()> afterFire_;
};

} // namespace skyvane
