#include "Alarms.h"

#include "Clock.h"
#include "Safety.h"

namespace skyvane::conditions {

namespace {
constexpr qint64 kPlayerTickMs = 500;

QChar quantityLetter(Quantity q)
{
    switch (q) {
    case Quantity::Cloud: return QLatin1Char('C');
    case Quantity::Rain: return QLatin1Char('R');
    case Quantity::Wind: return QLatin1Char('W');
    case Quantity::Gust: return QLatin1Char('G');
    case Quantity::Temperature: return QLatin1Char('T');
    case Quantity::DewPoint: return QLatin1Char('P');
    case Quantity::Humidity: return QLatin1Char('H');
    case Quantity::Brightness: return QLatin1Char('D');
    }
    return QLatin1Char('?');
}

int lastSeparator(const QString& path)
{
    return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
}
} // namespace

// ---- sound specs ---------------------------------------------------------------

SoundSpec parseSoundSpec(const QString& spec)
{
    const int bar = spec.lastIndexOf(QLatin1Char('|'));
    if (bar < 0) return {spec, false};
    return {spec.left(bar), true};
}

QString makeSoundSpec(const QString& file, bool loop)
{
    const QString f = file.trimmed();
    if (f.isEmpty()) return {};
    return loop ? f + QStringLiteral("|repeat") : f;
}

// ---- boxes ---------------------------------------------------------------------

bool AlarmBox::setArmed(bool on)
{
    armed_ = on && !sound_.isEmpty();
    return armed_;
}

void AlarmBox::setSound(const QString& spec)
{
    sound_ = spec;
    if (sound_.isEmpty()) armed_ = false;
}

// ---- codes -----------------------------------------------------------------------

QString alarmCode(Quantity q, int levelIndex) { return QString(quantityLetter(q)) + QString::number(levelIndex); }

std::optional<LevelAlarm> parseLevelAlarmCode(const QString& code)
{
    if (code.size() != 2) return std::nullopt;
    const int index = code[1].digitValue();
    if (index < 0 || index > 2) return std::nullopt;
    for (Quantity q : kAllQuantities)
        if (code[0] == quantityLetter(q)) return LevelAlarm{q, index};
    return std::nullopt;
}

std::optional<int> alarmIconPosition(const QString& code)
{
    if (code.isEmpty()) return std::nullopt;
    static const QString letters = QStringLiteral("CRWGTPHD12");
    const int pos = letters.indexOf(code[0]);
    if (pos < 0) return std::nullopt;
    return pos;
}

// ---- chooser logic ------------------------------------------------------------------

SoundChooserStart soundChooserStart(const AlarmBox& box, const QString& lastMusicDir)
{
    SoundChooserStart s;
    const QString tag = box.sound();
    const int sep = lastSeparator(tag);
    if (sep >= 0) s.folder = tag.left(sep);
    else s.folder = lastMusicDir;
    const int bar = tag.lastIndexOf(QLatin1Char('|'));
    if (bar >= 0) {
        s.fileName = tag.left(bar);
        s.loop = true;
    } else {
        s.fileName = tag;
    }
    return s;
}

// ---- controller ----------------------------------------------------------------------

AlarmController::AlarmController(Clock& clock, SoundPlayer& player, QObject* parent)
    : QObject(parent), player_(player), timer_(clock.createTimer())
{
    timer_->setCallback([this] { playerTick(); });
}

AlarmController::~AlarmController() = default;

bool AlarmController::playerTimerActive() const { return timer_->isActive(); }

void AlarmController::showAlarmIcon(const QString& code)
{
    lit_ = code;
}

void AlarmController::stopPlayerTimer()
{
    timer_->setInterval(0);
    timer_->stop();
}

void AlarmController::playerTick()
{
    if (player_.isPlaying()) return;
    // The sound has ended: the button goes, the icon stays lit.
    stopPlayerTimer();
    stopVisible_ = false;
    emit changed();
}

void AlarmController::alarmStart(const QString& spec)
{
    const SoundSpec s = parseSoundSpec(spec);
    alarmStop();
    if (s.file.trimmed().isEmpty() || !player_.play(s.file, s.loop)) return;
    timer_->setInterval(kPlayerTickMs);
    timer_->start();
    stopVisible_ = true;
    emit changed();
}

void AlarmController::alarmStop()
{
    showAlarmIcon(QString());
    player_.stop();
    stopPlayerTimer();
    stopVisible_ = false;
    emit changed();
}

void AlarmController::alarmStep(const SafetyResult& result, const SafetyConfig& safety, const AlarmConfig& alarms,
                                bool stationTooOld, bool sensorError)
{
    if (stationTooOld) return;

    if (result.reportedUnsafe && !sensorError && !chooserOpen_) {
        // Forget the current cause once it no longer holds.
        if (const auto la = parseLevelAlarmCode(current_)) {
            const auto i = std::size_t(la->index);
            const bool holds = result.levelGate[la->quantity][i] && safety.unsafeMarks[la->quantity][i] &&
                               alarms.boxes[la->quantity][i].armed();
            if (!holds) current_.clear();
        }
        QString candidate;
        QString spec;
        for (Quantity q : kAlarmOrder) {
            for (std::size_t i = 0; i < 3 && candidate.isEmpty(); ++i) {
                const AlarmBox& box = alarms.boxes[q][i];
                if (!box.sound().isEmpty() && result.levelGate[q][i] && safety.unsafeMarks[q][i] && box.armed()) {
                    candidate = alarmCode(q, int(i));
                    spec = box.sound();
                }
            }
            if (!candidate.isEmpty()) break;
        }
        if (!spec.isEmpty() && candidate != current_ && !alarms.suspendSound) {
            alarmStart(spec);
            current_ = candidate;
            showAlarmIcon(current_);
            emit changed();
        } else if (current_.isEmpty()) {
            alarmStop();
        }
        return;
    }

    if (stationTooOld || sensorError || chooserOpen_) return;
    alarmStop();
    current_.clear();
    emit changed();
}

bool AlarmController::staleCheck(bool problem, const AlarmBox& box, const QString& code, bool suspended)
{
    if (problem) {
        if (box.armed() && !box.sound().isEmpty() && current_ != code && !suspended) return true;
        return false;
    }
    if (current_ == code) {
        alarmStop();
        current_.clear();
        emit changed();
    }
    return false;
}

bool AlarmController::stationDataCheck(bool tooOld, const AlarmConfig& alarms)
{
    if (!staleCheck(tooOld, alarms.stationData, kStationAlarmCode, alarms.suspendSound)) return false;
    alarmStart(alarms.stationData.sound());
    current_ = kStationAlarmCode;
    showAlarmIcon(current_);
    emit changed();
    return true;
}

bool AlarmController::sensorDataCheck(bool error, const AlarmConfig& alarms)
{
    if (!staleCheck(error, alarms.sensorData, kSensorAlarmCode, alarms.suspendSound)) return false;
    alarmStart(alarms.sensorData.sound());
    current_ = kSensorAlarmCode;
    showAlarmIcon(current_);
    emit changed();
    return true;
}

void AlarmController::setSuspendSoundAlarm(AlarmConfig& alarms, bool on)
{
    alarms.suspendSound = on;
    if (on) {
        alarmStop();
    } else {
        current_.clear();
        emit changed();
    }
}

void AlarmController::clientTookControl()
{
    alarmStop();
    current_.clear();
    emit changed();
}

void AlarmController::setChooserOpen(bool open)
{
    chooserOpen_ = open;
    emit changed();
}

void AlarmController::chooseAlarmSound(AlarmBox& box, QString& lastMusicDir, bool openChooser, const ChooserRun& run)
{
    if (openChooser && run) {
        setChooserOpen(true);
        // The flag must come down however the chooser ends.
        struct Reset {
            AlarmController* c;
            ~Reset() { c->setChooserOpen(false); }
        } reset{this};
        const std::optional<SoundChoice> choice = run(soundChooserStart(box, lastMusicDir));
        if (choice) {
            lastMusicDir = choice->folder;
            box.setSound(makeSoundSpec(choice->fileName, choice->loop));
        }
        // The chooser shares the one player: whatever it played is stopped,
        // and the standing alarm, if any, starts again at the next cycle.
        alarmStop();
        current_.clear();
    }
    if (box.sound().isEmpty()) box.setArmed(false);
    emit changed();
}

} // namespace skyvane::conditions
