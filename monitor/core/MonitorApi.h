#pragma once
// What the faces of the monitor (the automation class, the HTTP server, the
// INDI feeds, the widgets) and the programs see of its core: queries, and
// commands that do their own bookkeeping. A command that changes a setting
// schedules its save and tells every face (changed()); a face never edits
// the core's structures in place, never emits the core's signals and never
// includes the core's implementation header.
//
// Edits of a settings group go through editX(fn): fn changes the group, the
// core then redraws, saves and notifies as that group needs. Reads are const
// references that stay valid for the life of the core; their contents change
// only on the thread that runs the core, between two events.

#include "Alarms.h"
#include "Clock.h"
#include "ConditionSettings.h"
#include "GraphOutputs.h"
#include "Levels.h"
#include "MainState.h"
#include "MonitorConfig.h"
#include "OutputValues.h"
#include "OutputsConfig.h"
#include "Safety.h"
#include "SensorSource.h"
#include "SettingsSchema.h"
#include "StationReader.h"
#include "Uploads.h"

#include <QObject>
#include <functional>
#include <vector>

namespace skyvane {

class SettingsStore;
namespace automation {
class LateBoundObject;
}

// Answers of the message dialog.
enum MessageAnswer { AnswerOk = 1, AnswerCancel = 2, AnswerYes = 6, AnswerNo = 7 };
// Button sets of the message dialog.
enum MessageFlags { MessageOk = 0, MessageYesNoCancel = 3, MessageYesNo = 4 };

class MonitorApi : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~MonitorApi() override = default;

    // ---- life of the program ------------------------------------------
    // Restores the settings and writes them back (see MonitorCore).
    virtual void load() = 0;
    virtual void save() = 0;
    // Close request (menu, tray, close box): false when refused because
    // clients are attached. Otherwise monitoring is stopped.
    virtual bool requestClose() = 0;
    virtual void unload() = 0;
    // The dialog that asks the user: (text, flags, title) -> answer. Without
    // one every message answers OK.
    using Prompter = std::function<int(const QString& text, int flags, const QString& title)>;
    virtual void setPrompter(Prompter p) = 0;
    // Called before every save: the window copies what only its widgets hold
    // (its position, the selected tabs) into the configuration.
    virtual void setBeforeSave(std::function<void()> fn) = 0;
    // Where a module declares its own settings, before load().
    virtual SettingsSchema& settingsSchema() = 0;
    virtual SettingsStore& store() const = 0;
    virtual Clock& clock() const = 0;

    // ---- what the core holds -------------------------------------------
    virtual const MainState& state() const = 0;
    virtual const MonitorConfig& config() const = 0;
    virtual const conditions::ConditionsConfig& conditionsConfig() const = 0;
    virtual const outputs::OutputsConfig& outputsConfig() const = 0;
    virtual const conditions::ConditionBoard& board() const = 0;
    virtual const conditions::SafetyResult& safetyResult() const = 0;
    virtual const station::StationCycleResult& station() const = 0;
    virtual const SensorReadings& readings() const = 0;
    virtual const outputs::GraphOutputs& graphs() const = 0;
    virtual const outputs::Uploads& uploads() const = 0;

    virtual bool isRunning() const = 0;
    // A start or a read cycle is under way.
    virtual bool busy() const = 0;
    virtual bool dataReady() const = 0;
    virtual int cycleCount() const = 0;
    // The flag as clients may rely on it: unsafe while stopped, before the
    // first completed cycle of a run and while the last one is stale.
    virtual bool reportedUnsafe() const = 0;
    // SAFE and the data behind it current: what a roof opener is told.
    virtual bool safeAndFresh() const = 0;
    virtual bool evaluationStale() const = 0;
    // Why reportedUnsafe() is true: empty exactly when it is false.
    virtual std::vector<conditions::UnsafeReason> unsafeReasons() const = 0;
    virtual QString unsafeReasonsText() const = 0;
    // Why safeAndFresh() is false: the flag's reasons, else the data that
    // are not current. Empty exactly when safeAndFresh() is true. Every face
    // that says why the roof may not open formats this list.
    virtual std::vector<conditions::UnsafeReason> notSafeReasons() const = 0;
    virtual bool sensorError() const = 0;
    virtual int safeDelayRemaining() const = 0;
    virtual double switchValue() const = 0;
    virtual int secondsSinceGoodData() const = 0;
    virtual bool hasControlFlag() const = 0;
    virtual bool minimized() const = 0;
    virtual bool recording() const = 0;
    // What this cycle writes into the record files (and the feeds publish).
    virtual outputs::OutputValues outputValues() const = 0;
    // The sensor server as connected now, for members forwarded to it;
    // nullptr while there is none.
    virtual bool sensorConnected() const = 0;
    virtual automation::LateBoundObject* sensorObject() = 0;
    // An image box is usable only while its graph is drawn.
    virtual bool graphImageUsable(int index) const = 0;

    // ---- commands -----------------------------------------------------
    virtual void startProcedure() = 0;
    virtual void stopProcedure() = 0;
    // The public methods that client programs reach through the automation
    // class.
    virtual void deviceStart() = 0;
    virtual void deviceStop() = 0;
    virtual void hasControl(bool flag, const QString& text) = 0;
    virtual void setUnsafeByClient(bool unsafe) = 0;
    virtual void setSwitch(int value) = 0;
    virtual void registerUsers(int delta) = 0;
    // A client called: the client-activity lamp blinks in colour and the
    // call counter beside it counts; with showPeriod the seconds since the
    // last such call are shown.
    virtual void clientCalled(int colour, bool showPeriod) = 0;
    // Who drives the roof switch was set (config().swRole): the switch
    // control and its labels follow.
    virtual void followSwitchRole() = 0;
    virtual void setMinimized(bool minimized) = 0;
    virtual void showStatus(const QString& text, int colour) = 0;
    virtual int showMessage(const QString& text, int flags, const QString& title) = 0;

    virtual void alarmStart(const QString& sound) = 0;
    virtual void alarmStop() = 0;
    virtual void setSuspendSoundAlarm(bool on) = 0;
    // The sound of an alarm box chosen by the user (run shows the chooser;
    // see AlarmController::chooseAlarmSound).
    struct AlarmBoxId {
        enum Kind { Level, SensorData, StationData } kind = Level;
        conditions::Quantity quantity = conditions::Quantity::Cloud;
        int level = 0;
    };
    virtual void chooseAlarmSound(const AlarmBoxId& box, const conditions::AlarmController::ChooserRun& run) = 0;
    virtual void selectSpeedUnit(conditions::SpeedUnit unit) = 0;
    virtual void selectTemperatureUnit(conditions::TemperatureUnit unit) = 0;
    virtual void setCloudAlarmDelay(qint32 seconds) = 0;
    // Who drives the roof switch: 0 this program, 1 the sensor server.
    virtual void setSwitchRole(int role) = 0;
    // The read period's item (0..3), as RefreshRead offers them.
    virtual void setReadPeriodItem(int item) = 0;
    virtual void setEmulator(bool on) = 0;

    // Record files: the user's Start (asks before appending), a client's
    // start (asks nothing; answers why the file could not be opened, or ""),
    // and Stop.
    virtual void recordStartByUser() = 0;
    virtual QString recordStart(bool append) = 0;
    virtual void recordStop() = 0;

    // Graphs: true when the image box is ticked afterwards.
    virtual bool setGraphImage(int index, bool on) = 0;
    virtual void setGraphGenerate(outputs::GraphId g, bool on) = 0;
    // Where drawn graphs go to be written as images; nullptr for none.
    virtual void setGraphPipeline(outputs::GraphPipeline* pipeline) = 0;

    // Edits of one settings group; the core redraws, saves and notifies.
    virtual void editConditions(const std::function<void(conditions::ConditionsConfig&)>& edit) = 0;
    virtual void editConfig(const std::function<void(MonitorConfig&)>& edit) = 0;
    virtual void editOutputs(const std::function<void(outputs::OutputsConfig&)>& edit) = 0;
    virtual void editGraphs(const std::function<void(outputs::GraphOutputs&)>& edit) = 0;
    virtual void editUploads(const std::function<void(outputs::Uploads&)>& edit) = 0;
    // The window's own layout (position, selected tabs): kept for the next
    // save and shown nowhere, so no one is told. The window writes it from
    // the save's beforeSave call.
    virtual void editWindowLayout(const std::function<void(WindowLayout&)>& edit) = 0;
    // Something only a widget holds changed (a field typed into): the save
    // check runs soon, with the window's beforeSave copy.
    virtual void settingsTouched() = 0;

signals:
    void changed();
    // The start procedure has ended: monitoring runs, or it failed or was
    // stopped meanwhile.
    void startFinished(bool running);
    // A read cycle has run all its steps.
    void cycleFinished();
    // Sounds the system's error beep (the message dialog does this).
    void beep();
    // Something for the log that is shown nowhere else.
    void note(const QString& text);
};

} // namespace skyvane
