// skyvane-station-writer: plays the part of weather-station software for
// demos and manual tests. It rewrites a station data file (CSV or an HTML
// page with a table of name, unit, value rows) every few seconds with
// changing, plausible readings.
//
// By default each version replaces the file in one step (written aside,
// then renamed), as careful station programs do. With --in-place the file is
// truncated and written in small pieces over --write-ms milliseconds, the
// way careless ones do, so a reader can catch it half-written.

#include "Clock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

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

QString csvText(const QList<Row>& rows)
{
    QString out;
    for (const Row& r : rows) out += r.name + ',' + r.unit + ',' + r.value + "\r\n";
    return out;
}

QString htmlText(const QList<Row>& rows, const QString& charset)
{
    auto cell = [](QString t) {
        t.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;");
        t.replace(QChar(0xB0), "&deg;");
        return t.isEmpty() ? QStringLiteral("&nbsp;") : t;
    };
    QString out = "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"" + charset
                  + "\">\r\n<meta http-equiv=\"refresh\" content=\"10\">\r\n<title>Weather station</title>\r\n</head>\r\n"
                    "<body>\r\n<h1>Current conditions</h1>\r\n<table>\r\n";
    for (const Row& r : rows)
        out += "<tr><td>" + cell(r.name) + "</td><td>" + cell(r.unit) + "</td><td class=\"v\">" + cell(r.value) + "</td></tr>\r\n";
    out += "</table>\r\n</body>\r\n</html>\r\n";
    return out;
}

// The file's bytes in the chosen encoding. Code page 1252 and Latin-1 agree
// on every character written here; UTF-16 starts with its byte-order mark,
// as programs that save "Unicode" text write it.
QByteArray encoded(const QString& text, const QString& encoding)
{
    if (encoding == "cp1252") return text.toLatin1();
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

struct Options {
    QString out;
    bool csv = false;
    double interval = 10;
    bool dayMonth = true;
    bool once = false;
    bool inPlace = false;
    int writeMs = 3000;
    QString encoding = QStringLiteral("utf8"); // utf8, cp1252, utf16le, utf16be
    Scenario scenario = Scenario::Clear;
    quint32 seed = 0;
};

bool writeFile(const Options& o, const QByteArray& bytes, skyvane::Clock& clock, QString& error)
{
    if (!o.inPlace) {
        QSaveFile f(o.out);
        if (!f.open(QIODevice::WriteOnly)) { error = f.errorString(); return false; }
        f.write(bytes);
        if (!f.commit()) { error = f.errorString(); return false; }
        return true;
    }
    QFile f(o.out);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) { error = f.errorString(); return false; }
    constexpr int kPieces = 10;
    const qsizetype piece = std::max<qsizetype>(1, (bytes.size() + kPieces - 1) / kPieces);
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        if (f.write(bytes.constData() + at, std::min(piece, bytes.size() - at)) < 0) { error = f.errorString(); return false; }
        f.flush();
        if (at + piece < bytes.size()) clock.waitProcessingEvents(o.writeMs / kPieces);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("skyvane-station-writer"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Rewrites a weather-station data file (CSV or HTML table) with changing readings."));
    p.addHelpOption();
    p.addOptions({
        {"out", "File to write (required).", "PATH"},
        {"format", "csv or htm (default: csv when PATH ends in .csv, else htm).", "FORMAT"},
        {"interval", "Seconds between two versions (default 10).", "SECONDS", "10"},
        {"date-format", "dd/mm or mm/dd (default dd/mm).", "ORDER", "dd/mm"},
        {"once", "Write one version and exit."},
        {"scenario", "clear, cloudy, rain or windy (default clear).", "NAME", "clear"},
        {"in-place", "Truncate and write the file slowly in place instead of replacing it in one step."},
        {"write-ms", "With --in-place: milliseconds one version takes to write (default 3000).", "MS", "3000"},
        {"encoding", "utf8, cp1252, utf16le or utf16be (default utf8; UTF-16 with a byte-order mark).", "NAME", "utf8"},
        {"seed", "Seed for the random readings (default: random).", "N"},
    });
    p.process(app);

    QTextStream err(stderr);
    Options o;
    o.out = p.value("out");
    if (o.out.isEmpty()) { err << "skyvane-station-writer: --out PATH is required\n"; return 2; }
    const QString format = p.isSet("format") ? p.value("format").toLower() : (o.out.toLower().endsWith(".csv") ? "csv" : "htm");
    if (format != "csv" && format != "htm" && format != "html") { err << "skyvane-station-writer: --format must be csv or htm\n"; return 2; }
    o.csv = format == "csv";
    bool ok = false;
    o.interval = p.value("interval").toDouble(&ok);
    if (!ok || o.interval < 0.1) { err << "skyvane-station-writer: --interval must be a number of seconds >= 0.1\n"; return 2; }
    const QString order = p.value("date-format").toLower();
    if (order != "dd/mm" && order != "mm/dd") { err << "skyvane-station-writer: --date-format must be dd/mm or mm/dd\n"; return 2; }
    o.dayMonth = order == "dd/mm";
    o.once = p.isSet("once");
    o.inPlace = p.isSet("in-place");
    o.writeMs = p.value("write-ms").toInt(&ok);
    if (!ok || o.writeMs < 0) { err << "skyvane-station-writer: --write-ms must be a whole number >= 0\n"; return 2; }
    const QString enc = p.value("encoding").toLower();
    if (enc != "utf8" && enc != "cp1252" && enc != "utf16le" && enc != "utf16be") {
        err << "skyvane-station-writer: --encoding must be utf8, cp1252, utf16le or utf16be\n";
        return 2;
    }
    o.encoding = enc;
    const QString sc = p.value("scenario").toLower();
    if (sc == "clear") o.scenario = Scenario::Clear;
    else if (sc == "cloudy") o.scenario = Scenario::Cloudy;
    else if (sc == "rain") o.scenario = Scenario::Rain;
    else if (sc == "windy") o.scenario = Scenario::Windy;
    else { err << "skyvane-station-writer: --scenario must be clear, cloudy, rain or windy\n"; return 2; }
    o.seed = p.isSet("seed") ? p.value("seed").toUInt() : QRandomGenerator::global()->generate();

    skyvane::SystemClock clock;
    Weather weather(o.scenario, o.seed);
    QTextStream out(stdout);

    bool busy = false; // a slow in-place write lets timer ticks through
    auto writeOnce = [&]() -> bool {
        if (busy) return true;
        busy = true;
        struct Done { bool& b; ~Done() { b = false; } } done{busy};
        weather.step(o.interval);
        const QList<Row> rows = rowsFor(weather, clock.now(), o.dayMonth);
        const QString charset = o.encoding == "cp1252" ? "windows-1252" : o.encoding.startsWith("utf16") ? "utf-16" : "utf-8";
        const QString text = o.csv ? csvText(rows) : htmlText(rows, charset);
        const QByteArray bytes = encoded(text, o.encoding);
        QString error;
        if (!writeFile(o, bytes, clock, error)) {
            err << "skyvane-station-writer: cannot write " << o.out << ": " << error << "\n";
            err.flush();
            return false;
        }
        out << rows[1].value << "  " << QFileInfo(o.out).fileName() << ": " << rows[2].value << " C, wind "
            << rows[3].value << " km/h " << rows[5].value << ", humidity " << rows[8].value << "\n";
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
