#include "Clock.h"
#include "Colours.h"
#include "FakeSoundPlayer.h"
#include "XOBCardinalPoints.h"
#include "XOBColor.h"
#include "XOBSoundForm.h"
#include "XOBUnitSymbols.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::conditions;

namespace {

void click(QWidget& dlg, const char* name)
{
    auto* b = dlg.findChild<QPushButton*>(QLatin1String(name));
    ASSERT_NE(b, nullptr) << name;
    b->click();
}

TEST(XOBColor, OkTakesSwatchAndTrimmedText)
{
    FakeClock clock;
    XOBColor dlg({QStringLiteral("Windy"), colour::LightYellow}, nullptr, &clock);
    EXPECT_EQ(colourPalette()[std::size_t(dlg.selectedSwatch())], colour::LightYellow);
    clock.advance(2000); // the frame blinks without disturbing the choice
    dlg.descriptionBox()->setText(QStringLiteral("  Breezy "));
    dlg.selectSwatch(0);
    click(dlg, "ButtOK");
    EXPECT_EQ(dlg.result(), (LevelStyle{QStringLiteral("Breezy"), colour::LightGreen}));
    EXPECT_TRUE(dlg.markCaptionFollows());
}

TEST(XOBColor, DoubleClickAppliesAtOnceAndForeignColourIsKept)
{
    FakeClock clock;
    const int foreign = colour::rgb(1, 2, 3); // set by a client, not in the palette
    XOBColor dlg({QStringLiteral("Calm"), foreign}, nullptr, &clock);
    EXPECT_EQ(dlg.swatchCount(), int(colourPalette().size()) + 1);
    click(dlg, "ButtOK");
    EXPECT_EQ(dlg.result().colour, foreign);

    XOBColor again({QStringLiteral("Calm"), foreign}, nullptr, &clock);
    again.applySwatchAtOnce(2);
    EXPECT_EQ(again.result().colour, colour::LightOrange);
    EXPECT_FALSE(again.markCaptionFollows());
    EXPECT_EQ(again.result(), (LevelStyle{QStringLiteral("Calm"), colour::LightOrange}));
}

TEST(XOBCardinalPoints, TypingIsUpperCasedAndOkStores)
{
    CompassTable table;
    XOBCardinalPoints dlg(table);
    QLineEdit* east = dlg.symbol(4);
    EXPECT_EQ(east->text(), QStringLiteral("E"));
    east->clear();
    QTest::keyClicks(east, QStringLiteral("ost"));
    EXPECT_EQ(east->text(), QStringLiteral("OST"));
    click(dlg, "ButtOK");
    EXPECT_EQ(dlg.result().get(5), QStringLiteral("OST"));
    EXPECT_EQ(dlg.result().get(1), QStringLiteral("N"));
}

TEST(XOBUnitSymbols, OkStoresUpperCase)
{
    UnitSpellings sp;
    sp.kph = QStringLiteral("KPH");
    XOBUnitSymbols dlg(sp);
    dlg.findChild<QLineEdit*>(QStringLiteral("SymbolKPH"))->setText(QStringLiteral("km/h kph"));
    dlg.findChild<QLineEdit*>(QStringLiteral("SymbolDF"))->setText(QStringLiteral("f;fahrenheit"));
    click(dlg, "ButtOK");
    EXPECT_EQ(dlg.result().kph, QStringLiteral("KM/H KPH"));
    EXPECT_EQ(dlg.result().df, QStringLiteral("F;FAHRENHEIT"));
}

TEST(XOBSoundForm, PlayOkAndClose)
{
    QTemporaryDir dir;
    FakeSoundPlayer player;
    const QString file = dir.filePath(QStringLiteral("bell.wav"));
    XOBSoundForm dlg({dir.path(), file, true}, player);
    EXPECT_EQ(dlg.fileNameBox()->text(), file);
    EXPECT_TRUE(dlg.loopBox()->isChecked());

    click(dlg, "ButtPlay");
    EXPECT_EQ(player.played, QStringList{file + QStringLiteral(" (loop)")});
    click(dlg, "ButtClear");
    EXPECT_EQ(dlg.fileNameBox()->text(), QString());
    dlg.fileNameBox()->setText(file);
    dlg.loopBox()->setChecked(false);
    click(dlg, "ButtOK");
    EXPECT_FALSE(player.isPlaying()); // closing stops what the chooser played
    const SoundChoice c = dlg.choice();
    EXPECT_EQ(c.fileName, file);
    EXPECT_FALSE(c.loop);
    EXPECT_EQ(c.folder, dir.path());
}

TEST(XOBSoundForm, ClosingTheWindowStopsThePreview)
{
    FakeSoundPlayer player;
    XOBSoundForm dlg({QString(), QStringLiteral("/x/y.wav"), false}, player);
    dlg.show();
    click(dlg, "ButtPlay");
    EXPECT_TRUE(player.isPlaying());
    dlg.close();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(dlg.result(), int(QDialog::Rejected));
}

} // namespace
