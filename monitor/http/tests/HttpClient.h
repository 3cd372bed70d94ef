#pragma once
// A real HTTP client for the server tests (Qt Network), and a raw socket for
// requests no well-behaved client would send. Both wait by turning the event
// loop, since the server lives in this same thread; nothing sleeps.

#include "HttpService.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QUrl>
#include <functional>

namespace skyvane::testing {

inline bool spinUntil(const std::function<bool()>& done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct HttpResult {
    int status = 0;
    QByteArray body;
    QJsonObject json;
    QByteArray contentType;
    bool finished = false;
};

class HttpClient {
public:
    explicit HttpClient(quint16 port) : port_(port) {}

    HttpResult get(const QString& pathAndQuery) { return send("GET", pathAndQuery, {}); }
    HttpResult put(const QString& path, const QByteArray& form) { return send("PUT", path, form); }

    HttpResult send(const QByteArray& method, const QString& pathAndQuery, const QByteArray& body)
    {
        QNetworkRequest req(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(pathAndQuery)));
        if (method == "PUT") req.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        QNetworkReply* reply = nam_.sendCustomRequest(req, method, body);
        HttpResult r;
        r.finished = spinUntil([&] { return reply->isFinished(); });
        r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        r.body = reply->readAll();
        r.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        r.json = QJsonDocument::fromJson(r.body).object();
        reply->deleteLater();
        return r;
    }

private:
    quint16 port_;
    QNetworkAccessManager nam_;
};

// Sends raw bytes and collects what comes back until the server closes the
// connection (or the time is up).
struct RawClient {
    QTcpSocket socket;
    QByteArray received;

    RawClient()
    {
        // Taken as it arrives: what came before the server closed stays here.
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
    }
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return spinUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    bool closedByServer(int ms = 5000)
    {
        return spinUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    bool waitFor(const QByteArray& text, int ms = 5000)
    {
        return spinUntil([&] { return received.contains(text); }, ms);
    }
    int status() const
    {
        if (!received.startsWith("HTTP/1.1 ")) return 0;
        return received.mid(9, 3).toInt();
    }
};

} // namespace skyvane::testing
