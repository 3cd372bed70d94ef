// The whole monitor, seen through its class by a client, while the station
// program writes its file as real ones do: the station-file writer runs in
// each of its modes and rewrites the file in real time while the monitor
// reads it. The test sets the truth the writer means (through the writer's
// values file) and checks, cycle by cycle, against what the writer reports it
// has written:
// - the monitor is never SAFE while the truth is unsafe, except on the one
//   cycle that is forgiven because the file was caught being written;
// - a changed truth reaches the decision within two cycles, for every mode
//   that leaves a whole file at least once a cycle;
// - no station value that the file has not held ever shows (a missing one
//   shows as no value, never as 0).
#include "FakeSoundPlayer.h"
#include "NephorTestRig.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <gtest/gtest.h>
#include <cmath>
#include <map>
#include <set>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

using Values = std::map<QString, QString>;

struct WriterMode {
    const char* name;
    const char* file;        // station.csv or station.htm
    QStringList args;        // the writer's options for this mode
    int intervalMs;          // how often it writes a version
    Values truth = {};       // what this mode's station writes besides the night's values
};

void PrintTo(const WriterMode& m, std::ostream* os) { *os << m.name; }

Values calmTruth()
{
    return {{"OutTemp", "5.2"},       {"WindSpeed", "5"},   {"Gust", "8"},          {"WindDirection", "NNE"},
            {"RainDayMin", "0"},      {"RainDayMax", "0"},  {"OutHumidity", "60"},  {"DewPoint", "-2.0"},
            {"Barometer", "1013"}};
}

Values galeTruth()
{
    Values v = calmTruth();
    v["WindSpeed"] = "50"; // Very Windy, marked unsafe
    v["Gust"] = "72";
    return v;
}

QString writerPath()
{
    return QDir(qEnvironmentVariable("SKYVANE_BIN_DIR")).filePath(QStringLiteral("skyvane-station-writer"));
}

class StationWriterNight : public ::testing::TestWithParam<WriterMode> {
protected:
    StationWriterNight() : rig({"--ready-delay", "0"}, true, &player, /*inRealTime=*/true) {}

    void SetUp() override
    {
        ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
        const WriterMode& m = GetParam();
        stationPath = rig.dir.filePath(QString::fromLatin1(m.file));
        valuesPath = rig.dir.filePath("truth.txt");
        rig.core->config().htmFile = stationPath;
        rig.core->config().refreshRead = 3; // 60 s: the test runs the cycles itself
        rig.core->conditionsConfig().safety.safeDelaySeconds = 0;
        setTruth(calm());
        writer.setProgram(writerPath());
        writer.setArguments(QStringList{"--out", stationPath, "--values", valuesPath, "--machine", "--interval",
                                        QString::number(m.intervalMs / 1000.0)} +
                            m.args);
        writer.setProcessChannelMode(QProcess::SeparateChannels);
        writer.start();
        ASSERT_TRUE(writer.waitForStarted(5000)) << writer.errorString().toStdString();
        ASSERT_TRUE(spinUntil([&] {
            writer.waitForReadyRead(5);
            readReports();
            return versions > 0;
        }, 10000)) << "the writer wrote nothing: " << writer.readAllStandardError().toStdString();
        client = rig.client();
        ASSERT_TRUE(rig.sim->setLevels(1, 1, 1)); // Clear, Dry, Dark: only the station can make it unsafe
        ASSERT_TRUE(client->call("Device_Start").ok());
        ASSERT_TRUE(rig.core->isRunning());
    }

    void TearDown() override
    {
        if (writer.state() != QProcess::NotRunning) {
            writer.kill();
            writer.waitForFinished(5000);
        }
        if (client) client->call("Device_Stop");
    }

    Values withMode(Values v) const
    {
        for (const auto& [k, x] : GetParam().truth) v[k] = x;
        return v;
    }
    Values calm() const { return withMode(calmTruth()); }
    Values gale() const { return withMode(galeTruth()); }

    // The truth the writer means from its next version on.
    void setTruth(const Values& v)
    {
        QSaveFile f(valuesPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (const auto& [k, x] : v) f.write((k + '=' + x + '\n').toUtf8());
        ASSERT_TRUE(f.commit());
    }

    // Reads the writer's reports: "version N NAME=VALUE;NAME=VALUE;...".
    void readReports()
    {
        while (writer.canReadLine() || writer.waitForReadyRead(0)) {
            if (!writer.canReadLine()) break;
            const QString line = QString::fromUtf8(writer.readLine()).trimmed();
            const QStringList parts = line.split(QLatin1Char(' '));
            if (parts.size() < 3 || parts[0] != QLatin1String("version")) continue;
            Values v;
            if (parts[2] != QLatin1String("-")) {
                for (const QString& kv : parts.mid(2).join(QLatin1Char(' ')).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                    const qsizetype eq = kv.indexOf(QLatin1Char('='));
                    if (eq > 0) v[kv.left(eq)] = kv.mid(eq + 1);
                }
            }
            for (const auto& [k, x] : v) {
                bool ok = false;
                const double d = QString(x).remove(QLatin1Char('%')).trimmed().toDouble(&ok);
                if (ok) written[k].insert(d);
            }
            lastVersion = v;
            ++versions;
        }
    }
    // Waits until the writer reports a version whose name holds text.
    bool waitForVersionWith(const QString& name, const QString& text, int ms = 10000)
    {
        return spinUntil([&] {
            writer.waitForReadyRead(5);
            readReports();
            auto it = lastVersion.find(name);
            return it != lastVersion.end() && it->second == text;
        }, ms);
    }

    struct Seen {
        bool safe;
        station::StationOutcome outcome;
        QString status;
    };
    // One read cycle, then what a client sees. Every station value the
    // class shows must be one the file has held, or none at all.
    Seen cycle()
    {
        spinFor(GetParam().intervalMs * 13 / 10); // the writer goes on meanwhile
        rig.core->readCycle();
        EXPECT_TRUE(rig.settle(5000));
        writer.waitForReadyRead(0);
        readReports();
        const Seen s{client->call("Safe").value.toBool(), rig.core->station().outcome, rig.core->state().status.text};
        const std::pair<const char*, const char*> members[] = {
            {"WindValue", "WindSpeed"}, {"GustValue", "Gust"}, {"TemperatureAmb", "OutTemp"}, {"HumidityRelative", "OutHumidity"}};
        for (const auto& [member, name] : members) {
            const double shown = client->call(member).value.toDouble();
            if (std::isnan(shown)) continue;
            EXPECT_TRUE(written[name].count(shown) == 1) << member << " shows " << shown << ", which the file never held";
        }
        return s;
    }

    // The truth turns to tr; from the writer's first whole version of it on,
    // the decision must follow within two cycles and never contradict an
    // unsafe truth but on one forgiven cycle.
    void truthTurns(const Values& tr, bool unsafeTruth, const char* what)
    {
        setTruth(tr);
        ASSERT_TRUE(waitForVersionWith("WindSpeed", tr.at("WindSpeed"))) << what << ": the writer did not take the truth";
        int forgiven = 0;
        for (int c = 1; c <= 6; ++c) {
            const Seen s = cycle();
            if (unsafeTruth && s.safe) {
                EXPECT_EQ(s.outcome, station::StationOutcome::BeingWritten)
                    << what << ", cycle " << c << ": SAFE on a whole read; status " << s.status.toStdString();
                ++forgiven;
            }
            if (c >= 2) EXPECT_EQ(s.safe, !unsafeTruth) << what << ", cycle " << c << "; status " << s.status.toStdString();
        }
        EXPECT_LE(forgiven, 1) << what;
    }

    conditions::FakeSoundPlayer player;
    NephorRig rig;
    std::unique_ptr<ClientThread> client;
    QProcess writer;
    QString stationPath, valuesPath;
    Values lastVersion;
    int versions = 0;
    std::map<QString, std::set<double>> written; // every value any version held
};

} // namespace

TEST_P(StationWriterNight, DecisionFollowsTheFile)
{
    // calm from the start
    bool safe = false;
    for (int c = 0; c < 3 && !safe; ++c) safe = cycle().safe;
    EXPECT_TRUE(safe) << "a calm night never turned safe";
    truthTurns(gale(), true, "gale");
    truthTurns(calm(), false, "calm again");
    truthTurns(gale(), true, "gale again");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, StationWriterNight,
    ::testing::Values(
        WriterMode{"csv_atomic", "station.csv", {"--mode", "atomic"}, 300},
        WriterMode{"htm_atomic", "station.htm", {"--mode", "atomic"}, 300},
        WriterMode{"csv_truncate_chunks", "station.csv", {"--mode", "truncate", "--chunks", "3", "--write-ms", "60"}, 300},
        WriterMode{"htm_truncate_chunks", "station.htm", {"--mode", "truncate", "--chunks", "3", "--write-ms", "60"}, 300},
        // in place without truncating: the shorter calm version leaves the
        // tail of the longer gale one behind it
        WriterMode{"csv_in_place_longer_then_shorter", "station.csv", {"--mode", "overwrite", "--chunks", "1"}, 300},
        WriterMode{"csv_no_final_line_end", "station.csv", {"--no-final-eol"}, 300},
        WriterMode{"csv_no_final_line_end_truncate", "station.csv",
                   {"--no-final-eol", "--mode", "truncate", "--chunks", "3", "--write-ms", "60"}, 300},
        WriterMode{"csv_lf", "station.csv", {"--eol", "lf", "--mode", "truncate", "--chunks", "3", "--write-ms", "30"}, 300},
        WriterMode{"csv_utf8_bom", "station.csv", {"--encoding", "utf8bom"}, 300},
        // a station that writes a quantity more than the monitor reads
        WriterMode{"csv_adds_a_name", "station.csv", {"--mode", "truncate", "--chunks", "3", "--write-ms", "60"}, 300,
                   Values{{"SolarRadiation", "412"}}},
        WriterMode{"csv_utf16le", "station.csv",
                   {"--encoding", "utf16le", "--mode", "truncate", "--chunks", "3", "--write-ms", "60"}, 300},
        WriterMode{"htm_utf16be", "station.htm", {"--encoding", "utf16be"}, 300},
        WriterMode{"htm_cp1252", "station.htm",
                   {"--encoding", "cp1252", "--mode", "truncate", "--chunks", "3", "--write-ms", "60"}, 300},
        // ten versions a second, each truncated and written in three pieces
        // over half of its tenth: most first looks catch it being written
        WriterMode{"csv_ten_times_a_second", "station.csv", {"--mode", "truncate", "--chunks", "3", "--write-ms", "50"}, 100},
        WriterMode{"htm_ten_times_a_second", "station.htm", {"--mode", "truncate", "--chunks", "3", "--write-ms", "50"}, 100}),
    [](const ::testing::TestParamInfo<WriterMode>& i) { return std::string(i.param.name); });

// ---- a station reconfigured to stop writing its temperature -------------------

namespace {
class StationWriterReconfigured : public StationWriterNight {};
} // namespace

TEST_P(StationWriterReconfigured, WindStillReachesTheDecision)
{
    // Only the wind can make this night unsafe, and stale data do not count.
    auto& safety = rig.core->conditionsConfig().safety;
    safety.unsafeMarks[conditions::Quantity::Temperature] = {false, false, false};
    safety.unsafeMarks[conditions::Quantity::DewPoint] = {false, false, false};
    safety.wsDataOldUnsafe = false;
    bool safe = false;
    for (int c = 0; c < 3 && !safe; ++c) safe = cycle().safe;
    ASSERT_TRUE(safe);
    Values v = gale();
    v["drop"] = "OutTemp";
    truthTurns(v, true, "gale, and no temperature any more");
    EXPECT_TRUE(std::isnan(client->call("TemperatureAmb").value.toDouble()));
    EXPECT_EQ(client->call("Condition_Wind").value.toInt(), 3);
    v = calm();
    v["drop"] = "OutTemp";
    truthTurns(v, false, "calm, still no temperature");
}

INSTANTIATE_TEST_SUITE_P(Reconfigured, StationWriterReconfigured,
                         ::testing::Values(WriterMode{"csv_drops_a_name", "station.csv", {"--mode", "atomic"}, 300},
                                           WriterMode{"htm_drops_a_name", "station.htm",
                                                      {"--mode", "truncate", "--chunks", "3", "--write-ms", "60"}, 300}),
                         [](const ::testing::TestParamInfo<WriterMode>& i) { return std::string(i.param.name); });

// ---- writers that leave no readings ---------------------------------------------

namespace {
class StationWriterNoReadings : public StationWriterNight {};
} // namespace

TEST_P(StationWriterNoReadings, NeverSafeAndNoValueShows)
{
    // Monitoring starts on a file that never held a reading: the station
    // levels are Unknown, which is unsafe where marked, and nothing shows.
    for (int c = 1; c <= 5; ++c) {
        const Seen s = cycle();
        EXPECT_FALSE(s.safe) << "cycle " << c << "; status " << s.status.toStdString();
        EXPECT_EQ(s.outcome, station::StationOutcome::NoReadings) << "cycle " << c;
        EXPECT_TRUE(std::isnan(client->call("WindValue").value.toDouble())) << "cycle " << c;
        EXPECT_EQ(client->call("Condition_Wind").value.toInt(), 0) << "cycle " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(NoReadings, StationWriterNoReadings,
                         ::testing::Values(WriterMode{"csv_garbage", "station.csv", {"--content", "garbage"}, 200},
                                           WriterMode{"htm_nul_bytes", "station.htm", {"--content", "nul"}, 200}),
                         [](const ::testing::TestParamInfo<WriterMode>& i) { return std::string(i.param.name); });

// ---- a station program that dies in the middle of a value ----------------------

namespace {
// After two whole versions with humidity 95 (Very Humid, marked), the station
// program dies while writing the next one, leaving "OutHumidity,%,9".
class StationWriterCrash : public StationWriterNight {};
} // namespace

TEST_P(StationWriterCrash, CutFileNeverGivesItsCutValue)
{
    ASSERT_TRUE(writer.waitForFinished(10000));
    EXPECT_EQ(writer.exitCode(), 3);
    readReports();
    int safeCycles = 0;
    for (int c = 1; c <= 5; ++c) {
        const Seen s = cycle();
        const double humidity = client->call("HumidityRelative").value.toDouble();
        EXPECT_TRUE(std::isnan(humidity) || humidity == 95) << "cycle " << c << ": humidity " << humidity;
        EXPECT_NE(client->call("Condition_HumCond").value.toInt(), 1) << "cycle " << c;
        if (s.safe) ++safeCycles;
    }
    EXPECT_EQ(safeCycles, 0); // Very Humid, then Unknown with marks
    EXPECT_TRUE(std::isnan(client->call("HumidityRelative").value.toDouble()));
}

INSTANTIATE_TEST_SUITE_P(
    Crash, StationWriterCrash,
    ::testing::Values(WriterMode{"csv_crash_inside_a_value", "station.csv",
                                 {"--crash-in", "OutHumidity", "--crash-after", "2", "--mode", "truncate", "--chunks", "1"},
                                 300, Values{{"OutHumidity", "95"}}}),
    [](const ::testing::TestParamInfo<WriterMode>& i) { return std::string(i.param.name); });
