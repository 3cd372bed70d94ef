// The station-file writer's output is read back by the station reader in
// every format and option the demo uses.
#include "CsvStationParser.h"
#include "HtmlTableParser.h"
#include "StationValues.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane::station;

namespace {

QString writerPath()
{
    return QDir(qEnvironmentVariable("SKYVANE_BIN_DIR")).filePath(QStringLiteral("skyvane-station-writer"));
}

int runWriter(const QStringList& args)
{
    QProcess p;
    p.start(writerPath(), args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

TEST(StationWriter, OutputReadsBack)
{
    QTemporaryDir dir;
    struct Case { const char* file; QStringList extra; bool dayMonth; };
    const Case cases[] = {
        {"a.csv", {}, true},
        {"b.htm", {"--date-format", "mm/dd", "--scenario", "rain"}, false},
        {"c.htm", {"--encoding", "cp1252", "--scenario", "windy"}, true},
        {"d.txt", {"--format", "csv", "--in-place", "--write-ms", "0", "--scenario", "cloudy"}, true},
        {"e.csv", {"--encoding", "utf16le"}, true},
        {"f.htm", {"--encoding", "utf16be"}, true},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.file));
        ASSERT_EQ(runWriter(QStringList{"--once", "--out", path} + c.extra), 0) << c.file;
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << c.file;
        QByteArray bytes = f.readAll();
        if (auto utf8 = utf16AsUtf8(bytes)) bytes = *utf8;
        StationTable t;
        if (bytes.startsWith("<!DOCTYPE")) HtmlTableParser::parse(bytes, t);
        else CsvStationParser::parse(bytes, t);
        ConversionOptions opt;
        opt.dayMonthOrder = c.dayMonth;
        opt.referenceYear = QDate::currentDate().year();
        const StationValues v = convertTable(t, opt);
        EXPECT_EQ(v.namesFoundCount(), NameCount) << c.file;
        for (const Reading* r : {&v.outTemp, &v.windSpeed, &v.gust, &v.windDirection, &v.rain, &v.humidity, &v.dewPoint, &v.barometer})
            EXPECT_TRUE(r->ok) << c.file;
        ASSERT_TRUE(v.dataTime.isValid()) << c.file;
        EXPECT_LT(std::llabs(v.dataTime.secsTo(QDateTime::currentDateTime())), 120) << c.file;
        EXPECT_EQ(v.texts[FieldTempUnit], QString(QChar(0xB0)) + QStringLiteral("C")) << c.file;
    }
}

TEST(StationWriter, RefusesBadOptions)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("x.csv"));
    EXPECT_EQ(runWriter({"--once"}), 2);
    EXPECT_EQ(runWriter({"--once", "--out", out, "--format", "xml"}), 2);
    EXPECT_EQ(runWriter({"--once", "--out", out, "--date-format", "yy/mm"}), 2);
    EXPECT_EQ(runWriter({"--once", "--out", out, "--scenario", "snow"}), 2);
    EXPECT_EQ(runWriter({"--once", "--out", out, "--encoding", "utf32"}), 2);
    EXPECT_EQ(runWriter({"--once", "--out", dir.filePath(QStringLiteral("missing/x.csv"))}), 1);
    EXPECT_FALSE(QFile::exists(out));
}
