#include "AlpacaApi.h"

#include "MonitorApi.h"
#include "Units.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace skyvane::http {

using conditions::Quantity;

namespace {

constexpr int kSafety = 0;
constexpr int kConditions = 1;

const char* const kDeviceTypes[2] = {"safetymonitor", "observingconditions"};
const char* const kDeviceNames[2] = {"Skyvane safety monitor", "Skyvane observing conditions"};
const char* const kUniqueIds[2] = {"9b1d7c2e-5a0f-4c8e-9a57-2f6b1e0c3d41", "4e8a2f60-71c3-4b9d-8e15-c0a9d3f7b262"};
const char* const kClassNames[2] = {"SafetyMonitor", "ObservingConditions"};
constexpr int kInterfaceVersion[2] = {3, 2};
const QString kReasonsAction = QStringLiteral("skyvane:reasons");

const QStringList kCommonGet{QStringLiteral("connected"),     QStringLiteral("connecting"),
                             QStringLiteral("description"),   QStringLiteral("driverinfo"),
                             QStringLiteral("driverversion"), QStringLiteral("interfaceversion"),
                             QStringLiteral("name"),          QStringLiteral("supportedactions"),
                             QStringLiteral("devicestate")};
const QStringList kCommonPut{QStringLiteral("connected"),   QStringLiteral("connect"),
                             QStringLiteral("disconnect"),  QStringLiteral("action"),
                             QStringLiteral("commandblind"), QStringLiteral("commandbool"),
                             QStringLiteral("commandstring")};
const QStringList kSafetyGet{QStringLiteral("issafe")};
// The observing-conditions properties that name a sensor.
const QStringList kSensors{QStringLiteral("cloudcover"),  QStringLiteral("dewpoint"),
                           QStringLiteral("humidity"),    QStringLiteral("pressure"),
                           QStringLiteral("rainrate"),    QStringLiteral("skybrightness"),
                           QStringLiteral("skyquality"),  QStringLiteral("skytemperature"),
                           QStringLiteral("starfwhm"),    QStringLiteral("temperature"),
                           QStringLiteral("winddirection"), QStringLiteral("windgust"),
                           QStringLiteral("windspeed")};
const QStringList kNotMeasured{QStringLiteral("rainrate"), QStringLiteral("skyquality"), QStringLiteral("starfwhm")};
const QStringList kConditionsGet = kSensors + QStringList{QStringLiteral("averageperiod"),
                                                          QStringLiteral("timesincelastupdate"),
                                                          QStringLiteral("sensordescription")};
const QStringList kConditionsPut{QStringLiteral("averageperiod"), QStringLiteral("refresh")};

// The sensor names in the casing of the standard, for the device state.
const char* const kSensorNames[] = {"CloudCover", "DewPoint", "Humidity", "Pressure", "RainRate",
                                    "SkyBrightness", "SkyQuality", "SkyTemperature", "StarFWHM",
                                    "Temperature", "WindDirection", "WindGust", "WindSpeed"};

std::optional<bool> parseBool(const QString& s)
{
    const QString t = s.trimmed().toLower();
    if (t == QLatin1String("true")) return true;
    if (t == QLatin1String("false")) return false;
    return std::nullopt;
}

HttpResponse badRequest(const QString& why) { return HttpResponse::text(400, why.toUtf8() + '\n'); }

} // namespace

struct AlpacaApi::Call {
    explicit Call(const HttpRequest& r) : req(r) {}
    const HttpRequest& req;
    bool isPut = false;
    int device = 0;
    QString member;
    QList<QPair<QString, QString>> params;
    quint32 clientTx = 0;
    quint32 clientId = 0; // ClientID; 0 when missing or unreadable

    // GET names are matched without regard to case, PUT form names exactly.
    std::optional<QString> param(const QString& name) const
    {
        for (const auto& p : params) {
            const bool same = isPut ? p.first == name : p.first.compare(name, Qt::CaseInsensitive) == 0;
            if (same) return p.second;
        }
        return std::nullopt;
    }
};

AlpacaApi::AlpacaApi(MonitorApi& core) : core_(core) {}

// Each client program (ClientID) connects and disconnects for itself: one
// program's Disconnect leaves another's connection, and its issafe, alone.
// The device is connected while any client is.
bool AlpacaApi::connectedFor(const Call& call, int device) const { return clients_[device].contains(call.clientId); }

void AlpacaApi::setConnected(const Call& call, bool on)
{
    if (on) clients_[call.device].insert(call.clientId);
    else clients_[call.device].remove(call.clientId);
}

QByteArray AlpacaApi::reasonsJson(const MonitorApi& core)
{
    return QJsonDocument(reasonsObject(core)).toJson(QJsonDocument::Compact);
}

QJsonObject AlpacaApi::reasonsObject(const MonitorApi& core)
{
    // The last upload run rides along: it never makes the sky unsafe, but
    // it is the other thing a remote observer asks about.
    return QJsonObject{{QStringLiteral("safe"), core.safeAndFresh()},
                       {QStringLiteral("reasons"), conditions::reasonsArray(core.notSafeReasons())},
                       {QStringLiteral("upload"), outputs::uploadRunJson(core.uploads().lastRun())}};
}

HttpResponse AlpacaApi::envelope(Call& call, const std::optional<QJsonValue>& value, int error, const QString& message)
{
    QJsonObject o;
    if (value) o.insert(QStringLiteral("Value"), *value);
    o.insert(QStringLiteral("ClientTransactionID"), qint64(call.clientTx));
    o.insert(QStringLiteral("ServerTransactionID"), qint64(++serverTx_));
    o.insert(QStringLiteral("ErrorNumber"), error);
    o.insert(QStringLiteral("ErrorMessage"), message);
    HttpResponse r;
    r.body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    return r;
}

bool AlpacaApi::handle(const HttpRequest& req, HttpResponse& out)
{
    const QString path = QString::fromUtf8(req.path);
    const bool isApi = path.startsWith(QLatin1String("/api/v1/")) || path == QLatin1String("/api/v1");
    const bool isManagement = path.startsWith(QLatin1String("/management/"));
    if (!isApi && !isManagement) {
        // /api/v2/..., /apii/v1/...: a device request this server cannot
        // serve is a bad request, not a missing page. The monitor's own
        // JSON lives under /api/skyvane/.
        const QString first = path.section(QLatin1Char('/'), 1, 1);
        const QString second = path.section(QLatin1Char('/'), 2, 2);
        const bool ours = first == QLatin1String("api") && second == QLatin1String("skyvane");
        if (first.startsWith(QLatin1String("api"), Qt::CaseInsensitive) && !ours) {
            out = badRequest(QStringLiteral("this server speaks only /api/v1/{device type}/{device number}/{member}"));
            return true;
        }
        return false;
    }

    Call call(req);
    call.isPut = req.method == "PUT";
    if (req.method != "GET" && req.method != "PUT" && req.method != "HEAD") {
        out = HttpResponse::text(405, "only GET and PUT are served\n");
        out.headers.append(qMakePair(QByteArray("Allow"), QByteArray("GET, PUT")));
        return true;
    }
    if (call.isPut) {
        const QByteArray type = req.header("content-type").toLower();
        if (!req.body.isEmpty() && !type.isEmpty() && !type.startsWith("application/x-www-form-urlencoded")) {
            out = badRequest(QStringLiteral("PUT parameters must be form-encoded"));
            return true;
        }
        call.params = parseForm(req.body);
    } else {
        call.params = parseForm(req.query);
    }
    // A missing or unreadable transaction number counts as 0; so does one
    // that does not fit 32 bits.
    auto number = [&](const QString& name) -> quint32 {
        const auto v = call.param(name);
        if (!v) return 0;
        bool ok = false;
        const qulonglong n = v->trimmed().toULongLong(&ok);
        return ok && n <= 0xFFFFFFFFull && !v->trimmed().startsWith(QLatin1Char('+')) ? quint32(n) : 0;
    };
    call.clientTx = number(QStringLiteral("ClientTransactionID"));
    call.clientId = number(QStringLiteral("ClientID"));
    if (isManagement) {
        out = management(req, path.mid(int(qstrlen("/management/"))));
        return true;
    }
    // /api/v1/{type}/{number}/{member}
    const QStringList parts = path.mid(int(qstrlen("/api/v1/"))).split(QLatin1Char('/'));
    if (parts.size() != 3) {
        out = badRequest(QStringLiteral("expected /api/v1/{device type}/{device number}/{member}"));
        return true;
    }
    int device = -1;
    for (int i = 0; i < 2; ++i)
        if (parts[0] == QLatin1String(kDeviceTypes[i])) device = i;
    if (device < 0) {
        out = badRequest(QStringLiteral("unknown device type: ") + parts[0]);
        return true;
    }
    if (parts[1] != QLatin1String("0")) {
        out = badRequest(QStringLiteral("unknown device number: ") + parts[1]);
        return true;
    }
    call.device = device;
    call.member = parts[2];
    out = this->device(call);
    return true;
}

HttpResponse AlpacaApi::management(const HttpRequest& req, const QString& what)
{
    Call call(req);
    call.params = parseForm(req.query);
    if (const auto tx = call.param(QStringLiteral("ClientTransactionID"))) {
        bool ok = false;
        const qulonglong n = tx->trimmed().toULongLong(&ok);
        call.clientTx = ok && n <= 0xFFFFFFFFull ? quint32(n) : 0;
    }
    const bool known = what == QLatin1String("apiversions") || what == QLatin1String("v1/description") ||
                       what == QLatin1String("v1/configureddevices");
    if (!known) return badRequest(QStringLiteral("unknown management member: ") + what);
    if (req.method == "PUT") {
        HttpResponse r = HttpResponse::text(405, "management members are read with GET\n");
        r.headers.append(qMakePair(QByteArray("Allow"), QByteArray("GET")));
        return r;
    }
    if (what == QLatin1String("apiversions")) return envelope(call, QJsonArray{1});
    if (what == QLatin1String("v1/description"))
        return envelope(call, QJsonObject{{QStringLiteral("ServerName"), serverName},
                                          {QStringLiteral("Manufacturer"), QStringLiteral("Skyvane")},
                                          {QStringLiteral("ManufacturerVersion"), versionDigits()},
                                          {QStringLiteral("Location"), location}});
    QJsonArray devices;
    for (int i = 0; i < 2; ++i)
        devices.append(QJsonObject{{QStringLiteral("DeviceName"), QString::fromLatin1(kDeviceNames[i])},
                                   {QStringLiteral("DeviceType"), QString::fromLatin1(kClassNames[i])},
                                   {QStringLiteral("DeviceNumber"), 0},
                                   {QStringLiteral("UniqueID"), QString::fromLatin1(kUniqueIds[i])}});
    return envelope(call, devices);
}

HttpResponse AlpacaApi::device(Call& call)
{
    const QString& m = call.member;
    const QStringList& ownGet = call.device == kSafety ? kSafetyGet : kConditionsGet;
    const QStringList ownPut = call.device == kSafety ? QStringList() : kConditionsPut;
    const bool getMember = kCommonGet.contains(m) || ownGet.contains(m);
    const bool putMember = kCommonPut.contains(m) || ownPut.contains(m);
    if (!getMember && !putMember) return badRequest(QStringLiteral("unknown member: ") + m);
    if ((call.isPut && !putMember) || (!call.isPut && !getMember)) {
        HttpResponse r = HttpResponse::text(405, QByteArray(call.isPut ? "read " : "write ") + m.toUtf8() +
                                                     (call.isPut ? " with GET\n" : " with PUT\n"));
        r.headers.append(qMakePair(QByteArray("Allow"), QByteArray(call.isPut ? "GET" : "PUT")));
        return r;
    }
    bool handled = false;
    HttpResponse r = common(call, handled);
    if (handled) return r;
    return call.device == kSafety ? safetyMember(call) : conditionsMember(call);
}

HttpResponse AlpacaApi::common(Call& call, bool& handled)
{
    handled = true;
    const QString& m = call.member;
    const int d = call.device;
    if (!call.isPut) {
        if (m == QLatin1String("connected")) return envelope(call, connectedFor(call, d));
        if (m == QLatin1String("connecting")) return envelope(call, false);
        if (m == QLatin1String("description")) return envelope(call, QString::fromLatin1(kDeviceNames[d]));
        if (m == QLatin1String("driverinfo"))
            return envelope(call, QStringLiteral("Skyvane ") + versionDigits() +
                                      QStringLiteral(": the sky monitor's decision and readings over Alpaca"));
        // "n.n": major and minor of the program's version
        if (m == QLatin1String("driverversion")) return envelope(call, versionDigits().section(QLatin1Char('.'), 0, 1));
        if (m == QLatin1String("interfaceversion")) return envelope(call, kInterfaceVersion[d]);
        if (m == QLatin1String("name")) return envelope(call, QString::fromLatin1(kDeviceNames[d]));
        if (m == QLatin1String("supportedactions")) return envelope(call, QJsonArray{kReasonsAction});
        if (m == QLatin1String("devicestate")) {
            if (!connectedFor(call, d)) return envelope(call, std::nullopt, alpaca_error::NotConnected, QStringLiteral("not connected"));
            QJsonArray state;
            if (d == kSafety) {
                state.append(QJsonObject{{QStringLiteral("Name"), QStringLiteral("IsSafe")},
                                         {QStringLiteral("Value"), core_.safeAndFresh()}});
            } else {
                for (const char* name : kSensorNames) {
                    QString missing;
                    if (const auto v = sensorReading(QString::fromLatin1(name).toLower(), missing))
                        state.append(QJsonObject{{QStringLiteral("Name"), QString::fromLatin1(name)},
                                                 {QStringLiteral("Value"), *v}});
                }
            }
            state.append(QJsonObject{{QStringLiteral("Name"), QStringLiteral("TimeStamp")},
                                     {QStringLiteral("Value"),
                                      core_.clock().now().toUTC().toString(Qt::ISODateWithMs)}});
            return envelope(call, state);
        }
        handled = false;
        return {};
    }
    if (m == QLatin1String("connected")) {
        const auto v = call.param(QStringLiteral("Connected"));
        if (!v) return badRequest(QStringLiteral("missing parameter Connected"));
        const auto b = parseBool(*v);
        if (!b) return badRequest(QStringLiteral("Connected must be true or false, not: ") + *v);
        setConnected(call, *b);
        return envelope(call, std::nullopt);
    }
    if (m == QLatin1String("connect") || m == QLatin1String("disconnect")) {
        setConnected(call, m == QLatin1String("connect"));
        return envelope(call, std::nullopt);
    }
    if (m == QLatin1String("action")) {
        const auto action = call.param(QStringLiteral("Action"));
        if (!action) return badRequest(QStringLiteral("missing parameter Action"));
        if (!call.param(QStringLiteral("Parameters"))) return badRequest(QStringLiteral("missing parameter Parameters"));
        if (action->compare(kReasonsAction, Qt::CaseInsensitive) != 0)
            return envelope(call, std::nullopt, alpaca_error::ActionNotImplemented,
                            QStringLiteral("action not supported: ") + *action);
        if (!connectedFor(call, d)) return envelope(call, std::nullopt, alpaca_error::NotConnected, QStringLiteral("not connected"));
        return envelope(call, QString::fromUtf8(reasonsJson(core_)));
    }
    if (!m.startsWith(QLatin1String("command"))) {
        handled = false;
        return {};
    }
    // commandblind, commandbool, commandstring
    if (!call.param(QStringLiteral("Command"))) return badRequest(QStringLiteral("missing parameter Command"));
    return envelope(call, std::nullopt, alpaca_error::NotImplemented,
                    m + QStringLiteral(" is not implemented by this device"));
}

HttpResponse AlpacaApi::safetyMember(Call& call)
{
    // issafe: not connected reads as unsafe, never as an error a client
    // might take for "carry on".
    return envelope(call, connectedFor(call, kSafety) && core_.safeAndFresh());
}

std::optional<double> AlpacaApi::sensorReading(const QString& s, QString& missing) const
{
    const auto& units = core_.conditionsConfig().units;
    auto celsius = [&](double v) {
        return units.temperature == conditions::TemperatureUnit::Fahrenheit ? (v - 32.0) * 5.0 / 9.0 : v;
    };
    auto metresPerSecond = [&](double v) {
        return conditions::convertSpeed(units.speed, conditions::SpeedUnit::MetresPerSecond, v);
    };
    const bool sensorGood = core_.isRunning() && !core_.sensorError() && core_.readings().complete;
    const auto& st = core_.station();
    const bool stationGood = core_.isRunning() && st.valid && !st.tooOld && !st.fileAbsent;
    auto station = [&](const station::Reading& r) -> std::optional<double> {
        if (!stationGood || !r.ok) {
            missing = QStringLiteral("no current weather-station reading");
            return std::nullopt;
        }
        return r.value;
    };
    auto sensor = [&](double v) -> std::optional<double> {
        if (!sensorGood) {
            missing = QStringLiteral("no current sensor reading");
            return std::nullopt;
        }
        return v;
    };
    if (s == QLatin1String("cloudcover")) {
        if (!sensorGood) return sensor(0);
        switch (core_.board().level(Quantity::Cloud)) {
        case conditions::Level::One: return 0.0;
        case conditions::Level::Two: return 50.0;
        case conditions::Level::Three: return 100.0;
        default: missing = QStringLiteral("cloud level unknown"); return std::nullopt;
        }
    }
    if (s == QLatin1String("skytemperature")) {
        const auto v = sensor(core_.readings().skyTemperature);
        return v ? std::optional<double>(celsius(*v)) : std::nullopt;
    }
    if (s == QLatin1String("skybrightness")) return sensor(core_.readings().brightnessValue);
    if (s == QLatin1String("temperature")) {
        auto v = station(st.values.outTemp);
        return v ? std::optional<double>(celsius(*v)) : std::nullopt;
    }
    if (s == QLatin1String("dewpoint")) {
        auto v = station(st.values.dewPoint);
        return v ? std::optional<double>(celsius(*v)) : std::nullopt;
    }
    if (s == QLatin1String("humidity")) return station(st.values.humidity);
    if (s == QLatin1String("pressure")) {
        auto v = station(st.values.barometer);
        if (!v) return v;
        // The station file gives its own unit; inches and millimetres of
        // mercury are told apart from hectopascals by their range.
        if (*v < 100) return *v * 33.8638866667;
        if (*v > 500 && *v < 850) return *v * 1.33322387415;
        return v;
    }
    if (s == QLatin1String("windspeed") || s == QLatin1String("windgust")) {
        auto v = station(s == QLatin1String("windspeed") ? st.values.windSpeed : st.values.gust);
        return v ? std::optional<double>(metresPerSecond(*v)) : std::nullopt;
    }
    if (s == QLatin1String("winddirection")) {
        auto speed = station(st.values.windSpeed);
        auto dir = station(st.values.windDirection);
        if (!speed || !dir) return std::nullopt;
        // 0 means calm; a wind from due north is 360.
        if (*speed <= 0) return 0.0;
        double d = std::fmod(*dir, 360.0);
        if (d < 0) d += 360.0;
        return d == 0 ? 360.0 : d;
    }
    missing = QStringLiteral("not measured");
    return std::nullopt;
}

bool AlpacaApi::sensorImplemented(const QString& lowerName) const
{
    return kSensors.contains(lowerName) && !kNotMeasured.contains(lowerName);
}

double AlpacaApi::secondsSinceUpdate(const QString& s) const
{
    const QDateTime now = core_.clock().now();
    // A reading stamped ahead of this clock is just now; one never received
    // is negative, as the interface asks.
    auto age = [&](const QDateTime& t) { return t.isValid() ? std::max(0.0, double(t.msecsTo(now)) / 1000.0) : -1.0; };
    const double sensorAge = age(core_.readings().lastReading);
    const double stationAge = age(core_.station().dataTime);
    if (s.isEmpty()) {
        if (sensorAge < 0 || stationAge < 0) return std::max(sensorAge, stationAge);
        return std::min(sensorAge, stationAge);
    }
    if (s == QLatin1String("cloudcover") || s == QLatin1String("skytemperature") || s == QLatin1String("skybrightness"))
        return sensorAge;
    return stationAge;
}

HttpResponse AlpacaApi::sensorValue(Call& call, const QString& sensor)
{
    if (kNotMeasured.contains(sensor))
        return envelope(call, std::nullopt, alpaca_error::NotImplemented, sensor + QStringLiteral(" is not measured"));
    if (!connectedFor(call, kConditions))
        return envelope(call, std::nullopt, alpaca_error::NotConnected, QStringLiteral("not connected"));
    QString missing;
    const auto v = sensorReading(sensor, missing);
    if (!v) return envelope(call, std::nullopt, alpaca_error::InvalidOperation, missing);
    return envelope(call, *v);
}

HttpResponse AlpacaApi::conditionsMember(Call& call)
{
    const QString& m = call.member;
    if (kSensors.contains(m)) return sensorValue(call, m);
    if (m == QLatin1String("averageperiod")) {
        if (call.isPut) {
            const auto v = call.param(QStringLiteral("AveragePeriod"));
            if (!v) return badRequest(QStringLiteral("missing parameter AveragePeriod"));
            bool ok = false;
            const double p = v->trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(p)) return badRequest(QStringLiteral("AveragePeriod is not a number: ") + *v);
            if (!connectedFor(call, kConditions))
                return envelope(call, std::nullopt, alpaca_error::NotConnected, QStringLiteral("not connected"));
            if (p != 0)
                return envelope(call, std::nullopt, alpaca_error::InvalidValue,
                                QStringLiteral("only 0 (the latest reading) is offered"));
            return envelope(call, std::nullopt);
        }
        if (!connectedFor(call, kConditions))
            return envelope(call, std::nullopt, alpaca_error::NotConnected, QStringLiteral("not connected"));
        return envelope(call, 0.0);
    }
    if (m == QLatin1String("refresh")) {
        // Every read cycle refreshes; there is nothing to hurry.
        if (!connectedFor(call, kConditions))
            return envelope(call, std::nullopt, alpaca_error::NotConnected, QStringLiteral("not connected"));
        return envelope(call, std::nullopt);
    }
    // timesincelastupdate, sensordescription
    const auto name = call.param(QStringLiteral("SensorName"));
    if (!name) return badRequest(QStringLiteral("missing parameter SensorName"));
    const QString s = name->trimmed().toLower();
    const bool describe = m == QLatin1String("sensordescription");
    if (!s.isEmpty() && !kSensors.contains(s))
        return envelope(call, std::nullopt, alpaca_error::InvalidValue, QStringLiteral("unknown sensor: ") + *name);
    if (describe && s.isEmpty())
        return envelope(call, std::nullopt, alpaca_error::InvalidValue, QStringLiteral("name a sensor"));
    if (!s.isEmpty() && !sensorImplemented(s))
        return envelope(call, std::nullopt, alpaca_error::NotImplemented, s + QStringLiteral(" is not measured"));
    // Which sensors exist is answered while not connected too, so that an
    // application can look before it connects.
    if (describe) {
        const bool fromSensor =
            s == QLatin1String("cloudcover") || s == QLatin1String("skytemperature") || s == QLatin1String("skybrightness");
        return envelope(call, fromSensor ? QStringLiteral("Cloud, rain and light sensor (via the sensor server)")
                                         : QStringLiteral("Weather station (read from its data file)"));
    }
    if (!connectedFor(call, kConditions))
        return envelope(call, std::nullopt, alpaca_error::NotConnected, QStringLiteral("not connected"));
    return envelope(call, secondsSinceUpdate(s));
}

} // namespace skyvane::http
