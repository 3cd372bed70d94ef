#pragma once
// The monitor as an Alpaca device server: the management API, device 0 of
// type safetymonitor and device 0 of type observingconditions. Every answer
// is read from the core at the moment of the request; nothing here changes
// what the monitor decides.
//
// Rules kept (see docs/alpaca.md):
// - URLs are lower case and compared exactly; parameter names are compared
//   without regard to case in a GET query and exactly in a PUT form body.
// - ClientID and ClientTransactionID are unsigned 32-bit numbers; a missing
//   or unreadable one counts as 0. ServerTransactionID counts every answer.
// - A parameter that is missing or cannot be read is a bad request (HTTP 400
//   with a plain-text reason); a readable value that is not allowed is
//   InvalidValue (0x401) in the JSON envelope.
// - issafe is fail-safe: true only while monitoring runs, the device is
//   connected for the asking client and a current evaluation reports SAFE
//   with good data.
// - Connections are counted per ClientID.

#include "HttpServer.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QString>
#include <optional>

namespace skyvane {
class MonitorApi;
}

namespace skyvane::http {

namespace alpaca_error {
inline constexpr int NotImplemented = 0x400;
inline constexpr int InvalidValue = 0x401;
inline constexpr int ValueNotSet = 0x402;
inline constexpr int NotConnected = 0x407;
inline constexpr int InvalidOperation = 0x40B;
inline constexpr int ActionNotImplemented = 0x40C;
} // namespace alpaca_error

class AlpacaApi {
public:
    explicit AlpacaApi(MonitorApi& core);

    // True when the request is for the management or device API; then
    // `out` holds the answer.
    bool handle(const HttpRequest& req, HttpResponse& out);

    // The reasons as the skyvane:reasons action returns them (JSON text).
    static QByteArray reasonsJson(const MonitorApi& core);
    static QJsonObject reasonsObject(const MonitorApi& core);

    // Connected for at least one client.
    bool connected(int device) const { return !clients_[device].isEmpty(); }
    quint32 lastServerTransactionId() const { return serverTx_; }

    QString serverName = QStringLiteral("Skyvane");
    QString location;

private:
    struct Call;
    HttpResponse management(const HttpRequest& req, const QString& what);
    HttpResponse device(Call& call);
    HttpResponse common(Call& call, bool& handled);
    HttpResponse safetyMember(Call& call);
    HttpResponse conditionsMember(Call& call);
    HttpResponse envelope(Call& call, const std::optional<QJsonValue>& value, int error = 0,
                          const QString& message = QString());
    HttpResponse sensorValue(Call& call, const QString& sensor);
    std::optional<double> sensorReading(const QString& sensor, QString& missing) const;
    bool sensorImplemented(const QString& lowerName) const;
    double secondsSinceUpdate(const QString& lowerName) const;

    MonitorApi& core_;
    bool connectedFor(const Call& call, int device) const;
    void setConnected(const Call& call, bool on);
    QSet<quint32> clients_[2]; // the ClientIDs connected to each device
    quint32 serverTx_ = 0;
};

} // namespace skyvane::http
