#pragma once
// The monitor's side of uploading: the upload list, its settings, the upload
// timer and its lamp, the readiness test, the hand-over through the
// uploader's settings area and the uploader process itself. GUI-free: the
// main window's upload frame edits config() and list() and draws what this
// object says; a monitor without a window uploads all the same.
//
// The uploader is stopped the way its F6 key stops it: by SIGUSR1, which the
// uploader treats as that key (see docs/uploader.md).

#include "Clock.h"
#include "SettingsSchema.h"
#include "UploadList.h"

#include <QDateTime>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QProcess;

namespace skyvane {
class SettingsStore;
}

namespace skyvane::outputs {

inline const QString kUploaderApplication = QStringLiteral("XOB_Uploader");

// How the uploader protects the login: the items of the TLS choice, in the
// order of the stored index.
enum class UploadTls { Required = 0, IfOffered = 1, None = 2 };
QString uploadTlsText(UploadTls t);  // the value written for the uploader
QString uploadTlsItem(UploadTls t);  // the text of the choice

struct UploadConfig {
    QString server;          // "Setup"/"Server"
    QString serverPath;      // "Setup"/"ServerPath"
    QString username;        // "Setup"/"Username"
    QString password;        // "Setup"/"Password"
    double timeoutUpload = 60; // "Setup"/"TimeoutUPLOAD"
    double uploadOnSec = 15;   // "Setup"/"UploadOnSec"
    int refreshUpload = 3;   // "Setup"/"RefreshUpload": " 5 sec", "10 sec", "30 sec", "60 sec"
    QString uploadDir;       // "Setup"/"UploadDir": the folder last used for adding files
    UploadTls tls = UploadTls::IfOffered; // "Setup"/"UploadTLS"
    QString caFile;          // "Setup"/"UploadCAFile": trust this CA besides the system's

    qint64 intervalMs() const;
};

class Uploads;
// Every upload key: the settings above, the list's "File"/"DispFileNameOnly",
// and the list itself ("Setup"/"NoFiles", then FileName<n>, FilePath<n>,
// FileUpload<n>). The core binds them to its Uploads object.
const std::vector<SettingRow<Uploads>>& uploadSettingRows();
const std::vector<SettingListRow<Uploads>>& uploadSettingLists();

// What the uploader's last run achieved, from section "LastRun" of its
// settings area (or, when it left none, from how the process ended).
struct UploadRunReport {
    bool known = false;  // a run has ended since this monitor started
    QDateTime time;
    bool ok = true;
    int files = 0;
    int sent = 0;
    QString message;     // "3 of 3 files sent", "nothing sent: time-out", ...
};
// {time, ok, filesSent, files, message}, or null before the first run: the
// one form the status page, the reasons object and the bus show.
QJsonValue uploadRunJson(const UploadRunReport& r);

class Uploads : public QObject {
    Q_OBJECT
public:
    Uploads(Clock& clock, SettingsStore& store, QObject* parent = nullptr);
    ~Uploads() override;

    UploadConfig& config() { return config_; }
    const UploadConfig& config() const { return config_; }
    XOBFileList& list() { return list_; }
    const XOBFileList& list() const { return list_; }

    // The uploader program; by default XOB_Uploader beside this program.
    void setUploaderProgram(const QString& path) { program_ = path; }
    QString uploaderProgram() const;

    // Monitoring starts with uploading on: the uploader is started at once
    // (no readiness test), then the timer is armed.
    void start();
    // Monitoring stops: timer off, settings unlocked, the uploader told to stop.
    void stop();
    bool armed() const { return armed_; }
    bool timerActive() const;
    qint64 timerInterval() const;

    // One tick of the upload timer (also what the timer runs).
    void tick();
    // Every listed file exists and is upload-once or changed since its hand-over.
    bool ready() const;
    // Hands the list over and starts the uploader, unless one of ours is
    // still running (or, with nothing of ours to go by, the settings area
    // says one is).
    void startUploader();

    // From the first launch until monitoring stops the upload settings stay
    // as they were handed over.
    bool locked() const { return locked_; }
    // The upload lamp: grey or green, changed by each tick.
    int lamp() const { return lamp_; }
    bool uploaderRunning() const;
    qint64 uploaderPid() const;
    int launches() const { return launches_; }
    const UploadRunReport& lastRun() const { return lastRun_; }
    // The last run left something unsent: the lamp shows red.
    // (Only a run since monitoring started counts: the one that Stop cut
    // short is history, not news.)
    bool lastRunFailed() const { return runsSinceStart_ > 0 && !lastRun_.ok; }

signals:
    void changed();
    void uploaderStarted();
    void uploaderFinished();

private:
    bool writeHandOver();
    void readReport(int exitCode, bool crashed);

    Clock& clock_;
    SettingsStore& store_;
    UploadConfig config_;
    XOBFileList list_;
    QString program_;
    std::unique_ptr<ClockTimer> timer_;
    QPointer<QProcess> process_;
    bool ownStarted_ = false; // a process of ours has been started
    bool force_ = false;
    bool armed_ = false;
    bool locked_ = false;
    int lamp_;
    int launches_ = 0;
    UploadRunReport lastRun_;
    int runsSinceStart_ = 0;
};

} // namespace skyvane::outputs
