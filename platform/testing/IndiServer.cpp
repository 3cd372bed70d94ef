#include "IndiServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <csignal>
#include <sys/types.h>

namespace skyvane::testing {

namespace {
int freePort()
{
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0)) return 0;
    return s.serverPort();
}

QString runTool(const QString& program, const QStringList& args, int timeoutMs, bool* ok)
{
    QProcess p;
    p.start(program, args);
    *ok = p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(1000);
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}
} // namespace

IndiServer::IndiServer(QStringList drivers) : drivers_(std::move(drivers))
{
    port_ = freePort();
    QDir(dir_.path()).mkpath(QStringLiteral("home/.indi"));
    start();
}

IndiServer::~IndiServer() { kill(); }

bool IndiServer::available() { return !QStandardPaths::findExecutable(QStringLiteral("indiserver")).isEmpty(); }

bool IndiServer::start()
{
    if (isRunning()) return true;
    if (!dir_.isValid() || port_ == 0) {
        error_ = QStringLiteral("no folder or no free port for the INDI server");
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir_.filePath(QStringLiteral("home")));
    process_.setProcessEnvironment(env);
    process_.setStandardOutputFile(dir_.filePath(QStringLiteral("indiserver.log")), QIODevice::Append);
    process_.setStandardErrorFile(dir_.filePath(QStringLiteral("indiserver.log")), QIODevice::Append);
    // The local socket too gets a name of its own: the default one is
    // shared by every server on the machine.
    QStringList args = {QStringLiteral("-p"), QString::number(port_), QStringLiteral("-u"),
                        dir_.filePath(QStringLiteral("indiserver.sock")), QStringLiteral("-r"), QStringLiteral("0")};
    process_.start(QStringLiteral("indiserver"), args + drivers_);
    if (!process_.waitForStarted(5000)) {
        error_ = QStringLiteral("indiserver did not start: %1").arg(process_.errorString());
        return false;
    }
    QDeadlineTimer deadline(8000);
    while (!deadline.hasExpired()) {
        if (process_.state() == QProcess::NotRunning) break;
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, quint16(port_));
        if (s.waitForConnected(200)) {
            s.disconnectFromHost();
            // The drivers answer once they have defined their properties.
            bool ok = false;
            while (!deadline.hasExpired()) {
                const QString out = runTool(QStringLiteral("indi_getprop"),
                                            {QStringLiteral("-p"), QString::number(port_), QStringLiteral("-t"),
                                             QStringLiteral("1"), QStringLiteral("*.CONNECTION.CONNECT")},
                                            3000, &ok);
                if (!out.trimmed().isEmpty()) return true;
            }
            break;
        }
        QThread::msleep(20);
    }
    QFile log(dir_.filePath(QStringLiteral("indiserver.log")));
    log.open(QIODevice::ReadOnly);
    error_ = QStringLiteral("indiserver on port %1 did not come up: %2").arg(port_).arg(QString::fromUtf8(log.readAll()));
    kill();
    return false;
}

bool IndiServer::isRunning() const { return process_.state() == QProcess::Running; }

QList<qint64> IndiServer::driverPids() const
{
    QList<qint64> out;
    const qint64 pid = process_.processId();
    if (pid <= 0) return out;
    QFile f(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return out;
    for (const QByteArray& w : f.readAll().simplified().split(' '))
        if (!w.isEmpty()) out << w.toLongLong();
    return out;
}

void IndiServer::kill()
{
    if (process_.state() == QProcess::NotRunning) return;
    const QList<qint64> drivers = driverPids();
    process_.kill();
    process_.waitForFinished(3000);
    // Drivers end when their server does; a stopped one is woken to see it.
    for (qint64 d : drivers) {
        ::kill(pid_t(d), SIGCONT);
        ::kill(pid_t(d), SIGKILL);
    }
}

bool IndiServer::freezeDrivers(bool frozen)
{
    const QList<qint64> pids = driverPids();
    for (qint64 d : pids)
        if (::kill(pid_t(d), frozen ? SIGSTOP : SIGCONT) != 0) return false;
    return !pids.isEmpty();
}

bool IndiServer::freezeServer(bool frozen)
{
    const qint64 pid = process_.processId();
    return pid > 0 && ::kill(pid_t(pid), frozen ? SIGSTOP : SIGCONT) == 0;
}

bool IndiServer::setProp(const QString& spec)
{
    bool ok = false;
    runTool(QStringLiteral("indi_setprop"), {QStringLiteral("-p"), QString::number(port_), spec}, 5000, &ok);
    return ok;
}

QString IndiServer::getProp(const QString& spec)
{
    bool ok = false;
    const QString out = runTool(QStringLiteral("indi_getprop"),
                                {QStringLiteral("-p"), QString::number(port_), QStringLiteral("-t"), QStringLiteral("1"), spec},
                                4000, &ok);
    const QString line = out.trimmed().section(QLatin1Char('\n'), 0, 0);
    const int eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : line.mid(eq + 1);
}

bool IndiServer::waitProp(const QString& spec, const QString& value, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        if (getProp(spec) == value) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    } while (!deadline.hasExpired());
    return false;
}

} // namespace skyvane::testing
