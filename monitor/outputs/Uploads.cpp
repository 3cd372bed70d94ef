#include "Uploads.h"

#include "Colours.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <csignal>

namespace skyvane::outputs {

namespace {
const QString kSetup = QStringLiteral("Setup");

// The modification time, or an invalid time when it can not be read.
QDateTime modified(const QString& path)
{
    const QFileInfo fi(path);
    if (!fi.exists() || !fi.isFile()) return {};
    return fi.lastModified();
}

bool later(const QDateTime& mtime, const QDateTime& stamp)
{
    return mtime.isValid() && (!stamp.isValid() || mtime > stamp);
}
} // namespace

QJsonValue uploadRunJson(const UploadRunReport& r)
{
    if (!r.known) return QJsonValue(QJsonValue::Null);
    return QJsonObject{{QStringLiteral("time"), r.time.isValid() ? QJsonValue(r.time.toString(Qt::ISODate)) : QJsonValue()},
                       {QStringLiteral("ok"), r.ok},
                       {QStringLiteral("filesSent"), r.sent},
                       {QStringLiteral("files"), r.files},
                       {QStringLiteral("message"), r.message}};
}

QString uploadTlsText(UploadTls t)
{
    switch (t) {
    case UploadTls::Required: return QStringLiteral("required");
    case UploadTls::None: return QStringLiteral("none");
    case UploadTls::IfOffered: break;
    }
    return QStringLiteral("if offered");
}

QString uploadTlsItem(UploadTls t)
{
    switch (t) {
    case UploadTls::Required: return QStringLiteral("TLS required");
    case UploadTls::None: return QStringLiteral("no TLS");
    case UploadTls::IfOffered: break;
    }
    return QStringLiteral("TLS if offered");
}

qint64 UploadConfig::intervalMs() const
{
    static const int seconds[4] = {5, 10, 30, 60};
    return qint64(seconds[std::clamp(refreshUpload, 0, 3)]) * 1000;
}

namespace {
using UploadRow = SettingRow<Uploads>;
template <class F>
using UploadRef = SettingRef<Uploads, F>;

std::vector<UploadRow> buildUploadRows()
{
    using St = LoadStage;
    std::vector<UploadRow> rows;
    const auto text = [&rows](const char* key, QString UploadConfig::*field) {
        rows.push_back(rowText<Uploads>(St::Setup, kSetup, QLatin1String(key), QString(),
                                        [field](Uploads& u) -> QString& { return u.config().*field; }));
    };
    const auto number = [&rows](const char* key, const char* def, double UploadConfig::*field) {
        rows.push_back(rowNumber<Uploads>(St::Setup, kSetup, QLatin1String(key), QLatin1String(def),
                                          [field](Uploads& u) -> double& { return u.config().*field; }));
    };
    text("Server", &UploadConfig::server);
    text("ServerPath", &UploadConfig::serverPath);
    text("Username", &UploadConfig::username);
    text("Password", &UploadConfig::password);
    number("UploadOnSec", "15", &UploadConfig::uploadOnSec);
    number("TimeoutUPLOAD", "60", &UploadConfig::timeoutUpload);
    rows.push_back(rowInteger<Uploads>(St::Setup, kSetup, QStringLiteral("RefreshUpload"), 3, 0, 3,
                                       [](Uploads& u) -> int& { return u.config().refreshUpload; }));
    text("UploadDir", &UploadConfig::uploadDir);
    rows.push_back({St::Setup, kSetup, QStringLiteral("UploadTLS"), SettingKind::Integer, QStringLiteral("1"),
                    [](Uploads& u, const QString& v) {
                        bool ok = false;
                        const int i = v.trimmed().toInt(&ok);
                        u.config().tls = ok && i >= 0 && i <= 2 ? UploadTls(i) : UploadTls::IfOffered;
                    },
                    [](const Uploads& u) { return QString::number(int(u.config().tls)); }});
    text("UploadCAFile", &UploadConfig::caFile);
    // Stored as "file name only", the opposite of what the list keeps.
    rows.push_back({St::File, QStringLiteral("File"), QStringLiteral("DispFileNameOnly"), SettingKind::CheckBox,
                    setting_rows::checkText(false),
                    [](Uploads& u, const QString& v) { u.list().setDisplayFullName(!setting_rows::checkValue(v, false)); },
                    [](const Uploads& u) { return setting_rows::checkText(!u.list().DisplayFullName()); }});
    return rows;
}

std::vector<SettingListRow<Uploads>> buildUploadLists()
{
    // Time stamps are not stored: a loaded entry has never been handed over.
    SettingListRow<Uploads> files{
        LoadStage::Setup,
        kSetup,
        QStringLiteral("NoFiles"),
        {QStringLiteral("FileName"), QStringLiteral("FilePath"), QStringLiteral("FileUpload")},
        {SettingKind::Text, SettingKind::Text, SettingKind::Option},
        {QString(), QString(), QStringLiteral("False")},
        [](const Uploads& u) { return u.list().ListCount(); },
        [](Uploads& u, int n) {
            XOBFileList& l = u.list();
            l.Clear();
            for (int i = 0; i < n; ++i) l.Add(QString(), QString());
        },
        [](const Uploads& u, int i, int f) {
            const XOBFileList& l = u.list();
            return f == 0 ? l.ItemName(i + 1) : f == 1 ? l.ItemPath(i + 1) : setting_rows::optionText(l.ItemUploadOnce(i + 1));
        },
        [](Uploads& u, int i, int f, const QString& t) {
            XOBFileList& l = u.list();
            if (f == 0) l.setItemName(i + 1, t);
            else if (f == 1) l.setItemPath(i + 1, t);
            else l.setItemUploadOnce(i + 1, setting_rows::optionValue(t, false));
        }};
    return {files};
}
} // namespace

const std::vector<SettingRow<Uploads>>& uploadSettingRows()
{
    static const std::vector<SettingRow<Uploads>> rows = buildUploadRows();
    return rows;
}

const std::vector<SettingListRow<Uploads>>& uploadSettingLists()
{
    static const std::vector<SettingListRow<Uploads>> lists = buildUploadLists();
    return lists;
}

Uploads::Uploads(Clock& clock, SettingsStore& store, QObject* parent)
    : QObject(parent), clock_(clock), store_(store), lamp_(colour::Grey)
{
    timer_ = clock_.createTimer();
    timer_->setCallback([this] { tick(); });
}

Uploads::~Uploads()
{
    // Our uploader outlives us only to finish the file in hand: it is told
    // to stop, and the process object lets it go instead of killing it.
    if (process_ && process_->state() != QProcess::NotRunning) {
        ::kill(pid_t(process_->processId()), SIGUSR1);
        if (!process_->waitForFinished(3000)) {
            process_->setParent(nullptr);
            process_.clear();
        }
    }
}

QString Uploads::uploaderProgram() const
{
    if (!program_.isEmpty()) return program_;
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("XOB_Uploader"));
}

bool Uploads::timerActive() const { return timer_->isActive(); }
qint64 Uploads::timerInterval() const { return timer_->interval(); }

bool Uploads::uploaderRunning() const { return process_ && process_->state() != QProcess::NotRunning; }
qint64 Uploads::uploaderPid() const { return uploaderRunning() ? process_->processId() : 0; }

void Uploads::start()
{
    runsSinceStart_ = 0;
    armed_ = true;
    force_ = true;
    startUploader();
    timer_->setInterval(config_.intervalMs());
    timer_->start();
    emit changed();
}

void Uploads::stop()
{
    timer_->setInterval(0);
    timer_->stop();
    armed_ = false;
    locked_ = false;
    force_ = false;
    lamp_ = colour::Grey;
    if (uploaderRunning()) ::kill(pid_t(process_->processId()), SIGUSR1);
    emit changed();
}

void Uploads::tick()
{
    lamp_ = lamp_ == colour::Grey ? colour::Lime : colour::Grey;
    emit changed();
    if (ready() && armed_) startUploader();
}

bool Uploads::ready() const
{
    for (int i = 1; i <= list_.ListCount(); ++i) {
        const QDateTime m = modified(list_.ItemPathName(i));
        if (!m.isValid()) return false;
        if (!list_.ItemUploadOnce(i) && !later(m, list_.ItemDateTimeStamp(i))) return false;
    }
    return true;
}

void Uploads::startUploader()
{
    locked_ = true;
    emit changed();
    // Still running from the last launch: let it finish.
    if (uploaderRunning()) return;
    // The uploader keeps "Running" at "1" while it works; one that crashed
    // leaves it there. When the process we started is gone we know better
    // than that value; only without a process of ours to go by is it
    // believed (and then the first launch after a start goes anyway).
    store_.reload(kUploaderApplication);
    const bool saysRunning = store_.get(kUploaderApplication, QStringLiteral("Window"), QStringLiteral("Running"),
                                        QStringLiteral("0")) != QLatin1String("0");
    if (saysRunning && !force_ && !ownStarted_) return;
    if (!writeHandOver()) return;

    auto* p = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The uploader reads the same store we have just written.
    env.insert(QStringLiteral("SKYVANE_SETTINGS_DIR"), store_.root());
    p->setProcessEnvironment(env);
    p->setProgram(uploaderProgram());
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->setStandardOutputFile(QProcess::nullDevice());
    connect(p, &QProcess::finished, this, [this, p](int exitCode, QProcess::ExitStatus status) {
        p->deleteLater();
        readReport(exitCode, status == QProcess::CrashExit);
        emit uploaderFinished();
        emit changed();
    });
    p->start();
    if (!p->waitForStarted(5000)) {
        // Nothing to remember: the next tick tries again.
        p->deleteLater();
        return;
    }
    process_ = p;
    ownStarted_ = true;
    force_ = false;
    ++launches_;
    emit uploaderStarted();
    emit changed();
}

bool Uploads::writeHandOver()
{
    const QString& app = kUploaderApplication;
    store_.save(app, kSetup, QStringLiteral("Server"), config_.server);
    store_.save(app, kSetup, QStringLiteral("ServerPath"), config_.serverPath);
    store_.save(app, kSetup, QStringLiteral("Username"), config_.username);
    store_.save(app, kSetup, QStringLiteral("Password"), config_.password);
    store_.save(app, kSetup, QStringLiteral("TimeoutUPLOAD"), QString::number(config_.timeoutUpload));
    store_.save(app, kSetup, QStringLiteral("UploadDir"), config_.uploadDir);
    store_.save(app, kSetup, QStringLiteral("TLS"), uploadTlsText(config_.tls));
    store_.save(app, kSetup, QStringLiteral("CAFile"), config_.caFile);
    int n = 0;
    for (int i = 1; i <= list_.ListCount(); ++i) {
        const QString full = list_.ItemPathName(i);
        const QDateTime m = modified(full);
        if (list_.ItemUploadOnce(i) && !later(m, list_.ItemDateTimeStamp(i))) continue;
        ++n;
        store_.save(app, kSetup, QStringLiteral("File%1").arg(n), full);
        // Stamped when handed over, not when it arrives: a failed upload
        // of an upload-once file waits for its next change.
        if (m.isValid()) list_.setItemDateTimeStamp(i, m);
    }
    store_.save(app, kSetup, QStringLiteral("NoFiles"), QString::number(n));
    // The run writes its own report; one that is still empty afterwards
    // means the uploader died before it could.
    store_.save(app, QStringLiteral("LastRun"), QStringLiteral("Time"), QString());
    return store_.sync();
}

void Uploads::readReport(int exitCode, bool crashed)
{
    const QString& app = kUploaderApplication;
    const QString section = QStringLiteral("LastRun");
    store_.reload(app);
    const QString time = store_.get(app, section, QStringLiteral("Time"));
    UploadRunReport r;
    r.known = true;
    if (time.isEmpty() || crashed) {
        r.time = clock_.now();
        r.ok = false;
        r.message = crashed ? QStringLiteral("nothing known: the uploader crashed")
                            : QStringLiteral("nothing known: the uploader ended without a report (exit status %1)").arg(exitCode);
    } else {
        r.time = QDateTime::fromString(time, Qt::ISODate);
        r.ok = store_.get(app, section, QStringLiteral("Ok")) == QLatin1String("1") && exitCode == 0;
        r.files = store_.get(app, section, QStringLiteral("Files")).toInt();
        r.sent = store_.get(app, section, QStringLiteral("Sent")).toInt();
        r.message = store_.get(app, section, QStringLiteral("Message"));
    }
    lastRun_ = r;
    ++runsSinceStart_;
}

} // namespace skyvane::outputs
