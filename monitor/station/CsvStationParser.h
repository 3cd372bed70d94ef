#pragma once
// Reads a station's comma-separated file into station records.
//
// Rules:
// - One line holds one record: name, unit, value. A line end always ends a
//   record (outside quotes).
// - A field may be quoted with double quotes; inside quotes, commas and line
//   ends are part of the field and "" stands for one quote. Text between a
//   closing quote and the next comma is ignored.
// - Blanks (spaces, tabs) around a field are removed; blank lines are
//   skipped. A UTF-8 byte-order mark at the start is skipped.
// - A fourth or further field on a line is ignored and the record keeps its
//   first three fields. Station programs that add a trend or min/max column
//   would otherwise shift every later record by one field and every value in
//   the file would be read under the wrong name.
// - A line with fewer than three fields gives a record whose missing fields
//   are empty, so a damaged line never spills into the next one.
// - A record is complete only with its line end. The last line of a file
//   that does not end in a line end was cut off while the station program
//   was writing it ("OutHumidity,%,9" for 95 %) and is dropped whole: its
//   fields are never used. This holds also for a quoted field still open at
//   the end of the file.

#include "StationTable.h"
#include "TextEncoding.h"

#include <QByteArrayView>

namespace skyvane::station {

struct CsvParseInfo {
    int recordsAdded = 0;
    bool endsWithLineEnd = false;  // the last byte is a line end
    bool cutQuote = false;         // the file ended inside a quoted field
    bool droppedLastLine = false;  // a last line without its line end was dropped
};

class CsvStationParser {
public:
    static CsvParseInfo parse(QByteArrayView text, StationTable& table);
    static CsvParseInfo parse(QByteArrayView text, TextEncoding enc, StationTable& table);
};

} // namespace skyvane::station
