#pragma once
// The monitor without its window: the Start and Stop procedures, the read
// cycle in its fixed order, the sensor link, the status and code lines and the
// public methods that client programs reach through the automation class.
// The main window draws `state()` and calls these methods for the user's
// actions; tests drive the same object headless with a FakeClock.

#include "Clock.h"
#include "ConditionSettings.h"
#include "GraphOutputs.h"
#include "Levels.h"
#include "MainPresenter.h"
#include "MainState.h"
#include "MonitorApi.h"
#include "MonitorConfig.h"
#include "OutputsConfig.h"
#include "SafetyMonitor.h"
#include "SensorSource.h"
#include "SettingsSchema.h"
#include "StationReader.h"
#include "Uploads.h"

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <memory>

namespace skyvane {

class SettingsStore;

// Folder helpers of the main window. A trailing separator is ignored.
bool dirExists(const QString& path);
bool makeDirPath(const QString& path);

class MonitorCore : public MonitorApi {
    Q_OBJECT
public:
    // player: where alarm sounds go; without one alarms are silent.
    // The sensor server is reached on sensorBus.
    MonitorCore(Clock& clock, SettingsStore& store, QDBusConnection sensorBus, QString programDir,
                conditions::SoundPlayer* player = nullptr, QObject* parent = nullptr);
    // The sensor data come from the source given (not null): tests run the
    // read cycle against a scripted one, without a bus.
    MonitorCore(Clock& clock, SettingsStore& store, std::unique_ptr<SensorSource> sensor, QString programDir,
                conditions::SoundPlayer* player = nullptr, QObject* parent = nullptr);
    ~MonitorCore() override;

    // Full access, for the program that owns the core and for tests; faces
    // use the MonitorApi.
    MainState& state() { return state_; }
    const MainState& state() const override { return state_; }
    MonitorConfig& config() { return config_; }
    const MonitorConfig& config() const override { return config_; }
    Clock& clock() const override { return clock_; }
    SettingsStore& store() const override { return store_; }
    SensorSource& sensor() { return *sensor_; }
    conditions::ConditionsConfig& conditionsConfig() { return cond_; }
    const conditions::ConditionsConfig& conditionsConfig() const override { return cond_; }
    conditions::ConditionBoard& board() { return board_; }
    const conditions::ConditionBoard& board() const override { return board_; }
    conditions::SafetyMonitor& safety() { return safety_; }
    const conditions::SafetyResult& safetyResult() const override { return safetyResult_; }
    const station::StationCycleResult& station() const override { return station_; }

    void setPrompter(Prompter p) override { prompter_ = std::move(p); }

    // Restores the settings (window load) and writes them back (unload).
    // Between the two, a change is written back within a second (at most
    // one write a second), so that a crash, a kill or a power cut does not
    // cost the night's changes.
    void load() override;
    void save() override;
    // Every setting, declared once. A module adds its own declarations here
    // before load() (see SettingsSchema.h).
    SettingsSchema& settingsSchema() override { return schema_; }
    void setBeforeSave(std::function<void()> fn) override { beforeSave_ = std::move(fn); }
    // Something the settings hold may have changed: schedule the check.
    void settingsTouched() override;

    // The graph and image boxes, one model for every view that shows them.
    // Images: index as stored (Wind, Gust, Dir, Hum, Dew, Temp). An image box
    // is usable only while its graph is drawn; unticking the graph unticks
    // it; ticking it with no image folder asks for the folder and leaves it
    // unticked. True when the box is ticked afterwards.
    bool graphImageUsable(int index) const override;
    bool setGraphImage(int index, bool on) override;
    void setGraphGenerate(outputs::GraphId g, bool on) override;
    void setGraphPipeline(outputs::GraphPipeline* pipeline) override { graphs_.setPipeline(pipeline); }

    // ---- Start and Stop -------------------------------------------------
    void startProcedure() override;
    void stopProcedure() override;
    bool isRunning() const override { return state_.running; }
    bool readTimerActive() const;
    qint64 readTimerInterval() const;

    // ---- status, code line, messages, lamps ------------------------------
    void showStatus(const QString& text, int colour) override;
    void showCodes(const QString& text, int colour);
    int showMessage(const QString& text, int flags, const QString& title) override;
    static void blinkLED(LampPair& pair, int colour);
    void refreshRunMenus();
    void setMinimized(bool minimized) override;
    bool minimized() const override { return minimized_; }

    // Close request (menu, tray, close box): false when refused because
    // clients are attached. Otherwise monitoring is stopped.
    bool requestClose() override;
    // The unload sequence after an accepted close.
    void unload() override;

    // ---- read cycle -----------------------------------------------------
    // One tick of the read timer. The cycle's steps run in their fixed
    // order; the sensor server's answers are awaited in the event loop, so
    // the cycle ends (cycleFinished) after this returns.
    void readCycle();
    // A start or a read cycle is under way.
    bool busy() const override { return starting_ || cycleBusy_; }
    bool isStarting() const { return starting_; }
    // Waiting for answers of the sensor server (a cycle in flight, or a start
    // between two answers); false while only the clock can move things on.
    bool awaitingSensor() const { return cycleBusy_ || (starting_ && sensor_->awaitingAnswer()); }
    // While the cycle waits to look at a station file again (the file was
    // caught being rewritten): the milliseconds of that wait, else 0.
    qint64 stationRetryInMs() const;
    // Milliseconds of the last complete cycle, from tick to end.
    qint64 lastCycleMs() const { return lastCycleMs_; }
    int cycleCount() const override { return cycles_; }
    bool dataReady() const override { return dataReady_; }
    bool unsafe() const { return unsafe_; }
    // The flag as clients and the sensor server may rely on it: unsafe while
    // monitoring is stopped, before the first cycle of a run has completed
    // and while the last completed cycle is older than two read intervals;
    // otherwise the evaluated (or client-set) flag.
    bool reportedUnsafe() const override;
    // What a program that opens a roof on our word is told: the flag is SAFE
    // and the data behind it are current (no sensor error, the station file
    // present and fresh when it is read). Stricter than the flag when the
    // user chose not to count stale data as unsafe; never more lenient.
    bool safeAndFresh() const override;
    // True while no current evaluation stands behind the flag (see above).
    bool evaluationStale() const override;
    // Why reportedUnsafe() is true, from the same evaluation that set the
    // flag: empty exactly when the flag is safe.
    std::vector<conditions::UnsafeReason> unsafeReasons() const override;
    QString unsafeReasonsText() const override;
    std::vector<conditions::UnsafeReason> notSafeReasons() const override;
    double switchValue() const override { return switchValue_; }
    const SensorReadings& readings() const override { return readings_; }
    bool sensorError() const override { return sensorError_; }
    int safeDelayRemaining() const override;
    bool sensorConnected() const override { return sensor_->isConnected(); }
    automation::LateBoundObject* sensorObject() override { return sensor_->object(); }

    // ---- public methods reached by client programs ----------------------
    void deviceStart() override;
    void deviceStop() override;
    void hasControl(bool flag, const QString& text) override;
    // A client that has control sets the flag itself (SetUnSafe): the flag,
    // its display and what the next cycles report follow it.
    void setUnsafeByClient(bool unsafe) override;
    bool hasControlFlag() const override { return hasControl_; }
    void setSwitch(int value) override;
    void registerUsers(int delta) override;
    int secondsSinceGoodData() const override;
    void clientCalled(int colour, bool showPeriod) override;
    void followSwitchRole() override;
    bool switchControl() const { return switchControl_; }
    QString compassPoint(int index) const;
    void setCompassPoint(int index, const QString& text);
    void setCloudAlarmDelay(qint32 seconds) override;
    void setSwitchRole(int role) override;
    void setReadPeriodItem(int item) override;

    // ---- record files (user data file, CCDAutopilot file) -----------------
    outputs::OutputsConfig& outputsConfig() { return outputs_; }
    const outputs::OutputsConfig& outputsConfig() const override { return outputs_; }
    bool recording() const override { return userData_.isRecording(); }
    const outputs::UserDataFile& userDataFile() const { return userData_; }
    // The user's "Start" of the Record frame: asks before appending to an
    // existing file; d13 when the file can not be opened.
    void recordStartByUser() override;
    // Record_Start for clients: asks nothing; nothing changes while recording.
    // A client's start: no question asked. Answers why the file could not
    // be opened (d13 shows meanwhile), or "".
    QString recordStart(bool append) override;
    // Record_Stop, and the user's "Stop".
    void recordStop() override;
    // What this cycle writes into the record files.
    outputs::OutputValues outputValues() const override;

    // The Emulator box writes its setting at once.
    void setEmulator(bool on) override;

    // ---- alarms ----------------------------------------------------------
    void alarmStart(const QString& sound) override;
    void alarmStop() override;
    QString alarmId() const;
    void setSuspendSoundAlarm(bool on) override;
    void chooseAlarmSound(const AlarmBoxId& box, const conditions::AlarmController::ChooserRun& run) override;

    // ---- units -----------------------------------------------------------
    // The option clicks of the unit groups (and the clients' unit members).
    void selectSpeedUnit(conditions::SpeedUnit unit) override;
    void selectTemperatureUnit(conditions::TemperatureUnit unit) override;
    // Something the user edits changed a threshold, mark or option: redraw.
    void conditionsEdited();

    // ---- edits of a settings group -------------------------------------
    void editConditions(const std::function<void(conditions::ConditionsConfig&)>& edit) override;
    void editConfig(const std::function<void(MonitorConfig&)>& edit) override;
    void editOutputs(const std::function<void(outputs::OutputsConfig&)>& edit) override;
    void editGraphs(const std::function<void(outputs::GraphOutputs&)>& edit) override;
    void editUploads(const std::function<void(outputs::Uploads&)>& edit) override;
    void editWindowLayout(const std::function<void(WindowLayout&)>& edit) override { edit(config_.window); }

    // The history and its graphs (sampled in the read cycle).
    outputs::GraphOutputs& graphs() { return graphs_; }
    const outputs::GraphOutputs& graphs() const override { return graphs_; }

    // The upload list, its timer and the uploader it starts, with the upload
    // settings (loaded and saved from here).
    outputs::Uploads& uploads() { return *uploads_; }
    const outputs::Uploads& uploads() const override { return *uploads_; }

    // Weather-station flags of the last cycle.
    bool stationFileAbsent() const { return station_.fileAbsent; }
    bool stationTooOld() const { return station_.tooOld; }

private:
    void enableSetupControls(bool on);
    void enableReadSettings(bool on);
    void connectSensor();
    void sensorConnected(const ConnectResult& r);
    void finishStart();
    void endStart(bool running);
    void finishCycle();
    void noteClockStep();
    void startReading();
    void stopReading();
    void releaseSensor();
    void readSensorValues(const SensorReadings& reading);
    void readStationThenSensor(int generation);
    // Reads the station file; not 0 when it is to be looked at again after
    // that many milliseconds, before anything of this cycle is used.
    qint64 stepReadStation();
    void applyStation();
    conditions::QuantityMap<QString> stationMissing() const;
    QString stepUnits();
    void stepConditions();
    void stepSafety();
    void stepShowUnsafe();
    void stepReportToSensor(int generation);
    void stepOutputs();
    void sampleGraphs();
    void stepRecordFiles();
    void notify() { emit changed(); }
    // Guards of the reported flag: what every Start resets, the time stamp of
    // a completed cycle and the watchdog that shows a stale flag as unsafe.
    void beginStartGuards();
    void endStartGuards();
    void markCycleCompleted();
    void checkStaleFlag();
    void showFlagUnsafe();
    void showConditionLabels();
    conditions::StationValues stationValuesForConditions() const;

    Clock& clock_;
    SettingsStore& store_;
    QString programDir_;
    // What the window shows, and the rules that turn events into it. The
    // read cycle still writes its value labels through state_.
    MainPresenter view_{[this] { notify(); }};
    MainState& state_ = view_.state();
    MonitorConfig config_;
    outputs::OutputsConfig outputs_;
    outputs::UserDataFile userData_;
    std::unique_ptr<SensorSource> sensor_;
    std::unique_ptr<conditions::SoundPlayer> ownPlayer_;
    conditions::ConditionsConfig cond_;
    conditions::ConditionBoard board_;
    conditions::SafetyMonitor safety_;
    conditions::SafetyResult safetyResult_;
    station::StationReader stationReader_;
    station::StationCycleResult station_;
    Prompter prompter_;
    std::unique_ptr<ClockTimer> readTimer_;
    std::unique_ptr<ClockTimer> staleWatch_;
    std::unique_ptr<ClockTimer> stationRetry_;
    int stationRetryGeneration_ = 0;
    std::optional<qint64> lastCycleDone_; // msClock() of the last completed read cycle of this run
    SettingsSchema schema_;
    std::unique_ptr<ClockTimer> saveTimer_;
    std::function<void()> beforeSave_;
    QMap<QString, QString> savedSettings_; // what the store holds, as of the last load or save
    bool saveFailing() const { return view_.hasStandingCode(QStringLiteral("s61")); }
    void setStandingCode(const QString& code, bool on);
    bool settingsLoaded_ = false;
    void saveIfChanged();
    void declareOutputKeys();
    std::unique_ptr<outputs::Uploads> uploads_;
    void declareUploadKeys();
    outputs::GraphOutputs graphs_;

    bool minimized_ = false;
    QDateTime startTime_;
    QString codeText_;
    bool dataReady_ = false;
    bool unsafe_ = false;
    double switchValue_ = 1;
    bool switchControl_ = false;
    bool hasControl_ = false;
    bool sensorError_ = false;
    SensorReadings readings_;
    int cycles_ = 0;
    bool master_ = false;
    bool stopping_ = false;
    bool starting_ = false;
    bool cycleBusy_ = false;
    bool endStartAfterCycle_ = false;
    int cycleGeneration_ = 0;
    qint64 cycleStarted_ = 0;
    // Wall time minus monotonic time at the last cycle: a change of more
    // than kClockStepMs is a step of the wall clock.
    std::optional<qint64> wallOffsetMs_;
    static constexpr qint64 kClockStepMs = 2000;
    qint64 lastCycleMs_ = 0;
};

} // namespace skyvane
