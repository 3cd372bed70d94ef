#include "UpdateRun.h"

#include "Clock.h"
#include "Format.h"
#include "HttpFetch.h"
#include "SettingsStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>

namespace skyvane::updater {

namespace {
const QString kApp = QStringLiteral("XOB_Skyvane");
const QString kWindow = QStringLiteral("Window");
const QString kSetup = QStringLiteral("Setup");
const QString kLastUpdateMsg = QStringLiteral("LastUpdateMsg");
} // namespace

QString failedMessage() { return QStringLiteral("Update failed.\nProgram was not updated!"); }
QString cancelledMessage() { return QStringLiteral("Last update cancelled.\nProgram was not updated!"); }
QString timedOutMessage() { return QStringLiteral("Last update timed-out.\nProgram was not updated!"); }

QString versionText()
{
    return QStringLiteral("v%1.%2.%3")
        .arg(SKYVANE_VERSION_MAJOR)
        .arg(SKYVANE_VERSION_MINOR, 2, 10, QLatin1Char('0'))
        .arg(SKYVANE_VERSION_REVISION, 3, 10, QLatin1Char('0'));
}

UpdateRun::UpdateRun(SettingsStore& store, Clock& clock, QString programDir, QObject* parent)
    : QObject(parent), store_(store), clock_(clock), dir_(std::move(programDir))
{
}

UpdateRun::~UpdateRun()
{
    cancel_ = true;
    if (worker_.joinable()) worker_.join();
}

void UpdateRun::readSettings()
{
    store_.reload(kApp);
    bool ok = false;
    const int s = store_.get(kApp, kSetup, QStringLiteral("UpdateTimeout"), QStringLiteral("30")).trimmed().toInt(&ok);
    timeoutMs_ = (ok && s >= 1 && s <= 600 ? s : 30) * 1000;
    caFile_ = store_.get(kApp, kSetup, QStringLiteral("UpdateCAFile")).trimmed();
}

QString UpdateRun::path(const QString& name) const { return QDir(dir_).filePath(name); }

bool UpdateRun::load()
{
    const QString file = path(QString::fromLatin1(kHandOverFile));
    QFile f(file);
    // Our own file is small; a huge one is not ours.
    if (!QFileInfo(file).isFile() || QFileInfo(file).size() > 1024 * 1024 || !f.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = f.readAll();
    f.close();
    QFile::remove(file);
    handOver_ = interpret(parseRecords(data));
    loaded_ = true;
    return true;
}

void UpdateRun::saveResult(const QString& text)
{
    store_.save(kApp, kWindow, kLastUpdateMsg, text);
    store_.sync();
}

void UpdateRun::saveOutcome(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok: break;
    case Outcome::Cancelled: saveResult(cancelledMessage()); break;
    case Outcome::TimedOut: saveResult(timedOutMessage()); break;
    case Outcome::Failed: saveResult(failedMessage()); break;
    }
}

QString UpdateRun::programToStart() const
{
    if (!startProgram_ || handOver_.program.isEmpty() || !isPlainFileName(handOver_.program)) return {};
    return path(handOver_.program);
}

void UpdateRun::startWorker(std::function<void()> fn)
{
    if (worker_.joinable()) worker_.join();
    worker_ = std::thread(std::move(fn));
}

void UpdateRun::run()
{
    // The failure stands unless the run completes.
    saveResult(failedMessage());
    if (!loaded_) {
        finish();
        return;
    }
    startProgram_ = true; // whatever happens now, the monitor comes back
    if (!handOver_.problem.isEmpty()) {
        emit message(handOver_.problem);
        emit message(QStringLiteral("Program was not updated!"));
        finish();
        return;
    }
    downloaded_ = 0;
    for (const FileRecord& f : handOver_.files)
        if (!f.target.isEmpty()) QFile::remove(path(f.backup));
    QFile::remove(path(QStringLiteral("XOB_Updater_exe.old")));
    next_ = 0;
    nextDownload();
}

void UpdateRun::cancel()
{
    cancel_ = true;
}

void UpdateRun::nextDownload()
{
    if (next_ >= handOver_.files.size()) {
        afterDownloads(Outcome::Ok);
        return;
    }
    if (cancel_) {
        emit message(QStringLiteral("Transfer cancelled"));
        saveOutcome(Outcome::Cancelled);
        afterDownloads(Outcome::Cancelled);
        return;
    }
    const FileRecord f = handOver_.files[next_];
    busy_ = true;
    emit busyChanged(true);
    emit message(QStringLiteral("Downloading ") + f.display);

    FetchRequest head;
    head.address = f.address;
    head.headOnly = true;
    head.timeoutMs = timeoutMs_;
    head.caFile = caFile_;
    FetchRequest get = head;
    get.headOnly = false;
    get.toFile = path(f.local);

    QPointer<UpdateRun> self(this);
    startWorker([this, self, head, get] {
        const auto post = [self](std::function<void(UpdateRun*)> fn) {
            QMetaObject::invokeMethod(
                self.data(), [self, fn] { if (self) fn(self.data()); }, Qt::QueuedConnection);
        };
        const auto outcomeOf = [](const FetchResult& r) {
            return r.cancelled ? Outcome::Cancelled : r.timedOut ? Outcome::TimedOut : Outcome::Failed;
        };
        const FetchResult h = fetch(head, &cancel_);
        if (!h.ok) {
            post([o = outcomeOf(h), e = h.error](UpdateRun* r) { r->downloadDone(o, e); });
            return;
        }
        const qint64 size = h.announced;
        post([size](UpdateRun* r) {
            r->emit message(QStringLiteral("File size = ") + format::number(double(size), QStringLiteral("0,000")) + QStringLiteral(" bytes"));
            r->emit progress(0, size);
            r->emit progressVisible(true);
        });
        const FetchResult g = fetch(get, &cancel_, [&](qint64 received, qint64) {
            post([received, size](UpdateRun* r) { r->emit progress(received, size); });
        });
        if (!g.ok) {
            post([o = outcomeOf(g), e = g.error](UpdateRun* r) { r->downloadDone(o, e); });
        } else if (g.received != size) {
            post([e = QStringLiteral("%1 bytes received, %2 announced before").arg(g.received).arg(size)](UpdateRun* r) {
                r->downloadDone(Outcome::Failed, e);
            });
        } else {
            post([](UpdateRun* r) { r->downloadDone(Outcome::Ok, QString()); });
        }
    });
}

void UpdateRun::downloadDone(Outcome outcome, QString error)
{
    busy_ = false;
    emit busyChanged(false);
    emit progressVisible(false);
    switch (outcome) {
    case Outcome::Ok:
        emit message(QStringLiteral("File saved in local PC"));
        ++downloaded_;
        ++next_;
        nextDownload();
        return;
    case Outcome::Cancelled:
        emit message(QStringLiteral("Transfer cancelled"));
        break;
    case Outcome::TimedOut:
        emit message(QStringLiteral("Communication Timeout"));
        emit message(QStringLiteral("Transfer cancelled"));
        break;
    case Outcome::Failed:
        emit message(QStringLiteral("Communication error with host"));
        if (!error.isEmpty()) emit message(error);
        break;
    }
    saveOutcome(outcome);
    // Let the user read the last lines before the window goes.
    clock_.waitProcessingEvents(2000);
    afterDownloads(outcome);
}

void UpdateRun::deleteDownloads()
{
    for (const FileRecord& f : handOver_.files) QFile::remove(path(f.local));
}

bool UpdateRun::isProgram(const FileRecord& f) const
{
    if (f.local.startsWith(QLatin1String("XOB_Updater_net"), Qt::CaseInsensitive)) return true;
    if (f.target.isEmpty()) return false;
    if (f.target.compare(handOver_.program, Qt::CaseInsensitive) == 0) return true;
    const QFileInfo old(path(f.target));
    return old.isFile() && old.isExecutable();
}

void UpdateRun::afterDownloads(Outcome outcome)
{
    if (outcome != Outcome::Ok) {
        deleteDownloads();
        finish();
        return;
    }
    if (cancel_) {
        afterVerify(Outcome::Cancelled, QString());
        return;
    }
    // Every program among the downloads must run and say its version before
    // anything is replaced: a file that does not is never installed. The
    // check polls, so that Cancel and the time limit hold while a program
    // takes its time.
    std::vector<QString> programs;
    for (const FileRecord& f : handOver_.files)
        if (isProgram(f)) programs.push_back(path(f.local));
    QPointer<UpdateRun> self(this);
    busy_ = true;
    const int waitMs = versionWaitMs_;
    startWorker([this, self, programs, waitMs] {
        Outcome outcome = Outcome::Ok;
        QString problem;
        for (const QString& p : programs) {
            const QString name = QFileInfo(p).fileName();
            QMetaObject::invokeMethod(
                self.data(), [self, name] { if (self) self->emit message(QStringLiteral("Checking ") + name); },
                Qt::QueuedConnection);
            QFile::setPermissions(p, QFile::permissions(p) | QFile::ExeOwner | QFile::ReadOwner | QFile::ExeGroup
                                         | QFile::ReadGroup | QFile::ExeOther | QFile::ReadOther);
            QProcess proc;
            proc.setProcessChannelMode(QProcess::SeparateChannels);
            const QDeadlineTimer deadline(waitMs);
            proc.start(p, {QStringLiteral("--version")});
            bool ok = proc.waitForStarted(waitMs);
            while (ok && !proc.waitForFinished(100)) {
                if (proc.state() == QProcess::NotRunning) break;
                if (cancel_) {
                    outcome = Outcome::Cancelled;
                    ok = false;
                } else if (deadline.hasExpired()) {
                    outcome = Outcome::TimedOut;
                    problem = QStringLiteral("The downloaded program %1 did not say its version within %2 s: not installed")
                                  .arg(name)
                                  .arg(waitMs / 1000.0);
                    ok = false;
                }
            }
            if (proc.state() != QProcess::NotRunning) {
                proc.kill();
                proc.waitForFinished(2000);
            }
            if (outcome != Outcome::Ok) break;
            const QByteArray out = proc.readAllStandardOutput().trimmed();
            if (!ok || proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0 || out.isEmpty()) {
                outcome = Outcome::Failed;
                problem = QStringLiteral("The downloaded program %1 does not run: not installed").arg(name);
                break;
            }
        }
        QMetaObject::invokeMethod(
            self.data(), [self, outcome, problem] { if (self) self->afterVerify(outcome, problem); },
            Qt::QueuedConnection);
    });
}

void UpdateRun::afterVerify(Outcome outcome, QString problem)
{
    busy_ = false;
    // A Cancel that came while the last program answered still counts.
    if (cancel_) outcome = Outcome::Cancelled;
    if (outcome != Outcome::Ok) {
        if (outcome == Outcome::Cancelled) emit message(QStringLiteral("Update cancelled"));
        else if (!problem.isEmpty()) emit message(problem);
        saveOutcome(outcome);
        deleteDownloads();
        finish();
        return;
    }
    installing_ = true;
    emit cancellableChanged(false);
    if (!install()) {
        saveResult(failedMessage());
        finish();
        return;
    }
    if (downloaded_ == int(handOver_.files.size())) saveResult(QString());
    finish();
}

bool UpdateRun::install()
{
    struct Done {
        QString local, target, backup;
        bool targetMoved = false;
        bool localMoved = false;
    };
    std::vector<Done> done;
    QString failure;
    for (const FileRecord& f : handOver_.files) {
        if (f.target.isEmpty()) continue;
        Done d{path(f.local), path(f.target), path(f.backup)};
        QFile::remove(d.backup);
        if (QFileInfo::exists(d.target) || QFileInfo(d.target).isSymLink()) {
            if (!QFile::rename(d.target, d.backup)) {
                failure = QStringLiteral("Cannot rename %1 to %2").arg(f.target, f.backup);
                done.push_back(d);
                break;
            }
            d.targetMoved = true;
        }
        if (!QFile::rename(d.local, d.target)) {
            failure = QStringLiteral("Cannot rename %1 to %2").arg(f.local, f.target);
            done.push_back(d);
            break;
        }
        d.localMoved = true;
        done.push_back(d);
    }
    if (failure.isEmpty()) {
        for (const FileRecord& f : handOver_.files)
            if (!f.target.isEmpty()) installed_ << f.target;
        return true;
    }
    // Put every old file back, newest step first.
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
        if (it->localMoved) QFile::rename(it->target, it->local);
        if (it->targetMoved) QFile::rename(it->backup, it->target);
    }
    deleteDownloads();
    emit message(failure);
    emit message(QStringLiteral("The old files were put back"));
    return false;
}

void UpdateRun::finish()
{
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) {
        // The worker has posted its last word; it is ending.
        worker_.join();
    }
    busy_ = false;
    finished_ = true;
    emit cancellableChanged(false);
    emit finished();
}

QString UpdateRun::rescue()
{
    if (!loaded_) return {};
    for (const FileRecord& f : handOver_.files) {
        if (f.target.isEmpty() || f.backup.isEmpty()) continue;
        const QString target = path(f.target);
        const QString backup = path(f.backup);
        if (!QFileInfo::exists(target) && QFileInfo::exists(backup)) QFile::rename(backup, target);
    }
    deleteDownloads();
    if (handOver_.program.isEmpty() || !isPlainFileName(handOver_.program)) return {};
    return path(handOver_.program);
}

} // namespace skyvane::updater
