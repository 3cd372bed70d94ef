#include "HttpFetch.h"

#include "HandOver.h"

#include <QFile>
#include <chrono>
#include <curl/curl.h>

namespace skyvane::updater {

namespace {

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

using SteadyClock = std::chrono::steady_clock;

struct Work {
    const FetchRequest* req;
    const std::atomic<bool>* cancel;
    const std::function<void(qint64, qint64)>* onChunk;
    FetchResult* res;
    QFile* file = nullptr;
    SteadyClock::time_point lastData = SteadyClock::now();
    bool tooLarge = false;
    bool writeFailed = false;
};

bool cancelled(const Work& w) { return w.cancel && w.cancel->load(); }

bool stalled(Work& w)
{
    const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - w.lastData).count();
    return idle > w.req->timeoutMs;
}

size_t onWrite(char* data, size_t size, size_t n, void* user)
{
    auto& w = *static_cast<Work*>(user);
    const qint64 len = qint64(size * n);
    if (cancelled(w)) {
        w.res->cancelled = true;
        return 0;
    }
    w.lastData = SteadyClock::now();
    if (w.file) {
        if (w.file->write(data, len) != len) {
            w.writeFailed = true;
            return 0;
        }
    } else {
        if (w.req->maxBytes >= 0 && w.res->body.size() + len > w.req->maxBytes) {
            w.tooLarge = true;
            return 0;
        }
        w.res->body.append(data, len);
    }
    w.res->received += len;
    if (*w.onChunk) (*w.onChunk)(w.res->received, w.res->announced);
    return size_t(len);
}

size_t onHeader(char* data, size_t size, size_t n, void* user)
{
    auto& w = *static_cast<Work*>(user);
    w.lastData = SteadyClock::now();
    const QByteArray line = QByteArray(data, qsizetype(size * n)).trimmed();
    // A new status line (after a 100 Continue) starts the headers over.
    if (line.startsWith("HTTP/")) w.res->announced = -1;
    const qsizetype colon = line.indexOf(':');
    if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
        bool ok = false;
        const qint64 v = line.mid(colon + 1).trimmed().toLongLong(&ok);
        if (ok && v >= 0) w.res->announced = v;
    }
    return size * n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto& w = *static_cast<Work*>(user);
    if (cancelled(w)) {
        w.res->cancelled = true;
        return 1;
    }
    if (stalled(w)) {
        w.res->timedOut = true;
        return 1;
    }
    return 0;
}

} // namespace

FetchResult fetch(const FetchRequest& req, const std::atomic<bool>* cancel, const std::function<void(qint64, qint64)>& onChunk)
{
    static CurlGlobal global;
    FetchResult res;
    if (const QString p = addressProblem(req.address); !p.isEmpty()) {
        res.error = p;
        return res;
    }
    if (cancel && cancel->load()) {
        res.cancelled = true;
        return res;
    }

    QFile file(req.toFile);
    if (!req.headOnly && !req.toFile.isEmpty()) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            res.error = QStringLiteral("Cannot write %1: %2").arg(req.toFile, file.errorString());
            return res;
        }
    }
    Work w{&req, cancel, &onChunk, &res, file.isOpen() ? &file : nullptr};

    CURL* h = curl_easy_init();
    char errbuf[CURL_ERROR_SIZE] = {0};
    const QByteArray url = req.address.trimmed().toUtf8();
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L); // a redirect is not the file
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    const QByteArray ca = req.caFile.toLocal8Bit();
    if (!req.caFile.isEmpty()) {
        // The extra file is trusted besides the system's certificates.
        curl_easy_setopt(h, CURLOPT_CAINFO, ca.constData());
        curl_easy_setopt(h, CURLOPT_CAPATH, "/etc/ssl/certs");
    }
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, long(req.chunkBytes));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(req.timeoutMs));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &w);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &w);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onWrite);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &w);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "XOB_Updater");
    if (req.headOnly) curl_easy_setopt(h, CURLOPT_NOBODY, 1L);

    const CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &res.status);
    curl_easy_cleanup(h);
    if (file.isOpen()) file.close();

    if (res.cancelled) {
        res.error = QStringLiteral("cancelled");
    } else if (res.timedOut || rc == CURLE_OPERATION_TIMEDOUT) {
        res.timedOut = true;
        res.error = QStringLiteral("no data for %1 s").arg(req.timeoutMs / 1000.0);
    } else if (w.tooLarge) {
        res.error = QStringLiteral("the answer is larger than %1 bytes").arg(req.maxBytes);
    } else if (w.writeFailed) {
        res.error = QStringLiteral("Cannot write %1: %2").arg(req.toFile, file.errorString());
    } else if (rc != CURLE_OK) {
        res.error = QString::fromLocal8Bit(errbuf[0] ? errbuf : curl_easy_strerror(rc));
    } else if (res.status != 200) {
        res.error = QStringLiteral("the server answered %1, not 200").arg(res.status);
    } else if (res.announced < 0) {
        res.error = QStringLiteral("the server did not announce the length");
    } else if (!req.headOnly && res.received != res.announced) {
        res.error = QStringLiteral("%1 bytes received of the %2 announced").arg(res.received).arg(res.announced);
    } else {
        res.ok = true;
    }
    return res;
}

} // namespace skyvane::updater
