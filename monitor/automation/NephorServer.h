#pragma once
// The monitor's automation server: owns "XOB_Skyvane.Nephor" on the session
// bus and answers every member of the class from the monitor (MonitorApi and
// its conditions), or passes it on to the sensor server's object.
//
// Each instance a client creates counts one attached client
// (RegisterUsers(+1)); releasing it, or the client leaving the bus for any
// reason, uncounts it. Calls arrive on the monitor's thread between timer
// ticks, like the user's own actions.
//
// In the program:
//     nephor::NephorServer automation(core, QDBusConnection::sessionBus());
//     automation.setHooks(...);          // window, user data file, history
//     if (!automation.publish(&err)) ... // another monitor owns the name
//
// Client input is checked before anything happens: wrong signatures and
// unknown members are refused by the bus layer, texts longer than
// kMaxTextLength and out-of-range check-box or colour values with
// XOB.Automation.Error.BadArguments. A failing call to the sensor server is
// answered with XOB.Automation.Error.ServerError naming the sensor server, so
// that a client never takes it for a failure of the monitor itself.

#include "AutomationServer.h"
#include "NephorClass.h"
#include "NephorRules.h"

#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

namespace skyvane {
class MonitorApi;
}

namespace skyvane::nephor {

// Longest text a client may pass (sound paths, descriptions, labels, codes).
inline constexpr int kMaxTextLength = 4096;
// Forwarded calls get at most this long, so that a hung sensor server is
// reported to the client before the client's own call times out.
inline constexpr int kForwardTimeoutMs = 1000;

// The history ring of the graphs as clients read it.
struct HistoryView {
    qint32 first = 0; // slot of the oldest sample
    qint32 last = 0;  // slot of the newest sample
    // rows 0..7, each a QVariantList of slots 0..N
    QVariantList samples;
};

// What the class reaches outside the core: the window's widgets, the user
// data file and the history. Both programs, desktop and headless, install
// every one of them (class_page_program_test holds them to it); one left
// empty, in a server set up without a program, falls back to the default
// described.
struct NephorHooks {
    // Record_Start(append) and Record_Stop of the user data file. Without
    // them RecordStart and RecordStop answer that they are not available.
    // recordStart answers why it could not start ("": it records, or there
    // was nothing to do), so that a client is not told it records when the
    // file cannot be opened.
    std::function<QString(bool append)> recordStart;
    std::function<void()> recordStop;
    // WindowNormal: window state normal, then show; WindowMinimize: minimised.
    // Default: only the core's minimised state changes.
    std::function<void()> windowNormal;
    std::function<void()> windowMinimize;
    // Window position in twips; setting it moves the window. Default: a
    // position kept here.
    std::function<QPoint()> windowPosition;
    std::function<void(const QPoint&)> moveWindow;
    // The history ring. Without it the members that read it
    // (XOB_GraphArray, XOB_GraphArrayFirstElem/LastElem for graphs other
    // than 1..4) answer that they are not available.
    std::function<HistoryView()> history;
    // The graph-frequency field GraphFreq. Without it GraphFreq and
    // GetGraphFreq(iP <> 0) answer that they are not available.
    std::function<double()> graphFreq;
};

class NephorServer : public QObject {
    Q_OBJECT
public:
    NephorServer(MonitorApi& core, const QDBusConnection& bus, QObject* parent = nullptr);
    ~NephorServer() override;

    void setHooks(NephorHooks hooks);
    const NephorHooks& hooks() const { return hooks_; }

    // Registers the factory, /MForm and /IObjectSafety and takes the bus
    // name. Fails when another program owns the name.
    bool publish(QString* error = nullptr);
    bool isPublished() const;

    automation::AutomationServer& server() { return *server_; }
    int instanceCount() const;

    // The object-safety flags, true from program start.
    const SafetyFlags& safetyFlags() const { return safety_; }

    // Members without a handler (empty when the table and the handlers agree).
    QStringList unhandledMembers() const;

    // One call as a client's call arrives, after the bus layer checked it.
    automation::Reply invoke(automation::Call& call);

    // The unsafe flag as the class reports it (Safe is its negation).
    bool unsafeFlag() const;

private:
    using Reply = automation::Reply;
    using Call = automation::Call;

    void buildHandlers();
    void addForwardedSettings();
    void addLocalLevels();
    void addAlarmsAndMarks();
    void addValues();

    Reply checkInput(const Call& c) const;
    void signalActivity(bool showPeriod);

    // Calls on the sensor server's object. Each fails with a ServerError
    // naming the sensor server when there is no object or the call fails.
    // How a forwarded call's answer becomes the client's: the answer as a
    // reply (or the failure), the server's by-reference values, the client's
    // by-reference arguments to fill.
    using Then = std::function<Reply(Reply answer, const QVariantList& serverArgs, QVariantList& clientArgs)>;
    // Passes the call on to the sensor server without waiting for it: the
    // client's call is answered when the sensor server's answer comes (or
    // its short timeout passes), and the monitor serves others meanwhile.
    // For a let, the value is the last of args.
    Reply forward(Call& c, automation::MemberKind kind, const QString& member, QVariantList args, Then then = {});
    // The second write of five lets: a control of the sensor server's window.
    Reply writeSensorFormControl(const QString& control, std::optional<int> index, const QVariant& value);
    Reply sensorFormCall(const QString& member, QVariantList& args);
    automation::LateBoundObject* sensorObject() const;

    Reply setUnsafe(Call& c, bool unsafe);
    Reply deviceStart(Call& c);
    void clientGone(const QString& client);
    // Members whose hook is not installed (a server without a program).
    static Reply notAvailable(const Call& c);
    Reply dataDisplayed(const QString& info, const QString& ref) const;
    HistoryView history() const;
    double graphFreq() const;
    QPoint windowPosition() const;

    Reply form(Call& c) const;
    Reply objectSafety(Call& c) const;

    MonitorApi& core_;
    QDBusConnection bus_;
    std::unique_ptr<automation::AutomationServer> server_;
    automation::HandlerTable handlers_;
    NephorHooks hooks_;
    SafetyFlags safety_;
    QPoint position_{0, 0};
    bool objectsAdded_ = false;
    // The client (unique bus name) that took control with XOB_LocalControl.
    QString controlOwner_;
};

} // namespace skyvane::nephor
