// The Alpaca devices against the real monitor: every member through a real
// HTTP client, the envelope and transaction numbers, the protocol checks a
// conformance checker makes (bad and missing parameters, wrong case, unknown
// members, wrong methods), and issafe through a scripted night.
#include "ServerRig.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;
using conditions::Quantity;

namespace {

const QString kSafety = QStringLiteral("safetymonitor");
const QString kConditions = QStringLiteral("observingconditions");

int errorOf(const HttpResult& r) { return r.json.value("ErrorNumber").toInt(-1); }

// Every envelope carries both transaction numbers, an error number and a
// message that is empty exactly when the number is 0.
void expectEnvelope(const HttpResult& r, const char* what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(r.status, 200) << r.body.toStdString();
    EXPECT_TRUE(r.contentType.startsWith("application/json"));
    EXPECT_TRUE(r.json.contains("ClientTransactionID"));
    EXPECT_TRUE(r.json.value("ServerTransactionID").toInteger() > 0);
    ASSERT_TRUE(r.json.value("ErrorNumber").isDouble());
    EXPECT_EQ(r.json.value("ErrorNumber").toInt() == 0, r.json.value("ErrorMessage").toString().isEmpty());
}

} // namespace

TEST(AlpacaManagement, VersionsDescriptionAndDevices)
{
    ServerRig s;
    HttpResult r = s.client->get("/management/apiversions?ClientTransactionID=7");
    expectEnvelope(r, "apiversions");
    EXPECT_EQ(r.json.value("Value").toArray(), QJsonArray{1});
    EXPECT_EQ(r.json.value("ClientTransactionID").toInt(), 7);

    r = s.client->get("/management/v1/description");
    expectEnvelope(r, "description");
    const QJsonObject d = r.json.value("Value").toObject();
    for (const char* key : {"ServerName", "Manufacturer", "ManufacturerVersion", "Location"})
        EXPECT_TRUE(d.value(key).isString()) << key;

    r = s.client->get("/management/v1/configureddevices");
    expectEnvelope(r, "configureddevices");
    const QJsonArray devices = r.json.value("Value").toArray();
    ASSERT_EQ(devices.size(), 2);
    QStringList types;
    for (const auto& v : devices) {
        const QJsonObject o = v.toObject();
        types << o.value("DeviceType").toString();
        EXPECT_EQ(o.value("DeviceNumber").toInt(-1), 0);
        EXPECT_FALSE(o.value("UniqueID").toString().isEmpty());
        EXPECT_FALSE(o.value("DeviceName").toString().isEmpty());
    }
    EXPECT_EQ(types, (QStringList{"SafetyMonitor", "ObservingConditions"}));
    // Management members are read only.
    EXPECT_EQ(s.client->put("/management/apiversions", "").status, 405);
    EXPECT_EQ(s.client->get("/management/v1/nothing").status, 400);
}

TEST(AlpacaCommon, EveryCommonMemberOfBothDevices)
{
    ServerRig s;
    for (const QString& dev : {kSafety, kConditions}) {
        SCOPED_TRACE(dev.toStdString());
        // Disconnected at first; connect and disconnect both ways.
        EXPECT_FALSE(s.get(dev, "connected").json.value("Value").toBool(true));
        expectEnvelope(s.put(dev, "connect"), "connect");
        EXPECT_TRUE(s.get(dev, "connected").json.value("Value").toBool());
        expectEnvelope(s.put(dev, "disconnect"), "disconnect");
        EXPECT_FALSE(s.get(dev, "connected").json.value("Value").toBool(true));
        expectEnvelope(s.put(dev, "connected", "Connected=True"), "connected");
        EXPECT_TRUE(s.get(dev, "connected").json.value("Value").toBool());
        EXPECT_FALSE(s.get(dev, "connecting").json.value("Value").toBool(true));

        for (const char* m : {"description", "driverinfo", "driverversion", "name"}) {
            const HttpResult r = s.get(dev, m);
            expectEnvelope(r, m);
            EXPECT_FALSE(r.json.value("Value").toString().isEmpty()) << m;
        }
        EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+$").match(s.get(dev, "driverversion").json.value("Value").toString()).hasMatch())
            << s.get(dev, "driverversion").body.toStdString();
        EXPECT_EQ(s.get(dev, "interfaceversion").json.value("Value").toInt(), dev == kSafety ? 3 : 2);
        EXPECT_EQ(s.get(dev, "supportedactions").json.value("Value").toArray(), QJsonArray{"skyvane:reasons"});
        const HttpResult state = s.get(dev, "devicestate");
        expectEnvelope(state, "devicestate");
        EXPECT_TRUE(state.json.value("Value").isArray());

        for (const char* m : {"commandblind", "commandbool", "commandstring"}) {
            const HttpResult r = s.put(dev, m, "Command=X&Raw=false");
            expectEnvelope(r, m);
            EXPECT_EQ(errorOf(r), 0x400) << m;
        }
        EXPECT_EQ(errorOf(s.put(dev, "action", "Action=open-roof&Parameters=")), 0x40C);
        const HttpResult reasons = s.put(dev, "action", "Action=skyvane:reasons&Parameters=");
        expectEnvelope(reasons, "action");
        const QJsonObject doc = QJsonDocument::fromJson(reasons.json.value("Value").toString().toUtf8()).object();
        EXPECT_FALSE(doc.value("safe").toBool(true)); // not monitoring
        ASSERT_FALSE(doc.value("reasons").toArray().isEmpty());
        EXPECT_EQ(doc.value("reasons").toArray()[0].toObject().value("cause").toString(), "not-evaluated");
    }
}

TEST(AlpacaTransactions, ClientNumbersEchoedServerNumbersRise)
{
    ServerRig s;
    quint32 last = 0;
    auto check = [&](const HttpResult& r, qint64 client) {
        EXPECT_EQ(r.json.value("ClientTransactionID").toInteger(-1), client) << r.body.toStdString();
        const qint64 server = r.json.value("ServerTransactionID").toInteger();
        EXPECT_GT(server, qint64(last));
        last = quint32(server);
    };
    check(s.get(kSafety, "name", "ClientID=3&ClientTransactionID=12"), 12);
    check(s.get(kSafety, "name", "clienttransactionid=13"), 13); // GET names ignore case
    check(s.get(kSafety, "name", "CLIENTTRANSACTIONID=14"), 14);
    check(s.get(kSafety, "name"), 0);                                      // missing
    check(s.get(kSafety, "name", "ClientTransactionID=abc"), 0);           // unreadable
    check(s.get(kSafety, "name", "ClientTransactionID=-1"), 0);            // negative
    check(s.get(kSafety, "name", "ClientTransactionID=4294967296"), 0);    // beyond 32 bits
    check(s.get(kSafety, "name", "ClientTransactionID=4294967295"), 4294967295LL);
    check(s.put(kSafety, "connected", "Connected=true&ClientID=1&ClientTransactionID=21"), 21);
    // PUT form names are exact: a wrong-case transaction number is not one.
    check(s.put(kSafety, "connected", "Connected=true&clienttransactionid=22"), 0);
    check(s.client->get("/management/apiversions?ClientTransactionID=30"), 30);
}

TEST(AlpacaProtocol, BadRequestsAreRefusedAsTheStandardSays)
{
    ServerRig s;
    // Missing or unreadable parameter values: 400 with a plain-text reason.
    for (const QByteArray& form : {QByteArray(), QByteArray("Connected="), QByteArray("Connected=maybe"),
                                   QByteArray("Connected=1"), QByteArray("connected=true"), QByteArray("CONNECTED=true")}) {
        const HttpResult r = s.put(kSafety, "connected", form);
        EXPECT_EQ(r.status, 400) << form.toStdString();
        EXPECT_TRUE(r.contentType.startsWith("text/plain")) << form.toStdString();
        EXPECT_FALSE(r.body.trimmed().isEmpty());
    }
    EXPECT_FALSE(s.get(kSafety, "connected").json.value("Value").toBool(true)) << "a refused PUT changed the state";
    EXPECT_EQ(s.put(kSafety, "action", "Parameters=").status, 400);
    EXPECT_EQ(s.put(kSafety, "action", "Action=skyvane:reasons").status, 400);
    EXPECT_EQ(s.put(kSafety, "commandblind", "Raw=true").status, 400);
    EXPECT_EQ(s.put(kConditions, "averageperiod", "").status, 400);
    EXPECT_EQ(s.put(kConditions, "averageperiod", "AveragePeriod=soon").status, 400);
    EXPECT_EQ(s.put(kConditions, "averageperiod", "averageperiod=0").status, 400); // PUT names are exact
    EXPECT_EQ(s.get(kConditions, "timesincelastupdate").status, 400);
    EXPECT_EQ(s.get(kConditions, "sensordescription").status, 400);

    // A wrong API version or a misspelt "api" is a bad request; the
    // monitor's own JSON is not an Alpaca path.
    for (const char* path : {"/api/v2/safetymonitor/0/issafe", "/apii/v1/safetymonitor/0/issafe", "/API/v1/safetymonitor/0/issafe",
                             "/api/safetymonitor/0/issafe"})
        EXPECT_EQ(s.client->get(path).status, 400) << path;
    EXPECT_EQ(s.client->get("/api/skyvane/v1/status").status, 200);

    // Unknown members, devices and numbers; URLs are lower case.
    EXPECT_EQ(s.get(kSafety, "cloudcover").status, 400);
    EXPECT_EQ(s.get(kSafety, "nosuchmember").status, 400);
    EXPECT_EQ(s.client->get("/api/v1/telescope/0/name").status, 400);
    EXPECT_EQ(s.client->get("/api/v1/safetymonitor/1/name").status, 400);
    EXPECT_EQ(s.client->get("/api/v1/safetymonitor/-1/name").status, 400);
    EXPECT_EQ(s.client->get("/api/v1/safetymonitor/x/name").status, 400);
    EXPECT_EQ(s.client->get("/api/v1/SafetyMonitor/0/name").status, 400);
    EXPECT_EQ(s.client->get("/api/v1/safetymonitor/0/IsSafe").status, 400);
    EXPECT_EQ(s.client->get("/api/v1/safetymonitor/0").status, 400);

    // Wrong HTTP methods.
    EXPECT_EQ(s.put(kSafety, "issafe", "").status, 405);
    EXPECT_EQ(s.put(kSafety, "name", "").status, 405);
    EXPECT_EQ(s.get(kSafety, "connect").status, 405);
    EXPECT_EQ(s.get(kConditions, "refresh").status, 405);
    EXPECT_EQ(s.client->send("POST", "/api/v1/safetymonitor/0/connected", "Connected=true").status, 405);
    EXPECT_EQ(s.client->send("DELETE", "/api/v1/safetymonitor/0/connected", {}).status, 405);
}

TEST(AlpacaConditions, ValuesInAlpacaUnitsAndTheirErrors)
{
    ServerRig s;
    MonitorRig& rig = s.rig;
    ASSERT_TRUE(rig.ready());
    rig.writeStationFile(36, 54, 60); // km/h: 10 and 15 m/s
    rig.sim->setLevels(1, 1, 1);
    rig.sim->setReading("SkyTemperature", -21.5);

    // Not connected: values are refused, what is not measured says so first;
    // which sensors exist is answered all the same.
    EXPECT_EQ(errorOf(s.get(kConditions, "temperature")), 0x407);
    EXPECT_EQ(errorOf(s.get(kConditions, "rainrate")), 0x400);
    for (const char* sensor : {"CloudCover", "SkyTemperature", "SkyBrightness", "Temperature", "Humidity", "DewPoint",
                               "WindSpeed", "WindGust", "WindDirection", "Pressure", "RainRate"}) {
        const HttpResult d = s.get(kConditions, "sensordescription", QByteArray("SensorName=") + sensor);
        if (errorOf(d) == 0x400) continue; // not measured
        EXPECT_EQ(errorOf(d), 0) << sensor << ": " << d.body.toStdString();
        EXPECT_FALSE(d.json.value("Value").toString().isEmpty()) << sensor;
    }
    ASSERT_TRUE(s.connectBoth());
    // Connected but not monitoring: no current reading, and no reading was
    // ever received, which the age says with a negative number.
    EXPECT_EQ(errorOf(s.get(kConditions, "temperature")), 0x40B);
    EXPECT_LT(s.get(kConditions, "timesincelastupdate", "SensorName=Temperature").json.value("Value").toDouble(0), 0);
    EXPECT_LT(s.get(kConditions, "timesincelastupdate", "SensorName=").json.value("Value").toDouble(0), 0);

    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    auto value = [&](const char* m) {
        const HttpResult r = s.get(kConditions, m);
        EXPECT_EQ(errorOf(r), 0) << m << ": " << r.body.toStdString();
        return r.json.value("Value").toDouble(-999);
    };
    EXPECT_NEAR(value("temperature"), 5.2, 1e-9);
    EXPECT_NEAR(value("dewpoint"), -2.0, 1e-9);
    EXPECT_NEAR(value("humidity"), 60, 1e-9);
    EXPECT_NEAR(value("pressure"), 1013, 1e-9);
    EXPECT_NEAR(value("windspeed"), 10, 1e-9);
    EXPECT_NEAR(value("windgust"), 15, 1e-9);
    EXPECT_NEAR(value("winddirection"), 22.5, 1e-9); // NNE
    EXPECT_NEAR(value("cloudcover"), 0, 1e-9);       // Clear
    EXPECT_NEAR(value("skytemperature"), -21.5, 1e-9);
    EXPECT_EQ(value("averageperiod"), 0);
    for (const char* m : {"rainrate", "skyquality", "starfwhm"}) EXPECT_EQ(errorOf(s.get(kConditions, m)), 0x400) << m;

    // Fahrenheit on the monitor: still degrees Celsius over Alpaca.
    rig.core->selectTemperatureUnit(conditions::TemperatureUnit::Fahrenheit);
    rig.writeStationFile(36, 54, 60);
    s.cycle();
    EXPECT_NEAR(value("temperature"), 5.2, 0.1);

    // Calm: the direction reads 0 as the standard says.
    rig.writeStationFile(0, 0, 60);
    s.cycle();
    EXPECT_EQ(value("winddirection"), 0);
    // Overcast: cloud cover from the cloud level.
    rig.sim->setLevels(3, 1, 1);
    s.cycle();
    EXPECT_EQ(value("cloudcover"), 100);

    // Average period: 0 only; anything else is an invalid value.
    const HttpResult first = s.put(kConditions, "averageperiod", "AveragePeriod=0");
    EXPECT_EQ(errorOf(first), 0) << first.status << first.body.toStdString();
    EXPECT_EQ(errorOf(s.put(kConditions, "averageperiod", "AveragePeriod=1.5")), 0x401);
    EXPECT_EQ(errorOf(s.put(kConditions, "refresh")), 0);

    // Sensor names: any case, an empty name for the newest of all; unknown
    // names are invalid values, unmeasured ones not implemented.
    const HttpResult age = s.get(kConditions, "timesincelastupdate", "SensorName=Temperature");
    EXPECT_EQ(errorOf(age), 0);
    EXPECT_GE(age.json.value("Value").toDouble(-1), 0);
    EXPECT_EQ(errorOf(s.get(kConditions, "timesincelastupdate", "sensorname=")), 0);
    EXPECT_EQ(errorOf(s.get(kConditions, "timesincelastupdate", "SensorName=Moisture")), 0x401);
    EXPECT_EQ(errorOf(s.get(kConditions, "timesincelastupdate", "SensorName=StarFWHM")), 0x400);
    const HttpResult desc = s.get(kConditions, "sensordescription", "SensorName=skytemperature");
    EXPECT_EQ(errorOf(desc), 0);
    EXPECT_FALSE(desc.json.value("Value").toString().isEmpty());
    EXPECT_EQ(errorOf(s.get(kConditions, "sensordescription", "SensorName=RainRate")), 0x400);
    EXPECT_EQ(errorOf(s.get(kConditions, "sensordescription", "SensorName=Nothing")), 0x401);

    // A sensor fault takes the sensor's values away, the station's stay.
    rig.sim->setDeviceRunning(false);
    s.cycle();
    EXPECT_EQ(errorOf(s.get(kConditions, "skytemperature")), 0x40B);
    EXPECT_EQ(errorOf(s.get(kConditions, "humidity")), 0);
}

// issafe through a night: before the first evaluation, clear, cloud, the
// safe delay, stale station data, a sensor fault, a hung sensor, Stop. It is
// never true while the monitor's flag is unsafe, and it is true when all is
// well.
TEST(AlpacaIsSafe, ScriptedNightNeverTrueWhileUnsafe)
{
    ServerRig s;
    MonitorRig& rig = s.rig;
    ASSERT_TRUE(rig.ready());
    rig.core->conditionsConfig().safety.safeDelaySeconds = 30;
    rig.sim->setLevels(1, 1, 1);
    int checked = 0;
    auto check = [&](const char* when) -> std::optional<bool> {
        SCOPED_TRACE(when);
        const auto safe = s.isSafe();
        EXPECT_TRUE(safe.has_value());
        if (safe && *safe) {
            EXPECT_FALSE(rig.core->reportedUnsafe());
            EXPECT_TRUE(rig.core->unsafeReasons().empty());
        }
        ++checked;
        return safe;
    };

    EXPECT_EQ(check("disconnected, stopped"), false);
    ASSERT_TRUE(s.connectBoth());
    EXPECT_EQ(check("connected, stopped"), false);
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    EXPECT_EQ(check("clear"), true);
    s.put(kSafety, "disconnect");
    EXPECT_EQ(check("clear but disconnected"), false);
    s.put(kSafety, "connect");

    // Two more programs: one's Disconnect leaves the other's connection and
    // its issafe alone; the device is disconnected with its last client.
    auto issafeOf = [&](int id) { return s.get(kSafety, "issafe", QStringLiteral("ClientID=%1").arg(id)).json.value("Value").toBool(); };
    auto connectedOf = [&](int id) { return s.get(kSafety, "connected", QStringLiteral("ClientID=%1").arg(id)).json.value("Value").toBool(); };
    ASSERT_EQ(errorOf(s.put(kSafety, "connected", "Connected=true&ClientID=11")), 0);
    ASSERT_EQ(errorOf(s.put(kSafety, "connected", "Connected=true&ClientID=22")), 0);
    EXPECT_TRUE(issafeOf(11));
    EXPECT_TRUE(issafeOf(22));
    ASSERT_EQ(errorOf(s.put(kSafety, "disconnect", "ClientID=11")), 0);
    EXPECT_FALSE(connectedOf(11));
    EXPECT_FALSE(issafeOf(11));
    EXPECT_TRUE(connectedOf(22));
    EXPECT_TRUE(issafeOf(22)) << "another program's Disconnect turned issafe false";
    EXPECT_EQ(check("clear, the first program still connected"), true);
    ASSERT_EQ(errorOf(s.put(kSafety, "connected", "Connected=false&ClientID=22")), 0);
    ASSERT_EQ(errorOf(s.put(kSafety, "disconnect")), 0);
    EXPECT_FALSE(s.service->alpaca().connected(0)) << "the device stayed connected after its last client left";
    s.put(kSafety, "connect");

    rig.sim->setLevels(3, 1, 1);
    s.cycle();
    EXPECT_EQ(check("overcast"), false);
    const auto reasons = rig.core->unsafeReasons();
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0].cause, conditions::UnsafeCause::MarkedLevel);
    EXPECT_EQ(reasons[0].quantity, Quantity::Cloud);

    rig.sim->setLevels(1, 1, 1);
    for (int i = 0; i < 3; ++i) {
        s.cycle();
        EXPECT_EQ(check("safe delay"), false);
        ASSERT_FALSE(rig.core->unsafeReasons().empty());
        EXPECT_EQ(rig.core->unsafeReasons()[0].cause, conditions::UnsafeCause::SafeDelay);
    }
    s.cycle();
    EXPECT_EQ(check("after the safe delay"), true);

    // Stale station data, even with the user's "stale is unsafe" unchecked.
    rig.core->conditionsConfig().safety.wsDataOldUnsafe = false;
    rig.core->config().timeoutRead = 1; // minute
    s.cycle(12);
    EXPECT_EQ(check("stale station data"), false);
    rig.core->config().timeoutRead = 1000;
    rig.writeStationFile();
    s.cycle();
    QFile::remove(rig.dir.filePath("station.csv"));
    s.cycle();
    EXPECT_EQ(check("station file gone"), false);
    rig.writeStationFile();
    rig.core->conditionsConfig().safety.wsDataOldUnsafe = true;
    s.cycle(5);
    EXPECT_EQ(check("station back"), true);

    // Sensor fault.
    rig.sim->setDeviceRunning(false);
    s.cycle();
    EXPECT_EQ(check("sensor fault"), false);
    rig.sim->setDeviceRunning(true);
    s.cycle(5);
    EXPECT_EQ(check("sensor back"), true);

    // No cycle completes for two intervals: the last evaluation is stale.
    rig.core->config().readIntervalMs(); // the period in force
    rig.core->stopProcedure();
    EXPECT_EQ(check("stopped"), false);
    EXPECT_EQ(rig.core->unsafeReasons()[0].cause, conditions::UnsafeCause::NotEvaluated);
    EXPECT_GE(checked, 12);
}

TEST(AlpacaDiscovery, AnswersProbesOnlyWhenOpenToTheNetwork)
{
    ServerRig s; // loopback only
    EXPECT_FALSE(s.service->discovery().active());

    // A free UDP port for this test instead of the well-known one.
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress::LocalHost, 0));
    const quint16 port = probe.localPort();
    probe.close();

    http::HttpService open(*s.rig.core);
    open.config().port = 0;
    open.config().openToNetwork = true;
    open.setDiscoveryPort(port);
    open.setNetworkAddresses(QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6));
    ASSERT_TRUE(open.start());
    ASSERT_TRUE(open.discovery().active());

    QUdpSocket client;
    ASSERT_TRUE(client.bind(QHostAddress::LocalHost, 0));
    QByteArray answer;
    QObject::connect(&client, &QUdpSocket::readyRead, [&] {
        while (client.hasPendingDatagrams()) answer += client.receiveDatagram().data();
    });
    client.writeDatagram("who is there", QHostAddress::LocalHost, port); // ignored
    client.writeDatagram("alpacadiscovery1", QHostAddress::LocalHost, port);
    ASSERT_TRUE(spinUntil([&] { return !answer.isEmpty(); }));
    const QJsonObject o = QJsonDocument::fromJson(answer).object();
    EXPECT_EQ(o.value("AlpacaPort").toInt(), open.server().port());
    EXPECT_EQ(open.discovery().answered(), 1);

    // IPv6, where the machine has it.
    QUdpSocket client6;
    if (client6.bind(QHostAddress::LocalHostIPv6, 0)) {
        QByteArray answer6;
        QObject::connect(&client6, &QUdpSocket::readyRead, [&] {
            while (client6.hasPendingDatagrams()) answer6 += client6.receiveDatagram().data();
        });
        client6.writeDatagram("alpacadiscovery1", QHostAddress::LocalHostIPv6, port);
        ASSERT_TRUE(spinUntil([&] { return !answer6.isEmpty(); }));
        EXPECT_EQ(QJsonDocument::fromJson(answer6).object().value("AlpacaPort").toInt(), open.server().port());
    }
    open.stop();
    EXPECT_FALSE(open.discovery().active());
}

namespace {
// Sends one probe from a fresh socket and waits a little for the answer
// ("" when none came).
QByteArray probe(const QHostAddress& to, quint16 port, int waitMs = 1500)
{
    QUdpSocket client;
    const QHostAddress from = to.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(QHostAddress::AnyIPv6)
                                                                               : QHostAddress(QHostAddress::AnyIPv4);
    if (!client.bind(from, 0)) return "<no socket>";
    QByteArray answer;
    QObject::connect(&client, &QUdpSocket::readyRead, [&] {
        while (client.hasPendingDatagrams()) answer += client.receiveDatagram().data();
    });
    client.writeDatagram("alpacadiscovery1", to, port);
    spinUntil([&] { return !answer.isEmpty(); }, waitMs);
    return answer;
}

// An address of this computer that is not loopback, if it has one.
QHostAddress outsideAddress()
{
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
        if (i.flags().testFlag(QNetworkInterface::IsUp) && !i.flags().testFlag(QNetworkInterface::IsLoopBack))
            for (const QNetworkAddressEntry& e : i.addressEntries())
                if (e.ip().protocol() == QAbstractSocket::IPv4Protocol) return e.ip();
    return {};
}
} // namespace

TEST(AlpacaDiscovery, BoundToTheChosenAddressAnswersThereOnly)
{
    ServerRig s;
    QUdpSocket free;
    ASSERT_TRUE(free.bind(QHostAddress::LocalHost, 0));
    const quint16 port = free.localPort();
    free.close();
    const bool v6 = QUdpSocket().bind(QHostAddress::LocalHostIPv6, 0);
    const auto expected = [&] { return "{\"AlpacaPort\":" + QByteArray::number(s.port()) + "}"; };
    const auto restart = [&](const QString& where, bool open) {
        s.service->config().discoveryAddress = where;
        s.service->config().openToNetwork = open;
        s.service->config().port = 0;
        s.service->setDiscoveryPort(port);
        EXPECT_TRUE(s.service->start());
        s.client = std::make_unique<HttpClient>(s.port());
    };

    // A single-machine observatory: the server on loopback, and discovery
    // there too.
    restart("loopback", false);
    ASSERT_TRUE(s.service->discovery().active());
    EXPECT_EQ(probe(QHostAddress::LocalHost, port), expected());
    if (v6) EXPECT_FALSE(probe(QHostAddress::LocalHostIPv6, port).isEmpty());
    const QHostAddress outside = outsideAddress();
    if (!outside.isNull()) EXPECT_EQ(probe(outside, port, 500), "") << outside.toString().toStdString();

    // One address: answered there (and to broadcasts on its interface), not
    // on another address of this computer and not over IPv6.
    restart("127.0.0.1", true);
    ASSERT_TRUE(s.service->discovery().active());
    EXPECT_EQ(probe(QHostAddress::LocalHost, port), expected());
    if (v6) EXPECT_EQ(probe(QHostAddress::LocalHostIPv6, port, 500), "");
    if (!outside.isNull()) EXPECT_EQ(probe(outside, port, 500), "") << outside.toString().toStdString();
    if (!outside.isNull()) {
        restart(outside.toString(), true);
        EXPECT_EQ(probe(outside, port), expected());
        EXPECT_EQ(probe(QHostAddress::LocalHost, port, 500), "");
    }

    // Off, and what cannot be: nothing answers, and the status line says why.
    restart("off", true);
    EXPECT_FALSE(s.service->discovery().active());
    restart("no-such-address", true);
    EXPECT_FALSE(s.service->discovery().active());
    EXPECT_EQ(s.rig.core->state().status.text, "Web server: discovery address no-such-address not valid");
    restart("192.0.2.77", true);
    EXPECT_FALSE(s.service->discovery().active());
    EXPECT_EQ(s.rig.core->state().status.text, "Web server: discovery 192.0.2.77 not on this computer");
    if (!outside.isNull()) {
        restart(outside.toString(), false);
        EXPECT_FALSE(s.service->discovery().active());
        EXPECT_TRUE(s.rig.core->state().status.text.endsWith("needs OpenToNetwork"));
    }
}

// The server's settings load and save with the monitor's own; the attached
// server listens where they say once the event loop turns.
TEST(HttpSettings, LoadedAndSavedWithTheMonitorsSettings)
{
    qunsetenv("SKYVANE_HTTP_PORT"); // the suite's override would hide the setting
    MonitorRig rig;
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    const QString app = QString::fromLatin1(kAppName);
    rig.store.save(app, "WebServer", "Port", QString::number(port));
    rig.store.save(app, "WebServer", "OpenToNetwork", "0");

    http::HttpService* service = http::attachHttpServer(*rig.core);
    EXPECT_TRUE(rig.core->settingsSchema().duplicates().isEmpty());
    rig.core->load();
    EXPECT_EQ(service->config().port, port);
    EXPECT_FALSE(service->config().openToNetwork);
    ASSERT_TRUE(spinUntil([&] { return service->server().isListening(); }));
    EXPECT_EQ(service->server().port(), port);
    EXPECT_EQ(service->server().address(), QHostAddress(QHostAddress::LocalHost));
    EXPECT_EQ(HttpClient(port).get("/management/apiversions").status, 200);

    // A port out of range falls back to the default; a change is saved.
    service->config().port = 12345;
    rig.core->save();
    EXPECT_EQ(rig.store.get(app, "WebServer", "Port"), "12345");
    rig.store.save(app, "WebServer", "Port", "70000");
    rig.core->load();
    EXPECT_EQ(service->config().port, 11111);

    // The override of one run is used but never saved.
    qputenv("SKYVANE_HTTP_PORT", "0");
    http::HttpService* other = http::attachHttpServer(*rig.core);
    rig.core->load();
    ASSERT_TRUE(spinUntil([&] { return other->server().isListening(); }));
    EXPECT_NE(other->server().port(), 11111);
    rig.core->save();
    EXPECT_EQ(rig.store.get(app, "WebServer", "Port"), "11111");
}
