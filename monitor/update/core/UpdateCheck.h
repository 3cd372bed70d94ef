#pragma once
// The monitor's update check, without its windows: three small files from the
// update server (the news, the newest version, the updater's description),
// fetched on a worker thread so the window stays live; the news saved as
// "Window"/"XOB_News"; the hand-over file for the updater written into the
// program folder.
//
// Everything from the server is treated as untrusted text: sizes are capped,
// the version is one short printable line, the news is shown as plain text
// and cut.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <thread>

namespace skyvane {
class SettingsStore;
}

namespace skyvane::update {

inline constexpr const char* kNewsPath = "/xob/skyvane220/XOB_SkyvaneNews.txt";
inline constexpr const char* kVersionPath = "/xob/skyvane220/XOB_Skyvane.txt";
inline constexpr const char* kUpdaterPath = "/xob/skyvane220/XOB_SkyvaneUpdater.txt";

// The server when "Setup"/"UpdateServer" is not set.
QString defaultServer();
// "Setup"/"UpdateServer" without a trailing slash.
QString serverOf(const SettingsStore& store);

// major.minor(00).revision(000), as the caption shows it.
QString installedVersionText();
// Text of the transfer states 1..12 ("Unknown condition" otherwise, "" for 0).
QString stateText(int state);

// The news as text: one character per byte, cut to a size a window can show.
QString newsFromBytes(const QByteArray& bytes);
// The longest news text kept or shown, in characters.
inline constexpr int kNewsMax = 4000;
// A text fit for a label: control characters (other than line breaks and
// tabs) removed, at most max characters (cut texts end with "...").
QString displayText(const QString& text, int max = kNewsMax);
// The version file's first line, printable, at most 32 characters.
QString versionFromBytes(const QByteArray& bytes);

// True when the monitor can replace its own files: a file can be made in the
// folder (a system-wide install can not, and is updated by its package).
bool programDirWritable(const QString& dir);

class UpdateCheck : public QObject {
    Q_OBJECT
public:
    UpdateCheck(SettingsStore& store, QString programDir, QString programFile, QObject* parent = nullptr);
    ~UpdateCheck() override;

    // "Setup"/"UpdateServer", "UpdateTimeout" (seconds) and "UpdateCAFile".
    void readSettings();
    void setServer(const QString& base) { server_ = base; }
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }
    void setCaFile(const QString& file) { caFile_ = file; }
    // Where the update window stands, for the updater's window.
    void setWindowPosition(int left, int top) { left_ = left, top_ = top; }

    // Runs the three fetches; finished() follows.
    void start();
    bool running() const { return running_; }

    QString news() const { return news_; }
    QString version() const { return version_; }
    bool programDirWritable() const { return writable_; }
    bool handOverWritten() const { return handOverWritten_; }
    QString handOverFile() const;

signals:
    void status(const QString& text);
    void finished();

private:
    void done(QByteArray news, bool newsOk, QByteArray version, QByteArray description, bool descriptionOk);

    SettingsStore& store_;
    QString dir_;
    QString program_;
    QString server_;
    int timeoutMs_ = 30000;
    QString caFile_;
    int left_ = 0;
    int top_ = 0;
    bool running_ = false;
    QString news_;
    QString version_;
    bool writable_ = true;
    bool handOverWritten_ = false;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
};

} // namespace skyvane::update
