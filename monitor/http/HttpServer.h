#pragma once
// A small HTTP/1.1 server in the monitor's own event loop.
//
// Written on QTcpServer rather than taken from Qt HttpServer: the Qt 6.4
// module has no limit on the size of a request's head or body and no time
// limit on a request that trickles in, and the monitor must stay in charge
// of both (a client on the local network must not be able to fill memory or
// hold connections open for ever). Requests are parsed here with hard
// limits; anything malformed gets 400 and the connection is closed.
//
// Handlers run synchronously and must be quick: they only read the core's
// state. Nothing here ever blocks the event loop, so the read cycle keeps
// its period whatever clients do.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;

namespace skyvane {
class Clock;
class ClockTimer;
}

namespace skyvane::http {

struct HttpLimits {
    int maxHeadBytes = 16 * 1024;  // request line and headers together
    int maxHeaders = 64;
    qint64 maxBodyBytes = 64 * 1024;
    qint64 requestTimeoutMs = 10000; // from the first byte of a request to its last
    qint64 idleTimeoutMs = 30000;    // a kept-alive connection without a request
    int maxConnections = 128;
};

struct HttpRequest {
    QByteArray method;
    QByteArray target; // as sent: path and query, still percent-encoded
    QByteArray path;   // the target before '?', percent-decoded
    QByteArray query;  // after '?', still encoded
    QList<QPair<QByteArray, QByteArray>> headers; // names lower-cased
    QByteArray body;
    QHostAddress peer;
    QByteArray header(const QByteArray& lowerName) const;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "application/json; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    static HttpResponse text(int status, const QByteArray& body);
};

QByteArray statusText(int status);

// Parses "a=1&b=%20x" into name/value pairs (percent and '+' decoded).
QList<QPair<QString, QString>> parseForm(const QByteArray& encoded);

class HttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    HttpServer(Clock& clock, Handler handler, QObject* parent = nullptr);
    ~HttpServer() override;

    void setLimits(const HttpLimits& l) { limits_ = l; }
    const HttpLimits& limits() const { return limits_; }

    // Port 0 picks a free port. False (with errorString) when the port is taken.
    bool listen(const QHostAddress& address, quint16 port);
    void close();
    bool isListening() const;
    quint16 port() const;
    QHostAddress address() const;
    QString errorString() const;

    int openConnections() const { return int(connections_.size()); }
    qint64 requestsServed() const { return served_; }
    qint64 requestsRefused() const { return refused_; }

private:
    struct Connection;
    void accept();
    void readFrom(Connection* c);
    // True when a complete request was handled and the connection stays open.
    bool parseOne(Connection* c);
    void respond(Connection* c, const HttpRequest& req, HttpResponse resp, bool keepAlive);
    void refuse(Connection* c, int status, const QByteArray& why);
    void drop(Connection* c);
    void halfClose(Connection* c);
    void armTimer(Connection* c, qint64 ms);

    Clock& clock_;
    Handler handler_;
    HttpLimits limits_;
    std::unique_ptr<QTcpServer> server_;
    std::vector<std::unique_ptr<Connection>> connections_;
    qint64 served_ = 0;
    qint64 refused_ = 0;
};

} // namespace skyvane::http
