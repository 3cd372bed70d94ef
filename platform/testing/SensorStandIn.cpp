#include "SensorStandIn.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <atomic>

#ifndef SKYVANE_DEFAULT_BIN_DIR
#define SKYVANE_DEFAULT_BIN_DIR ""
#endif

namespace skyvane::testing {

namespace {
std::atomic<int> standInCounter{0};
constexpr int kStartWaitMs = 5000;
constexpr int kControlTimeoutMs = 2000;

bool nameOwned(QDBusConnection& c, const QString& name)
{
    QDBusMessage msg = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    msg << name;
    const QDBusMessage r = c.call(msg, QDBus::Block, 1000);
    return r.type() == QDBusMessage::ReplyMessage && !r.arguments().isEmpty() && r.arguments().first().toBool();
}
} // namespace

QString SensorStandIn::programPath()
{
    QString dir = qEnvironmentVariable("SKYVANE_BIN_DIR");
    if (dir.isEmpty()) dir = QStringLiteral(SKYVANE_DEFAULT_BIN_DIR);
    return QDir(dir).filePath(QStringLiteral("XOB_Nephor_sim"));
}

SensorStandIn::SensorStandIn(PrivateBus& bus, const QStringList& arguments) : bus_(bus)
{
    if (!bus.isRunning()) {
        error_ = QStringLiteral("the private bus is not running: %1").arg(bus.error());
        return;
    }
    const QString program = programPath();
    if (!QFileInfo(program).isExecutable()) {
        error_ = QStringLiteral("no stand-in program at %1 (build XOB_Nephor_sim; SKYVANE_BIN_DIR)").arg(program);
        return;
    }
    connName_ = QStringLiteral("standin-control-%1").arg(standInCounter.fetch_add(1));
    QDBusConnection c = bus.connection(connName_);
    if (nameOwned(c, QLatin1String(kBusName))) {
        error_ = QStringLiteral("%1 is already owned on this bus").arg(QLatin1String(kBusName));
        return;
    }
    process_.setProgram(program);
    process_.setArguments(arguments);
    process_.setProcessEnvironment(bus.environment());
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    process_.start();
    if (!process_.waitForStarted(kStartWaitMs)) {
        error_ = QStringLiteral("%1 did not start: %2").arg(program, process_.errorString());
        return;
    }
    // Start-up only: poll the bus until the program owns its name.
    QDeadlineTimer deadline(kStartWaitMs);
    while (!nameOwned(c, QLatin1String(kBusName))) {
        if (process_.state() != QProcess::Running) {
            error_ = QStringLiteral("%1 ended at start (exit code %2)").arg(program).arg(process_.exitCode());
            return;
        }
        if (deadline.hasExpired()) {
            error_ = QStringLiteral("%1 did not take %2 within %3 ms").arg(program, QLatin1String(kBusName)).arg(kStartWaitMs);
            kill();
            return;
        }
        QThread::msleep(10);
    }
    control_ = automation::LateBoundObject::attach(c, QLatin1String(kBusName), QStringLiteral("/Control"), kControlTimeoutMs, &error_);
}

SensorStandIn::~SensorStandIn()
{
    control_.reset();
    kill();
    if (!connName_.isEmpty()) bus_.disconnect(connName_);
}

bool SensorStandIn::isRunning() const { return error_.isEmpty() && process_.state() == QProcess::Running && control_; }

void SensorStandIn::kill()
{
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(3000);
}

bool SensorStandIn::quit(int waitMs)
{
    if (process_.state() == QProcess::NotRunning) return true;
    command(QStringLiteral("Quit"));
    return process_.waitForFinished(waitMs);
}

automation::CallResult SensorStandIn::controlCall(const QString& member, QVariantList args)
{
    if (!control_) {
        automation::CallResult r;
        r.failure = automation::Failure::NoServer;
        r.error = QStringLiteral("the stand-in is not running");
        return r;
    }
    control_->resume(); // a test may have hung the program on purpose before
    automation::CallResult r = control_->call(member, args);
    if (!r.ok()) lastError_ = QStringLiteral("%1: %2").arg(member, r.error);
    return r;
}

QVariant SensorStandIn::value(const QString& member, QVariantList args) { return controlCall(member, std::move(args)).value; }
bool SensorStandIn::command(const QString& member, QVariantList args) { return controlCall(member, std::move(args)).ok(); }

bool SensorStandIn::setReading(const QString& name, const QVariant& v) { return command(QStringLiteral("SetReading"), {name, v}); }
bool SensorStandIn::releaseReading(const QString& name) { return command(QStringLiteral("ReleaseReading"), {name}); }
bool SensorStandIn::setLevels(int c, int r, int b) { return command(QStringLiteral("SetLevels"), {c, r, b}); }
bool SensorStandIn::setDeviceRunning(bool v) { return command(QStringLiteral("SetDeviceRunning"), {v}); }
bool SensorStandIn::setXferError(bool v) { return command(QStringLiteral("SetXferError"), {v}); }
bool SensorStandIn::setReadyDelay(int ms) { return command(QStringLiteral("SetReadyDelay"), {ms}); }
bool SensorStandIn::setDataReady(bool v) { return command(QStringLiteral("SetDataReady"), {v}); }
bool SensorStandIn::setRole(const QString& role) { return command(QStringLiteral("SetRole"), {role}); }
bool SensorStandIn::setVersion(const QString& v) { return command(QStringLiteral("SetVersion"), {v}); }
bool SensorStandIn::readNow() { return command(QStringLiteral("ReadNow")); }
bool SensorStandIn::hang(int ms) { return command(QStringLiteral("Hang"), {ms}); }
bool SensorStandIn::lastUnsafe() { return value(QStringLiteral("LastUnsafe")).toBool(); }
int SensorStandIn::unsafeCount() { return value(QStringLiteral("UnsafeCount")).toInt(); }
double SensorStandIn::lastSwitch() { return value(QStringLiteral("LastSwitch")).toDouble(); }
int SensorStandIn::switchCount() { return value(QStringLiteral("SwitchCount")).toInt(); }
bool SensorStandIn::localControl() { return value(QStringLiteral("LocalControl")).toBool(); }
QString SensorStandIn::localControlLabel() { return value(QStringLiteral("LocalControlLabel")).toString(); }
QVariantList SensorStandIn::localControlCalls() { return value(QStringLiteral("LocalControlCalls")).toList(); }
QString SensorStandIn::temperatureUnits() { return value(QStringLiteral("TemperatureUnits")).toString(); }
bool SensorStandIn::switchCtrl() { return value(QStringLiteral("SwitchCtrl")).toBool(); }
int SensorStandIn::switchCtrlCount() { return value(QStringLiteral("SwitchCtrlCount")).toInt(); }
int SensorStandIn::deviceStartCount() { return value(QStringLiteral("DeviceStartCount")).toInt(); }
int SensorStandIn::alarmStopCount() { return value(QStringLiteral("AlarmStopCount")).toInt(); }
double SensorStandIn::formValue(const QString& name) { return value(QStringLiteral("FormValue"), {name}).toDouble(); }
bool SensorStandIn::clearCallLog() { return command(QStringLiteral("ClearCallLog")); }
int SensorStandIn::instanceCount() { return value(QStringLiteral("InstanceCount")).toInt(); }

QStringList SensorStandIn::callLog()
{
    QStringList out;
    for (const QVariant& v : value(QStringLiteral("CallLog")).toList()) out << v.toString();
    return out;
}

} // namespace skyvane::testing
