// The monitor while the sensor server hangs, fails to start, or is given up
// halfway through a start: clients keep being answered, the flag goes unsafe
// at once, and nothing waits for a person or for the server.
#include "NephorTestRig.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <csignal>
#include <mutex>

using namespace skyvane;
using namespace skyvane::testing;

namespace {
constexpr qint64 kCycle = 10000; // the default read period

// SIGSTOP for the life of the object: the server still owns its name and
// takes calls into its queue, but answers none.
struct Stopped {
    qint64 pid;
    explicit Stopped(qint64 p) : pid(p) { ::kill(pid_t(pid), SIGSTOP); }
    ~Stopped() { ::kill(pid_t(pid), SIGCONT); }
};
} // namespace

TEST(HungSensorServer, ClientsAreAnsweredAndTheFlagTurnsUnsafeWithinOneCycle)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    ASSERT_TRUE(rig.sim->setLevels(1, 1, 1));
    rig.start();
    ASSERT_TRUE(rig.core->isRunning()) << rig.core->state().status.text.toStdString();
    ASSERT_TRUE(c->get("Safe").value.toBool());

    // A client reads Safe every few milliseconds from its own program while
    // the monitor runs its cycles against the stopped server.
    std::atomic<bool> stop{false}, done{false};
    std::mutex m;
    std::vector<double> latency;
    int failures = 0;
    c->post([&] {
        QElapsedTimer e;
        while (!stop) {
            e.start();
            const auto r = c->object()->get(QStringLiteral("Safe"));
            const double ms = double(e.nsecsElapsed()) / 1e6;
            {
                std::lock_guard<std::mutex> g(m);
                latency.push_back(ms);
                if (!r.ok()) ++failures;
            }
            QThread::msleep(5);
        }
        done = true;
    });

    {
        Stopped hung(rig.sim->pid());
        // One cycle: every read times out (400 ms in the rig) and the cycle
        // ends with the sensor data faulty, so the flag is unsafe.
        rig.clock.advance(kCycle);
        EXPECT_TRUE(rig.core->sensorError());
        EXPECT_TRUE(rig.core->unsafe());
        EXPECT_EQ(rig.core->state().unsafeFlag.text, "Unsafe");
        EXPECT_EQ(rig.core->state().codes.text, "a31");
        for (int i = 0; i < 3; ++i) {
            rig.clock.advance(kCycle);
            EXPECT_TRUE(rig.core->unsafe());
        }
        stop = true;
        ASSERT_TRUE(spinUntil([&] { return done.load(); }));
    }
    {
        std::lock_guard<std::mutex> g(m);
        ASSERT_GT(latency.size(), 20u);
        EXPECT_EQ(failures, 0);
        // A monitor that waited for the server would keep a client for a
        // whole call timeout (400 ms here) once a cycle. Timing figures
        // proper come from the benchmark.
        EXPECT_LT(*std::max_element(latency.begin(), latency.end()), 300.0);
    }
    EXPECT_FALSE(c->get("Safe").value.toBool());

    // The server answers again: the next cycles read it and it is safe again.
    rig.clock.advance(kCycle);
    rig.clock.advance(kCycle);
    EXPECT_FALSE(rig.core->sensorError());
    EXPECT_FALSE(rig.core->unsafe());
}

TEST(HungSensorServer, AFailedStartDoesNotHoldUpTheNextStartWhileItsMessageWaits)
{
    NephorRig rig({"--ready-delay", "0", "--version", "5.19.003"});
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    // The message dialog waits for a person, as a modal dialog does: an
    // event loop of its own. Meanwhile the server is mended and a client
    // starts monitoring.
    bool startedDuringMessage = false;
    int shown = 0;
    rig.core->setPrompter([&](const QString& text, int, const QString&) {
        rig.messages << text;
        if (++shown > 1) return int(AnswerOk);
        QEventLoop person;
        QTimer::singleShot(0, &person, [&] {
            rig.sim->setVersion(QStringLiteral("5.20.015"));
            rig.core->deviceStart();
            rig.settle();
            startedDuringMessage = rig.core->isRunning();
            person.quit();
        });
        person.exec();
        return int(AnswerOk);
    });
    rig.start();
    EXPECT_EQ(rig.messages.value(0), "Version of XOB_Nephor must be equal or greater than 5.2x");
    EXPECT_TRUE(startedDuringMessage) << rig.core->state().status.text.toStdString();
    EXPECT_TRUE(rig.core->isRunning());
    EXPECT_TRUE(rig.sim->localControl());
}

TEST(HungSensorServer, ClosingDuringTheDataWaitEndsTheStart)
{
    NephorRig rig({"--ready-delay", "-1"}); // never ready
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    rig.core->config().npTimeout = 60;
    rig.core->startProcedure();
    rig.settle();
    rig.clock.advance(3000); // three passes of the data wait
    ASSERT_TRUE(rig.core->isStarting());
    ASSERT_TRUE(spinUntil([&] { return rig.sim->localControl(); }));

    ASSERT_TRUE(rig.core->requestClose());
    EXPECT_FALSE(rig.core->isStarting());
    rig.core->unload();
    // Nothing carries on after unload: no cycle, no message, control given back.
    rig.clock.advance(120000);
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_EQ(rig.core->cycleCount(), 0);
    EXPECT_TRUE(rig.messages.isEmpty()) << rig.messages.join('|').toStdString();
    EXPECT_TRUE(spinUntil([&] { return !rig.sim->localControl(); }));
}

TEST(HungSensorServer, AStartAgainstAHungServerKeepsTheMonitorAnswering)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    Stopped hung(rig.sim->pid());
    rig.core->startProcedure();
    // The start waits for the server in the event loop: a client is answered
    // at once meanwhile.
    QElapsedTimer e;
    e.start();
    const auto r = c->get("Safe");
    EXPECT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_FALSE(r.value.toBool());
    EXPECT_LT(e.elapsed(), 300);
    EXPECT_TRUE(rig.core->isStarting());
    rig.settle();
    EXPECT_FALSE(rig.core->isStarting());
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_EQ(rig.core->state().status.text, "Problem with XOB_Nephor");
}

TEST(HungSensorServer, AForwardedCallWaitingForTheServerHoldsNobodyElseUp)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto a = rig.client();
    auto b = rig.client();
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    ASSERT_TRUE(a->get("ThreshTempClear").ok()); // passed on to the sensor server

    Stopped hung(rig.sim->pid());
    // Client a asks for a setting of the sensor server, which does not
    // answer; meanwhile client b reads the flag.
    std::atomic<bool> aDone{false};
    automation::CallResult aResult;
    a->post([&] {
        aResult = a->object()->get(QStringLiteral("ThreshTempClear"));
        aDone = true;
    });
    spinFor(50);
    QElapsedTimer e;
    e.start();
    const auto r = b->get("Safe");
    EXPECT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_LT(e.elapsed(), 300);
    EXPECT_FALSE(aDone.load()) << "the forwarded call came back before the sensor server answered";
    // a gets its answer once the forwarded call's short timeout has passed.
    ASSERT_TRUE(spinUntil([&] { return aDone.load(); }, 5000));
    EXPECT_EQ(aResult.failure, automation::Failure::ServerError);
    EXPECT_TRUE(aResult.error.contains("XOB_Nephor")) << aResult.error.toStdString();
}
