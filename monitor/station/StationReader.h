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
// Files are messy, and the rules here keep a bad file from ever showing as
// good data:
// - A file that changes while it is read, or that has lost names compared
//   with the last good read, is taken as half-written: nothing of it is used
//   this cycle and it is read again next cycle. If the same shortened file
//   is still there unchanged a cycle later, it is the station's new layout
//   and is accepted. (A CSV line without its line end never counts: see
//   CsvStationParser.)
// - A file holding none of the names gives "no readings".
// - The first such bad read in a row goes on with the last read's data, so
//   that catching a rewrite moves no level, flag or decision; from the
//   second in a row on the data are invalid (the levels keep their last
//   value). Flags, alarm and labels stay as they were, and once the last
//   good data are older than TimeoutREAD it turns into "too old" like an
//   unchanged file would.
// - The file is opened without blocking and what was opened is examined: a
//   folder, a named pipe or other special file, an unreadable file or one
//   larger than maxFileBytes is handled like a missing file (code a42) with
//   its own status text. Nothing larger than maxFileBytes is ever read into
//   memory.
// - UTF-16 files (with a byte-order mark) are read like UTF-8 ones.

#include "StationTable.h"
#include "StationValues.h"

#include "Clock.h"
#include "Format.h"

#include <QDateTime>
#include <QString>
#include <array>

namespace skyvane::station {

// Station pages are a few kilobytes; 4 MiB leaves ample room and keeps a
// wrong path (a video, a disk image) from being read into memory.
constexpr qint64 kDefaultMaxFileBytes = 4 * 1024 * 1024;

namespace colour {
constexpr quint32 navy = 0x800000;
constexpr quint32 green = 0x8000;
constexpr quint32 red = 0xFF;
constexpr quint32 lampGreen = 0xFF00;
constexpr quint32 yellow = 0xFFFF;
constexpr quint32 panelName = 0xFFFF00;
} // namespace colour

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
    Fresh,        // read, data good
    TooOld,       // unchanged file whose data are older than TimeoutREAD (a41)
    Absent,       // no file at the path (a42)
    Unusable,     // folder, special file, unreadable or too large (a42)
    Incomplete,   // being rewritten: read again next cycle
    NoReadings,   // readable, but none of the names is in it
};

// The panel texts PublishStationData shows.
struct StationPanel {
    QString windSpeed, gust, direction, dewPoint, humidity; // value + " " + unit
    QString temperature;                                    // "0.0"
};

struct StationCycleResult {
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
    quint32 statusColour = colour::navy;
    QString codes;              // ShowCodes text, shown in red
    QString alarmMessage;       // WSAlarmMsg
    quint32 readLampColour = colour::yellow;

    StationAlarmAction alarm = StationAlarmAction::None;
    QString alarmSound;         // for Start
    bool stopSensorServerAlarm = false; // call the sensor server's XOB_AlarmStop before AlarmStart

    quint32 panelNameColour = colour::red; // "Wind", "Gust", ... names
    quint32 panelValueColour = colour::yellow; // colour of the blanked values when invalid
    StationPanel panel;         // empty when invalid

    // SecondsSinceGoodData: 3 when neither station flag nor the sensor
    // error flag is set, else 1000.
    int secondsSinceGoodData(bool sensorError) const { return (fileAbsent || tooOld || sensorError) ? 1000 : 3; }
};

class StationReader {
public:
    explicit StationReader(Clock& clock);

    // Monitoring starts: the remembered file time becomes the text of
    // 31/12/1899 00:00:01 so that the first cycle reads the file, the
    // station data time becomes now, and the flags "file absent" and "too
    // old" and the data of the last read are cleared.
    void startReading();

    // One cycle: age check, read, conversions, publication.
    StationCycleResult readCycle(const StationSettings& settings);

    const StationCycleResult& last() const { return last_; }
    QDateTime stationDataTime() const { return dataTime_; }
    QString rememberedFileTime() const { return rememberedStamp_; }
    // The records of the last read (good or not).
    const StationTable& table() const { return table_; }

    // The remembered-time text StartReading sets.
    static QString resetFileTimeText();

private:
    struct Shape {
        unsigned names = 0;
        bool csvLineEnd = false;
        bool known = false;
    };

    void applyOutcome(StationCycleResult& r, const StationSettings& s, StationOutcome o, const QString& status);
    void applyBadRead(StationCycleResult& r, const StationSettings& s, StationOutcome outcome);
    void publish(StationCycleResult& r, const StationSettings& s) const;
    static void invalidate(StationCycleResult& r);
    static qint64 timeoutMs(const StationSettings& s);

    Clock& clock_;
    QString rememberedStamp_;
    QDateTime dataTime_;
    QString lastPath_;
    Shape goodShape_;
    QString pendingStamp_;
    int badReadsInARow_ = 0;
    StationTable table_;
    StationCycleResult last_;
};

} // namespace skyvane::station
