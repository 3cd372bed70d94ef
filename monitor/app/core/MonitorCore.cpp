#include "MonitorCore.h"

#include "Format.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFileInfo>

namespace skyvane {

QString versionDigits()
{
    return QStringLiteral("%1.%2.%3")
        .arg(SKYVANE_VERSION_MAJOR)
        .arg(SKYVANE_VERSION_MINOR, 2, 10, QLatin1Char('0'))
        .arg(SKYVANE_VERSION_REVISION, 3, 10, QLatin1Char('0'));
}

QString titleText() { return QStringLiteral("XOB_Skyvane (v%1)").arg(versionDigits()); }

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

MonitorCore::MonitorCore(Clock& clock, SettingsStore& store, QDBusConnection sensorBus, QString programDir, QObject* parent)
    : QObject(parent), clock_(clock), store_(store), programDir_(std::move(programDir)), sensor_(std::move(sensorBus), clock)
{
    state_.caption = titleText();
    state_.controlText.text = QStringLiteral("External program has control");
    state_.controlText.visible = false;
    state_.lblSwitch.visible = false;
    state_.valSwitch.visible = false;
    const char* names[3] = {"Cloud", "Rain", "Brightness"};
    for (int i = 0; i < 3; ++i) state_.sensorNames[i] = {QString::fromLatin1(names[i]), colour::Cyan, true};
    state_.users = QStringLiteral("Attached Users: 0");
    readTimer_ = clock_.createTimer();
    readTimer_->setCallback([this] { readCycle(); });
    refreshRunMenus();
}

MonitorCore::~MonitorCore() = default;

void MonitorCore::load()
{
    config_.load(store_, programDir_);
    notify();
}

void MonitorCore::save()
{
    config_.save(store_);
    store_.sync();
}

// ---- status, code line, messages ------------------------------------------

void MonitorCore::showStatus(const QString& text, int c)
{
    state_.status.text = text.left(kStatusMax);
    state_.status.colour = c;
    notify();
}

void MonitorCore::showCodes(const QString& text, int c)
{
    state_.codes.text = text;
    state_.codes.colour = c;
    notify();
}

int MonitorCore::showMessage(const QString& text, int flags, const QString& title)
{
    const QString t = title.isEmpty() ? state_.caption : title;
    emit beep();
    if (!prompter_) return flags == MessageOk ? AnswerOk : AnswerYes;
    return prompter_(text, flags, t);
}

void MonitorCore::blinkLED(LampPair& pair, int c)
{
    if (c == colour::Grey) {
        pair = {colour::Grey, colour::Grey};
    } else if (pair.c0 == colour::Grey) {
        pair.c0 = c;
        pair.c1 = colour::Grey;
    } else {
        pair.c0 = colour::Grey;
        pair.c1 = c;
    }
}

void MonitorCore::setMinimized(bool minimized)
{
    minimized_ = minimized;
    refreshRunMenus();
}

void MonitorCore::refreshRunMenus()
{
    MenuState& m = state_.menus;
    m.restoreEnabled = minimized_;
    m.minimizeEnabled = !minimized_;
    if (state_.clients > 0) {
        m.startVisible = false;
        m.stopVisible = false;
        m.separatorsVisible = false;
        m.updateEnabled = false;
        m.exitEnabled = false;
    } else {
        m.startVisible = !state_.running;
        m.stopVisible = state_.running;
        m.updateEnabled = !state_.running;
        m.exitEnabled = true;
        m.separatorsVisible = true;
    }
    m.closeEnabled = state_.clients == 0;
    notify();
}

void MonitorCore::enableSetupControls(bool on)
{
    state_.setupEnabled = on;
    state_.startEnabled = on;
    notify();
}

void MonitorCore::enableReadSettings(bool on)
{
    state_.readSettingsEnabled = on;
    notify();
}

// ---- Start and Stop -------------------------------------------------------

void MonitorCore::startProcedure()
{
    if (state_.running || stopping_ || starting_) return;
    // The wait for the first sensor data keeps the window alive, so Stop (or
    // a client) may run meanwhile; it then ends this start quietly.
    starting_ = true;
    startAborted_ = false;
    struct Done { bool& flag; ~Done() { flag = false; } } done{starting_};
    startTime_ = clock_.now();
    state_.safeDelayMsg.text.clear();
    state_.lblStatus.text.clear();
    state_.wsAlarmMsg.text.clear();
    state_.npAlarmMsg.text.clear();
    state_.ledUnsafe = colour::Grey;
    sensorError_ = false;
    unsafe_ = false;
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
        const bool connected = connectSensor();
        if (startAborted_) {
            showStatus(QString(), colour::Navy);
            return;
        }
        if (!connected) {
            showStatus(QStringLiteral("Problem with XOB_Nephor"), colour::Red);
            showMessage(QStringLiteral("Cannot read XOB_Nephor"), MessageOk, QString());
            stopProcedure();
            return;
        }
        startReading();
    }
    if (config_.upload) {
        // The uploader hand-over arrives with the upload list; the upload
        // timer is armed here so that Stop has something to disarm.
    }
    if (!config_.readStation && !config_.upload) {
        stopProcedure();
        return;
    }
    state_.running = true;
    refreshRunMenus();
}

bool MonitorCore::connectSensor()
{
    const ConnectResult r = sensor_.connect([this] { return config_.npTimeout; });
    if (r.outcome == ConnectOutcome::VersionTooOld)
        showMessage(QStringLiteral("Version of XOB_Nephor must be equal or greater than 5.2x"), MessageOk, QString());
    if (r.outcome == ConnectOutcome::NoServer || r.outcome == ConnectOutcome::VersionTooOld) return false;

    master_ = r.master;
    if (r.master) {
        dispSwitchLabels();
        state_.alarmNpVisible = false;
        state_.timeoutAlarmLabel.text.clear();
    } else {
        state_.alarmNpVisible = true;
        state_.timeoutAlarmLabel.text = QStringLiteral("Timeout Alarm");
        config_.swRole = 1;
        state_.lblSwitch.visible = false;
        state_.valSwitch.visible = false;
        switchControl_ = false;
    }
    notify();
    return r.ok();
}

void MonitorCore::startReading()
{
    // The station step sees the file as changed on the first cycle.
    showStatus(QString(), colour::Navy);
    enableReadSettings(false);
    cycles_ = 0;
    readCycle();
    readTimer_->setInterval(config_.readIntervalMs());
    readTimer_->start();
}

void MonitorCore::stopReading()
{
    enableReadSettings(true);
    readTimer_->setInterval(0);
    readTimer_->stop();
    blinkLED(state_.ledRead, colour::Grey);
    notify();
}

void MonitorCore::releaseSensor() { sensor_.release(); }

void MonitorCore::stopProcedure()
{
    if (starting_) startAborted_ = true;
    stopping_ = true;
    state_.stopEnabled = false;
    if (config_.readStation) {
        stopReading();
        releaseSensor();
    }
    if (!config_.upload) {
        enableSetupControls(true);
        state_.stopEnabled = true;
    }
    alarmStop();
    state_.running = false;
    stopping_ = false;
    refreshRunMenus();
}

bool MonitorCore::readTimerActive() const { return readTimer_->isActive(); }
qint64 MonitorCore::readTimerInterval() const { return readTimer_->interval(); }

bool MonitorCore::requestClose()
{
    if (state_.clients != 0) {
        showMessage(QStringLiteral("There are other users present - cannot UNLOAD"), MessageOk, QStringLiteral("Warning"));
        return false;
    }
    if (state_.running) stopProcedure();
    return true;
}

void MonitorCore::unload()
{
    save();
    releaseSensor();
}

// ---- read cycle -----------------------------------------------------------

void MonitorCore::readCycle()
{
    ++cycles_;
    dataReady_ = false;
    sensor_.beginCycle();
    stepReadStation();
    stepUnits();
    readSensorValues();
    stepConditions();
    stepSafety();
    stepShowUnsafe();
    stepReportToSensor();
    dataReady_ = sensor_.dataReady().value_or(false);
    stepOutputs();
    const int lamp = (sensorError_ || stationTooOld || stationFileAbsent) ? colour::Yellow : colour::Lime;
    blinkLED(state_.ledRead, lamp);
    notify();
}

void MonitorCore::stepReadStation()
{
    // Weather-station data file: filled in by the station reader.
}

void MonitorCore::stepUnits()
{
    // Unit letters of the station file and the sensor server's temperature
    // unit: filled in with the units module.
}

void MonitorCore::readSensorValues()
{
    sensorError_ = false;
    state_.npAlarmMsg.text.clear();
    for (auto& n : state_.sensorNames) n.colour = colour::Cyan;

    readings_ = sensor_.read();
    const SensorReadings& r = readings_;
    if (r.complete) {
        state_.valCloud.text = format::number(r.skyTemperature, QStringLiteral("0.0"));
        state_.valRain.text = format::number(r.rainValue, QStringLiteral("0"));
        state_.valBrightness.text = format::number(r.brightnessValue, QStringLiteral("0"));
        const QString pattern = config_.dateFormat == 0 ? QStringLiteral("dd/mm hh:mm:ss") : QStringLiteral("mm/dd hh:mm:ss");
        const QString last = format::dateTime(r.lastReading, pattern);
        state_.lastReading = {last, colour::Green, true};
        state_.lastReadingPanel = {last, colour::Green, true};
    }

    if (!r.good()) {
        showStatus(QStringLiteral("Error with XOB_Nephor"), colour::Red);
        sensorError_ = true;
        state_.npAlarmMsg.text = QStringLiteral("NP error");
        if (config_.alarmNp && !config_.alarmNpSound.isEmpty() && alarmId_ != QLatin1String("20")) {
            sensor_.alarmStop();
            alarmStart(config_.alarmNpSound);
            alarmId_ = QStringLiteral("20");
        }
        showCodes(QStringLiteral("a31"), colour::Red);
        for (auto& n : state_.sensorNames) n.colour = colour::Red;
        state_.valCloud.text.clear();
        state_.valRain.text.clear();
        state_.valBrightness.text.clear();
        state_.condCloud.text.clear();
        state_.condCloud.colour = colour::Yellow;
        state_.condRain.text.clear();
        state_.condBrightness.text.clear();
        if (master_) state_.valSwitch.text.clear();
    } else {
        if (alarmId_ == QLatin1String("20")) alarmStop();
        if (state_.codes.text == QLatin1String("a31")) showCodes(QString(), colour::Red);
        // A good read after an error clears the error text it left.
        if (state_.status.text == QLatin1String("Error with XOB_Nephor")) showStatus(QString(), colour::Navy);
    }
}

void MonitorCore::stepConditions()
{
    // Condition displays: filled in by the conditions module.
}

void MonitorCore::stepSafety()
{
    // Until the full decision is wired in, only a good, clear and dry reading
    // counts as safe; anything else (no data, clouds, rain) is unsafe.
    const SensorReadings& r = readings_;
    unsafe_ = !(r.good() && r.cloud == 1 && r.rain == 1);
}

void MonitorCore::stepShowUnsafe()
{
    state_.ledUnsafe = unsafe_ ? colour::Red : colour::Lime;
}

void MonitorCore::stepReportToSensor()
{
    bool flag = unsafe_;
    sensor_.setUnsafe(flag);
    if (switchControl_) {
        switchValue_ = unsafe_ ? 2 : 1;
        double v = switchValue_;
        sensor_.setSwitch(v);
        state_.valSwitch = {switchValue_ == 2 ? QStringLiteral("Closed") : QStringLiteral("Opened"),
                            switchValue_ == 2 ? colour::Red : colour::Green, state_.valSwitch.visible};
    } else {
        switchValue_ = sensor_.switchStatus().value_or(0);
    }
}

void MonitorCore::stepOutputs()
{
    // CCDAutopilot file, user data file and graph samples: filled in by the
    // outputs modules.
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
    state_.controlText.text = text;
    state_.controlText.visible = !text.isEmpty();
    if (flag) {
        alarmStop();
        alarmId_.clear();
        state_.alarmFrameVisible = false;
    } else {
        state_.alarmFrameVisible = true;
    }
    notify();
}

void MonitorCore::setSwitch(int value)
{
    if (state_.running && config_.swRole == 1 && sensor_.role() == QLatin1String("MASTER")) sensor_.setSwitch(value);
}

void MonitorCore::registerUsers(int delta)
{
    state_.clients += delta;
    if (state_.clients < 0) state_.clients = 0;
    state_.users = QStringLiteral("Attached Users: ") + format::number(state_.clients, QStringLiteral("#0"));
    if (state_.clients != 0) {
        if (state_.clients == 1 && delta == 1) {
            comPeriodStart_ = clock_.msClock();
            state_.comCalls.clear();
            state_.comPeriod.clear();
            state_.stopVisible = false;
            state_.comFrameVisible = true;
        }
    } else {
        state_.comFrameVisible = false;
        state_.stopVisible = true;
    }
    refreshRunMenus();
}

int MonitorCore::secondsSinceGoodData() const
{
    return (!stationFileAbsent && !stationTooOld && !sensorError_) ? 3 : 1000;
}

void MonitorCore::blinkLEDCOM(int c, bool showPeriod)
{
    comCalls_ = comCalls_ >= 9999 ? 0 : comCalls_ + 1;
    state_.comCalls = QString::number(comCalls_);
    blinkLED(state_.ledCom, c);
    if (showPeriod) {
        const qint64 now = clock_.msClock();
        state_.comPeriod = QString::number((now - comPeriodStart_) / 1000) + QStringLiteral("s");
        comPeriodStart_ = now;
    }
    notify();
}

void MonitorCore::dispSwitchLabels()
{
    const bool on = config_.swRole == 0;
    state_.lblSwitch.visible = on;
    state_.valSwitch.visible = on;
    switchControl_ = on;
    notify();
}

QString MonitorCore::csGet(int index) const
{
    return (index >= 0 && index <= 16) ? config_.compass[index] : QString();
}

void MonitorCore::csSet(int index, const QString& text)
{
    if (index >= 0 && index <= 16) config_.compass[index] = text;
}

void MonitorCore::setEmulator(bool on)
{
    config_.emulator = on;
    store_.save(QString::fromLatin1(kAppName), QStringLiteral("Setup"), QStringLiteral("Emulator"),
                on ? QStringLiteral("1") : QStringLiteral("0"));
    store_.sync();
}

// ---- alarms -----------------------------------------------------------------

void MonitorCore::alarmStart(const QString& sound)
{
    Q_UNUSED(sound);
    // Sound output arrives with the alarms module.
}

void MonitorCore::alarmStop()
{
    alarmId_.clear();
}

} // namespace skyvane
