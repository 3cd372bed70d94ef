#include "SystemdNotifier.h"

#include <systemd/sd-daemon.h>

namespace skyvane {

SystemdNotifier::SystemdNotifier()
{
    active_ = !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) watchdogUsec_ = usec;
}

bool SystemdNotifier::send(const QByteArray& state)
{
    // The environment is kept (unset_environment 0): a restarted cycle, the
    // tests and a child started later all see the same socket.
    return active_ && sd_notify(0, state.constData()) > 0;
}

void SystemdNotifier::ready() { send("READY=1"); }
void SystemdNotifier::watchdog() { send("WATCHDOG=1"); }
void SystemdNotifier::stopping() { send("STOPPING=1"); }

void SystemdNotifier::status(const QString& text)
{
    // One line: the protocol separates assignments by newlines.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    send("STATUS=" + line.toUtf8());
}

} // namespace skyvane
