// The read cycle in the test's own process: the monitor core against a
// scripted sensor source and a station file, on a fake clock, with no bus
// and no server program. What the cycle shows and sends to the source
// follows from what the source answers; the same behaviour against the real
// stand-in is in sensor_link_test and scripted_night_test.
#include "FakeSoundPlayer.h"
#include "MonitorCore.h"
#include "ScriptedSensorSource.h"
#include "SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace skyvane;
using conditions::Level;
using conditions::Quantity;
using conditions::UnsafeCause;
using skyvane::testing::ScriptedSensorSource;

// Texts in failure messages as text.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {
constexpr qint64 kCycle = 10000; // the default read period

struct CycleRig {
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    FakeClock clock;
    conditions::FakeSoundPlayer player;
    ScriptedSensorSource* sensor = nullptr; // the core owns it
    std::unique_ptr<MonitorCore> core;
    QStringList messages;
    std::vector<bool> startsFinished;

    CycleRig()
    {
        auto source = std::make_unique<ScriptedSensorSource>(clock);
        sensor = source.get();
        core = std::make_unique<MonitorCore>(clock, store, std::move(source), dir.path(), &player);
        // Each tick's answers arrive before the clock moves on, as they would
        // in real time.
        clock.setAfterFire([this] { sensor->settle(); });
        core->load();
        writeStationFile();
        core->config().htmFile = dir.filePath("station.csv");
        core->config().timeoutRead = 1000; // minutes: the file stays fresh
        core->config().pathName = dir.filePath("data");
        core->config().graphImagePath = dir.filePath("images");
        core->sensor().setCallTimeout(400);
        core->setPrompter([this](const QString& text, int, const QString&) {
            messages << text;
            return int(AnswerOk);
        });
        QObject::connect(core.get(), &MonitorCore::startFinished, [this](bool running) { startsFinished.push_back(running); });
    }

    // Start as the button does; the data wait's passes run on the clock.
    void start()
    {
        core->startProcedure();
        sensor->settle();
        for (int pass = 0; core->isStarting() && pass < 3600; ++pass) clock.advance(1000);
    }
    void cycle(int n = 1) { clock.advance(kCycle * n); }

    // A calm, mild night: nothing in the station file is unsafe.
    void writeStationFile()
    {
        QFile f(dir.filePath("station.csv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QStringLiteral("Date,,%1\nTime,,%2\nOutTemp,\u00b0C,5.2\nWindSpeed,km/h,5\nGust,km/h,8\n"
                               "WindDirection,,NNE\nRainDayMin,mm,0\nRainDayMax,mm,0\nOutHumidity,%,60\n"
                               "DewPoint,\u00b0C,-2.0\nBarometer,hPa,1013\n")
                    .arg(clock.now().toString("dd/MM/yy"), clock.now().toString("hh:mm:ss"))
                    .toUtf8());
    }

    QString flag() const { return core->state().unsafeFlag.text; }
    bool hasReason(UnsafeCause cause) const
    {
        for (const auto& r : core->unsafeReasons())
            if (r.cause == cause) return true;
        return false;
    }
    bool markedLevel(Quantity q, Level l) const
    {
        for (const auto& r : core->unsafeReasons())
            if (r.cause == UnsafeCause::MarkedLevel && r.quantity == q && r.level == l) return true;
        return false;
    }
    int reads() const { return int(sensor->calls().filter(QStringLiteral("read ")).size()); }
};

bool onlyNotEvaluated(const std::vector<conditions::UnsafeReason>& reasons)
{
    return reasons.size() == 1 && reasons[0].cause == UnsafeCause::NotEvaluated;
}
} // namespace

// ---- start and the cycle ---------------------------------------------------------

TEST(ReadCycle, StartWaitsForTheAnswersThenCyclesOnTheClock)
{
    CycleRig rig;
    rig.core->startProcedure();
    // Nothing is answered inside the call: the start waits in the event loop.
    EXPECT_TRUE(rig.core->isStarting());
    EXPECT_TRUE(rig.core->awaitingSensor());
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_EQ(rig.core->state().status.text, "Waiting for XOB_Nephor");
    EXPECT_TRUE(rig.startsFinished.empty());

    rig.sensor->settle();
    ASSERT_TRUE(rig.core->isRunning()) << rig.core->state().status.text.toStdString();
    EXPECT_FALSE(rig.core->isStarting());
    // The start ends with its first cycle, so that it reports a decision.
    EXPECT_EQ(rig.startsFinished, std::vector<bool>{true});
    EXPECT_EQ(rig.sensor->calls(), (QStringList{"connect", "read C", "report unsafe=false switch=1"}));
    EXPECT_TRUE(rig.messages.isEmpty());
    EXPECT_EQ(rig.core->cycleCount(), 1);
    EXPECT_EQ(rig.core->state().valCloud.text, "-20.0");
    EXPECT_EQ(rig.core->state().valRain.text, "2500");
    EXPECT_EQ(rig.core->state().cond[size_t(Quantity::Cloud)].text, "Clear");
    EXPECT_EQ(rig.flag(), "Safe");
    EXPECT_FALSE(rig.core->reportedUnsafe());
    EXPECT_TRUE(rig.core->unsafeReasons().empty());
    EXPECT_TRUE(rig.core->dataReady());
    EXPECT_TRUE(rig.core->switchControl());
    EXPECT_EQ(rig.core->state().valSwitch.text, "Opened");
    EXPECT_TRUE(rig.core->readTimerActive());
    EXPECT_EQ(rig.core->readTimerInterval(), kCycle);
    // A source that is no server on the bus gives the automation class
    // nothing to forward to.
    EXPECT_EQ(rig.core->sensor().object(), nullptr);
    EXPECT_TRUE(rig.core->sensor().isConnected());

    rig.cycle(3);
    EXPECT_EQ(rig.core->cycleCount(), 4);
    EXPECT_EQ(rig.sensor->reports().size(), 4u);
}

TEST(ReadCycle, RainAtLevelThreeIsUnsafeAndReportedSo)
{
    CycleRig rig;
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());

    rig.sensor->setLevels(1, 3, 1);
    rig.cycle();
    EXPECT_EQ(rig.flag(), "Unsafe");
    EXPECT_TRUE(rig.core->reportedUnsafe());
    EXPECT_TRUE(rig.markedLevel(Quantity::Rain, Level::Three)) << rig.core->unsafeReasonsText().toStdString();
    EXPECT_EQ(rig.core->state().cond[size_t(Quantity::Rain)].text, "Rain");
    EXPECT_EQ(rig.sensor->lastUnsafe(), true);
    EXPECT_EQ(rig.sensor->lastSwitch(), 2.0);
    EXPECT_EQ(rig.core->state().valSwitch.text, "Closed");

    // Dry again; without a safe delay SAFE comes back with the next cycle.
    rig.sensor->setLevels(1, 1, 1);
    rig.cycle();
    EXPECT_EQ(rig.flag(), "Safe");
    EXPECT_FALSE(rig.core->reportedUnsafe());
    EXPECT_TRUE(rig.core->unsafeReasons().empty());
    EXPECT_EQ(rig.sensor->lastSwitch(), 1.0);

    std::vector<bool> sent;
    for (const auto& r : rig.sensor->reports()) sent.push_back(r.unsafe);
    EXPECT_EQ(sent, (std::vector<bool>{false, true, false}));
}

// ---- readings that fail ------------------------------------------------------------

TEST(ReadCycle, AFailedReadingLeavesTheSensorLevelsUnknownAndShowsNoValues)
{
    struct Variant {
        const char* name;
        std::function<void(ScriptedSensorSource&, bool failing)> apply;
    };
    const Variant variants[] = {
        {"incomplete", [](ScriptedSensorSource& s, bool f) { s.setComplete(!f); }},
        {"device stopped", [](ScriptedSensorSource& s, bool f) { s.setDeviceRunning(!f); }},
        {"transfer error", [](ScriptedSensorSource& s, bool f) { s.setTransferError(f); }},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        CycleRig rig;
        rig.start();
        ASSERT_TRUE(rig.core->isRunning());
        ASSERT_EQ(rig.core->state().valCloud.text, "-20.0");

        // The failed reading still carries levels and values: none of them
        // may count, and the last good ones must not stand as current.
        rig.sensor->setLevels(3, 3, 3);
        rig.sensor->reading().skyTemperature = 12.5;
        v.apply(*rig.sensor, true);
        rig.cycle();
        EXPECT_TRUE(rig.core->sensorError());
        for (Quantity q : {Quantity::Cloud, Quantity::Rain, Quantity::Brightness}) {
            EXPECT_EQ(rig.core->board().level(q), Level::Unknown) << int(q);
            EXPECT_EQ(rig.core->state().cond[size_t(q)].text, "") << int(q);
            EXPECT_FALSE(rig.markedLevel(q, Level::Three)) << int(q);
        }
        EXPECT_EQ(rig.core->state().valCloud.text, "");
        EXPECT_EQ(rig.core->state().valRain.text, "");
        EXPECT_EQ(rig.core->state().valBrightness.text, "");
        EXPECT_TRUE(std::isnan(rig.core->outputValues().skyTemperature));
        EXPECT_EQ(rig.core->state().codes.text, "a31");
        EXPECT_EQ(rig.core->state().status.text, "Error with XOB_Nephor");
        EXPECT_EQ(rig.core->state().npAlarmMsg.text, "NP error");
        EXPECT_EQ(rig.core->secondsSinceGoodData(), 1000);
        // Faulty data never count as safe.
        EXPECT_EQ(rig.flag(), "Unsafe");
        EXPECT_TRUE(rig.hasReason(UnsafeCause::SensorDataError));
        EXPECT_EQ(rig.sensor->lastUnsafe(), true);
        EXPECT_EQ(rig.sensor->lastSwitch(), 2.0);

        // Good again: the new values show, the error texts clear.
        v.apply(*rig.sensor, false);
        rig.sensor->setLevels(1, 1, 1);
        rig.cycle();
        EXPECT_FALSE(rig.core->sensorError());
        EXPECT_EQ(rig.core->state().valCloud.text, "12.5");
        EXPECT_EQ(rig.core->board().level(Quantity::Rain), Level::One);
        EXPECT_EQ(rig.core->state().codes.text, "");
        EXPECT_NE(rig.core->state().status.text, "Error with XOB_Nephor");
        EXPECT_EQ(rig.core->state().npAlarmMsg.text, "");
        EXPECT_EQ(rig.flag(), "Safe");
        EXPECT_EQ(rig.sensor->lastUnsafe(), false);
    }
}

TEST(ReadCycle, AReadThatTimesOutCostsOneCallTimeoutAndTheNextCycleRecovers)
{
    CycleRig rig;
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());

    rig.sensor->timeOutReads(1);
    rig.cycle(); // the tick: the read goes out and is not answered
    EXPECT_TRUE(rig.core->busy());
    rig.clock.advance(399);
    EXPECT_TRUE(rig.core->busy());
    rig.clock.advance(1);
    EXPECT_FALSE(rig.core->busy());
    EXPECT_EQ(rig.core->lastCycleMs(), 400) << "the cycle waits one call timeout, not more";
    EXPECT_EQ(rig.core->cycleCount(), 2);
    EXPECT_TRUE(rig.core->sensorError());
    EXPECT_EQ(rig.core->state().codes.text, "a31");
    EXPECT_TRUE(rig.core->unsafe());
    EXPECT_FALSE(rig.core->dataReady()) << "the report of that cycle was not answered";

    rig.clock.advance(kCycle - 400);
    EXPECT_EQ(rig.core->cycleCount(), 3);
    EXPECT_FALSE(rig.core->sensorError());
    EXPECT_TRUE(rig.core->dataReady());
    EXPECT_EQ(rig.core->state().codes.text, "");
    EXPECT_EQ(rig.flag(), "Safe");
}

TEST(ReadCycle, ASourceThatStopsAnsweringMakesTheFlagUnsafeAfterTwoIntervals)
{
    CycleRig rig;
    rig.start();
    ASSERT_EQ(rig.flag(), "Safe");

    rig.sensor->stopAnswering();
    rig.cycle(); // this cycle's read is never answered
    EXPECT_TRUE(rig.core->busy());
    EXPECT_FALSE(rig.core->evaluationStale());
    rig.cycle(); // two intervals since the last decision: not yet more
    EXPECT_EQ(rig.core->cycleCount(), 2) << "ticks do not overlap a cycle in flight";
    EXPECT_FALSE(rig.core->evaluationStale());
    EXPECT_EQ(rig.flag(), "Safe");
    EXPECT_FALSE(rig.core->reportedUnsafe());

    rig.clock.advance(1000);
    EXPECT_TRUE(rig.core->evaluationStale());
    EXPECT_TRUE(rig.core->reportedUnsafe());
    EXPECT_FALSE(rig.core->safeAndFresh());
    EXPECT_EQ(rig.flag(), "Unsafe");
    EXPECT_TRUE(onlyNotEvaluated(rig.core->unsafeReasons()));
    EXPECT_EQ(rig.sensor->calls().last(), "read C") << "nothing reported while the read is unanswered";

    // The answer comes after all: the cycle ends and decides again.
    rig.sensor->answerAgain();
    rig.sensor->settle();
    EXPECT_FALSE(rig.core->busy());
    EXPECT_FALSE(rig.core->evaluationStale());
    EXPECT_EQ(rig.flag(), "Safe");
    EXPECT_TRUE(rig.core->unsafeReasons().empty());
    EXPECT_EQ(rig.sensor->calls().last(), "report unsafe=false switch=1");
}

TEST(ReadCycle, AServerThatGoesAwayDoesNotStopTheCycle)
{
    CycleRig rig;
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    ASSERT_EQ(rig.sensor->controlTaken(), 1);

    rig.sensor->setGone(true);
    rig.cycle();
    EXPECT_TRUE(rig.core->sensorError());
    EXPECT_EQ(rig.flag(), "Unsafe");
    EXPECT_TRUE(rig.core->isRunning());
    EXPECT_TRUE(rig.core->readTimerActive());

    rig.sensor->setGone(false);
    rig.cycle();
    EXPECT_FALSE(rig.core->sensorError());
    EXPECT_EQ(rig.flag(), "Safe");
    EXPECT_EQ(rig.sensor->controlTaken(), 2) << "control is taken again on the new server";
}

// ---- connecting and stopping ---------------------------------------------------------

TEST(ReadCycle, AFailedConnectLeavesMonitoringStopped)
{
    struct Row {
        const char* name;
        std::function<void(ScriptedSensorSource&)> script;
        double npTimeout;
        QStringList messages;
        qint64 waitMs; // on the clock, from Start to the end of the start
    };
    const QString cannotRead = QStringLiteral("Cannot read XOB_Nephor");
    const Row rows[] = {
        {"no server", [](ScriptedSensorSource& s) { s.setConnectOutcome(ConnectOutcome::NoServer); }, 10, {cannotRead}, 0},
        {"server gone", [](ScriptedSensorSource& s) { s.setGone(true); }, 10, {cannotRead}, 0},
        {"old version", [](ScriptedSensorSource& s) { s.setConnectOutcome(ConnectOutcome::VersionTooOld); }, 10,
         {QStringLiteral("Version of XOB_Nephor must be equal or greater than 5.2x"), cannotRead}, 0},
        // The data wait makes its passes a second apart until the timeout.
        {"no data", [](ScriptedSensorSource& s) { s.setConnectOutcome(ConnectOutcome::NoData); }, 3, {cannotRead}, 4000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CycleRig rig;
        row.script(*rig.sensor);
        rig.core->config().npTimeout = row.npTimeout;
        const qint64 t0 = rig.clock.msClock();
        rig.start();
        EXPECT_EQ(rig.clock.msClock() - t0, row.waitMs);
        EXPECT_FALSE(rig.core->isRunning());
        EXPECT_FALSE(rig.core->isStarting());
        EXPECT_FALSE(rig.core->readTimerActive());
        EXPECT_EQ(rig.startsFinished, std::vector<bool>{false});
        EXPECT_EQ(rig.core->state().status.text, "Problem with XOB_Nephor");
        EXPECT_EQ(rig.messages, row.messages);
        EXPECT_EQ(rig.reads(), 0) << "no cycle runs without a connection";
        EXPECT_TRUE(rig.sensor->calls().contains("release")) << "the stop releases the source";
        EXPECT_FALSE(rig.core->sensor().isConnected());
        EXPECT_EQ(rig.flag(), "Unsafe");
        EXPECT_TRUE(rig.core->reportedUnsafe());
        EXPECT_TRUE(onlyNotEvaluated(rig.core->unsafeReasons()));

        // Nothing holds the next start up once the server is there.
        rig.sensor->setGone(false);
        rig.sensor->setConnectOutcome(ConnectOutcome::Connected);
        rig.messages.clear();
        rig.start();
        EXPECT_TRUE(rig.core->isRunning());
        EXPECT_TRUE(rig.messages.isEmpty());
        EXPECT_EQ(rig.flag(), "Safe");
    }
}

TEST(ReadCycle, StopDuringTheDataWaitEndsTheStartWithoutAMessage)
{
    CycleRig rig;
    rig.sensor->setConnectOutcome(ConnectOutcome::NoData);
    rig.core->config().npTimeout = 60;
    rig.core->startProcedure();
    rig.sensor->settle();
    rig.clock.advance(2500);
    ASSERT_TRUE(rig.core->isStarting());
    // Between two passes only the clock can move the start on.
    EXPECT_FALSE(rig.core->awaitingSensor());

    rig.core->stopProcedure();
    EXPECT_FALSE(rig.core->isStarting());
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_EQ(rig.startsFinished, std::vector<bool>{false}) << "the start reports its end once";
    EXPECT_TRUE(rig.messages.isEmpty());
    EXPECT_TRUE(rig.sensor->calls().contains("release"));
    const QStringList calls = rig.sensor->calls();
    rig.clock.advance(120000);
    EXPECT_EQ(rig.sensor->calls(), calls);
    EXPECT_EQ(rig.startsFinished.size(), 1u);
}

TEST(ReadCycle, StopReleasesTheSourceAndEndsTheCycles)
{
    CycleRig rig;
    rig.start();
    rig.cycle();
    ASSERT_EQ(rig.core->cycleCount(), 2);
    ASSERT_EQ(rig.flag(), "Safe");

    rig.core->stopProcedure();
    EXPECT_EQ(rig.sensor->calls().last(), "release");
    EXPECT_FALSE(rig.core->sensor().isConnected());
    EXPECT_FALSE(rig.core->isRunning());
    EXPECT_FALSE(rig.core->readTimerActive());
    EXPECT_EQ(rig.flag(), "Unsafe");
    EXPECT_TRUE(onlyNotEvaluated(rig.core->unsafeReasons()));

    const QStringList calls = rig.sensor->calls();
    rig.clock.advance(60000);
    EXPECT_EQ(rig.core->cycleCount(), 2);
    EXPECT_EQ(rig.sensor->calls(), calls);

    // At program exit the server is given a moment to take the release in.
    rig.core->unload();
    EXPECT_EQ(rig.sensor->calls().last(), "release wait");
}

// ---- the switch and the server's alarm -----------------------------------------------

TEST(ReadCycle, TheSwitchIsDrivenOnlyAsTheRoleAllows)
{
    {
        SCOPED_TRACE("MASTER");
        CycleRig rig;
        rig.start();
        ASSERT_TRUE(rig.core->switchControl());
        // This program drives the switch: a client's call does nothing.
        rig.core->setSwitch(2);
        EXPECT_EQ(rig.sensor->calls().filter("setSwitch").size(), 0);

        rig.core->config().swRole = 1;
        rig.core->followSwitchRole();
        rig.core->setSwitch(2);
        EXPECT_EQ(rig.sensor->calls().last(), "setSwitch 2");
        // The cycle now leaves the switch alone and shows what the server has.
        rig.cycle();
        EXPECT_EQ(rig.sensor->calls().last(), "report unsafe=false");
        EXPECT_EQ(rig.core->switchValue(), 2.0);
    }
    {
        SCOPED_TRACE("SLAVE");
        CycleRig rig;
        rig.sensor->setRole("SLAVE");
        rig.sensor->setSwitchStatus(2);
        rig.start();
        ASSERT_TRUE(rig.core->isRunning());
        EXPECT_FALSE(rig.core->switchControl());
        EXPECT_EQ(rig.core->config().swRole, 1);
        EXPECT_TRUE(rig.core->state().alarmNpVisible);
        EXPECT_EQ(rig.core->state().timeoutAlarmLabel.text, "Timeout Alarm");
        EXPECT_EQ(rig.sensor->calls().last(), "report unsafe=false");
        EXPECT_EQ(rig.core->switchValue(), 2.0);
        rig.core->setSwitch(1); // not MASTER: not sent
        EXPECT_EQ(rig.sensor->calls().filter("setSwitch").size(), 0);
    }
}

TEST(ReadCycle, TheServersAlarmIsStoppedOncePerErrorPeriod)
{
    CycleRig rig;
    auto& np = rig.core->conditionsConfig().alarms.sensorData;
    np.setSound("/sounds/np.wav");
    ASSERT_TRUE(np.setArmed(true));
    rig.start();
    ASSERT_EQ(rig.sensor->alarmStops(), 0);

    rig.sensor->setDeviceRunning(false);
    rig.sensor->clearCalls();
    rig.cycle();
    // Within the cycle: after the read that failed, before its report.
    EXPECT_EQ(rig.sensor->calls(), (QStringList{"read C", "alarmStop", "report unsafe=true switch=2"}));
    rig.cycle(2);
    EXPECT_EQ(rig.sensor->alarmStops(), 1);
    EXPECT_EQ(rig.player.played, QStringList{"/sounds/np.wav"});
    EXPECT_EQ(rig.core->alarmId(), "20");

    rig.sensor->setDeviceRunning(true);
    rig.cycle();
    EXPECT_EQ(rig.core->alarmId(), "");
    rig.sensor->setDeviceRunning(false);
    rig.cycle();
    EXPECT_EQ(rig.sensor->alarmStops(), 2) << "a new error period stops it again";
    EXPECT_EQ(rig.player.played.size(), 2);
}
