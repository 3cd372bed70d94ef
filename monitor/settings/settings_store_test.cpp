#include "SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane;

TEST(SettingsStore, DefaultsCaseInsensitiveNamesAndPersistence)
{
    QTemporaryDir dir;
    {
        SettingsStore s(dir.path());
        EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "Emulator", "9"), "9");
        s.save("XOB_Skyvane", "Setup", "Emulator", "1");
        s.save("XOB_Skyvane", "setup", "HTMFILE", "/data/wx.htm");
        // the second write found the section and kept its spelling
        EXPECT_EQ(s.sections("XOB_Skyvane"), QStringList{"Setup"});
        s.save("XOB_Skyvane", "Window", "Text", "a, b; c = d");
    }
    SettingsStore s(dir.path());
    EXPECT_EQ(s.get("xob_skyvane", "SETUP", "emulator", "9"), "1");
    EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "HtmFile"), "/data/wx.htm");
    EXPECT_EQ(s.get("XOB_Skyvane", "Window", "Text"), "a, b; c = d");
    EXPECT_TRUE(QFile::exists(dir.path() + "/XOB_Skyvane.ini"));
    // another application is another file
    EXPECT_EQ(s.get("XOB_Uploader", "Setup", "Emulator", "x"), "x");
}

TEST(SettingsStore, DeleteKeySectionAndApplication)
{
    QTemporaryDir dir;
    SettingsStore s(dir.path());
    s.save("XOB_Skyvane", "Limit", "A", "1");
    s.save("XOB_Skyvane", "Limit", "B", "2");
    s.save("XOB_Skyvane", "Color", "C", "3");
    s.save("XOB_Uploader", "Setup", "Running", "1");
    s.deleteKey("XOB_Skyvane", "limit", "a");
    EXPECT_EQ(s.keys("XOB_Skyvane", "Limit"), QStringList{"B"});
    s.deleteSection("XOB_Skyvane", "LIMIT");
    EXPECT_FALSE(s.contains("XOB_Skyvane", "Limit", "B"));
    EXPECT_EQ(s.get("XOB_Skyvane", "Color", "C"), "3");
    s.deleteApplication("XOB_Skyvane");
    EXPECT_FALSE(QFile::exists(dir.path() + "/XOB_Skyvane.ini"));
    EXPECT_EQ(s.get("XOB_Skyvane", "Color", "C", "none"), "none");
    EXPECT_EQ(s.get("XOB_Uploader", "Setup", "Running"), "1");
}

TEST(SettingsCodec, StoredEncodings)
{
    using namespace settings_codec;
    EXPECT_TRUE(toBool("True", false));
    EXPECT_FALSE(toBool("false", true));
    EXPECT_TRUE(toBool("-1", false));
    EXPECT_FALSE(toBool("0", true));
    EXPECT_TRUE(toBool("garbage", true));
    EXPECT_EQ(toInt("2", 0), 2);
    EXPECT_EQ(toInt("2.5", 0), 2); // round half to even, like the old conversions
    EXPECT_EQ(toInt("", 7), 7);
    EXPECT_EQ(toInt("99999999999", 7), 7);
    EXPECT_DOUBLE_EQ(toDouble("-12.5", 0), -12.5);
    EXPECT_DOUBLE_EQ(toDouble("x", 3), 3);
    EXPECT_EQ(fromBool(true), "True");
}
