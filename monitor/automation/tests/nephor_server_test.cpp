// The class served by the monitor, against the sensor stand-in on a private
// bus: clients counted and released, Start and Stop from clients, the value,
// unit, alarm and safety members, forwarding and the activity signal.
#include "FakeSoundPlayer.h"
#include "InterfaceOrder.h"
#include "NephorTestRig.h"

#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QProcess>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;
using automation::Failure;

namespace {

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

TEST(NephorServer, DeviceStartStopAndTheOneClientStop)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto a = rig.client();
    auto b = rig.client();
    ASSERT_TRUE(rig.clientsAre(2));

    const auto started = a->call("Device_Start");
    ASSERT_TRUE(started.ok()) << started.error.toStdString();
    EXPECT_EQ(started.value.toString(), QString()); // always an empty variant
    EXPECT_TRUE(rig.core->isRunning()) << rig.core->state().status.text.toStdString();
    EXPECT_EQ(rig.sim->deviceStartCount(), 1);
    EXPECT_FALSE(rig.core->state().stopVisible);
    EXPECT_FALSE(rig.core->state().menus.stopVisible); // clients attached: no Stop in the menus either
    EXPECT_TRUE(a->call("DeviceIsRunning").value.toBool());

    // Two clients: XOB_DeviceStop leaves the device alone.
    EXPECT_TRUE(a->call("XOB_DeviceStop").ok());
    EXPECT_TRUE(rig.core->isRunning());
    // With one client left it stops.
    b->release();
    ASSERT_TRUE(rig.clientsAre(1));
    EXPECT_TRUE(a->call("XOB_DeviceStop").ok());
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_FALSE(rig.sim->localControl()); // the sensor server was given control back
    EXPECT_FALSE(a->call("DeviceIsRunning").value.toBool());

    // Device_Stop does it regardless of the count; a second Start/Stop pair
    // behaves the same.
    EXPECT_TRUE(a->call("Device_Start").ok());
    EXPECT_TRUE(rig.core->isRunning());
    EXPECT_EQ(a->call("Device_Stop").value.toString(), QString());
    EXPECT_FALSE(rig.core->isRunning());
}

TEST(NephorServer, ReadCycleLetsAndGet)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    const std::pair<int, int> rows[] = {{0, 0}, {5, 0}, {6, 1}, {30, 2}, {60, 3}, {61, 1}, {3600, 1}, {-7, 0}, {12, 2}};
    for (const auto& [value, item] : rows) {
        SCOPED_TRACE(value);
        ASSERT_TRUE(c->let("ReadCycle", value).ok());
        EXPECT_EQ(rig.core->config().refreshRead, item);
        EXPECT_EQ(c->get("ReadCycle").value.toInt(), leadingInt(kRefreshReadItems[size_t(item)]));
    }
    c->let("ReadCycle", 6);
    EXPECT_EQ(c->get("ReadCycle").value.toInt(), 10);
    // GetGraphCycle with a non-zero argument is this program's ReadCycle.
    EXPECT_EQ(c->call("GetGraphCycle", {1}).value.toInt(), 10);
}

TEST(NephorServer, SpeedAndTemperatureUnitCodes)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    ASSERT_EQ(c->get("XOB_SpeedUnits").value.toString(), "K");
    ASSERT_TRUE(c->let("ThreshWindWindy", 30.0).ok());
    ASSERT_TRUE(c->let("ThreshWindCalm", 20.0).ok());

    c->let("XOB_SpeedUnits", "k");
    EXPECT_EQ(c->get("XOB_SpeedUnits").value.toString(), "k");
    EXPECT_EQ(c->get("UnitSpeed").value.toString(), "knot");
    // Thresholds follow the unit, as when the user picks it.
    EXPECT_NEAR(c->get("ThreshWindCalm").value.toDouble(), 10.799136, 1e-6);
    c->let("XOB_SpeedUnits", "K");
    EXPECT_EQ(c->get("XOB_SpeedUnits").value.toString(), "K");
    EXPECT_NEAR(c->get("ThreshWindCalm").value.toDouble(), 20.0, 1e-9);

    // Anything but an exact code changes nothing.
    for (const char* bad : {"kk", "KM", " k", "x", "", "km/h", "KNOT"}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(c->let("XOB_SpeedUnits", QString::fromLatin1(bad)).ok());
        EXPECT_EQ(c->get("XOB_SpeedUnits").value.toString(), "K");
    }
    c->let("XOB_SpeedUnits", "M");
    EXPECT_EQ(c->get("UnitSpeed").value.toString(), "mph");
    c->let("XOB_SpeedUnits", "m");
    EXPECT_EQ(c->get("XOB_SpeedUnits").value.toString(), "m");

    EXPECT_EQ(c->get("XOB_TemperatureUnits").value.toString(), "C");
    c->let("ThreshTAmbCold", -5.0);
    c->let("XOB_TemperatureUnits", "f");
    EXPECT_EQ(c->get("XOB_TemperatureUnits").value.toString(), "C");
    c->let("XOB_TemperatureUnits", "F");
    EXPECT_EQ(c->get("XOB_TemperatureUnits").value.toString(), "F");
    EXPECT_EQ(c->get("UnitTemp").value.toString(), QStringLiteral("\u00b0F"));
    EXPECT_DOUBLE_EQ(c->get("ThreshTAmbCold").value.toDouble(), 23.0);
}

TEST(NephorServer, ConditionLevelsAndTheSkyCondition)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    ASSERT_TRUE(c->call("Device_Start").ok());
    ASSERT_TRUE(rig.core->isRunning());
    struct Row {
        int cloud, rain, sky;
        bool wet;
    };
    const Row rows[] = {
        {2, 1, 2, false}, {1, 2, 4, true}, {1, 1, 1, false}, {3, 1, 3, false}, {3, 3, 4, true},
        {0, 1, 0, false}, {0, 3, 0, true}, {2, 0, 0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "cloud " << r.cloud << " rain " << r.rain);
        ASSERT_TRUE(rig.sim->setLevels(r.cloud, r.rain, 1));
        rig.core->readCycle();
    rig.settle();
        EXPECT_EQ(c->call("Condition_Cloud").value.toInt(), r.cloud);
        EXPECT_EQ(c->call("Condition_Rain").value.toInt(), r.rain);
        EXPECT_EQ(c->call("Condition_Brightness").value.toInt(), 1);
        EXPECT_EQ(c->call("Condition_Sky").value.toInt(), r.sky);
        EXPECT_EQ(c->call("Condition_WetF").value.toBool(), r.wet);
    }
    // The station's quantities: a calm, mild night.
    EXPECT_EQ(c->call("Condition_Wind").value.toInt(), int(rig.core->board().level(conditions::Quantity::Wind)));
    EXPECT_NE(c->call("Condition_Wind").value.toInt(), 0);
    EXPECT_DOUBLE_EQ(c->call("WindValue").value.toDouble(), 5.0);
    EXPECT_DOUBLE_EQ(c->call("GustValue").value.toDouble(), 8.0);
    EXPECT_DOUBLE_EQ(c->call("HumidityRelative").value.toDouble(), 60.0);
    EXPECT_DOUBLE_EQ(c->call("TemperatureAmb").value.toDouble(), 5.2);
    EXPECT_DOUBLE_EQ(c->call("DewPointTemp").value.toDouble(), -2.0);
    EXPECT_DOUBLE_EQ(c->call("WindDir").value.toDouble(), 22.5);
    EXPECT_DOUBLE_EQ(c->call("BarometricPressure").value.toDouble(), 1013.0);
    EXPECT_EQ(c->call("UnitsBarometricPressure").value.toString(), "hPa");
    EXPECT_DOUBLE_EQ(c->call("AmbientTemperature").value.toDouble(), 5.2);
    // The sensor's readings.
    ASSERT_TRUE(rig.sim->setReading("SkyTemperature", -21.25));
    rig.core->readCycle();
    rig.settle();
    EXPECT_DOUBLE_EQ(c->call("SkyTemperature").value.toDouble(), -21.25);
    EXPECT_TRUE(c->call("DataReady").value.toBool());
    EXPECT_EQ(c->call("SecondsSinceGoodData").value.toInt(), 3);
    const QVariant last = c->call("LastReading").value;
    EXPECT_GT(last.toDouble(), 40000.0); // an automation date, days since 1899
}

TEST(NephorServer, DataDisplayedKeysAndCaseRules)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    ASSERT_TRUE(c->call("Device_Start").ok());
    ASSERT_TRUE(rig.sim->setLevels(1, 1, 1));
    rig.core->readCycle();
    rig.settle();
    const MainState& s = rig.core->state();
    auto dd = [&](const char* info, const char* ref) {
        return c->call("XOB_DataDisplayed", {QString::fromLatin1(info), QString::fromLatin1(ref)}).value.toString();
    };
    using conditions::Quantity;
    ASSERT_FALSE(s.cond[size_t(Quantity::Cloud)].text.isEmpty());
    // The quantity is matched whatever its case; the kind only as written.
    EXPECT_EQ(dd("color", "CLOUD"), nephor::colourToHtml(s.cond[size_t(Quantity::Cloud)].colour));
    EXPECT_TRUE(dd("color", "CLOUD").startsWith('#'));
    EXPECT_EQ(dd("Color", "cloud"), "");
    EXPECT_EQ(dd("VALUE", "cloud"), "");
    EXPECT_EQ(dd("desc", "Cloud"), s.cond[size_t(Quantity::Cloud)].text);
    // The keys are spelled as they always were.
    EXPECT_EQ(dd("value", "humidity"), "n/a");
    EXPECT_EQ(dd("desc", "brightness"), "n/a");
    EXPECT_EQ(dd("color", "humidity"), "#80FFFF");
    EXPECT_EQ(dd("value", "humididty"), "60 %");
    EXPECT_EQ(dd("desc", "humididty"), s.cond[size_t(Quantity::Humidity)].text);
    EXPECT_EQ(dd("value", "brightnesss"), s.valBrightness.text + " K");
    // Values with their unit, named once.
    EXPECT_EQ(dd("value", "cloud"), s.valCloud.text + QStringLiteral(" \u00b0C"));
    EXPECT_EQ(dd("value", "rain"), s.valRain.text + " cycles");
    EXPECT_EQ(dd("value", "wind"), "5 km/hr") << s.valWind.text.toStdString();
    EXPECT_EQ(dd("value", "gust"), "8 km/hr");
    EXPECT_EQ(dd("value", "temperature"), QStringLiteral("5.2 \u00b0C"));
    // The dew label carries the station's unit ("-2 C"): the answer has it once, as shown.
    EXPECT_TRUE(s.valDewPoint.text.startsWith("-2")) << s.valDewPoint.text.toStdString();
    EXPECT_EQ(dd("value", "dew"), s.valDewPoint.text.section(' ', 0, 0) + QStringLiteral(" \u00b0C"));
}

TEST(NephorServer, AlarmNeedsASoundAndValuesReadBack)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    const auto& boxes = rig.core->conditionsConfig().alarms.boxes;
    using conditions::Quantity;

    // No sound: the alarm can not be switched on.
    EXPECT_EQ(c->get("SoundClear").value.toString(), "");
    EXPECT_TRUE(c->let("AlarmClear", 1).ok());
    EXPECT_EQ(c->get("AlarmClear").value.toInt(), 0);
    // With a sound it can.
    EXPECT_TRUE(c->let("SoundClear", "/sounds/clear.wav").ok());
    EXPECT_EQ(c->get("SoundClear").value.toString(), "/sounds/clear.wav");
    EXPECT_TRUE(c->let("AlarmClear", 1).ok());
    EXPECT_EQ(c->get("AlarmClear").value.toInt(), 1);
    EXPECT_TRUE(boxes[Quantity::Cloud][0].armed());
    // Taking the sound away switches it off.
    c->let("SoundClear", "");
    EXPECT_EQ(c->get("AlarmClear").value.toInt(), 0);

    c->let("SoundVLight", "/sounds/bright.wav|repeat");
    EXPECT_EQ(c->get("SoundVLight").value.toString(), "/sounds/bright.wav|repeat");
    c->let("AlarmVLight", 1);
    EXPECT_EQ(c->get("AlarmVLight").value.toInt(), 1);
    EXPECT_TRUE(boxes[Quantity::Brightness][2].armed());
    c->let("AlarmVLight", 0);
    EXPECT_EQ(c->get("AlarmVLight").value.toInt(), 0);

    // A check box holds 0 or 1.
    const auto bad = c->let("AlarmVLight", 2);
    EXPECT_EQ(bad.failure, Failure::BadArguments) << bad.error.toStdString();
    EXPECT_EQ(c->let("SafeClear", -1).failure, Failure::BadArguments);

    // The let's value is passed by reference and comes back unchanged.
    QDBusMessage m = QDBusMessage::createMethodCall(nephor::kProgId, c->path(), nephor::kProgId, "let_AlarmDry");
    m << 1;
    const QDBusMessage r = c->raw(m);
    ASSERT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
    EXPECT_EQ(r.arguments(), QVariantList{1});

    // Unsafe marks; the dew marks run the other way round.
    const auto& marks = rig.core->conditionsConfig().safety.unsafeMarks;
    for (const auto& [name, q, i] : {std::tuple{"SafeDewFine", Quantity::DewPoint, 2},
                                     std::tuple{"SafeDewCondensation", Quantity::DewPoint, 0},
                                     std::tuple{"SafeOvercast", Quantity::Cloud, 2},
                                     std::tuple{"SafeVLight", Quantity::Brightness, 2},
                                     std::tuple{"SafeTempCold", Quantity::Temperature, 0}}) {
        SCOPED_TRACE(name);
        c->let(QString::fromLatin1(name), 0);
        EXPECT_FALSE(marks[q][i]);
        c->let(QString::fromLatin1(name), 1);
        EXPECT_TRUE(marks[q][i]);
        EXPECT_EQ(c->get(QString::fromLatin1(name)).value.toInt(), 1);
    }

    // Suspending the alarm sound.
    EXPECT_TRUE(c->let("AlarmSuspendSound", 1).ok());
    EXPECT_TRUE(rig.core->conditionsConfig().alarms.suspendSound);
    EXPECT_EQ(c->get("AlarmSuspendSound").value.toInt(), 1);
    EXPECT_EQ(c->let("AlarmSuspendSound", 7).failure, Failure::BadArguments);
}

TEST(NephorServer, LocalThresholdsColoursAndDescriptions)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    using conditions::Quantity;
    const auto& levels = rig.core->conditionsConfig().levels;
    EXPECT_TRUE(c->let("ThreshGustVWindy", 61.5).ok());
    EXPECT_DOUBLE_EQ(levels.thresholds[Quantity::Gust][2], 61.5);
    EXPECT_TRUE(c->let("ThreshDewCondensation", 1.5).ok());
    EXPECT_DOUBLE_EQ(levels.thresholds[Quantity::DewPoint][0], 1.5);
    EXPECT_TRUE(c->let("ColorTempHot", 255).ok());
    EXPECT_EQ(levels.styles[Quantity::Temperature][2].colour, 255);
    EXPECT_EQ(c->get("ColorTempHot").value.toInt(), 255);
    EXPECT_EQ(c->let("ColorTempHot", -1).failure, Failure::BadArguments);
    EXPECT_EQ(c->let("ColorTempHot", 0x1000000).failure, Failure::BadArguments);
    EXPECT_EQ(levels.styles[Quantity::Temperature][2].colour, 255);
    EXPECT_TRUE(c->let("DescHumVHumid", "Soaked").ok());
    EXPECT_EQ(levels.styles[Quantity::Humidity][2].description, "Soaked");
    EXPECT_EQ(c->get("DescHumVHumid").value.toString(), "Soaked");
    EXPECT_EQ(c->get("DescDirGustCalm").value.toString(), rig.core->conditionsConfig().safety.gustSectors[0]);
    EXPECT_EQ(c->get("DescDirWindVWindy").value.toString(), rig.core->conditionsConfig().safety.windSectors[2]);

    // Safe delay and cloud alarm delay.
    EXPECT_TRUE(c->let("XOB_SafeDelayValue", 120).ok());
    EXPECT_DOUBLE_EQ(rig.core->conditionsConfig().safety.safeDelaySeconds, 120.0);
    EXPECT_EQ(c->get("XOB_SafeDelayValue").value.toInt(), 120);
    EXPECT_TRUE(c->let("XOB_CloudAlarmDelay", 30).ok()); // no sensor server: only this program's delay
    EXPECT_DOUBLE_EQ(rig.core->safety().evaluator().cloudAlarmDelay(), 30.0);
    EXPECT_EQ(c->get("XOB_CloudAlarmDelay").value.toInt(), 0); // errors read as 0
    rig.core->state().safeDelayMsg.text = " Safe in 10 s ";
    rig.core->state().wsAlarmMsg.text = "WS old ";
    EXPECT_EQ(c->get("XOB_SafeDelayMsg").value.toString(), "Safe in 10 s / WS old");
    rig.core->state().npAlarmMsg.text = "NP error";
    EXPECT_EQ(c->get("XOB_SafeDelayMsg").value.toString(), "Safe in 10 s / WS old / NP error");
}

TEST(NephorServer, SetUnSafeOnlyWithControl)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    ASSERT_TRUE(c->call("Device_Start").ok());
    ASSERT_TRUE(rig.sim->setLevels(1, 1, 1));
    rig.core->readCycle();
    rig.settle();
    const bool safe = c->call("Safe").value.toBool();
    const int sent = rig.sim->unsafeCount();

    // Without control nothing changes and nothing is sent.
    EXPECT_TRUE(c->call("SetUnSafe", {safe}).ok());
    EXPECT_EQ(c->call("Safe").value.toBool(), safe);
    EXPECT_EQ(rig.sim->unsafeCount(), sent);

    // With control the client decides.
    ASSERT_TRUE(c->call("XOB_LocalControl", {true, "Dome control has control"}).ok());
    EXPECT_TRUE(rig.core->hasControlFlag());
    EXPECT_EQ(rig.core->state().controlText.text, "Dome control has control");
    EXPECT_TRUE(c->call("SetUnSafe", {true}).ok());
    EXPECT_FALSE(c->call("Safe").value.toBool());
    EXPECT_TRUE(rig.sim->lastUnsafe());
    EXPECT_EQ(rig.sim->unsafeCount(), sent + 1);
    EXPECT_EQ(rig.core->state().unsafeFlag.text, conditions::unsafeFlagDisplay(true).caption);
    // A read cycle leaves the client's decision alone.
    rig.core->readCycle();
    rig.settle();
    EXPECT_FALSE(c->call("Safe").value.toBool());
    EXPECT_TRUE(rig.sim->lastUnsafe());
    EXPECT_TRUE(c->call("SetUnSafe", {false}).ok());
    EXPECT_TRUE(c->call("Safe").value.toBool());
    EXPECT_FALSE(rig.sim->lastUnsafe());
    rig.core->readCycle();
    rig.settle();
    EXPECT_TRUE(c->call("Safe").value.toBool());

    // Control given back: the monitor decides again.
    ASSERT_TRUE(c->call("XOB_LocalControl", {false, ""}).ok());
    EXPECT_FALSE(rig.core->hasControlFlag());
    EXPECT_TRUE(c->call("SetUnSafe", {true}).ok());
    EXPECT_TRUE(c->call("Safe").value.toBool());
}

TEST(NephorServer, VersionsAndNames)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    EXPECT_EQ(c->get("Name").value.toString(), "XOB_Skyvane");
    EXPECT_EQ(c->get("Version").value.toString(), versionDigits());
    EXPECT_EQ(c->get("Version").value.toString(), "5.02.015");
    // No sensor object: the version is zero.
    EXPECT_EQ(c->get("VersionNP").value.toString(), "0.00.000");
    ASSERT_TRUE(c->call("Device_Start").ok());
    EXPECT_EQ(c->get("VersionNP").value.toString(), "5.30.001");
    c->call("Device_Stop");
    EXPECT_EQ(c->get("VersionNP").value.toString(), "0.00.000");
}

TEST(NephorServer, ObjectSafetyAnswers)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    ClientThread c(rig.bus.address(), "script-host");
    struct Out {
        automation::CallResult r;
        QVariantList args;
    };
    auto call = [&](const QString& member, QVariantList args) {
        return c.run([&] {
            auto o = automation::LateBoundObject::attach(c.bus(), nephor::kProgId, "/IObjectSafety", 2000);
            Out out;
            out.r = o->call(member, args);
            out.args = args;
            return out;
        });
    };
    Out g = call("GetInterfaceSafetyOptions", {"{11111111-2222-3333-4444-555555555555}", 0, 0});
    ASSERT_TRUE(g.r.ok()) << g.r.error.toStdString();
    EXPECT_EQ(g.r.value.toInt(), qint32(0x80004002u)); // E_NOINTERFACE
    g = call("GetInterfaceSafetyOptions", {nephor::kIID_IDispatch, 0, 0});
    EXPECT_EQ(g.r.value.toInt(), 0);
    EXPECT_EQ(g.args.value(1).toInt(), 3);
    EXPECT_EQ(g.args.value(2).toInt(), 1);
    g = call("GetInterfaceSafetyOptions", {nephor::kIID_IPersistPropertyBag, 0, 0});
    EXPECT_EQ(g.args.value(2).toInt(), 2);
    EXPECT_EQ(call("SetInterfaceSafetyOptions", {nephor::kIID_IDispatch, 1, 1}).r.value.toInt(), 0);
    EXPECT_EQ(call("SetInterfaceSafetyOptions", {nephor::kIID_IDispatch, 1, 0}).r.value.toInt(), qint32(0x80004005u));
    EXPECT_EQ(rig.core->state().clients, 0); // asking is not attaching
}

TEST(NephorServer, GuardedMembersWaitForMonitoring)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    rig.sim->clearCallLog();
    // Not running: zero values and nothing reaches the sensor server.
    EXPECT_DOUBLE_EQ(c->get("ThreshTempClear").value.toDouble(), 0.0);
    EXPECT_EQ(c->get("DescriptionClear").value.toString(), "");
    EXPECT_EQ(c->get("ColorClear").value.toInt(), 0);
    EXPECT_FALSE(c->get("TempFactorON").value.toBool());
    EXPECT_EQ(c->get("XOB_DeviceRole").value.toString(), "");
    EXPECT_FALSE(c->get("XOB_DeviceSwitchCtrl").value.toBool());
    EXPECT_FALSE(c->call("XOB_XFERFileErr").value.toBool());
    EXPECT_TRUE(c->let("ThreshTempClear", 7.0).ok());
    EXPECT_TRUE(rig.sim->callLog().isEmpty()) << rig.sim->callLog().join(' ').toStdString();

    ASSERT_TRUE(c->call("Device_Start").ok());
    EXPECT_DOUBLE_EQ(c->get("ThreshTempClear").value.toDouble(), -15.0); // the ignored let left it
    EXPECT_TRUE(c->let("ThreshTempClear", -12.5).ok());
    EXPECT_DOUBLE_EQ(c->get("ThreshTempClear").value.toDouble(), -12.5);
    EXPECT_TRUE(c->let("DescriptionClear", "Stars").ok());
    EXPECT_EQ(c->get("DescriptionClear").value.toString(), "Stars");
    EXPECT_EQ(c->get("XOB_DeviceRole").value.toString(), "MASTER");
    EXPECT_FALSE(c->call("XOB_XFERFileErr").value.toBool());
    rig.sim->setXferError(true);
    EXPECT_TRUE(c->call("XOB_XFERFileErr").value.toBool());
    rig.sim->setXferError(false);

    // Five lets also set the sensor server's own window controls.
    rig.sim->clearCallLog();
    EXPECT_TRUE(c->let("ThreshRainRain", 350.0).ok());
    EXPECT_TRUE(c->let("RainUnknowConditionValue", 1).ok());
    EXPECT_TRUE(c->let("ThreshTempVCloudy", 25.0).ok());
    EXPECT_TRUE(c->let("CloudUnknowConditionValue", 2).ok());
    EXPECT_TRUE(c->let("TempFactorON", true).ok());
    const QStringList log = rig.sim->callLog();
    for (const char* expected : {"let_ThreshRainRain", "MForm.UnknowRainLT.let_Value", "let_RainUnknowConditionValue",
                                 "MForm.RainLimit_2.let_Value", "MForm.UnknowCloudGT.let_Value",
                                 "MForm.CloudLimit_2.let_Value", "let_TempFactorON", "MForm.CloudTempSet"})
        EXPECT_TRUE(log.contains(QString::fromLatin1(expected))) << expected << " not in " << log.join(' ').toStdString();
    EXPECT_DOUBLE_EQ(rig.sim->formValue("UnknowRainLT"), 350.0);
    EXPECT_NE(rig.sim->formValue("CloudTempSet"), 0.0);
    EXPECT_TRUE(c->get("TempFactorON").value.toBool());

    // The switch role: only with a MASTER device.
    EXPECT_TRUE(c->get("XOB_DeviceSwitchCtrl").value.toBool());
    EXPECT_TRUE(c->let("XOB_DeviceSwitchCtrl", false).ok());
    EXPECT_FALSE(c->get("XOB_DeviceSwitchCtrl").value.toBool());
    EXPECT_FALSE(rig.core->switchControl());
    EXPECT_TRUE(c->let("XOB_DeviceSwitchCtrl", true).ok());
    EXPECT_TRUE(rig.core->switchControl());
    rig.sim->setRole("SLAVE");
    EXPECT_TRUE(c->let("XOB_DeviceSwitchCtrl", false).ok());
    EXPECT_TRUE(c->get("XOB_DeviceSwitchCtrl").value.toBool());
}

TEST(NephorServer, ForwardedGraphMembersAndTheirFailures)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    // Not guarded: without a sensor object they fail, clearly.
    for (const auto& [member, args] : {std::pair{"XOB_GraphArrayCloud", QVariantList{}},
                                       std::pair{"XOB_GraphArrayFirstElem", QVariantList{2}},
                                       std::pair{"GraphTemperatureMax", QVariantList{0}},
                                       std::pair{"GetGraphCycle", QVariantList{0}},
                                       std::pair{"GetGraphFreq", QVariantList{0}}}) {
        SCOPED_TRACE(member);
        const auto r = c->call(QString::fromLatin1(member), args);
        EXPECT_EQ(r.failure, Failure::ServerError);
        EXPECT_TRUE(r.error.contains("XOB_Nephor")) << r.error.toStdString();
    }
    // The monitor's own answers need no sensor.
    EXPECT_EQ(c->call("GraphTemperatureMin", {5}).value.toInt(), 0);

    ASSERT_TRUE(c->call("Device_Start").ok());
    const auto cloud = c->call("XOB_GraphArrayCloud");
    ASSERT_TRUE(cloud.ok()) << cloud.error.toStdString();
    EXPECT_EQ(cloud.value.metaType().id(), QMetaType::QVariantList);
    EXPECT_TRUE(c->call("XOB_GraphArrayLastElem", {1}).ok());
    QVariantList ref{0};
    const auto max = c->callRef("GraphTemperatureMax", ref);
    ASSERT_TRUE(max.ok()) << max.error.toStdString();
    EXPECT_EQ(ref, QVariantList{0});
    EXPECT_EQ(c->call("GetGraphCycle", {0}).value.toInt(), 2); // the stand-in reads every 2 s

    // A hung sensor server: the client hears of it in time, and as the
    // sensor server's failure, not as its own call timing out.
    ASSERT_TRUE(rig.sim->hang(1500));
    QElapsedTimer t;
    t.start();
    const auto hung = c->get("ThreshTempClear");
    EXPECT_EQ(hung.failure, Failure::ServerError) << hung.error.toStdString();
    EXPECT_TRUE(hung.error.contains("XOB_Nephor")) << hung.error.toStdString();
    EXPECT_LT(t.elapsed(), 1500);
    const auto suspended = c->get("ThreshTempClear");
    EXPECT_EQ(suspended.failure, Failure::ServerError);
    EXPECT_TRUE(c->get("Name").ok()); // the monitor itself answers
    // The next read cycle tries again.
    spinFor(1600);
    rig.core->readCycle();
    rig.settle();
    EXPECT_DOUBLE_EQ(c->get("ThreshTempClear").value.toDouble(), -15.0);
}

TEST(NephorServer, ActivitySignal)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    nephor::NephorHooks hooks;
    hooks.graphFreq = [] { return 6.0; };
    rig.server->setHooks(hooks);
    auto c = rig.client();
    struct Row {
        enum Kind { Get, Call } kind;
        const char* member;
        QVariantList args;
        int blinks;
    };
    const Row rows[] = {
        {Row::Call, "Safe", {}, 1},
        {Row::Call, "BlinkLEDCOM", {}, 1},
        {Row::Get, "ThreshWindCalm", {}, 1},
        {Row::Call, "SetUnSafe", {true}, 1}, // signals before it looks at control
        {Row::Call, "GetGraphCycle", {1}, 1},
        {Row::Get, "ThreshTempClear", {}, 0}, // guarded, not running
        {Row::Get, "Name", {}, 0},
        {Row::Get, "XOB_SafeDelayValue", {}, 0},
        {Row::Call, "DewPointTemp", {}, 0},
        {Row::Call, "HumidityRelative", {}, 0},
        {Row::Get, "DescDirWindCalm", {}, 0},
        {Row::Call, "XOB_DataDisplayed", {"desc", "cloud"}, 0},
        {Row::Call, "GetGraphFreq", {1}, 0},
        {Row::Call, "XOB_TotalNoUsers", {}, 0},
        {Row::Call, "MForm", {}, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.member);
        const int before = rig.core->state().comCalls.toInt();
        const auto res = r.kind == Row::Get ? c->get(r.member) : c->call(r.member, r.args);
        EXPECT_TRUE(res.ok()) << res.error.toStdString();
        EXPECT_EQ(rig.core->state().comCalls.toInt() - before, r.blinks);
    }
    const LampPair lamp = rig.core->state().ledCom;
    EXPECT_TRUE(lamp.c0 == colour::ClientActivity || lamp.c1 == colour::ClientActivity);
    // SecondsSinceGoodData also shows the period since the last such call.
    rig.clock.advance(12000);
    c->call("SecondsSinceGoodData");
    EXPECT_EQ(rig.core->state().comPeriod, "12s");
}

TEST(NephorServer, MainWindowObjectAndWindowMembers)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    const auto f = c->call("MForm");
    ASSERT_TRUE(f.ok()) << f.error.toStdString();
    const QString path = f.value.value<QDBusObjectPath>().path();
    EXPECT_EQ(path, "/MForm");
    auto form = [&](const char* m) {
        return c->run([&] { return c->object()->objectAt(path)->get(QString::fromLatin1(m)).value; });
    };
    EXPECT_EQ(form("Caption").toString(), titleText());
    EXPECT_EQ(form("LblUsers").toString(), "Attached Users: 1");
    EXPECT_EQ(form("AttachedUsers").toInt(), 1);
    EXPECT_FALSE(form("Running").toBool());
    EXPECT_EQ(form("WindowState").toInt(), 0);
    c->call("WindowMinimize");
    EXPECT_TRUE(rig.core->minimized());
    EXPECT_EQ(form("WindowState").toInt(), 1);
    c->call("WindowNormal");
    EXPECT_FALSE(rig.core->minimized());
    c->let("WindowLeft", 1500);
    c->let("WindowTop", 3000);
    EXPECT_EQ(c->get("WindowLeft").value.toInt(), 1500);
    EXPECT_EQ(form("Top").toInt(), 3000);

    // The program's own window: hooks take over.
    QPoint moved;
    nephor::NephorHooks hooks;
    hooks.windowPosition = [] { return QPoint(300, 450); };
    hooks.moveWindow = [&](const QPoint& p) { moved = p; };
    bool recorded = false, appended = false, stopped = false;
    hooks.recordStart = [&](bool append) {
        recorded = true;
        appended = append;
        return QString();
    };
    hooks.recordStop = [&] { stopped = true; };
    rig.server->setHooks(hooks);
    EXPECT_EQ(c->get("WindowTop").value.toInt(), 450);
    c->let("WindowLeft", 900);
    EXPECT_EQ(moved, QPoint(900, 450));
    EXPECT_TRUE(c->call("RecordStart", {true}).ok());
    EXPECT_TRUE(recorded);
    EXPECT_TRUE(appended);
    EXPECT_TRUE(c->call("RecordStop").ok());
    EXPECT_TRUE(stopped);
}

TEST(NephorServer, AlarmsStartedAndStoppedByAClient)
{
    conditions::FakeSoundPlayer player;
    NephorRig rig({"--ready-delay", "0"}, true, &player);
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();

    QVariantList sound{"/sounds/siren.wav|repeat"};
    ASSERT_TRUE(c->callRef("XOB_AlarmStart", sound).ok());
    EXPECT_EQ(sound, QVariantList{"/sounds/siren.wav|repeat"}); // by reference, unchanged
    EXPECT_EQ(player.played, QStringList{"/sounds/siren.wav (loop)"});
    EXPECT_TRUE(rig.core->state().stopAlarmVisible);
    ASSERT_TRUE(c->call("XOB_AlarmStop").ok());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_FALSE(rig.core->state().stopAlarmVisible);

    // An alarm a client arms sounds in the read cycle like one the user armed.
    ASSERT_TRUE(c->let("SoundCloudy", "/sounds/cloudy.wav").ok());
    ASSERT_TRUE(c->let("AlarmCloudy", 1).ok());
    ASSERT_TRUE(c->let("SafeCloudy", 1).ok());
    ASSERT_TRUE(c->call("Device_Start").ok());
    ASSERT_TRUE(rig.sim->setLevels(2, 1, 1));
    rig.core->readCycle();
    rig.settle();
    EXPECT_FALSE(c->call("Safe").value.toBool());
    EXPECT_EQ(player.played.last(), "/sounds/cloudy.wav");
    EXPECT_EQ(rig.core->alarmId(), "C1");
    // A client taking control silences it.
    ASSERT_TRUE(c->call("XOB_LocalControl", {true, "Client"}).ok());
    EXPECT_FALSE(player.isPlaying());
}

TEST(NephorServer, ASecondMonitorCannotTakeTheName)
{
    NephorRig rig({}, false);
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    MonitorCore other(rig.clock, rig.store, rig.bus.connection("other"), rig.dir.path());
    nephor::NephorServer second(other, rig.bus.connection("other"));
    QString err;
    EXPECT_FALSE(second.publish(&err));
    EXPECT_TRUE(err.contains("owned by another program")) << err.toStdString();
    EXPECT_FALSE(second.publish(&err)); // and again, without complaint about its objects
    EXPECT_TRUE(err.contains("owned by another program")) << err.toStdString();
    auto c = rig.client();
    EXPECT_TRUE(rig.clientsAre(1));
    EXPECT_EQ(other.state().clients, 0);
    EXPECT_EQ(c->get("Name").value.toString(), "XOB_Skyvane");
}

TEST(NephorServer, MembersWithoutTheirFeatureSayNotAvailable)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    // No user data file, no history: a clear error instead of a made-up
    // answer a client would take for real.
    for (const auto& [member, args] : {std::pair{"RecordStart", QVariantList{true}}, std::pair{"RecordStop", QVariantList{}},
                                       std::pair{"GraphFreq", QVariantList{}}, std::pair{"GetGraphFreq", QVariantList{1}},
                                       std::pair{"XOB_GraphArray", QVariantList{}},
                                       std::pair{"XOB_GraphArrayFirstElem", QVariantList{0}},
                                       std::pair{"XOB_GraphArrayLastElem", QVariantList{9}}}) {
        SCOPED_TRACE(member);
        const auto r = c->call(QString::fromLatin1(member), args);
        EXPECT_EQ(r.failure, Failure::ServerError);
        EXPECT_TRUE(r.error.contains("not available in this version")) << r.error.toStdString();
    }

    // Once the program provides the feature, the members answer from it.
    nephor::NephorHooks hooks;
    hooks.graphFreq = [] { return 6.4; };
    hooks.history = [] {
        nephor::HistoryView h;
        h.first = 3;
        h.last = 7;
        for (int row = 0; row <= 7; ++row) h.samples << QVariant(QVariantList{row});
        return h;
    };
    bool recording = false;
    hooks.recordStart = [&](bool) {
        recording = true;
        return QString();
    };
    hooks.recordStop = [&] { recording = false; };
    rig.server->setHooks(hooks);
    EXPECT_EQ(c->call("GraphFreq").value.toInt(), 6);
    EXPECT_EQ(c->call("GetGraphFreq", {1}).value.toInt(), 6);
    EXPECT_EQ(c->call("XOB_GraphArrayFirstElem", {0}).value.toInt(), 3);
    EXPECT_EQ(c->call("XOB_GraphArrayLastElem", {9}).value.toInt(), 7);
    EXPECT_EQ(c->call("XOB_GraphArray").value.toList().size(), 8); // rows 0..7
    EXPECT_TRUE(c->call("RecordStart", {false}).ok());
    EXPECT_TRUE(recording);
    EXPECT_TRUE(c->call("RecordStop").ok());
    EXPECT_FALSE(recording);
}
