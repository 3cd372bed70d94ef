// The class driven by programs written elsewhere: gdbus (GLib) and busctl
// (systemd) as separate processes, and the project's skyvane-cli.
#include "InterfaceOrder.h"
#include "NephorTestRig.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out, err;
};

// Runs a program to its end while the monitor keeps answering.
ProgramRun runProgram(const QString& program, const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    ProgramRun r;
    if (!p.waitForStarted(5000)) {
        r.err = p.errorString();
        return r;
    }
    spinUntil([&] { return p.state() == QProcess::NotRunning; }, 30000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString binDir()
{
    const QString d = qEnvironmentVariable("SKYVANE_BIN_DIR");
    return d.isEmpty() ? QCoreApplication::applicationDirPath() : d;
}

} // namespace

class ExternalClients : public ::testing::Test {
protected:
    void SetUp() override
    {
        gdbus_ = QStandardPaths::findExecutable("gdbus");
        busctl_ = QStandardPaths::findExecutable("busctl");
    }
    ProgramRun gdbus(NephorRig& rig, const QString& path, const QString& method, const QStringList& args = {})
    {
        QStringList a{"call", "--address", rig.bus.address(), "--dest", nephor::kProgId, "--object-path", path,
                      "--method", method, "--timeout", "10"};
        return runProgram(gdbus_, a + args);
    }
    QString gdbus_, busctl_;
};

TEST_F(ExternalClients, GdbusStartsMonitoringReadsAndStops)
{
    if (gdbus_.isEmpty()) GTEST_SKIP() << "gdbus is not installed";
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    ASSERT_TRUE(rig.sim->setLevels(2, 1, 1));
    ASSERT_TRUE(rig.sim->setReading("SkyTemperature", -21.25));

    // gdbus creates an instance, prints it and leaves: its instance goes
    // with it.
    const ProgramRun created = gdbus(rig, "/", "XOB.Automation.ClassFactory.CreateInstance");
    ASSERT_EQ(created.exitCode, 0) << created.err.toStdString();
    const QRegularExpression pathRe("'(/Instances/[A-Za-z0-9_]+)'");
    const QString gone = pathRe.match(created.out).captured(1);
    ASSERT_FALSE(gone.isEmpty()) << created.out.toStdString();
    EXPECT_TRUE(rig.clientsAre(0));
    const ProgramRun stale = gdbus(rig, gone, "XOB_Skyvane.Nephor.get_Name");
    EXPECT_NE(stale.exitCode, 0);

    // A program that stays connected holds the instance (a one-shot tool can
    // not); gdbus drives everything else on it.
    auto holder = rig.client();
    ASSERT_TRUE(rig.clientsAre(1));
    const QString p = holder->path();
    const QString m = QStringLiteral("XOB_Skyvane.Nephor.");

    const ProgramRun introspect = runProgram(gdbus_, {"introspect", "--address", rig.bus.address(), "--dest", nephor::kProgId,
                                               "--object-path", p, "--xml"});
    ASSERT_EQ(introspect.exitCode, 0) << introspect.err.toStdString();
    QStringList methods;
    QXmlStreamReader x(introspect.out);
    bool in = false;
    while (!x.atEnd()) {
        x.readNext();
        if (x.isStartElement() && x.name() == QLatin1String("interface")) in = x.attributes().value("name") == QLatin1String(nephor::kProgId);
        else if (in && x.isStartElement() && x.name() == QLatin1String("method")) methods << x.attributes().value("name").toString();
    }
    EXPECT_EQ(methods.size(), 342);
    EXPECT_EQ(methods, nephor::testdata::expectedDbusNames());

    const ProgramRun start = gdbus(rig, p, m + "Device_Start");
    ASSERT_EQ(start.exitCode, 0) << start.err.toStdString();
    EXPECT_EQ(start.out.trimmed(), "(<''>,)");
    ASSERT_TRUE(rig.core->isRunning()) << rig.core->state().status.text.toStdString();

    const ProgramRun safe = gdbus(rig, p, m + "Safe");
    ASSERT_EQ(safe.exitCode, 0) << safe.err.toStdString();
    EXPECT_EQ(safe.out.trimmed(), rig.core->unsafe() ? "(false,)" : "(true,)");
    const ProgramRun cloud = gdbus(rig, p, m + "Condition_Cloud");
    EXPECT_EQ(cloud.out.trimmed(), "(2,)") << cloud.err.toStdString();
    const ProgramRun sky = gdbus(rig, p, m + "SkyTemperature");
    EXPECT_EQ(sky.out.trimmed(), "(-21.25,)") << sky.err.toStdString();
    const ProgramRun dd = gdbus(rig, p, m + "XOB_DataDisplayed", {"color", "nothing"});
    EXPECT_EQ(dd.out.trimmed(), "('#80FFFF',)") << dd.err.toStdString();

    const ProgramRun stop = gdbus(rig, p, m + "Device_Stop");
    ASSERT_EQ(stop.exitCode, 0) << stop.err.toStdString();
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_EQ(rig.core->state().clients, 1);

    if (!busctl_.isEmpty()) {
        const ProgramRun name = runProgram(busctl_, {"--address=" + rig.bus.address(), "call", nephor::kProgId, p,
                                              nephor::kProgId, "get_Name"});
        EXPECT_EQ(name.out.trimmed(), "s \"XOB_Skyvane\"") << name.err.toStdString();
        const ProgramRun alarm = runProgram(busctl_, {"--address=" + rig.bus.address(), "call", nephor::kProgId, p,
                                               nephor::kProgId, "let_SoundDry", "s", "/sounds/dry.wav"});
        EXPECT_EQ(alarm.out.trimmed(), "s \"/sounds/dry.wav\"") << alarm.err.toStdString(); // by reference: back again
        // busctl sends what it is told: a text for a bool is refused by the monitor.
        const ProgramRun wrong = runProgram(busctl_, {"--address=" + rig.bus.address(), "call", nephor::kProgId, p,
                                                      nephor::kProgId, "SetUnSafe", "s", "yes"});
        EXPECT_NE(wrong.exitCode, 0);
        EXPECT_TRUE(wrong.err.contains("SetUnSafe takes (b)")) << wrong.err.toStdString();
    }
}

TEST_F(ExternalClients, SkyvaneCli)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    const QString cli = QDir(binDir()).filePath("skyvane-cli");
    ASSERT_TRUE(QFileInfo::exists(cli)) << cli.toStdString();
    const QProcessEnvironment env = rig.bus.environment();
    auto run = [&](const QStringList& args) { return runProgram(cli, args, env); };

    ProgramRun r = run({"get", "Name"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "XOB_Skyvane\n");
    EXPECT_TRUE(rig.clientsAre(0)); // each run attaches for its duration only

    r = run({"list"});
    EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts).size(), int(std::size(nephor::testdata::kInterfaceOrder)));
    r = run({"list", "-l"});
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 342) << r.out.left(500).toStdString() << r.err.toStdString();
    EXPECT_EQ(lines.first(), "1\tget_XOB_SafeDelayValue() -> Result i");
    EXPECT_EQ(lines.last(), "342\tXOB_DataDisplayed(info s, ref s) -> Result s");

    r = run({"set", "XOB_SpeedUnits", "k"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rig.core->conditionsConfig().units.speed, conditions::SpeedUnit::Knots);
    EXPECT_EQ(run({"get", "UnitSpeed"}).out, "knot\n");
    EXPECT_EQ(run({"call", "GetGraphCycle", "1"}).out, "10\n");
    EXPECT_EQ(run({"call", "XOB_DataDisplayed", "color", "nothing"}).out, "#80FFFF\n");
    r = run({"call", "XOB_AlarmStart", "/sounds/none.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "vData=/sounds/none.wav\n");
    r = run({"get", "XOB_GraphArray"}); // no history in this build
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("not available in this version")) << r.err.toStdString();

    // Failures: a clear message and a status that says what went wrong.
    r = run({"get", "NoSuchMember"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("skyvane-cli: NoSuchMember:")) << r.err.toStdString();
    r = run({"set", "AlarmClear", "5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("0 (off) or 1 (on)")) << r.err.toStdString();
    r = run({"call", "XOB_GraphArrayCloud"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("XOB_Nephor is not connected")) << r.err.toStdString();
    r = run({"--class", "XOB_Nobody.Here", "get", "Name"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains("can not create XOB_Nobody.Here")) << r.err.toStdString();
    r = run({"frobnicate"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("unknown command")) << r.err.toStdString();
    r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith("usage: skyvane-cli")) << r.out.toStdString();
    EXPECT_TRUE(rig.clientsAre(0));

    QProcessEnvironment noBus = env;
    noBus.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    r = runProgram(cli, {"get", "Name"}, noBus);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.startsWith("skyvane-cli: no session bus")) << r.err.toStdString();
}

// Started by the bus in SessionActivationStartsTheMonitor, as the monitor
// program would be: a monitor with the class on the bus that started it,
// until that bus goes away.
TEST(NephorActivated, DISABLED_ServesTheClassOnTheStarterBus)
{
    const QString address = qEnvironmentVariable("DBUS_STARTER_ADDRESS");
    ASSERT_FALSE(address.isEmpty());
    QDBusConnection bus = QDBusConnection::connectToBus(address, "activated");
    ASSERT_TRUE(bus.isConnected());
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    SystemClock clock;
    MonitorCore core(clock, store, bus, dir.path());
    core.load();
    nephor::NephorServer server(core, bus);
    QString err;
    ASSERT_TRUE(server.publish(&err)) << err.toStdString();
    QDeadlineTimer deadline(30000);
    while (bus.isConnected() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}

TEST(SessionActivation, StartsTheMonitorForAClient)
{
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    const QString script = QDir(qEnvironmentVariable("SKYVANE_SOURCE_DIR")).filePath("monitor/automation/dbus/install-user-service.sh");
    if (daemon.isEmpty() || !QFileInfo::exists(script)) GTEST_SKIP() << "needs dbus-daemon and the source folder";
    QTemporaryDir dir("/tmp/skyvane-activation-XXXXXX");
    ASSERT_TRUE(QDir(dir.path()).mkpath("services"));

    // The service file as the script installs it, starting this test program
    // in place of the monitor.
    const ProgramRun install = runProgram("bash", {script, "--dir", dir.filePath("services"), "--exec",
                                                   QCoreApplication::applicationFilePath(), "--env", "SKYVANE_ACTIVATED=1",
                                                   "--", "--gtest_also_run_disabled_tests",
                                                   "--gtest_filter=NephorActivated.DISABLED_ServesTheClassOnTheStarterBus"});
    ASSERT_EQ(install.exitCode, 0) << install.err.toStdString();
    QFile service(dir.filePath("services/XOB_Skyvane.Nephor.service"));
    ASSERT_TRUE(service.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(service.readAll());
    EXPECT_TRUE(text.contains("\n[D-BUS Service]\nName=XOB_Skyvane.Nephor\nExec=/usr/bin/env SKYVANE_ACTIVATED=1 ")) << text.toStdString();

    // A bus that knows the services folder.
    QFile conf(dir.filePath("bus.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>\n"
                              "<servicedir>%1/services</servicedir>\n"
                              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                   .arg(dir.path())
                   .toUtf8());
    conf.close();
    QProcess bus;
    bus.start(daemon, {"--config-file=" + conf.fileName(), "--nofork", "--print-address"});
    ASSERT_TRUE(bus.waitForStarted(5000));
    QByteArray addr;
    ASSERT_TRUE(spinUntil([&] {
        addr += bus.readAllStandardOutput();
        return addr.contains('\n');
    }, 5000));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromLocal8Bit(addr).trimmed());

    // Nothing owns the name: the client's request starts the program.
    const QString cli = QDir(binDir()).filePath("skyvane-cli");
    ProgramRun r = runProgram(cli, {"get", "Name"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "XOB_Skyvane\n");
    r = runProgram(cli, {"call", "XOB_TotalNoUsers"}, env);
    EXPECT_EQ(r.out, "1\n") << r.err.toStdString();
    // Without activation the client says there is nobody.
    r = runProgram(cli, {"--no-start", "--class", "XOB_Skyvane.Other", "get", "Name"}, env);
    EXPECT_EQ(r.exitCode, 3);

    bus.terminate();
    bus.waitForFinished(3000);
}
