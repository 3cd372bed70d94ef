#pragma once
// Runs the event loop until `done` holds or `ms` milliseconds have passed:
// for tests that wait on other processes (a real server, a child program)
// whose answers arrive through the event loop. False on time-out.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace skyvane::testing {

inline bool waitFor(const std::function<bool()>& done, int ms = 30000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Not a busy loop while the other side works.
        QThread::msleep(2);
    }
    return true;
}

} // namespace skyvane::testing
