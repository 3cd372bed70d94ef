#pragma once
// One run of the updater, without its window: read the hand-over file,
// download every listed file (HEAD for the size, then GET in 16384-byte
// chunks, each on a worker thread so the window stays live), then either
// install them with backups or throw the downloads away. The outcome is left
// in the monitor's "Window"/"LastUpdateMsg" for its next start.
//
// Nothing is installed unless every file arrived whole from a 200 answer, and
// every program among them runs and reports its version. Install renames are
// undone if any of them fails, so a failed or cancelled run always leaves the
// monitor that was there.

#include "HandOver.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace skyvane {
class Clock;
class SettingsStore;
} // namespace skyvane

namespace skyvane::updater {

// The texts left for the monitor.
QString failedMessage();    // "Update failed." + line break + "Program was not updated!"
QString cancelledMessage(); // "Last update cancelled." ...
QString timedOutMessage();  // "Last update timed-out." ...

// "XOB_Skyvane Updater (v5.02.015)" for a caption.
QString versionText();

class UpdateRun : public QObject {
    Q_OBJECT
public:
    UpdateRun(SettingsStore& store, Clock& clock, QString programDir, QObject* parent = nullptr);
    ~UpdateRun() override;

    // Transfer limits, normally from the monitor's "Setup" section
    // ("UpdateTimeout" seconds, "UpdateCAFile").
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }
    void setCaFile(const QString& file) { caFile_ = file; }
    int timeoutMs() const { return timeoutMs_; }
    // How long a downloaded program gets to say its version.
    void setVersionWaitMs(int ms) { versionWaitMs_ = ms; }
    // Reads both from the store.
    void readSettings();

    // Reads the hand-over file and deletes it. False when there is none.
    bool load();
    bool loaded() const { return loaded_; }
    const HandOver& handOver() const { return handOver_; }

    // The run (the first tick of the window). Ends with finished().
    void run();
    // Honoured at every stage before the install: nothing is installed
    // after it, whether it comes during a download, between files or while
    // a downloaded program is being checked. Also before run() starts.
    void cancel();
    // False once the install has begun (a few renames, undone on failure)
    // or the run is over: Cancel can change nothing then.
    bool cancellable() const { return !installing_ && !finished_; }
    bool busy() const { return busy_; }
    bool isFinished() const { return finished_; }
    // The program to start once the window closes; empty: none.
    QString programToStart() const;
    // What the run installed (target names), for tests and the log.
    QStringList installed() const { return installed_; }

    // For a process that is going down in an unplanned way (an exception,
    // a second termination signal): puts back every old file whose new one
    // is not in place, throws the downloads away and returns the program to
    // start (empty: none). Safe to call at any moment of the run.
    QString rescue();

signals:
    void message(const QString& text);
    void progress(qint64 received, qint64 expected);
    void progressVisible(bool visible);
    void busyChanged(bool busy);
    void cancellableChanged(bool cancellable);
    void finished();

private:
    enum class Outcome { Ok, Cancelled, TimedOut, Failed };
    void saveResult(const QString& text);
    void saveOutcome(Outcome outcome);
    void nextDownload();
    void downloadDone(Outcome outcome, QString error);
    void afterDownloads(Outcome outcome);
    void afterVerify(Outcome outcome, QString problem);
    bool install();
    void deleteDownloads();
    void finish();
    QString path(const QString& name) const;
    bool isProgram(const FileRecord& f) const;
    void startWorker(std::function<void()> fn);

    SettingsStore& store_;
    Clock& clock_;
    QString dir_;
    int timeoutMs_ = 30000;
    int versionWaitMs_ = 15000;
    QString caFile_;
    HandOver handOver_;
    bool loaded_ = false;
    bool busy_ = false;
    bool finished_ = false;
    bool installing_ = false;
    std::size_t next_ = 0;
    int downloaded_ = 0;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
    QStringList installed_;
    bool startProgram_ = false;
};

} // namespace skyvane::updater
