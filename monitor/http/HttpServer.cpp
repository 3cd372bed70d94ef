#include "HttpServer.h"

#include "Clock.h"

#include <QStringDecoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <cctype>
#include <sys/socket.h>

namespace skyvane::http {

namespace {

// Output waiting in a socket beyond this stops the reading of further
// pipelined requests until the client has taken some of it.
constexpr qint64 kMaxPendingOutput = 4 * 1024 * 1024;
// How long a closing connection may keep sending before it is cut.
constexpr qint64 kLingerMs = 2000;

bool isTokenChar(char ch)
{
    if (ch >= 'a' && ch <= 'z') return true;
    if (ch >= 'A' && ch <= 'Z') return true;
    if (ch >= '0' && ch <= '9') return true;
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(ch);
}

bool isToken(const QByteArray& s)
{
    if (s.isEmpty()) return false;
    for (char ch : s)
        if (!isTokenChar(ch)) return false;
    return true;
}

// Percent-decoding that refuses a broken escape instead of passing it on.
bool percentDecode(const QByteArray& in, QByteArray& out, bool plusIsSpace)
{
    out.clear();
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char ch = in[i];
        if (ch == '%') {
            if (i + 2 >= in.size() || !isxdigit(uchar(in[i + 1])) || !isxdigit(uchar(in[i + 2]))) return false;
            out.append(char(QByteArray(in.constData() + i + 1, 2).toInt(nullptr, 16)));
            i += 2;
        } else if (plusIsSpace && ch == '+') {
            out.append(' ');
        } else {
            out.append(ch);
        }
    }
    return true;
}

bool validUtf8(const QByteArray& b)
{
    QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)QString(dec(b));
    return !dec.hasError();
}

} // namespace

QByteArray HttpRequest::header(const QByteArray& lowerName) const
{
    for (const auto& h : headers)
        if (h.first == lowerName) return h.second;
    return QByteArray();
}

HttpResponse HttpResponse::text(int status, const QByteArray& body)
{
    HttpResponse r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.body = body;
    return r;
}

QByteArray statusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    }
    return "Status";
}

QList<QPair<QString, QString>> parseForm(const QByteArray& encoded)
{
    QList<QPair<QString, QString>> out;
    for (const QByteArray& part : encoded.split('&')) {
        if (part.isEmpty()) continue;
        const qsizetype eq = part.indexOf('=');
        QByteArray name, value;
        if (!percentDecode(eq < 0 ? part : part.left(eq), name, true)) continue;
        if (eq >= 0 && !percentDecode(part.mid(eq + 1), value, true)) continue;
        out.append({QString::fromUtf8(name), QString::fromUtf8(value)});
    }
    return out;
}

struct HttpServer::Connection {
    QTcpSocket* socket = nullptr;
    std::unique_ptr<ClockTimer> timer;
    QByteArray buffer;
    bool dead = false;
    bool closing = false;      // answered with Connection: close
    bool halfClosed = false;   // our direction is shut
    bool inRequest = false;    // bytes of a request have arrived
    // The head is parsed, the body is awaited.
    bool haveHead = false;
    HttpRequest pending;
    qint64 bodyLength = 0;
    bool keepAlive = true;
};

HttpServer::HttpServer(Clock& clock, Handler handler, QObject* parent)
    : QObject(parent), clock_(clock), handler_(std::move(handler)), server_(std::make_unique<QTcpServer>())
{
    connect(server_.get(), &QTcpServer::newConnection, this, &HttpServer::accept);
}

HttpServer::~HttpServer()
{
    for (auto& c : connections_) {
        if (c->socket) {
            c->socket->disconnect(this);
            c->socket->abort();
            delete c->socket;
        }
    }
}

bool HttpServer::listen(const QHostAddress& address, quint16 port)
{
    server_->setMaxPendingConnections(64);
    server_->setListenBacklogSize(128);
    return server_->listen(address, port);
}

void HttpServer::close()
{
    server_->close();
    for (auto& c : connections_) drop(c.get());
}

bool HttpServer::isListening() const { return server_->isListening(); }
quint16 HttpServer::port() const { return server_->serverPort(); }
QHostAddress HttpServer::address() const { return server_->serverAddress(); }
QString HttpServer::errorString() const { return server_->errorString(); }

void HttpServer::accept()
{
    while (QTcpSocket* s = server_->nextPendingConnection()) {
        auto c = std::make_unique<Connection>();
        c->socket = s;
        c->timer = clock_.createTimer();
        c->timer->setSingleShot(true);
        Connection* raw = c.get();
        c->timer->setCallback([this, raw] {
            if (raw->dead) return;
            if (raw->inRequest && !raw->closing) refuse(raw, 408, "request took too long");
            else drop(raw);
        });
        connections_.push_back(std::move(c));
        connect(s, &QTcpSocket::readyRead, this, [this, raw] {
            if (raw->closing) raw->socket->readAll(); // lingering: what comes now is thrown away
            else readFrom(raw);
        });
        connect(s, &QTcpSocket::bytesWritten, this, [this, raw] {
            if (raw->dead) return;
            if (raw->closing) {
                if (raw->socket->bytesToWrite() == 0) halfClose(raw);
                return;
            }
            if (!raw->buffer.isEmpty() && raw->socket->bytesToWrite() < kMaxPendingOutput) readFrom(raw);
        });
        connect(s, &QTcpSocket::disconnected, this, [this, raw] { drop(raw); });
        if (int(connections_.size()) > limits_.maxConnections) {
            refuse(raw, 503, "too many connections");
            continue;
        }
        armTimer(raw, limits_.idleTimeoutMs);
        if (s->bytesAvailable() > 0) readFrom(raw);
    }
}

void HttpServer::armTimer(Connection* c, qint64 ms)
{
    c->timer->stop();
    c->timer->setInterval(ms);
    c->timer->start();
}

void HttpServer::readFrom(Connection* c)
{
    if (c->dead || c->closing) return;
    // Never hold more than one request's worth of bytes: what lies beyond
    // the limits is refused before it is read.
    const qint64 cap = limits_.maxHeadBytes + limits_.maxBodyBytes + 1;
    const qint64 room = cap - c->buffer.size();
    if (room > 0) c->buffer.append(c->socket->read(room));
    if (!c->buffer.isEmpty() && !c->inRequest) {
        c->inRequest = true;
        armTimer(c, limits_.requestTimeoutMs);
    }
    while (!c->dead && !c->closing && !c->buffer.isEmpty()) {
        if (c->socket->bytesToWrite() >= kMaxPendingOutput) return;
        if (!parseOne(c)) break;
    }
    if (!c->dead && !c->closing && c->buffer.size() >= cap) refuse(c, 413, "request too large");
}

bool HttpServer::parseOne(Connection* c)
{
    if (!c->haveHead) {
        const qsizetype end = c->buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (c->buffer.size() > limits_.maxHeadBytes) refuse(c, 431, "request head too large");
            return false;
        }
        if (end + 4 > limits_.maxHeadBytes) {
            refuse(c, 431, "request head too large");
            return false;
        }
        const QByteArray head = c->buffer.left(end);
        c->buffer.remove(0, end + 4);
        // Lines end in CR LF; the last one lost its CR LF with the blank line.
        QList<QByteArray> lines = head.split('\n');
        for (int i = 0; i + 1 < lines.size(); ++i) {
            if (!lines[i].endsWith('\r')) {
                refuse(c, 400, "bare line feed");
                return false;
            }
            lines[i].chop(1);
        }
        if (lines.last().contains('\r')) {
            refuse(c, 400, "stray carriage return");
            return false;
        }
        HttpRequest req;
        req.peer = c->socket->peerAddress();
        // Request line: METHOD SP target SP HTTP/1.x
        const QByteArray line = lines.value(0);
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty() || parts[1][0] != '/') {
            refuse(c, 400, "malformed request line");
            return false;
        }
        if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0") {
            refuse(c, parts[2].startsWith("HTTP/") ? 505 : 400, "unsupported protocol");
            return false;
        }
        req.method = parts[0];
        req.target = parts[1];
        for (char ch : req.target) {
            if (uchar(ch) <= 0x20 || uchar(ch) >= 0x7F) {
                refuse(c, 400, "malformed request target");
                return false;
            }
        }
        const qsizetype q = req.target.indexOf('?');
        const QByteArray rawPath = q < 0 ? req.target : req.target.left(q);
        req.query = q < 0 ? QByteArray() : req.target.mid(q + 1);
        if (!percentDecode(rawPath, req.path, false) || !validUtf8(req.path) || req.path.contains('\0')) {
            refuse(c, 400, "malformed path");
            return false;
        }
        bool keepAlive = parts[2] == "HTTP/1.1";
        qint64 length = 0;
        bool haveLength = false;
        if (lines.size() - 1 > limits_.maxHeaders) {
            refuse(c, 431, "too many header fields");
            return false;
        }
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray& h = lines[i];
            const qsizetype colon = h.indexOf(':');
            if (colon <= 0 || !isToken(h.left(colon))) {
                refuse(c, 400, "malformed header field");
                return false;
            }
            const QByteArray name = h.left(colon).toLower();
            const QByteArray value = h.mid(colon + 1).trimmed();
            if (name == "content-length") {
                bool ok = false;
                const qint64 n = value.toLongLong(&ok);
                if (!ok || n < 0 || value.isEmpty() || value[0] == '+' || (haveLength && n != length)) {
                    refuse(c, 400, "bad content length");
                    return false;
                }
                length = n;
                haveLength = true;
            } else if (name == "transfer-encoding") {
                refuse(c, 501, "transfer encodings are not supported");
                return false;
            } else if (name == "connection") {
                const QByteArray v = value.toLower();
                if (v.contains("close")) keepAlive = false;
                else if (v.contains("keep-alive")) keepAlive = true;
            }
            req.headers.append({name, value});
        }
        if (length > limits_.maxBodyBytes) {
            refuse(c, 413, "request body too large");
            return false;
        }
        c->pending = std::move(req);
        c->bodyLength = length;
        c->keepAlive = keepAlive;
        c->haveHead = true;
    }
    if (c->buffer.size() < c->bodyLength) return false;
    HttpRequest req = std::move(c->pending);
    req.body = c->buffer.left(c->bodyLength);
    c->buffer.remove(0, c->bodyLength);
    c->haveHead = false;
    c->pending = HttpRequest();
    HttpResponse resp = handler_ ? handler_(req) : HttpResponse::text(404, "not found");
    respond(c, req, std::move(resp), c->keepAlive);
    return !c->dead && !c->closing;
}

void HttpServer::respond(Connection* c, const HttpRequest& req, HttpResponse resp, bool keepAlive)
{
    ++served_;
    QByteArray out;
    out.reserve(256 + resp.body.size());
    out += "HTTP/1.1 " + QByteArray::number(resp.status) + ' ' + statusText(resp.status) + "\r\n";
    out += "Content-Type: " + resp.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(resp.body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\n";
    for (const auto& h : resp.headers) out += h.first + ": " + h.second + "\r\n";
    if (!keepAlive) out += "Connection: close\r\n";
    out += "\r\n";
    if (req.method != "HEAD") out += resp.body;
    c->socket->write(out);
    if (!keepAlive) {
        // Close gracefully: send everything, then end our direction and let
        // the client's unread bytes drain for a moment. Closing with unread
        // input would reset the connection and could destroy the answer in
        // the client's buffers before it reads it.
        c->closing = true;
        c->buffer.clear();
        armTimer(c, kLingerMs);
        if (c->socket->bytesToWrite() == 0) halfClose(c);
        return;
    }
    if (c->buffer.isEmpty()) {
        c->inRequest = false;
        armTimer(c, limits_.idleTimeoutMs);
    } else {
        armTimer(c, limits_.requestTimeoutMs);
    }
}

void HttpServer::refuse(Connection* c, int status, const QByteArray& why)
{
    if (c->dead || c->closing) return;
    ++refused_;
    HttpRequest none;
    c->buffer.clear();
    respond(c, none, HttpResponse::text(status, why + '\n'), false);
}

void HttpServer::halfClose(Connection* c)
{
    if (c->halfClosed || !c->socket) return;
    c->halfClosed = true;
    c->socket->flush();
    ::shutdown(int(c->socket->socketDescriptor()), SHUT_WR);
}

void HttpServer::drop(Connection* c)
{
    if (c->dead) return;
    c->dead = true;
    c->timer->stop();
    if (c->socket) {
        c->socket->disconnect(this);
        c->socket->abort();
        c->socket->deleteLater();
        c->socket = nullptr;
    }
    // The connection may be dropped from inside its own timer's callback or a
    // socket signal: remove it once the stack has unwound.
    QTimer::singleShot(0, this, [this, c] {
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            if (it->get() == c) {
                connections_.erase(it);
                return;
            }
        }
    });
}

} // namespace skyvane::http
