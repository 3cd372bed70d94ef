// Throughput of the station HTML table parser (and, for comparison, the CSV
// reader) on generated pages: 100,000 rows in about 10 MB, and ten times
// that, to show that the time grows linearly with the size of the page.
// Prints figures; not a test.
#include "CsvStationParser.h"
#include "HtmlTableParser.h"
#include "StationTable.h"

#include <QByteArray>
#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace skyvane::station;

namespace {

// A station-like page: rows of name, unit and value, with cell attributes,
// entities and blanks to trim, about bytesPerRow bytes a row.
QByteArray makePage(int rows, int bytesPerRow)
{
    QByteArray page;
    page.reserve(qsizetype(rows) * bytesPerRow + 256);
    page += "<html><head><title>Station</title></head><body>\r\n<table border=\"1\">\r\n";
    const char* units[] = {"&deg;C", "km/h", "%", "hPa", "mm"};
    for (int i = 0; i < rows; ++i) {
        QByteArray row = "<tr><td class=\"n\">Sensor" + QByteArray::number(i) + "</td><td class=\"u\">" + units[i % 5]
                         + "</td><td class=\"v\">" + QByteArray::number(i % 1000) + "." + QByteArray::number(i % 10);
        const qsizetype rest = bytesPerRow - row.size() - qsizetype(sizeof("</td></tr>\r\n") - 1);
        if (rest > 0) row += QByteArray(rest, ' ');
        row += "</td></tr>\r\n";
        page += row;
    }
    page += "</table>\r\n</body></html>\r\n";
    return page;
}

QByteArray makeCsv(int rows, int bytesPerRow)
{
    QByteArray text;
    text.reserve(qsizetype(rows) * bytesPerRow);
    for (int i = 0; i < rows; ++i) {
        QByteArray line = "\"Sensor" + QByteArray::number(i) + "\",km/h," + QByteArray::number(i % 1000) + ".5";
        const qsizetype rest = bytesPerRow - line.size() - 2;
        if (rest > 0) line += QByteArray(rest, ' ');
        text += line + "\r\n";
    }
    return text;
}

template <typename Parse>
double bestSeconds(int runs, Parse parse)
{
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        parse();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

struct Figure {
    double seconds;
    double mbPerSecond;
};

Figure runHtml(const QByteArray& page, int expectedRows, int runs)
{
    int rows = 0;
    const double s = bestSeconds(runs, [&] {
        StationTable t;
        HtmlTableParser::parse(page, t, 3); // the encoding check is part of the work
        rows = t.count();
    });
    if (rows != expectedRows) std::printf("  WARNING: %d rows parsed, %d expected\n", rows, expectedRows);
    return {s, page.size() / 1e6 / s};
}

Figure runCsv(const QByteArray& text, int expectedRows, int runs)
{
    int rows = 0;
    const double s = bestSeconds(runs, [&] {
        StationTable t;
        CsvStationParser::parse(text, t);
        rows = t.count();
    });
    if (rows != expectedRows) std::printf("  WARNING: %d records read, %d expected\n", rows, expectedRows);
    return {s, text.size() / 1e6 / s};
}

} // namespace

int main()
{
    constexpr int kRows = 100000;
    constexpr int kBytesPerRow = 105; // about 10 MB for 100,000 rows
    std::printf("Station file parser throughput (best of several runs; MB = 10^6 bytes)\n\n");

    const QByteArray page = makePage(kRows, kBytesPerRow);
    const QByteArray bigPage = makePage(kRows * 10, kBytesPerRow);
    const Figure small = runHtml(page, kRows, 7);
    const Figure big = runHtml(bigPage, kRows * 10, 3);
    std::printf("HTML  %9d rows %8.2f MB  %8.1f ms  %7.1f MB/s\n", kRows, page.size() / 1e6, small.seconds * 1e3, small.mbPerSecond);
    std::printf("HTML  %9d rows %8.2f MB  %8.1f ms  %7.1f MB/s\n", kRows * 10, bigPage.size() / 1e6, big.seconds * 1e3, big.mbPerSecond);
    const double ratio = big.seconds / small.seconds;
    std::printf("HTML  time ratio 10x size: %.2f (linear: 10, limit 12)\n", ratio);
    std::printf("HTML  target >= 200 MB/s on the 10 MB page: %s; linear: %s\n\n",
                small.mbPerSecond >= 200 ? "met" : "NOT met", ratio <= 12 ? "yes" : "NO");

    const QByteArray text = makeCsv(kRows, kBytesPerRow);
    const QByteArray bigText = makeCsv(kRows * 10, kBytesPerRow);
    const Figure csvSmall = runCsv(text, kRows, 7);
    const Figure csvBig = runCsv(bigText, kRows * 10, 3);
    std::printf("CSV   %9d rows %8.2f MB  %8.1f ms  %7.1f MB/s\n", kRows, text.size() / 1e6, csvSmall.seconds * 1e3, csvSmall.mbPerSecond);
    std::printf("CSV   %9d rows %8.2f MB  %8.1f ms  %7.1f MB/s\n", kRows * 10, bigText.size() / 1e6, csvBig.seconds * 1e3, csvBig.mbPerSecond);
    std::printf("CSV   time ratio 10x size: %.2f\n", csvBig.seconds / csvSmall.seconds);
    return 0;
}
