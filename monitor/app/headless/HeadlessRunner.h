#pragma once
// The monitor without a window, for a computer with no display (a service
// under systemd, a single-board machine in the dome). It runs the same core,
// read cycle, outputs and automation class as the desktop program, starts
// monitoring by itself, and writes what the status and code lines would show
// to standard error with a time stamp (journald keeps it). Messages that
// would be dialogs are logged and answered with their default.

#include <QObject>
#include <QTimer>
#include <QString>
#include <cstdio>

namespace skyvane {

class MonitorApi;
class MonitorServices;
class SystemdNotifier;

class HeadlessRunner : public QObject {
    Q_OBJECT
public:
    // log: where the lines go (stderr in the program).
    HeadlessRunner(MonitorApi& core, MonitorServices& services, SystemdNotifier& notifier, std::FILE* log = stderr,
                   QObject* parent = nullptr);

    // Starts monitoring. READY=1 goes out when the start has ended; a start
    // that fails ends the program with exit code 1 (the service manager
    // tries again later).
    void start();
    // The unload sequence of the desktop's Exit: monitoring stopped, every
    // setting saved, the sensor server given its local control back; then
    // the event loop ends with exitCode. Safe to call more than once.
    void shutdown(int exitCode = 0);
    bool finished() const { return finished_; }
    int exitCode() const { return exitCode_; }

    // Test hook: after this many completed cycles the event loop is blocked
    // for good, as a deadlock would block it (0: never).
    void setBlockAfterCycles(int cycles) { blockAfter_ = cycles; }

    void log(const QString& line);

private:
    void coreChanged();
    void cycleDone();
    void startEnded(bool running);

    void idlePing();

    MonitorApi& core_;
    MonitorServices& services_;
    SystemdNotifier& notifier_;
    std::FILE* log_;
    QString lastStatus_;
    QString lastCodes_;
    QString lastFlag_;
    bool readySent_ = false;
    bool finished_ = false;
    int exitCode_ = 0;
    int cyclesDone_ = 0;
    int blockAfter_ = 0;
    QTimer idle_;
};

} // namespace skyvane
