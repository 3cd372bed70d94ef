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

TEST(Clock, WallStepsMoveNoTimerAndNoMillisecondClock)
{
    FakeClock clock;
    auto t = clock.createTimer();
    int fired = 0;
    t->setCallback([&] { ++fired; });
    t->setInterval(30000);
    t->setSingleShot(true);
    t->start();
    const qint64 ms = clock.msClock();
    for (qint64 step : {3600000LL, -3600000LL - 8000, 86400000LL}) {
        clock.stepWall(step);
        clock.advance(0);
        EXPECT_EQ(fired, 0) << step;
        EXPECT_EQ(clock.msClock(), ms);
    }
    clock.advance(29999);
    EXPECT_EQ(fired, 0);
    clock.advance(1);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(clock.msClock(), ms + 30000);

    SystemClock system;
    const qint64 a = system.msClock();
    EXPECT_GE(system.msClock(), a);
}

TEST(Clock, OleDatesHoldTheLocalClockReading)
{
    EXPECT_DOUBLE_EQ(toOleDate(QDateTime(QDate(1899, 12, 30), QTime(12, 0))), 0.5);
    EXPECT_DOUBLE_EQ(toOleDate(QDateTime(QDate(2000, 1, 1), QTime(0, 0))), 36526.0);
    const QDateTime t(QDate(2026, 12, 7), QTime(23, 59, 58, 500));
    EXPECT_EQ(fromOleDate(toOleDate(t)), t);

    // on the days the clocks change, the reading is the local clock's, not
    // the hours elapsed since midnight
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    for (const QDateTime& local : {QDateTime(QDate(2026, 3, 29), QTime(3, 0, 4)), QDateTime(QDate(2026, 3, 29), QTime(23, 0)),
                                   QDateTime(QDate(2026, 10, 25), QTime(4, 30)), QDateTime(QDate(2026, 10, 25), QTime(1, 59, 59))}) {
        const QDateTime back = fromOleDate(toOleDate(local));
        EXPECT_EQ(back.date(), local.date());
        EXPECT_EQ(back.time(), local.time()) << local.toString(Qt::ISODate).toStdString();
    }
    if (oldTz.isNull()) qunsetenv("TZ");
    else qputenv("TZ", oldTz);
}
