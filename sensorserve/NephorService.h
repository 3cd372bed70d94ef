#pragma once
// The sensor server's class on the bus: "XOB_Nephor.Nephor" with every member
// the monitor calls or forwards, and the server's main window ("MForm") with
// its limit controls. The answers come from a SensorBackend; what the monitor
// sent is recorded, for the programs that want to show or check it.
//
//     NephorService service(bus, backend);
//     service.prepare(&err);               // the objects, not yet the name
//     service.server()->addObject(...);    // further objects of the program
//     service.publish(&err);               // takes "XOB_Nephor.Nephor"

#include "AutomationServer.h"
#include "SensorBackend.h"

#include <QDBusConnection>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>

namespace skyvane::sensorserve {

inline constexpr const char* kProgId = "XOB_Nephor.Nephor";
inline constexpr const char* kFormPath = "/MForm";
inline constexpr const char* kFormInterface = "XOB_Nephor.MForm";
inline constexpr const char* kNumberBoxInterface = "XOB_Nephor.NumberBox";

// What the monitor (or any client) sent.
struct Received {
    bool switchCtrl = false;
    int switchCtrlCount = 0;
    bool localControl = false;
    QString localControlLabel;
    QVariantList localControlCalls; // each [flag, label]
    bool lastUnsafe = false;
    int unsafeCount = 0;
    double lastSwitch = 0.0;
    int switchCount = 0;
    int deviceStartCount = 0;
    int alarmStopCount = 0;
    double cloudTempSet = 0.0;
    QStringList callLog; // D-Bus member names, oldest first
};

class NephorService {
public:
    NephorService(const QDBusConnection& bus, SensorBackend& backend);
    ~NephorService();
    NephorService(const NephorService&) = delete;
    NephorService& operator=(const NephorService&) = delete;

    // Registers the class factory, the main window and its controls.
    bool prepare(QString* error = nullptr);
    // Takes the bus name; prepare() first.
    bool publish(QString* error = nullptr);
    automation::AutomationServer* server() { return server_.get(); }
    // How the program names itself in the error for a member it does not serve.
    void setServerName(const QString& name) { serverName_ = name; }

    const Received& received() const { return received_; }
    void clearCallLog() { received_.callLog.clear(); }

    // The classes, for the introspection document.
    static std::shared_ptr<automation::ClassSpec> nephorClass();
    static std::shared_ptr<automation::ClassSpec> formClass();
    static std::shared_ptr<automation::ClassSpec> numberBoxClass();
    // The document of every object served here, under the given comment,
    // with extra (the program's further nodes, indented by two) before its end.
    static QString introspectionDocument(const QString& comment, const QString& extra = {});

    // The setting behind a control of the main window ("UnknowRainLT",
    // "RainLimit_2", ...), empty for none.
    static QString settingOfControl(const QString& key);

private:
    automation::Reply nephor(automation::Call& call);
    automation::Reply form(automation::Call& call);
    automation::Reply numberBox(const QString& key, automation::Call& call);
    void log(const QString& member);

    QDBusConnection bus_;
    SensorBackend& backend_;
    std::unique_ptr<automation::AutomationServer> server_;
    Received received_;
    QString serverName_ = QStringLiteral("this sensor server");
};

} // namespace skyvane::sensorserve
