#pragma once
// The transfer through libcurl: FTP, with explicit TLS (AUTH TLS) used
// whenever the server offers it. Each command runs on a worker thread so the
// window and the timers go on; its state reports come back queued to the
// thread that owns this object.
//
// A file is sent under a temporary name ("<name>.part") and renamed when it
// has arrived whole, so a broken transfer never leaves a half file under the
// real name; after a failure the temporary file is removed when the server
// lets us. Every wait for the server is bounded by the request time-out.

#include "Transfer.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

namespace skyvane {

enum class TlsMode { Required, IfOffered, None };

// A failed command in a few words: from libcurl's code, the server's last
// answer code and text, and whether the local file was at fault.
QString describeFailure(int curlCode, int ftpCode, const QString& info, bool localFault);

class CurlTransfer final : public QObject, public Transfer {
    Q_OBJECT
public:
    explicit CurlTransfer(QObject* parent = nullptr);
    ~CurlTransfer() override;

    void setTlsMode(TlsMode m) { tls_ = m; }
    void setCaFile(const QString& path) { caFile_ = path; }

    void configure(const TransferSetup& setup) override;
    void put(const QString& localPath, const QString& remoteName) override;
    void close() override;
    bool stillExecuting() const override { return busy_.load(); }
    int responseCode() const override;
    QString responseInfo() const override;
    int errorNumber() const override;
    bool localFault() const override { return localFault_; }
    QString failureReason() const override;

    struct Worker;
    // A server answer seen on the worker thread.
    void answer(const std::string& line);

private:
    void run(std::function<void()> job);
    void post(int state, bool last = false);

    TransferSetup setup_;
    TlsMode tls_ = TlsMode::IfOffered;
    QString caFile_;
    std::unique_ptr<Worker> w_;
    std::thread thread_;
    std::atomic<bool> busy_{false};
    // What the worker learnt, handed over with each state report...
    QString wInfo_;
    int wCode_ = 0;
    int wError_ = 0;
    bool wLocal_ = false;
    // ...and what the user-interface thread was last told.
    int code_ = 0;
    bool localFault_ = false;
    int error_ = 0;
    QString info_;
};

} // namespace skyvane
