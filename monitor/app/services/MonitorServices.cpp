#include "MonitorServices.h"

#include "FreeImageLibrary.h"
#include "GraphPipeline.h"
#include "HttpService.h"
#include "MonitorApi.h"
#include "ReasonsInterface.h"
#include "SettingsStore.h"

#include <QCoreApplication>

namespace skyvane {

QString flagReasons(const MonitorApi& core)
{
    if (!core.isRunning()) return QStringLiteral("monitoring stopped");
    // One line: the proxy driver shows it in a single text field.
    return conditions::reasonsText(core.notSafeReasons()).trimmed().replace(QLatin1Char('\n'), QStringLiteral("; "));
}

MonitorServices::MonitorServices(MonitorApi& core, QObject* parent) : QObject(parent), core_(core)
{
    core_.settingsSchema().add(outputs::indiFeedRows(), indi_);
    // The HTTP server (Alpaca devices, status page): its settings load with
    // the others, it listens once the event loop runs.
    http::attachHttpServer(core_, this);
}

MonitorServices::~MonitorServices() { detach(); }

void MonitorServices::attach(const QDBusConnection& bus, const nephor::NephorHooks& hooks,
                             const std::function<void(const QString&)>& warn)
{
    if (attached_) return;
    attached_ = true;
    // The automation class for client programs.
    automation_ = std::make_unique<nephor::NephorServer>(core_, bus);
    automation_->setHooks(hooks);
    QString error;
    if (!automation_->publish(&error))
        qWarning("XOB_Skyvane: the automation class is not available: %s", qPrintable(error));
    else if (!nephor::publishReasons(automation_->server(), core_, &error))
        qWarning("XOB_Skyvane: the reasons object is not available: %s", qPrintable(error));

    // Graph pictures and image files are made on worker threads; without the
    // library the pictures are still drawn and the images report i23 i24.
    const QString programDir = QCoreApplication::applicationDirPath();
    images_ = std::make_unique<FreeImageLibrary>();
    if (!images_->initialise(programDir) && warn)
        warn(QStringLiteral("FreeImage.dll file must be present in directory") + QLatin1Char('\n') + programDir);
    pipeline_ = std::make_unique<outputs::GraphPipeline>(images_.get());
    core_.setGraphPipeline(pipeline_.get());

    // The feeds follow every completed cycle, and say "closed" as soon as
    // monitoring stops: a stale "open ok" must not outlive the monitoring.
    connect(&core_, &MonitorApi::cycleFinished, this, &MonitorServices::writeIndiFeeds);
    connect(&core_, &MonitorApi::changed, this, &MonitorServices::runningChanged);
    wasRunning_ = core_.isRunning();
    writeIndiFeeds();
}

void MonitorServices::detach()
{
    if (!attached_) return;
    attached_ = false;
    disconnect(&core_, nullptr, this, nullptr);
    core_.setGraphPipeline(nullptr);
    pipeline_.reset();
    images_->deinitialise();
    // By now monitoring has stopped: the feeds say so.
    writeIndiFeeds();
    automation_.reset();
}

void MonitorServices::runningChanged()
{
    if (core_.isRunning() == wasRunning_) return;
    wasRunning_ = core_.isRunning();
    if (!wasRunning_) writeIndiFeeds();
}

void MonitorServices::writeIndiFeeds()
{
    const bool ok = core_.safeAndFresh();
    // Relative names live in the user data folder, or the settings folder
    // before one is chosen: never the working folder of a service.
    const QString folder = core_.config().pathName.trimmed().isEmpty() ? core_.store().root() : core_.config().pathName;
    QString error;
    auto write = [&](const QString& name, const QByteArray& data) {
        const QString path = outputs::indiFeedPath(folder, name);
        if (path.isEmpty()) return;
        QString e;
        if (!outputs::writeFileAtomically(path, data, &e)) error = path + QStringLiteral(": ") + e;
    };
    if (indi_.watcherEnabled) write(indi_.watcherFile, outputs::watcherRecord(core_.outputValues(), ok));
    if (indi_.safetyEnabled) write(indi_.safetyFile, outputs::safetyRecord(ok, flagReasons(core_)));
    // Told once per kind of failure, not every cycle.
    if (error != lastFeedError_ && !error.isEmpty()) qWarning("XOB_Skyvane: INDI feed not written: %s", qPrintable(error));
    lastFeedError_ = error;
}

} // namespace skyvane
