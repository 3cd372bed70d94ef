#pragma once
// Turns the first table of a station's HTML page into station records: each
// table row is one record, its first three cells are name, unit and value.
//
// This is deliberately not an HTML parser. Station programs write simple,
// fixed pages, and the monitor has always found their table by plain,
// case-sensitive searches for the lower-case tags "<table", "</table>",
// "<tr>", "</tr>", "<td" and "</td>". Consequences users rely on: a row tag
// with attributes ("<tr class=x>") or in upper case is not a row; tags inside
// a cell stay in the cell text; only the first table is read.
//
// A row holding a fourth cell ends the whole parse at that cell: rows and
// cells found before it are kept, nothing after it is read.
//
// Works on the raw bytes; every search is bounded by the enclosing row or
// table, so the time is linear in the size of the page.

#include "StationTable.h"
#include "TextEncoding.h"

#include <QByteArrayView>

namespace skyvane::station {

struct HtmlParseInfo {
    bool tableFound = false;     // both "<table" and a following "</table>"
    bool stoppedAtExtraCell = false; // a row had more cells than allowed
    int rowsAdded = 0;
};

class HtmlTableParser {
public:
    // Appends the rows of the first table of text to table. The encoding is
    // taken from the text itself (UTF-8 when valid, else Windows-1252).
    static HtmlParseInfo parse(QByteArrayView text, StationTable& table, int maxCells = 3);
    static HtmlParseInfo parse(QByteArrayView text, TextEncoding enc, StationTable& table, int maxCells = 3);

    // One cell's text: entities and characters replaced in this order, every
    // occurrence: "&nbsp;" -> " ", "&amp;" -> "&", "&quot;" -> "'",
    // "&deg;" -> degree sign, "&#" -> "#", "&lt;" -> "<", "&gt;" -> ">",
    // "%20" -> " ", "'" -> " ", line feed and carriage return removed; then
    // leading and trailing blanks (spaces, tabs) removed.
    static QString decodeCell(QByteArrayView raw, TextEncoding enc);
};

} // namespace skyvane::station
