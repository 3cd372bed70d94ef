#include "CurlTransfer.h"

#include <QFile>
#include <QMetaObject>
#include <QPointer>
#include <QUrl>
#include <chrono>
#include <curl/curl.h>

namespace skyvane {

namespace {
// Seconds allowed for tidying up after a failure (QUIT of the broken
// connection, removing the temporary file over a fresh one).
constexpr long kCleanupSeconds = 3;

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

// A command list for libcurl that frees itself.
struct CommandList {
    curl_slist* list = nullptr;
    CommandList(std::initializer_list<QByteArray> commands)
    {
        for (const QByteArray& c : commands) list = curl_slist_append(list, c.constData());
    }
    ~CommandList() { curl_slist_free_all(list); }
    CommandList(const CommandList&) = delete;
    CommandList& operator=(const CommandList&) = delete;
};

QString encodePath(const QString& remote)
{
    QStringList parts = remote.split(QLatin1Char('/'));
    for (QString& p : parts) p = QString::fromLatin1(QUrl::toPercentEncoding(p));
    return parts.join(QLatin1Char('/'));
}
} // namespace

struct CurlTransfer::Worker {
    CURL* h = nullptr;
    bool connected = false;
    CurlTransfer* owner = nullptr;
    std::string lastLine;
    char errbuf[CURL_ERROR_SIZE] = {};
    QFile* file = nullptr;
    bool sending = false;     // the file's data has begun to flow
    qint64 size = 0;          // the file's size when the command began
    qint64 sent = 0;
    bool changed = false;     // the file vanished or changed meanwhile
    // The watch on the data: once it flows, a server that takes nothing
    // more for the time-out is given up.
    using Steady = std::chrono::steady_clock;
    curl_off_t lastUp = 0;
    Steady::time_point lastMove;
    long timeoutMs = 60000;
    bool stalled = false;
    // The verb of the last command sent, to tell which one was refused.
    std::string lastCommand;
    // How files get their final name on this server; learnt from the first
    // refusal and kept for the rest of the session.
    enum class Naming { Rename, DeleteThenRename, Direct };
    Naming naming = Naming::Rename;

    ~Worker() { if (h) curl_easy_cleanup(h); }
};

namespace {
int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    auto* w = static_cast<CurlTransfer::Worker*>(user);
    if (type == CURLINFO_HEADER_OUT) {
        // Of what we send only the verb is kept: the rest may be a password.
        const std::string sent(data, size);
        w->lastCommand = sent.substr(0, sent.find_first_of(" \r\n"));
        return 0;
    }
    // Otherwise only the server's side is looked at.
    if (type != CURLINFO_HEADER_IN) return 0;
    std::string text(data, size);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    // Intermediate lines of a multi-line answer ("230-...") are not answers.
    if (text.size() >= 4 && text[3] == '-') return 0;
    w->lastLine = text;
    w->owner->answer(text);
    return 0;
}

size_t onRead(char* buf, size_t size, size_t n, void* user)
{
    auto* w = static_cast<CurlTransfer::Worker*>(user);
    QFile* f = w->file;
    if (!w->sending) w->lastMove = CurlTransfer::Worker::Steady::now();
    w->sending = true;
    const qint64 got = f->read(buf, qint64(size * n));
    if (got < 0) {
        w->changed = true;
        return CURL_READFUNC_ABORT;
    }
    w->sent += got;
    // A file that is cut, grows or is deleted while we send it would arrive
    // as something that never was on the disk: give it up before the rename.
    if (w->sent > w->size || (got == 0 && (w->sent != w->size || !QFile::exists(f->fileName())))) {
        w->changed = true;
        return CURL_READFUNC_ABORT;
    }
    return size_t(got);
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t upNow)
{
    auto* w = static_cast<CurlTransfer::Worker*>(user);
    if (!w->sending) return 0; // before the data: the answer time-out watches
    const auto now = CurlTransfer::Worker::Steady::now();
    if (upNow != w->lastUp) {
        w->lastUp = upNow;
        w->lastMove = now;
        return 0;
    }
    if (now - w->lastMove >= std::chrono::milliseconds(w->timeoutMs)) {
        w->stalled = true;
        return 1;
    }
    return 0;
}

} // namespace

CurlTransfer::CurlTransfer(QObject* parent) : QObject(parent), w_(std::make_unique<Worker>())
{
    static CurlGlobal global;
    w_->owner = this;
}

CurlTransfer::~CurlTransfer()
{
    if (thread_.joinable()) thread_.join();
}

void CurlTransfer::configure(const TransferSetup& setup)
{
    setup_ = setup;
    if (!setup_.url.isEmpty() && !setup_.url.endsWith(QLatin1Char('/'))) setup_.url += QLatin1Char('/');
}

int CurlTransfer::responseCode() const { return code_; }
QString CurlTransfer::responseInfo() const { return info_; }
int CurlTransfer::errorNumber() const { return error_; }
QString CurlTransfer::failureReason() const
{
    return error_ == 0 && !localFault_ ? QString() : describeFailure(error_, code_, info_, localFault_);
}

QString describeFailure(int curlCode, int ftpCode, const QString& info, bool localFault)
{
    if (localFault) return QStringLiteral("the file changed while it was sent");
    // Disk full first: libcurl reports it as a failed upload or a write error.
    if (ftpCode == 452 || ftpCode == 552 || info.contains(QLatin1String("No space left"), Qt::CaseInsensitive))
        return QStringLiteral("disk full on the server");
    switch (curlCode) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("certificate not trusted");
    case CURLE_LOGIN_DENIED: return QStringLiteral("login refused");
    case CURLE_COULDNT_CONNECT: return QStringLiteral("connection refused");
    case CURLE_COULDNT_RESOLVE_HOST: return QStringLiteral("server name not found");
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_ABORTED_BY_CALLBACK: // our own watch on a data connection that stopped
        return QStringLiteral("time-out");
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return QStringLiteral("connection lost");
    case CURLE_USE_SSL_FAILED: return QStringLiteral("the server offers no TLS");
    case CURLE_REMOTE_ACCESS_DENIED: return QStringLiteral("access refused");
    case CURLE_SSL_CONNECT_ERROR: return QStringLiteral("TLS handshake failed");
    default: break;
    }
    if (ftpCode == 530) return QStringLiteral("login refused");
    // "Connection closed; transfer aborted": the server gave up the data
    // connection (some do so when their disk fills).
    if (ftpCode == 426) return QStringLiteral("connection lost");
    return info.isEmpty() ? QString::fromLatin1(curl_easy_strerror(CURLcode(curlCode))) : info;
}

void CurlTransfer::answer(const std::string& line)
{
    Worker& w = *w_;
    if (!w.connected) {
        w.connected = true;
        post(4);
    }
    int code = 0;
    try { code = std::stoi(line.substr(0, 3)); } catch (...) {}
    wInfo_ = QString::fromUtf8(line.c_str());
    wCode_ = code;
    post(8);
}

void CurlTransfer::post(int state, bool last)
{
    // The info text goes with the state, so each log line shows the answer
    // that belongs to it.
    QPointer<CurlTransfer> self(this);
    QMetaObject::invokeMethod(this, [self, state, last, info = wInfo_, code = wCode_, err = wError_, local = wLocal_] {
        if (!self) return;
        self->info_ = info;
        self->code_ = code;
        self->error_ = err;
        self->localFault_ = local;
        if (last) self->busy_ = false;
        if (self->onStateChanged) self->onStateChanged(state);
    }, Qt::QueuedConnection);
}

void CurlTransfer::run(std::function<void()> job)
{
    if (thread_.joinable()) thread_.join();
    busy_ = true;
    thread_ = std::thread(std::move(job));
}

void CurlTransfer::put(const QString& localPath, const QString& remoteName)
{
    const TransferSetup s = setup_;
    const TlsMode tls = tls_;
    const QString ca = caFile_;
    run([this, s, tls, ca, localPath, remoteName] {
        Worker& w = *w_;
        wLocal_ = false;
        auto setInfo = [this](const std::string& line, int code, int err) {
            wInfo_ = QString::fromUtf8(line.c_str());
            wCode_ = code;
            wError_ = err;
        };
        if (!w.h) {
            w.h = curl_easy_init();
            w.connected = false;
        }
        CURL* h = w.h;
        curl_easy_reset(h);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, w.errbuf);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_DEFAULT_PROTOCOL, "ftp");
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
        curl_easy_setopt(h, CURLOPT_USERNAME, s.username.toUtf8().constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, s.password.toUtf8().constData());
        const long t = s.timeoutSeconds;
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, t);
        curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, t);
        curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, t * 1000);
        // A data connection that stops moving counts as a stalled server.
        // libcurl's own low-speed check averages over several seconds and
        // so gives up late; this watch counts from the last byte taken.
        w.timeoutMs = t * 1000;
        w.lastUp = 0;
        w.stalled = false;
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &w);
        curl_easy_setopt(h, CURLOPT_USE_SSL, tls == TlsMode::Required ? long(CURLUSESSL_ALL)
                                           : tls == TlsMode::IfOffered ? long(CURLUSESSL_TRY)
                                                                       : long(CURLUSESSL_NONE));
        if (!ca.isEmpty()) curl_easy_setopt(h, CURLOPT_CAINFO, ca.toLocal8Bit().constData());
        curl_easy_setopt(h, CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_RETRY));
        curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, onDebug);
        curl_easy_setopt(h, CURLOPT_DEBUGDATA, &w);
        curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);

        const int slash = remoteName.lastIndexOf(QLatin1Char('/'));
        const QString dir = remoteName.left(slash + 1);
        const QString name = remoteName.mid(slash + 1);
        const QString temp = name + QStringLiteral(".part");

        QFile f(localPath);
        if (!f.open(QIODevice::ReadOnly)) {
            setInfo("cannot read " + localPath.toStdString(), 0, int(CURLE_READ_ERROR));
            wLocal_ = true;
            post(11, true);
            return;
        }
        const qint64 size = f.size();
        curl_easy_setopt(h, CURLOPT_READFUNCTION, onRead);
        curl_easy_setopt(h, CURLOPT_READDATA, &w);
        w.file = &f;

        if (!w.connected) {
            post(1);
            post(2);
            post(3);
        }
        // The file's bytes under `target`; `after` runs once they arrived.
        const auto send = [&](const QString& target, curl_slist* after) {
            f.seek(0);
            w.sending = false;
            w.size = size;
            w.sent = 0;
            w.changed = false;
            w.lastUp = 0;
            w.stalled = false;
            const QByteArray url = (s.url + encodePath(dir + target)).toUtf8();
            curl_easy_setopt(h, CURLOPT_URL, url.constData());
            curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
            curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(size));
            curl_easy_setopt(h, CURLOPT_POSTQUOTE, after);
            w.lastLine.clear();
            w.lastCommand.clear();
            w.errbuf[0] = 0;
            return curl_easy_perform(h);
        };
        // Commands in the file's folder, no data.
        const auto commands = [&](curl_slist* list) {
            const QByteArray url = (s.url + encodePath(dir)).toUtf8();
            curl_easy_setopt(h, CURLOPT_URL, url.constData());
            curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
            curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(h, CURLOPT_POSTQUOTE, list);
            w.lastLine.clear();
            w.lastCommand.clear();
            w.errbuf[0] = 0;
            const CURLcode rc = curl_easy_perform(h);
            curl_easy_setopt(h, CURLOPT_POSTQUOTE, nullptr);
            return rc;
        };
        const QByteArray rnfr = ("RNFR " + temp).toUtf8();
        const QByteArray rnto = ("RNTO " + name).toUtf8();
        const QByteArray dele = ("DELE " + name).toUtf8();
        const QByteArray deleMaybe = "*" + dele;
        const QByteArray deleTemp = ("*DELE " + temp).toUtf8();
        using Naming = Worker::Naming;

        // Some servers refuse to rename onto an existing file, some accounts
        // may not rename at all: the old file is then deleted first, and
        // where even that is refused the file goes under its final name.
        CURLcode rc = CURLE_OK;
        std::string sentLine;
        if (w.naming == Naming::Direct) {
            rc = send(name, nullptr);
        } else {
            CommandList plain{rnfr, rnto};
            CommandList overOld{deleMaybe, rnfr, rnto};
            rc = send(temp, w.naming == Naming::Rename ? plain.list : overOld.list);
            if (rc == CURLE_QUOTE_ERROR) {
                if (w.lastCommand == "RNTO" && w.naming == Naming::Rename) {
                    CommandList again{dele, rnfr, rnto};
                    if (commands(again.list) == CURLE_OK) {
                        rc = CURLE_OK;
                        w.naming = Naming::DeleteThenRename;
                    }
                }
                if (rc != CURLE_OK) {
                    rc = send(name, nullptr);
                    if (rc == CURLE_OK) {
                        w.naming = Naming::Direct;
                        sentLine = w.lastLine;
                        CommandList tidy{deleTemp};
                        commands(tidy.list);
                    }
                }
            }
        }
        curl_easy_setopt(h, CURLOPT_POSTQUOTE, nullptr);
        if (sentLine.empty()) sentLine = w.lastLine;
        long code = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
        w.file = nullptr;
        if (rc == CURLE_OK) {
            // The log says how the file got its name, where it was not the
            // usual rename.
            if (w.naming == Naming::DeleteThenRename) sentLine += " - rename refused: old file deleted, then renamed";
            else if (w.naming == Naming::Direct) sentLine += " - rename refused: sent under the final name";
            setInfo(sentLine, int(code), 0);
            post(12, true);
            return;
        }
        const std::string why = w.changed ? std::string("local file vanished or changed while being sent")
                              : w.stalled ? "server took no data for " + std::to_string(t) + " s"
                              : w.errbuf[0] ? std::string(w.errbuf)
                                            : std::string(curl_easy_strerror(rc));
        // The connection that failed is of no more use. Its QUIT is not
        // worth a long wait: the server may be the one that stalled.
        curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, std::min(t, kCleanupSeconds));
        curl_easy_cleanup(h);
        w.h = nullptr;
        w.connected = false;
        // Remove what may have arrived under the temporary name, over a
        // connection of its own and within the same time-out.
        if (w.sending) {
            CURL* d = curl_easy_init();
            curl_easy_setopt(d, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(d, CURLOPT_DEFAULT_PROTOCOL, "ftp");
            curl_easy_setopt(d, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
            curl_easy_setopt(d, CURLOPT_USERNAME, s.username.toUtf8().constData());
            curl_easy_setopt(d, CURLOPT_PASSWORD, s.password.toUtf8().constData());
            curl_easy_setopt(d, CURLOPT_USE_SSL, tls == TlsMode::Required ? long(CURLUSESSL_ALL)
                                               : tls == TlsMode::IfOffered ? long(CURLUSESSL_TRY)
                                                                           : long(CURLUSESSL_NONE));
            if (!ca.isEmpty()) curl_easy_setopt(d, CURLOPT_CAINFO, ca.toLocal8Bit().constData());
            curl_easy_setopt(d, CURLOPT_FRESH_CONNECT, 1L);
            curl_easy_setopt(d, CURLOPT_FORBID_REUSE, 1L);
            // What is left of a broken file is worth a short try only: the
            // run has waited its time-out already.
            curl_easy_setopt(d, CURLOPT_TIMEOUT, std::min(t, kCleanupSeconds));
            const QByteArray dirUrl = (s.url + encodePath(dir)).toUtf8();
            curl_easy_setopt(d, CURLOPT_URL, dirUrl.constData());
            curl_easy_setopt(d, CURLOPT_NOBODY, 1L);
            curl_slist* q = curl_slist_append(nullptr, deleTemp.constData());
            curl_easy_setopt(d, CURLOPT_POSTQUOTE, q);
            curl_easy_perform(d);
            curl_easy_cleanup(d);
            curl_slist_free_all(q);
        }
        setInfo(why, int(code), int(rc));
        wLocal_ = w.changed;
        post(11, true);
    });
}

void CurlTransfer::close()
{
    run([this] {
        Worker& w = *w_;
        wError_ = 0;
        post(9);
        if (w.h) {
            curl_easy_cleanup(w.h);
            w.h = nullptr;
        }
        w.connected = false;
        post(10, true);
    });
}

} // namespace skyvane
