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
// - A record is complete with its line end. A last line without one may
//   have been cut off while the station program was writing it
//   ("OutHumidity,%,9" for 95 %), or the station may simply never end its
//   file with a line end: only the caller can tell the two apart, from
//   earlier reads. Unless told to keep it, such a line is dropped whole and
//   its fields are never used. A quoted field still open at the end of the
//   file is always cut and always dropped.

#include "StationTable.h"
#include "TextEncoding.h"

#include <QByteArrayView>

namespace skyvane::station {

struct CsvParseInfo {
    int recordsAdded = 0;
    bool endsWithLineEnd = false;  // the last byte is a line end
    bool cutQuote = false;         // the file ended inside a quoted field
    bool unterminatedLastLine = false; // the last record has no line end (kept or dropped)
    bool droppedLastLine = false;  // ... and was dropped
    QString droppedName;           // the name field of the dropped line, as far as it got
};

class CsvStationParser {
public:
    static CsvParseInfo parse(QByteArrayView text, StationTable& table);
    // keepUnterminatedLastLine: the station is known to write no final line
    // end, so a last line without one is a whole record.
    static CsvParseInfo parse(QByteArrayView text, TextEncoding enc, StationTable& table,
                              bool keepUnterminatedLastLine = false);
};

} // namespace skyvane::station
