#include "HtmlTableParser.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>

namespace skyvane::station {

namespace {

// Position of needle in s[from, end) (the whole needle inside), or -1.
qsizetype findIn(const char* s, qsizetype from, qsizetype end, const char* needle, qsizetype nlen)
{
    const char first = needle[0];
    qsizetype i = from;
    while (end - i >= nlen) {
        const void* hit = std::memchr(s + i, first, size_t(end - i - nlen + 1));
        if (!hit) return -1;
        i = static_cast<const char*>(hit) - s;
        if (std::memcmp(s + i + 1, needle + 1, size_t(nlen - 1)) == 0) return i;
        ++i;
    }
    return -1;
}

template <size_t N>
qsizetype findIn(const char* s, qsizetype from, qsizetype end, const char (&needle)[N])
{
    return findIn(s, from, end, needle, qsizetype(N - 1));
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

QByteArrayView trimBlanks(QByteArrayView raw)
{
    qsizetype b = 0, e = raw.size();
    while (b < e && isBlank(raw[b])) ++b;
    while (e > b && isBlank(raw[e - 1])) --e;
    return raw.sliced(b, e - b);
}

bool needsReplacing(QByteArrayView raw)
{
    for (char c : raw)
        if (c == '&' || c == '%' || c == '\'' || c == '\n' || c == '\r') return true;
    return false;
}

// The order matters and is kept: each step works on the result of the one
// before, so "&amp;lt;" ends up as "<" but "&amp;nbsp;" as "&nbsp;".
QByteArray replaced(QByteArrayView raw, TextEncoding enc)
{
    QByteArray t = raw.toByteArray();
    t.replace("&nbsp;", " ");
    t.replace("&amp;", "&");
    t.replace("&quot;", "'");
    t.replace(QByteArrayView("&deg;"), degreeSign(enc));
    t.replace("&#", "#");
    t.replace("&lt;", "<");
    t.replace("&gt;", ">");
    t.replace("%20", " ");
    t.replace("'", " ");
    t.replace("\n", "");
    t.replace("\r", "");
    return t;
}

} // namespace

QString HtmlTableParser::decodeCell(QByteArrayView raw, TextEncoding enc)
{
    if (!needsReplacing(raw)) return decodeText(trimBlanks(raw), enc);
    return decodeText(trimBlanks(replaced(raw, enc)), enc);
}

HtmlParseInfo HtmlTableParser::parse(QByteArrayView text, StationTable& table, int maxCells)
{
    return parse(text, detectEncoding(text), table, maxCells);
}

HtmlParseInfo HtmlTableParser::parse(QByteArrayView text, TextEncoding enc, StationTable& table, int maxCells)
{
    HtmlParseInfo info;
    maxCells = std::clamp(maxCells, 0, 3);
    const char* s = text.data();
    const qsizetype n = text.size();

    const qsizetype t0 = findIn(s, 0, n, "<table");
    if (t0 < 0) return info;
    const qsizetype t1 = findIn(s, t0, n, "</table>");
    if (t1 < 0) return info;
    info.tableFound = true;

    // A tag that starts after t1 (or r1) does not count; searching only up
    // to where such a tag could still start keeps each search inside the
    // table (or row) it belongs to.
    qsizetype p = t0;
    for (;;) {
        const qsizetype r0 = findIn(s, p, t1 + 4, "<tr>");
        if (r0 < 0) break;
        const qsizetype r1 = findIn(s, r0, t1 + 5, "</tr>");
        if (r1 < 0) break;
        const int row = table.addRecord();
        ++info.rowsAdded;
        qsizetype q = r0;
        for (int c = 1;; ++c) {
            const qsizetype d0 = findIn(s, q, r1 + 3, "<td");
            if (d0 < 0) break;
            const void* gt = std::memchr(s + d0, '>', size_t(r1 + 1 - d0));
            if (!gt) break;
            const qsizetype g = static_cast<const char*>(gt) - s;
            const qsizetype d1 = findIn(s, g, r1 + 5, "</td>");
            if (d1 < 0) break;
            if (c > maxCells) {
                // No room for this cell: the parse ends here, keeping what
                // was read so far.
                info.stoppedAtExtraCell = true;
                return info;
            }
            // Most cells hold nothing to replace and go straight in.
            const QByteArrayView raw(s + g + 1, d1 - g - 1);
            const auto column = StationTable::Column(c - 1);
            if (!needsReplacing(raw)) table.setField(row, column, trimBlanks(raw), enc);
            else table.setField(row, column, trimBlanks(replaced(raw, enc)), enc);
            q = d1;
        }
        p = r1;
    }
    return info;
}

} // namespace skyvane::station
