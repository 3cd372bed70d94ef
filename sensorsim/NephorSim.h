#pragma once
// The sensor-server stand-in: publishes the class "XOB_Nephor.Nephor" with
// every member the monitor calls or forwards, the server's main window
// ("MForm") with its limit controls, and the control object "/Control" through
// which tests and demonstrations steer the simulation and ask what the
// monitor sent.

#include "AutomationServer.h"
#include "SensorModel.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

namespace skyvane::sensorsim {

inline constexpr const char* kProgId = "XOB_Nephor.Nephor";
inline constexpr const char* kControlPath = "/Control";
inline constexpr const char* kControlInterface = "XOB.NephorSim.Control";
inline constexpr const char* kFormPath = "/MForm";
inline constexpr const char* kFormInterface = "XOB_Nephor.MForm";
inline constexpr const char* kNumberBoxInterface = "XOB_Nephor.NumberBox";

struct Options {
    QString version = QStringLiteral("5.30.001");
    QString role = QStringLiteral("MASTER");
    int readyDelayMs = 1500; // -1: never ready
};

class NephorSim : public QObject {
    Q_OBJECT
public:
    NephorSim(const QDBusConnection& bus, const Options& options, QObject* parent = nullptr);
    ~NephorSim() override;

    // Registers every object and takes the bus name.
    bool start(QString* error = nullptr);
    // Runs the lines of a script file (see docs/sensor-standin.md).
    bool loadScript(const QString& path, QString* error = nullptr);
    // Runs one control command given as words, as a script line does.
    bool runCommand(const QStringList& words, QString* error = nullptr);

    // The classes, for the introspection document.
    static std::shared_ptr<automation::ClassSpec> nephorClass();
    static std::shared_ptr<automation::ClassSpec> formClass();
    static std::shared_ptr<automation::ClassSpec> numberBoxClass();
    static std::shared_ptr<automation::ClassSpec> controlClass();
    // Every interface the stand-in serves, as one document.
    static QString introspectionDocument();

    SensorModel& model() { return model_; }

private:
    automation::Reply nephor(automation::Call& call);
    automation::Reply form(automation::Call& call);
    automation::Reply numberBox(const QString& key, automation::Call& call);
    automation::Reply control(automation::Call& call);
    void reading();
    void deviceStart();
    void armReadingTimer();

    QDBusConnection bus_;
    Options options_;
    SensorModel model_;
    std::unique_ptr<automation::AutomationServer> server_;
    QTimer readTimer_;
    QTimer readyTimer_;

    // State the monitor sets and the tests ask about.
    bool running_ = false;
    bool ready_ = false;
    bool runningForced_ = false;
    bool xferError_ = false;
    bool switchCtrl_ = false;
    int switchCtrlCount_ = 0;
    bool localControl_ = false;
    QString localControlLabel_;
    QVariantList localControlCalls_;
    bool lastUnsafe_ = false;
    int unsafeCount_ = 0;
    double lastSwitch_ = 0.0;
    int switchCount_ = 0;
    int deviceStartCount_ = 0;
    int alarmStopCount_ = 0;
    double cloudTempSet_ = 0.0;
    QStringList callLog_;
    QHash<QString, double> formValues_; // "UnknowRainLT", "RainLimit_2", ...
};

} // namespace skyvane::sensorsim
