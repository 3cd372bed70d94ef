#pragma once
// The safe/unsafe decision of every read cycle: the user's unsafe marks, the
// confirmation time for Cloudy, the wind-direction sectors, the stale-data
// rules and the safe delay that holds a return to SAFE back.
//
// The rule in one sentence: the sky is unsafe as soon as any quantity sits at
// a level the user marked unsafe (with its gate open), when a quantity the
// user cares about cannot be judged, or when stale data are declared unsafe;
// a change to unsafe is reported at once, a change to safe only after the
// safe delay.

#include "ConditionTypes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QString>
#include <optional>
#include <vector>

namespace skyvane {
class Clock;
}

namespace skyvane::conditions {

// ---- direction sectors -------------------------------------------------------

// A wind-direction sector in whole degrees. A negative from-direction makes a
// sector through north (from -60 to 60 covers 300..359 and 0..60). Minutes is
// how long the direction must have stayed inside before the sector holds.
struct DirectionSector {
    int from = 0;
    int to = 359;
    int minutes = 1;
    bool operator==(const DirectionSector&) const = default;
};

struct SectorText {
    enum class Kind {
        Empty,   // no sector: the gate is always open
        Valid,   // a sector
        Invalid, // not readable: treated as open, so a marked level still counts
    };
    Kind kind = Kind::Empty;
    DirectionSector sector;
};

// Reads a sector text: from-direction in characters 1-4, to-direction in 6-9,
// minutes in 11-12 (1-based), a shorter text padded with "0000 0000 000".
SectorText parseSectorText(const QString& text);
// Writes a sector the way the sector editor does ("-060  060  05 ").
QString formatSectorText(const DirectionSector& s);
inline const QString kDefaultSectorText = QStringLiteral("000  359  01");

// Whether a direction lies in the sector. Directions are taken modulo 360 and
// counted in whole degrees, so 359.6 and 360 belong to the degrees 359 and 0.
// A from-direction above a non-negative to-direction contains nothing.
bool sectorContains(const DirectionSector& s, double direction);

// ---- configuration, inputs, result ----------------------------------------------

struct SafetyConfig {
    // Unsafe marks CondCloud, CondRain, CondDay, CondWind, ..., index 0..2
    // for levels 1..3: true = that level counts as unsafe.
    QuantityMap<PerLevel<bool>> unsafeMarks;
    // Direction sector texts of DirectionWind(0..2) and DirectionGust(0..2).
    PerLevel<QString> windSectors;
    PerLevel<QString> gustSectors;
    bool wsDataOldUnsafe = true; // weather-station data too old => unsafe
    bool npDataOldUnsafe = true; // sensor-server data old or faulty => unsafe
    double safeDelaySeconds = 0; // SafeDelayVal

    static SafetyConfig defaults();
    const PerLevel<QString>& sectors(Quantity q) const
    {
        return q == Quantity::Gust ? gustSectors : windSectors;
    }
    bool anyMark(Quantity q) const
    {
        const auto& m = unsafeMarks[q];
        return m[0] || m[1] || m[2];
    }
};

struct SafetyInputs {
    QuantityMap<Level> levels{Level::Unknown};
    // Wind direction of the weather-station data, degrees; nullopt when the
    // station gave none that could be read (then every sector is taken to
    // hold, since the wind may well be coming from it).
    std::optional<double> windDirection;
    bool stationTooOld = false; // weather-station data too old, or the file absent
    bool sensorError = false;   // sensor-server data old or faulty
    // What the reasons quote: the values behind the levels (in the units on
    // show, nullopt when there is none) and the age of the station data in
    // seconds (negative when unknown, e.g. no file).
    QuantityMap<std::optional<double>> values;
    double stationAgeSeconds = -1;
    // Why a quantity has no level for want of data, in words ("not in the
    // station file", "temperature cut off in the station file"); empty when
    // its data are there. The reasons quote it for a quantity that cannot
    // be judged.
    QuantityMap<QString> missing;
};

enum class UnsafeCause {
    MarkedLevel,  // a quantity sits at a level marked unsafe, its gate open
    UnknownLevel, // a quantity with unsafe marks cannot be judged (level 0)
    StationDataOld,
    SensorDataError,
    SafeDelay,       // raw result safe, the return to SAFE still held back
    ClientSetUnsafe, // a client that has control holds the flag at unsafe
    NotEvaluated,    // no current evaluation: stopped, starting or stale
};

// Which gate let a marked level count.
enum class UnsafeGate {
    None,        // the level counts as it is
    CloudGate,   // Cloudy confirmed (the cloud alarm delay has passed, or it follows Overcast)
    WindSector,  // wind direction inside the level's sector for its minutes
    GustSector,  // the same for the gust sector
};

struct UnsafeReason {
    UnsafeReason(UnsafeCause c = UnsafeCause::MarkedLevel, Quantity q = Quantity::Cloud, Level l = Level::Unknown,
                 std::optional<double> v = std::nullopt)
        : cause(c), quantity(q), level(l), value(v)
    {
    }
    UnsafeCause cause;
    Quantity quantity = Quantity::Cloud; // for the two level causes
    Level level = Level::Unknown;
    // Details for the text and the clients; not part of the identity.
    std::optional<double> value;     // the quantity's value, or the data age / seconds left
    UnsafeGate gate = UnsafeGate::None;
    QString sector;                  // the sector text behind a sector gate
    int sectorMinutes = 0;
    QString detail;                  // why a level is unknown, in words
    bool operator==(const UnsafeReason& o) const
    {
        return cause == o.cause && quantity == o.quantity && level == o.level;
    }
};

// Stable machine names: "marked-level", "unknown-level", "station-data-old",
// "sensor-data-error", "safe-delay", "client-set-unsafe", "not-evaluated".
QString causeName(UnsafeCause c);
// "cloud", "rain", "brightness", "wind", "gust", "temperature", "dewpoint", "humidity".
QString quantityKey(Quantity q);
QString gateName(UnsafeGate g); // "", "cloud-gate", "wind-sector", "gust-sector"
// One line for people, e.g. "Wind 12.5 at level 2 (marked unsafe; direction
// in sector 090  180  05 for 5 min)".
QString reasonText(const UnsafeReason& r);
// All reasons, one per line; empty when there are none.
QString reasonsText(const std::vector<UnsafeReason>& reasons);
// The reasons as a JSON array of objects: cause, text, and where they apply
// quantity, level, value, rule, sector and minutes.
QByteArray reasonsJson(const std::vector<UnsafeReason>& reasons);
QJsonArray reasonsArray(const std::vector<UnsafeReason>& reasons);

// Disp_UnsafeFlag: LblStatus caption and LEDUnsafe colour.
struct UnsafeFlagDisplay {
    QString caption;
    int lampColour = 0;
};
UnsafeFlagDisplay unsafeFlagDisplay(bool reportedUnsafe);

// The switch value sent with XOB_SetSwitch while this program drives the
// switch, and what LValSwitch shows.
struct SwitchCommand {
    double value = 1; // 2 closed (unsafe), 1 opened (safe)
    QString caption;
    int colour = 0;
};
SwitchCommand switchCommand(bool reportedUnsafe);

struct SafetyResult {
    // False while a client has control: nothing was decided, the reported
    // flag is whatever it was (or what the client set).
    bool evaluated = false;
    bool rawUnsafe = false;
    bool reportedUnsafe = true;
    int safeDelayRemaining = 0; // seconds
    QString safeDelayMessage;   // SafeDelayMsg caption
    // Why the reported flag is unsafe: empty exactly when it is safe. The
    // raw reasons, or the safe delay that holds SAFE back, or the client that
    // has control and holds the flag at unsafe.
    std::vector<UnsafeReason> reasons;

    // For each quantity and level: the quantity sits at that level and the
    // level's gate is open (cloud confirmation, wind/gust sector).
    QuantityMap<PerLevel<bool>> levelGate;
    // The current level counts as unsafe (drives the label colour).
    QuantityMap<bool> countsUnsafe;
    // Foreground colours of the condition labels LCondCloud ... LCondHumidity.
    QuantityMap<int> labelColour;

    UnsafeFlagDisplay flag;  // Disp_UnsafeFlag
    bool setUnSafe = true;   // the value passed to the sensor server's SetUnSafe
    SwitchCommand switchCmd; // sent only while this program drives the switch
};

// ---- the evaluation ------------------------------------------------------------

class SafetyEvaluator {
public:
    explicit SafetyEvaluator(Clock& clock);

    // The Start procedure: the next evaluation is reported at once, the cloud
    // gate starts from "Cloudy since long ago".
    void start();

    // XOB_CloudAlarmDelay: seconds a Cloudy reading reached from Clear must
    // last before it counts.
    void setCloudAlarmDelay(qint32 seconds) { cloudAlarmDelay_ = double(seconds); }
    double cloudAlarmDelay() const { return cloudAlarmDelay_; }

    // EvaluateSafety without its alarm step. With hasControl the label
    // colours are still brought up to date, but the decision is left alone
    // and the cloud and sector times do not move.
    SafetyResult evaluate(const SafetyInputs& in, const SafetyConfig& config, bool hasControl);

    // The reported flag. It starts unsafe: nothing has been judged yet.
    bool reportedUnsafe() const { return reported_; }
    // A client that has control sets the flag itself (SetUnSafe).
    void setReportedUnsafe(bool unsafe) { reported_ = unsafe; }
    int safeDelayRemaining() const { return remaining_; }
    const QString& safeDelayMessage() const { return message_; }
    // What the last evaluation found before the safe delay, if any since Start.
    enum class LastRaw { NoneSinceStart, Unsafe, Safe };
    LastRaw safetyState() const { return state_; }

    // The gates by themselves (CloudLevelCounts, SectorHolds); evaluate() calls
    // them once per cycle. Both keep time state.
    bool cloudLevelCounts(Level level, Level k);
    bool sectorHolds(Quantity kind, const QString& sectorText, std::optional<double> direction);

private:
    void applySafeDelay(bool raw, double delay);
    // Times are milliseconds on the clock's monotonic msClock(): a step of
    // the wall clock neither ends a delay early nor holds it for good.
    qint64 msSince(const std::optional<qint64>& t) const;

    Clock& clock_;
    bool reported_ = true;
    LastRaw state_ = LastRaw::NoneSinceStart;
    qint64 lastChange_ = 0;
    int remaining_ = 0;
    QString message_;
    double cloudAlarmDelay_ = 0;
    Level lastCloudLevel_ = Level::Two;
    std::optional<qint64> cloudSince_; // nullopt: long ago
    std::optional<qint64> windSince_;  // last time seen outside the sector
    std::optional<qint64> gustSince_;
};

} // namespace skyvane::conditions
