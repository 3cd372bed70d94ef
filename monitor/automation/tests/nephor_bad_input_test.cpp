// Clients that send the wrong thing: wrong argument types, huge texts,
// unknown members, bursts of calls, clients that vanish in the middle of a
// call. Each gets a clear D-Bus error; the monitor keeps running, its state
// unchanged, and whatever the client held is freed.
#include "NephorTestRig.h"

#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;
using automation::Failure;

namespace {
QDBusMessage callOn(const QString& path, const QString& member, const QVariantList& args = {},
                    const QString& iface = QString::fromLatin1(nephor::kProgId))
{
    QDBusMessage m = QDBusMessage::createMethodCall(nephor::kProgId, path, iface, member);
    m.setArguments(args);
    return m;
}
} // namespace

TEST(NephorBadInput, WrongArgumentTypes)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    ClientThread c(rig.bus.address(), "sloppy");
    ASSERT_TRUE(c.createRaw());
    const int item = rig.core->config().refreshRead;
    struct Row {
        const char* member;
        QVariantList args;
    };
    const Row rows[] = {
        {"let_ReadCycle", {QStringLiteral("ten")}},
        {"let_ReadCycle", {10.0}},
        {"let_ReadCycle", {}},
        {"get_Name", {1}},
        {"XOB_DataDisplayed", {1, 2}},
        {"XOB_DataDisplayed", {QStringLiteral("value")}},
        {"let_AlarmClear", {true}},
        {"SetUnSafe", {QStringLiteral("yes")}},
        {"XOB_LocalControl", {QStringLiteral("True"), QStringLiteral("label")}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.member);
        const QDBusMessage reply = c.raw(callOn(c.path(), r.member, r.args));
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
        EXPECT_TRUE(reply.errorMessage().contains("takes (")) << reply.errorMessage().toStdString();
    }
    EXPECT_EQ(rig.core->config().refreshRead, item);
    EXPECT_FALSE(rig.core->hasControlFlag());
    // A value the member can not take gets its own error.
    const QDBusMessage bad = c.raw(callOn(c.path(), "let_SafeWet", {5}));
    EXPECT_EQ(bad.errorName(), "XOB.Automation.Error.BadArguments");
    EXPECT_TRUE(bad.errorMessage().contains("0 (off) or 1 (on)")) << bad.errorMessage().toStdString();
    // The instance still answers.
    EXPECT_EQ(c.raw(callOn(c.path(), "get_Name")).arguments(), QVariantList{"XOB_Skyvane"});
}

TEST(NephorBadInput, HugeTexts)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    const QString mb(1024 * 1024, QLatin1Char('x'));
    for (const auto& [member, isLet] : {std::pair{"SoundClear", true}, std::pair{"DescWindCalm", true},
                                        std::pair{"XOB_SpeedUnits", true}, std::pair{"XOB_AlarmStart", false}}) {
        SCOPED_TRACE(member);
        QVariantList args{mb};
        const auto r = isLet ? c->let(member, mb) : c->callRef(member, args);
        EXPECT_EQ(r.failure, Failure::BadArguments);
        EXPECT_TRUE(r.error.contains("longer than 4096 characters")) << r.error.left(200).toStdString();
    }
    EXPECT_EQ(c->call("XOB_DataDisplayed", {"value", mb}).failure, Failure::BadArguments);
    EXPECT_EQ(c->call("XOB_LocalControl", {true, mb}).failure, Failure::BadArguments);
    EXPECT_FALSE(rig.core->hasControlFlag());
    EXPECT_EQ(c->get("SoundClear").value.toString(), "");
    EXPECT_EQ(c->get("DescWindCalm").value.toString(), rig.core->conditionsConfig().levels.styles[conditions::Quantity::Wind][0].description);
    // The longest text allowed passes.
    const QString longest(nephor::kMaxTextLength, QLatin1Char('y'));
    EXPECT_TRUE(c->let("DescWindCalm", longest).ok());
    EXPECT_EQ(c->get("DescWindCalm").value.toString(), longest);

    // A huge text for the sensor server never reaches it.
    ASSERT_TRUE(c->call("Device_Start").ok());
    rig.sim->clearCallLog();
    EXPECT_EQ(c->let("DescriptionClear", mb).failure, Failure::BadArguments);
    EXPECT_FALSE(rig.sim->callLog().contains("let_DescriptionClear"));
    EXPECT_TRUE(c->get("Name").ok());
}

TEST(NephorBadInput, UnknownMembersObjectsAndInterfaces)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    ClientThread c(rig.bus.address(), "curious");
    ASSERT_TRUE(c.createRaw());
    EXPECT_EQ(c.raw(callOn(c.path(), "NoSuchMember")).errorName(), "org.freedesktop.DBus.Error.UnknownMethod");
    EXPECT_EQ(c.raw(callOn(c.path(), "get_Safe")).errorName(), "org.freedesktop.DBus.Error.UnknownMethod"); // Safe is a method
    EXPECT_EQ(c.raw(callOn(c.path(), "Name", {}, "some.Other.Interface")).errorName(),
              "org.freedesktop.DBus.Error.UnknownInterface");
    const QDBusMessage noObject = c.raw(callOn("/Instances/I999_0", "get_Name"));
    EXPECT_EQ(noObject.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(c.raw(callOn("/MForm", "let_Caption", {"x"}, nephor::kFormInterface)).errorName(),
              "org.freedesktop.DBus.Error.UnknownMethod"); // the window object is read-only

    // Through the client library: refused before sending.
    auto lib = rig.client();
    EXPECT_EQ(lib->get("NoSuchMember").failure, Failure::UnknownMember);
    EXPECT_EQ(lib->call("Safe", {1}).failure, Failure::BadArguments);
    EXPECT_EQ(lib->let("ReadCycle", "soon").failure, Failure::BadArguments);

    // The factory: releasing what is not yours, or nothing at all.
    QDBusMessage rel = QDBusMessage::createMethodCall(nephor::kProgId, "/", automation::kFactoryInterface, "ReleaseInstance");
    rel << QVariant::fromValue(QDBusObjectPath(lib->path()));
    EXPECT_EQ(c.raw(rel).errorName(), "XOB.Automation.Error.NoObject");
    QDBusMessage rel2 = QDBusMessage::createMethodCall(nephor::kProgId, "/", automation::kFactoryInterface, "ReleaseInstance");
    rel2 << QVariant::fromValue(QDBusObjectPath("/Nothing/Here"));
    EXPECT_EQ(c.raw(rel2).errorName(), "XOB.Automation.Error.NoObject");
    EXPECT_EQ(rig.core->state().clients, 2);
    EXPECT_TRUE(lib->get("Name").ok());
}

TEST(NephorBadInput, TenThousandCallsInABurst)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    ClientThread c(rig.bus.address(), "burst");
    ASSERT_TRUE(c.createRaw());
    const int before = rig.core->state().comCalls.toInt();
    struct Tally {
        int ok = 0, errors = 0;
        QString firstError;
    };
    QElapsedTimer t;
    t.start();
    const Tally tally = c.run([&] {
        Tally out;
        const QDBusMessage msgs[] = {c.instanceCall("Safe"), c.instanceCall("get_Name"), c.instanceCall("Condition_Cloud"),
                                     c.instanceCall("let_ReadCycle", {30}), c.instanceCall("NoSuchMember")};
        QList<QDBusPendingCall> inflight;
        auto finish = [&](QDBusPendingCall& p, int i) {
            p.waitForFinished();
            const bool expectError = i % 5 == 4;
            if (p.isError() == expectError) {
                ++out.ok;
            } else {
                ++out.errors;
                if (out.firstError.isEmpty()) out.firstError = p.error().message();
            }
        };
        QList<int> kinds;
        for (int i = 0; i < 10000; ++i) {
            inflight << c.bus().asyncCall(msgs[i % 5], 10000);
            kinds << i;
            // The bus lets a connection wait for at most 128 replies at a
            // time (without the session bus's higher limit).
            if (inflight.size() >= 100) {
                finish(inflight.first(), kinds.first());
                inflight.removeFirst();
                kinds.removeFirst();
            }
        }
        while (!inflight.isEmpty()) {
            finish(inflight.first(), kinds.first());
            inflight.removeFirst();
            kinds.removeFirst();
        }
        return out;
    });
    EXPECT_EQ(tally.ok, 10000) << tally.firstError.toStdString();
    EXPECT_EQ(tally.errors, 0);
    // 2000 calls of Safe counted as client activity (the counter runs 0..9999).
    EXPECT_EQ((rig.core->state().comCalls.toInt() - before + 10000) % 10000, 2000 + 2000 + 2000);
    EXPECT_EQ(rig.core->config().refreshRead, 2);
    std::printf("10000 calls in %lld ms\n", t.elapsed());
    EXPECT_EQ(c.raw(c.instanceCall("get_Name")).arguments(), QVariantList{"XOB_Skyvane"});
}

TEST(NephorBadInput, ClientVanishingMidCall)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto a = rig.client();
    ASSERT_TRUE(a->call("Device_Start").ok());
    ClientThread v(rig.bus.address(), "vanishing");
    ASSERT_TRUE(v.createRaw());
    ASSERT_TRUE(rig.clientsAre(2));

    // The sensor server hangs, so the forwarded call takes its time; the
    // client leaves before the answer.
    ASSERT_TRUE(rig.sim->hang(1200));
    v.run([&] { v.bus().asyncCall(v.instanceCall("get_ThreshTempClear")); });
    v.disconnect();
    EXPECT_TRUE(rig.clientsAre(1));
    EXPECT_EQ(rig.server->instanceCount(), 1);
    EXPECT_TRUE(a->get("Name").ok());
    EXPECT_TRUE(rig.core->isRunning());

    // A client that leaves while its call waits in the queue.
    ClientThread w(rig.bus.address(), "impatient");
    ASSERT_TRUE(w.createRaw());
    ASSERT_TRUE(rig.clientsAre(2));
    w.run([&] {
        for (int i = 0; i < 50; ++i) w.bus().asyncCall(w.instanceCall("Safe"));
    });
    w.disconnect();
    EXPECT_TRUE(rig.clientsAre(1));

    // Many instances of one client, then it crashes: all are freed.
    ClientThread m(rig.bus.address(), "greedy");
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(m.createRaw());
    ASSERT_TRUE(rig.clientsAre(201));
    m.disconnect();
    EXPECT_TRUE(rig.clientsAre(1));
    EXPECT_EQ(rig.server->instanceCount(), 1);
    EXPECT_EQ(rig.core->state().users, "Attached Users: 1");
    spinFor(1300);
    rig.core->readCycle();
    rig.settle();
    EXPECT_DOUBLE_EQ(a->get("ThreshTempClear").value.toDouble(), -15.0);
}
