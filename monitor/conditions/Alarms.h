#pragma once
// Alarms: each quantity and level has an alarm box (armed or not, with a
// sound), plus one box for stale weather-station data and one for a sensor
// error. While the sky is reported unsafe the first armed cause, in the order
// C, R, W, G, P, H, T, D, plays its sound once per new cause. One sound plays
// at a time; an icon row shows which quantity raised the alarm.

#include "ConditionTypes.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace skyvane {
class Clock;
class ClockTimer;
} // namespace skyvane

namespace skyvane::conditions {

struct SafetyConfig;
struct SafetyResult;

// ---- sound output ------------------------------------------------------------

// Plays one sound file at a time. play() replaces whatever is playing.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Starts the file once or looping. False when it cannot be opened; then
    // nothing plays. Never reports anything to the user.
    virtual bool play(const QString& file, bool loop) = 0;
    virtual bool isPlaying() const = 0;
    // Stops and closes the sound.
    virtual void stop() = 0;
};

// A sound spec: a file path, followed by "|repeat" when the sound loops.
struct SoundSpec {
    QString file;
    bool loop = false;
};
// Any "|" makes the sound loop; the file is the text before the last "|".
SoundSpec parseSoundSpec(const QString& spec);
// The sound text for a file; empty when the file name is blank.
QString makeSoundSpec(const QString& file, bool loop);

// ---- alarm boxes -----------------------------------------------------------------

// One alarm switch with its sound. A box without a sound can not be armed.
class AlarmBox {
public:
    AlarmBox() = default;
    const QString& sound() const { return sound_; }
    bool armed() const { return armed_; }
    // Arms or disarms; returns the resulting state (false without a sound).
    bool setArmed(bool on);
    // Sets the sound; an empty sound also disarms the box.
    void setSound(const QString& spec);
    // SetAlarmIcons: a box with a sound shows the alarm pictures
    // (AlarmONIcon / AlarmOFFIcon), one without is a plain check box.
    bool showsAlarmIcons() const { return !sound_.isEmpty(); }
    bool operator==(const AlarmBox&) const = default;

private:
    QString sound_;
    bool armed_ = false;
};

struct AlarmConfig {
    QuantityMap<PerLevel<AlarmBox>> boxes; // AlarmCloud, AlarmRain, AlarmDay, ...
    AlarmBox stationData;                  // AlarmWS: weather-station data too old
    AlarmBox sensorData;                   // AlarmNP: sensor-server data error
    bool suspendSound = false;             // SuspendSoundAlarm
    QString lastMusicDir;                  // the sound chooser's last folder
    bool operator==(const AlarmConfig&) const = default;
};

// ---- alarm codes -------------------------------------------------------------------

// The order in which causes are chosen.
inline constexpr std::array<Quantity, kQuantityCount> kAlarmOrder{
    Quantity::Cloud,    Quantity::Rain,     Quantity::Wind,        Quantity::Gust,
    Quantity::DewPoint, Quantity::Humidity, Quantity::Temperature, Quantity::Brightness};

inline const QString kStationAlarmCode = QStringLiteral("10");
inline const QString kSensorAlarmCode = QStringLiteral("20");

// "C0".."D2": the quantity letter and the level index.
QString alarmCode(Quantity q, int levelIndex);
struct LevelAlarm {
    Quantity quantity;
    int index;
};
std::optional<LevelAlarm> parseLevelAlarmCode(const QString& code);
// Position in the icon row PlayAlarm(0..9) of a code; nullopt for none.
std::optional<int> alarmIconPosition(const QString& code);

// ---- the sound chooser's logic -----------------------------------------------------

// What the chooser shows when it opens for a box (Def_Label).
struct SoundChooserStart {
    QString folder;   // empty: no folder chosen yet
    QString fileName; // FileName
    bool loop = false; // CheckPlay1
};
SoundChooserStart soundChooserStart(const AlarmBox& box, const QString& lastMusicDir);

// What the chooser gives back on OK.
struct SoundChoice {
    QString fileName;
    bool loop = false;
    QString folder; // becomes the last music folder
};

// ---- the controller --------------------------------------------------------------

class AlarmController : public QObject {
    Q_OBJECT
public:
    AlarmController(Clock& clock, SoundPlayer& player, QObject* parent = nullptr);
    ~AlarmController() override;

    // The code of the alarm raised last ("C2", "10", ...; empty for none).
    const QString& currentCode() const { return current_; }
    // The lit icon of PlayAlarm(0..9), if any.
    std::optional<int> litIcon() const { return alarmIconPosition(lit_); }
    // ButtStopAlarm: visible while a sound plays.
    bool stopButtonVisible() const { return stopVisible_; }
    bool playerTimerActive() const;
    bool chooserOpen() const { return chooserOpen_; }
    SoundPlayer& player() { return player_; }

    // AlarmStart: plays a sound spec; a file that cannot be played is ignored
    // silently (whatever played before is stopped all the same).
    void alarmStart(const QString& spec);
    // AlarmStop: stops the sound, clears the icons, stops the player timer and
    // hides ButtStopAlarm. The current code stays.
    void alarmStop();

    // The alarm step at the end of the safety evaluation.
    void alarmStep(const SafetyResult& result, const SafetyConfig& safety, const AlarmConfig& alarms,
                   bool stationTooOld, bool sensorError);

    // Stale-data alarms, run by the station and sensor checks of every cycle.
    // They return true when the sensor server's own alarm must be silenced
    // (XOB_AlarmStop) because this program starts its sound now.
    bool stationDataCheck(bool tooOld, const AlarmConfig& alarms);
    bool sensorDataCheck(bool error, const AlarmConfig& alarms);

    // SuspendSoundAlarm clicked: setting it stops the sound; clearing it lets
    // a standing alarm sound again at the next cycle.
    void setSuspendSoundAlarm(AlarmConfig& alarms, bool on);
    // A client took control (HasControl with true): silence and forget.
    void clientTookControl();

    // ChooseAlarmSound: a click on an alarm box. With openChooser (a right
    // click) the chooser runs while read cycles leave the alarms alone; its
    // answer (nullopt on Cancel or close) is applied to the box. Afterwards the
    // current code is cleared so that a changed sound plays at the next
    // evaluation, and a box without a sound is disarmed.
    using ChooserRun = std::function<std::optional<SoundChoice>(const SoundChooserStart&)>;
    void chooseAlarmSound(AlarmBox& box, QString& lastMusicDir, bool openChooser, const ChooserRun& run);

    // The open flag by itself, for a chooser shown without chooseAlarmSound.
    void setChooserOpen(bool open);

signals:
    // The icons, the stop button or the code changed.
    void changed();

private:
    void showAlarmIcon(const QString& code);
    void playerTick();
    void stopPlayerTimer();
    bool staleCheck(bool problem, const AlarmBox& box, const QString& code, bool suspended);

    SoundPlayer& player_;
    std::unique_ptr<ClockTimer> timer_; // TimerPlayer
    QString current_;
    QString lit_;
    bool stopVisible_ = false;
    bool chooserOpen_ = false;
};

} // namespace skyvane::conditions
