// libFuzzer target: the station HTML table parser and the conversions that
// run on its records. Any crash, sanitizer report or broken invariant
// (checked with trap) is a finding.
#include "HtmlTableParser.h"
#include "StationValues.h"

#include <cstdint>
#include <cstdlib>

using namespace skyvane::station;

namespace {
void check(bool ok)
{
    if (!ok) __builtin_trap();
}

bool blankAtEnds(const QString& s)
{
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    return !s.isEmpty() && (blank(s.front()) || blank(s.back()));
}

void checkTable(const StationTable& t, const HtmlParseInfo& info)
{
    check(t.count() == info.rowsAdded);
    check(t.record(0).name.isEmpty() && t.record(0).unit.isEmpty() && t.record(0).value.isEmpty());
    for (int i = 1; i <= t.count(); ++i) {
        const StationRecord rec = t.record(i);
        for (const QString* f : {&rec.name, &rec.unit, &rec.value}) {
            check(!f->contains(QLatin1Char('\n')) && !f->contains(QLatin1Char('\r')));
            check(!blankAtEnds(*f));
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    StationTable table;
    const HtmlParseInfo info = HtmlTableParser::parse(bytes, table);
    checkTable(table, info);

    // The same page read as code page 1252 finds the same rows: tags are
    // ASCII in both encodings.
    StationTable other;
    const HtmlParseInfo info1252 = HtmlTableParser::parse(bytes, TextEncoding::Windows1252, other);
    checkTable(other, info1252);
    check(info1252.rowsAdded == info.rowsAdded && info1252.stoppedAtExtraCell == info.stoppedAtExtraCell);

    // Fewer allowed cells never gives more rows.
    StationTable narrow;
    const HtmlParseInfo infoNarrow = HtmlTableParser::parse(bytes, TextEncoding::Windows1252, narrow, 1);
    check(infoNarrow.rowsAdded <= info.rowsAdded);

    // A UTF-16 page is read as the UTF-8 text it turns into.
    if (const std::optional<QByteArray> utf8 = utf16AsUtf8(bytes)) {
        StationTable wide;
        checkTable(wide, HtmlTableParser::parse(*utf8, wide));
    }

    ConversionOptions opt;
    opt.referenceYear = 2026;
    const StationValues v = convertTable(table, opt);
    check(!v.rain.ok || v.rain.value >= 0);
    check(!v.windDirection.ok || (v.windDirection.value >= 0 && v.windDirection.value < 360));
    opt.dayMonthOrder = false;
    opt.separators.decimal = QStringLiteral(",");
    convertTable(table, opt);
    return 0;
}
