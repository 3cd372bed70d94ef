#include "HeadlessRunner.h"

#include "MonitorApi.h"
#include "MonitorServices.h"
#include "SystemdNotifier.h"

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <thread>

namespace skyvane {

HeadlessRunner::HeadlessRunner(MonitorApi& core, MonitorServices& services, SystemdNotifier& notifier, std::FILE* log,
                               QObject* parent)
    : QObject(parent), core_(core), services_(services), notifier_(notifier), log_(log)
{
    // Nobody is there to answer: the message is logged and gets the answer
    // that changes nothing (OK, or Cancel where there is a choice).
    core_.setPrompter([this](const QString& text, int flags, const QString& title) {
        QString t = text;
        t.replace(QLatin1Char('\n'), QLatin1Char(' '));
        this->log(QStringLiteral("message%1: %2").arg(title.isEmpty() ? QString() : QStringLiteral(" (") + title + QLatin1Char(')'), t));
        return flags == MessageOk ? int(AnswerOk) : int(AnswerCancel);
    });
    connect(&core_, &MonitorApi::changed, this, &HeadlessRunner::coreChanged);
    connect(&core_, &MonitorApi::cycleFinished, this, &HeadlessRunner::cycleDone);
    connect(&core_, &MonitorApi::startFinished, this, &HeadlessRunner::startEnded);
    connect(&core_, &MonitorApi::note, this, [this](const QString& text) { this->log(QStringLiteral("note: ") + text); });
    // A client may stop monitoring (Device_Stop) and start it later: no
    // cycle runs meanwhile, yet nothing is stuck. While stopped and idle the
    // event loop itself reports liveness, at a third of the watchdog time.
    const quint64 usec = notifier_.watchdogUsec();
    idle_.setInterval(usec > 0 ? int(std::max<quint64>(usec / 3000, 1000)) : 30000);
    connect(&idle_, &QTimer::timeout, this, &HeadlessRunner::idlePing);
    idle_.start();
}

void HeadlessRunner::idlePing()
{
    if (!core_.isRunning() && !core_.busy()) notifier_.watchdog();
}

void HeadlessRunner::log(const QString& line)
{
    const QString stamp = core_.clock().now().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    std::fprintf(log_, "%s %s\n", qPrintable(stamp), qPrintable(line));
    std::fflush(log_);
}

void HeadlessRunner::start()
{
    log(QStringLiteral("%1 headless: starting monitoring").arg(titleText()));
    core_.startProcedure();
}

void HeadlessRunner::startEnded(bool running)
{
    if (finished_) return;
    if (!readySent_) {
        readySent_ = true;
        notifier_.ready();
    }
    if (running) {
        log(QStringLiteral("monitoring: running"));
        return;
    }
    // Without the sensor server there is nothing to watch; under systemd the
    // unit's Restart= tries again after its delay.
    log(QStringLiteral("monitoring could not start: ending"));
    shutdown(1);
}

void HeadlessRunner::coreChanged()
{
    const MainState& s = core_.state();
    if (s.status.text != lastStatus_) {
        lastStatus_ = s.status.text;
        if (!lastStatus_.isEmpty()) log(QStringLiteral("status: ") + lastStatus_);
        notifier_.status(lastStatus_);
    }
    if (s.codes.text != lastCodes_) {
        lastCodes_ = s.codes.text;
        log(QStringLiteral("codes: ") + (lastCodes_.trimmed().isEmpty() ? QStringLiteral("(none)") : lastCodes_));
    }
}

void HeadlessRunner::cycleDone()
{
    // Liveness comes from the cycle itself: a cycle that stops (a stuck
    // event loop, a deadlock) stops the notifications and the watchdog
    // restarts the monitor. A hung sensor server still lets every cycle end
    // after one call timeout.
    notifier_.watchdog();
    const QString flag = core_.reportedUnsafe() ? QStringLiteral("UNSAFE") : QStringLiteral("SAFE");
    if (flag != lastFlag_) {
        lastFlag_ = flag;
        log(QStringLiteral("flag: ") + flag);
    }
    ++cyclesDone_;
    if (blockAfter_ > 0 && cyclesDone_ >= blockAfter_) {
        log(QStringLiteral("test hook: blocking the event loop"));
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

void HeadlessRunner::shutdown(int exitCode)
{
    if (finished_) return;
    finished_ = true;
    exitCode_ = exitCode;
    notifier_.stopping();
    log(QStringLiteral("stopping"));
    if (core_.isRunning() || core_.busy()) core_.stopProcedure();
    core_.unload();
    services_.detach();
    log(QStringLiteral("stopped: settings saved, local control given back"));
    QCoreApplication::exit(exitCode);
}

} // namespace skyvane
