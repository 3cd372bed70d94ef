#include "Safety.h"
#include "SectorEditing.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace skyvane::conditions;

TEST(SectorEdit, OpensWithTheStoredSector)
{
    const SectorEdit d = SectorEdit::fromText(kDefaultSectorText);
    EXPECT_EQ(d.from(), 0);
    EXPECT_EQ(d.to(), 359);
    EXPECT_EQ(d.minutes(), 1);
    const SectorEdit n = SectorEdit::fromText(QStringLiteral("-090 090  05 "));
    EXPECT_EQ(n.from(), -90);
    EXPECT_EQ(n.to(), 90);
    EXPECT_EQ(n.minutes(), 5);
    // A short text is padded as the gate pads it: the missing minute digit
    // becomes a 0 behind the one that is there.
    const SectorEdit s = SectorEdit::fromText(QStringLiteral(" 045  100  5"));
    EXPECT_EQ(s.from(), 45);
    EXPECT_EQ(s.to(), 100);
    EXPECT_EQ(s.minutes(), 50);
}

TEST(SectorEdit, TextStoredByHandOpensClamped)
{
    struct Row { const char* text; int from, to, minutes; };
    const Row rows[] = {
        {"300  060  05", 60, 60, 5},        // from after to: nothing in it, shown empty
        {"-300 0300 10", -59, 300, 10},     // more than a full turn
        {"-999 0999 99", 0, 359, 99},       // out of range both ways
        {"xyz  abc  zz", 0, 0, 0},          // not numbers
        {"-010 -005 01", -10, 0, 1},        // to below 0
        {"0100 0200 7x", 100, 200, 7},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        const SectorEdit e = SectorEdit::fromText(QString::fromLatin1(r.text));
        EXPECT_TRUE(e.isValid());
        EXPECT_EQ(e.from(), r.from);
        EXPECT_EQ(e.to(), r.to);
        EXPECT_EQ(e.minutes(), r.minutes);
    }
}

TEST(SectorEdit, SlidersStopAtTheOtherEdge)
{
    SectorEdit e = SectorEdit::fromText(QStringLiteral("-090 090  05"));
    // From below -269 would make the sector wider than 359 degrees.
    e.moveFrom(-300);
    EXPECT_EQ(e.from(), -269);
    EXPECT_EQ(e.to(), 90);
    e.moveFrom(200);
    EXPECT_EQ(e.from(), 90);
    e.moveFrom(-90);
    // The to slider holds the negated direction.
    e.moveTo(-120);
    EXPECT_EQ(e.to(), 120);
    e.moveTo(-359);
    EXPECT_EQ(e.to(), 269);   // from -90: at most 359 degrees on from
    e.moveTo(100);            // below from
    EXPECT_EQ(e.to(), 0);
    e.moveFrom(10);
    EXPECT_EQ(e.from(), 0);
}

TEST(SectorEdit, DraggingMovesOneEdgeFromWhereItStarted)
{
    const SectorEdit start = SectorEdit::fromText(QStringLiteral("-090 090  05"));
    SectorEdit e = start;
    e.dragFrom(start, -40);
    EXPECT_EQ(e.from(), -130);
    e.dragFrom(start, -400);
    EXPECT_EQ(e.from(), -269);
    e.dragFrom(start, 500);
    EXPECT_EQ(e.from(), 90);
    e.dragFrom(start, 0);
    EXPECT_EQ(e.from(), -90);
    e.dragTo(start, 100);
    EXPECT_EQ(e.to(), 190);
    e.dragTo(start, 400);
    EXPECT_EQ(e.to(), 269);
    e.dragTo(start, -400);
    EXPECT_EQ(e.to(), 0);
    EXPECT_EQ(e.from(), -90);
}

TEST(SectorEdit, OkWritesTheTextOfTheEditor)
{
    SectorEdit e = SectorEdit::fromText(QStringLiteral("-090 090  05"));
    EXPECT_EQ(e.acceptedText(), QStringLiteral("-090 090  05 "));
    e.moveFrom(-5);
    e.setMinutes(0);
    EXPECT_EQ(e.acceptedText(), QStringLiteral("-005 090  00 "));
    // An empty sector is stored as 0 to 0.
    SectorEdit same = SectorEdit::fromText(QStringLiteral("120  120  03"));
    EXPECT_EQ(same.acceptedText(), QStringLiteral("000  000  03 "));
    // What OK writes reads back as the same sector in the gate.
    const SectorText back = parseSectorText(e.acceptedText());
    ASSERT_EQ(back.kind, SectorText::Kind::Valid);
    EXPECT_EQ(back.sector, (DirectionSector{-5, 90, 0}));
}

// Random slider moves and drags, starting from any stored text: the editor
// state keeps its invariants, and OK writes a text the gate reads as exactly
// that sector.
TEST(SectorEditProperty, NoInputLeavesTheInvariants)
{
    QRandomGenerator rng(1208);
    auto randomText = [&] {
        QString t;
        const QString chars = QStringLiteral("0123456789- x");
        for (int i = rng.bounded(16); i > 0; --i) t += chars.at(rng.bounded(chars.size()));
        return t;
    };
    for (int round = 0; round < 500; ++round) {
        const QString text = rng.bounded(2) ? randomText()
                                            : formatSectorText({rng.bounded(-999, 1000), rng.bounded(-999, 1000), rng.bounded(100)});
        SectorEdit e = SectorEdit::fromText(text);
        ASSERT_TRUE(e.isValid()) << text.toStdString();
        for (int step = 0; step < 40; ++step) {
            const SectorEdit before = e;
            switch (rng.bounded(5)) {
            case 0: e.moveFrom(rng.bounded(-2000, 2000)); break;
            case 1: e.moveTo(rng.bounded(-2000, 2000)); break;
            case 2: e.dragFrom(before, rng.bounded(-2000, 2000)); break;
            case 3: e.dragTo(before, rng.bounded(-2000, 2000)); break;
            default: e.setMinutes(rng.bounded(-50, 200)); break;
            }
            ASSERT_TRUE(e.isValid()) << text.toStdString() << " step " << step << ": " << e.from() << ".." << e.to();
            const SectorText back = parseSectorText(e.acceptedText());
            ASSERT_EQ(back.kind, SectorText::Kind::Valid) << e.acceptedText().toStdString();
            ASSERT_EQ(back.sector, e.accepted());
            ASSERT_LE(back.sector.from, back.sector.to);
            ASSERT_LE(back.sector.to - back.sector.from, 359);
        }
    }
}
