#include "Clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

namespace skyvane {

namespace {
const QDate kOleEpoch(1899, 12, 30);
constexpr qint64 kMsPerDay = 86400000;
}

double toOleDate(const QDateTime& t)
{
    const qint64 days = kOleEpoch.daysTo(t.date());
    const double frac = t.time().msecsSinceStartOfDay() / double(kMsPerDay);
    return double(days) + (days < 0 ? -frac : frac);
}

QDateTime fromOleDate(double d)
{
    const double whole = std::trunc(d);
    const double frac = std::abs(d - whole);
    const qint64 ms = std::llround(frac * double(kMsPerDay));
    QDate date = kOleEpoch.addDays(qint64(whole));
    // The date holds the local clock's reading, not a count of elapsed
    // time: 03:30 on the day the clocks go forward is 03:30, not midnight
    // plus three and a half hours.
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(std::min(ms, kMsPerDay - 1))));
}

// ---- system clock -------------------------------------------------------

namespace {
class QtClockTimer final : public ClockTimer {
public:
    QtClockTimer() { QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); }); }
    void setInterval(qint64 ms) override
    {
        interval_ = ms;
        if (ms <= 0) timer_.stop();
        else timer_.setInterval(int(ms));
    }
    qint64 interval() const override { return interval_; }
    void start() override { if (interval_ > 0) timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }
    void setSingleShot(bool single) override { timer_.setSingleShot(single); }

private:
    QTimer timer_;
    qint64 interval_ = 0;
};
}

QDateTime SystemClock::now() const { return QDateTime::currentDateTime(); }

qint64 SystemClock::msClock() const
{
#ifdef CLOCK_BOOTTIME
    // Monotonic and counting the time the computer slept: a decision made
    // before a suspend is hours old after the resume, not a few seconds.
    timespec ts{};
    if (::clock_gettime(CLOCK_BOOTTIME, &ts) == 0) return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
#endif
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<ClockTimer> SystemClock::createTimer() { return std::make_unique<QtClockTimer>(); }

void SystemClock::waitProcessingEvents(qint64 ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, int(std::max<qint64>(1, deadline.remainingTime())));
        if (!deadline.hasExpired()) {
            QEventLoop loop;
            QTimer::singleShot(int(std::min<qint64>(50, std::max<qint64>(1, deadline.remainingTime()))), &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
}

// ---- fake clock ---------------------------------------------------------

class FakeClock::Timer final : public ClockTimer {
public:
    explicit Timer(FakeClock* c) : clock_(c) { clock_->timers_.push_back(this); }
    ~Timer() override
    {
        if (clock_) {
            auto& v = clock_->timers_;
            v.erase(std::remove(v.begin(), v.end(), this), v.end());
        }
    }
    void setInterval(qint64 ms) override
    {
        interval_ = ms;
        if (ms <= 0) active_ = false;
        else if (active_) due_ = clock_->mono_ + ms;
    }
    qint64 interval() const override { return interval_; }
    void start() override
    {
        if (interval_ <= 0) return;
        active_ = true;
        due_ = clock_->mono_ + interval_;
    }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }
    void setSingleShot(bool single) override { single_ = single; }

    FakeClock* clock_;
    qint64 interval_ = 0;
    bool active_ = false;
    bool single_ = false;
    qint64 due_ = 0; // on the monotonic clock
    using ClockTimer::fire;
};

FakeClock::FakeClock(QDateTime start) : now_(std::move(start)) {}

FakeClock::~FakeClock()
{
    for (Timer* t : timers_) t->clock_ = nullptr;
}

std::unique_ptr<ClockTimer> FakeClock::createTimer() { return std::make_unique<Timer>(this); }

int FakeClock::activeTimers() const
{
    return int(std::count_if(timers_.begin(), timers_.end(), [](Timer* t) { return t->active_; }));
}

void FakeClock::advance(qint64 ms)
{
    const qint64 end = mono_ + ms;
    for (;;) {
        Timer* next = nullptr;
        for (Timer* t : timers_)
            if (t->active_ && t->due_ <= end && (!next || t->due_ < next->due_)) next = t;
        if (!next) break;
        // a timer overdue after a stall fires now, not in the past
        const qint64 at = std::max(next->due_, mono_);
        now_ = now_.addMSecs(at - mono_);
        mono_ = at;
        if (next->single_) next->active_ = false;
        else next->due_ = mono_ + next->interval_;
        next->fire(); // may create, delete or re-arm timers
        if (afterFire_) afterFire_();
    }
    now_ = now_.addMSecs(end - mono_);
    mono_ = end;
}

} // namespace skyvane
