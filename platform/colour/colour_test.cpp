#include "Colours.h"

#include <gtest/gtest.h>

using namespace skyvane;

// Settings files hold these numbers; a named colour that changed its channel
// order would read back as another colour in every existing file.
TEST(Colours, NamedColoursKeepTheirStoredNumbers)
{
    EXPECT_EQ(colour::Red, 255);
    EXPECT_EQ(colour::Orange, 33023);
    EXPECT_EQ(colour::Yellow, 65535);
    EXPECT_EQ(colour::Lime, 65280);
    EXPECT_EQ(colour::Green, 32768);
    EXPECT_EQ(colour::Cyan, 16776960);
    EXPECT_EQ(colour::Blue, 12582912);
    EXPECT_EQ(colour::Navy, 8388608);
    EXPECT_EQ(colour::Grey, 12632256);
    EXPECT_EQ(colour::DarkGrey, 4210752);
    EXPECT_EQ(colour::LightGreen, 12648384);
    EXPECT_EQ(colour::LightYellow, 12648447);
    EXPECT_EQ(colour::LightOrange, 12640511);
    EXPECT_EQ(colour::LightCyan, 16777152);
    EXPECT_EQ(colour::ClientActivity, 0x80FFFF);
}

TEST(Colours, PartsComeBackFromTheStoredValue)
{
    const int c = colour::rgb(0x12, 0x34, 0x56);
    EXPECT_EQ(c, 0x563412);
    EXPECT_EQ(colour::red(c), 0x12);
    EXPECT_EQ(colour::green(c), 0x34);
    EXPECT_EQ(colour::blue(c), 0x56);
    // Bits above the 24 colour bits are no part of any channel.
    EXPECT_EQ(colour::blue(c | 0x7F000000), 0x56);
}
