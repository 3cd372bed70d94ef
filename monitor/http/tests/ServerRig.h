#pragma once
// The real monitor (sensor stand-in on a private bus, a station file, fake
// clock) with its HTTP service listening on a free loopback port.

#include "HttpClient.h"
#include "HttpService.h"
#include "MonitorRig.h"

namespace skyvane::testing {

constexpr qint64 kCycleMs = 10000; // the default read period

struct ServerRig {
    MonitorRig rig;
    std::unique_ptr<http::HttpService> service;
    std::unique_ptr<HttpClient> client;

    ServerRig()
    {
        service = std::make_unique<http::HttpService>(*rig.core);
        service->config().port = 0;
        EXPECT_TRUE(service->start());
        client = std::make_unique<HttpClient>(service->server().port());
    }
    quint16 port() const { return service->server().port(); }
    void cycle(int n = 1) { rig.clock.advance(kCycleMs * n); }

    // Alpaca helpers: device 0 of "safetymonitor" or "observingconditions".
    HttpResult get(const QString& device, const QString& member, const QString& query = {})
    {
        return client->get(QStringLiteral("/api/v1/%1/0/%2%3").arg(device, member, query.isEmpty() ? QString() : "?" + query));
    }
    HttpResult put(const QString& device, const QString& member, const QByteArray& form = {})
    {
        return client->put(QStringLiteral("/api/v1/%1/0/%2").arg(device, member), form);
    }
    bool connectBoth()
    {
        return put("safetymonitor", "connected", "Connected=true").json.value("ErrorNumber").toInt(-1) == 0 &&
               put("observingconditions", "connected", "Connected=true").json.value("ErrorNumber").toInt(-1) == 0;
    }
    // issafe as a client reads it; nullopt when the answer is not a clean bool.
    std::optional<bool> isSafe()
    {
        const HttpResult r = get("safetymonitor", "issafe");
        if (r.status != 200 || r.json.value("ErrorNumber").toInt(-1) != 0 || !r.json.value("Value").isBool())
            return std::nullopt;
        return r.json.value("Value").toBool();
    }
};

} // namespace skyvane::testing
