#include "CsvStationParser.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>

namespace skyvane::station {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

// Skips one line end (CR LF, LF or a lone CR) at i.
qsizetype skipLineEnd(const char* s, qsizetype i, qsizetype n)
{
    if (s[i] == '\r' && i + 1 < n && s[i + 1] == '\n') return i + 2;
    return i + 1;
}

} // namespace

CsvParseInfo CsvStationParser::parse(QByteArrayView text, StationTable& table)
{
    return parse(text, detectEncoding(text), table);
}

CsvParseInfo CsvStationParser::parse(QByteArrayView text, TextEncoding enc, StationTable& table,
                                     bool keepUnterminatedLastLine)
{
    CsvParseInfo info;
    const char* s = text.data();
    const qsizetype n = text.size();
    info.endsWithLineEnd = n > 0 && isLineEnd(s[n - 1]);
    qsizetype i = enc == TextEncoding::Utf8 ? bomLength(text) : 0;

    // Unquoted fields are views into the text; quoted ones are unescaped
    // into a buffer of their own.
    QByteArrayView fields[3];
    QByteArray quotedBuffers[4];
    while (i < n) {
        // One line: up to three fields kept, the rest read and dropped.
        int count = 0;
        bool lineHasContent = false;
        bool lineCutQuote = false;
        for (;;) {
            while (i < n && isBlank(s[i])) ++i;
            QByteArrayView field;
            if (i < n && s[i] == '"') {
                lineHasContent = true;
                ++i;
                QByteArray& quoted = quotedBuffers[std::min(count, 3)];
                quoted.clear();
                bool closed = false;
                while (i < n) {
                    if (s[i] == '"') {
                        if (i + 1 < n && s[i + 1] == '"') { quoted += '"'; i += 2; continue; }
                        ++i;
                        closed = true;
                        break;
                    }
                    // copy up to the next quote in one piece
                    const void* q = std::memchr(s + i, '"', size_t(n - i));
                    const qsizetype stop = q ? static_cast<const char*>(q) - s : n;
                    quoted.append(s + i, stop - i);
                    i = stop;
                }
                if (closed) field = quoted;
                else lineCutQuote = info.cutQuote = true;
                while (i < n && s[i] != ',' && !isLineEnd(s[i])) ++i;
            } else {
                const qsizetype b = i;
                while (i < n && s[i] != ',' && !isLineEnd(s[i])) ++i;
                qsizetype e = i;
                while (e > b && isBlank(s[e - 1])) --e;
                if (e > b) lineHasContent = true;
                field = QByteArrayView(s + b, e - b);
            }
            if (count < 3) fields[count] = field;
            ++count;
            if (i < n && s[i] == ',') {
                lineHasContent = true;
                ++i;
                continue;
            }
            break; // line end or end of text
        }
        // A line end makes a record whole; what follows the last one may
        // still be being written.
        const bool terminated = i < n;
        bool keep = terminated;
        if (lineHasContent && !terminated) {
            info.unterminatedLastLine = true;
            keep = keepUnterminatedLastLine && !lineCutQuote;
            if (!keep) {
                info.droppedLastLine = true;
                info.droppedName = decodeText(fields[0], enc).trimmed();
            }
        }
        if (lineHasContent && keep) {
            const int row = table.addRecord();
            for (int k = 0; k < std::min(count, 3); ++k) table.setField(row, StationTable::Column(k), fields[k], enc);
            ++info.recordsAdded;
        }
        for (auto& f : fields) f = QByteArrayView();
        if (i < n) i = skipLineEnd(s, i, n);
    }
    return info;
}

} // namespace skyvane::station
