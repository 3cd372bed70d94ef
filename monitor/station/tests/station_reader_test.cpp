// One read cycle of the weather-station file against real files in a
// temporary folder, with the time given by a fake clock.
#include "StationReader.h"
#include "StationTime.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace skyvane;
using namespace skyvane::station;

// Texts in failure messages as text.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(21, 0, 0));

QByteArray stationCsv(const QByteArray& date = "07/12/26", const QByteArray& time = "21:00:00")
{
    return "Date,," + date + "\r\nTime,," + time + "\r\nOutTemp,\xC2\xB0" "C,12.5\r\nWindSpeed,km/h,8.3\r\n"
           "Gust,km/h,14.0\r\nWindDirection,,SSW\r\nRainDayMin,mm,10.2\r\nRainDayMax,mm,12.7\r\n"
           "OutHumidity,%,87 %\r\nDewPoint,\xC2\xB0" "C,10.4\r\nBarometer,hPa,1013.2\r\n";
}

class StationReaderTest : public ::testing::Test {
protected:
    StationReaderTest()
        : clock(kStart)
        , reader(clock)
    {
        settings.filePath = dir.filePath(QStringLiteral("station.csv"));
        settings.separators.decimal = QStringLiteral(".");
        settings.timeoutReadMinutes = 3;
        settings.alarmWsArmed = true;
        settings.alarmWsSound = QStringLiteral("/sounds/ws.wav|");
    }

    // Writes the file and gives it a modification time of its own, so that
    // each write is a new version without waiting for the file system clock.
    void write(const QByteArray& bytes, const QString& path = {})
    {
        QFile f(path.isEmpty() ? settings.filePath : path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        mtime = mtime.addSecs(7);
        ASSERT_TRUE(f.setFileTime(mtime, QFileDevice::FileModificationTime));
    }

    // One cycle as the monitor runs it: a try that asks for another look is
    // followed, after its pause on the clock, by the next one. betweenTries
    // plays the station program going on with its write meanwhile.
    StationCycleResult cycle(const std::function<void(int)>& betweenTries = {})
    {
        StationCycleResult r = reader.readCycle(settings);
        waitedMs = 0;
        for (int i = 1; r.retryInMs > 0; ++i) {
            EXPECT_LE(i, 3) << "more than three more looks";
            clock.advance(r.retryInMs);
            waitedMs += r.retryInMs;
            if (betweenTries) betweenTries(i);
            r = reader.readCycle(settings);
        }
        // the alarm module follows the request, as the main window wires it
        if (r.alarm == StationAlarmAction::Start) settings.currentAlarmId = QStringLiteral("10");
        if (r.alarm == StationAlarmAction::Stop) settings.currentAlarmId.clear();
        return r;
    }

    // One cycle's status text, read by a user without root's rights.
    QString statusAsUnprivilegedUser()
    {
        return QString::fromUtf8(skyvane::testing::asUnprivilegedUser([&] {
            StationCycleResult r = reader.readCycle(settings);
            return r.status.toUtf8();
        }));
    }

    QTemporaryDir dir;
    FakeClock clock;
    StationReader reader;
    StationSettings settings;
    // the files are written shortly before the time their data carry
    QDateTime mtime = kStart.addSecs(-60);
    qint64 waitedMs = 0; // what the last cycle waited for its file
};

} // namespace

TEST_F(StationReaderTest, FirstCycleReadsAndPublishes)
{
    write(stationCsv());
    reader.startReading();
    const StationCycleResult r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - Refreshed"));
    EXPECT_EQ(r.statusColour, colour::Navy);
    EXPECT_TRUE(r.valid);
    EXPECT_FALSE(r.fileAbsent);
    EXPECT_FALSE(r.tooOld);
    EXPECT_EQ(r.readLampColour, colour::Lime);
    EXPECT_TRUE(r.codes.isEmpty());
    EXPECT_TRUE(r.alarmMessage.isEmpty());
    EXPECT_EQ(r.alarm, StationAlarmAction::None);
    EXPECT_EQ(r.texts[FieldDate], QStringLiteral("07/12"));
    EXPECT_EQ(r.texts[FieldTempUnit], QString(QChar(0xB0)) + QStringLiteral("C"));
    EXPECT_EQ(r.dataTime, kStart);
    EXPECT_DOUBLE_EQ(r.values.windSpeed.value, 8.3);
    EXPECT_TRUE(r.values.windSpeed.ok);
    EXPECT_EQ(r.panelNameColour, colour::Cyan);
    EXPECT_EQ(r.panel.windSpeed, QStringLiteral("8.3 km/h"));
    EXPECT_EQ(r.panel.humidity, QStringLiteral("87 %"));
    EXPECT_EQ(r.panel.direction, QStringLiteral("202.5"));
    EXPECT_EQ(r.panel.temperature, QStringLiteral("12.5"));
    EXPECT_EQ(r.secondsSinceGoodData(false), 3);
    EXPECT_EQ(r.secondsSinceGoodData(true), 1000);
}

TEST_F(StationReaderTest, AgeOfAnUnchangedFile)
{
    write(stationCsv());
    reader.startReading();
    cycle();

    clock.advance(120'000);
    StationCycleResult r = cycle();
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - 120s old"));
    EXPECT_TRUE(r.valid);

    // exactly TimeoutREAD minutes old: not yet too old
    clock.advance(60'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - 180s old"));

    clock.advance(1'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::TooOld);
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data too old - 181s old"));
    EXPECT_EQ(r.statusColour, colour::Red);
    EXPECT_TRUE(r.tooOld);
    EXPECT_FALSE(r.fileAbsent);
    EXPECT_FALSE(r.valid);
    EXPECT_FALSE(r.values.windSpeed.ok);
    EXPECT_TRUE(r.panel.windSpeed.isEmpty());
    EXPECT_EQ(r.panelNameColour, colour::Red);
    EXPECT_EQ(r.texts[FieldWindSpeed], QStringLiteral("8.3")); // labels keep the last read
    EXPECT_EQ(r.codes, QStringLiteral("a41"));
    EXPECT_EQ(r.alarmMessage, QStringLiteral("WS data too old"));
    EXPECT_EQ(r.readLampColour, colour::Yellow);
    EXPECT_EQ(r.alarm, StationAlarmAction::Start);
    EXPECT_EQ(r.alarmSound, settings.alarmWsSound);
    EXPECT_TRUE(r.stopSensorServerAlarm);
    EXPECT_EQ(r.secondsSinceGoodData(false), 1000);

    // started once per problem period
    clock.advance(5'000);
    EXPECT_EQ(cycle().alarm, StationAlarmAction::None);

    // fresh data: refreshed, alarm stopped
    clock.advance(5'000);
    write(stationCsv("07/12/26", "21:03:05"));
    r = cycle();
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - Refreshed"));
    EXPECT_FALSE(r.tooOld);
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.alarm, StationAlarmAction::Stop);
    EXPECT_TRUE(r.codes.isEmpty());
}

TEST_F(StationReaderTest, NoAlarmUnlessArmedWithASound)
{
    settings.alarmWsSound.clear();
    StationCycleResult r = cycle(); // no file
    EXPECT_EQ(r.outcome, StationOutcome::Absent);
    EXPECT_EQ(r.alarm, StationAlarmAction::None);
    settings.alarmWsSound = QStringLiteral("/s.wav");
    settings.alarmWsArmed = false;
    EXPECT_EQ(cycle().alarm, StationAlarmAction::None);
}

TEST_F(StationReaderTest, MissingFile)
{
    const StationCycleResult r = cycle();
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - file not available"));
    EXPECT_EQ(r.statusColour, colour::Red);
    EXPECT_TRUE(r.fileAbsent);
    EXPECT_TRUE(r.tooOld);
    EXPECT_FALSE(r.valid);
    EXPECT_EQ(r.codes, QStringLiteral("a42"));
    EXPECT_EQ(r.alarmMessage, QStringLiteral("WS data file absent"));
    EXPECT_EQ(r.alarm, StationAlarmAction::Start);
    EXPECT_FALSE(r.stopSensorServerAlarm);
    // the file turns up: read at once
    write(stationCsv());
    const StationCycleResult r2 = cycle();
    EXPECT_TRUE(r2.valid);
    EXPECT_FALSE(r2.fileAbsent);
    EXPECT_EQ(r2.alarm, StationAlarmAction::Stop);
}

TEST_F(StationReaderTest, UnusablePaths)
{
    struct Case { const char* name; std::function<void(const QString&)> make; const char* status; };
    const Case cases[] = {
        {"folder", [](const QString& p) { QDir().mkpath(p); }, "Weather Station Data - path is a folder"},
        {"fifo", [](const QString& p) { ::mkfifo(QFile::encodeName(p).constData(), 0600); }, "Weather Station Data - not a regular file"},
        // 50 MB, sparse: never read
        {"huge", [](const QString& p) { QFile f(p); f.open(QIODevice::WriteOnly); f.resize(50LL * 1024 * 1024); }, "Weather Station Data - file too large"},
    };
    for (const Case& c : cases) {
        settings.filePath = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".htm"));
        c.make(settings.filePath);
        const StationCycleResult r = cycle();
        EXPECT_EQ(r.outcome, StationOutcome::Unusable) << c.name;
        EXPECT_EQ(r.status, QString::fromLatin1(c.status)) << c.name;
        EXPECT_EQ(r.codes, QStringLiteral("a42")) << c.name;
        EXPECT_TRUE(r.fileAbsent) << c.name;
        EXPECT_EQ(r.alarmMessage, QStringLiteral("WS data file unreadable")) << c.name;
        EXPECT_FALSE(r.valid) << c.name;
    }
    // A file its user may not read. Root reads anything, so the read is
    // made as an unprivileged user then.
    settings.filePath = dir.filePath(QStringLiteral("locked.csv"));
    write(stationCsv());
    ::chmod(QFile::encodeName(settings.filePath).constData(), 0);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    EXPECT_EQ(statusAsUnprivilegedUser(), QStringLiteral("Weather Station Data - file cannot be read"));
}

TEST_F(StationReaderTest, FilesWithoutReadings)
{
    struct Case { const char* name; const char* file; QByteArray bytes; };
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i) binary[i] = char((i * 7919 + 13) % 256);
    const Case cases[] = {
        {"no table", "page.htm", "<html><body>OutTemp 12</body></html>"},
        {"upper-case .CSV is a page", "station.CSV", stationCsv()},
        {"binary", "station.htm", binary},
        {"binary csv", "station.csv", binary},
        {"empty", "station.csv", ""},
    };
    for (const Case& c : cases) {
        settings.filePath = dir.filePath(QString::fromLatin1(c.file));
        write(c.bytes);
        reader.startReading();
        const StationCycleResult r = cycle();
        EXPECT_EQ(r.outcome, StationOutcome::NoReadings) << c.name;
        EXPECT_TRUE(r.status.startsWith(QStringLiteral("Weather Station Data - no readings in file - "))) << c.name;
        EXPECT_FALSE(r.valid) << c.name;
        EXPECT_FALSE(r.labelsRead) << c.name;
    }
}

TEST_F(StationReaderTest, HalfWrittenFileIsNotUsed)
{
    write(stationCsv());
    reader.startReading();
    const StationCycleResult good = cycle();
    ASSERT_TRUE(good.valid);

    // the station program has written only the first lines so far
    write(stationCsv().left(60));
    clock.advance(5'000);
    StationCycleResult r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::BeingWritten);
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - file being written - 5s old"));
    EXPECT_EQ(r.tries, 4); // looked at again three times, within half a second
    EXPECT_LE(waitedMs, 500);
    // One bad cycle moves nothing: the cycle goes on with the last read.
    EXPECT_TRUE(r.valid);
    EXPECT_TRUE(r.values.gust.ok);
    EXPECT_DOUBLE_EQ(r.values.outTemp.value, 12.5);
    EXPECT_EQ(r.panel.temperature, good.panel.temperature);
    EXPECT_EQ(r.panelNameColour, good.panelNameColour);
    EXPECT_FALSE(r.tooOld);
    EXPECT_FALSE(r.fileAbsent);
    EXPECT_EQ(r.alarm, StationAlarmAction::None);
    EXPECT_EQ(r.texts[FieldGust], QStringLiteral("14")); // labels of the last good read

    // finished: good again
    write(stationCsv("07/12/26", "21:00:05"));
    clock.advance(5'000);
    r = cycle();
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.dataTime, kStart.addSecs(5));

    // a last line cut short, the line end missing
    QByteArray cut = stationCsv();
    cut.chop(5);
    write(cut);
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::BeingWritten);
    EXPECT_TRUE(r.valid);

    // caught again in the middle of the next rewrite: a second bad cycle in a
    // row counts what the file holds, and only that (the first five
    // records; the sixth is cut inside its name)
    write(stationCsv().left(90));
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_TRUE(r.valid);
    EXPECT_TRUE(r.values.gust.ok);
    EXPECT_DOUBLE_EQ(r.values.gust.value, 14.0);
    EXPECT_FALSE(r.values.humidity.ok);
    EXPECT_EQ(r.values.humidity.missing, Missing::NotInFile);
    EXPECT_FALSE(r.values.windDirection.ok);
    EXPECT_TRUE(r.texts[FieldHumidity].isEmpty());
    EXPECT_EQ(r.panel.temperature, QStringLiteral("12.5"));
    EXPECT_FALSE(r.tooOld);
    EXPECT_EQ(r.alarm, StationAlarmAction::None);

    // the data of another file are never repeated for a bad read
    settings.filePath = dir.filePath(QStringLiteral("other.csv"));
    write("");
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::NoReadings);
    EXPECT_FALSE(r.valid);
    settings.filePath = dir.filePath(QStringLiteral("station.csv"));

    // an emptied file is caught the same way
    write(stationCsv("07/12/26", "21:00:20"));
    clock.advance(5'000);
    ASSERT_TRUE(cycle().valid);
    write("");
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::BeingWritten);
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.dataTime, kStart.addSecs(20));
    // still empty a cycle later: no data, as old as the last counted read
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::NoReadings);
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - no readings in file - %1s old")
                            .arg(std::llround(kStart.addSecs(20).msecsTo(clock.now()) / 1000.0)));
    EXPECT_FALSE(r.valid);
    EXPECT_FALSE(r.values.outTemp.ok);
    EXPECT_EQ(r.values.outTemp.missing, Missing::NoData);
    EXPECT_EQ(r.dataTime, kStart.addSecs(20));
    EXPECT_EQ(r.tries, 1); // unchanged since the last cycle: nothing to wait for
}

TEST_F(StationReaderTest, CsvValueCutAtTheEndIsNeverUsed)
{
    // Humidity written last, 95 %.
    auto file = [](const QByteArray& time, const QByteArray& humidity, bool lineEnd) {
        QByteArray b = "Date,,07/12/26\r\nTime,," + time + "\r\nOutTemp,C,12.5\r\nWindSpeed,km/h,8\r\n"
                       "OutHumidity,%," + humidity;
        if (lineEnd) b += "\r\n";
        return b;
    };
    write(file("21:00:00", "95", true));
    reader.startReading();
    ASSERT_DOUBLE_EQ(cycle().values.humidity.value, 95);

    // cut inside the last value, seen twice
    write(file("21:00:05", "9", false));
    for (int i = 0; i < 3; ++i) {
        clock.advance(5'000);
        const StationCycleResult r = cycle();
        EXPECT_FALSE(r.values.humidity.ok && r.values.humidity.value == 9) << i;
        EXPECT_NE(r.texts[FieldHumidity], QStringLiteral("9")) << i;
    }

    // the cut file never changes again (its program died while writing)
    clock.advance(5'000);
    StationCycleResult r = cycle();
    EXPECT_TRUE(r.valid);
    EXPECT_FALSE(r.values.humidity.ok);
    EXPECT_EQ(r.values.humidity.missing, Missing::RecordCut);
    EXPECT_TRUE(r.values.windSpeed.ok);
    EXPECT_EQ(r.tries, 1);

    // after a Start the first read does not know how the station ends its
    // files: a last record without a line end is taken as cut
    write(file("21:00:10", "95", false));
    reader.startReading();
    r = cycle();
    EXPECT_FALSE(r.values.humidity.ok);
    EXPECT_EQ(r.values.humidity.missing, Missing::RecordCut);
    clock.advance(5'000);
    EXPECT_FALSE(cycle().values.humidity.ok); // unchanged: still cut
}

TEST_F(StationReaderTest, StationThatNeverEndsItsLastLine)
{
    QByteArray b = stationCsv();
    b.chop(2);
    write(b);
    reader.startReading();
    ASSERT_FALSE(cycle().values.barometer.ok); // not yet known how it writes
    write(stationCsv("07/12/26", "21:00:02").chopped(2));
    clock.advance(5'000);
    ASSERT_FALSE(cycle().values.barometer.ok); // once could be a cut

    // rewritten again without a final line end: the station writes none,
    // and its last record counts from now on
    write(stationCsv("07/12/26", "21:00:05").chopped(2));
    clock.advance(5'000);
    StationCycleResult r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_TRUE(r.values.barometer.ok);
    EXPECT_DOUBLE_EQ(r.values.barometer.value, 1013.2);
    EXPECT_EQ(r.tries, 1);
    clock.advance(5'000);
    EXPECT_TRUE(cycle().values.barometer.ok); // unchanged: the same verdict

    // caught while it rewrites: the later names are missing, so the rewrite
    // is seen for what it is, and its last record ("Gust,km/h,1") is cut
    write(stationCsv().left(100 - 18));
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::BeingWritten);
    EXPECT_DOUBLE_EQ(r.values.barometer.value, 1013.2);
    write(stationCsv().left(100 - 18));
    clock.advance(5'000);
    r = cycle(); // counted: what it holds, without the cut gust
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_FALSE(r.values.gust.ok);
    EXPECT_EQ(r.values.gust.missing, Missing::RecordCut);
    EXPECT_TRUE(r.values.windSpeed.ok);

    // a station that goes back to line ends is read as such
    write(stationCsv("07/12/26", "21:00:25"));
    clock.advance(5'000);
    EXPECT_TRUE(cycle().values.barometer.ok);
    write(stationCsv("07/12/26", "21:00:30").chopped(5)); // now cut inside the value
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::BeingWritten);
    clock.advance(5'000);
    r = cycle();
    EXPECT_FALSE(r.values.barometer.ok);
    EXPECT_NE(r.texts[FieldBarometer], QStringLiteral("10"));
}

TEST_F(StationReaderTest, Utf16Files)
{
    const QString csv = QString::fromUtf8(stationCsv());
    const QString htm = QStringLiteral("<html><body><table>\r\n<tr><td>Date</td><td></td><td>07/12/26</td></tr>\r\n"
                                       "<tr><td>Time</td><td></td><td>21:00:00</td></tr>\r\n"
                                       "<tr><td>OutTemp</td><td>&deg;C</td><td>-2.5</td></tr>\r\n"
                                       "<tr><td>WindSpeed</td><td>km/h</td><td>12</td></tr>\r\n</table></body></html>");
    for (const bool bigEndian : {false, true}) {
        for (const bool page : {false, true}) {
            SCOPED_TRACE(::testing::Message() << (bigEndian ? "BE " : "LE ") << (page ? "htm" : "csv"));
            const QString text = page ? htm : csv;
            QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF", 2) : QByteArray("\xFF\xFE", 2);
            for (QChar ch : text) {
                const char16_t u = ch.unicode();
                const char hi = char(u >> 8), lo = char(u & 0xFF);
                bytes += bigEndian ? hi : lo;
                bytes += bigEndian ? lo : hi;
            }
            settings.filePath = dir.filePath(page ? QStringLiteral("s.htm") : QStringLiteral("s.csv"));
            write(bytes);
            reader.startReading();
            const StationCycleResult r = cycle();
            EXPECT_EQ(r.outcome, StationOutcome::Fresh);
            EXPECT_TRUE(r.valid);
            EXPECT_EQ(r.texts[FieldTempUnit], QString(QChar(0xB0)) + QStringLiteral("C"));
            EXPECT_EQ(r.dataTime, kStart);
            EXPECT_DOUBLE_EQ(r.values.outTemp.value, page ? -2.5 : 12.5);
        }
    }
}

TEST_F(StationReaderTest, StartClearsTheStaleFlags)
{
    StationCycleResult r = cycle(); // no file yet
    ASSERT_TRUE(r.fileAbsent);
    ASSERT_TRUE(r.tooOld);
    write(""); // there now, but nothing in it yet
    reader.startReading();
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::NoReadings);
    EXPECT_FALSE(r.fileAbsent);
    EXPECT_FALSE(r.tooOld);
    EXPECT_TRUE(r.codes.isEmpty());
    EXPECT_EQ(r.secondsSinceGoodData(false), 3);

    // nothing read before a stop passes as data after the next start
    write(stationCsv());
    ASSERT_TRUE(cycle().valid);
    write("");
    reader.startReading();
    r = cycle();
    EXPECT_FALSE(r.valid);
    EXPECT_FALSE(r.values.outTemp.ok);
}

TEST_F(StationReaderTest, PathTurningIntoANamedPipeNeverBlocks)
{
    // A FIFO where the file was: the cycle returns at once.
    const QByteArray path = QFile::encodeName(settings.filePath);
    ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
    StationCycleResult r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::Unusable);
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - not a regular file"));
    EXPECT_EQ(r.codes, QStringLiteral("a42"));
    EXPECT_TRUE(r.fileAbsent);
    ASSERT_EQ(::unlink(path.constData()), 0);

    // The path keeps changing between a file and a FIFO while cycles run, so
    // that sooner or later it changes between a look at the path and the
    // open. A reader stuck in its open for a second is freed by opening the
    // FIFO for writing, and counted.
    const QByteArray keep = QFile::encodeName(dir.filePath(QStringLiteral("pipe.keep")));
    const QByteArray pipeTmp = QFile::encodeName(dir.filePath(QStringLiteral("pipe.tmp")));
    const QByteArray fileTmp = QFile::encodeName(dir.filePath(QStringLiteral("file.tmp")));
    ASSERT_EQ(::mkfifo(keep.constData(), 0600), 0);
    auto steadyMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    std::atomic<bool> stop{false};
    std::atomic<long long> cycleBegan{0}; // 0 between cycles
    std::atomic<int> stuck{0};
    std::thread swapper([&] {
        const QByteArray csv = stationCsv();
        while (!stop.load()) {
            const int out = ::open(fileTmp.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out >= 0) {
                (void)!::write(out, csv.constData(), size_t(csv.size()));
                ::close(out);
            }
            ::rename(fileTmp.constData(), path.constData());
            ::link(keep.constData(), pipeTmp.constData());
            ::rename(pipeTmp.constData(), path.constData());
            const long long began = cycleBegan.load();
            if (began != 0 && steadyMs() - began > 1000) {
                const int fd = ::open(keep.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    ++stuck;
                    ::close(fd);
                }
            }
        }
    });
    int unusable = 0;
    for (int i = 0; i < 20000 && stuck.load() == 0; ++i) {
        cycleBegan = steadyMs();
        const StationOutcome o = reader.readCycle(settings).outcome;
        cycleBegan = 0;
        if (o == StationOutcome::Unusable) ++unusable;
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(stuck.load(), 0) << unusable;
    EXPECT_GT(unusable, 0);
}

TEST_F(StationReaderTest, ShorterFileThatStaysIsAccepted)
{
    write(stationCsv());
    reader.startReading();
    ASSERT_TRUE(cycle().valid);
    // the station no longer writes a gust line
    QByteArray noGust = stationCsv();
    noGust.replace("Gust,km/h,14.0\r\n", "");
    write(noGust);
    clock.advance(5'000);
    EXPECT_EQ(cycle().outcome, StationOutcome::BeingWritten);
    clock.advance(5'000);
    StationCycleResult r = cycle(); // unchanged a cycle later
    EXPECT_TRUE(r.valid);
    EXPECT_FALSE(r.values.gust.ok);
    EXPECT_TRUE(r.values.windSpeed.ok);
    EXPECT_TRUE(r.texts[FieldGust].isEmpty());
    clock.advance(5'000);
    EXPECT_EQ(cycle().outcome, StationOutcome::Fresh); // the new layout is the norm now
}

TEST_F(StationReaderTest, StationReconfiguredWhileRewritingEveryCycle)
{
    // Every version whole and new, but the temperature is no longer written;
    // the wind rises to a gale at the same time.
    write(stationCsv());
    reader.startReading();
    ASSERT_TRUE(cycle().values.outTemp.ok);
    auto reconfigured = [&](int second) {
        QByteArray b = stationCsv("07/12/26", "21:00:" + QByteArray::number(second).rightJustified(2, '0'));
        b.replace("OutTemp,\xC2\xB0" "C,12.5\r\n", "");
        b.replace("WindSpeed,km/h,8.3", "WindSpeed,km/h,50");
        write(b);
    };
    reconfigured(5);
    clock.advance(5'000);
    StationCycleResult r = cycle([&](int) { reconfigured(5); });
    EXPECT_EQ(r.outcome, StationOutcome::BeingWritten); // once
    EXPECT_DOUBLE_EQ(r.values.windSpeed.value, 8.3);
    // the next cycle's later looks catch the page emptied for the next
    // version: the cycle counts its best look, the whole reconfigured one
    reconfigured(10);
    clock.advance(5'000);
    r = cycle([&](int) { write(""); });
    EXPECT_EQ(r.tries, 4);
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_DOUBLE_EQ(r.values.windSpeed.value, 50);
    EXPECT_FALSE(r.values.outTemp.ok);
    EXPECT_EQ(r.values.outTemp.missing, Missing::NotInFile);
    reconfigured(15);
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_EQ(r.tries, 1);
}

TEST_F(StationReaderTest, RunOfCutFilesIsForgivenOnlyOnce)
{
    auto cutInside = [](const QByteArray& bytes, const QByteArray& text) {
        return bytes.left(bytes.indexOf(text) + text.size());
    };
    QByteArray warm = stationCsv();
    warm.replace("12.5", "20.0");
    write(warm);
    reader.startReading();
    ASSERT_DOUBLE_EQ(cycle().values.outTemp.value, 20.0);
    // each cycle meets another version cut somewhere
    write(cutInside(stationCsv("07/12/26", "21:00:05"), "OutHumi"));
    clock.advance(5'000);
    StationCycleResult r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::BeingWritten);
    EXPECT_DOUBLE_EQ(r.values.outTemp.value, 20.0);
    write(cutInside(warm, "OutTemp,\xC2\xB0" "C,2"));
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_FALSE(r.values.outTemp.ok); // the cut "2" is never 2, nor the old 20
    EXPECT_EQ(r.values.outTemp.missing, Missing::RecordCut);
    EXPECT_FALSE(r.values.windSpeed.ok);
    EXPECT_TRUE(r.texts[FieldOutTemp].isEmpty());
    EXPECT_EQ(r.dataTime, kStart); // the file's own date and time
    write(cutInside(stationCsv("07/12/26", "21:00:15"), "Gust,km"));
    clock.advance(5'000);
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_TRUE(r.values.outTemp.ok);
    EXPECT_FALSE(r.values.gust.ok);
    EXPECT_EQ(r.values.gust.missing, Missing::RecordCut);
    EXPECT_EQ(r.dataTime, kStart.addSecs(15));
    EXPECT_FALSE(r.tooOld);
}

TEST_F(StationReaderTest, AnotherLookFindsTheFinishedRewrite)
{
    write(stationCsv());
    reader.startReading();
    ASSERT_TRUE(cycle().valid);
    QByteArray gale = stationCsv("07/12/26", "21:00:05");
    gale.replace("WindSpeed,km/h,8.3", "WindSpeed,km/h,50");
    // caught after the first third; finished by the second look
    write(gale.left(gale.size() / 3));
    clock.advance(5'000);
    StationCycleResult r = cycle([&](int i) {
        if (i == 1) write(gale);
    });
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_EQ(r.tries, 2);
    EXPECT_DOUBLE_EQ(r.values.windSpeed.value, 50);
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - Refreshed"));
    EXPECT_LE(waitedMs, 100);

    // a whole file written again after the first look: found on the third
    gale.replace("21:00:05", "21:00:10");
    write(gale.left(40));
    clock.advance(5'000);
    r = cycle([&](int i) { write(i == 1 ? gale.left(120) : gale); });
    EXPECT_EQ(r.outcome, StationOutcome::Fresh);
    EXPECT_EQ(r.tries, 3);
    EXPECT_EQ(r.dataTime, kStart.addSecs(10));
}

TEST_F(StationReaderTest, NothingFromBeforeTheStopIsCarried)
{
    write(stationCsv());
    reader.startReading();
    ASSERT_TRUE(cycle().valid);
    // stopped, started again; the station is caught writing
    write(stationCsv().left(60));
    reader.startReading();
    clock.advance(5'000);
    StationCycleResult r = cycle();
    EXPECT_EQ(r.tries, 4);
    EXPECT_EQ(r.outcome, StationOutcome::Fresh); // never forgiven: what the file holds counts
    EXPECT_TRUE(r.values.outTemp.ok);
    EXPECT_FALSE(r.values.windSpeed.ok);
    // garbage after a Start: no data at all, and none of the old
    write("\x01\x02 busy \xFF");
    reader.startReading();
    r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::NoReadings);
    EXPECT_FALSE(r.valid);
    EXPECT_FALSE(r.values.windSpeed.ok);
    EXPECT_EQ(r.dataTime, clock.now().addMSecs(-waitedMs)); // as old as the Start
    // the age runs from the Start, however often the file changes
    for (int i = 0; i < 3; ++i) {
        clock.advance(61'000);
        write(QByteArray(64 + i, '\0'));
        r = cycle();
    }
    EXPECT_EQ(r.outcome, StationOutcome::TooOld);
    EXPECT_EQ(r.codes, QStringLiteral("a41"));
    EXPECT_EQ(r.secondsSinceGoodData(false), 1000);
}

TEST_F(StationReaderTest, BadReadsTurnTooOldAfterTheTimeout)
{
    write(stationCsv());
    reader.startReading();
    ASSERT_TRUE(cycle().valid);
    // the file keeps changing but never holds readings
    for (int i = 0; i < 4; ++i) {
        clock.advance(59'000); // and the looks again of each cycle
        write("<html>busy</html>" + QByteArray::number(i));
        const StationCycleResult r = cycle();
        if (i == 0) { // one catch of a rewrite is forgiven
            EXPECT_EQ(r.outcome, StationOutcome::BeingWritten) << i;
            EXPECT_TRUE(r.valid);
        } else if (i < 3) { // at 177 s and a little, not yet too old
            EXPECT_EQ(r.outcome, StationOutcome::NoReadings) << i;
            EXPECT_FALSE(r.valid);
        } else {
            EXPECT_EQ(r.outcome, StationOutcome::TooOld) << i;
            EXPECT_EQ(r.codes, QStringLiteral("a41"));
        }
    }
}

TEST_F(StationReaderTest, StartReadingReadsAnUnchangedFileAgain)
{
    write(stationCsv());
    reader.startReading();
    cycle();
    clock.advance(3600'000);
    EXPECT_EQ(cycle().outcome, StationOutcome::TooOld);
    reader.startReading();
    EXPECT_EQ(reader.rememberedFileTime(), StationReader::resetFileTimeText());
    EXPECT_EQ(reader.stationDataTime(), clock.now());
    const StationCycleResult r = cycle();
    // read again; the data inside are an hour old but the file counts as changed
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data - Refreshed"));
    EXPECT_TRUE(r.valid);
    clock.advance(1'000);
    EXPECT_EQ(cycle().outcome, StationOutcome::TooOld);
}

TEST_F(StationReaderTest, DataWithoutDateAreAsOldAsTheFile)
{
    mtime = kStart.addSecs(-3600);
    write("OutTemp,C,12.5\r\nWindSpeed,km/h,3\r\n");
    reader.startReading();
    const StationCycleResult r = cycle();
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.dataTime, mtime);
    clock.advance(1'000);
    EXPECT_EQ(cycle().outcome, StationOutcome::TooOld); // the file is an hour old
}

TEST_F(StationReaderTest, HtmlInCodePage1252)
{
    settings.filePath = dir.filePath(QStringLiteral("station.htm"));
    write("<html><body><table>\r\n<tr><td>Date</td><td></td><td>12/07/26</td></tr>\r\n"
          "<tr><td>Time</td><td></td><td>9:00:00 PM</td></tr>\r\n"
          "<tr><td>OutTemp</td><td>\xB0" "C</td><td>-2.5</td></tr>\r\n"
          "<tr><td>WindSpeed</td><td>km/h</td><td>12</td></tr>\r\n</table></body></html>");
    settings.dayMonthOrder = false;
    reader.startReading();
    const StationCycleResult r = cycle();
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.texts[FieldTempUnit], QString(QChar(0xB0)) + QStringLiteral("C"));
    EXPECT_EQ(r.texts[FieldDate], QStringLiteral("12/07"));
    EXPECT_EQ(r.dataTime, kStart);
    EXPECT_EQ(r.panel.temperature, QStringLiteral("-2.5"));
}

// ---- local times around the daylight-saving changes -------------------------

namespace {

// The station and the computer in Europe/Berlin; times given in UTC.
class StationLocalTime : public StationReaderTest {
protected:
    void SetUp() override
    {
        oldTz_ = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
    }
    void TearDown() override
    {
        if (oldTz_.isNull()) qunsetenv("TZ");
        else qputenv("TZ", oldTz_);
    }
    static QDateTime utc(const char* iso) { return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toLocalTime(); }
    // The station writes its file now, stamped with its own clock's local
    // reading (the computer's shifted by stationOffsetS).
    void stationWrites(qint64 stationOffsetS = 0)
    {
        const QDateTime local = clock.now().addSecs(stationOffsetS).toLocalTime();
        mtime = clock.now().addSecs(-7);
        write(stationCsv(local.toString("dd/MM/yy").toLatin1(), local.toString("HH:mm:ss").toLatin1()));
    }
    QByteArray oldTz_;
};

} // namespace

TEST(StationTime, LocalReadingsAroundTheChanges)
{
    const QTimeZone berlin("Europe/Berlin");
    auto at = [](const char* iso) { return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate); };
    // an ordinary reading is one moment
    LocalMoments m = localMoments(QDate(2026, 7, 1), QTime(12, 0), berlin);
    ASSERT_EQ(m.moments.size(), 1);
    EXPECT_EQ(m.moments[0], at("2026-07-01T10:00:00Z"));
    // the repeated hour: two moments, the oldest first; the file time decides
    m = localMoments(QDate(2026, 10, 25), QTime(2, 30), berlin);
    ASSERT_EQ(m.moments.size(), 2);
    EXPECT_EQ(m.moments[0], at("2026-10-25T00:30:00Z"));
    EXPECT_EQ(m.moments[1], at("2026-10-25T01:30:00Z"));
    EXPECT_EQ(stationMoment(QDate(2026, 10, 25), QTime(2, 30), QDateTime(), berlin), at("2026-10-25T00:30:00Z"));
    EXPECT_EQ(stationMoment(QDate(2026, 10, 25), QTime(2, 30), at("2026-10-25T01:30:05Z"), berlin), at("2026-10-25T01:30:00Z"));
    EXPECT_EQ(stationMoment(QDate(2026, 10, 25), QTime(2, 30), at("2026-10-25T00:30:05Z"), berlin), at("2026-10-25T00:30:00Z"));
    // a file time far from both readings decides nothing: the oldest
    EXPECT_EQ(stationMoment(QDate(2026, 10, 25), QTime(2, 30), at("2026-10-26T00:00:00Z"), berlin), at("2026-10-25T00:30:00Z"));
    // the skipped hour: no error, the offsets either side, the file decides
    m = localMoments(QDate(2026, 3, 29), QTime(2, 30), berlin);
    EXPECT_TRUE(m.skipped);
    ASSERT_EQ(m.moments.size(), 2);
    EXPECT_EQ(stationMoment(QDate(2026, 3, 29), QTime(2, 30), at("2026-03-29T01:30:00Z"), berlin), at("2026-03-29T01:30:00Z"));
    EXPECT_EQ(stationMoment(QDate(2026, 3, 29), QTime(2, 30), QDateTime(), berlin), at("2026-03-29T00:30:00Z"));
    EXPECT_FALSE(stationMoment(QDate(), QTime(2, 30), QDateTime(), berlin).isValid());
}

TEST_F(StationLocalTime, AutumnHourLaterIsNeverFresh)
{
    // data stamped 02:59:30 summer time, looked at 02:59:20 winter time
    clock.setNow(utc("2026-10-25T00:59:30Z"));
    stationWrites();
    reader.startReading();
    EXPECT_EQ(cycle().outcome, StationOutcome::Fresh);
    clock.advance(3590'000);
    ASSERT_EQ(clock.now().toLocalTime().time(), QTime(2, 59, 20));
    const StationCycleResult r = cycle();
    EXPECT_EQ(r.outcome, StationOutcome::TooOld);
    EXPECT_EQ(r.status, QStringLiteral("Weather Station Data too old - 3590s old"));
}

TEST_F(StationLocalTime, StationWritingThroughBothChangesStaysFresh)
{
    for (const char* from : {"2026-10-25T00:40:00Z", "2026-03-29T00:40:00Z"}) {
        clock.setNow(utc(from));
        stationWrites();
        reader.startReading();
        QStringList wrong;
        // 40 minutes on each side of the change, a cycle every 5 s, the
        // station writing every 20 s
        for (int i = 0; i < 960; ++i) {
            if (i % 4 == 0) stationWrites();
            const StationCycleResult r = cycle();
            if (r.outcome != StationOutcome::Fresh || r.status.contains("differs"))
                wrong << clock.now().toString(Qt::ISODate) + ": " + r.status;
            clock.advance(5'000);
        }
        EXPECT_TRUE(wrong.isEmpty()) << from << ": " << wrong.mid(0, 5).join("\n").toStdString();
    }
}

TEST_F(StationLocalTime, StationClockThatDiffersIsSaidSteadily)
{
    for (qint64 offset : {-3600LL, +3600LL, -600LL, -86400LL}) {
        clock.setNow(utc("2026-12-07T20:00:00Z"));
        reader.startReading();
        QStringList statuses;
        int fresh = 0;
        for (int i = 0; i < 40; ++i) {
            if (i % 4 == 0) stationWrites(offset);
            const StationCycleResult r = cycle();
            if (r.outcome == StationOutcome::Fresh) ++fresh;
            statuses << r.status;
            clock.advance(5'000);
        }
        statuses.removeDuplicates();
        // the first read after a start is fresh by rule; never again after it
        EXPECT_LE(fresh, 1) << offset;
        const QString expected = QStringLiteral("Weather Station Data - station clock differs by %1%2s")
                                     .arg(offset > 0 ? "+" : "").arg(offset);
        EXPECT_EQ(statuses.last(), expected) << offset;
        EXPECT_LE(expected.size(), 60) << "the status line shows 60 characters";
        EXPECT_LE(statuses.size(), 2) << statuses.join(" | ").toStdString();
    }
}
