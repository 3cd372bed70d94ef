// Late-bound automation over a private bus, against the sensor stand-in
// running as a separate program.
#include "Automation.h"
#include "AutomationServer.h"
#include "Clock.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QCoreApplication>
#include <QDBusPendingCall>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::automation;
using skyvane::testing::PrivateBus;
using skyvane::testing::SensorStandIn;

namespace {

const QString kProgId = QStringLiteral("XOB_Nephor.Nephor");

// ---- conversions (no bus) -------------------------------------------------

struct Conversion {
    const char* what;
    QVariant in;
    const char* type;
    bool date;
    QVariant expected; // invalid: must be refused
};

TEST(AutomationConversion, ConvertsLikeALateBoundCall)
{
    const QDateTime t(QDate(2026, 12, 7), QTime(21, 30, 0));
    const std::vector<Conversion> table = {
        {"double to int rounds half to even (down)", 2.5, "i", false, 2},
        {"double to int rounds half to even (up)", 3.5, "i", false, 4},
        {"negative half to even", -2.5, "i", false, -2},
        {"plain rounding", 2.6, "i", false, 3},
        {"True to int", true, "i", false, -1},
        {"numeric text to int", QStringLiteral(" 7.5 "), "i", false, 8},
        {"True text to int", QStringLiteral("True"), "i", false, -1},
        {"text to int", QStringLiteral("abc"), "i", false, {}},
        {"empty text to int", QStringLiteral(""), "i", false, {}},
        {"int overflow", 3e10, "i", false, {}},
        {"empty value to int", QVariant(), "i", false, 0},
        {"int to double", 2, "d", false, 2.0},
        {"text to double", QStringLiteral("12.5"), "d", false, 12.5},
        {"grouped text is not a number", QStringLiteral("1,000"), "d", false, {}},
        {"False to double", false, "d", false, 0.0},
        {"date to double", t, "d", true, toOleDate(t)},
        {"number to bool", 1, "b", false, true},
        {"zero to bool", 0.0, "b", false, false},
        {"False text to bool", QStringLiteral("false"), "b", false, false},
        {"other text to bool", QStringLiteral("yes"), "b", false, {}},
        {"int to text", 5, "s", false, QStringLiteral("5")},
        {"double to text", 2.5, "s", false, QStringLiteral("2.5")},
        {"bool to text", true, "s", false, QStringLiteral("True")},
        {"array to text", QVariantList{1, 2}, "s", false, {}},
        {"text to object", QStringLiteral("/MForm"), "o", false, QVariant::fromValue(QDBusObjectPath(QStringLiteral("/MForm")))},
        {"bad path to object", QStringLiteral("MForm"), "o", false, {}},
        {"scalar to array", 5, "av", false, {}},
    };
    for (const Conversion& c : table) {
        SCOPED_TRACE(c.what);
        QString why;
        const QVariant w = toWire(c.in, QString::fromLatin1(c.type), c.date, &why);
        if (!c.expected.isValid()) {
            EXPECT_FALSE(w.isValid()) << w.toString().toStdString();
            EXPECT_FALSE(why.isEmpty());
        } else {
            ASSERT_TRUE(w.isValid()) << why.toStdString();
            EXPECT_EQ(w, c.expected);
            EXPECT_EQ(w.metaType(), c.expected.metaType());
        }
    }
    // A date read back from the bus is a QDateTime again.
    EXPECT_EQ(fromWire(toOleDate(t), QStringLiteral("d"), true).toDateTime(), t);
}

TEST(AutomationConversion, ErrorNamesMapToFailures)
{
    EXPECT_EQ(failureForError(QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown")), Failure::NoServer);
    EXPECT_EQ(failureForError(QStringLiteral("org.freedesktop.DBus.Error.UnknownObject")), Failure::NoObject);
    EXPECT_EQ(failureForError(QStringLiteral("org.freedesktop.DBus.Error.NoReply")), Failure::Timeout);
    EXPECT_EQ(failureForError(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")), Failure::UnknownMember);
    EXPECT_EQ(failureForError(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs")), Failure::BadArguments);
    EXPECT_EQ(failureForError(QStringLiteral("XOB.Automation.Error.BadArguments")), Failure::BadArguments);
    EXPECT_EQ(failureForError(QStringLiteral("XOB.Automation.Error.Whatever")), Failure::ServerError);
}

// ---- member tables (no bus) -----------------------------------------------

TEST(AutomationClassSpec, DeclarationsBuildTheTableAndItsIntrospection)
{
    ClassSpec cls(QStringLiteral("XOB_Test.Thing"));
    QString err;
    // A let declared before its get still ends up after it.
    ASSERT_TRUE(cls.declare(QStringLiteral("let Limit(Index i) : d\n"
                                           "get Limit(Index i) : d   # indexed property\n"
                                           "method Mark(ref flag b, when date) : date\n"
                                           "prop AlarmClear : ref i\n"),
                            &err))
        << err.toStdString();
    QStringList order;
    for (const MemberSpec& m : cls.members()) order << m.dbusName();
    EXPECT_EQ(order, (QStringList{"get_Limit", "let_Limit", "Mark", "get_AlarmClear", "let_AlarmClear"}));
    EXPECT_EQ(cls.find(QStringLiteral("let_AlarmClear"))->outSignature(), QStringLiteral("i"));
    EXPECT_EQ(cls.find(QStringLiteral("let_Limit"))->inSignature(), QStringLiteral("id"));
    EXPECT_EQ(cls.find(QStringLiteral("Mark"))->outSignature(), QStringLiteral("db"));
    const QString xml = cls.introspectionXml();
    EXPECT_TRUE(xml.contains(QStringLiteral("<annotation name=\"XOB.Automation.Type\" value=\"date\"/>")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<arg name=\"flag\" type=\"b\" direction=\"out\"/>")));

    // Bad lines are refused with the line named, and leave the table as it was.
    for (const char* bad : {"get NoType", "method Bad(x q)", "prop 9Name : i", "method Twice(a i, a i)",
                            "let Limit(Index i) : d", "method R(Result i)", "get G : ref i", "something else"}) {
        SCOPED_TRACE(bad);
        QString why;
        EXPECT_FALSE(cls.declare(QString::fromLatin1(bad), &why));
        EXPECT_TRUE(why.startsWith(QStringLiteral("line 1"))) << why.toStdString();
    }
    EXPECT_EQ(cls.members().size(), 5);

    // A handler table dispatches by member and kind, and lists what it lacks.
    HandlerTable h;
    h.onGet(QStringLiteral("Limit"), [](Call& c) { return Reply::ok(c.arg(0).toInt() * 10.0); });
    h.onMethod(QStringLiteral("Mark"), [](Call& c) {
        c.args[0] = !c.arg(0).toBool();
        return Reply::ok(c.arg(1));
    });
    EXPECT_EQ(h.missing(cls), (QStringList{"let_Limit", "get_AlarmClear", "let_AlarmClear"}));
    Call get;
    get.member = cls.find(QStringLiteral("Limit"), MemberKind::Get);
    get.args = {2};
    EXPECT_EQ(h(get).value, QVariant(20.0));
    Call let;
    let.member = cls.find(QStringLiteral("Limit"), MemberKind::Let);
    EXPECT_EQ(h(let).failure, Failure::UnknownMember);
}

// ---- over the bus, against the stand-in -------------------------------------

class AutomationBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
        sim = std::make_unique<SensorStandIn>(bus, QStringList{QStringLiteral("--ready-delay"), QStringLiteral("0")});
        ASSERT_TRUE(sim->isRunning()) << sim->error().toStdString();
        QString err;
        obj = LateBoundObject::create(bus.connection(), kProgId, 1000, &err);
        ASSERT_TRUE(obj) << err.toStdString();
    }
    void TearDown() override
    {
        obj.reset();
        sim.reset();
    }

    PrivateBus bus;
    std::unique_ptr<SensorStandIn> sim;
    std::unique_ptr<LateBoundObject> obj;
};

TEST_F(AutomationBus, CreatesAnInstanceAndReadsItsMembers)
{
    EXPECT_TRUE(obj->path().startsWith(QStringLiteral("/Instances/")));
    EXPECT_EQ(obj->progId(), kProgId);
    EXPECT_TRUE(obj->serverAlive());
    EXPECT_EQ(sim->instanceCount(), 1);

    const CallResult v = obj->get(QStringLiteral("Version"));
    ASSERT_TRUE(v.ok()) << v.error.toStdString();
    EXPECT_EQ(v.value, QVariant(QStringLiteral("5.30.001")));
    EXPECT_EQ(obj->interfaceName(), kProgId);

    const QStringList members = obj->members();
    ASSERT_FALSE(members.isEmpty());
    EXPECT_EQ(members.first(), QStringLiteral("Version"));
    for (const char* m : {"ThreshBrightnessLigth", "CloudUnknowConditionValue", "XOB_GraphArrayTemp", "MForm"})
        EXPECT_TRUE(members.contains(QLatin1String(m))) << m;
    EXPECT_EQ(members.count(QStringLiteral("ThreshTempClear")), 1); // get and let listed once

    // Dates come back as QDateTime, levels as int, arrays as lists.
    ASSERT_TRUE(obj->call(QStringLiteral("Device_Start")).ok());
    const CallResult last = obj->get(QStringLiteral("LastReading"));
    ASSERT_TRUE(last.ok());
    EXPECT_EQ(last.value.metaType().id(), QMetaType::QDateTime);
    EXPECT_LT(std::abs(last.value.toDateTime().secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(obj->get(QStringLiteral("Condition_Cloud")).value.metaType().id(), QMetaType::Int);
    EXPECT_EQ(obj->call(QStringLiteral("XOB_GraphArrayCloud")).value.toList().size(), 120);
    // A get and a method stand in for each other, as in a late-bound call.
    EXPECT_EQ(obj->call(QStringLiteral("DataReady")).value, QVariant(true));

    // Releasing the handle releases the instance on the server at once.
    obj.reset();
    EXPECT_EQ(sim->instanceCount(), 0);
}

TEST_F(AutomationBus, CoercesArgumentsAndWritesByRefArgumentsBack)
{
    // bool by reference, given as a number
    QVariantList unsafe{1};
    ASSERT_TRUE(obj->call(QStringLiteral("SetUnSafe"), unsafe).ok());
    EXPECT_TRUE(sim->lastUnsafe());
    EXPECT_EQ(unsafe.first(), QVariant(true));

    // double by reference, given as a 32-bit value
    QVariantList sw{2};
    ASSERT_TRUE(obj->call(QStringLiteral("XOB_SetSwitch"), sw).ok());
    EXPECT_EQ(sim->lastSwitch(), 2.0);
    EXPECT_EQ(sw.first(), QVariant(2.0));

    struct Let {
        const char* member;
        QVariant value;
        QVariant readBack;
    };
    for (const Let& l : std::vector<Let>{{"CloudUnknowConditionValue", 2.5, 2},
                                         {"RainUnknowConditionValue", QStringLiteral("3"), 3},
                                         {"ThreshTempClear", QStringLiteral("-12.5"), -12.5},
                                         {"TempFactorON", 0, false},
                                         {"DescriptionClear", 7, QStringLiteral("7")}}) {
        SCOPED_TRACE(l.member);
        ASSERT_TRUE(obj->let(QLatin1String(l.member), l.value).ok());
        EXPECT_EQ(obj->get(QLatin1String(l.member)).value, l.readBack);
    }

    // by-reference values of every kind, and a date both ways
    const QDateTime when(QDate(2026, 12, 7), QTime(21, 0, 0));
    QString err;
    auto control = LateBoundObject::attach(bus.connection(), kProgId, QStringLiteral("/Control"), 1000, &err);
    ASSERT_TRUE(control) << err.toStdString();
    QVariantList probe{3, QStringLiteral("True"), 4.5, when};
    const CallResult p = control->call(QStringLiteral("Probe"), probe);
    ASSERT_TRUE(p.ok()) << p.error.toStdString();
    EXPECT_EQ(probe, (QVariantList{6.0, false, QStringLiteral("4.5!"), when}));
    EXPECT_EQ(p.value.toDateTime(), when.addDays(1));
    // variants and arrays of variants, nested
    QVariantList items{QVariantList{1, QStringLiteral("a"), true, QVariantList{2.5}}};
    EXPECT_EQ(control->call(QStringLiteral("Reverse"), items).value,
              QVariant(QVariantList{QVariantList{2.5}, true, QStringLiteral("a"), 1}));
    QVariantList echo{when};
    EXPECT_EQ(control->call(QStringLiteral("Echo"), echo).value, QVariant(toOleDate(when)));
}

TEST_F(AutomationBus, ReachesObjectsReturnedByMembers)
{
    const CallResult form = obj->call(QStringLiteral("MForm"));
    ASSERT_TRUE(form.ok()) << form.error.toStdString();
    ASSERT_EQ(form.value.metaType(), QMetaType::fromType<QDBusObjectPath>());
    auto mform = obj->objectAt(form.value.value<QDBusObjectPath>().path());
    ASSERT_TRUE(mform);

    const CallResult limit = mform->get(QStringLiteral("RainLimit"), {2});
    ASSERT_TRUE(limit.ok()) << limit.error.toStdString();
    auto box = obj->objectAt(limit.value.value<QDBusObjectPath>().path());
    ASSERT_TRUE(box->let(QStringLiteral("Value"), 3).ok());
    EXPECT_EQ(box->get(QStringLiteral("Value")).value, QVariant(3.0));
    EXPECT_EQ(sim->formValue(QStringLiteral("RainLimit(2)")), 3.0);
    EXPECT_EQ(obj->get(QStringLiteral("RainUnknowConditionValue")).value, QVariant(3));

    QVariantList on{true};
    ASSERT_TRUE(mform->call(QStringLiteral("CloudTempSet"), on).ok());
    EXPECT_EQ(sim->formValue(QStringLiteral("CloudTempSet")), -1.0);

    // an index the server refuses
    EXPECT_EQ(mform->get(QStringLiteral("CloudLimit"), {5}).failure, Failure::BadArguments);
    // objects reached this way are not released with the handle
    mform.reset();
    box.reset();
    EXPECT_EQ(sim->instanceCount(), 1);
}

TEST_F(AutomationBus, RefusesUnknownMembersAndBadArgumentsWithoutHarm)
{
    ASSERT_TRUE(sim->clearCallLog());
    EXPECT_EQ(obj->get(QStringLiteral("NoSuchMember")).failure, Failure::UnknownMember);
    EXPECT_EQ(obj->let(QStringLiteral("DataReady"), true).failure, Failure::UnknownMember); // get only
    QVariantList none;
    EXPECT_EQ(obj->call(QStringLiteral("SetUnSafe"), none).failure, Failure::BadArguments);
    QVariantList wrong{QVariantList{1}, QStringLiteral("label")};
    const CallResult r = obj->call(QStringLiteral("XOB_LocalControl"), wrong);
    EXPECT_EQ(r.failure, Failure::BadArguments);
    EXPECT_TRUE(r.error.contains(QStringLiteral("vData"))) << r.error.toStdString();
    EXPECT_EQ(obj->let(QStringLiteral("ThreshTempClear"), QStringLiteral("cold")).failure, Failure::BadArguments);
    // refused before sending: the server saw none of these
    EXPECT_TRUE(sim->callLog().isEmpty()) << sim->callLog().join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(obj->isSuspended());

    // A client that ignores the table gets a clear error from the server.
    QDBusMessage raw = QDBusMessage::createMethodCall(kProgId, obj->path(), kProgId, QStringLiteral("SetUnSafe"));
    raw << QStringLiteral("yes");
    const QDBusMessage reply = bus.connection().call(raw, QDBus::Block, 1000);
    EXPECT_EQ(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    EXPECT_TRUE(reply.errorMessage().contains(QStringLiteral("(b)"))) << reply.errorMessage().toStdString();
    QDBusMessage unknown = QDBusMessage::createMethodCall(kProgId, obj->path(), kProgId, QStringLiteral("get_Nothing"));
    EXPECT_EQ(bus.connection().call(unknown, QDBus::Block, 1000).errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
    EXPECT_TRUE(obj->get(QStringLiteral("Version")).ok());
}

TEST_F(AutomationBus, TimeoutSuspendsTheObjectUntilResumed)
{
    obj->setTimeout(150);
    ASSERT_TRUE(obj->get(QStringLiteral("Version")).ok()); // introspected before the hang
    ASSERT_TRUE(sim->hang(600));

    QElapsedTimer t;
    t.start();
    const CallResult first = obj->get(QStringLiteral("SkyTemperature"));
    EXPECT_EQ(first.failure, Failure::Timeout);
    EXPECT_GE(t.elapsed(), 100);
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(obj->isSuspended());

    // Every further call fails at once: one timeout only.
    t.restart();
    for (const char* m : {"RainValue", "BrightnessValue", "LastReading"})
        EXPECT_EQ(obj->get(QLatin1String(m)).failure, Failure::Suspended);
    QVariantList unsafe{true};
    EXPECT_EQ(obj->call(QStringLiteral("SetUnSafe"), unsafe).failure, Failure::Suspended);
    EXPECT_LT(t.elapsed(), 50);

    // Resumed, the object calls again; with a longer timeout it outlasts the hang.
    obj->resume();
    EXPECT_FALSE(obj->isSuspended());
    obj->setTimeout(5000);
    EXPECT_EQ(obj->timeout(), 2000); // never more than 2 s
    const CallResult again = obj->get(QStringLiteral("Version"));
    EXPECT_TRUE(again.ok()) << again.error.toStdString();
}

namespace {
bool spinUntil(const std::function<bool()>& pred, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}
} // namespace

TEST_F(AutomationBus, AsyncCallsAnswerLaterInOrderAndNeverAfterTheObjectIsGone)
{
    // The first call of a fresh object also waits for the introspection;
    // the calls behind it keep their order.
    QStringList order;
    QVariantList written;
    bool returned = false;
    obj->getAsync(QStringLiteral("Version"), [&](const CallResult& r, const QVariantList&) {
        EXPECT_TRUE(returned) << "a callback ran inside the call that sent it";
        order << (r.ok() ? QStringLiteral("Version") : r.error);
    });
    obj->callAsync(QStringLiteral("SetUnSafe"), {true}, [&](const CallResult& r, const QVariantList& args) {
        order << (r.ok() ? QStringLiteral("SetUnSafe") : r.error);
        written = args;
    });
    obj->getAsync(QStringLiteral("Nothing"), [&](const CallResult& r, const QVariantList&) { order << describe(r.failure); });
    returned = true;
    ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
    // A call refused here (no such member) answers without a round trip;
    // those that went to the server answer in the order they were sent.
    EXPECT_TRUE(order.contains("UnknownMember"));
    order.removeAll("UnknownMember");
    EXPECT_EQ(order, (QStringList{"Version", "SetUnSafe"}));
    EXPECT_EQ(written.value(0).toBool(), true);
    EXPECT_TRUE(sim->lastUnsafe());

    // A hung server: the calls in flight time out together, once, and the
    // object is suspended; sending them did not wait.
    obj->setTimeout(150);
    ASSERT_TRUE(sim->hang(700));
    int timeouts = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 3; ++i)
        obj->getAsync(QStringLiteral("SkyTemperature"), [&](const CallResult& r, const QVariantList&) {
            if (r.failure == Failure::Timeout) ++timeouts;
        });
    EXPECT_LT(t.elapsed(), 50);
    ASSERT_TRUE(spinUntil([&] { return timeouts == 3; }));
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(obj->isSuspended());

    // An object destroyed before its answers came never calls back.
    obj->resume();
    bool called = false;
    obj->getAsync(QStringLiteral("Version"), [&](const CallResult&, const QVariantList&) { called = true; });
    obj.reset();
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 800) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_FALSE(called);
}

TEST_F(AutomationBus, ServerGoneIsNoServerAtOnce)
{
    sim->kill();
    QElapsedTimer t;
    t.start();
    const CallResult r = obj->get(QStringLiteral("Version"));
    EXPECT_EQ(r.failure, Failure::NoServer) << r.error.toStdString();
    EXPECT_LT(t.elapsed(), 300);
    EXPECT_FALSE(obj->isSuspended());
    EXPECT_FALSE(obj->serverAlive());

    QString err;
    t.restart();
    EXPECT_FALSE(LateBoundObject::create(bus.connection(), kProgId, 1000, &err));
    EXPECT_FALSE(err.isEmpty());
    EXPECT_LT(t.elapsed(), 300);
    obj.reset(); // releasing into the void does not hang
}

TEST_F(AutomationBus, RestartedServerLeavesOldInstancesUnreachable)
{
    const CallResult ok = obj->get(QStringLiteral("Version"));
    ASSERT_TRUE(ok.ok());
    sim.reset();
    sim = std::make_unique<SensorStandIn>(bus);
    ASSERT_TRUE(sim->isRunning()) << sim->error().toStdString();
    // Calls go to the program that made the instance, never to a newcomer
    // that happens to serve an object of the same path.
    EXPECT_EQ(obj->get(QStringLiteral("Version")).failure, Failure::NoServer);
    EXPECT_FALSE(obj->serverAlive());
}

TEST_F(AutomationBus, InstancesOfClientsThatLeaveAreReleased)
{
    // Two more clients, each its own connection, created with plain messages
    // so that nothing releases them politely.
    for (const char* name : {"other1", "other2"}) {
        QDBusConnection c = bus.connection(QLatin1String(name));
        QDBusMessage msg = QDBusMessage::createMethodCall(kProgId, QStringLiteral("/"), QLatin1String(kFactoryInterface),
                                                          QStringLiteral("CreateInstance"));
        ASSERT_EQ(c.call(msg, QDBus::Block, 1000).type(), QDBusMessage::ReplyMessage);
        ASSERT_EQ(c.call(msg, QDBus::Block, 1000).type(), QDBusMessage::ReplyMessage);
    }
    EXPECT_EQ(sim->instanceCount(), 5);

    // Another client may not release what is not its own.
    QDBusMessage steal = QDBusMessage::createMethodCall(kProgId, QStringLiteral("/"), QLatin1String(kFactoryInterface),
                                                        QStringLiteral("ReleaseInstance"));
    steal << QVariant::fromValue(QDBusObjectPath(obj->path()));
    EXPECT_EQ(bus.connection(QStringLiteral("other1")).call(steal, QDBus::Block, 1000).type(), QDBusMessage::ErrorMessage);

    bus.disconnect(QStringLiteral("other1"));
    bus.disconnect(QStringLiteral("other2"));
    // The server hears of it through the bus; bounded wait for that message.
    QDeadlineTimer deadline(3000);
    while (sim->instanceCount() != 1 && !deadline.hasExpired()) QThread::msleep(10);
    EXPECT_EQ(sim->instanceCount(), 1);
    EXPECT_TRUE(obj->get(QStringLiteral("Version")).ok());
}

// ---- a server of this process: deferred answers, instance bookkeeping -------

class OwnServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
        auto cls = std::make_shared<ClassSpec>(QStringLiteral("XOB_Test.Slow"));
        ASSERT_TRUE(cls->declare(QStringLiteral(R"(
            method Slow(x i) : i
            method Fast : i
            method Forgotten : i
            method Twice(ref v i) : i
            method Store(v d)
            method Long(ms i) : i
        )")));
        HandlerTable h;
        h.onMethod(QStringLiteral("Slow"), [](Call& c) {
            // Answered from a timer, well after the handler returned.
            Responder r = c.defer();
            const int x = c.arg(0).toInt();
            QTimer::singleShot(300, [r, x]() mutable { r.reply(Reply::ok(2 * x)); });
            return Reply::deferred();
        });
        h.onMethod(QStringLiteral("Fast"), [](Call&) { return Reply::ok(7); });
        h.onMethod(QStringLiteral("Forgotten"), [](Call& c) {
            c.defer(); // taken and dropped: the caller must not wait for its timeout
            return Reply::deferred();
        });
        h.onMethod(QStringLiteral("Twice"), [](Call& c) {
            Responder r = c.defer();
            QTimer::singleShot(50, [r]() mutable {
                r.args()[0] = r.args()[0].toInt() * 2;
                r.reply(Reply::ok(1));
                r.reply(Reply::ok(2)); // the first answer stands
            });
            return Reply::deferred();
        });
        h.onMethod(QStringLiteral("Store"), [this](Call& c) {
            stored << c.arg(0).toDouble();
            return Reply::ok();
        });
        h.onMethod(QStringLiteral("Long"), [](Call& c) {
            Responder r = c.defer();
            QTimer::singleShot(c.arg(0).toInt(), [r]() mutable { r.reply(Reply::ok(1)); });
            return Reply::deferred();
        });
        server = std::make_unique<AutomationServer>(bus.connection(), QStringLiteral("XOB_Test.Slow"), cls, h);
        server->setOnClientGone([this](const QString& c) { gone << c; });
        QString err;
        ASSERT_TRUE(server->publish(&err)) << err.toStdString();
    }

    // A client connection's new instance, made with a plain message.
    QString create(QDBusConnection c)
    {
        const QDBusPendingCall p = c.asyncCall(QDBusMessage::createMethodCall(
            QStringLiteral("XOB_Test.Slow"), QStringLiteral("/"), QLatin1String(kFactoryInterface), QStringLiteral("CreateInstance")));
        const QDBusMessage r = wait(p);
        lastError = r.errorName();
        return r.type() == QDBusMessage::ReplyMessage ? r.arguments().value(0).value<QDBusObjectPath>().path() : QString();
    }
    static QDBusMessage call(const QString& path, const QString& member, const QVariantList& args = {})
    {
        QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("XOB_Test.Slow"), path, QStringLiteral("XOB_Test.Slow"), member);
        m.setArguments(args);
        return m;
    }
    // Lets this thread's server work until the call has its answer.
    static QDBusMessage wait(QDBusPendingCall p, int ms = 5000)
    {
        QDeadlineTimer deadline(ms);
        while (!p.isFinished() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return p.reply();
    }

    PrivateBus bus;
    std::unique_ptr<AutomationServer> server;
    QStringList gone;
    QList<double> stored;
    QString lastError;
};

TEST_F(OwnServer, DeferredAnswersComeLaterWhileOtherCallsAreAnswered)
{
    QDBusConnection c = bus.connection(QStringLiteral("client"));
    const QString path = create(c);
    ASSERT_FALSE(path.isEmpty()) << lastError.toStdString();

    QElapsedTimer t;
    t.start();
    const QDBusPendingCall slow = c.asyncCall(call(path, QStringLiteral("Slow"), {21}), 5000);
    // The same client's next call is answered while the first one waits.
    const QDBusMessage fast = wait(c.asyncCall(call(path, QStringLiteral("Fast"))));
    ASSERT_EQ(fast.type(), QDBusMessage::ReplyMessage) << fast.errorMessage().toStdString();
    EXPECT_EQ(fast.arguments().value(0).toInt(), 7);
    EXPECT_FALSE(slow.isFinished());
    const QDBusMessage r = wait(slow);
    ASSERT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
    EXPECT_EQ(r.arguments().value(0).toInt(), 42);
    EXPECT_GE(t.elapsed(), 250);

    // By-reference arguments are written back from the responder; one answer only.
    const QDBusMessage twice = wait(c.asyncCall(call(path, QStringLiteral("Twice"), {5})));
    ASSERT_EQ(twice.type(), QDBusMessage::ReplyMessage) << twice.errorMessage().toStdString();
    EXPECT_EQ(twice.arguments(), (QVariantList{1, 10}));

    // A responder dropped without answering: an error at once, not a timeout.
    t.restart();
    const QDBusMessage forgotten = wait(c.asyncCall(call(path, QStringLiteral("Forgotten")), 4000));
    EXPECT_EQ(forgotten.errorName(), QStringLiteral("XOB.Automation.Error.ServerError"));
    EXPECT_TRUE(forgotten.errorMessage().contains("without an answer")) << forgotten.errorMessage().toStdString();
    EXPECT_LT(t.elapsed(), 2000);

    // A client that leaves before its answer: the server carries on.
    QDBusConnection leaving = bus.connection(QStringLiteral("leaving"));
    const QString p2 = create(leaving);
    leaving.asyncCall(call(p2, QStringLiteral("Slow"), {1}));
    QCoreApplication::processEvents();
    leaving = QDBusConnection(QString());
    bus.disconnect(QStringLiteral("leaving"));
    QDeadlineTimer d(1000);
    while (!d.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(wait(c.asyncCall(call(path, QStringLiteral("Fast")))).arguments().value(0).toInt(), 7);
}

TEST_F(OwnServer, OneCallMayWaitLongerThanTheUsualTimeout)
{
    CallResult normal, longer;
    QThread* client = QThread::create([&] {
        QDBusConnection c = QDBusConnection::connectToBus(bus.address(), QStringLiteral("patient"));
        auto obj = LateBoundObject::create(c, QStringLiteral("XOB_Test.Slow"), 2000);
        if (!obj) return;
        QVariantList args{2300};
        normal = obj->call(QStringLiteral("Long"), args); // 2 s at most
        obj->resume();
        longer = obj->callLong(QStringLiteral("Long"), args, 5000);
        obj.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("patient"));
    });
    client->start();
    QDeadlineTimer deadline(20000);
    while (!client->isFinished() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_TRUE(client->wait(1000));
    delete client;
    EXPECT_EQ(normal.failure, Failure::Timeout) << normal.error.toStdString();
    EXPECT_TRUE(longer.ok()) << longer.error.toStdString();
    EXPECT_EQ(longer.value.toInt(), 1);
}

TEST_F(OwnServer, NaNIsRefusedBeforeTheHandler)
{
    QDBusConnection c = bus.connection(QStringLiteral("client"));
    const QString path = create(c);
    const QDBusMessage nan = wait(c.asyncCall(call(path, QStringLiteral("Store"), {std::nan("")})));
    EXPECT_EQ(nan.errorName(), QStringLiteral("XOB.Automation.Error.BadArguments"));
    EXPECT_TRUE(stored.isEmpty()); // not stored as 0
    EXPECT_EQ(wait(c.asyncCall(call(path, QStringLiteral("Store"), {2.5}))).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(stored, QList<double>{2.5});
}

TEST_F(OwnServer, InstancesPerClientAreCappedAndAllGoWithTheirClient)
{
    QDBusConnection greedy = bus.connection(QStringLiteral("greedy"));
    QDBusConnection other = bus.connection(QStringLiteral("other"));
    server->setMaxInstancesPerClient(40);
    QStringList paths;
    for (int i = 0; i < 40; ++i) paths << create(greedy);
    EXPECT_FALSE(paths.contains(QString()));
    EXPECT_TRUE(create(greedy).isEmpty());
    EXPECT_EQ(lastError, QLatin1String(kTooManyInstancesError));
    // The limit is per client: another one is not affected.
    const QString mine = create(other);
    ASSERT_FALSE(mine.isEmpty());
    EXPECT_EQ(server->instanceCount(), 41);
    EXPECT_EQ(server->instanceCount(greedy.baseService()), 40);

    // Released one by one: the client is gone with its last instance.
    for (int i = 0; i < 20; ++i) {
        QDBusMessage rel = QDBusMessage::createMethodCall(QStringLiteral("XOB_Test.Slow"), QStringLiteral("/"),
                                                          QLatin1String(kFactoryInterface), QStringLiteral("ReleaseInstance"));
        rel << QVariant::fromValue(QDBusObjectPath(paths[i]));
        ASSERT_EQ(wait(greedy.asyncCall(rel)).type(), QDBusMessage::ReplyMessage);
    }
    EXPECT_EQ(server->instanceCount(greedy.baseService()), 20);
    EXPECT_TRUE(gone.isEmpty());
    EXPECT_FALSE(create(greedy).isEmpty()); // room again
    const QString greedyName = greedy.baseService();
    greedy = QDBusConnection(QString()); // the last handle goes, as when a program crashes
    bus.disconnect(QStringLiteral("greedy"));
    QDeadlineTimer deadline(3000);
    while (gone.isEmpty() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(gone, QStringList{greedyName});
    EXPECT_EQ(server->instanceCount(), 1);
    EXPECT_EQ(server->instanceCount(greedyName), 0);
    EXPECT_EQ(server->instancePath(server->instances().value(0)), mine);
}

} // namespace
