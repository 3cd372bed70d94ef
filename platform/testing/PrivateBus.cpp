#include "PrivateBus.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <atomic>

namespace skyvane::testing {

namespace {
std::atomic<int> busCounter{0};

// A session-type bus that lets every client own names and talk to every
// other; no service activation, so nothing is started behind a test's back.
QString config(const QString& dir, bool anyUser)
{
    // A program run as another user (the permission tests run the monitor as
    // an unprivileged one) may join only when the test asks for it.
    const QString users = anyUser ? QStringLiteral("    <allow user=\"*\"/>\n") : QString();
    return QStringLiteral(
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>session</type>\n"
               "  <keep_umask/>\n"
               "  <listen>unix:dir=%1</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "%2"
               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
               "    <allow eavesdrop=\"true\"/>\n"
               "    <allow own=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n")
        .arg(dir.toHtmlEscaped(), users);
}
} // namespace

PrivateBus::PrivateBus(Users users) : dir_(QStringLiteral("/tmp/skyvane-bus-XXXXXX"))
{
    prefix_ = QStringLiteral("skyvane-private-bus-%1-").arg(busCounter.fetch_add(1));
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder: %1").arg(dir_.errorString());
        return;
    }
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        error_ = QStringLiteral("dbus-daemon is not installed");
        return;
    }
    const QString conf = dir_.filePath(QStringLiteral("bus.conf"));
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly) || f.write(config(dir_.path(), users == Users::Any).toUtf8()) < 0) {
        error_ = QStringLiteral("can not write %1").arg(conf);
        return;
    }
    f.close();
    if (users == Users::Any) QFile::setPermissions(dir_.path(), QFile::permissions(dir_.path()) | QFile::ExeOther | QFile::ReadOther);
    daemon_.setProgram(daemon);
    daemon_.setArguments({QStringLiteral("--config-file=") + conf, QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    daemon_.setProcessChannelMode(QProcess::SeparateChannels);
    daemon_.start();
    if (!daemon_.waitForStarted(5000)) {
        error_ = QStringLiteral("dbus-daemon did not start: %1").arg(daemon_.errorString());
        return;
    }
    // The daemon prints its address once it listens.
    QByteArray out;
    QDeadlineTimer deadline(5000);
    while (!out.contains('\n') && !deadline.hasExpired() && daemon_.state() == QProcess::Running) {
        daemon_.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        out += daemon_.readAllStandardOutput();
    }
    address_ = QString::fromLocal8Bit(out).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (address_.isEmpty()) {
        error_ = QStringLiteral("dbus-daemon gave no address: %1").arg(QString::fromLocal8Bit(daemon_.readAllStandardError()));
        daemon_.kill();
        daemon_.waitForFinished(2000);
    }
}

PrivateBus::~PrivateBus()
{
    for (const QString& n : std::as_const(names_)) QDBusConnection::disconnectFromBus(n);
    names_.clear();
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        if (!daemon_.waitForFinished(2000)) {
            daemon_.kill();
            daemon_.waitForFinished(2000);
        }
    }
    if (exported_) {
        if (hadPreviousAddress_) qputenv("DBUS_SESSION_BUS_ADDRESS", previousAddress_);
        else qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

bool PrivateBus::isRunning() const { return !address_.isEmpty() && daemon_.state() == QProcess::Running; }

QString PrivateBus::connectionName(const QString& name) const { return prefix_ + name; }

QDBusConnection PrivateBus::connection(const QString& name)
{
    const QString full = connectionName(name);
    if (!names_.contains(full)) names_ << full;
    return QDBusConnection::connectToBus(address_, full);
}

void PrivateBus::disconnect(const QString& name)
{
    const QString full = connectionName(name);
    names_.removeAll(full);
    QDBusConnection::disconnectFromBus(full);
}

void PrivateBus::exportAddress()
{
    if (!exported_) {
        hadPreviousAddress_ = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
        previousAddress_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        exported_ = true;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toLocal8Bit());
}

QProcessEnvironment PrivateBus::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    return env;
}

} // namespace skyvane::testing
