// What a client reads from the class while the weather-station file goes
// wrong in the ways station programs make it go wrong: values that cannot be
// read, data that grow old, files caught half-written or cut inside their
// last value, and a file that goes missing. Against the sensor stand-in on a
// private bus, with real station files.
#include "FakeSoundPlayer.h"
#include "NephorTestRig.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;
using conditions::Quantity;

namespace {

struct Row {
    QString name, unit, value;
};

// A calm, mild night with the humidity written last.
std::vector<Row> calmNight(const QDateTime& now)
{
    return {{"Date", "", now.toString("dd/MM/yy")},
            {"Time", "", now.toString("hh:mm:ss")},
            {"OutTemp", QStringLiteral("\u00b0C"), "5.2"},
            {"WindSpeed", "km/h", "5"},
            {"Gust", "km/h", "8"},
            {"WindDirection", "", "NNE"},
            {"RainDayMin", "mm", "0"},
            {"RainDayMax", "mm", "0"},
            {"DewPoint", QStringLiteral("\u00b0C"), "-2.0"},
            {"Barometer", "hPa", "1013"},
            {"OutHumidity", "%", "60"}};
}

void set(std::vector<Row>& rows, const QString& name, const QString& value)
{
    for (Row& r : rows)
        if (r.name == name) r.value = value;
}

QByteArray csv(const std::vector<Row>& rows, bool lastLineEnd = true)
{
    QByteArray out;
    for (const Row& r : rows) out += (r.name + ',' + r.unit + ',' + r.value + "\r\n").toUtf8();
    if (!lastLineEnd) out.chop(2);
    return out;
}

class StationSafety : public ::testing::Test {
protected:
    StationSafety() : rig({"--ready-delay", "0"}, true, &player) {}

    void SetUp() override
    {
        ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
        client = rig.client();
        write(csv(calmNight(rig.clock.now())));
        ASSERT_TRUE(client->call("Device_Start").ok());
        ASSERT_TRUE(rig.core->isRunning());
        ASSERT_TRUE(rig.sim->setLevels(1, 1, 1)); // Clear, Dry, Dark
        cycle();
        ASSERT_TRUE(safe());
    }

    // Every version of the file gets a modification time of its own, as it
    // would a few seconds apart.
    void write(const QByteArray& bytes)
    {
        QFile f(rig.dir.filePath("station.csv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        mtime = mtime.addSecs(7);
        ASSERT_TRUE(f.setFileTime(mtime, QFileDevice::FileModificationTime));
    }
    void cycle()
    {
        rig.core->readCycle();
        rig.settle();
    }
    bool safe() { return client->call("Safe").value.toBool(); }
    int level(const char* member) { return client->call(member).value.toInt(); }

    conditions::FakeSoundPlayer player;
    NephorRig rig;
    std::unique_ptr<ClientThread> client;
    QDateTime mtime = rig.clock.now().addSecs(-3600);
};

} // namespace

TEST_F(StationSafety, DewPointSpreadNeedsTheTemperatureOfTheSameReading)
{
    // Only the dew point can make this sky unsafe.
    rig.core->conditionsConfig().safety.unsafeMarks[Quantity::Temperature] = {false, false, false};
    EXPECT_EQ(level("Condition_DewCond"), 3); // spread 7.2: Fine

    // This reading's temperature cannot be read; the dew point is near the
    // temperature of the last one.
    auto rows = calmNight(rig.clock.now());
    set(rows, "OutTemp", "---");
    set(rows, "DewPoint", "5.0");
    write(csv(rows));
    cycle();
    EXPECT_EQ(level("Condition_DewCond"), 0);
    EXPECT_FALSE(safe()); // Condensation is marked: an unknown spread is not safe

    // And with the dew point far below it, still no spread from the old
    // temperature.
    set(rows, "DewPoint", "-2.0");
    write(csv(rows));
    cycle();
    EXPECT_EQ(level("Condition_DewCond"), 0);
    EXPECT_FALSE(safe());
}

TEST_F(StationSafety, MarkedTemperatureStaysWhenStationDataGrowOld)
{
    rig.core->conditionsConfig().safety.wsDataOldUnsafe = false;
    rig.core->config().timeoutRead = 2; // minutes
    auto rows = calmNight(rig.clock.now());
    set(rows, "OutTemp", "60");
    write(csv(rows));
    cycle();
    ASSERT_EQ(level("Condition_Temp"), 3); // Hot, marked
    ASSERT_FALSE(safe());

    // The station stops writing. Its data grow old; the levels keep what
    // they said, the temperature like wind and humidity.
    rig.clock.advance(3 * 60'000);
    cycle();
    ASSERT_TRUE(rig.core->stationTooOld());
    EXPECT_EQ(level("Condition_Temp"), 3);
    EXPECT_EQ(level("Condition_Wind"), 1);
    EXPECT_FALSE(safe());

    // The file goes missing altogether: the same.
    QFile::remove(rig.dir.filePath("station.csv"));
    cycle();
    ASSERT_TRUE(rig.core->stationFileAbsent());
    EXPECT_EQ(level("Condition_Temp"), 3);
    EXPECT_FALSE(safe());
}

TEST_F(StationSafety, ValueCutAtTheEndOfTheFileIsNeverUsed)
{
    auto rows = calmNight(rig.clock.now());
    set(rows, "OutHumidity", "95");
    write(csv(rows));
    cycle();
    ASSERT_EQ(level("Condition_HumCond"), 3); // Very Humid, marked
    ASSERT_FALSE(safe());

    // Caught while writing 95: "9" and no line end, seen for several cycles.
    set(rows, "OutHumidity", "9");
    write(csv(rows, false));
    for (int i = 0; i < 3; ++i) {
        rig.clock.advance(5'000);
        cycle();
        EXPECT_NE(client->call("HumidityRelative").value.toDouble(), 9.0) << i;
        EXPECT_NE(level("Condition_HumCond"), 1) << i;
        EXPECT_FALSE(safe()) << i;
    }

    // A station that never ends its last line: cut or not, that value is
    // not taken.
    set(rows, "OutHumidity", "95");
    write(csv(rows, false));
    rig.clock.advance(5'000);
    cycle();
    set(rows, "OutHumidity", "9");
    write(csv(rows, false));
    for (int i = 0; i < 3; ++i) {
        rig.clock.advance(5'000);
        cycle();
        EXPECT_NE(client->call("HumidityRelative").value.toDouble(), 9.0) << i;
        EXPECT_NE(level("Condition_HumCond"), 1) << i;
        EXPECT_FALSE(safe()) << i;
    }
}

TEST_F(StationSafety, OneHalfWrittenFileMovesNothing)
{
    rig.core->conditionsConfig().safety.safeDelaySeconds = 60;
    rig.clock.advance(61'000); // safe for longer than the delay
    cycle();
    ASSERT_TRUE(safe());
    ASSERT_TRUE(rig.core->state().safeDelayMsg.text.isEmpty());
    const QByteArray whole = csv(calmNight(rig.clock.now()));
    const int temperature = level("Condition_Temp");
    ASSERT_EQ(temperature, 2); // Fine
    const int sent = rig.sim->unsafeCount();
    // (The cycles below are run one by one, with the clock standing: the
    // read timer must not add cycles of its own.)

    // Caught in the middle of a rewrite: nothing changes, nothing closes.
    write(whole.left(60));
    cycle();
    EXPECT_TRUE(safe());
    EXPECT_EQ(level("Condition_Temp"), temperature);
    EXPECT_FALSE(rig.sim->lastUnsafe());
    EXPECT_GT(rig.sim->unsafeCount(), sent);
    EXPECT_TRUE(rig.core->state().safeDelayMsg.text.isEmpty());
    EXPECT_EQ(client->call("SecondsSinceGoodData").value.toInt(), 3);

    // Finished a moment later.
    write(csv(calmNight(rig.clock.now())));
    cycle();
    EXPECT_TRUE(safe());

    // Two bad reads in a row: no station data, the levels keep their last
    // value, and nothing is old yet.
    write(whole.left(90));
    cycle();
    write(whole.left(130));
    cycle();
    EXPECT_FALSE(rig.core->station().valid);
    EXPECT_EQ(level("Condition_Temp"), temperature);
    EXPECT_EQ(level("Condition_Wind"), 1);
    EXPECT_TRUE(safe());
    EXPECT_TRUE(rig.core->state().safeDelayMsg.text.isEmpty());
}

namespace {
class StationAlarm : public StationSafety {
protected:
    void SetUp() override
    {
        StationSafety::SetUp();
        auto& box = rig.core->conditionsConfig().alarms.stationData;
        box.setSound(QStringLiteral("/sounds/ws.wav"));
        ASSERT_TRUE(box.setArmed(true));
    }
};
} // namespace

TEST_F(StationAlarm, OnlyTooOldDataStopTheSensorServersAlarm)
{
    const int stops = rig.sim->alarmStopCount();
    QFile::remove(rig.dir.filePath("station.csv"));
    cycle();
    ASSERT_EQ(rig.core->alarmId(), "10");
    EXPECT_EQ(rig.sim->alarmStopCount(), stops);

    // Back, then too old: the sensor server's alarm is stopped first.
    write(csv(calmNight(rig.clock.now())));
    cycle();
    ASSERT_EQ(rig.core->alarmId(), "");
    rig.core->config().timeoutRead = 1;
    rig.clock.advance(2 * 60'000);
    cycle();
    ASSERT_EQ(rig.core->alarmId(), "10");
    EXPECT_EQ(rig.sim->alarmStopCount(), stops + 1);
}
