#include "HttpService.h"

#include "MonitorApi.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace skyvane::http {

using conditions::Quantity;

std::vector<SettingRow<HttpConfig>> httpSettingRows()
{
    using St = LoadStage;
    const QString section = QStringLiteral("WebServer");
    return {
        rowCheck<HttpConfig>(St::Setup, section, QStringLiteral("Enabled"), true,
                             [](HttpConfig& c) -> bool& { return c.enabled; }),
        rowInteger<HttpConfig>(St::Setup, section, QStringLiteral("Port"), 11111, 1, 65535,
                               [](HttpConfig& c) -> int& { return c.port; }),
        rowCheck<HttpConfig>(St::Setup, section, QStringLiteral("OpenToNetwork"), false,
                             [](HttpConfig& c) -> bool& { return c.openToNetwork; }),
        rowText<HttpConfig>(St::Setup, section, QStringLiteral("DiscoveryAddress"), QString(),
                            [](HttpConfig& c) -> QString& { return c.discoveryAddress; }),
    };
}

namespace {

QString htmlColour(int bgr)
{
    if (bgr < 0) return QString();
    return QStringLiteral("#%1%2%3")
        .arg(colour::red(bgr), 2, 16, QLatin1Char('0'))
        .arg(colour::green(bgr), 2, 16, QLatin1Char('0'))
        .arg(colour::blue(bgr), 2, 16, QLatin1Char('0'));
}

const char* const kQuantityTitles[8] = {"Cloud", "Rain", "Brightness", "Wind", "Gust", "Temperature", "Dew point",
                                        "Humidity"};
const char* const kGraphTitles[6] = {"Wind", "Gust", "Direction", "Dew point", "Humidity", "Temperature"};

} // namespace

HttpService::HttpService(MonitorApi& core, QObject* parent)
    : QObject(parent), core_(core), alpaca_(core),
      server_(std::make_unique<HttpServer>(core.clock(), [this](const HttpRequest& r) { return route(r); }))
{
}

HttpService::~HttpService() = default;

bool HttpService::start()
{
    stop();
    if (!config_.enabled) return false;
    // Open to the network: every interface, both families (the any-address
    // of IPv6 takes IPv4 too); tests narrow it to loopback.
    QHostAddress where(QHostAddress::LocalHost);
    if (config_.openToNetwork)
        where = netV4_ == QHostAddress(QHostAddress::AnyIPv4) ? QHostAddress(QHostAddress::Any) : netV4_;
    const int port = portOverride_.value_or(config_.port);
    if (!server_->listen(where, quint16(port))) {
        core_.showStatus(QStringLiteral("Web server: port ") + QString::number(port) +
                             QStringLiteral(" not available"),
                         colour::Red);
        return false;
    }
    startDiscovery();
    return true;
}

void HttpService::startDiscovery()
{
    const QString where = config_.discoveryAddress.trimmed();
    const auto problem = [this](const QString& text) {
        core_.showStatus(QStringLiteral("Web server: discovery ") + text, colour::Red);
    };
    if (where.isEmpty()) {
        if (config_.openToNetwork) discovery_.start(server_->port(), discoveryPort_, netV4_, netV6_);
        return;
    }
    if (where.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0) return;
    if (where.compare(QLatin1String("loopback"), Qt::CaseInsensitive) == 0) {
        if (!discovery_.start(server_->port(), discoveryPort_, QHostAddress(QHostAddress::LocalHost),
                              QHostAddress(QHostAddress::LocalHostIPv6)))
            problem(QStringLiteral("port not available"));
        return;
    }
    const QHostAddress a(where);
    if (a.isNull()) return problem(QStringLiteral("address ") + where + QStringLiteral(" not valid"));
    // Announcing a server that cannot be reached there would only mislead.
    if (!a.isLoopback() && !config_.openToNetwork) return problem(where + QStringLiteral(" needs OpenToNetwork"));
    if (AlpacaDiscovery::interfaceOf(a) == 0) return problem(where + QStringLiteral(" not on this computer"));
    const bool v4 = a.protocol() == QAbstractSocket::IPv4Protocol;
    if (!discovery_.start(server_->port(), discoveryPort_, v4 ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(),
                          v4 ? QHostAddress() : QHostAddress(QHostAddress::AnyIPv6), a))
        problem(QStringLiteral("port not available"));
}

void HttpService::stop()
{
    discovery_.stop();
    server_->close();
}

HttpResponse HttpService::staticFile(const QString& name, const QByteArray& type) const
{
    QFile f(QStringLiteral(":/skyvane/http/") + name);
    if (!f.open(QIODevice::ReadOnly)) return HttpResponse::text(404, "not found\n");
    HttpResponse r;
    r.contentType = type;
    r.body = f.readAll();
    return r;
}

HttpResponse HttpService::graph(int i)
{
    const QImage& picture = core_.graphs().pictures()[std::size_t(i)];
    if (picture.isNull()) return HttpResponse::text(404, "graph not drawn yet\n");
    const qint64 key = qint64(picture.cacheKey());
    if (png_[std::size_t(i)].isEmpty() || pngKey_[std::size_t(i)] != key) {
        QByteArray bytes;
        QBuffer buf(&bytes);
        buf.open(QIODevice::WriteOnly);
        picture.save(&buf, "PNG");
        png_[std::size_t(i)] = bytes;
        pngKey_[std::size_t(i)] = key;
    }
    HttpResponse r;
    r.contentType = "image/png";
    r.body = png_[std::size_t(i)];
    return r;
}

QByteArray HttpService::statusJson() const
{
    const MainState& s = core_.state();
    const QDateTime now = core_.clock().now();
    QJsonObject o;
    o.insert(QStringLiteral("time"), now.toString(Qt::ISODate));
    o.insert(QStringLiteral("running"), core_.isRunning());
    o.insert(QStringLiteral("cycles"), core_.cycleCount());
    o.insert(QStringLiteral("readIntervalSeconds"), double(core_.config().readIntervalMs()) / 1000.0);
    o.insert(QStringLiteral("flag"), core_.reportedUnsafe() ? QStringLiteral("Unsafe") : QStringLiteral("Safe"));
    o.insert(QStringLiteral("safe"), core_.safeAndFresh());
    o.insert(QStringLiteral("safeDelay"), s.safeDelayMsg.text);
    o.insert(QStringLiteral("status"), s.lblStatus.text);
    o.insert(QStringLiteral("reasons"), conditions::reasonsArray(core_.notSafeReasons()));
    o.insert(QStringLiteral("upload"), outputs::uploadRunJson(core_.uploads().lastRun()));

    QJsonArray conditions;
    for (Quantity q : conditions::kAllQuantities) {
        const LabelState& l = s.cond[std::size_t(q)];
        conditions.append(QJsonObject{{QStringLiteral("key"), conditions::quantityKey(q)},
                                      {QStringLiteral("name"), QString::fromLatin1(kQuantityTitles[int(q)])},
                                      {QStringLiteral("level"), conditions::toInt(core_.board().level(q))},
                                      {QStringLiteral("text"), l.text},
                                      {QStringLiteral("colour"), htmlColour(l.colour)},
                                      {QStringLiteral("unsafe"), core_.safetyResult().countsUnsafe[q]}});
    }
    o.insert(QStringLiteral("conditions"), conditions);

    QJsonArray station;
    for (int i = 0; i < kStationLabels; ++i)
        if (!s.wsDesc[std::size_t(i)].isEmpty())
            station.append(QJsonObject{{QStringLiteral("name"), s.wsDesc[std::size_t(i)]},
                                       {QStringLiteral("value"), s.wsValue[std::size_t(i)]}});
    o.insert(QStringLiteral("station"), station);

    const SensorReadings& r = core_.readings();
    QJsonObject sensor;
    if (core_.isRunning() && r.complete) {
        sensor.insert(QStringLiteral("skyTemperature"), r.skyTemperature);
        sensor.insert(QStringLiteral("ambientTemperature"), r.ambientTemperature);
        sensor.insert(QStringLiteral("rain"), r.rainValue);
        sensor.insert(QStringLiteral("brightness"), r.brightnessValue);
    }
    o.insert(QStringLiteral("sensor"), sensor);

    // A reading stamped ahead of this computer's clock (the sensor server's
    // clock runs ahead) counts as just now.
    auto age = [&](const QDateTime& t) {
        return t.isValid() ? QJsonValue(double(std::max<qint64>(0, t.msecsTo(now) / 1000))) : QJsonValue();
    };
    o.insert(QStringLiteral("ages"), QJsonObject{{QStringLiteral("sensorSeconds"), age(r.lastReading)},
                                                 {QStringLiteral("stationSeconds"), age(core_.station().dataTime)}});
    QJsonArray graphs;
    for (int i = 0; i < outputs::GraphCount; ++i) {
        const bool drawn = !core_.graphs().pictures()[std::size_t(i)].isNull();
        graphs.append(QJsonObject{{QStringLiteral("title"), QString::fromLatin1(kGraphTitles[i])},
                                  {QStringLiteral("url"), drawn ? QStringLiteral("/graphs/%1.png?n=%2")
                                                                      .arg(i)
                                                                      .arg(core_.graphs().samples())
                                                                : QString()}});
    }
    o.insert(QStringLiteral("graphs"), graphs);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

HttpResponse HttpService::route(const HttpRequest& req)
{
    HttpResponse out;
    if (alpaca_.handle(req, out)) return out;
    if (req.method != "GET" && req.method != "HEAD") {
        out = HttpResponse::text(405, "read-only\n");
        out.headers.append(qMakePair(QByteArray("Allow"), QByteArray("GET")));
        return out;
    }
    const QByteArray& p = req.path;
    if (p == "/" || p == "/index.html") return staticFile(QStringLiteral("status.html"), "text/html; charset=utf-8");
    if (p == "/status.js") return staticFile(QStringLiteral("status.js"), "text/javascript; charset=utf-8");
    if (p == "/status.css") return staticFile(QStringLiteral("status.css"), "text/css; charset=utf-8");
    if (p == "/api/skyvane/v1/status") {
        out.body = statusJson();
        return out;
    }
    if (p.startsWith("/graphs/") && p.endsWith(".png")) {
        bool ok = false;
        const int i = p.mid(8, p.size() - 12).toInt(&ok);
        if (ok && i >= 0 && i < outputs::GraphCount) return graph(i);
    }
    return HttpResponse::text(404, "not found\n");
}

HttpService* attachHttpServer(MonitorApi& core, QObject* parent)
{
    auto* service = new HttpService(core, parent ? parent : &core);
    core.settingsSchema().add(httpSettingRows(), service->config());
    QTimer::singleShot(0, service, [service] {
        // SKYVANE_HTTP_PORT overrides the setting for this run (0: any free
        // port); the test suite runs the program this way so that parallel
        // runs never fight over one port.
        bool ok = false;
        const int port = qEnvironmentVariableIntValue("SKYVANE_HTTP_PORT", &ok);
        if (ok && port >= 0 && port <= 65535) service->setPortOverride(port);
        service->start();
    });
    return service;
}

} // namespace skyvane::http
