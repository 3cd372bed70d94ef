// What a client reads from the class while the weather-station file goes
// wrong in the ways station programs make it go wrong: values that cannot be
// read, data that grow old, files caught half-written or cut inside their
// last value, and a file that goes missing. Against the sensor stand-in on a
// private bus, with real station files.
#include "FakeSoundPlayer.h"
#include "NephorTestRig.h"

#include <QFile>
#include <gtest/gtest.h>
#include <cmath>

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

    EXPECT_TRUE(std::isnan(client->call("HumidityRelative").value.toDouble()));
    EXPECT_TRUE(rig.core->unsafeReasonsText().contains(
        QStringLiteral("Humidity cannot be judged (level unknown: cut off in the station file)")))
        << rig.core->unsafeReasonsText().toStdString();
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

    // Two bad cycles in a row: the second counts what the file holds. The
    // first records are there; humidity and dew point are not, and they are
    // marked, so the sky cannot be called safe.
    write(whole.left(90));
    cycle();
    EXPECT_TRUE(safe());
    write(whole.left(130));
    cycle();
    EXPECT_TRUE(rig.core->station().valid);
    EXPECT_EQ(level("Condition_Temp"), temperature);
    EXPECT_EQ(level("Condition_Wind"), 1);
    EXPECT_EQ(level("Condition_HumCond"), 0);
    EXPECT_EQ(level("Condition_DewCond"), 0);
    EXPECT_TRUE(std::isnan(client->call("HumidityRelative").value.toDouble()));
    EXPECT_FALSE(safe());
    EXPECT_EQ(client->call("SecondsSinceGoodData").value.toInt(), 3);
}

// ---- the station file as it goes wrong out there ---------------------------

TEST_F(StationSafety, RunOfCutFilesIsForgivenOnce)
{
    // A warm night (20.0 is Fine) read whole, then one cut after another, each
    // a version of its own, as when the station is caught writing every time.
    auto rows = calmNight(rig.clock.now());
    set(rows, "OutTemp", "20.0");
    write(csv(rows));
    cycle();
    ASSERT_TRUE(safe());
    auto cutInside = [&](const QByteArray& text) {
        const QByteArray all = csv(calmNight(rig.clock.now()));
        QByteArray b = all;
        b.replace("OutTemp,\xC2\xB0" "C,5.2", "OutTemp,\xC2\xB0" "C,20.0");
        return b.left(b.indexOf(text) + text.size());
    };
    // read 2: cut inside the humidity (the last record): forgiven
    rig.clock.advance(5'000);
    write(cutInside("OutHumidity,%,6"));
    cycle();
    EXPECT_TRUE(safe());
    EXPECT_EQ(rig.core->station().outcome, station::StationOutcome::BeingWritten);
    EXPECT_TRUE(rig.core->state().status.text.contains(QStringLiteral("file being written")))
        << rig.core->state().status.text.toStdString();
    // reads 3 and 4: cut inside the temperature's "20.0": no temperature at
    // all, never the "2" of the cut and never the 20.0 of the last read
    for (int read = 3; read <= 4; ++read) {
        rig.clock.advance(5'000);
        write(cutInside("OutTemp,\xC2\xB0" "C,2"));
        cycle();
        EXPECT_FALSE(safe()) << read;
        EXPECT_EQ(level("Condition_Temp"), 0) << read;
        EXPECT_TRUE(std::isnan(client->call("TemperatureAmb").value.toDouble())) << read;
        EXPECT_TRUE(rig.core->unsafeReasonsText().contains(
            QStringLiteral("Temperature cannot be judged (level unknown: cut off in the station file)")))
            << rig.core->unsafeReasonsText().toStdString();
        EXPECT_TRUE(rig.core->unsafeReasonsText().contains(
            QStringLiteral("Dew point cannot be judged (level unknown: temperature cut off in the station file)")))
            << rig.core->unsafeReasonsText().toStdString();
    }
    // The cut files are fresh (their own date and time say so): never "too
    // old", however long this goes on.
    rig.core->config().timeoutRead = 1;
    for (int i = 0; i < 20; ++i) {
        rig.clock.advance(5'000);
        write(cutInside("OutTemp,\xC2\xB0" "C,2"));
        cycle();
        ASSERT_FALSE(rig.core->stationTooOld()) << i;
        ASSERT_TRUE(rig.core->state().codes.text.isEmpty()) << rig.core->state().codes.text.toStdString();
        ASSERT_FALSE(safe());
    }
    EXPECT_EQ(client->call("SecondsSinceGoodData").value.toInt(), 3);
}

TEST_F(StationSafety, StationThatStopsWritingANameIsReadAgain)
{
    // Every version whole, with its line ends, and new every cycle; the
    // station no longer writes its temperature, and the wind rises to a gale.
    auto& safety = rig.core->conditionsConfig().safety;
    safety.wsDataOldUnsafe = false;
    // Only the wind can make it unsafe here.
    safety.unsafeMarks[Quantity::Temperature] = {false, false, false};
    safety.unsafeMarks[Quantity::DewPoint] = {false, false, false};
    auto version = [&](const char* wind) {
        std::vector<Row> rows;
        for (const Row& r : calmNight(rig.clock.now()))
            if (r.name != QLatin1String("OutTemp")) rows.push_back(r);
        set(rows, "WindSpeed", wind);
        return csv(rows);
    };
    int unsafeAt = 0;
    for (int c = 1; c <= 4; ++c) {
        rig.clock.advance(5'000);
        write(version("50"));
        cycle();
        if (!safe() && unsafeAt == 0) unsafeAt = c;
    }
    EXPECT_GE(unsafeAt, 1);
    EXPECT_LE(unsafeAt, 2); // within two cycles
    EXPECT_EQ(level("Condition_Wind"), 3);
    EXPECT_DOUBLE_EQ(client->call("WindValue").value.toDouble(), 50);
    EXPECT_TRUE(std::isnan(client->call("TemperatureAmb").value.toDouble()));
    EXPECT_EQ(level("Condition_Temp"), 0);
    // and back to calm: safe again at the next cycle, the new layout being
    // the norm now
    rig.clock.advance(5'000);
    write(version("5"));
    cycle();
    EXPECT_TRUE(safe());
    EXPECT_EQ(rig.core->station().tries, 1);
}

TEST_F(StationSafety, StationThatNeverEndsItsFileWithALineEnd)
{
    // The humidity is the last record; the station never writes a line end
    // after it. From the station's second rewrite after the Start on it
    // counts.
    rig.core->stopProcedure();
    auto rows = calmNight(rig.clock.now());
    write(csv(rows, false));
    rig.start(); // (the first read is looked at again: the rig runs the clock for it)
    ASSERT_TRUE(rig.core->isRunning());
    EXPECT_EQ(level("Condition_HumCond"), 0); // not yet known how the station ends its files
    EXPECT_FALSE(safe());
    rig.clock.advance(5'000);
    write(csv(calmNight(rig.clock.now()), false));
    cycle();
    EXPECT_EQ(level("Condition_HumCond"), 0); // once could be a cut
    for (int c = 0; c < 3; ++c) {
        rig.clock.advance(5'000);
        rows = calmNight(rig.clock.now());
        write(csv(rows, false));
        cycle();
        EXPECT_EQ(level("Condition_HumCond"), 1) << c; // 60 %: Fine
        EXPECT_DOUBLE_EQ(client->call("HumidityRelative").value.toDouble(), 60) << c;
        EXPECT_TRUE(safe()) << c;
        EXPECT_EQ(rig.core->state().status.text, QStringLiteral("Weather Station Data - Refreshed"));
    }
    // a humid night is read as such
    rig.clock.advance(5'000);
    set(rows, "OutHumidity", "95");
    write(csv(rows, false));
    cycle();
    EXPECT_EQ(level("Condition_HumCond"), 3);
    EXPECT_FALSE(safe());
}

TEST_F(StationSafety, NothingFromBeforeTheStopPassesAsData)
{
    struct Case {
        const char* name;
        const char* file;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"page without a table", "station.htm", "<html><body><p>Station offline</p></body></html>"},
        {"garbage", "station.csv", "\x13\xFE\x80 \x01,,\x7F\r\n\xC3(\xA0"},
        {"NUL bytes", "station.csv", QByteArray(512, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // a hot night read whole, then a stop
        rig.core->config().htmFile = rig.dir.filePath("station.csv");
        auto rows = calmNight(rig.clock.now());
        set(rows, "WindSpeed", "5");
        write(csv(rows));
        if (!rig.core->isRunning()) rig.start();
        cycle();
        ASSERT_TRUE(safe());
        ASSERT_EQ(level("Condition_Wind"), 1);
        ASSERT_TRUE(client->call("Device_Stop").ok());
        rig.clock.advance(60'000);

        // started again on a file without readings
        rig.core->config().htmFile = rig.dir.filePath(c.file);
        QFile f(rig.dir.filePath(c.file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.bytes);
        f.close();
        rig.start();
        ASSERT_TRUE(rig.core->isRunning());
        EXPECT_EQ(level("Condition_Wind"), 0);
        EXPECT_EQ(level("Condition_Gust"), 0);
        EXPECT_EQ(level("Condition_Temp"), 0);
        EXPECT_EQ(level("Condition_HumCond"), 0);
        EXPECT_EQ(level("Condition_DewCond"), 0);
        EXPECT_TRUE(std::isnan(client->call("WindValue").value.toDouble()));
        EXPECT_FALSE(safe());
        EXPECT_TRUE(rig.core->unsafeReasonsText().contains(QStringLiteral("no current station data")))
            << rig.core->unsafeReasonsText().toStdString();
        // its age runs from the Start: too old after TimeoutREAD, however
        // often the file changes
        rig.core->config().timeoutRead = 1;
        for (int i = 0; i < 13; ++i) {
            rig.clock.advance(5'000);
            QFile g(rig.dir.filePath(c.file));
            ASSERT_TRUE(g.open(QIODevice::WriteOnly | QIODevice::Truncate));
            g.write(c.bytes + QByteArray::number(i));
            g.close();
            cycle();
            EXPECT_FALSE(safe());
        }
        EXPECT_TRUE(rig.core->stationTooOld());
        EXPECT_EQ(rig.core->state().codes.text, QStringLiteral("a41"));
        EXPECT_EQ(client->call("SecondsSinceGoodData").value.toInt(), 1000);
        rig.core->config().timeoutRead = 1000;
    }
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
