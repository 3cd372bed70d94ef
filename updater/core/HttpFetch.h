#pragma once
// One HTTP(S) request through libcurl, made on the calling thread (callers
// run it on a worker thread so that no window waits on the network).
//
// A response counts only when the server said 200, announced a length and
// sent exactly that many bytes: anything else (an error page, a cut
// connection, a length that lies) is a failure. Certificates are verified;
// an extra CA file may be trusted besides the system's. No data for the
// timeout, at any step, gives up.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>

namespace skyvane::updater {

struct FetchRequest {
    QString address;
    bool headOnly = false;       // "HEAD": headers only
    QString toFile;              // write the body here; empty: keep it in memory
    int timeoutMs = 30000;       // longest time without data
    QString caFile;              // trusted besides the system's certificates
    qint64 maxBytes = -1;        // a longer body fails (memory bodies)
    qint64 chunkBytes = 16384;   // bytes taken per write
};

struct FetchResult {
    bool ok = false;
    bool cancelled = false;
    bool timedOut = false;
    long status = 0;             // HTTP status, 0 without an answer
    qint64 announced = -1;       // Content-Length, -1 when not sent
    qint64 received = 0;
    QByteArray body;             // memory bodies only
    QString error;               // why it failed, for the message list
};

// Runs the request. cancel is polled throughout; onChunk(received, announced)
// is called after each chunk is written (on this thread).
FetchResult fetch(const FetchRequest& request, const std::atomic<bool>* cancel = nullptr,
                  const std::function<void(qint64, qint64)>& onChunk = {});

} // namespace skyvane::updater
