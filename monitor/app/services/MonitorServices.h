#pragma once
// What is attached to the monitor core in both the desktop and the headless
// program: the automation class for client programs, the image library and
// the graph pipeline, and the INDI feed files. One place, so that a service
// added later is attached once and runs in both modes. The HTTP server
// (Alpaca devices, status page) and the reasons object come with it.
//
// Order of use:
//   MonitorServices services(core);   // before core.load(): declares settings
//   core.load();
//   services.attach(bus, hooks, warn); // publish, load libraries, feeds on
//   ... event loop ...
//   services.detach();                 // before the core goes

#include "IndiFeed.h"
#include "NephorServer.h"

#include <QObject>
#include <functional>
#include <memory>

namespace skyvane {

class FreeImageLibrary;
class MonitorApi;
namespace outputs {
class GraphPipeline;
}

// The reasons given with the flag, on one line: the core's list of why the
// roof may not open (the decision's reasons, else the data not current).
QString flagReasons(const MonitorApi& core);

class MonitorServices : public QObject {
    Q_OBJECT
public:
    explicit MonitorServices(MonitorApi& core, QObject* parent = nullptr);
    ~MonitorServices() override;

    // warn: how a problem that needs the user is told (a message box on the
    // desktop, a log line headless).
    void attach(const QDBusConnection& bus, const nephor::NephorHooks& hooks,
                const std::function<void(const QString&)>& warn);
    // Before the core goes: the image being written is finished, the
    // library unloaded, and the feeds say the roof may not open.
    void detach();

    outputs::IndiFeedConfig& indiFeed() { return indi_; }
    nephor::NephorServer* automation() { return automation_.get(); }
    // Writes both feed files from the core's state (each when enabled).
    void writeIndiFeeds();

private:
    void runningChanged();

    MonitorApi& core_;
    outputs::IndiFeedConfig indi_;
    std::unique_ptr<nephor::NephorServer> automation_;
    std::unique_ptr<FreeImageLibrary> images_;
    std::unique_ptr<outputs::GraphPipeline> pipeline_;
    bool wasRunning_ = false;
    bool attached_ = false;
    QString lastFeedError_;
};

} // namespace skyvane
