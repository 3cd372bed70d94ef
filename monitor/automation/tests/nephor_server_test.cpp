// The class served by the monitor, against the sensor stand-in on a private
// bus: clients counted and released, Start and Stop from clients, the value,
// unit, alarm and safety members, forwarding and the activity signal.
#include "InterfaceOrder.h"
#include "NephorTestRig.h"

#include <QDBusObjectPath>
#include <QProcess>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;
using automation::Failure;

namespace {

int comCalls(const MonitorCore& core) { return core.state().comCalls.toInt(); }

QStringList introspectedMethods(const QString& xml, const QString& iface)
{
    QStringList out;
    QXmlStreamReader x(xml);
    bool in = false;
    while (!x.atEnd()) {
        x.readNext();
        if (x.isStartElement() && x.name() == QLatin1String("interface")) in = x.attributes().value("name") == iface;
        else if (x.isEndElement() && x.name() == QLatin1String("interface")) in = false;
        else if (in && x.isStartElement() && x.name() == QLatin1String("method")) out << x.attributes().value("name").toString();
    }
    return out;
}

} // namespace

TEST(NephorServer, IntrospectionListsThe342SlotsInOrder)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    ASSERT_TRUE(c->object());
    QDBusMessage m = QDBusMessage::createMethodCall(nephor::kProgId, c->path(), "org.freedesktop.DBus.Introspectable",
                                                    "Introspect");
    const QDBusMessage r = c->raw(m);
    ASSERT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
    const QStringList methods = introspectedMethods(r.arguments().first().toString(), nephor::kProgId);
    EXPECT_EQ(methods.size(), 342);
    EXPECT_EQ(methods, nephor::testdata::expectedDbusNames());
    // The client library sees the same members, each name once.
    const QStringList names = c->run([&] { return c->object()->members(); });
    EXPECT_EQ(names.first(), QStringLiteral("XOB_SafeDelayValue"));
    EXPECT_EQ(names.last(), QStringLiteral("XOB_DataDisplayed"));
    EXPECT_EQ(names.size(), int(std::size(nephor::testdata::kInterfaceOrder)));
}

TEST(NephorServer, ClientsAreCountedAndReleased)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    const MainState& s = rig.core->state();
    EXPECT_EQ(s.users, "Attached Users: 0");

    auto a = rig.client();
    ASSERT_TRUE(rig.clientsAre(1));
    EXPECT_EQ(s.users, "Attached Users: 1");
    EXPECT_TRUE(s.comFrameVisible);
    EXPECT_FALSE(s.stopVisible);
    auto b = rig.client();
    ASSERT_TRUE(rig.clientsAre(2));
    EXPECT_EQ(s.users, "Attached Users: 2");
    EXPECT_EQ(a->call("XOB_TotalNoUsers").value.toInt(), 2);

    // While clients are attached the menus hide Start, Stop and Exit, and a
    // close request is refused.
    EXPECT_FALSE(s.menus.startVisible);
    EXPECT_FALSE(s.menus.stopVisible);
    EXPECT_FALSE(s.menus.exitEnabled);
    EXPECT_FALSE(s.menus.closeEnabled);
    EXPECT_FALSE(rig.core->requestClose());
    EXPECT_EQ(rig.messages, QStringList{"There are other users present - cannot UNLOAD"});

    a->release();
    ASSERT_TRUE(rig.clientsAre(1));
    b->release();
    ASSERT_TRUE(rig.clientsAre(0));
    EXPECT_EQ(s.users, "Attached Users: 0");
    EXPECT_FALSE(s.comFrameVisible);
    EXPECT_TRUE(s.stopVisible);
    EXPECT_TRUE(s.menus.startVisible);
    EXPECT_TRUE(s.menus.exitEnabled);
    EXPECT_EQ(rig.server->instanceCount(), 0);
    EXPECT_TRUE(rig.core->requestClose());
}

// Run as a separate program by KilledClientIsReleased: creates an instance,
// says so and waits to be killed.
TEST(NephorHolder, DISABLED_HoldsAnInstanceUntilKilled)
{
    const QString address = qEnvironmentVariable("SKYVANE_HOLDER_BUS");
    ASSERT_FALSE(address.isEmpty());
    QDBusConnection bus = QDBusConnection::connectToBus(address, "holder");
    QString err;
    auto obj = automation::LateBoundObject::create(bus, nephor::kProgId, 2000, &err);
    ASSERT_TRUE(obj) << err.toStdString();
    std::printf("holding %s\n", qPrintable(obj->path()));
    std::fflush(stdout);
    QThread::sleep(60);
}

TEST(NephorServer, ClientsThatLeaveWithoutReleasingAreReleased)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();

    // A client that closes its connection with two instances.
    ClientThread a(rig.bus.address(), "leaves");
    ASSERT_TRUE(a.createRaw());
    ASSERT_TRUE(a.createRaw());
    ASSERT_TRUE(rig.clientsAre(2));
    a.disconnect();
    ASSERT_TRUE(rig.clientsAre(0));

    // A client program that is killed.
    QProcess holder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SKYVANE_HOLDER_BUS", rig.bus.address());
    holder.setProcessEnvironment(env);
    holder.start(QCoreApplication::applicationFilePath(),
                 {"--gtest_also_run_disabled_tests", "--gtest_filter=NephorHolder.DISABLED_HoldsAnInstanceUntilKilled"});
    QByteArray out;
    ASSERT_TRUE(spinUntil([&] {
        out += holder.readAllStandardOutput();
        return out.contains("holding /Instances/");
    }, 10000)) << out.toStdString() << holder.readAllStandardError().toStdString();
    ASSERT_TRUE(rig.clientsAre(1));
    holder.kill();
    holder.waitForFinished(5000);
    EXPECT_TRUE(rig.clientsAre(0));
    EXPECT_EQ(rig.core->state().users, "Attached Users: 0");
    EXPECT_EQ(rig.server->instanceCount(), 0);
}
