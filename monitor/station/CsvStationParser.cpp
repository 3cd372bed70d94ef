#include "CsvStationParser.h"

#include <QByteArray>

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

CsvParseInfo CsvStationParser::parse(QByteArrayView text, TextEncoding enc, StationTable& table)
{
    CsvParseInfo info;
    const char* s = text.data();
    const qsizetype n = text.size();
    info.endsWithLineEnd = n > 0 && isLineEnd(s[n - 1]);
    qsizetype i = enc == TextEncoding::Utf8 ? bomLength(text) : 0;

    QString fields[3];
    QByteArray quoted;
    while (i < n) {
        // One line: up to three fields kept, the rest read and dropped.
        int count = 0;
        bool lineHasContent = false;
        for (;;) {
            while (i < n && isBlank(s[i])) ++i;
            QString field;
            if (i < n && s[i] == '"') {
                lineHasContent = true;
                ++i;
                quoted.clear();
                bool closed = false;
                while (i < n) {
                    if (s[i] == '"') {
                        if (i + 1 < n && s[i + 1] == '"') { quoted += '"'; i += 2; continue; }
                        ++i;
                        closed = true;
                        break;
                    }
                    quoted += s[i++];
                }
                if (closed) field = decodeText(quoted, enc);
                else info.cutQuote = true;
                while (i < n && s[i] != ',' && !isLineEnd(s[i])) ++i;
            } else {
                const qsizetype b = i;
                while (i < n && s[i] != ',' && !isLineEnd(s[i])) ++i;
                qsizetype e = i;
                while (e > b && isBlank(s[e - 1])) --e;
                if (e > b) lineHasContent = true;
                field = decodeText(s + b, e - b, enc);
            }
            if (count < 3) fields[count] = std::move(field);
            ++count;
            if (i < n && s[i] == ',') {
                lineHasContent = true;
                ++i;
                continue;
            }
            break; // line end or end of text
        }
        if (lineHasContent) {
            StationRecord& rec = table.recordForWrite(table.addRecord());
            rec.name = count > 0 ? std::move(fields[0]) : QString();
            rec.unit = count > 1 ? std::move(fields[1]) : QString();
            rec.value = count > 2 ? std::move(fields[2]) : QString();
            ++info.recordsAdded;
        }
        for (auto& f : fields) f.clear();
        if (i < n) i = skipLineEnd(s, i, n);
    }
    return info;
}

} // namespace skyvane::station
