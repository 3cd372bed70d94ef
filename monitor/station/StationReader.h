#pragma once
// One read of the weather-station data file per read cycle: the age check,
// the read itself (CSV or HTML by the path), the thirteen panel quantities,
// the status and code texts, the stale-data alarm request and the values
// handed to the condition logic.
//
// The main window calls startReading() when monitoring starts and
// readCycle(settings) once per cycle, then shows what the result says:
//
//   StationCycleResult r = stationReader.readCycle(settings);
//   labels LblWSDesc(i)/LblWSValue(i) <- r.captions[i] / r.texts[i]
//   ShowStatus(r.status, r.statusColour); ShowCodes(r.codes, red)
//   WSAlarmMsg <- r.alarmMessage; read-lamp colour <- r.readLampColour
//   r.alarm: Start -> (r.stopSensorServerAlarm: sensor XOB_AlarmStop),
//            AlarmStart(r.alarmSound), alarm id "10"; Stop -> AlarmStop, id ""
//   panel: r.panelNameColour, r.panel.*; numbers r.values.* when r.valid
//
// Each cycle's data are what that read of the file holds, and nothing else:
// a name that is there gives its value; a name that is missing, or whose
// record is cut, gives nothing (Unknown), never 0 and never an old value.
// Station programs rewrite their files while we read them, so:
// - A read that looks like a rewrite caught in the act (a name of the last
//   counted read missing, the last record cut, no readings at all, the file
//   changed while it was read) is read again within the cycle: up to three
//   more tries within half a second. readCycle() then asks its caller to
//   call again after a pause (retryInMs) instead of blocking.
// - When no try is whole, that cycle (the first bad one in a row) goes on
//   with the last counted read's data: no level, flag or delay moves on a
//   file that is fine again a moment later. From the second bad cycle in a
//   row the cycle counts what the file holds; a file with no readings gives
//   invalid data whose age runs from the last counted read, so that
//   TimeoutREAD makes them too old however often the file changes.
// - A last CSV record without its line end is taken only from a station
//   that writes none: when two versions in a row before this one also ended
//   without one (and were whole but for that). So such a station is read
//   whole from its second rewrite after a Start on. After a read that ended
//   with a line end, on the first reads after a Start, in a read that lost
//   other names too, and while a cut file stays unchanged, it is cut.
// - After a Start nothing from before the Stop passes as data, and the first
//   read is never forgiven.
// - The file is opened without blocking and what was opened is examined: a
//   folder, a named pipe or other special file, an unreadable file or one
//   larger than maxFileBytes is handled like a missing file (code a42) with
//   its own status text. Nothing larger than maxFileBytes is ever read into
//   memory.
// - UTF-16 files (with a byte-order mark) are read like UTF-8 ones.

#include "StationTable.h"
#include "StationValues.h"

#include "Clock.h"
#include "Colours.h"
#include "Format.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <memory>

namespace skyvane::station {

// Station pages are a few kilobytes; 4 MiB leaves ample room and keeps a
// wrong path (a video, a disk image) from being read into memory.
constexpr qint64 kDefaultMaxFileBytes = 4 * 1024 * 1024;

// What the reader needs from the main window, read afresh every cycle.
struct StationSettings {
    QString filePath;                       // "Setup"/"HTMFile"
    bool dayMonthOrder = true;              // DateFormat(0) ("dd/mm/yy") selected
    CompassTable compass = defaultCompassTable();
    double timeoutReadMinutes = 3;          // TimeoutREAD
    QString humidityExclusions = QStringLiteral("%"); // "ExcChrHumidity"
    format::Separators separators = format::regional();
    bool alarmWsArmed = false;              // AlarmWS ticked
    QString alarmWsSound;                   // AlarmWS tag
    QString currentAlarmId;                 // the alarm module's current alarm id
    qint64 maxFileBytes = kDefaultMaxFileBytes;
};

enum class StationAlarmAction { None, Start, Stop };

// Why the data of a cycle are what they are.
enum class StationOutcome {
    Fresh,        // read and counted: the data are what the file holds
    TooOld,       // unchanged file whose data are older than TimeoutREAD (a41)
    Absent,       // no file at the path (a42)
    Unusable,     // folder, special file, unreadable or too large (a42)
    BeingWritten, // caught being rewritten: the last counted read stands in, once
    NoReadings,   // no readings to be had: none of the names, or a file that kept changing while read
};

// The panel texts PublishStationData shows.
struct StationPanel {
    QString windSpeed, gust, direction, dewPoint, humidity; // value + " " + unit
    QString temperature;                                    // "0.0"
};

struct StationCycleResult {
    // Not 0: the file looked like a rewrite caught in the act and nothing of
    // this try counts. Call readCycle() again after this many milliseconds;
    // every other field is empty.
    qint64 retryInMs = 0;
    int tries = 1;              // looks at the file this cycle took

    StationOutcome outcome = StationOutcome::Absent;
    // LblWSDesc / LblWSValue. Filled from the file on a good read, else kept
    // from the last good read (so that unit recognition does not flip on a
    // bad cycle).
    std::array<QString, FieldCount> captions;
    std::array<QString, FieldCount> texts;
    bool labelsRead = false;    // captions/texts were read this cycle

    bool valid = false;         // weather-station-valid flag
    bool fileAbsent = false;    // weather-station-file-absent flag
    bool tooOld = false;        // weather-station-too-old flag
    StationValues values;       // numbers; every Reading::ok is false unless valid
    QDateTime dataTime;         // the station data time

    QString status;             // ShowStatus text (may exceed 60 characters: cut on display)
    quint32 statusColour = colour::Navy;
    QString codes;              // ShowCodes text, shown in red
    QString alarmMessage;       // WSAlarmMsg
    quint32 readLampColour = colour::Yellow;

    StationAlarmAction alarm = StationAlarmAction::None;
    QString alarmSound;         // for Start
    bool stopSensorServerAlarm = false; // call the sensor server's XOB_AlarmStop before AlarmStart

    quint32 panelNameColour = colour::Red; // "Wind", "Gust", ... names
    quint32 panelValueColour = colour::Yellow; // colour of the blanked values when invalid
    StationPanel panel;         // empty when invalid

    // SecondsSinceGoodData: 3 when neither station flag nor the sensor
    // error flag is set, else 1000.
    int secondsSinceGoodData(bool sensorError) const { return (fileAbsent || tooOld || sensorError) ? 1000 : 3; }
};

class StationReader {
public:
    explicit StationReader(Clock& clock);
    ~StationReader();

    // Monitoring starts: the remembered file time becomes the text of
    // 31/12/1899 00:00:01 so that the first cycle reads the file, the
    // station data time becomes now, and the flags "file absent" and "too
    // old" and the data of the last read are cleared.
    void startReading();

    // One try at this cycle's read: age check, read, conversions,
    // publication. A result with retryInMs set is no result: the caller
    // waits that long (without blocking its event loop) and calls again with
    // the same settings; the last try always gives the cycle's result.
    StationCycleResult readCycle(const StationSettings& settings);

    const StationCycleResult& last() const { return last_; }
    QDateTime stationDataTime() const { return dataTime_; }
    QString rememberedFileTime() const { return rememberedStamp_; }
    // The remembered-time text StartReading sets.
    static QString resetFileTimeText();

private:
    struct Look;
    enum class Defect { None, LostNames, RecordCut, NoReadings, ChangedWhileRead };
    // What the previous cycle's read of the file found.
    struct PreviousRead {
        bool exists = false;
        QString stamp;
        // Versions in a row, up to this one, that ended without a line end
        // and had nothing else amiss: from two on, the station writes none.
        int unterminatedRun = 0;
        bool unterminatedCounted = false; // its last record had no line end and was taken as whole
    };

    Look look(const StationSettings& s) const;
    Defect defectOf(const Look& l) const;
    // Names of the last counted read missing, besides one whose record was cut.
    bool lostOtherNames(const Look& l) const;
    bool mayTryAgain() const;
    void forgetFile();
    StationCycleResult carriedOver() const;
    void count(StationCycleResult& r, const StationSettings& s, Look& l, const QString& status);
    void forgive(StationCycleResult& r, const StationSettings& s);
    void noReadings(StationCycleResult& r, const StationSettings& s, Defect d);
    bool turnedTooOld(StationCycleResult& r, const StationSettings& s);
    void applyOutcome(StationCycleResult& r, const StationSettings& s, StationOutcome o, const QString& status);
    void publish(StationCycleResult& r, const StationSettings& s) const;
    static void invalidate(StationCycleResult& r);
    static qint64 timeoutMs(const StationSettings& s);
    qint64 ageMs() const;

    Clock& clock_;
    QString rememberedStamp_;
    QDateTime dataTime_;
    // How far the last counted data's time is from the file's own time, when
    // by more than the age limit: the station's clock is off.
    std::optional<qint64> clockDiffersMs_;
    QString lastPath_;
    PreviousRead previous_;
    bool counted_ = false;       // a read has counted since the Start
    unsigned countedNames_ = 0;  // the names the last counted read held
    int badCyclesInARow_ = 0;
    int tries_ = 0;              // tries of the cycle under way that asked for another
    // The most usable look of the cycle under way so far: when no look is
    // whole, the cycle goes on with this one, not merely with the last.
    std::unique_ptr<Look> bestLook_;
    Defect bestDefect_ = Defect::None;
    qint64 firstTryMs_ = 0;
    StationCycleResult last_;
};

} // namespace skyvane::station
