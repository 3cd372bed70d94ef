#include "Clock.h"

#include <gtest/gtest.h>

using namespace skyvane;

TEST(FakeClock, TimersFireInOrderAndOnlyWhenTimeMoves)
{
    FakeClock clock;
    auto fast = clock.createTimer();
    auto slow = clock.createTimer();
    QStringList log;
    fast->setCallback([&] { log << QStringLiteral("fast@%1").arg(clock.now().time().toString(QStringLiteral("ss"))); });
    slow->setCallback([&] { log << QStringLiteral("slow@%1").arg(clock.now().time().toString(QStringLiteral("ss"))); });
    fast->setInterval(5000);
    slow->setInterval(10000);
    fast->start();
    slow->start();
    EXPECT_TRUE(log.isEmpty());
    clock.advance(10000);
    EXPECT_EQ(log, (QStringList{"fast@05", "fast@10", "slow@10"}));

    // interval 0 disarms, like the read timer at StopReading
    fast->setInterval(0);
    EXPECT_FALSE(fast->isActive());
    clock.advance(20000);
    EXPECT_EQ(log.size(), 5);
}

TEST(FakeClock, TimerCanStopItselfAndSingleShot)
{
    FakeClock clock;
    auto t = clock.createTimer();
    int n = 0;
    t->setInterval(10);
    t->setSingleShot(true);
    t->setCallback([&] { ++n; });
    t->start();
    clock.advance(100);
    EXPECT_EQ(n, 1);

    auto u = clock.createTimer();
    int m = 0;
    u->setInterval(10);
    u->setCallback([&] { if (++m == 3) u->stop(); });
    u->start();
    clock.advance(1000);
    EXPECT_EQ(m, 3);
}

TEST(Clock, MillisecondClockAndOleDates)
{
    FakeClock clock(QDateTime(QDate(1899, 12, 31), QTime(0, 0, 1, 250)));
    EXPECT_EQ(clock.msClock(), 86400000 + 1250);
    clock.advance(999);
    EXPECT_EQ(clock.msClock(), 86400000 + 2249);

    EXPECT_DOUBLE_EQ(toOleDate(QDateTime(QDate(1899, 12, 30), QTime(12, 0))), 0.5);
    EXPECT_DOUBLE_EQ(toOleDate(QDateTime(QDate(2000, 1, 1), QTime(0, 0))), 36526.0);
    const QDateTime t(QDate(2026, 12, 7), QTime(23, 59, 58, 500));
    EXPECT_EQ(fromOleDate(toOleDate(t)), t);
}
