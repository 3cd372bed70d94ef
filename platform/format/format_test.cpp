#include "Format.h"

#include <gtest/gtest.h>

using namespace skyvane::format;

namespace {
const Separators dot{QStringLiteral("."), QStringLiteral(",")};
const Separators comma{QStringLiteral(","), QStringLiteral(".")};
}

TEST(FormatNumber, PatternsOfTheMonitor)
{
    struct Row { double v; const char* pattern; const char* expect; };
    const Row rows[] = {
        {-20.25, "0.0", "-20.3"},   // half away from zero
        {0.15, "0.0", "0.2"},       // decimal rounding, not binary
        {2.5, "0", "3"},
        {-0.04, "0.0", "0.0"},      // no "-0.0"
        {7, "00", "07"},
        {15, "000", "015"},
        {3.14159, "#0.0", "3.1"},
        {0.5, "#0", "1"},
        {1234567.4, "#,##0", "1,234,567"},
        {999.96, "0.0", "1000.0"},
        {12, "0.0", "12.0"},
        {1e-7, "0.0", "0.0"},
    };
    for (const Row& r : rows) EXPECT_EQ(number(r.v, QString::fromLatin1(r.pattern), dot), QString::fromLatin1(r.expect)) << r.pattern << " " << r.v;
}

TEST(FormatNumber, RegionalSeparatorsAndNonFinite)
{
    EXPECT_EQ(number(1013.25, "0.0", comma), "1013,3");
    EXPECT_EQ(number(1234567, "#,##0", comma), "1.234.567");
    EXPECT_EQ(number(std::nan(""), "0.0", dot), "");
    EXPECT_EQ(number(1.0 / 0.0, "0", dot), "");
}

TEST(FormatDate, MonthsAndMinutes)
{
    const QDateTime t(QDate(2008, 12, 5), QTime(7, 4, 9));
    EXPECT_EQ(dateTime(t, "yyyy-mm-dd"), "2008-12-05");
    EXPECT_EQ(dateTime(t, "hh:mm:ss"), "07:04:09");
    EXPECT_EQ(dateTime(t, "dd/mm hh:mm:ss"), "05/12 07:04:09");
    EXPECT_EQ(dateTime(t, "mm/dd hh:mm:ss"), "12/05 07:04:09");
    EXPECT_EQ(dateTime(t, "dd/mm/yy"), "05/12/08");
    EXPECT_EQ(dateTime(QDateTime(), "hh:mm:ss"), "");
}

TEST(FormatParse, LeadingNumberReadsLikeVal)
{
    EXPECT_DOUBLE_EQ(leadingNumber("5.2"), 5.2);
    EXPECT_DOUBLE_EQ(leadingNumber(" 5.19 beta"), 5.19);
    EXPECT_DOUBLE_EQ(leadingNumber("v5"), 0.0);
    EXPECT_DOUBLE_EQ(leadingNumber(""), 0.0);
    double v = -1;
    EXPECT_TRUE(parseNumber(" 12.5 ", v));
    EXPECT_DOUBLE_EQ(v, 12.5);
    EXPECT_FALSE(parseNumber("12,5", v));
    EXPECT_FALSE(parseNumber("nan", v));
    EXPECT_DOUBLE_EQ(v, 12.5);
}
