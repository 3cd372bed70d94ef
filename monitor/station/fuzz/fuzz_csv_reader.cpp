// libFuzzer target: the station comma-separated reader and the conversions
// that run on its records. Any crash, sanitizer report or broken invariant
// (checked with trap) is a finding.
#include "CsvStationParser.h"
#include "StationValues.h"

#include <cstdint>

using namespace skyvane::station;

namespace {
void check(bool ok)
{
    if (!ok) __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    StationTable table;
    const CsvParseInfo info = CsvStationParser::parse(bytes, table);
    check(table.count() == info.recordsAdded);
    check(table.record(0).name.isEmpty() && table.record(0).value.isEmpty());
    // Every record starts on its own line: never more records than lines.
    qsizetype lines = 1;
    for (char c : bytes) lines += (c == '\n' || c == '\r') ? 1 : 0;
    check(info.recordsAdded <= lines);
    check(info.endsWithLineEnd == (size > 0 && (data[size - 1] == '\n' || data[size - 1] == '\r')));
    // Only a file cut inside its last line loses that line.
    check(!info.droppedLastLine || !info.endsWithLineEnd || info.cutQuote);

    StationTable other;
    const CsvParseInfo info1252 = CsvStationParser::parse(bytes, TextEncoding::Windows1252, other);
    check(info1252.recordsAdded <= lines);

    // UTF-16 files are turned into UTF-8 first; the result is read the same way.
    if (const std::optional<QByteArray> utf8 = utf16AsUtf8(bytes)) {
        check(utf8->size() <= 3 * (qsizetype(size) / 2));
        StationTable wide;
        CsvStationParser::parse(*utf8, wide);
    }

    ConversionOptions opt;
    opt.referenceYear = 2026;
    const StationValues v = convertTable(table, opt);
    check(!v.rain.ok || v.rain.value >= 0);
    check(v.dataTime.isValid() == (v.date.isValid() && v.time.isValid()));
    opt.dayMonthOrder = false;
    opt.separators.decimal = QStringLiteral(",");
    opt.humidityExclusions = QStringLiteral("% ");
    convertTable(table, opt);
    return 0;
}
