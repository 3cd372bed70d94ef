#pragma once
// The thirteen panel quantities taken from a station table, with their
// conversions: date (day/month order chosen by the user, two-digit years),
// time, plain numbers, compass names to degrees, the day's rain and the
// unit texts.

#include "StationTable.h"

#include "Format.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <array>

namespace skyvane::station {

// Panel positions (label arrays LblWSDesc / LblWSValue).
enum StationField : int {
    FieldDate = 0,
    FieldTime = 1,
    FieldOutTemp = 2,
    FieldWindSpeed = 3,
    FieldGust = 4,
    FieldWindDirection = 5,
    FieldRain = 6,
    FieldHumidity = 7,
    FieldDewPoint = 8,
    FieldBarometer = 9,
    FieldTempUnit = 10,
    FieldSpeedUnit = 11,
    FieldBarometerUnit = 12,
    FieldCount = 13
};

// The names looked up in the file, and the bit each one has in
// StationValues::namesFound.
enum StationName : int {
    NameDate, NameTime, NameOutTemp, NameWindSpeed, NameGust, NameWindDirection,
    NameRainDayMin, NameRainDayMax, NameOutHumidity, NameDewPoint, NameBarometer,
    NameCount
};
QString stationName(StationName n);

using CompassTable = std::array<QString, 17>; // 1..16 used, from north clockwise
CompassTable defaultCompassTable();

struct ConversionOptions {
    bool dayMonthOrder = true;          // DateFormat(0) "dd/mm/yy" selected
    CompassTable compass = defaultCompassTable();
    QString humidityExclusions = QStringLiteral("%"); // "ExcChrHumidity"
    format::Separators separators;      // the user's decimal separator
    int referenceYear = 2000;           // this year: decides two-digit years
    QDateTime fileModified;             // decides a local time that stands for two moments
};

// Why a reading has no value.
enum class Missing : quint8 {
    None,        // it has one
    NotInFile,   // the file holds no record of that name
    RecordCut,   // its record was cut off (a last line caught without its line end)
    NotANumber,  // the record is there, its value text cannot be read
    NoData,      // there are no current station data at all
};
// How people read it: "not in the station file", ...; empty for None.
QString missingText(Missing m);

struct Reading {
    double value = 0.0;   // 0 when not ok
    bool ok = false;      // the name was found and its text read
    Missing missing = Missing::NotInFile;
    static Reading of(double v) { return {v, true, Missing::None}; }
    static Reading none(Missing why) { return {0.0, false, why}; }
};

struct StationValues {
    std::array<QString, FieldCount> captions;
    std::array<QString, FieldCount> texts;
    // Unit field of each quantity's record, for the panel ("12.5 km/h").
    std::array<QString, FieldCount> units;
    Reading outTemp, windSpeed, gust, windDirection, rain, humidity, dewPoint, barometer;
    QDate date;           // invalid when the date text could not be read
    QTime time;           // invalid when the time text could not be read
    QDateTime dataTime;   // date + time; invalid unless both are
    unsigned namesFound = 0; // bit (1 << StationName) per name present
    int namesFoundCount() const;
};

StationValues convertTable(const StationTable& table, const ConversionOptions& opt);

// The date in a text such as "05/12/08", "2008-12-05" needs the right order
// (day first or month first). The separator is "/" if present, else "-",
// else "."; the text is cut at its first two separators. A year written with
// one or two digits is put in the century that brings it closest to
// referenceYear (so 08 is 2008 and 99 is 1999 when it is 2026). Invalid
// dates (31 February, letters, a missing part) give an invalid QDate.
QDate parseStationDate(QStringView text, bool dayMonthOrder, int referenceYear);

// "21:05:33", "21:05", "9:05:33 PM"; anything else gives an invalid QTime.
QTime parseStationTime(QStringView text);

// A number written with "." as the decimal point, after removing every
// character of exclusions. When the user's decimal separator is not ".", a
// text that uses that separator instead of "." is read too. Surrounding
// blanks are ignored. False when the text is not a number.
bool parseStationNumber(QStringView text, QStringView exclusions, const QString& decimalSeparator, double& value);

// Compass name to degrees: trimmed, upper-cased and compared with entries
// 1..16; entry k gives (k - 1) * 22.5. No match (a number such as "225"
// included) gives 0 and ok false.
double compassToDegrees(QStringView name, const CompassTable& table, bool* ok = nullptr);

} // namespace skyvane::station
