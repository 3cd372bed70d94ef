#pragma once
// Termination signals delivered through the event loop.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace skyvane {

// SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, a closed terminal, the end of a
// session) end the program as a normal close would, not on the spot: the
// handler only writes the signal number into a pipe, and the event loop calls
// onSignal with it. One object per process; the previous handlers come back
// when it goes.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void(int signo)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;
    bool installed() const { return installed_; }

private:
    void drain();
    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool installed_ = false;
};

} // namespace skyvane
