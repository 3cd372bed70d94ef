// The HTML table parser, the CSV reader, the station table and the value
// conversions, on texts held in memory.
#include "CsvStationParser.h"
#include "HtmlTableParser.h"
#include "StationTable.h"
#include "StationValues.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace skyvane::station;

namespace {

const QString kDegree = QString(QChar(0xB0));

StationTable html(const QByteArray& text)
{
    StationTable t;
    HtmlTableParser::parse(text, t, 3);
    return t;
}

StationTable csv(const QByteArray& text)
{
    StationTable t;
    CsvStationParser::parse(text, t);
    return t;
}

QByteArray row(const QByteArray& a, const QByteArray& b, const QByteArray& c)
{
    return "<tr><td>" + a + "</td><td>" + b + "</td><td>" + c + "</td></tr>";
}

} // namespace

// ---- HTML table parser ----------------------------------------------------

TEST(HtmlTableParser, CellTextsDecodedInOrder)
{
    struct Case { const char* cell; QString expected; };
    const Case cases[] = {
        {"12&deg;C", QStringLiteral("12") + kDegree + QStringLiteral("C")},
        {"&nbsp;", QString()},
        {"  spaced\t", QStringLiteral("spaced")},
        {"a&amp;b", QStringLiteral("a&b")},
        {"&amp;lt;", QStringLiteral("<")},           // decoded amp, then lt
        {"&amp;nbsp;", QStringLiteral("&nbsp;")},    // nbsp step already past
        {"&quot;x&quot;", QStringLiteral("x")},      // quotes become blanks, trimmed
        {"it's", QStringLiteral("it s")},
        {"&#176;", QStringLiteral("#176;")},         // numeric references not decoded
        {"&lt;b&gt;", QStringLiteral("<b>")},
        {"Out%20Temp", QStringLiteral("Out Temp")},
        {"line\r\nend", QStringLiteral("lineend")},
        {"<b>12</b>", QStringLiteral("<b>12</b>")},  // nested tags stay
    };
    for (const Case& c : cases) {
        const StationTable t = html(QByteArray("<table>") + row("x", "", c.cell) + "</table>");
        ASSERT_EQ(t.count(), 1) << c.cell;
        EXPECT_EQ(t.record(1).value, c.expected) << c.cell;
    }
}

TEST(HtmlTableParser, CellTagWithAttributes)
{
    const StationTable t = html("<table><tr><td class=\"v\" align=right>12&deg;C</td></tr></table>");
    ASSERT_EQ(t.count(), 1);
    EXPECT_EQ(t.record(1).name, QStringLiteral("12") + kDegree + QStringLiteral("C"));
}

TEST(HtmlTableParser, WhatCountsAsATable)
{
    struct Case { const char* name; QByteArray page; int rows; };
    const Case cases[] = {
        {"no table", "<html><body><p>OutTemp 12</p></body></html>", 0},
        {"table never closed", "<table>" + row("OutTemp", "C", "12"), 0},
        {"row tag with attributes", "<table><tr class=\"a\"><td>OutTemp</td></tr></table>", 0},
        {"upper-case tags", "<TABLE><TR><TD>OutTemp</TD></TR></TABLE>", 0},
        {"upper-case cells", "<table><tr><TD>OutTemp</TD></tr></table>", 1},
        {"row never closed", "<table><tr><td>OutTemp</td></table>", 0},
        {"row closing after the table", "<table><tr><td>a</td></table></tr>", 0},
        {"two rows", "<table>" + row("a", "b", "c") + row("d", "e", "f") + "</table>", 2},
        {"table with attributes", "<table border=1 width=\"100%\">" + row("a", "b", "c") + "</table>", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(html(c.page).count(), c.rows) << c.name;
}

TEST(HtmlTableParser, OnlyTheFirstTableIsRead)
{
    const StationTable t = html("<table>" + row("OutTemp", "C", "12") + "</table><table>" + row("Gust", "km/h", "30") + "</table>");
    ASSERT_EQ(t.count(), 1);
    EXPECT_EQ(t.find(u"Gust"), 0);
}

TEST(HtmlTableParser, FourthCellEndsTheParse)
{
    StationTable t;
    const HtmlParseInfo info = HtmlTableParser::parse(
        "<table>" + row("OutTemp", "C", "12")
            + "<tr><td>Gust</td><td>km/h</td><td>30</td><td>max</td></tr>" + row("WindSpeed", "km/h", "5") + "</table>",
        t, 3);
    EXPECT_TRUE(info.stoppedAtExtraCell);
    ASSERT_EQ(t.count(), 2); // the row with the extra cell stays, with its three cells
    EXPECT_EQ(t.record(2).value, QStringLiteral("30"));
    EXPECT_EQ(t.find(u"WindSpeed"), 0);
}

TEST(HtmlTableParser, ShortRowsAndCellsWithoutEnd)
{
    const StationTable t = html("<table><tr><td>OutTemp</td></tr><tr><td>Gust<td>x</td></tr><tr></tr></table>");
    ASSERT_EQ(t.count(), 3);
    EXPECT_EQ(t.record(1).name, QStringLiteral("OutTemp"));
    EXPECT_TRUE(t.record(1).unit.isEmpty());
    // "<td>Gust<td>x</td>": the first cell runs from the first tag's ">" to
    // the first "</td>", the second "<td" is inside it
    EXPECT_EQ(t.record(2).name, QStringLiteral("Gust<td>x"));
    EXPECT_TRUE(t.record(3).name.isEmpty());
}

TEST(HtmlTableParser, EncodingsOfTheDegreeSign)
{
    const QString expected = kDegree + QStringLiteral("C");
    EXPECT_EQ(html("<table><tr><td>t</td><td>\xC2\xB0" "C</td></tr></table>").record(1).unit, expected); // UTF-8
    EXPECT_EQ(html("<table><tr><td>t</td><td>\xB0" "C</td></tr></table>").record(1).unit, expected);     // code page 1252
    // code page 1252 beyond Latin-1: the euro sign is byte 0x80
    EXPECT_EQ(html("<table><tr><td>\x80</td></tr></table>").record(1).name, QString(QChar(0x20AC)));
    // an entity in a 1252 page gives the same sign
    EXPECT_EQ(html("<table><tr><td>\xE9</td><td>&deg;C</td></tr></table>").record(1).unit, expected);
}

// ---- station table ------------------------------------------------------------

TEST(StationTable, LookupIgnoresCaseAndTakesTheFirst)
{
    const StationTable t = html("<table>" + row("OutTemp", "C", "12") + row("OUTTEMP", "F", "54") + "</table>");
    EXPECT_EQ(t.find(u"outtemp"), 1);
    EXPECT_EQ(t.lookup(u"outtemp").value, QStringLiteral("12"));
    EXPECT_EQ(t.find(u"Gust"), 0);
    EXPECT_TRUE(t.lookup(u"Gust").value.isEmpty());
    EXPECT_TRUE(t.record(99).name.isEmpty());
}

// ---- CSV reader ---------------------------------------------------------------

TEST(CsvStationParser, Fields)
{
    struct Case { const char* name; QByteArray text; QStringList first; int records; };
    const Case cases[] = {
        {"plain", "OutTemp,C,12.5\nGust,km/h,30\n", {"OutTemp", "C", "12.5"}, 2},
        {"CR LF and blanks", "  OutTemp , C ,\t12.5 \r\nGust,km/h,30\r\n", {"OutTemp", "C", "12.5"}, 2},
        {"lone CR", "OutTemp,C,12.5\rGust,km/h,30\r", {"OutTemp", "C", "12.5"}, 2},
        {"quoted with comma", "\"Out,Temp\",\"C\",\"12.5\"\n", {"Out,Temp", "C", "12.5"}, 1},
        {"doubled quote", "\"say \"\"hi\"\"\",u,v\n", {"say \"hi\"", "u", "v"}, 1},
        {"line end inside quotes", "\"two\nlines\",u,v\nGust,km/h,30\n", {"two\nlines", "u", "v"}, 2},
        {"text after closing quote", "\"12.5\"C,u,v\n", {"12.5", "u", "v"}, 1},
        {"blank lines skipped", "\n\n  \nOutTemp,C,12.5\n\n", {"OutTemp", "C", "12.5"}, 1},
        {"byte-order mark", "\xEF\xBB\xBF" "Date,,05/12/08\n", {"Date", "", "05/12/08"}, 1},
        {"short line", "OutTemp,C\nGust,km/h,30\n", {"OutTemp", "C", ""}, 2},
        // A fourth field is dropped and does not shift the next record.
        {"fourth field", "OutTemp,C,12.5,rising\nGust,km/h,30\n", {"OutTemp", "C", "12.5"}, 2},
        {"empty file", "", {}, 0},
    };
    for (const Case& c : cases) {
        const StationTable t = csv(c.text);
        ASSERT_EQ(t.count(), c.records) << c.name;
        if (c.records == 0) continue;
        EXPECT_EQ((QStringList{t.record(1).name, t.record(1).unit, t.record(1).value}), c.first) << c.name;
    }
    const StationTable t = csv("OutTemp,C,12.5,rising,fast\nGust,km/h,30\n");
    EXPECT_EQ(t.lookup(u"Gust").value, QStringLiteral("30"));
}

TEST(CsvStationParser, ALineWithoutItsLineEndIsUsedOnlyWhenToldSo)
{
    // kept: records when the station is known to write no final line end
    struct Case { const char* name; QByteArray text; int records; bool dropped; int kept; const char* droppedName; };
    const Case cases[] = {
        {"cut inside the value", "OutTemp,C,12.5\r\nOutHumidity,%,9", 1, true, 2, "OutHumidity"},
        {"cut after the value", "OutTemp,C,12.5\r\nOutHumidity,%,95", 1, true, 2, "OutHumidity"},
        {"cut between CR and LF", "OutTemp,C,12.5\r\nOutHumidity,%,95\r", 2, false, 2, ""},
        {"cut inside quotes", "OutTemp,C,12.5\nOutHumidity,%,\"9", 1, true, 1, "OutHumidity"},
        {"cut inside quotes after a line end", "OutTemp,C,12.5\nOutHumidity,%,\"95\n", 1, true, 1, "OutHumidity"},
        {"closing quote, no line end", "OutTemp,C,12.5\nOutHumidity,%,\"95\"", 1, true, 2, "OutHumidity"},
        {"only a cut line", "OutTe", 0, true, 1, "OutTe"},
        {"cut inside a quoted name", "OutTemp,C,12.5\n\"OutHum", 1, true, 1, ""},
        {"trailing blanks are no line", "OutTemp,C,12.5\n  ", 1, false, 1, ""},
        {"whole", "OutTemp,C,12.5\nOutHumidity,%,95\n", 2, false, 2, ""},
    };
    for (const Case& c : cases) {
        StationTable t;
        const CsvParseInfo info = CsvStationParser::parse(c.text, t);
        EXPECT_EQ(t.count(), c.records) << c.name;
        EXPECT_EQ(info.recordsAdded, c.records) << c.name;
        EXPECT_EQ(info.droppedLastLine, c.dropped) << c.name;
        EXPECT_EQ(info.droppedName, QString::fromLatin1(c.droppedName)) << c.name;
        EXPECT_EQ(t.find(u"OutHumidity") != 0, c.records == 2) << c.name;

        StationTable kept;
        const CsvParseInfo k = CsvStationParser::parse(c.text, detectEncoding(c.text), kept, true);
        EXPECT_EQ(kept.count(), c.kept) << c.name;
        EXPECT_EQ(k.unterminatedLastLine, c.dropped) << c.name;
    }
    StationTable t;
    CsvStationParser::parse("OutTemp,C,12.5\nOutHumidity,%,95", TextEncoding::Utf8, t, true);
    EXPECT_EQ(t.lookup(u"OutHumidity").value, QStringLiteral("95"));
}

TEST(TextEncoding, Utf16WithByteOrderMark)
{
    const QString text = QStringLiteral("OutTemp,\u00B0C,12.5\r\n");
    QByteArray le("\xFF\xFE", 2), be("\xFE\xFF", 2);
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        le += char(u & 0xFF);
        le += char(u >> 8);
        be += char(u >> 8);
        be += char(u & 0xFF);
    }
    EXPECT_EQ(utf16AsUtf8(le), text.toUtf8());
    EXPECT_EQ(utf16AsUtf8(be), text.toUtf8());
    // half a character at the end is dropped
    EXPECT_EQ(utf16AsUtf8(le + 'x'), text.toUtf8());
    EXPECT_EQ(utf16AsUtf8(QByteArray("\xFF\xFE", 2)), QByteArray());
    // anything else is not UTF-16
    EXPECT_EQ(utf16AsUtf8("OutTemp,C,12"), std::nullopt);
    EXPECT_EQ(utf16AsUtf8("\xEF\xBB\xBFOutTemp"), std::nullopt);
    EXPECT_EQ(utf16AsUtf8("\xFF"), std::nullopt);
}

TEST(CsvStationParser, Encodings)
{
    const QString degC = kDegree + QStringLiteral("C");
    EXPECT_EQ(csv("OutTemp,\xC2\xB0" "C,12\n").record(1).unit, degC);
    EXPECT_EQ(csv("OutTemp,\xB0" "C,12\n").record(1).unit, degC);
    // a UTF-8 file cut inside its last character is still UTF-8
    EXPECT_EQ(csv("OutTemp,\xC2\xB0" "C,12\nDewPoint,\xC2").record(1).unit, degC);
    EXPECT_EQ(detectEncoding("OutTemp,\xC2\xB0" "C,12\nDewPoint,\xE2\x84"), TextEncoding::Utf8);
    EXPECT_EQ(detectEncoding("OutTemp,\xB0" "C,12\nDewPoint,\xB0"), TextEncoding::Windows1252);
}

// ---- conversions ----------------------------------------------------------------

TEST(StationValues, Dates)
{
    struct Case { const char* text; bool dayMonth; QDate expected; };
    const Case cases[] = {
        {"05/12/08", true, QDate(2008, 12, 5)},
        {"05/12/08", false, QDate(2008, 5, 12)},
        {"05-12-2008", true, QDate(2008, 12, 5)},
        {"05.12.08", true, QDate(2008, 12, 5)},
        {"5/1/99", true, QDate(1999, 1, 5)},
        {"5/1/75", true, QDate(2075, 1, 5)},      // nearest to 2026
        {"5/1/77", true, QDate(1977, 1, 5)},
        {"05/12/2008 21:05", true, QDate(2008, 12, 5)},
        {"31/02/08", true, QDate()},
        {"13/13/08", false, QDate()},
        {"05/12", true, QDate()},
        {"", true, QDate()},
        {"today", true, QDate()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseStationDate(QString::fromLatin1(c.text), c.dayMonth, 2026), c.expected) << c.text << " " << c.dayMonth;
}

TEST(StationValues, Times)
{
    EXPECT_EQ(parseStationTime(u"21:05:33"), QTime(21, 5, 33));
    EXPECT_EQ(parseStationTime(u" 21:05 "), QTime(21, 5, 0));
    EXPECT_EQ(parseStationTime(u"9:05:33 PM"), QTime(21, 5, 33));
    EXPECT_EQ(parseStationTime(u"12:00am"), QTime(0, 0, 0));
    EXPECT_EQ(parseStationTime(u"21:05:33.7"), QTime(21, 5, 33));
    EXPECT_FALSE(parseStationTime(u"25:00").isValid());
    EXPECT_FALSE(parseStationTime(u"2105").isValid());
    EXPECT_FALSE(parseStationTime(u"").isValid());
}

TEST(StationValues, Numbers)
{
    struct Case { const char* text; const char* excl; const char* sep; bool ok; double value; };
    const Case cases[] = {
        {"12.5", "", ".", true, 12.5},
        {" -3.25 ", "", ".", true, -3.25},
        {"87 %", "%", ".", true, 87},
        {"87 %", "", ".", false, 0},
        {"12.5", "", ",", true, 12.5},
        {"12,5", "", ",", true, 12.5},
        {"12,5", "", ".", false, 0},     // no group separators
        {"1,013.2", "", ".", false, 0},
        {"---", "", ".", false, 0},
        {"", "", ".", false, 0},
        {"nan", "", ".", false, 0},
    };
    for (const Case& c : cases) {
        double v = 0;
        const bool ok = parseStationNumber(QString::fromLatin1(c.text), QString::fromLatin1(c.excl), QString::fromLatin1(c.sep), v);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
}

TEST(StationValues, Compass)
{
    const CompassTable t = defaultCompassTable();
    bool ok = false;
    EXPECT_DOUBLE_EQ(compassToDegrees(u"N", t, &ok), 0.0);
    EXPECT_TRUE(ok);
    EXPECT_DOUBLE_EQ(compassToDegrees(u" ssw ", t), 202.5);
    EXPECT_DOUBLE_EQ(compassToDegrees(u"NNW", t), 337.5);
    EXPECT_DOUBLE_EQ(compassToDegrees(u"225", t, &ok), 0.0); // degrees are not recognised
    EXPECT_FALSE(ok);
    CompassTable french = t;
    french[13] = QStringLiteral("O");
    EXPECT_DOUBLE_EQ(compassToDegrees(u"o", french), 270.0);
}

TEST(StationValues, ThirteenQuantities)
{
    const StationTable t = csv(
        "Date,,05/12/08\nTime,,21:05\noutTemp,\xC2\xB0" "C,12.5\nWindSpeed,km/h,8.3\nGust,km/h,14\n"
        "WindDirection,,SSW\nRainDayMin,mm,12.7\nRainDayMax,mm,10.2\nOutHumidity,%,87 %\n"
        "DewPoint,\xC2\xB0" "C,10.4\nBarometer,hPa,1013.25\n");
    ConversionOptions opt;
    opt.referenceYear = 2026;
    opt.separators.decimal = QStringLiteral(",");
    const StationValues v = convertTable(t, opt);
    const QStringList texts = {"05/12", "21:05:00", "12,5", "8,3", "14", "202,5", "2,5", "87", "10,4", "1013,3",
                               kDegree + "C", "km/h", "hPa"};
    for (int i = 0; i < FieldCount; ++i) EXPECT_EQ(v.texts[size_t(i)], texts[i]) << i;
    EXPECT_EQ(v.captions[FieldOutTemp], QStringLiteral("outTemp")); // as written in the file
    EXPECT_EQ(v.captions[FieldRain], QStringLiteral("RainDaily"));
    EXPECT_EQ(v.captions[FieldBarometerUnit], QStringLiteral("Units"));
    EXPECT_DOUBLE_EQ(v.rain.value, 2.5); // swapped min and max
    EXPECT_TRUE(v.rain.ok);
    EXPECT_DOUBLE_EQ(v.humidity.value, 87);
    EXPECT_EQ(v.dataTime, QDateTime(QDate(2008, 12, 5), QTime(21, 5)));
    EXPECT_EQ(v.namesFoundCount(), NameCount);

    opt.dayMonthOrder = false;
    EXPECT_EQ(convertTable(t, opt).texts[FieldDate], QStringLiteral("05/12")); // 12 May, shown mm/dd
    EXPECT_EQ(convertTable(t, opt).date, QDate(2008, 5, 12));
}

TEST(StationValues, MissingAndUnreadableNames)
{
    const StationTable t = csv("OutTemp,C,n/a\nWindDirection,deg,225\n");
    const StationValues v = convertTable(t, ConversionOptions{});
    EXPECT_FALSE(v.outTemp.ok);
    EXPECT_EQ(v.texts[FieldOutTemp], QStringLiteral("n/a")); // shown as written
    EXPECT_FALSE(v.windDirection.ok);
    EXPECT_EQ(v.texts[FieldWindDirection], QStringLiteral("0.0"));
    EXPECT_FALSE(v.gust.ok);
    EXPECT_TRUE(v.texts[FieldGust].isEmpty());
    EXPECT_EQ(v.captions[FieldGust], QStringLiteral("Gust")); // labelled even when missing
    EXPECT_FALSE(v.dataTime.isValid());
}

TEST(StationExamples, BothSampleFilesGiveTheSameReadings)
{
    const QString root = qEnvironmentVariable("SKYVANE_SOURCE_DIR");
    ASSERT_FALSE(root.isEmpty());
    StationValues values[2];
    const char* files[2] = {"/examples/station.csv", "/examples/station.htm"};
    for (int i = 0; i < 2; ++i) {
        QFile f(root + QString::fromLatin1(files[i]));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << files[i];
        const QByteArray bytes = f.readAll();
        StationTable t;
        if (i == 0) CsvStationParser::parse(bytes, t);
        else HtmlTableParser::parse(bytes, t);
        ConversionOptions opt;
        opt.separators.decimal = QStringLiteral(".");
        opt.referenceYear = 2026;
        values[i] = convertTable(t, opt);
        EXPECT_EQ(values[i].namesFoundCount(), NameCount) << files[i];
    }
    for (int k = 0; k < FieldCount; ++k) EXPECT_EQ(values[0].texts[size_t(k)], values[1].texts[size_t(k)]) << k;
}
