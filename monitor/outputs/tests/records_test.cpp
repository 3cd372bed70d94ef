// The two record files against real files in a temporary folder: the
// 100-byte CCDAutopilot record byte for byte, the user data file's lines,
// save period and starts, and the settings of both.

#include "CcdAutopilotFile.h"
#include "OutputsConfig.h"
#include "SettingsStore.h"
#include "TestLocale.h"
#include "UserDataFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <clocale>
#include <csignal>
#include <sys/resource.h>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::outputs;
using skyvane::testing::haveCommaLocale;
using skyvane::testing::NumericLocale;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

OutputValues knownState()
{
    OutputValues v;
    v.now = QDateTime(QDate(2026, 12, 7), QTime(21, 5, 9));
    v.lastReading = QDateTime(QDate(2026, 12, 7), QTime(21, 5, 4));
    v.skyTemperature = -12.34;
    v.rainValue = 2850;
    v.brightnessValue = 12.4;
    v.skySensorTemperature = 18;
    v.rainHeaterPercent = 35;
    v.rainHeaterTemperature = 21.06;
    v.rainHeaterStatus = QStringLiteral("Normal");
    v.switchStatus = 1;
    v.windSpeed = 12.5;
    v.gust = 19.5;
    v.windDirection = 22.5;
    v.outTemperature = 5.2;
    v.dewPoint = -2;
    v.humidity = 60;
    v.temperatureLetter = QStringLiteral("C");
    v.speedLetter = QStringLiteral("K");
    v.levels = {1, 1, 2, 1, 2, 1, 1, 3};
    v.levelTexts = {QStringLiteral("Clear"), QStringLiteral("Dry"), QStringLiteral("Windy"), QStringLiteral("Calm"),
                    QStringLiteral("Cool"), QStringLiteral("Dry air"), QStringLiteral("Normal"),
                    QStringLiteral("Dark")};
    v.unsafe = false;
    v.secondsSinceGoodData = 3;
    return v;
}

} // namespace

// ---- the 100-byte record ---------------------------------------------------------

TEST(CcdRecord, KnownStateIsByteExactWithPointAndWithComma)
{
    const QByteArray expectedPoint = "2026-12-07 "   // 1-11 date
                                     "21:05:09.09 "  // 12-23 time, seconds repeated
                                     "C K "          // 24-27 unit letters
                                     " -12.3 "       // 28-34 sky temperature
                                     "   5.2 "       // 35-41 outside temperature
                                     "  18.0 "       // 42-48 sky sensor temperature
                                     "  12.5 "       // 49-55 wind speed
                                     " 60 "          // 56-59 humidity
                                     "  -2.0 "       // 60-66 dew point
                                     " 35 "          // 67-70 heater power
                                     "0 0 "          // 71-74 rain and wet flags
                                     "00003 "        // 75-80 seconds since good data
                                     "046363.87858 " // 81-93 serial day number
                                     "1 2 1 3";      // 94-100 cloud, wind, rain, brightness
    ASSERT_EQ(expectedPoint.size(), 100);
    {
        NumericLocale c("C");
        EXPECT_EQ(ccdRecord(knownState()), expectedPoint);
    }
    if (!haveCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma could be made";
    NumericLocale de("de_DE.UTF-8");
    ASSERT_TRUE(de.ok());
    QByteArray expectedComma = expectedPoint;
    // every decimal point of a number becomes the comma; the time keeps its point
    for (int col : {32, 39, 46, 53, 64, 87}) {
        ASSERT_EQ(expectedComma[col - 1], '.') << col;
        expectedComma[col - 1] = ',';
    }
    EXPECT_EQ(ccdRecord(knownState()), expectedComma);
}

TEST(CcdRecord, FieldRules)
{
    OutputValues v = knownState();
    // a wind speed of seven characters loses its first digit
    v.windSpeed = 12345.6;
    QByteArray r = ccdRecord(v);
    EXPECT_EQ(r.mid(48, 7), "2345.6 ");
    // rain level 0 (no level known) is "wet" in both flags, like rain
    v.levels[LevelRain] = 0;
    r = ccdRecord(v);
    EXPECT_EQ(r.mid(70, 4), "2 2 ");
    EXPECT_EQ(r.mid(97, 2), "0 ");
    v.levels[LevelRain] = 3;
    EXPECT_EQ(ccdRecord(v).mid(70, 4), "2 2 ");
    // seconds since good data: 3 when fresh, 1000 when any source is stale
    EXPECT_EQ(r.mid(74, 6), "00003 ");
    v.secondsSinceGoodData = 1000;
    EXPECT_EQ(ccdRecord(v).mid(74, 6), "01000 ");
    // a value not known this cycle leaves its field blank, the columns stay
    v.skyTemperature = kMissing;
    r = ccdRecord(v);
    EXPECT_EQ(r.size(), 100);
    EXPECT_EQ(r.mid(27, 7), "       ");

    EXPECT_EQ(rightAligned(QStringLiteral("5"), 1), QStringLiteral("5"));
    EXPECT_EQ(rightAligned(QStringLiteral("123"), 3), QStringLiteral("23 "));
}

TEST(CcdFile, WritesInPlaceAndKeepsWhatFollows)
{
    QTemporaryDir dir;
    const QString path = ccdFullName(dir.path(), QStringLiteral("XOB_CCDAP4_II.dat"));
    const QByteArray rec = ccdRecord(knownState());

    // a new file is exactly the record
    ASSERT_TRUE(writeCcdRecord(path, rec));
    EXPECT_EQ(readAll(path), rec);

    // a longer file keeps its bytes 101-150
    QByteArray old(150, 'x');
    for (int i = 100; i < 150; ++i) old[i] = char('A' + i % 26);
    writeAll(path, old);
    ASSERT_TRUE(writeCcdRecord(path, rec));
    const QByteArray after = readAll(path);
    ASSERT_EQ(after.size(), 150);
    EXPECT_EQ(after.left(100), rec);
    EXPECT_EQ(after.mid(100), old.mid(100));

    // a missing folder is an error, reported and not raised
    QString error;
    EXPECT_FALSE(writeCcdRecord(dir.filePath(QStringLiteral("no/such/folder/x.dat")), rec, &error));
    EXPECT_FALSE(error.isEmpty());

    EXPECT_FALSE(ccdFileEnabled(QStringLiteral("   ")));
    EXPECT_FALSE(ccdFileEnabled(QString()));
    EXPECT_TRUE(ccdFileEnabled(QStringLiteral(" a.dat")));
    // the name is used as typed
    EXPECT_EQ(ccdFullName(QStringLiteral("/f/"), QStringLiteral(" a.dat")), QStringLiteral("/f/ a.dat"));
    // a name that looks like a full path stays inside the folder
    EXPECT_EQ(ccdFullName(QStringLiteral("/f"), QStringLiteral("/etc/x")), QStringLiteral("/f//etc/x"));
    EXPECT_EQ(UserDataFile::fullName(QStringLiteral("/d"), QStringLiteral(" /tmp/n ")), QStringLiteral("/d//tmp/n.csv"));
}

// ---- the user data file ----------------------------------------------------------

TEST(UserDataLines, LayoutAndValues)
{
    ColumnTable t = ColumnTable::defaults();
    for (auto& c : t.columns) c.include = false;
    t.columns[0].include = true;  // Date
    t.columns[1].include = true;  // Time
    t.columns[24].include = true; // Safe Condtition
    OutputValues v = knownState();
    EXPECT_EQ(headerLine(t), QStringLiteral("\"Date\",\"Time\",\"Safe Condtition\",\r\n"));
    EXPECT_EQ(dataLine(t, v), QStringLiteral("\"2026-12-07\",\"21:05:04\",\"Safe\",\r\n"));
    v.unsafe = true;
    EXPECT_EQ(dataLine(t, v), QStringLiteral("\"2026-12-07\",\"21:05:04\",\"Unsafe\",\r\n"));

    // all flags off: bare line ends
    for (auto& c : t.columns) c.include = false;
    EXPECT_EQ(headerLine(t), QStringLiteral("\r\n"));
    EXPECT_EQ(dataLine(t, v), QStringLiteral("\r\n"));

    // the defaults: all 25 words in id order
    const QString all = headerLine(ColumnTable::defaults());
    EXPECT_TRUE(all.startsWith(QStringLiteral("\"Date\",\"Time\",\"Cloud Condition\",")));
    EXPECT_TRUE(all.endsWith(QStringLiteral("\"Switch Status\",\"Safe Condtition\",\r\n")));
    EXPECT_EQ(all.count(QStringLiteral("\",")), 25);

    // value formats
    NumericLocale c("C");
    v = knownState();
    EXPECT_EQ(formatQuantity(3, v), QStringLiteral("Clear"));
    EXPECT_EQ(formatQuantity(10, v), QStringLiteral("Dark"));
    EXPECT_EQ(formatQuantity(11, v), QStringLiteral("-12.3"));
    EXPECT_EQ(formatQuantity(12, v), QStringLiteral("2850"));
    EXPECT_EQ(formatQuantity(13, v), QStringLiteral("13")); // 12.5 rounds half away from zero
    EXPECT_EQ(formatQuantity(15, v), QStringLiteral("22.5"));
    EXPECT_EQ(formatQuantity(20, v), QStringLiteral("35%"));
    EXPECT_EQ(formatQuantity(21, v), QStringLiteral("21.1"));
    EXPECT_EQ(formatQuantity(23, v), QStringLiteral("Normal"));
    EXPECT_EQ(formatQuantity(24, v), QStringLiteral("Opened"));
    v.switchStatus = 2;
    EXPECT_EQ(formatQuantity(24, v), QStringLiteral("Closed"));
    v.switchStatus = 0;
    EXPECT_EQ(formatQuantity(24, v), QStringLiteral("Unknown"));
    EXPECT_EQ(formatQuantity(0, v), QString());
    EXPECT_EQ(formatQuantity(26, v), QString());
    v.rainHeaterPercent = kMissing;
    EXPECT_EQ(formatQuantity(20, v), QString());

    // switch status 3 gives an empty field
    v.switchStatus = 3;
    ColumnTable sw = ColumnTable::defaults();
    for (auto& col : sw.columns) col.include = col.quantity == 24;
    EXPECT_EQ(dataLine(sw, v), QStringLiteral("\"\",\r\n"));
}

namespace {
struct DataFileFixture : ::testing::Test {
    QTemporaryDir dir;
    ColumnTable table = [] {
        ColumnTable t = ColumnTable::defaults();
        for (auto& c : t.columns) c.include = c.quantity == 2 || c.quantity == 12; // Time, Rain Value
        return t;
    }();
    UserDataFile file;
    QString path() const { return UserDataFile::fullName(dir.path(), QStringLiteral("Skyvane")); }
    QList<QByteArray> lines() const
    {
        QList<QByteArray> out = readAll(path()).split('\n');
        if (!out.isEmpty() && out.last().isEmpty()) out.removeLast();
        return out;
    }
    OutputValues cycleValues(int n) const
    {
        OutputValues v = knownState();
        v.rainValue = n;
        return v;
    }
};
} // namespace

TEST_F(DataFileFixture, SavePeriodCountsOnlyRecordingCyclesAndSurvivesStopStart)
{
    ASSERT_EQ(startByUser(file, dir.path(), QStringLiteral("Skyvane"), table, {}), StartOutcome::Started);
    QList<int> written;
    for (int n = 1; n <= 7; ++n)
        if (file.cycle(table, 3, cycleValues(n))) written << n;
    EXPECT_EQ(written, (QList<int>{1, 4, 7}));
    ASSERT_EQ(lines().size(), 4);
    EXPECT_EQ(lines()[1], QByteArray("\"21:05:04\",\"1\",\r"));
    EXPECT_EQ(lines()[3], QByteArray("\"21:05:04\",\"7\",\r"));

    // stopped: cycles do not count
    file.close();
    for (int n = 8; n <= 12; ++n) EXPECT_FALSE(file.cycle(table, 3, cycleValues(n)));
    EXPECT_EQ(file.cycleCounter(), 1);
    // started again: the count goes on where it was, so the next line is two
    // recording cycles late rather than at once
    ASSERT_EQ(startByUser(file, dir.path(), QStringLiteral("Skyvane"), table, [] { return AppendAnswer::Yes; }),
              StartOutcome::Started);
    EXPECT_FALSE(file.cycle(table, 3, cycleValues(13)));
    EXPECT_FALSE(file.cycle(table, 3, cycleValues(14)));
    EXPECT_TRUE(file.cycle(table, 3, cycleValues(15)));
}

TEST_F(DataFileFixture, AppendNoAndCancel)
{
    ASSERT_EQ(startByUser(file, dir.path(), QStringLiteral("Skyvane"), table, {}), StartOutcome::Started);
    file.cycle(table, 1, cycleValues(1));
    file.close();
    const QByteArray first = readAll(path());
    EXPECT_EQ(first, QByteArray("\"Time\",\"Rain Value\",\r\n\"21:05:04\",\"1\",\r\n"));

    // Cancel: the file is left exactly as it was, recording off
    int asked = 0;
    EXPECT_EQ(startByUser(file, dir.path(), QStringLiteral(" Skyvane "), table, [&] { ++asked; return AppendAnswer::Cancel; }),
              StartOutcome::Cancelled);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(file.isRecording());
    EXPECT_EQ(readAll(path()), first);

    // Yes: appended, with a header of its own
    ASSERT_EQ(startByUser(file, dir.path(), QStringLiteral("Skyvane"), table, [] { return AppendAnswer::Yes; }),
              StartOutcome::Started);
    file.cycle(table, 1, cycleValues(2));
    file.close();
    EXPECT_EQ(readAll(path()), first + "\"Time\",\"Rain Value\",\r\n\"21:05:04\",\"2\",\r\n");

    // No: truncated, a fresh header
    ASSERT_EQ(startByUser(file, dir.path(), QStringLiteral("Skyvane"), table, [] { return AppendAnswer::No; }),
              StartOutcome::Started);
    file.close();
    EXPECT_EQ(readAll(path()), QByteArray("\"Time\",\"Rain Value\",\r\n"));
}

TEST_F(DataFileFixture, AppendAfterAnUnfinishedLineKeepsEveryByte)
{
    // A kill during a write left half a line of ours; or the name is that of
    // a file of the user's own without a final line end. Nothing of either
    // is cut: the header starts a line of its own after it.
    const QByteArray cut = "\"Time\",\"Rain Value\",\r\n\"21:05:04\",\"1\",\r\n\"21:05:14\",\"";
    const QByteArray notes = "Observing notes of the 8th: seeing poor, dome stuck at 230 degrees";
    const QByteArray big = QByteArray(100 * 1024, 'x'); // longer than any line, no line end at all
    for (const QByteArray& before : {cut, notes, big}) {
        writeAll(path(), before);
        ASSERT_EQ(startByUser(file, dir.path(), QStringLiteral("Skyvane"), table, [] { return AppendAnswer::Yes; }),
                  StartOutcome::Started);
        EXPECT_TRUE(file.cycle(table, 1, cycleValues(2)));
        file.close();
        EXPECT_EQ(readAll(path()), before + "\r\n\"Time\",\"Rain Value\",\r\n\"21:05:04\",\"2\",\r\n");
    }
}

namespace {
// A file size limit is a full disk that needs no mount: writes beyond it
// fail, and one that crosses it is cut short, as on a file system that ran
// out of space in the middle of a line.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = old;
        l.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
    rlimit old{};
    void (*oldHandler)(int) = nullptr;
};
} // namespace

TEST_F(DataFileFixture, ALineThatDoesNotFitIsLostWholeAndSaidSo)
{
    ASSERT_EQ(startByUser(file, dir.path(), QStringLiteral("Skyvane"), table, {}), StartOutcome::Started);
    ASSERT_TRUE(file.cycle(table, 1, cycleValues(1)));
    const QByteArray whole = readAll(path());
    {
        // room for a part of the next line only
        FileSizeLimit full(rlim_t(whole.size() + 5));
        EXPECT_FALSE(file.cycle(table, 1, cycleValues(2)));
        EXPECT_FALSE(file.lastWriteOk());
        EXPECT_FALSE(file.errorString().isEmpty());
        EXPECT_EQ(readAll(path()), whole) << "a cut line was left in the file";
        EXPECT_FALSE(file.cycle(table, 1, cycleValues(3)));
        EXPECT_TRUE(file.isRecording()) << "recording goes on and tries again";
    }
    // space again: the next line is written, the lost ones are not invented
    EXPECT_TRUE(file.cycle(table, 1, cycleValues(4)));
    EXPECT_TRUE(file.lastWriteOk());
    file.close();
    EXPECT_EQ(readAll(path()), whole + "\"21:05:04\",\"4\",\r\n");
}

TEST_F(DataFileFixture, RefusedStarts)
{
    EXPECT_EQ(startByUser(file, dir.path(), QStringLiteral("  "), table, {}), StartOutcome::NoName);
    EXPECT_EQ(startByUser(file, QStringLiteral(" "), QStringLiteral("Skyvane"), table, {}), StartOutcome::NoFolder);
    EXPECT_EQ(startByUser(file, dir.filePath(QStringLiteral("missing")), QStringLiteral("Skyvane"), table, {}),
              StartOutcome::OpenFailed);
    EXPECT_FALSE(file.isRecording());
    EXPECT_FALSE(file.errorString().isEmpty());
    // a folder where the file should be
    QDir(dir.path()).mkdir(QStringLiteral("Skyvane.csv"));
    EXPECT_EQ(startByUser(file, dir.path(), QStringLiteral("Skyvane"), table, {}), StartOutcome::OpenFailed);
    EXPECT_FALSE(file.cycle(table, 1, cycleValues(1)));
}

// ---- settings ------------------------------------------------------------------

TEST(OutputsSettings, EveryKeyRoundTripsAndMissingKeysLoadDefaults)
{
    QTemporaryDir dir;
    const QString programDir = QStringLiteral("/opt/skyvane");
    {
        SettingsStore store(dir.path());
        OutputsConfig fresh;
        fresh.load(store, programDir);
        EXPECT_EQ(fresh.columns, ColumnTable::defaults());
        EXPECT_EQ(fresh.fileName, QStringLiteral("Skyvane"));
        EXPECT_EQ(fresh.freqSave, 1);
        EXPECT_EQ(fresh.fileNameCcdap4, QStringLiteral("XOB_CCDAP4_II.dat"));
        EXPECT_EQ(fresh.pathNameCcdap4, programDir);

        OutputsConfig c = fresh;
        c.fileName = QStringLiteral("night");
        c.freqSave = 6;
        c.fileNameCcdap4 = QString();
        c.pathNameCcdap4 = QStringLiteral("/data/ccd");
        std::swap(c.columns.columns[0], c.columns.columns[24]);
        c.columns.columns[3].include = false;
        c.columns.columns[7].header = QStringLiteral("My header");
        c.save(store);
        store.sync();

        // every key of the table was written, and reads back as it was saved
        for (const SettingRow<OutputsConfig>& k : outputSettingRows(programDir)) {
            EXPECT_TRUE(store.contains(QStringLiteral("XOB_Skyvane"), k.section, k.key)) << qPrintable(k.key);
            EXPECT_EQ(store.get(QStringLiteral("XOB_Skyvane"), k.section, k.key), k.text(c)) << qPrintable(k.key);
        }
        OutputsConfig back;
        back.load(store, programDir);
        EXPECT_EQ(back.columns, c.columns);
        EXPECT_EQ(back.fileName, c.fileName);
        EXPECT_EQ(back.freqSave, 6);
        EXPECT_EQ(back.fileNameCcdap4, QString());
        EXPECT_EQ(back.pathNameCcdap4, c.pathNameCcdap4);
    }
    EXPECT_EQ(outputSettingRows(programDir).size(), size_t(4 + 75));

    // a store from an older run that lacks some keys, and bad values
    SettingsStore store(dir.path());
    store.deleteKey(QStringLiteral("XOB_Skyvane"), QStringLiteral("File"), QStringLiteral("Hdr08"));
    store.save(QStringLiteral("XOB_Skyvane"), QStringLiteral("Window"), QStringLiteral("FreqSave"), QStringLiteral("0"));
    store.save(QStringLiteral("XOB_Skyvane"), QStringLiteral("File"), QStringLiteral("Hdr02"), QString(40, QLatin1Char('h')));
    OutputsConfig c;
    c.load(store, programDir);
    EXPECT_EQ(c.columns.columns[7].header, QStringLiteral("DewPoint Condition"));
    EXPECT_EQ(c.columns.columns[1].header.size(), kHeaderWidth);
    EXPECT_EQ(c.freqSave, 1);
}
