#pragma once
// The service manager's notification protocol (sd_notify): READY=1 once the
// monitor is up, WATCHDOG=1 from every completed read cycle, STOPPING=1 on
// the way out, STATUS= with the status line. Outside systemd (no
// NOTIFY_SOCKET) every call does nothing.

#include <QString>

namespace skyvane {

class SystemdNotifier {
public:
    SystemdNotifier();
    // True when a service manager listens (NOTIFY_SOCKET was set).
    bool active() const { return active_; }
    // Microseconds of the watchdog the manager asked for; 0 when none.
    quint64 watchdogUsec() const { return watchdogUsec_; }

    void ready();
    void watchdog();
    void stopping();
    void status(const QString& text);

private:
    bool send(const QByteArray& state);
    bool active_ = false;
    quint64 watchdogUsec_ = 0;
};

} // namespace skyvane
