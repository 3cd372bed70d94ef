#include "UploadRun.h"

#include <QDir>
#include <QFileInfo>

namespace skyvane {

namespace {
ClockTimer* oneShot(std::unique_ptr<ClockTimer>& slot, Clock& clock, std::function<void()> fn)
{
    slot = clock.createTimer();
    slot->setSingleShot(true);
    slot->setCallback(std::move(fn));
    return slot.get();
}

void arm(ClockTimer& t, qint64 ms)
{
    t.stop();
    t.setInterval(ms);
    t.start();
}

QString fileNamePart(const QString& path)
{
    // Lists written on the old platform use backslashes; ours use slashes.
    const int cut = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(cut + 1);
}
} // namespace

QString UploadOutcome::message() const
{
    if (ok()) return QStringLiteral("%1 of %2 files sent").arg(sent).arg(files);
    const QString why = reason.isEmpty() ? QStringLiteral("not sent") : reason;
    if (sent == 0) return QStringLiteral("nothing sent: ") + why;
    return QStringLiteral("%1 of %2 files sent: %3").arg(sent).arg(files).arg(why);
}

UploadSetup readUploadSetup(const SettingsStore& store)
{
    UploadSetup s;
    auto get = [&](const char* key, const char* def = "") {
        return store.get(kUploaderApp, QStringLiteral("Setup"), QString::fromLatin1(key), QString::fromLatin1(def));
    };
    s.server = get("Server");
    s.serverPath = get("ServerPath");
    s.username = get("Username");
    s.password = get("Password");
    s.timeoutSeconds = settings_codec::toInt(get("TimeoutUPLOAD", "60"), 60);
    // A time-out of 0 or less would mean "wait for ever" to the transfer.
    if (s.timeoutSeconds < 1) s.timeoutSeconds = 60;
    const int n = settings_codec::toInt(get("NoFiles", "0"), 0);
    for (int i = 1; i <= n; ++i) {
        UploadEntry e;
        e.localPath = store.get(kUploaderApp, QStringLiteral("Setup"), QStringLiteral("File%1").arg(i)).left(255).trimmed();
        e.remoteName = s.serverPath + fileNamePart(e.localPath);
        s.files.push_back(e);
    }
    return s;
}

bool findLocalFile(const QString& path, QString* actual)
{
    if (path.isEmpty()) return false;
    const QFileInfo fi(path);
    if (fi.isFile()) {
        if (actual) *actual = fi.filePath();
        return true;
    }
    const QDir dir = fi.dir();
    const QString name = fileNamePart(path);
    if (name.isEmpty()) return false;
    const QStringList hits = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString& h : hits) {
        if (h.compare(name, Qt::CaseInsensitive) == 0) {
            if (actual) *actual = dir.filePath(h);
            return true;
        }
    }
    return false;
}

UploadRun::UploadRun(SettingsStore& store, Clock& clock, Transfer& transfer)
    : store_(store), clock_(clock), transfer_(transfer)
{
    oneShot(timerUploadStart_, clock_, [this] { startRun(); });
    oneShot(timerEndOfCmd_, clock_, [this] { nextFile(); });
    oneShot(timerUploadEnd_, clock_, [this] { nextFile(); });
    oneShot(timerEndOfSession_, clock_, [this] { closeProgram(); });
    transfer_.onStateChanged = [this](int state) { stateChanged(state); };
}

UploadRun::~UploadRun()
{
    transfer_.onStateChanged = nullptr;
}

void UploadRun::start()
{
    setup_ = readUploadSetup(store_);
    if (setup_.files.isEmpty()) {
        closeProgram();
        return;
    }
    arm(*timerUploadStart_, 100);
}

void UploadRun::startRun()
{
    store_.save(kUploaderApp, QStringLiteral("Window"), QStringLiteral("Running"), QStringLiteral("1"));
    store_.sync();
    TransferSetup t;
    t.url = setup_.server;
    t.username = setup_.username;
    t.password = setup_.password;
    t.timeoutSeconds = setup_.timeoutSeconds;
    transfer_.configure(t);
    index_ = 0;
    responses_ = 0;
    started_ = true;
    outcome_ = UploadOutcome{};
    outcome_.files = fileCount();
    nextFile();
}

void UploadRun::nextFile()
{
    if (closed_ || closing_) return;
    const int n = fileCount();
    if (stop_) index_ = n;
    if (index_ < n) {
        QString local;
        int i = index_;
        while (i < n && !findLocalFile(setup_.files[i].localPath, &local)) {
            notSent(QStringLiteral("not found on this computer: ") + setup_.files[i].localPath);
            ++i;
        }
        if (i >= n) {
            // Nothing left to send. A connection opened for earlier files is
            // still ended with CLOSE, so every run that talked to the server
            // ends the same way.
            index_ = n;
            if (puts_ > 0) finish();
            else closeProgram();
            return;
        }
        index_ = i + 1;
        if (onProgress) onProgress();
        if (onClearLog) onClearLog();
        log(QStringLiteral("Upload file: ") + setup_.files[i].localPath);
        ++puts_;
        transfer_.put(local, setup_.files[i].remoteName);
        return;
    }
    finish();
}

void UploadRun::finish()
{
    if (transfer_.stillExecuting()) {
        arm(*timerUploadEnd_, 1000);
        return;
    }
    closing_ = true;
    log(QString());
    log(QStringLiteral("Ending connection - CLOSE"));
    transfer_.close();
    log(stamp());
    arm(*timerEndOfSession_, 1000);
}

void UploadRun::stopKey()
{
    if (closed_) return;
    stop_ = true;
    index_ = fileCount();
    // Before the run has begun there is nothing to end with CLOSE.
    if (timerUploadStart_->isActive()) {
        timerUploadStart_->stop();
        closeProgram();
        return;
    }
    // While a command runs, its completion brings the next step.
    if (transfer_.stillExecuting()) return;
    timerEndOfCmd_->stop();
    nextFile();
}

bool UploadRun::requestClose()
{
    if (closed_) return true;
    if (transfer_.stillExecuting()) {
        arm(*timerEndOfSession_, 1000);
        return false;
    }
    closeProgram();
    return true;
}

void UploadRun::closeProgram()
{
    if (closed_) return;
    if (transfer_.stillExecuting()) {
        arm(*timerEndOfSession_, 1000);
        return;
    }
    timerUploadStart_->stop();
    timerEndOfCmd_->stop();
    timerUploadEnd_->stop();
    timerEndOfSession_->stop();
    if (onSaveWindow) onSaveWindow();
    saveOutcome();
    store_.save(kUploaderApp, QStringLiteral("Window"), QStringLiteral("Running"), QStringLiteral("0"));
    store_.sync();
    closed_ = true;
    if (onClosed) onClosed();
}

void UploadRun::stateChanged(int state)
{
    if (closed_) return;
    const QString info = transfer_.responseInfo();
    const QString n = QString::number(responses_);
    switch (state) {
    case 1: log(QStringLiteral("Looking for IP address")); break;
    case 2: log(QStringLiteral("IP address found")); break;
    case 3: log(QStringLiteral("Establishing connection")); break;
    case 4: log(QStringLiteral("Successfully Connected")); break;
    case 5: case 6: case 7: break;
    case 8:
        ++responses_;
        log(QStringLiteral("Successful response - %1 ").arg(responses_) + info);
        break;
    case 9: log(QStringLiteral("Disconnecting - ") + n + QLatin1Char(' ') + info); break;
    case 10: log(QStringLiteral("Successfully Disconnected - ") + n + QLatin1Char(' ') + info); break;
    case 11:
        if (transfer_.localFault() && !closing_) {
            // Only this file is lost; the others still go.
            log(QStringLiteral("IC error-%1-%2 ").arg(transfer_.errorNumber()).arg(transfer_.responseCode()) + info);
            log(QStringLiteral("File not sent: ") + setup_.files[index_ - 1].localPath);
            notSent(transfer_.failureReason());
            arm(*timerEndOfCmd_, 1000);
            break;
        }
        endOnError(QStringLiteral("IC error-%1-%2 ").arg(transfer_.errorNumber()).arg(transfer_.responseCode()) + info);
        break;
    case 12:
        log(QStringLiteral("Command complete - ") + n + QLatin1Char(' ') + info);
        if (!closing_) {
            ++outcome_.sent;
            arm(*timerEndOfCmd_, 1000);
        }
        break;
    default:
        endOnError(QStringLiteral("Unknown condition - ") + n + QLatin1Char(' ') + info);
        break;
    }
}

void UploadRun::endOnError(const QString& firstLine)
{
    log(firstLine);
    log(QString());
    log(stamp());
    index_ = fileCount();
    // After CLOSE itself failed there is nothing left but to close.
    if (closing_) return;
    const QString why = transfer_.failureReason();
    notSent(why.isEmpty() ? firstLine.trimmed() : why);
    nextFile();
}

void UploadRun::notSent(const QString& reason)
{
    if (outcome_.reason.isEmpty()) outcome_.reason = reason;
}

void UploadRun::saveOutcome()
{
    if (!started_) return;
    if (!outcome_.ok() && outcome_.reason.isEmpty() && stop_) outcome_.reason = QStringLiteral("stopped before the end");
    const QString section = QStringLiteral("LastRun");
    store_.save(kUploaderApp, section, QStringLiteral("Time"), clock_.now().toString(Qt::ISODate));
    store_.save(kUploaderApp, section, QStringLiteral("Ok"), outcome_.ok() ? QStringLiteral("1") : QStringLiteral("0"));
    store_.save(kUploaderApp, section, QStringLiteral("Files"), QString::number(outcome_.files));
    store_.save(kUploaderApp, section, QStringLiteral("Sent"), QString::number(outcome_.sent));
    store_.save(kUploaderApp, section, QStringLiteral("Message"), outcome_.message());
}

void UploadRun::log(const QString& line)
{
    if (onLog) onLog(line);
}

QString UploadRun::stamp() const
{
    return clock_.now().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

} // namespace skyvane
