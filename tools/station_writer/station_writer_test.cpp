// The station-file writer's output is read back by the station reader in
// every format and option the demo uses; and the writer really does what
// other tests and the benchmarks rely on it for: the bytes, line ends and
// rows asked for, a file caught half-written or with an old tail, a crash
// in the middle of a value, and --machine lines that tell the truth.
#include "CsvStationParser.h"
#include "HtmlTableParser.h"
#include "StationValues.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

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

struct Result {
    int code = -1;
    QByteArray out, err;
};

Result run(const QStringList& args)
{
    QProcess p;
    p.start(writerPath(), args);
    Result r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// As a test sets "the truth" for a running writer: replaced in one step, so
// the writer never reads half a values file.
void writeValues(const QString& path, const QByteArray& text)
{
    QSaveFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    ASSERT_TRUE(f.commit());
}

// The file's text as UTF-8 without a byte-order mark.
QByteArray asUtf8(const QByteArray& bytes)
{
    if (auto utf8 = utf16AsUtf8(bytes)) return *utf8;
    return bytes.mid(bomLength(bytes));
}

StationTable parseFile(const QByteArray& bytes, bool csv)
{
    const QByteArray text = asUtf8(bytes);
    StationTable t;
    if (csv) CsvStationParser::parse(text, t);
    else HtmlTableParser::parse(text, t);
    return t;
}

using Pairs = QList<std::pair<QString, QString>>;

Pairs rowsOf(const StationTable& t)
{
    Pairs rows;
    for (int i = 1; i <= t.count(); ++i) rows.append({t.field(i, StationTable::Name).toString(), t.field(i, StationTable::Value).toString()});
    return rows;
}

QStringList namesOf(const Pairs& rows)
{
    QStringList names;
    for (const auto& r : rows) names << r.first;
    return names;
}

QString valueIn(const Pairs& rows, const QString& name)
{
    for (const auto& r : rows)
        if (r.first == name) return r.second;
    return QString();
}

// "version <N> <NAME>=<VALUE>;..." or "version <N> -".
struct MachineLine {
    bool ok = false;
    int version = 0;
    bool noRows = false;
    Pairs rows;
};

MachineLine parseMachineLine(const QByteArray& raw)
{
    MachineLine m;
    const QString line = QString::fromUtf8(raw);
    if (!line.startsWith(QLatin1String("version "))) return m;
    const qsizetype space = line.indexOf(u' ', 8);
    if (space < 0) return m;
    bool ok = false;
    m.version = line.mid(8, space - 8).toInt(&ok);
    if (!ok) return m;
    const QString rest = line.mid(space + 1);
    if (rest == QLatin1String("-")) {
        m.noRows = true;
    } else {
        for (const QString& pair : rest.split(u';')) {
            const qsizetype eq = pair.indexOf(u'=');
            if (eq <= 0) return m;
            m.rows.append({pair.left(eq), pair.mid(eq + 1)});
        }
    }
    m.ok = true;
    return m;
}

QList<QByteArray> lines(const QByteArray& out)
{
    QList<QByteArray> all = out.split('\n');
    if (!all.isEmpty() && all.last().isEmpty()) all.removeLast();
    return all;
}

// A writer left running, read line by line.
class RunningWriter {
public:
    explicit RunningWriter(const QStringList& args)
    {
        p_.start(writerPath(), args);
        started_ = p_.waitForStarted(10000);
    }
    ~RunningWriter() { stop(); }
    bool started() const { return started_; }
    // The next line on stdout, waiting at most timeoutMs.
    std::optional<QByteArray> nextLine(int timeoutMs = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (!p_.canReadLine()) {
            const int left = timeoutMs - int(t.elapsed());
            if (left <= 0 || p_.state() == QProcess::NotRunning) {
                if (!p_.canReadLine()) return std::nullopt;
                break;
            }
            p_.waitForReadyRead(std::min(left, 100));
        }
        return p_.readLine().chopped(1);
    }
    // Stops the writer; the lines it wrote and no one has read yet.
    QByteArray stop()
    {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished(10000);
        }
        return p_.readAllStandardOutput();
    }
    QProcess& process() { return p_; }

private:
    QProcess p_;
    bool started_ = false;
};

// Every name the writer may write (those a test adds included): none may
// appear in a file of rubbish.
const QStringList kNames = {"Date", "Time", "OutTemp", "WindSpeed", "Gust", "WindDirection",
                            "RainDayMin", "RainDayMax", "OutHumidity", "DewPoint", "Barometer"};

// Values for every row, so that all versions of a run are the same bytes.
const QByteArray kAllValues = "Date=01/02/26\nTime=12:00:00\nOutTemp=20.0\nWindSpeed=50\nGust=70\nWindDirection=NW\n"
                              "RainDayMin=1.0\nRainDayMax=2.5\nOutHumidity=95\nDewPoint=10.2\nBarometer=1013.2\n";

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

    // Each refusal names the option it is about, and nothing is written.
    struct Bad { QStringList args; const char* mentions; };
    const Bad bad[] = {
        {{"--mode", "fast"}, "--mode"},
        {{"--in-place", "--mode", "overwrite"}, "--in-place"},
        {{"--chunks", "0"}, "--chunks"},
        {{"--chunks", "two"}, "--chunks"},
        {{"--write-ms", "-5"}, "--write-ms"},
        {{"--eol", "cr"}, "--eol"},
        {{"--encoding", "utf8-bom"}, "--encoding"},
        {{"--content", "noise"}, "--content"},
        {{"--crash-in", "Nope"}, "--crash-in"},
        {{"--crash-in", "OutTemp", "--drop", "outtemp"}, "--crash-in"},
        {{"--crash-in", "OutTemp", "--content", "garbage"}, "--crash-in"},
        {{"--crash-in", "OutTemp", "--crash-after", "-1"}, "--crash-after"},
        {{"--crash-after", "2"}, "--crash-after"},
    };
    for (const Bad& c : bad) {
        const std::string what = c.args.join(' ').toStdString();
        const Result r = run(QStringList{"--once", "--out", out} + c.args);
        EXPECT_EQ(r.code, 2) << what;
        EXPECT_TRUE(r.err.contains(c.mentions)) << what << ": " << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << what;
        EXPECT_FALSE(QFile::exists(out)) << what;
    }
}

TEST(StationWriter, EncodingsAndLineEnds)
{
    QTemporaryDir dir;
    const QString encodings[] = {"utf8", "utf8bom", "cp1252", "utf16le", "utf16be"};
    int n = 0;
    for (const bool csv : {true, false})
        for (const QString& enc : encodings)
            for (const bool crlf : {true, false})
                for (const bool finalEol : {true, false}) {
                    const QString path = dir.filePath(QStringLiteral("f%1.%2").arg(n++).arg(csv ? "csv" : "htm"));
                    QStringList args{"--once", "--out", path, "--encoding", enc, "--eol", crlf ? "crlf" : "lf"};
                    if (!finalEol) args << "--no-final-eol";
                    const std::string what = (csv ? "csv " : "htm ") + args.mid(3).join(' ').toStdString();
                    ASSERT_EQ(run(args).code, 0) << what;
                    const QByteArray bytes = readAll(path);

                    // The byte-order mark, and the byte order after it.
                    const char first = csv ? 'D' : '<';
                    if (enc == "utf8bom") EXPECT_TRUE(bytes.startsWith(QByteArray("\xEF\xBB\xBF") + first)) << what;
                    else if (enc == "utf16le") EXPECT_TRUE(bytes.startsWith(QByteArray("\xFF\xFE", 2) + first + '\0')) << what;
                    else if (enc == "utf16be") EXPECT_TRUE(bytes.startsWith(QByteArray("\xFE\xFF\0", 3) + first)) << what;
                    else EXPECT_EQ(bytes.front(), first) << what;
                    if (enc.startsWith("utf16")) {
                        EXPECT_EQ(bytes.size() % 2, 0) << what;
                    }
                    const QByteArray text = asUtf8(bytes);
                    if (csv) { // the page writes &deg; instead
                        EXPECT_EQ(text.contains(",\xB0" "C,"), enc == "cp1252") << what;
                        EXPECT_EQ(text.contains(",\xC2\xB0" "C,"), enc != "cp1252") << what;
                    }

                    // Every line end is the one asked for, the last one too or none.
                    const qsizetype lineFeeds = text.count('\n');
                    EXPECT_GE(lineFeeds, 10) << what;
                    EXPECT_EQ(text.count('\r'), crlf ? lineFeeds : 0) << what;
                    if (crlf) {
                        EXPECT_EQ(text.count("\r\n"), lineFeeds) << what;
                    }
                    EXPECT_EQ(text.endsWith('\n'), finalEol) << what;
                    EXPECT_FALSE(text.endsWith('\r')) << what;
                    const QByteArray eol = crlf ? "\r\n" : "\n";
                    const QByteArray body = finalEol ? text.chopped(eol.size()) : text;
                    const QByteArray lastLine = body.mid(body.lastIndexOf('\n') + 1);
                    if (csv) EXPECT_TRUE(lastLine.startsWith("Barometer,hPa,")) << what << ": " << lastLine.toStdString();
                    else EXPECT_EQ(lastLine, "</html>") << what;

                    // The reader finds every row (a UTF-8 mark left in place);
                    // a CSV last line without its line end looks cut to it
                    // until it is told otherwise.
                    const QByteArray readerText = utf16AsUtf8(bytes).value_or(bytes);
                    StationTable t;
                    if (csv) {
                        const CsvParseInfo info = CsvStationParser::parse(readerText, t);
                        EXPECT_EQ(info.droppedLastLine, !finalEol) << what;
                        if (!finalEol) {
                            t.clear();
                            CsvStationParser::parse(readerText + eol, t);
                        }
                    } else {
                        HtmlTableParser::parse(readerText, t);
                    }
                    const StationValues v = convertTable(t, ConversionOptions{});
                    EXPECT_EQ(v.namesFoundCount(), NameCount) << what;
                    EXPECT_TRUE(v.barometer.ok) << what;
                    EXPECT_EQ(v.texts[FieldTempUnit], QString(QChar(0xB0)) + QStringLiteral("C")) << what;
                }
}

TEST(StationWriter, ValuesFileSetsAddsAndDropsRows)
{
    QTemporaryDir dir;
    const QString values = dir.filePath(QStringLiteral("values.txt"));
    writeValues(values, "# the truth for this test\r\n"
                        "WindSpeed=50\r\n"
                        "\r\n"
                        "outtemp = 20.0\r\n"
                        "OutHumidity=95\n"
                        "SkyQuality=21.3\n"
                        "Cloudiness=\n"
                        "drop=DewPoint, gust\n"
                        "no equals sign here\n");
    for (const bool csv : {true, false}) {
        const QString path = dir.filePath(csv ? QStringLiteral("v.csv") : QStringLiteral("v.htm"));
        const Result r = run({"--once", "--machine", "--out", path, "--values", values, "--drop", "Barometer,RainDayMin"});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const StationTable t = parseFile(readAll(path), csv);
        const Pairs rows = rowsOf(t);
        // Rows keep their place and spelling; new names go at the end.
        EXPECT_EQ(namesOf(rows), (QStringList{"Date", "Time", "OutTemp", "WindSpeed", "WindDirection", "RainDayMax",
                                              "OutHumidity", "SkyQuality", "Cloudiness"}))
            << csv;
        EXPECT_EQ(valueIn(rows, "OutTemp"), "20.0");
        EXPECT_EQ(valueIn(rows, "WindSpeed"), "50");
        EXPECT_EQ(valueIn(rows, "OutHumidity"), "95");
        EXPECT_EQ(valueIn(rows, "SkyQuality"), "21.3");
        EXPECT_EQ(valueIn(rows, "Cloudiness"), "");
        EXPECT_EQ(t.lookup(u"WindSpeed").unit, "km/h");
        EXPECT_EQ(t.lookup(u"OutTemp").unit, QString(QChar(0xB0)) + QStringLiteral("C"));
        EXPECT_EQ(t.lookup(u"SkyQuality").unit, "");

        const StationValues v = convertTable(t, ConversionOptions{});
        EXPECT_TRUE(v.windSpeed.ok && v.windSpeed.value == 50) << csv;
        EXPECT_TRUE(v.outTemp.ok && v.outTemp.value == 20) << csv;
        EXPECT_TRUE(v.humidity.ok && v.humidity.value == 95) << csv;
        EXPECT_FALSE(v.gust.ok);
        EXPECT_FALSE(v.dewPoint.ok);
        EXPECT_FALSE(v.barometer.ok);

        const QList<QByteArray> out = lines(r.out);
        ASSERT_EQ(out.size(), 1);
        const MachineLine m = parseMachineLine(out[0]);
        EXPECT_TRUE(m.ok) << out[0].toStdString();
        EXPECT_EQ(m.rows, rows) << out[0].toStdString();
    }

    // No values file, or one that cannot be read: the simulated readings.
    for (const QString& unusable : {dir.filePath(QStringLiteral("none.txt")), dir.path()}) {
        const QString path = dir.filePath(QStringLiteral("plain.csv"));
        ASSERT_EQ(run({"--once", "--out", path, "--values", unusable}).code, 0);
        const Pairs rows = rowsOf(parseFile(readAll(path), true));
        EXPECT_EQ(namesOf(rows), kNames);
        EXPECT_TRUE(valueIn(rows, "WindSpeed").contains('.')) << valueIn(rows, "WindSpeed").toStdString();
    }
}

TEST(StationWriter, ValuesFileIsReadAgainForEveryVersion)
{
    QTemporaryDir dir;
    const QString values = dir.filePath(QStringLiteral("values.txt"));
    writeValues(values, "WindSpeed=50\n");
    RunningWriter w({"--out", dir.filePath(QStringLiteral("s.csv")), "--interval", "0.1", "--machine", "--values", values});
    ASSERT_TRUE(w.started());
    int last = 0;
    // Reads versions until one satisfies want (for at most 10 s).
    auto waitFor = [&](auto want) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            const auto line = w.nextLine(int(10000 - t.elapsed()));
            if (!line) return false;
            const MachineLine m = parseMachineLine(*line);
            EXPECT_TRUE(m.ok) << line->toStdString();
            EXPECT_EQ(m.version, last + 1);
            last = m.version;
            if (want(m.rows)) return true;
        }
        return false;
    };
    EXPECT_TRUE(waitFor([](const Pairs& r) { return valueIn(r, "WindSpeed") == "50"; }));
    EXPECT_EQ(last, 1) << "the first version already takes the values file";
    writeValues(values, "WindSpeed=60\ndrop=Gust\n");
    EXPECT_TRUE(waitFor([](const Pairs& r) { return valueIn(r, "WindSpeed") == "60" && !namesOf(r).contains("Gust"); }));
    QFile::remove(values);
    EXPECT_TRUE(waitFor([](const Pairs& r) { return valueIn(r, "WindSpeed").contains('.') && namesOf(r) == kNames; }));
}

TEST(StationWriter, MachineLinesTellWhatTheFileHolds)
{
    QTemporaryDir dir;
    for (const bool csv : {true, false}) {
        const QString path = dir.filePath(csv ? QStringLiteral("one.csv") : QStringLiteral("one.htm"));
        const Result r = run({"--once", "--machine", "--out", path});
        ASSERT_EQ(r.code, 0);
        const QList<QByteArray> out = lines(r.out);
        ASSERT_EQ(out.size(), 1) << r.out.toStdString();
        const MachineLine m = parseMachineLine(out[0]);
        ASSERT_TRUE(m.ok) << out[0].toStdString();
        EXPECT_EQ(m.version, 1);
        EXPECT_EQ(namesOf(m.rows), kNames);
        EXPECT_EQ(m.rows, rowsOf(parseFile(readAll(path), csv))) << out[0].toStdString();
    }

    // A running writer prints a version's line only once the version is in
    // the file: what a reader finds after line N is version N or a later
    // one, never an earlier one. Lines count on from 1 with nothing between.
    const QString path = dir.filePath(QStringLiteral("m.csv"));
    RunningWriter w({"--out", path, "--interval", "0.2", "--machine"});
    ASSERT_TRUE(w.started());
    QList<Pairs> printed;
    QList<std::pair<int, Pairs>> found; // line number, what the file held right after it
    while (printed.size() < 5) {
        const auto line = w.nextLine();
        ASSERT_TRUE(line) << "after " << printed.size() << " versions";
        const MachineLine m = parseMachineLine(*line);
        ASSERT_TRUE(m.ok) << line->toStdString();
        EXPECT_EQ(m.version, printed.size() + 1);
        printed << m.rows;
        found.append({m.version, rowsOf(parseFile(readAll(path), true))});
    }
    for (const QByteArray& line : lines(w.stop())) {
        const MachineLine m = parseMachineLine(line);
        ASSERT_TRUE(m.ok) << line.toStdString();
        EXPECT_EQ(m.version, printed.size() + 1);
        printed << m.rows;
    }
    for (const auto& [n, rows] : found) {
        const qsizetype at = printed.indexOf(rows, n - 1);
        EXPECT_GE(at, n - 1) << "the file after line " << n << " is no version printed from then on";
    }
}

TEST(StationWriter, GarbageAndNulHoldNoNames)
{
    QTemporaryDir dir;
    const QString values = dir.filePath(QStringLiteral("values.txt"));
    writeValues(values, "SkyQuality=21.3\n");
    const QStringList names = kNames + QStringList{"SkyQuality"};
    for (const bool csv : {true, false}) {
        const QString ext = csv ? QStringLiteral(".csv") : QStringLiteral(".htm");
        const QString table = dir.filePath("table" + ext), garbage = dir.filePath("garbage" + ext), nul = dir.filePath("nul" + ext);
        ASSERT_EQ(run({"--once", "--out", table, "--values", values}).code, 0);
        const qsizetype normal = readAll(table).size();

        const Result g = run({"--once", "--machine", "--out", garbage, "--content", "garbage", "--values", values});
        ASSERT_EQ(g.code, 0);
        EXPECT_EQ(g.out, "version 1 -\n");
        const QByteArray rubbish = readAll(garbage);
        EXPECT_GT(rubbish.size(), normal / 2) << csv;
        EXPECT_LT(rubbish.size(), normal * 2) << csv;
        EXPECT_GE(rubbish.count("\r\n"), 2) << csv;
        EXPECT_EQ(rubbish.count('\r'), rubbish.count("\r\n"));
        for (const char c : rubbish) EXPECT_TRUE(c == '\r' || c == '\n' || (c >= ' ' && c <= '~')) << int(c);
        for (const QString& name : names)
            EXPECT_FALSE(QString::fromLatin1(rubbish).contains(name, Qt::CaseInsensitive)) << name.toStdString();
        EXPECT_EQ(convertTable(parseFile(rubbish, csv), ConversionOptions{}).namesFoundCount(), 0);

        const Result z = run({"--once", "--machine", "--out", nul, "--content", "nul"});
        ASSERT_EQ(z.code, 0);
        EXPECT_EQ(z.out, "version 1 -\n");
        const QByteArray zeros = readAll(nul);
        EXPECT_GT(zeros.size(), normal / 2) << csv;
        EXPECT_LT(zeros.size(), normal * 2) << csv;
        EXPECT_EQ(zeros.count('\0'), zeros.size());
    }

    // The rubbish differs from one version to the next.
    const QString path = dir.filePath(QStringLiteral("running.csv"));
    RunningWriter w({"--out", path, "--interval", "0.1", "--content", "garbage", "--machine"});
    ASSERT_TRUE(w.started());
    QSet<QByteArray> seen;
    for (int n = 1; n <= 20 && seen.size() < 2; ++n) {
        const auto line = w.nextLine();
        ASSERT_TRUE(line);
        EXPECT_EQ(*line, "version " + QByteArray::number(n) + " -");
        seen.insert(readAll(path));
    }
    EXPECT_GE(seen.size(), 2);
}

TEST(StationWriter, CrashLeavesTheNamedValueCut)
{
    QTemporaryDir dir;
    const QString values = dir.filePath(QStringLiteral("values.txt"));
    writeValues(values, kAllValues);
    struct Case {
        const char* file;
        QStringList extra;
        QByteArray ending; // the file's last bytes, as UTF-8
        int wholeVersions;
    };
    const Case cases[] = {
        {"a.csv", {"--crash-in", "OutHumidity", "--interval", "0.1"}, "\r\nOutHumidity,%,9", 1},
        // Cut in truncate style whatever the mode: no old tail after the cut.
        {"b.csv", {"--crash-in", "barometer", "--crash-after", "3", "--interval", "0.1", "--mode", "overwrite",
                   "--write-ms", "0", "--eol", "lf"},
         "\nBarometer,hPa,10", 3},
        {"c.htm", {"--crash-in", "Time", "--crash-after", "0", "--once"}, "<tr><td>Time</td><td>&nbsp;</td><td class=\"v\">12:", 0},
        {"d.csv", {"--crash-in", "OutTemp", "--crash-after", "0", "--once", "--encoding", "utf16le", "--mode", "truncate",
                   "--chunks", "3", "--write-ms", "90"},
         "\r\nOutTemp,\xC2\xB0" "C,2", 0},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.file));
        const Result r = run(QStringList{"--out", path, "--values", values, "--machine"} + c.extra);
        EXPECT_EQ(r.code, 3) << c.file << ": " << r.err.toStdString();
        const QList<QByteArray> out = lines(r.out);
        ASSERT_EQ(out.size(), c.wholeVersions) << c.file;
        for (int i = 0; i < out.size(); ++i) EXPECT_EQ(parseMachineLine(out[i]).version, i + 1) << c.file;
        const QByteArray bytes = readAll(path);
        const QByteArray text = asUtf8(bytes);
        EXPECT_TRUE(text.endsWith(c.ending)) << c.file << ": ..." << text.right(40).toStdString();
        if (QByteArray(c.file).endsWith(".csv")) {
            StationTable t;
            EXPECT_TRUE(CsvStationParser::parse(text, t).droppedLastLine) << c.file;
        }
    }

    // The readings of the simulation are cut inside too: the number before
    // its decimal point is all that is left.
    const QString path = dir.filePath(QStringLiteral("e.csv"));
    ASSERT_EQ(run({"--once", "--out", path, "--crash-in", "WindSpeed", "--crash-after", "0"}).code, 3);
    const QByteArray text = readAll(path);
    const QByteArray lastLine = text.mid(text.lastIndexOf('\n') + 1);
    ASSERT_TRUE(lastLine.startsWith("WindSpeed,km/h,")) << lastLine.toStdString();
    const QByteArray value = lastLine.mid(15);
    EXPECT_FALSE(value.isEmpty());
    EXPECT_FALSE(value.contains('.')) << value.toStdString();

    // With --once there is only one version: a crash due after it never comes.
    ASSERT_EQ(run({"--once", "--out", path, "--crash-in", "WindSpeed"}).code, 0);
    EXPECT_EQ(convertTable(parseFile(readAll(path), true), ConversionOptions{}).namesFoundCount(), NameCount);
}

TEST(StationWriter, OverwriteLeavesTheOldTail)
{
    QTemporaryDir dir;
    const QString longValues = dir.filePath(QStringLiteral("long.txt")), shortValues = dir.filePath(QStringLiteral("short.txt"));
    writeValues(longValues, kAllValues + "Remark=" + QByteArray(200, 'x') + "\n");
    // Rows one character shorter from the first on: the new bytes differ
    // from the old all along, so each piece written shows.
    writeValues(shortValues, kAllValues + "Date=2/02/26\n");
    for (const QString chunks : {"3", "1"}) {
        const QString path = dir.filePath("o" + chunks + ".csv"), fresh = dir.filePath("fresh" + chunks + ".csv");
        ASSERT_EQ(run({"--once", "--out", path, "--mode", "overwrite", "--write-ms", "0", "--values", longValues}).code, 0);
        const QByteArray before = readAll(path);
        ASSERT_EQ(run({"--once", "--out", fresh, "--values", shortValues}).code, 0);
        const QByteArray shorter = readAll(fresh);
        ASSERT_LT(shorter.size(), before.size());

        // A reader polls the file while the shorter version goes in.
        QProcess p;
        p.start(writerPath(), {"--once", "--out", path, "--mode", "overwrite", "--chunks", chunks, "--write-ms", "300", "--values", shortValues});
        QSet<QByteArray> states;
        QElapsedTimer t;
        t.start();
        while (p.state() != QProcess::NotRunning && t.elapsed() < 20000) {
            states.insert(readAll(path));
            p.waitForFinished(2);
        }
        ASSERT_TRUE(p.waitForFinished(1000) || p.state() == QProcess::NotRunning);
        ASSERT_EQ(p.exitCode(), 0);
        const QByteArray after = readAll(path);
        EXPECT_EQ(after, shorter + before.mid(shorter.size())) << chunks.toStdString();

        // Never truncated, not even for a moment; in pieces the new start
        // and the old rest are seen together, in one write old or new.
        bool mixed = false;
        for (const QByteArray& s : states) {
            EXPECT_EQ(s.size(), before.size()) << chunks.toStdString();
            if (s != before && s != after) mixed = true;
        }
        EXPECT_EQ(mixed, chunks == "3");
    }
}

TEST(StationWriter, TruncateIsCaughtHalfWritten)
{
    QTemporaryDir dir;
    int n = 0;
    for (const QStringList& mode : {QStringList{"--mode", "truncate"}, QStringList{"--in-place"}}) {
        const QString path = dir.filePath(QStringLiteral("t%1.csv").arg(n++));
        QProcess p;
        p.start(writerPath(), QStringList{"--once", "--machine", "--out", path, "--chunks", "3", "--write-ms", "300"} + mode);
        QList<QByteArray> states; // each change the reader saw
        std::optional<QByteArray> atLine; // the file when the version's line came
        QElapsedTimer t;
        t.start();
        while (p.state() != QProcess::NotRunning && t.elapsed() < 20000) {
            const QByteArray s = readAll(path);
            if (states.isEmpty() || states.last() != s) states << s;
            if (!atLine && p.canReadLine()) atLine = readAll(path);
            p.waitForFinished(2);
        }
        ASSERT_TRUE(p.waitForFinished(1000) || p.state() == QProcess::NotRunning);
        ASSERT_EQ(p.exitCode(), 0) << mode.join(' ').toStdString();
        const QByteArray whole = readAll(path);
        const StationTable table = parseFile(whole, true);
        EXPECT_EQ(convertTable(table, ConversionOptions{}).namesFoundCount(), NameCount);
        int partial = 0;
        for (const QByteArray& s : states) {
            EXPECT_TRUE(whole.startsWith(s)) << s.toStdString();
            if (!s.isEmpty() && s.size() < whole.size()) ++partial;
        }
        EXPECT_GE(partial, 1) << mode.join(' ').toStdString();
        // The line comes once the version is whole, not when it is begun.
        if (atLine) EXPECT_EQ(*atLine, whole);
        EXPECT_EQ(parseMachineLine(lines(p.readAllStandardOutput()).value(0)).rows, rowsOf(table));
    }
}

TEST(StationWriter, SlowWritesAtTenVersionsASecondNeverOverlap)
{
    QTemporaryDir dir;
    const QString values = dir.filePath(QStringLiteral("values.txt"));
    writeValues(values, kAllValues); // every version the same bytes
    const QString reference = dir.filePath(QStringLiteral("whole.csv")), path = dir.filePath(QStringLiteral("t.csv"));
    ASSERT_EQ(run({"--once", "--out", reference, "--values", values}).code, 0);
    const QByteArray whole = readAll(reference);

    RunningWriter w({"--out", path, "--interval", "0.1", "--mode", "truncate", "--chunks", "4", "--write-ms", "300",
                     "--values", values, "--machine"});
    ASSERT_TRUE(w.started());
    QElapsedTimer t;
    t.start();
    QList<qint64> lineAt;
    int partial = 0;
    QByteArray notAPrefix;
    while (lineAt.size() < 4 && t.elapsed() < 20000) {
        const QByteArray s = readAll(path);
        if (!whole.startsWith(s)) notAPrefix = s;
        if (!s.isEmpty() && s.size() < whole.size()) ++partial;
        if (w.nextLine(2)) lineAt << t.elapsed();
    }
    ASSERT_EQ(lineAt.size(), 4);
    // Two versions written at once would leave holes or misplaced pieces.
    EXPECT_TRUE(notAPrefix.isEmpty()) << notAPrefix.toStdString();
    EXPECT_GT(partial, 0);
    // Each version takes its 300 ms however often the timer ticks: the three
    // between the first line and the fourth take 900 ms or more (600 leaves
    // room for a first line read late).
    EXPECT_GE(lineAt[3] - lineAt[0], 600);
}
