#include "Safety.h"
#include "XOBGetNumber.h"
#include "XOBWindPars.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

using namespace skyvane::conditions;

namespace {

// A mouse event on the diagram with the buttons held as a person holds them.
void mouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPoint at)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void drag(SectorDiagram* d, Qt::MouseButton b, int fromX, int toX)
{
    const int y = d->height() / 2;
    mouse(d, QEvent::MouseButtonPress, b, b, {fromX, y});
    mouse(d, QEvent::MouseMove, Qt::NoButton, b, {(fromX + toX) / 2, y});
    mouse(d, QEvent::MouseMove, Qt::NoButton, b, {toX, y});
    mouse(d, QEvent::MouseButtonRelease, b, Qt::NoButton, {toX, y});
}

} // namespace

TEST(SectorEditor, LoadsTheLabelAndMovesTheSliders)
{
    XOBWindPars d(QStringLiteral("-090 090  05"));
    d.show();
    EXPECT_EQ(d.sliderFrom()->value(), -90);
    EXPECT_EQ(d.sliderTo()->value(), -90);  // the negated to-direction
    EXPECT_EQ(d.duration()->text(), QStringLiteral("5"));

    d.sliderFrom()->setValue(-300);
    EXPECT_EQ(d.sector().from(), -269);
    EXPECT_EQ(d.sliderFrom()->value(), -269);  // put back where the rule stopped it
    d.sliderTo()->setValue(-10);
    EXPECT_EQ(d.sector().to(), 10);
    d.sliderTo()->setValue(0);
    EXPECT_EQ(d.sector().to(), 0);

    QTest::keyClicks(d.duration(), QStringLiteral("123"));
    d.duration()->selectAll();
    QTest::keyClicks(d.duration(), QStringLiteral("123"));
    EXPECT_EQ(d.duration()->text(), QStringLiteral("12"));
    d.findChild<QPushButton*>(QStringLiteral("ButtOK"))->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.sectorText(), QStringLiteral("-269 000  12 "));
}

TEST(SectorEditor, OkWithEqualEdgesStoresZeroToZero)
{
    XOBWindPars d(QStringLiteral("120  200  03"));
    d.show();
    d.sliderTo()->setValue(-120);
    EXPECT_EQ(d.sector().to(), 120);
    d.accept();
    EXPECT_EQ(d.sectorText(), QStringLiteral("000  000  03 "));
}

TEST(SectorEditor, EscapeAndCancelLeaveNothing)
{
    XOBWindPars d(QStringLiteral("010  020  01"));
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    d.sliderFrom()->setValue(15);
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_TRUE(d.sectorText().isEmpty());

    XOBWindPars c(QStringLiteral("010  020  01"));
    c.show();
    c.findChild<QPushButton*>(QStringLiteral("ButtCancel"))->click();
    EXPECT_EQ(c.result(), QDialog::Rejected);
    EXPECT_TRUE(c.sectorText().isEmpty());
}

TEST(SectorEditor, DraggingWithEitherButtonMovesOneEdge)
{
    XOBWindPars d(QStringLiteral("-090 090  05"));
    d.resize(320, 480);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    SectorDiagram* rose = d.diagram();
    ASSERT_GT(rose->width(), 150);
    // Left button, 40 pixels to the left: from 40 degrees back.
    drag(rose, Qt::LeftButton, 100, 60);
    EXPECT_EQ(d.sector().from(), -130);
    EXPECT_EQ(d.sector().to(), 90);
    EXPECT_EQ(d.sliderFrom()->value(), -130);
    // Right button to the right: to grows.
    drag(rose, Qt::RightButton, 20, 120);
    EXPECT_EQ(d.sector().to(), 190);
    EXPECT_EQ(d.sliderTo()->value(), -190);
    // Far past the limit: the span stays at 359 degrees.
    drag(rose, Qt::RightButton, 0, rose->width());
    EXPECT_EQ(d.sector().to(), 229);
    d.accept();
    EXPECT_EQ(d.sectorText(), QStringLiteral("-130 229  05 "));
}

// Random drags with both buttons, slider moves by keys and by value, and
// keys into the duration: the sector never leaves its invariants, the
// sliders always show it, and OK writes a text the gate reads back.
TEST(SectorEditorProperty, RandomInputKeepsAValidSector)
{
    QRandomGenerator rng(42);
    for (int round = 0; round < 25; ++round) {
        const DirectionSector start{rng.bounded(-400, 400), rng.bounded(-400, 400), rng.bounded(100)};
        XOBWindPars d(formatSectorText(start));
        d.resize(300, 460);
        d.show();
        SectorDiagram* rose = d.diagram();
        for (int step = 0; step < 40; ++step) {
            switch (rng.bounded(6)) {
            case 0:
            case 1: {
                const int w = rose->width();
                drag(rose, rng.bounded(2) ? Qt::LeftButton : Qt::RightButton, rng.bounded(w), rng.bounded(w));
                break;
            }
            case 2: d.sliderFrom()->setValue(rng.bounded(-400, 400)); break;
            case 3: d.sliderTo()->setValue(rng.bounded(-400, 400)); break;
            case 4: {
                static const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_PageUp, Qt::Key_PageDown,
                                               Qt::Key_Home, Qt::Key_End};
                QTest::keyClick(rng.bounded(2) ? d.sliderFrom() : d.sliderTo(), keys[rng.bounded(6)]);
                break;
            }
            default:
                QTest::keyClick(d.duration(), "0123456789-.x"[rng.bounded(13)]);
                break;
            }
            const SectorEdit& e = d.sector();
            ASSERT_TRUE(e.isValid()) << e.from() << ".." << e.to();
            ASSERT_EQ(d.sliderFrom()->value(), e.from());
            ASSERT_EQ(d.sliderTo()->value(), -e.to());
            ASSERT_LE(d.duration()->text().size(), 2);
        }
        d.accept();
        const SectorText back = parseSectorText(d.sectorText());
        ASSERT_EQ(back.kind, SectorText::Kind::Valid) << d.sectorText().toStdString();
        ASSERT_LE(back.sector.from, back.sector.to);
        ASSERT_LE(back.sector.to - back.sector.from, 359);
        ASSERT_GE(back.sector.from, -359);
    }
}
