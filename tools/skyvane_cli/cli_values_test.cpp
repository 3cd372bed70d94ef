// skyvane-cli's command line and output formats.
#include "CliValues.h"

#include <QDBusObjectPath>
#include <QDateTime>
#include <gtest/gtest.h>

using namespace skyvane::cli;

TEST(SkyvaneCli, CommandLines)
{
    struct Row {
        QStringList argv;
        Command command;
        const char* member;
        QStringList args;
        bool error;
    };
    const Row rows[] = {
        {{"get", "Safe"}, Command::Get, "Safe", {}, false},
        {{"set", "XOB_SpeedUnits", "k"}, Command::Set, "XOB_SpeedUnits", {"k"}, false},
        {{"call", "XOB_DataDisplayed", "value", "cloud"}, Command::Call, "XOB_DataDisplayed", {"value", "cloud"}, false},
        {{"call", "XOB_SetSwitch", "-5"}, Command::Call, "XOB_SetSwitch", {"-5"}, false}, // a negative value is no option
        {{"--timeout", "500", "list"}, Command::List, "", {}, false},
        {{"-l", "list"}, Command::List, "", {}, false},
        {{"list", "-l"}, Command::List, "", {}, false},
        {{"--help"}, Command::Help, "", {}, false},
        {{}, Command::None, "", {}, true},
        {{"get"}, Command::None, "", {}, true},
        {{"get", "A", "B"}, Command::None, "", {}, true},
        {{"set", "A"}, Command::None, "", {}, true},
        {{"frobnicate"}, Command::None, "", {}, true},
        {{"--timeout", "5000", "list"}, Command::None, "", {}, true},
        {{"--timeout"}, Command::None, "", {}, true},
        {{"--bogus", "list"}, Command::None, "", {}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.argv.join(' ').toStdString());
        const Options o = parseArguments(r.argv);
        EXPECT_EQ(!o.error.isEmpty(), r.error) << o.error.toStdString();
        if (r.error) continue;
        EXPECT_EQ(o.command, r.command);
        EXPECT_EQ(o.member, QLatin1String(r.member));
        EXPECT_EQ(o.args, r.args);
    }
    EXPECT_EQ(parseArguments({"--timeout", "500", "list"}).timeoutMs, 500);
    EXPECT_TRUE(parseArguments({"list", "-l"}).longList);
    EXPECT_FALSE(parseArguments({"list"}).longList);
    EXPECT_EQ(parseArguments({"--class", "XOB_Nephor.Nephor", "list"}).progId, QStringLiteral("XOB_Nephor.Nephor"));
    EXPECT_TRUE(usage().contains(QStringLiteral("exit status")));
}

TEST(SkyvaneCli, ValuesAndOutput)
{
    EXPECT_EQ(argumentValue("3.5"), QVariant(QStringLiteral("3.5")));
    EXPECT_EQ(argumentValue("@list:a,b"), QVariant(QVariantList{"a", "b"}));
    EXPECT_EQ(argumentValue("@list:"), QVariant(QVariantList{}));

    EXPECT_EQ(formatValue(true), QStringLiteral("True"));
    EXPECT_EQ(formatValue(-21.25), QStringLiteral("-21.25"));
    EXPECT_EQ(formatValue(QVariant()), QString());
    EXPECT_EQ(formatValue(QVariant::fromValue(QDBusObjectPath("/MForm"))), QStringLiteral("/MForm"));
    EXPECT_EQ(formatValue(QVariantList{1, 2}), QStringLiteral("1\n2"));
    EXPECT_EQ(formatValue(QVariantList{QVariantList{1, "a"}, QVariantList{2, "b"}}), QStringLiteral("1\ta\n2\tb"));
    EXPECT_EQ(formatValue(QDateTime(QDate(2026, 12, 7), QTime(21, 0, 5))), QStringLiteral("2026-12-07 21:00:05"));
}

TEST(CliValues, DeviceStartWaitsForTheWholeStart)
{
    // The start waits up to NPTimeout for the sensor's first data: far beyond
    // the 2 s of an ordinary call.
    EXPECT_EQ(memberTimeoutMs("Device_Start", 2000), kStartCallMs);
    EXPECT_GE(kStartCallMs, 10000 + 5000); // NPTimeout's default + 5 s
    EXPECT_EQ(memberTimeoutMs("Device_Stop", 2000), 2000);
    EXPECT_EQ(memberTimeoutMs("Safe", 800), 800);
}
