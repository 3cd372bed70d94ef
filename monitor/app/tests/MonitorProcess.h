#pragma once
// The real monitor program as a child process of a test, on a private bus
// and a settings folder of the test's own, and what such tests write for it.
#include "Automation.h"
#include "PrivateBus.h"
#include "Unprivileged.h"
#include "WaitFor.h"

#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <grp.h>
#include <memory>
#include <unistd.h>

namespace skyvane::testing {

inline constexpr const char* kMonitorProgId = "XOB_Skyvane.Nephor";

class MonitorProcess {
public:
    // extra: variables added to the bus's environment. unprivileged: run as
    // the unprivileged user when the test runs as root.
    bool start(const PrivateBus& bus, const QString& settingsDir, const QStringList& args = {},
               const QProcessEnvironment& extra = {}, bool unprivileged = false)
    {
        QProcessEnvironment env = bus.environment();
        env.insert("SKYVANE_SETTINGS_DIR", settingsDir);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SKYVANE_HTTP_PORT", "0");
        for (const QString& k : extra.keys()) env.insert(k, extra.value(k));
        process.setProcessEnvironment(env);
        if (unprivileged && !permissionsBindUs()) {
            process.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedId) != 0 || ::setuid(kUnprivilegedId) != 0)
                    ::_exit(120);
            });
        }
        process.start(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Skyvane", args);
        return process.waitForStarted(5000);
    }
    // What the program wrote to standard error so far.
    QString log()
    {
        err_ += process.readAllStandardError();
        return QString::fromLocal8Bit(err_);
    }
    // Ends it as the service manager does (SIGTERM), or kills it.
    void terminate() { end(SIGTERM); }
    void kill9() { end(SIGKILL); }
    ~MonitorProcess() { terminate(); }

    QProcess process;

private:
    void end(int signal)
    {
        if (process.state() == QProcess::NotRunning) return;
        ::kill(pid_t(process.processId()), signal);
        if (!process.waitForFinished(15000)) process.kill();
        process.waitForFinished(5000);
        log();
    }
    QByteArray err_;
};

// The monitor's class once it is published; null when it is not within ms.
inline std::unique_ptr<automation::LateBoundObject> attachToMonitor(QDBusConnection& conn, int ms = 20000)
{
    if (!waitFor([&] { return conn.interface()->isServiceRegistered(kMonitorProgId).value(); }, ms)) return nullptr;
    QString error;
    return automation::LateBoundObject::create(conn, kMonitorProgId, 10000, &error);
}

// A station file of a calm, dry night, stamped now.
inline bool writeCalmStation(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    const QDateTime now = QDateTime::currentDateTime();
    return f.write(QStringLiteral("Date,,%1\nTime,,%2\nOutTemp,\u00b0C,5.2\nWindSpeed,km/h,5\nGust,km/h,8\nWindDirection,,NNE\n"
                                  "RainDayMin,mm,0\nRainDayMax,mm,0\nOutHumidity,%,60\nDewPoint,\u00b0C,-2.0\nBarometer,hPa,1013\n")
                       .arg(now.toString("dd/MM/yy"), now.toString("hh:mm:ss"))
                       .toUtf8())
        > 0;
}

} // namespace skyvane::testing
