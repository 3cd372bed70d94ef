// The record files in the running monitor: the read cycle writes the
// CCDAutopilot record every cycle and a user data line every save period;
// the Record frame's Start asks before appending; clients' RecordStart and
// RecordStop; the codes c51 and d13.

#include "MonitorRig.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace skyvane;
using Rig = skyvane::testing::MonitorRig;

namespace {
constexpr qint64 kCycle = 10000; // the default read period

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

struct RecordRig {
    Rig rig;
    QString ccdPath() const { return rig.dir.filePath(QStringLiteral("ccd/XOB_CCDAP4_II.dat")); }
    QString csvPath() const { return rig.dir.filePath(QStringLiteral("data/Skyvane.csv")); }
    RecordRig()
    {
        QDir(rig.dir.path()).mkpath(QStringLiteral("ccd"));
        rig.core->outputsConfig().pathNameCcdap4 = rig.dir.filePath(QStringLiteral("ccd"));
        rig.sim->setLevels(1, 1, 1);
    }
    void cycle(int n = 1) { rig.clock.advance(kCycle * n); }
    int dataLines() const { return int(readAll(csvPath()).count("\r\n")); }
};
} // namespace

TEST(RecordFilesInCycle, CcdRecordEveryCycleAndUserDataLinesBySavePeriod)
{
    RecordRig r;
    Rig& rig = r.rig;
    ASSERT_TRUE(rig.ready());
    rig.sim->setReading(QStringLiteral("SkyTemperature"), -17.25);
    rig.core->outputsConfig().freqSave = 2;
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    ASSERT_TRUE(QFileInfo(rig.dir.filePath(QStringLiteral("data"))).isDir()); // made by the start's folder check

    // the first cycle ran at start: one record, 100 bytes, this cycle's values
    QByteArray rec = readAll(r.ccdPath());
    ASSERT_EQ(rec.size(), 100) << rec.constData();
    EXPECT_EQ(rec.mid(0, 11), rig.clock.now().toString(QStringLiteral("yyyy-MM-dd ")).toLatin1());
    EXPECT_EQ(rec.mid(23, 4), "C K ");
    EXPECT_EQ(rec.mid(27, 7), " -17.3 ");  // sky temperature of the stand-in
    EXPECT_EQ(rec.mid(34, 7), "   5.2 ");  // outside temperature of the station file
    EXPECT_EQ(rec.mid(48, 7), "   5.0 ");  // wind speed
    EXPECT_EQ(rec.mid(55, 4), " 60 ");     // humidity
    EXPECT_EQ(rec.mid(59, 7), "  -2.0 ");  // dew point
    EXPECT_EQ(rec.mid(70, 4), "0 0 ");     // dry
    EXPECT_EQ(rec.mid(74, 6), "00003 ");   // all data fresh
    EXPECT_EQ(rec.mid(93, 7), "1 1 1 1");

    // Record_Start from a client: header, then every second cycle a line
    rig.core->recordStart(false);
    ASSERT_TRUE(rig.core->recording());
    EXPECT_EQ(r.dataLines(), 1);
    r.cycle(4);
    EXPECT_EQ(r.dataLines(), 3);
    const QByteArray before = readAll(r.csvPath());
    // a second Record_Start while recording changes nothing
    rig.core->recordStart(true);
    EXPECT_EQ(readAll(r.csvPath()), before);
    const QList<QByteArray> lines = before.split('\n');
    EXPECT_TRUE(lines[0].startsWith("\"Date\",\"Time\",\"Cloud Condition\","));
    EXPECT_TRUE(lines[1].endsWith("\"Safe\",\r")) << lines[1].constData();
    EXPECT_EQ(lines[1].count("\","), 25);

    // the sensor data go stale: 1000 seconds since good data
    rig.sim->setDeviceRunning(false);
    r.cycle();
    EXPECT_EQ(readAll(r.ccdPath()).mid(74, 6), "01000 ");

    rig.core->recordStop();
    EXPECT_FALSE(rig.core->recording());
    const int n = r.dataLines();
    r.cycle(3);
    EXPECT_EQ(r.dataLines(), n);
}

TEST(RecordFilesInCycle, CcdErrorsAndBlankName)
{
    RecordRig r;
    Rig& rig = r.rig;
    ASSERT_TRUE(rig.ready());
    rig.core->outputsConfig().pathNameCcdap4 = rig.dir.filePath(QStringLiteral("no/such/folder"));
    rig.start();
    EXPECT_EQ(rig.core->state().codes.text, QStringLiteral("c51"));
    EXPECT_EQ(rig.core->state().codes.colour, colour::Red);

    // a blank name: nothing written, nothing reported
    rig.core->showCodes(QString(), colour::Red);
    rig.core->outputsConfig().fileNameCcdap4 = QStringLiteral("   ");
    rig.core->outputsConfig().pathNameCcdap4 = rig.dir.filePath(QStringLiteral("ccd"));
    r.cycle();
    EXPECT_TRUE(rig.core->state().codes.text.isEmpty()) << qPrintable(rig.core->state().codes.text);
    EXPECT_FALSE(QDir(rig.dir.filePath(QStringLiteral("ccd"))).entryList(QDir::Files).size());
}

TEST(RecordFilesInCycle, UserStartAsksAboutAnExistingFile)
{
    RecordRig r;
    Rig& rig = r.rig;
    int answer = AnswerCancel;
    QStringList asked;
    rig.core->setPrompter([&](const QString& text, int flags, const QString&) {
        asked << text;
        return flags == MessageOk ? int(AnswerOk) : answer;
    });
    QDir(rig.dir.path()).mkpath(QStringLiteral("data"));
    QFile old(r.csvPath());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("\"Date\",\r\n\"2026-12-06\",\r\n");
    old.close();
    const QByteArray oldBytes = readAll(r.csvPath());

    // Cancel: untouched, not recording
    rig.core->recordStartByUser();
    EXPECT_EQ(asked, QStringList{QStringLiteral("Append to existing file")});
    EXPECT_FALSE(rig.core->recording());
    EXPECT_EQ(readAll(r.csvPath()), oldBytes);

    // Yes: appended after the old lines, a header of its own
    answer = AnswerYes;
    rig.core->recordStartByUser();
    ASSERT_TRUE(rig.core->recording());
    // "Start" again while recording: no question, no new header
    asked.clear();
    rig.core->recordStartByUser();
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_TRUE(rig.core->recording());
    rig.core->recordStop();
    const QByteArray appended = readAll(r.csvPath());
    EXPECT_TRUE(appended.startsWith(oldBytes));
    EXPECT_TRUE(appended.mid(oldBytes.size()).startsWith("\"Date\",\"Time\","));
    EXPECT_EQ(appended.count("\"Date\",\"Time\","), 1); // one new header, not one per click

    // No: truncated
    answer = AnswerNo;
    rig.core->recordStartByUser();
    rig.core->recordStop();
    EXPECT_TRUE(readAll(r.csvPath()).startsWith("\"Date\",\"Time\","));

    // no folder: the message; a folder that can not hold the file: d13
    asked.clear();
    rig.core->config().pathName = QStringLiteral(" ");
    rig.core->recordStartByUser();
    EXPECT_EQ(asked, QStringList{QStringLiteral("Define the PATH for User Data File")});
    rig.core->config().pathName = r.csvPath(); // a file, not a folder
    rig.core->recordStartByUser();
    EXPECT_FALSE(rig.core->recording());
    EXPECT_EQ(rig.core->state().codes.text, QStringLiteral("d13"));
    // an empty name: refused without a word
    asked.clear();
    rig.core->outputsConfig().fileName = QStringLiteral("  ");
    rig.core->recordStartByUser();
    rig.core->recordStart(true);
    EXPECT_FALSE(rig.core->recording());
    EXPECT_TRUE(asked.isEmpty());
}
