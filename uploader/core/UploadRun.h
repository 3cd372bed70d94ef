#pragma once
// One upload run of the uploader: the file table from the uploader's settings
// area, the timers between commands, the log lines and the "Running" value the
// monitor watches. No widgets here; the window passes its key presses and
// close requests in and shows what comes out.

#include "Clock.h"
#include "SettingsStore.h"
#include "Transfer.h"

#include <QString>
#include <QVector>
#include <functional>
#include <memory>

namespace skyvane {

inline const QString kUploaderApp = QStringLiteral("XOB_Uploader");

struct UploadEntry {
    QString localPath;
    QString remoteName;
};

struct UploadSetup {
    QString server;
    QString serverPath;
    QString username;
    QString password;
    int timeoutSeconds = 60;
    QVector<UploadEntry> files;
};

// What one run achieved. It is left in section "LastRun" of the uploader's
// area (Time, Ok, Files, Sent, Message) before "Running" drops to 0, so the
// monitor can show a run that failed: a quiet failure would leave stale web
// images and nobody told.
struct UploadOutcome {
    int files = 0;   // listed for this run
    int sent = 0;    // arrived whole under their names
    QString reason;  // why the first file that did not arrive did not
    bool ok() const { return sent >= files; }
    // "3 of 3 files sent", "1 of 3 files sent: time-out", "nothing sent:
    // certificate not trusted"
    QString message() const;
};

// Reads "Setup" of the uploader's area and builds the file table: each local
// path is cut to 255 characters and trimmed; its remote name is ServerPath
// followed by the path's file-name part.
UploadSetup readUploadSetup(const SettingsStore& store);

// True when the path names an existing file; the file-name part is matched
// without regard to letter case, as the monitor's lists were always written.
// On success, *actual holds the path as it is spelled on disk.
bool findLocalFile(const QString& path, QString* actual = nullptr);

class UploadRun {
public:
    UploadRun(SettingsStore& store, Clock& clock, Transfer& transfer);
    ~UploadRun();

    // Reads the settings; with no files the program closes at once, else the
    // run starts 100 ms later.
    void start();
    // F6: the command in progress finishes, then CLOSE.
    void stopKey();
    // The window's close box: false when the close is put off because a
    // command is still running (it is retried every second).
    bool requestClose();

    const UploadSetup& setup() const { return setup_; }
    int currentIndex() const { return index_; }
    int fileCount() const { return int(setup_.files.size()); }
    bool closed() const { return closed_; }
    int putCount() const { return puts_; }
    const UploadOutcome& outcome() const { return outcome_; }
    // The program's exit status: non-zero when a run left anything unsent.
    int exitStatus() const { return started_ && !outcome_.ok() ? 1 : 0; }

    std::function<void(const QString&)> onLog;
    std::function<void()> onClearLog;
    std::function<void()> onProgress;      // the caption's counter moved
    std::function<void()> onSaveWindow;    // write the window keys now
    std::function<void()> onClosed;        // the program may end

private:
    void startRun();
    void nextFile();
    void finish();
    void closeProgram();
    void stateChanged(int state);
    void log(const QString& line);
    void endOnError(const QString& firstLine);
    void notSent(const QString& reason);
    void saveOutcome();
    QString stamp() const;

    SettingsStore& store_;
    Clock& clock_;
    Transfer& transfer_;
    UploadSetup setup_;
    std::unique_ptr<ClockTimer> timerUploadStart_;
    std::unique_ptr<ClockTimer> timerEndOfCmd_;
    std::unique_ptr<ClockTimer> timerUploadEnd_;
    std::unique_ptr<ClockTimer> timerEndOfSession_;
    int index_ = 0;
    int responses_ = 0;
    int puts_ = 0;
    bool stop_ = false;
    bool closing_ = false;   // CLOSE has been sent
    bool closed_ = false;
    bool started_ = false;
    UploadOutcome outcome_;
};

} // namespace skyvane
