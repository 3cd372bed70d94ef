// skyvane-station-writer: plays the part of weather-station software for
// demos, tests and benchmarks. It rewrites a station data file (CSV records
// "name,unit,value", or an HTML page with a table of name, unit, value rows)
// every few seconds with changing, plausible readings.
//
// How a version reaches the disk (--mode) is what tells careful station
// programs from careless ones, and what a reader has to cope with:
//
//   atomic     each version is written aside and renamed over the file in
//              one step; a reader sees the old version or the new one.
//   truncate   the file is emptied, then the new bytes are written in
//              --chunks pieces spread over --write-ms milliseconds; a reader
//              can catch it empty or half-written. --in-place is the same.
//   overwrite  the new bytes are written from the start of the file in the
//              same paced pieces, but the file is never truncated: a version
//              shorter than the one before leaves the old tail after it.
//
// Everything else a station program gets wrong can be asked for too: line
// ends (--eol, --no-final-eol), encodings with and without a byte-order
// mark, rows dropped or added (--drop, --values), a file of rubbish
// (--content), and a program killed half-way through a write (--crash-in).
// --values lets a test decide the readings while the writer runs, and
// --machine tells it, one line per version, what the file now holds.

#include "Clock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTextStream>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

enum class Scenario { Clear, Cloudy, Rain, Windy };

struct Targets {
    double temperature, humidity, wind, gustFactor, pressure, rainPerHour;
};

Targets targetsFor(Scenario s)
{
    switch (s) {
    case Scenario::Clear: return {4.0, 62, 5, 1.5, 1021, 0};
    case Scenario::Cloudy: return {7.0, 84, 13, 1.6, 1011, 0};
    case Scenario::Rain: return {8.5, 96, 18, 1.7, 1001, 2.4};
    case Scenario::Windy: return {9.0, 70, 38, 1.5, 1006, 0};
    }
    return {4.0, 62, 7, 1.5, 1021, 0};
}

const char* const kCompass[16] = {"N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE",
                                  "S", "SSW", "SW", "WSW", "W", "WNW", "NW", "NNW"};

// Readings drifting towards the scenario's values with a little noise.
class Weather {
public:
    Weather(Scenario s, quint32 seed)
        : t_(targetsFor(s))
        , rng_(seed)
    {
        temperature_ = t_.temperature;
        humidity_ = t_.humidity;
        wind_ = t_.wind;
        pressure_ = t_.pressure;
        direction_ = int(rng_.bounded(16));
        rainMin_ = rng_.bounded(50) / 10.0; // the day's counter at midnight
        rainMax_ = rainMin_;
    }

    void step(double seconds)
    {
        auto noise = [&](double scale) { return (rng_.generateDouble() * 2 - 1) * scale; };
        temperature_ += (t_.temperature - temperature_) * 0.05 + noise(0.15);
        humidity_ = std::clamp(humidity_ + (t_.humidity - humidity_) * 0.1 + noise(1.0), 5.0, 100.0);
        wind_ = std::max(0.0, wind_ + (t_.wind - wind_) * 0.2 + noise(t_.wind * 0.25 + 1));
        gust_ = wind_ * (t_.gustFactor + rng_.generateDouble() * 0.3);
        pressure_ += (t_.pressure - pressure_) * 0.02 + noise(0.1);
        if (rng_.bounded(6) == 0) direction_ = (direction_ + 16 + int(rng_.bounded(3)) - 1) % 16;
        rainMax_ += t_.rainPerHour * seconds / 3600.0 * (0.5 + rng_.generateDouble());
    }

    double temperature() const { return temperature_; }
    double humidity() const { return humidity_; }
    double wind() const { return wind_; }
    double gust() const { return gust_; }
    double pressure() const { return pressure_; }
    const char* direction() const { return kCompass[direction_]; }
    double rainMin() const { return rainMin_; }
    double rainMax() const { return rainMax_; }
    // Magnus formula
    double dewPoint() const
    {
        const double a = 17.62, b = 243.12;
        const double g = std::log(std::max(humidity_, 1.0) / 100.0) + a * temperature_ / (b + temperature_);
        return b * g / (a - g);
    }

private:
    Targets t_;
    QRandomGenerator rng_;
    double temperature_, humidity_, wind_, gust_ = 0, pressure_;
    int direction_;
    double rainMin_, rainMax_;
};

struct Row {
    QString name, unit, value;
};

QList<Row> rowsFor(const Weather& w, const QDateTime& now, bool dayMonth)
{
    auto n = [](double v, int decimals) { return QString::number(v, 'f', decimals); };
    const QString degC = QString(QChar(0xB0)) + QLatin1Char('C');
    return {
        {"Date", "", now.toString(dayMonth ? "dd/MM/yy" : "MM/dd/yy")},
        {"Time", "", now.toString("HH:mm:ss")},
        {"OutTemp", degC, n(w.temperature(), 1)},
        {"WindSpeed", "km/h", n(w.wind(), 1)},
        {"Gust", "km/h", n(w.gust(), 1)},
        {"WindDirection", "", w.direction()},
        {"RainDayMin", "mm", n(w.rainMin(), 1)},
        {"RainDayMax", "mm", n(w.rainMax(), 1)},
        {"OutHumidity", "%", n(w.humidity(), 0) + " %"},
        {"DewPoint", degC, n(w.dewPoint(), 1)},
        {"Barometer", "hPa", n(w.pressure(), 1)},
    };
}

qsizetype findRow(const QList<Row>& rows, const QString& name)
{
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows[i].name.compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void dropRows(QList<Row>& rows, const QStringList& names)
{
    for (const QString& name : names)
        for (qsizetype i; (i = findRow(rows, name)) >= 0;) rows.removeAt(i);
}

// What the values file asks for: values in the order written (a name given
// twice ends with its last value), and the rows to leave out.
struct ValueOverrides {
    QList<std::pair<QString, QString>> values;
    QStringList drop;
};

// Read afresh for every version, so that a test can change "the truth"
// between two versions by replacing the file. A file that is missing or
// cannot be read asks for nothing: the simulated readings are written, as
// when a test has not set anything up yet.
ValueOverrides readValuesFile(const QString& path)
{
    ValueOverrides o;
    if (path.isEmpty()) return o;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return o;
    const QString text = QString::fromUtf8(f.readAll());
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed(); // also takes the CR of a CRLF line
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) continue;
        const QString name = line.left(eq).trimmed().toString();
        const QString value = line.mid(eq + 1).trimmed().toString();
        if (name.isEmpty()) continue;
        if (name.compare(QLatin1String("drop"), Qt::CaseInsensitive) == 0) {
            for (QStringView d : QStringView(value).split(u','))
                if (!d.trimmed().isEmpty()) o.drop << d.trimmed().toString();
        } else {
            o.values.append({name, value});
        }
    }
    return o;
}

// A value for a row the station writes replaces its reading; any other name
// becomes a row of its own at the end, without a unit. Dropping comes last,
// so a name that is dropped is gone whatever else asked for it.
void applyOverrides(QList<Row>& rows, const ValueOverrides& v, const QStringList& staticDrop)
{
    for (const auto& [name, value] : v.values) {
        const qsizetype i = findRow(rows, name);
        if (i >= 0) rows[i].value = value;
        else rows.append({name, QString(), value});
    }
    dropRows(rows, staticDrop);
    dropRows(rows, v.drop);
}

// The text of one version, and where each row's value stands in it (as
// written, that is after HTML escaping), so that a crash can be staged in
// the middle of one.
struct Rendered {
    QString text;
    QList<qsizetype> valueAt;
    QList<qsizetype> valueLength;
};

Rendered csvText(const QList<Row>& rows, const QString& eol, bool finalEol)
{
    Rendered r;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        r.text += rows[i].name + ',' + rows[i].unit + ',';
        r.valueAt << r.text.size();
        r.valueLength << rows[i].value.size();
        r.text += rows[i].value;
        if (finalEol || i + 1 < rows.size()) r.text += eol;
    }
    return r;
}

Rendered htmlText(const QList<Row>& rows, const QString& charset, const QString& eol, bool finalEol)
{
    auto cell = [](QString t) {
        t.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;");
        t.replace(QChar(0xB0), "&deg;");
        return t.isEmpty() ? QStringLiteral("&nbsp;") : t;
    };
    Rendered r;
    r.text = "<!DOCTYPE html>" + eol + "<html>" + eol + "<head>" + eol + "<meta charset=\"" + charset + "\">" + eol
             + "<meta http-equiv=\"refresh\" content=\"10\">" + eol + "<title>Weather station</title>" + eol + "</head>" + eol
             + "<body>" + eol + "<h1>Current conditions</h1>" + eol + "<table>" + eol;
    for (const Row& row : rows) {
        r.text += "<tr><td>" + cell(row.name) + "</td><td>" + cell(row.unit) + "</td><td class=\"v\">";
        const QString value = cell(row.value);
        r.valueAt << r.text.size();
        r.valueLength << value.size();
        r.text += value + "</td></tr>" + eol;
    }
    r.text += "</table>" + eol + "</body>" + eol + "</html>";
    if (finalEol) r.text += eol;
    return r;
}

// Printable rubbish in lines, about as long as the table it stands in for,
// for a station program that wrote something else into its file. None of
// the names the reader looks for may turn up in it by chance: the letters
// come without vowels (every name written here has one), and any name still
// found (one given in the values file) is broken with a line end, which no
// name can hold.
QString garbageText(QRandomGenerator& rng, qsizetype length, const QString& eol, bool finalEol, const QList<Row>& rows)
{
    static const QString alphabet = QStringLiteral("BCDFGHJKLMNPQRSTVWXZbcdfghjklmnpqrstvwxz0123456789 .,:;-_+*/=!?()[]{}#$@^~|");
    QString out;
    while (out.size() < length) {
        const int n = 8 + int(rng.bounded(60));
        for (int i = 0; i < n; ++i) out += alphabet[int(rng.bounded(quint32(alphabet.size())))];
        out += eol;
    }
    if (!finalEol) out.chop(eol.size());
    for (const Row& r : rows)
        for (qsizetype at; (at = out.indexOf(r.name, 0, Qt::CaseInsensitive)) >= 0;) out[at] = u'\n';
    return out;
}

// The file's bytes in the chosen encoding. Code page 1252 and Latin-1 agree
// on every character written here; UTF-16 starts with its byte-order mark,
// as programs that save "Unicode" text write it, and some programs put the
// UTF-8 mark in front of UTF-8 text too. Characters are encoded one by one,
// so the bytes of a text's first n characters are the start of the bytes
// of the whole text (a crash cut relies on this).
QByteArray encoded(const QString& text, const QString& encoding)
{
    if (encoding == "cp1252") return text.toLatin1();
    if (encoding == "utf8bom") return QByteArray("\xEF\xBB\xBF", 3) + text.toUtf8();
    if (!encoding.startsWith("utf16")) return text.toUtf8();
    const bool big = encoding == "utf16be";
    QByteArray out = big ? QByteArray("\xFE\xFF", 2) : QByteArray("\xFF\xFE", 2);
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        const char hi = char(u >> 8), lo = char(u & 0xFF);
        out += big ? hi : lo;
        out += big ? lo : hi;
    }
    return out;
}

enum class Mode { Atomic, Truncate, Overwrite };
enum class Content { Table, Garbage, Nul };

struct Options {
    QString out;
    bool csv = false;
    double interval = 10;
    bool dayMonth = true;
    bool once = false;
    Mode mode = Mode::Atomic;
    int writeMs = 3000;
    int chunks = 10;
    QString eol = QStringLiteral("\r\n");
    bool finalEol = true;
    QString encoding = QStringLiteral("utf8"); // utf8, utf8bom, cp1252, utf16le, utf16be
    QString valuesPath;
    QStringList drop;
    Content content = Content::Table;
    QString crashIn;     // empty: never crash
    int crashAfter = 1;  // whole versions before the one cut off
    bool machine = false;
    Scenario scenario = Scenario::Clear;
    quint32 seed = 0;
};

bool writeAll(int fd, const char* data, qsizetype size, QString& error)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Writes the bytes straight into the file, as careless programs do: in
// o.chunks pieces, the first at once and the last o.writeMs milliseconds
// later, with or without emptying the file first. Plain write() calls with
// no buffer of our own, so a reader sees each piece as soon as it is
// written, and a single piece is a single write(). With stopAt the writing
// ends after that many bytes, in the middle of the piece that holds it, as
// when the program dies there. Events are handled during the pauses (the
// interval timer's ticks then find the writer busy and pass).
bool writeDirect(const Options& o, const QByteArray& bytes, bool truncate, skyvane::Clock& clock, QString& error,
                 qsizetype stopAt = -1)
{
    const QByteArray path = QFile::encodeName(o.out);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666);
    if (fd < 0) { error = QString::fromLocal8Bit(std::strerror(errno)); return false; }
    const qsizetype end = stopAt >= 0 ? std::min(stopAt, bytes.size()) : bytes.size();
    QElapsedTimer elapsed;
    elapsed.start();
    bool ok = true;
    for (int k = 0; k < o.chunks && ok; ++k) {
        const qsizetype from = bytes.size() * k / o.chunks;
        const qsizetype to = std::min(end, bytes.size() * (k + 1) / o.chunks);
        if (from >= end) break;
        // Pause against the start, not the previous piece, so that slow
        // writes do not add up to more than o.writeMs.
        if (k > 0) {
            const qint64 due = qint64(o.writeMs) * k / (o.chunks - 1);
            if (due > elapsed.elapsed()) clock.waitProcessingEvents(due - elapsed.elapsed());
        }
        if (to > from) ok = writeAll(fd, bytes.constData() + from, to - from, error);
    }
    if (::close(fd) != 0 && ok) { error = QString::fromLocal8Bit(std::strerror(errno)); ok = false; }
    return ok;
}

bool writeFile(const Options& o, const QByteArray& bytes, skyvane::Clock& clock, QString& error)
{
    if (o.mode == Mode::Atomic) {
        QSaveFile f(o.out);
        if (!f.open(QIODevice::WriteOnly)) { error = f.errorString(); return false; }
        f.write(bytes);
        if (!f.commit()) { error = f.errorString(); return false; }
        return true;
    }
    return writeDirect(o, bytes, o.mode == Mode::Truncate, clock, error);
}

QString valueOf(const QList<Row>& rows, const char* name)
{
    const qsizetype i = findRow(rows, QString::fromLatin1(name));
    return i >= 0 ? rows[i].value : QStringLiteral("-");
}

// One line for a program that drives the writer: the version's number and
// the rows the file now holds, in file order, with their values as written
// (before HTML escaping).
QString machineLine(int version, const QList<Row>* rows)
{
    QString line = QStringLiteral("version ") + QString::number(version) + u' ';
    if (!rows) return line + u'-';
    QStringList pairs;
    for (const Row& r : *rows) pairs << r.name + u'=' + r.value;
    return line + pairs.join(u';');
}

bool parseWholeNumber(const QString& text, int min, int& value)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min) return false;
    value = v;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("skyvane-station-writer"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Rewrites a weather-station data file (CSV or HTML table) with changing readings, the way careful "
        "(--mode atomic) or careless (--mode truncate, --mode overwrite) station programs do."));
    p.addHelpOption();
    p.addOptions({
        {"out", "File to write (required).", "PATH"},
        {"format", "csv or htm (default: csv when PATH ends in .csv, else htm).", "FORMAT"},
        {"interval", "Seconds between two versions (default 10, at least 0.1).", "SECONDS", "10"},
        {"date-format", "dd/mm or mm/dd (default dd/mm).", "ORDER", "dd/mm"},
        {"once", "Write one version and exit."},
        {"scenario", "clear, cloudy, rain or windy (default clear).", "NAME", "clear"},
        {"mode", "How a version is written: atomic (aside, then renamed over the file), truncate (emptied, then "
                 "written in pieces) or overwrite (written in pieces over the old bytes, never truncated: a "
                 "shorter version leaves the old tail). Default atomic.", "MODE", "atomic"},
        {"in-place", "Same as --mode truncate."},
        {"write-ms", "truncate and overwrite: milliseconds from the first piece of a version to its last "
                     "(default 3000).", "MS", "3000"},
        {"chunks", "truncate and overwrite: pieces a version is written in (default 10; 1 = a single write).",
         "N", "10"},
        {"eol", "Line end: crlf or lf (default crlf).", "EOL", "crlf"},
        {"no-final-eol", "No line end after the file's last line."},
        {"encoding", "utf8, utf8bom, cp1252, utf16le or utf16be (default utf8; utf8bom and UTF-16 with a "
                     "byte-order mark).", "NAME", "utf8"},
        {"values", "File re-read before every version, lines NAME=VALUE: the value written for that row (a name "
                   "that is not a row is added at the end, without a unit); drop=NAME,... leaves rows out; "
                   "# starts a comment. Missing or unreadable: the simulated readings.", "PATH"},
        {"drop", "Comma-separated names of rows never written.", "NAMES"},
        {"content", "table, garbage (printable rubbish holding none of the names) or nul (NUL bytes), each about "
                    "the length of a version (default table).", "KIND", "table"},
        {"crash-in", "After --crash-after versions, write the next one in truncate style (paced as the mode's "
                     "writes are) only up to the middle of this row's value, then exit at once with code 3.", "NAME"},
        {"crash-after", "With --crash-in: whole versions written before the cut one (default 1; 0 allowed).", "N",
         "1"},
        {"machine", "After each version is completely written, print one line \"version N NAME=VALUE;...\" (the "
                    "rows in file order; \"version N -\" for garbage or nul) and nothing else."},
        {"seed", "Seed for the random readings (default: random).", "N"},
    });
    p.process(app);

    QTextStream err(stderr);
    auto fail = [&](const QString& message) {
        err << "skyvane-station-writer: " << message << "\n";
        err.flush();
        return 2;
    };
    Options o;
    o.out = p.value("out");
    if (o.out.isEmpty()) return fail("--out PATH is required");
    const QString format = p.isSet("format") ? p.value("format").toLower() : (o.out.toLower().endsWith(".csv") ? "csv" : "htm");
    if (format != "csv" && format != "htm" && format != "html") return fail("--format must be csv or htm");
    o.csv = format == "csv";
    bool ok = false;
    o.interval = p.value("interval").toDouble(&ok);
    if (!ok || o.interval < 0.1) return fail("--interval must be a number of seconds >= 0.1");
    const QString order = p.value("date-format").toLower();
    if (order != "dd/mm" && order != "mm/dd") return fail("--date-format must be dd/mm or mm/dd");
    o.dayMonth = order == "dd/mm";
    o.once = p.isSet("once");

    const QString mode = p.value("mode").toLower();
    if (mode == "atomic") o.mode = Mode::Atomic;
    else if (mode == "truncate") o.mode = Mode::Truncate;
    else if (mode == "overwrite") o.mode = Mode::Overwrite;
    else return fail("--mode must be atomic, truncate or overwrite");
    if (p.isSet("in-place")) {
        if (p.isSet("mode") && o.mode != Mode::Truncate) return fail("--in-place is --mode truncate; it cannot go with --mode " + mode);
        o.mode = Mode::Truncate;
    }
    if (!parseWholeNumber(p.value("write-ms"), 0, o.writeMs)) return fail("--write-ms must be a whole number >= 0");
    if (!parseWholeNumber(p.value("chunks"), 1, o.chunks)) return fail("--chunks must be a whole number >= 1");

    const QString eol = p.value("eol").toLower();
    if (eol != "crlf" && eol != "lf") return fail("--eol must be crlf or lf");
    o.eol = eol == "crlf" ? QStringLiteral("\r\n") : QStringLiteral("\n");
    o.finalEol = !p.isSet("no-final-eol");
    const QString enc = p.value("encoding").toLower();
    if (enc != "utf8" && enc != "utf8bom" && enc != "cp1252" && enc != "utf16le" && enc != "utf16be")
        return fail("--encoding must be utf8, utf8bom, cp1252, utf16le or utf16be");
    o.encoding = enc;

    o.valuesPath = p.value("values");
    for (const QString& d : p.value("drop").split(u',', Qt::SkipEmptyParts))
        if (!d.trimmed().isEmpty()) o.drop << d.trimmed();
    const QString content = p.value("content").toLower();
    if (content == "table") o.content = Content::Table;
    else if (content == "garbage") o.content = Content::Garbage;
    else if (content == "nul") o.content = Content::Nul;
    else return fail("--content must be table, garbage or nul");

    o.crashIn = p.value("crash-in").trimmed();
    if (p.isSet("crash-in") && o.crashIn.isEmpty()) return fail("--crash-in needs the name of a row");
    if (!parseWholeNumber(p.value("crash-after"), 0, o.crashAfter)) return fail("--crash-after must be a whole number >= 0");
    if (p.isSet("crash-after") && o.crashIn.isEmpty()) return fail("--crash-after goes with --crash-in NAME");
    if (!o.crashIn.isEmpty()) {
        if (o.content != Content::Table) return fail("--crash-in needs --content table (there are no rows to cut otherwise)");
        // The rows the first version will hold: the names never change
        // with the weather, only with the values file and --drop.
        QList<Row> rows = rowsFor(Weather(Scenario::Clear, 0), QDateTime::currentDateTime(), true);
        applyOverrides(rows, readValuesFile(o.valuesPath), o.drop);
        if (findRow(rows, o.crashIn) < 0) {
            QStringList names;
            for (const Row& r : rows) names << r.name;
            return fail("--crash-in " + o.crashIn + ": no such row (the file holds " + names.join(", ") + ")");
        }
    }
    o.machine = p.isSet("machine");

    const QString sc = p.value("scenario").toLower();
    if (sc == "clear") o.scenario = Scenario::Clear;
    else if (sc == "cloudy") o.scenario = Scenario::Cloudy;
    else if (sc == "rain") o.scenario = Scenario::Rain;
    else if (sc == "windy") o.scenario = Scenario::Windy;
    else return fail("--scenario must be clear, cloudy, rain or windy");
    o.seed = p.isSet("seed") ? p.value("seed").toUInt() : QRandomGenerator::global()->generate();

    skyvane::SystemClock clock;
    Weather weather(o.scenario, o.seed);
    // Its own generator, so that asking for rubbish does not change the
    // readings a given seed gives.
    QRandomGenerator garbageRng(o.seed ^ 0x5eedu);
    QTextStream out(stdout);
    const QString charset = o.encoding == "cp1252" ? "windows-1252" : o.encoding.startsWith("utf16") ? "utf-16" : "utf-8";
    int versions = 0; // completely written

    // A slow write handles events while it pauses: should a tick come
    // through then, it must not begin a second version inside the first.
    bool busy = false;
    auto writeOnce = [&]() -> bool {
        if (busy) return true;
        busy = true;
        struct Done { bool& b; ~Done() { b = false; } } done{busy};
        weather.step(o.interval);
        QList<Row> rows = rowsFor(weather, clock.now(), o.dayMonth);
        applyOverrides(rows, readValuesFile(o.valuesPath), o.drop);
        const Rendered table = o.csv ? csvText(rows, o.eol, o.finalEol) : htmlText(rows, charset, o.eol, o.finalEol);
        QByteArray bytes = encoded(table.text, o.encoding);
        if (o.content == Content::Garbage)
            bytes = encoded(garbageText(garbageRng, table.text.size(), o.eol, o.finalEol, rows), o.encoding);
        else if (o.content == Content::Nul)
            bytes = QByteArray(bytes.size(), '\0');

        if (!o.crashIn.isEmpty() && versions == o.crashAfter) {
            // Die in the middle of the named value: at least its first
            // character is on disk and at least its last is not, so the
            // cut line reads as a different number (9 for 95).
            const qsizetype i = findRow(rows, o.crashIn);
            if (i < 0) { fail("--crash-in " + o.crashIn + ": the values file dropped that row"); std::_Exit(2); }
            const qsizetype length = table.valueLength[i];
            if (length < 2) {
                fail("--crash-in " + o.crashIn + ": its value \"" + rows[i].value + "\" is too short to cut inside");
                std::_Exit(2);
            }
            const qsizetype cut = table.valueAt[i] + std::max<qsizetype>(1, (length - 1) / 2);
            // Paced as the mode's own writes are: a careless program dies
            // part of the way through its slow write; a careful one dies
            // in its one quick write, here made straight into the file.
            Options paced = o;
            if (o.mode == Mode::Atomic) paced.chunks = 1;
            QString error;
            if (!writeDirect(paced, bytes, true, clock, error, encoded(table.text.left(cut), o.encoding).size())) {
                err << "skyvane-station-writer: cannot write " << o.out << ": " << error << "\n";
            }
            out.flush();
            err.flush();
            std::_Exit(3);
        }

        QString error;
        if (!writeFile(o, bytes, clock, error)) {
            err << "skyvane-station-writer: cannot write " << o.out << ": " << error << "\n";
            err.flush();
            return false;
        }
        ++versions;
        if (o.machine) {
            out << machineLine(versions, o.content == Content::Table ? &rows : nullptr) << "\n";
        } else if (o.content != Content::Table) {
            out << clock.now().toString("HH:mm:ss") << "  " << QFileInfo(o.out).fileName() << ": "
                << (o.content == Content::Garbage ? "garbage" : "NUL bytes") << ", " << bytes.size() << " bytes\n";
        } else {
            out << valueOf(rows, "Time") << "  " << QFileInfo(o.out).fileName() << ": " << valueOf(rows, "OutTemp")
                << " C, wind " << valueOf(rows, "WindSpeed") << " km/h " << valueOf(rows, "WindDirection")
                << ", humidity " << valueOf(rows, "OutHumidity") << "\n";
        }
        out.flush();
        return true;
    };

    if (o.once) return writeOnce() ? 0 : 1;

    // Keep going when a write fails (a folder not there yet, a full disk):
    // the next interval tries again, as station software does.
    writeOnce();
    std::unique_ptr<skyvane::ClockTimer> timer = clock.createTimer();
    timer->setInterval(qint64(o.interval * 1000));
    timer->setCallback([&] { writeOnce(); });
    timer->start();
    return app.exec();
}
