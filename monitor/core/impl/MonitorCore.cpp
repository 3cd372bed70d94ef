#include "MonitorCore.h"

#include "Format.h"
#include "SensorLink.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFileInfo>

namespace skyvane {

namespace {
QString stripTrailingSeparator(QString p)
{
    p = p.trimmed();
    while (p.size() > 1 && (p.endsWith(QLatin1Char('/')) || p.endsWith(QLatin1Char('\\')))) p.chop(1);
    return p;
}
} // namespace

bool dirExists(const QString& path)
{
    const QString p = stripTrailingSeparator(path);
    if (p.isEmpty()) return true;
    return QFileInfo(p).isDir();
}

bool makeDirPath(const QString& path)
{
    const QString p = stripTrailingSeparator(path);
    if (p.isEmpty()) return false;
    // mkpath creates the missing parents first, as the old recursive helper did
    return QDir().mkpath(p);
}

namespace {
// Alarms without a sound device.
class SilentPlayer final : public conditions::SoundPlayer {
public:
    bool play(const QString&, bool) override { return false; }
    bool isPlaying() const override { return false; }
    void stop() override {}
};

conditions::SoundPlayer& playerOr(conditions::SoundPlayer* p, std::unique_ptr<conditions::SoundPlayer>& own)
{
    if (p) return *p;
    own = std::make_unique<SilentPlayer>();
    return *own;
}

using conditions::Quantity;

// How often the window's flag is checked against the age of the last cycle.
constexpr qint64 kStaleWatchMs = 1000;
// A change reaches the disk within a second; a save that failed is tried
// again this often.
constexpr int kSaveDelayMs = 1000;
constexpr int kSaveRetryMs = 5000;
} // namespace

MonitorCore::MonitorCore(Clock& clock, SettingsStore& store, QDBusConnection sensorBus, QString programDir,
                         conditions::SoundPlayer* player, QObject* parent)
    : MonitorCore(clock, store, std::make_unique<SensorLink>(std::move(sensorBus), clock), std::move(programDir), player, parent)
{
}

MonitorCore::MonitorCore(Clock& clock, SettingsStore& store, std::unique_ptr<SensorSource> sensor, QString programDir,
                         conditions::SoundPlayer* player, QObject* parent)
    : MonitorApi(parent), clock_(clock), store_(store), programDir_(std::move(programDir)), sensor_(std::move(sensor)),
      cond_(conditions::ConditionsConfig::defaults()), safety_(clock, playerOr(player, ownPlayer_)), stationReader_(clock)
{
    connect(&safety_.alarms(), &conditions::AlarmController::changed, this, [this] {
        state_.alarmIcon = safety_.alarms().litIcon().value_or(-1);
        state_.stopAlarmVisible = safety_.alarms().stopButtonVisible();
        notify();
    });
    readTimer_ = clock_.createTimer();
    readTimer_->setCallback([this] { readCycle(); });
    stationRetry_ = clock_.createTimer();
    stationRetry_->setSingleShot(true);
    stationRetry_->setCallback([this] {
        if (cycleBusy_ && stationRetryGeneration_ == cycleGeneration_) readStationThenSensor(cycleGeneration_);
    });
    staleWatch_ = clock_.createTimer();
    staleWatch_->setInterval(kStaleWatchMs);
    staleWatch_->setCallback([this] { checkStaleFlag(); });
    schema_.add(monitorConfigRows(), config_);
    schema_.add(conditions::conditionSettingRows(), cond_);
    declareOutputKeys();
    uploads_ = std::make_unique<outputs::Uploads>(clock_, store_);
    declareUploadKeys();
    connect(uploads_.get(), &outputs::Uploads::changed, this, [this] {
        const int lamp = uploads_->lamp();
        // A run that left files unsent holds the lamp red until one succeeds.
        state_.ledUpload = !uploads_->armed()        ? LampPair{colour::Grey, colour::Grey}
                           : uploads_->lastRunFailed() ? LampPair{colour::Red, colour::Red}
                                                       : LampPair{lamp, lamp == colour::Grey ? colour::Lime : colour::Grey};
        notify();
    });
    connect(uploads_.get(), &outputs::Uploads::uploaderFinished, this, [this] {
        // The message line says what the last run left undone, and is
        // cleared by the next run that sends everything.
        const QString prefix = QStringLiteral("Upload: ");
        if (uploads_->lastRunFailed()) state_.lblStatus.text = prefix + uploads_->lastRun().message;
        else if (state_.lblStatus.text.startsWith(prefix)) state_.lblStatus.text.clear();
        notify();
    });
    saveTimer_ = clock_.createTimer();
    saveTimer_->setSingleShot(true);
    saveTimer_->setInterval(kSaveDelayMs);
    saveTimer_->setCallback([this] { saveIfChanged(); });
    // Dialogs, the window and clients all report their changes through
    // changed(); read cycles do too, and the check then finds nothing to write.
    connect(this, &MonitorCore::changed, this, &MonitorCore::settingsTouched);
    // Image codes stand while the files fail, instead of blinking once per
    // cycle between the station's codes and the images'.
    connect(&graphs_, &outputs::GraphOutputs::imageProblem, this, [this](const QString& codes) {
        const QStringList list = codes.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        setStandingCode(QStringLiteral("i23"), list.contains(QLatin1String("i23")));
        setStandingCode(QStringLiteral("i24"), list.contains(QLatin1String("i24")));
    });
    refreshRunMenus();
}

MonitorCore::~MonitorCore() = default;

void MonitorCore::load()
{
    config_.programDir = programDir_;
    cond_ = conditions::ConditionsConfig::defaults();
    schema_.load(store_);
    savedSettings_ = schema_.snapshot();
    settingsLoaded_ = true;
    safety_.evaluator().setCloudAlarmDelay(0);
    // A settings file that could not be used is no reason not to monitor:
    // the defaults are in place, and the user is told.
    const QStringList problems = store_.problemsBrief();
    if (!problems.isEmpty()) showStatus(problems.first(), colour::Red);
    // A damaged file was kept aside: s62 stays for this run, so that whoever
    // looks at the monitor in the morning still sees it.
    setStandingCode(QStringLiteral("s62"), store_.damaged(QString::fromLatin1(kAppName)));
    notify();
}

void MonitorCore::save()
{
    if (beforeSave_) beforeSave_();
    saveTimer_->stop();
    schema_.save(store_);
    const bool ok = store_.sync();
    if (ok) {
        savedSettings_ = schema_.snapshot();
        if (saveFailing()) showStatus(QStringLiteral("Settings saved again"), colour::Green);
        saveTimer_->setInterval(kSaveDelayMs);
    } else {
        // The file on disk is the old one, whole: the store never writes over
        // it in part. What is not saved stays pending and is tried again
        // every few seconds until it fits (a full disk, a folder made
        // read-only for a while).
        showStatus(QStringLiteral("Settings could not be saved"), colour::Red);
        saveTimer_->setInterval(kSaveRetryMs);
        saveTimer_->start();
    }
    setStandingCode(QStringLiteral("s61"), !ok);
}

namespace {
// The image boxes are kept with the window's settings, the graphs' own in
// their settings. Graph ids and the stored key order differ (Dew and Hum), so
// the two meet by the graph's key suffix.
int configIndex(outputs::GraphId g)
{
    static const auto& order = outputs::kImageSuffixes;
    for (int i = 0; i < GraphImageCount; ++i)
        if (outputs::graphSuffix(g) == QLatin1String(order[i])) return i;
    return 0;
}
} // namespace

bool MonitorCore::graphImageUsable(int index) const
{
    for (outputs::GraphId id : outputs::kAllGraphs)
        if (configIndex(id) == index) return graphs_.settings().generate[id];
    return false;
}

bool MonitorCore::setGraphImage(int index, bool on)
{
    if (index < 0 || index >= GraphImageCount) return false;
    if (on && !graphImageUsable(index)) on = false;
    if (on && config_.graphImagePath.trimmed().isEmpty()) {
        showMessage(QStringLiteral("Define the PATH"), MessageOk, QString());
        on = false;
    }
    config_.graphImage[size_t(index)] = on;
    notify();
    return on;
}

void MonitorCore::setGraphGenerate(outputs::GraphId g, bool on)
{
    graphs_.settings().generate[g] = on;
    if (!on) config_.graphImage[size_t(configIndex(g))] = false;
    notify();
}

void MonitorCore::declareOutputKeys()
{
    // The record files and the graphs declare their own keys; bound here to
    // the live objects, they load, save and are watched like every other key.
    schema_.add(outputs::outputSettingRows(programDir_), outputs_);
    schema_.add(outputs::graphSettingRows(), graphs_.settings());
}

void MonitorCore::declareUploadKeys()
{
    schema_.add(outputs::uploadSettingRows(), *uploads_);
    schema_.add(outputs::uploadSettingLists(), *uploads_);
}

void MonitorCore::settingsTouched()
{
    if (settingsLoaded_ && !saveTimer_->isActive()) saveTimer_->start();
}

void MonitorCore::saveIfChanged()
{
    if (beforeSave_) beforeSave_();
    if (saveFailing() || schema_.snapshot() != savedSettings_) save();
}

// ---- status, code line, messages ------------------------------------------

void MonitorCore::showStatus(const QString& text, int c) { view_.showStatus(text, c); }

void MonitorCore::showCodes(const QString& text, int c) { view_.showCodes(text, c); }

void MonitorCore::setStandingCode(const QString& code, bool on) { view_.setStandingCode(code, on); }

int MonitorCore::showMessage(const QString& text, int flags, const QString& title)
{
    const QString t = title.isEmpty() ? state_.caption : title;
    emit beep();
    if (!prompter_) return flags == MessageOk ? AnswerOk : AnswerYes;
    return prompter_(text, flags, t);
}

void MonitorCore::blinkLED(LampPair& pair, int c) { MainPresenter::blinkLED(pair, c); }

void MonitorCore::setMinimized(bool minimized)
{
    minimized_ = minimized;
    refreshRunMenus();
}

void MonitorCore::refreshRunMenus() { view_.showRunMenus(minimized_); }

void MonitorCore::enableSetupControls(bool on) { view_.enableSetupControls(on); }

void MonitorCore::enableReadSettings(bool on) { view_.enableReadSettings(on); }

// ---- Start and Stop -------------------------------------------------------

void MonitorCore::startProcedure()
{
    if (state_.running || stopping_ || starting_) {
        // A start under way reports when it ends.
        if (!starting_) emit startFinished(state_.running);
        return;
    }
    beginStartGuards();
    // The wait for the first sensor data runs in the event loop: the window
    // and the clients are served meanwhile, and Stop (or a client) may end
    // this start; it then ends quietly. Every way out ends in endStart(),
    // which reports the outcome (startFinished).
    starting_ = true;
    startTime_ = clock_.now();
    state_.safeDelayMsg.text.clear();
    state_.lblStatus.text.clear();
    state_.wsAlarmMsg.text.clear();
    state_.npAlarmMsg.text.clear();
    state_.ledUnsafe = colour::Grey;
    sensorError_ = false;
    safety_.start();
    unsafe_ = safety_.evaluator().reportedUnsafe();
    enableSetupControls(false);
    showStatus(QString(), colour::Navy);

    if (config_.readStation) {
        bool problem = false;
        codeText_.clear();
        if (config_.anyGraphImage()) {
            showStatus(QStringLiteral("Checking Image File Path : ") + config_.graphImagePath, colour::Green);
            if (!dirExists(config_.graphImagePath)) {
                problem = true;
                makeDirPath(config_.graphImagePath);
                codeText_ = dirExists(config_.graphImagePath) ? QStringLiteral("i21 ") : QStringLiteral("i22 ");
            }
        }
        showStatus(QStringLiteral("Checking Data File Path : ") + config_.pathName, colour::Green);
        if (!dirExists(config_.pathName)) {
            problem = true;
            makeDirPath(config_.pathName);
            codeText_ += dirExists(config_.pathName) ? QStringLiteral("d11") : QStringLiteral("d12");
        }
        if (problem) showCodes(codeText_, colour::Red);

        showStatus(QStringLiteral("Waiting for XOB_Nephor"), colour::Navy);
        connectSensor();
        return; // continues in sensorConnected()
    }
    finishStart();
}

void MonitorCore::connectSensor()
{
    sensor_->connect([this] { return config_.npTimeout; }, [this](const ConnectResult& r) { sensorConnected(r); });
}

void MonitorCore::sensorConnected(const ConnectResult& r)
{
    if (r.outcome == ConnectOutcome::Cancelled) {
        // Stop, Exit or unload during the wait: nothing more to say.
        if (starting_) endStart(false);
        return;
    }
    if (r.ok()) {
        master_ = r.master;
        if (r.master) {
            followSwitchRole();
            state_.alarmNpVisible = false;
            state_.timeoutAlarmLabel.text.clear();
        } else {
            state_.alarmNpVisible = true;
            state_.timeoutAlarmLabel.text = QStringLiteral("Timeout Alarm");
            config_.swRole = 1;
            switchControl_ = false;
            view_.showSwitchLabels(false);
        }
        notify();
        startReading();
        finishStart();
        return;
    }
    // The start has failed: the monitor is stopped before anybody is asked
    // anything, so that a later start (a client's) is not held up by a
    // message that waits for a person.
    showStatus(QStringLiteral("Problem with XOB_Nephor"), colour::Red);
    starting_ = false;
    stopProcedure();
    endStart(false);
    if (r.outcome == ConnectOutcome::VersionTooOld)
        showMessage(QStringLiteral("Version of XOB_Nephor must be equal or greater than 5.2x"), MessageOk, QString());
    showMessage(QStringLiteral("Cannot read XOB_Nephor"), MessageOk, QString());
}

void MonitorCore::finishStart()
{
    if (config_.upload) uploads_->start();
    if (!config_.readStation && !config_.upload) {
        starting_ = false;
        stopProcedure();
        endStart(false);
        return;
    }
    state_.running = true;
    refreshRunMenus();
    // The start ends with its first cycle, so that whoever asked for it (a
    // client's Device_Start) finds a decision made when it is told.
    if (cycleBusy_) {
        endStartAfterCycle_ = true;
        return;
    }
    endStart(true);
}

void MonitorCore::endStart(bool running)
{
    endStartAfterCycle_ = false;
    starting_ = false;
    notify();
    emit startFinished(running);
}

void MonitorCore::startReading()
{
    // The station step sees the file as changed on the first cycle, and
    // until a read of this run counts the station levels are Unknown.
    stationReader_.startReading();
    board_.forgetStationLevels();
    showStatus(QString(), colour::Navy);
    enableReadSettings(false);
    cycles_ = 0;
    readTimer_->setInterval(config_.readIntervalMs());
    readTimer_->start();
    readCycle();
}

void MonitorCore::stopReading()
{
    // A cycle still waiting for the sensor server is dropped: its answers
    // are not used any more.
    ++cycleGeneration_;
    cycleBusy_ = false;
    stationRetry_->stop();
    enableReadSettings(true);
    readTimer_->setInterval(0);
    readTimer_->stop();
    blinkLED(state_.ledRead, colour::Grey);
    notify();
}

void MonitorCore::releaseSensor() { sensor_->release(); }

void MonitorCore::stopProcedure()
{
    const bool abortStart = starting_;
    stopping_ = true;
    state_.stopEnabled = false;
    if (config_.readStation) {
        stopReading();
        releaseSensor();
    }
    // The uploader finishes the file in hand and ends; the settings are
    // free again at once.
    if (uploads_->armed()) uploads_->stop();
    enableSetupControls(true);
    state_.stopEnabled = true;
    alarmStop();
    state_.running = false;
    stopping_ = false;
    endStartGuards();
    refreshRunMenus();
    if (abortStart) {
        // A start waiting for the sensor server ends here.
        sensor_->release();
        if (starting_) endStart(false);
    }
}

bool MonitorCore::readTimerActive() const { return readTimer_->isActive(); }
qint64 MonitorCore::readTimerInterval() const { return readTimer_->interval(); }

bool MonitorCore::requestClose()
{
    if (state_.clients != 0) {
        showMessage(QStringLiteral("There are other users present - cannot UNLOAD"), MessageOk, QStringLiteral("Warning"));
        return false;
    }
    if (state_.running || starting_) stopProcedure();
    return true;
}

void MonitorCore::unload()
{
    if (starting_) stopProcedure();
    ++cycleGeneration_;
    cycleBusy_ = false;
    stationRetry_->stop();
    readTimer_->stop();
    recordStop();
    save();
    // The program is about to end: give the server a moment to take the
    // release in, since nothing is sent after this.
    sensor_->release(true);
}

// ---- read cycle -----------------------------------------------------------

void MonitorCore::noteClockStep()
{
    // The wall clock runs apart from the monotonic one only when it is set
    // (NTP after the network came back, a user); every delay runs on the
    // monotonic clock, so this is told once and decides nothing.
    const qint64 offset = clock_.now().toMSecsSinceEpoch() - clock_.msClock();
    if (wallOffsetMs_ && std::llabs(offset - *wallOffsetMs_) >= kClockStepMs) {
        const qint64 step = offset - *wallOffsetMs_;
        emit note(QStringLiteral("clock stepped by %1%2 s").arg(step > 0 ? QStringLiteral("+") : QString()).arg(double(step) / 1000.0, 0, 'f', 0));
    }
    wallOffsetMs_ = offset;
}

void MonitorCore::readCycle()
{
    // Ticks do not overlap: a tick that comes while the sensor server is
    // still answering the last cycle is skipped.
    if (cycleBusy_) return;
    cycleBusy_ = true;
    const int gen = ++cycleGeneration_;
    cycleStarted_ = clock_.msClock();
    noteClockStep();
    ++cycles_;
    dataReady_ = false;
    readStationThenSensor(gen);
}

void MonitorCore::readStationThenSensor(int gen)
{
    if (const qint64 retryMs = stepReadStation()) {
        // The station program was caught rewriting its file: look again in
        // a moment, with the event loop free meanwhile.
        stationRetryGeneration_ = gen;
        stationRetry_->setInterval(retryMs);
        stationRetry_->start();
        return;
    }
    const QString letter = stepUnits();
    // The server is told the letter when it differs, before its values are
    // taken, so this cycle's values are already in it.
    sensor_->read(letter, [this, gen](const SensorReadings& r) {
        if (gen != cycleGeneration_) return;
        readSensorValues(r);
        stepConditions();
        stepSafety();
        stepShowUnsafe();
        // The decision is current from here; the outputs of this cycle (the
        // imaging file's data age, clients) see it as such.
        markCycleCompleted();
        stepReportToSensor(gen);
    });
}

void MonitorCore::finishCycle()
{
    stepOutputs();
    const int lamp = station_.readLampColour == colour::Lime && !sensorError_ ? colour::Lime : colour::Yellow;
    blinkLED(state_.ledRead, lamp);
    cycleBusy_ = false;
    lastCycleMs_ = clock_.msClock() - cycleStarted_;
    notify();
    emit cycleFinished();
    if (endStartAfterCycle_) endStart(true);
}

qint64 MonitorCore::stationRetryInMs() const { return stationRetry_->isActive() ? stationRetry_->interval() : 0; }

qint64 MonitorCore::stepReadStation()
{
    station::StationSettings s;
    s.filePath = config_.htmFile;
    s.dayMonthOrder = config_.dateFormat == 0;
    for (int i = 1; i < conditions::CompassTable::kSize; ++i) s.compass[i] = cond_.compass.get(i);
    s.timeoutReadMinutes = config_.timeoutRead;
    s.humidityExclusions = cond_.units.excludedHumidityChars;
    s.alarmWsArmed = cond_.alarms.stationData.armed();
    s.alarmWsSound = cond_.alarms.stationData.sound();
    s.currentAlarmId = safety_.alarms().currentCode();
    station::StationCycleResult r = stationReader_.readCycle(s);
    if (r.retryInMs > 0) return r.retryInMs;
    station_ = std::move(r);
    applyStation();
    return 0;
}

void MonitorCore::applyStation()
{
    const station::StationCycleResult& r = station_;

    for (int i = 0; i < kStationLabels; ++i) {
        state_.wsDesc[i] = r.captions[i];
        state_.wsValue[i] = r.texts[i];
    }
    if (!r.status.isEmpty()) showStatus(r.status, int(r.statusColour));
    showCodes(r.codes, colour::Red);
    state_.wsAlarmMsg.text = r.alarmMessage;
    // The weather-station alarm "10": started once per problem period.
    if (r.alarm == station::StationAlarmAction::Start) {
        // Only too-old data stop the sensor server's own alarm first; a
        // missing file does not.
        if (safety_.alarms().stationDataCheck(true, cond_.alarms) && r.stopSensorServerAlarm) sensor_->alarmStop();
    } else if (r.alarm == station::StationAlarmAction::Stop) {
        safety_.alarms().stationDataCheck(false, cond_.alarms);
    }

    // PublishStationData: the station part of the current-values panel.
    for (auto& n : state_.stationNames) n.colour = int(r.panelNameColour);
    state_.valWind.text = r.panel.windSpeed;
    state_.valGust.text = r.panel.gust;
    state_.valDirection.text = r.panel.direction;
    state_.valDewPoint.text = r.panel.dewPoint;
    state_.valHumidity.text = r.panel.humidity;
    if (!r.valid) state_.valTemperature.text.clear();
}

QString MonitorCore::stepUnits()
{
    // The station file's unit texts choose the displayed units; thresholds
    // follow. The sensor server is told the temperature letter.
    const conditions::StationUnitResult u = conditions::followStationUnits(
        cond_.units, cond_.levels, state_.wsValue[station::FieldTempUnit], state_.wsValue[station::FieldSpeedUnit], &graphs_.history());
    return u.temperatureLetter;
}

void MonitorCore::readSensorValues(const SensorReadings& reading)
{
    sensorError_ = false;
    state_.npAlarmMsg.text.clear();
    for (auto& n : state_.sensorNames) n.colour = colour::Cyan;

    readings_ = reading;
    const SensorReadings& r = readings_;
    // Levels count only from a reading the sensor holds now: a stopped
    // device or a failed transfer still hands out its last ones, which must
    // not decide tonight's sky (0: unknown, as for a server that is silent).
    if (r.good()) board_.storeSensorLevels(r.cloud, r.rain, r.brightness);
    else board_.storeSensorLevels(0, 0, 0);
    if (r.complete) {
        state_.valCloud.text = format::number(r.skyTemperature, QStringLiteral("0.0"));
        state_.valRain.text = format::number(r.rainValue, QStringLiteral("0"));
        state_.valBrightness.text = format::number(r.brightnessValue, QStringLiteral("0"));
    }
    // The outside temperature comes from the station file.
    // The time of the station data shows whenever there are some, with or
    // without a temperature among them.
    if (station_.valid)
        state_.stationTime = {station_.texts[station::FieldDate] + QLatin1Char(' ') + station_.texts[station::FieldTime],
                              colour::Green, true};
    if (station_.valid && station_.values.outTemp.ok) {
        state_.valTemperature.text = format::number(station_.values.outTemp.value, QStringLiteral("0.0"));
        board_.classifyTemperature(station_.values.outTemp.value, cond_.levels);
    } else {
        board_.classifyTemperature(std::nullopt, cond_.levels);
        // A file that was read but whose temperature could not be: the old
        // value must not stand as this reading's.
        if (station_.valid) state_.valTemperature.text.clear();
    }
    if (r.complete) {
        const QString pattern = config_.dateFormat == 0 ? QStringLiteral("dd/mm hh:mm:ss") : QStringLiteral("mm/dd hh:mm:ss");
        const QString last = format::dateTime(r.lastReading, pattern);
        state_.lastReading = {last, colour::Green, true};
        state_.lastReadingPanel = {last, colour::Green, true};
    }

    if (!r.good()) {
        showStatus(QStringLiteral("Error with XOB_Nephor"), colour::Red);
        sensorError_ = true;
        state_.npAlarmMsg.text = QStringLiteral("NP error");
        if (safety_.alarms().sensorDataCheck(true, cond_.alarms)) sensor_->alarmStop();
        showCodes(QStringLiteral("a31"), colour::Red);
        for (auto& n : state_.sensorNames) n.colour = colour::Red;
        state_.valCloud.text.clear();
        state_.valRain.text.clear();
        state_.valBrightness.text.clear();
        board_.blankSensorConditions();
        if (master_) state_.valSwitch.text.clear();
    } else {
        safety_.alarms().sensorDataCheck(false, cond_.alarms);
        if (state_.codes.text == QLatin1String("a31")) showCodes(QString(), colour::Red);
        // A good read after an error clears the error text it left.
        if (state_.status.text == QLatin1String("Error with XOB_Nephor")) showStatus(QString(), colour::Navy);
    }
}

conditions::StationValues MonitorCore::stationValuesForConditions() const
{
    conditions::StationValues v;
    const station::StationCycleResult& r = station_;
    v.available = r.valid;
    auto opt = [](const station::Reading& x) { return x.ok ? std::optional<double>(x.value) : std::nullopt; };
    v.windSpeed = opt(r.values.windSpeed);
    v.gust = opt(r.values.gust);
    v.humidity = opt(r.values.humidity);
    v.temperature = opt(r.values.outTemp);
    // Both halves of the dew-point spread come from this cycle's reading;
    // the temperature label may still show an earlier one.
    v.temperatureCaption = r.values.outTemp.ok ? r.panel.temperature : QString();
    v.dewPointCaption = r.values.dewPoint.ok ? r.texts[station::FieldDewPoint] : QString();
    return v;
}

conditions::QuantityMap<QString> MonitorCore::stationMissing() const
{
    // Why a station quantity has no value this cycle, for the reasons.
    conditions::QuantityMap<QString> why;
    const station::StationValues& v = station_.values;
    auto text = [this](const station::Reading& x) {
        return station::missingText(station_.valid ? x.missing : station::Missing::NoData);
    };
    why[Quantity::Wind] = text(v.windSpeed);
    why[Quantity::Gust] = text(v.gust);
    why[Quantity::Temperature] = text(v.outTemp);
    why[Quantity::Humidity] = text(v.humidity);
    // The spread needs both values of one reading: say which one is not there.
    if (station_.valid && !v.outTemp.ok) why[Quantity::DewPoint] = QStringLiteral("temperature ") + text(v.outTemp);
    else if (station_.valid && !v.dewPoint.ok) why[Quantity::DewPoint] = QStringLiteral("dew point ") + text(v.dewPoint);
    else why[Quantity::DewPoint] = text(v.dewPoint);
    return why;
}

void MonitorCore::stepConditions()
{
    // Cloud, rain and brightness are named by the sensor server; read the
    // names only when its data are good (the labels keep still otherwise).
    conditions::SensorLevelNames names;
    if (!sensorError_) {
        names.cloud = readings_.levelNames(SensorReadings::CloudNames);
        names.rain = readings_.levelNames(SensorReadings::RainNames);
        names.brightness = readings_.levelNames(SensorReadings::BrightnessNames);
    }
    board_.showSensorConditions(sensorError_, names);
    board_.classifyStation(stationValuesForConditions(), cond_.levels);
}

void MonitorCore::stepSafety()
{
    conditions::SafetyInputs in;
    in.levels = board_.levels();
    if (station_.valid && station_.values.windDirection.ok) in.windDirection = station_.values.windDirection.value;
    in.stationTooOld = station_.tooOld || station_.fileAbsent;
    in.sensorError = sensorError_;
    const conditions::StationValues sv = stationValuesForConditions();
    in.values[Quantity::Wind] = sv.windSpeed;
    in.values[Quantity::Gust] = sv.gust;
    in.values[Quantity::Humidity] = sv.humidity;
    in.values[Quantity::Temperature] = sv.temperature;
    if (station_.valid && station_.values.dewPoint.ok) in.values[Quantity::DewPoint] = station_.values.dewPoint.value;
    if (!sensorError_) {
        in.values[Quantity::Cloud] = readings_.skyTemperature;
        in.values[Quantity::Rain] = readings_.rainValue;
        in.values[Quantity::Brightness] = readings_.brightnessValue;
    }
    if (!station_.fileAbsent && station_.dataTime.isValid())
        in.stationAgeSeconds = double(station_.dataTime.secsTo(clock_.now()));
    in.missing = stationMissing();
    safetyResult_ = safety_.evaluateSafety(in, cond_.safety, cond_.alarms, hasControl_);
    unsafe_ = safetyResult_.reportedUnsafe;
    showConditionLabels();
}

void MonitorCore::showConditionLabels()
{
    for (Quantity q : conditions::kAllQuantities) {
        LabelState& l = state_.cond[size_t(q)];
        l.text = board_.labelText(q);
        l.colour = safetyResult_.labelColour[q];
    }
}

void MonitorCore::stepShowUnsafe()
{
    state_.safeDelayMsg.text = safetyResult_.safeDelayMessage;
    view_.showFlag(safetyResult_.flag);
}

void MonitorCore::stepReportToSensor(int gen)
{
    std::optional<double> sendSwitch;
    if (switchControl_) {
        switchValue_ = safetyResult_.switchCmd.value;
        sendSwitch = switchValue_;
        state_.valSwitch = {switchValue_ == 2 ? QStringLiteral("Closed") : QStringLiteral("Opened"),
                            switchValue_ == 2 ? colour::Red : colour::Green, state_.valSwitch.visible};
    }
    sensor_->report(safetyResult_.setUnSafe, sendSwitch, [this, gen](const SensorReport& rep) {
        if (gen != cycleGeneration_) return;
        if (!switchControl_) switchValue_ = rep.switchStatus.value_or(0);
        dataReady_ = rep.dataReady.value_or(false);
        finishCycle();
    });
}

void MonitorCore::stepOutputs()
{
    // The CCDAutopilot file and the user data file, then the graph sample.
    stepRecordFiles();
    sampleGraphs();
}

void MonitorCore::sampleGraphs()
{
    // Every graph period: one history sample of the station values in display
    // units, stamped with the sensor server's reading time; the pictures and
    // image files are made off this thread.
    using namespace outputs;
    HistorySample s;
    if (readings_.lastReading.isValid()) s.timeMs = readings_.lastReading.toMSecsSinceEpoch();
    const station::StationValues& v = station_.values;
    auto value = [&](const station::Reading& r) { return station_.valid && r.ok ? r.value : kNoValue; };
    s.row(RowWind) = value(v.windSpeed);
    s.row(RowGust) = value(v.gust);
    s.row(RowDir) = value(v.windDirection);
    s.row(RowDew) = station_.valid && v.outTemp.ok && v.dewPoint.ok ? v.outTemp.value - v.dewPoint.value : kNoValue;
    s.row(RowHum) = value(v.humidity);
    s.row(RowTemp) = value(v.outTemp);
    GraphCycleContext ctx;
    ctx.levels = &cond_.levels;
    ctx.readIntervalSeconds = int(config_.readIntervalMs() / 1000);
    ctx.imageFolder = config_.graphImagePath;
    const auto& boxes = outputs::kImageOfGraph;
    for (GraphId g : kAllGraphs) ctx.imageBoxes[g] = config_.graphImage[boxes[g]];
    graphs_.cycle(s, ctx);
}

// ---- record files -----------------------------------------------------------

outputs::OutputValues MonitorCore::outputValues() const
{
    using conditions::Quantity;
    outputs::OutputValues v;
    v.now = clock_.now();
    const SensorReadings& r = readings_;
    v.lastReading = r.lastReading;
    if (r.complete && !sensorError_) {
        v.skyTemperature = r.skyTemperature;
        v.rainValue = r.rainValue;
        v.brightnessValue = r.brightnessValue;
        v.skySensorTemperature = r.skySensorTemperature;
        v.rainHeaterPercent = r.rainHeaterPercent;
        v.rainHeaterTemperature = r.rainHeaterTemperature;
        v.rainHeaterStatus = r.rainHeaterStatus;
    }
    v.switchStatus = switchValue_;
    // the weather-station values as the window shows them: none when the
    // station data are not valid
    auto shown = [this](const station::Reading& x) { return station_.valid && x.ok ? x.value : outputs::kMissing; };
    const station::StationValues& sv = station_.values;
    v.windSpeed = shown(sv.windSpeed);
    v.gust = shown(sv.gust);
    v.windDirection = shown(sv.windDirection);
    v.outTemperature = shown(sv.outTemp);
    v.dewPoint = shown(sv.dewPoint);
    v.humidity = shown(sv.humidity);
    v.temperatureLetter = conditions::unitCode(cond_.units.temperature);
    v.speedLetter = conditions::unitCode(cond_.units.speed);

    const Quantity order[outputs::OutputLevelCount] = {Quantity::Cloud, Quantity::Rain, Quantity::Wind,
                                                       Quantity::Gust, Quantity::Temperature, Quantity::DewPoint,
                                                       Quantity::Humidity, Quantity::Brightness};
    for (int i = 0; i < outputs::OutputLevelCount; ++i) {
        const Quantity q = order[i];
        const int level = conditions::toInt(board_.level(q));
        conditions::PerLevel<QString> names;
        if (conditions::isSuppliedBySensor(q)) {
            // the sensor server names its own levels
            names = r.levelNames(q == Quantity::Cloud  ? SensorReadings::CloudNames
                                 : q == Quantity::Rain ? SensorReadings::RainNames
                                                       : SensorReadings::BrightnessNames);
        } else {
            names = cond_.levels.descriptions(q);
        }
        v.levels[size_t(i)] = level;
        v.levelTexts[size_t(i)] = conditions::levelDescription(qint64(level), names);
    }
    v.unsafe = unsafe_;
    v.secondsSinceGoodData = secondsSinceGoodData();
    return v;
}

void MonitorCore::stepRecordFiles()
{
    const outputs::OutputValues v = outputValues();
    // The CCDAutopilot file, every cycle; a blank name switches it off. A
    // folder that was never set is the program's, never the working folder.
    if (outputs::ccdFileEnabled(outputs_.fileNameCcdap4)) {
        const QString folder = outputs_.pathNameCcdap4.trimmed().isEmpty() ? programDir_ : outputs_.pathNameCcdap4;
        if (!outputs::writeCcdRecord(outputs::ccdFullName(folder, outputs_.fileNameCcdap4), outputs::ccdRecord(v)))
            showCodes(QStringLiteral("c51"), colour::Red);
    }
    // The user data file, on its own save period. A line that could not be
    // written (a full disk) is lost whole, never left cut: d13 says so until
    // a line is written again.
    if (userData_.cycle(outputs_.columns, outputs_.freqSave, v) || !userData_.lastWriteOk()) {
        if (!userData_.lastWriteOk())
            showStatus(QStringLiteral("User data line not written: ") + userData_.errorString(), colour::Red);
        setStandingCode(QStringLiteral("d13"), !userData_.lastWriteOk());
    }
}

void MonitorCore::recordStartByUser()
{
    // "Start" clicked again while recording is not a new start
    if (userData_.isRecording()) return;
    auto ask = [this] {
        switch (showMessage(QStringLiteral("Append to existing file"), MessageYesNoCancel, QString())) {
        case AnswerYes: return outputs::AppendAnswer::Yes;
        case AnswerNo: return outputs::AppendAnswer::No;
        default: return outputs::AppendAnswer::Cancel;
        }
    };
    switch (outputs::startByUser(userData_, config_.pathName, outputs_.fileName, outputs_.columns, ask)) {
    case outputs::StartOutcome::NoFolder:
        showMessage(QStringLiteral("Define the PATH for User Data File"), MessageOk, QString());
        break;
    case outputs::StartOutcome::OpenFailed:
        showCodes(QStringLiteral("d13"), colour::Red);
        break;
    default:
        break;
    }
    notify();
}

QString MonitorCore::recordStart(bool append)
{
    if (userData_.isRecording() || outputs_.fileName.trimmed().isEmpty()) return {};
    const QString path = outputs::UserDataFile::fullName(config_.pathName, outputs_.fileName);
    QString why;
    if (!userData_.open(path, append, outputs_.columns)) {
        // As when the user starts it: the code line says so.
        showCodes(QStringLiteral("d13"), colour::Red);
        why = QStringLiteral("the user data file %1 cannot be opened").arg(QDir::toNativeSeparators(path));
    }
    notify();
    return why;
}

void MonitorCore::recordStop()
{
    userData_.close();
    setStandingCode(QStringLiteral("d13"), false);
    notify();
}

// ---- public methods for client programs ------------------------------------

void MonitorCore::deviceStart()
{
    if (!state_.running) {
        startProcedure();
        state_.stopVisible = false;
        notify();
    }
}

void MonitorCore::deviceStop()
{
    if (state_.running) {
        stopProcedure();
        state_.stopVisible = false;
        notify();
    }
}

void MonitorCore::hasControl(bool flag, const QString& text)
{
    hasControl_ = flag;
    safety_.hasControl(flag);
    view_.showClientControl(flag, text);
}

void MonitorCore::setUnsafeByClient(bool unsafe)
{
    safety_.evaluator().setReportedUnsafe(unsafe);
    unsafe_ = unsafe;
    // Disp_UnsafeFlag
    const conditions::UnsafeFlagDisplay d = conditions::unsafeFlagDisplay(unsafe);
    safetyResult_.reportedUnsafe = unsafe;
    safetyResult_.reasons.clear();
    if (unsafe) safetyResult_.reasons.push_back({conditions::UnsafeCause::ClientSetUnsafe});
    safetyResult_.flag = d;
    view_.showFlag(d);
}

void MonitorCore::setSwitch(int value)
{
    if (state_.running && config_.swRole == 1 && sensor_->role() == QLatin1String("MASTER")) sensor_->setSwitch(value);
}

void MonitorCore::registerUsers(int delta) { view_.showClients(delta, clock_.msClock(), minimized_); }

int MonitorCore::secondsSinceGoodData() const
{
    // No current evaluation: the data are as good as none.
    if (evaluationStale()) return 1000;
    return station_.secondsSinceGoodData(sensorError_);
}

// ---- guards of the reported flag ---------------------------------------------

void MonitorCore::beginStartGuards()
{
    // Control held by a client does not outlive a Start: the monitor decides
    // again from the first cycle of this run.
    if (hasControl_) hasControl(false, QString());
    lastCycleDone_.reset();
    staleWatch_->start();
}

void MonitorCore::endStartGuards()
{
    staleWatch_->stop();
    showFlagUnsafe();
}

void MonitorCore::markCycleCompleted() { lastCycleDone_ = clock_.msClock(); }

bool MonitorCore::evaluationStale() const
{
    if (!state_.running || !lastCycleDone_) return true;
    // A cycle that has not completed for two intervals means the decision
    // shown is no longer current (a hung read, a stalled timer).
    // The read period may be changed by a client while the timer still runs
    // at the old one: the longer of the two counts.
    const qint64 interval = std::max(config_.readIntervalMs(), readTimer_->interval());
    return clock_.msClock() - *lastCycleDone_ > 2 * interval;
}

bool MonitorCore::reportedUnsafe() const { return evaluationStale() || unsafe_; }

bool MonitorCore::safeAndFresh() const
{
    if (!isRunning() || reportedUnsafe() || sensorError()) return false;
    if (config_.readStation && (stationTooOld() || stationFileAbsent())) return false;
    return true;
}

std::vector<conditions::UnsafeReason> MonitorCore::unsafeReasons() const
{
    // Same conditions as reportedUnsafe(), in the same order.
    if (evaluationStale()) return {conditions::UnsafeReason{conditions::UnsafeCause::NotEvaluated}};
    if (!unsafe_) return {};
    if (safetyResult_.reasons.empty()) return {conditions::UnsafeReason{conditions::UnsafeCause::ClientSetUnsafe}};
    return safetyResult_.reasons;
}

QString MonitorCore::unsafeReasonsText() const { return conditions::reasonsText(unsafeReasons()); }

std::vector<conditions::UnsafeReason> MonitorCore::notSafeReasons() const
{
    std::vector<conditions::UnsafeReason> reasons = unsafeReasons();
    if (!reasons.empty() || safeAndFresh()) return reasons;
    // The flag says safe, but the user chose not to count old data as
    // unsafe: a roof opener is still told why it may not rely on it.
    if (sensorError_) reasons.push_back({conditions::UnsafeCause::SensorDataError});
    else reasons.push_back({conditions::UnsafeCause::StationDataOld});
    return reasons;
}

void MonitorCore::showFlagUnsafe() { view_.showFlag(conditions::unsafeFlagDisplay(true)); }

void MonitorCore::checkStaleFlag()
{
    if (evaluationStale() && state_.unsafeFlag.text != conditions::unsafeFlagDisplay(true).caption) showFlagUnsafe();
}

void MonitorCore::clientCalled(int c, bool showPeriod) { view_.showClientCall(c, showPeriod, clock_.msClock()); }

void MonitorCore::followSwitchRole()
{
    switchControl_ = config_.swRole == 0;
    view_.showSwitchLabels(switchControl_);
}

QString MonitorCore::compassPoint(int index) const { return cond_.compass.get(index); }

void MonitorCore::setCompassPoint(int index, const QString& text)
{
    cond_.compass.set(index, text);
    settingsTouched();
}

void MonitorCore::setEmulator(bool on)
{
    config_.emulator = on;
    store_.save(QString::fromLatin1(kAppName), QStringLiteral("Setup"), QStringLiteral("Emulator"),
                on ? QStringLiteral("1") : QStringLiteral("0"));
    store_.sync();
}

// ---- alarms -----------------------------------------------------------------

void MonitorCore::alarmStart(const QString& sound) { safety_.alarms().alarmStart(sound); }

void MonitorCore::alarmStop() { safety_.alarms().alarmStop(); }

QString MonitorCore::alarmId() const { return safety_.alarms().currentCode(); }

void MonitorCore::setSuspendSoundAlarm(bool on)
{
    safety_.alarms().setSuspendSoundAlarm(cond_.alarms, on);
    notify();
}

// ---- units ------------------------------------------------------------------

void MonitorCore::selectSpeedUnit(conditions::SpeedUnit unit)
{
    conditions::selectSpeedUnit(cond_.units, cond_.levels, unit, &graphs_.history());
    notify();
}

void MonitorCore::selectTemperatureUnit(conditions::TemperatureUnit unit)
{
    conditions::selectTemperatureUnit(cond_.units, cond_.levels, unit, &graphs_.history());
    notify();
}

void MonitorCore::conditionsEdited() { notify(); }

// ---- edits of a settings group ---------------------------------------------

void MonitorCore::editConditions(const std::function<void(conditions::ConditionsConfig&)>& edit)
{
    edit(cond_);
    conditionsEdited();
}

void MonitorCore::editConfig(const std::function<void(MonitorConfig&)>& edit)
{
    edit(config_);
    notify();
}

void MonitorCore::editOutputs(const std::function<void(outputs::OutputsConfig&)>& edit)
{
    edit(outputs_);
    notify();
}

void MonitorCore::editGraphs(const std::function<void(outputs::GraphOutputs&)>& edit)
{
    edit(graphs_);
    notify();
}

void MonitorCore::editUploads(const std::function<void(outputs::Uploads&)>& edit)
{
    edit(*uploads_);
    notify();
}

void MonitorCore::setCloudAlarmDelay(qint32 seconds)
{
    safety_.evaluator().setCloudAlarmDelay(seconds);
    conditionsEdited();
}

void MonitorCore::setSwitchRole(int role)
{
    config_.swRole = role;
    followSwitchRole();
}

void MonitorCore::setReadPeriodItem(int item)
{
    config_.refreshRead = item;
    notify();
}

int MonitorCore::safeDelayRemaining() const { return safety_.evaluator().safeDelayRemaining(); }

void MonitorCore::chooseAlarmSound(const AlarmBoxId& box, const conditions::AlarmController::ChooserRun& run)
{
    auto& alarms = cond_.alarms;
    conditions::AlarmBox& target = box.kind == AlarmBoxId::SensorData    ? alarms.sensorData
                                   : box.kind == AlarmBoxId::StationData ? alarms.stationData
                                                                         : alarms.boxes[box.quantity][box.level];
    safety_.alarms().chooseAlarmSound(target, alarms.lastMusicDir, true, run);
    conditionsEdited();
}

} // namespace skyvane
