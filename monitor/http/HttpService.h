#pragma once
// The monitor's HTTP face: the Alpaca devices, the status page at "/" and
// its JSON at /api/skyvane/v1/status, the graphs as PNG, and discovery.
// attachHttpServer() is the one call that fits it to a MonitorApi, with or
// without a window.

#include "AlpacaApi.h"
#include "AlpacaDiscovery.h"
#include "HttpServer.h"
#include "SettingsSchema.h"

#include <QObject>
#include <array>
#include <memory>
#include <optional>

namespace skyvane {
class MonitorApi;
}

namespace skyvane::http {

struct HttpConfig {
    bool enabled = true;
    int port = 11111;
    bool openToNetwork = false; // listen on every interface instead of 127.0.0.1 only
    // Where discovery answers: "" every interface while open to the network
    // (else off), "off", "loopback" (127.0.0.1 and ::1, also while the server
    // is on loopback only), or one address of this computer.
    QString discoveryAddress;
    bool operator==(const HttpConfig&) const = default;
};
std::vector<SettingRow<HttpConfig>> httpSettingRows();

class HttpService : public QObject {
    Q_OBJECT
public:
    explicit HttpService(MonitorApi& core, QObject* parent = nullptr);
    ~HttpService() override;

    HttpConfig& config() { return config_; }
    // A port for this run only, over the setting (and never saved).
    void setPortOverride(std::optional<int> port) { portOverride_ = port; }
    // Listens as the configuration says (and answers discovery when open to
    // the network). False, with a status line on the monitor, when the port
    // is taken: the monitor itself carries on.
    bool start();
    void stop();

    HttpServer& server() { return *server_; }
    AlpacaApi& alpaca() { return alpaca_; }
    AlpacaDiscovery& discovery() { return discovery_; }
    // Tests move discovery off the well-known port, and keep "open to the
    // network" on the loopback addresses.
    void setDiscoveryPort(quint16 p) { discoveryPort_ = p; }
    void setNetworkAddresses(const QHostAddress& v4, const QHostAddress& v6)
    {
        netV4_ = v4;
        netV6_ = v6;
    }

    HttpResponse route(const HttpRequest& req);
    // The status document of the page.
    QByteArray statusJson() const;

private:
    void startDiscovery();
    HttpResponse staticFile(const QString& name, const QByteArray& type) const;
    HttpResponse graph(int index);

    MonitorApi& core_;
    HttpConfig config_;
    AlpacaApi alpaca_;
    AlpacaDiscovery discovery_;
    std::unique_ptr<HttpServer> server_;
    quint16 discoveryPort_ = AlpacaDiscovery::kDefaultPort;
    std::optional<int> portOverride_;
    QHostAddress netV4_{QHostAddress::AnyIPv4};
    QHostAddress netV6_{QHostAddress::AnyIPv6};
    // Encoded pictures, kept until the history takes its next sample.
    std::array<QByteArray, 6> png_;
    std::array<qint64, 6> pngKey_{};
};

// Declares the server's settings on the core's schema (call before
// core.load()) and starts listening when the event loop first turns, with
// the loaded settings.
HttpService* attachHttpServer(MonitorApi& core, QObject* parent = nullptr);

} // namespace skyvane::http
