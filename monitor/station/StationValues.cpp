#include "StationValues.h"

#include "StationTime.h"

#include <QLocale>
#include <bit>
#include <cmath>

namespace skyvane::station {

namespace {

const char* const kNames[NameCount] = {
    "Date", "Time", "OutTemp", "WindSpeed", "Gust", "WindDirection",
    "RainDayMin", "RainDayMax", "OutHumidity", "DewPoint", "Barometer",
};

// Plain text of a number: as many decimals as it has, none when whole.
QString plainNumber(double v, const format::Separators& sep)
{
    return format::number(v, QStringLiteral("0.##############"), sep);
}

// Digits only (after trimming) to an integer; -1 when not.
int wholeNumber(QStringView t, bool leadingOnly = false)
{
    t = t.trimmed();
    qsizetype n = 0;
    while (n < t.size() && n < 9 && t[n].isDigit() && t[n].unicode() < 128) ++n;
    if (n == 0) return -1;
    if (!leadingOnly && n != t.size()) return -1;
    if (leadingOnly && n < t.size() && t[n].isDigit()) return -1; // too many digits
    return t.left(n).toInt();
}

int expandYear(int year, int digits, int referenceYear)
{
    if (digits > 2) return year;
    int y = (referenceYear / 100) * 100 + year;
    if (y > referenceYear + 49) y -= 100;
    else if (y < referenceYear - 50) y += 100;
    return y;
}

} // namespace

QString stationName(StationName n) { return QString::fromLatin1(kNames[n]); }

CompassTable defaultCompassTable()
{
    CompassTable t;
    const char* const names[16] = {"N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE",
                                   "S", "SSW", "SW", "WSW", "W", "WNW", "NW", "NNW"};
    for (int k = 1; k <= 16; ++k) t[size_t(k)] = QString::fromLatin1(names[k - 1]);
    return t;
}

int StationValues::namesFoundCount() const { return std::popcount(namesFound); }

QDate parseStationDate(QStringView text, bool dayMonthOrder, int referenceYear)
{
    QChar sep = QLatin1Char('/');
    if (!text.contains(sep)) sep = text.contains(QLatin1Char('-')) ? QLatin1Char('-') : QLatin1Char('.');
    const qsizetype a = text.indexOf(sep);
    if (a < 0) return {};
    const qsizetype b = text.indexOf(sep, a + 1);
    if (b < 0) return {};
    const int first = wholeNumber(text.mid(0, a));
    const int second = wholeNumber(text.mid(a + 1, b - a - 1));
    // The year part may be followed by a time ("08 21:05"): its leading
    // digits are the year.
    const QStringView yearText = text.mid(b + 1).trimmed();
    const int year = wholeNumber(yearText, true);
    if (first < 0 || second < 0 || year < 0) return {};
    qsizetype digits = 0;
    while (digits < yearText.size() && yearText[digits].isDigit()) ++digits;
    const int day = dayMonthOrder ? first : second;
    const int month = dayMonthOrder ? second : first;
    const QDate d(expandYear(year, int(digits), referenceYear), month, day);
    return d.isValid() ? d : QDate();
}

QTime parseStationTime(QStringView text)
{
    QStringView t = text.trimmed();
    int pm = -1; // -1 no suffix, 0 AM, 1 PM
    if (t.size() >= 2) {
        const QStringView suffix = t.right(2);
        if (suffix.compare(QLatin1String("AM"), Qt::CaseInsensitive) == 0) pm = 0;
        else if (suffix.compare(QLatin1String("PM"), Qt::CaseInsensitive) == 0) pm = 1;
        if (pm >= 0) t = t.left(t.size() - 2).trimmed();
    }
    const qsizetype a = t.indexOf(QLatin1Char(':'));
    if (a < 0) return {};
    const qsizetype b = t.indexOf(QLatin1Char(':'), a + 1);
    const int h = wholeNumber(t.mid(0, a));
    const int m = wholeNumber(b < 0 ? t.mid(a + 1) : t.mid(a + 1, b - a - 1));
    int s = 0;
    if (b >= 0) {
        // Seconds may carry a fraction ("33.5"): whole seconds are kept.
        QStringView st = t.mid(b + 1);
        const qsizetype dot = st.indexOf(QLatin1Char('.'));
        if (dot >= 0) {
            if (wholeNumber(st.mid(dot + 1)) < 0) return {};
            st = st.left(dot);
        }
        s = wholeNumber(st);
    }
    if (h < 0 || m < 0 || s < 0) return {};
    int hour = h;
    if (pm >= 0) {
        if (h < 1 || h > 12) return {};
        hour = (h % 12) + (pm ? 12 : 0);
    }
    const QTime tm(hour, m, s);
    return tm.isValid() ? tm : QTime();
}

bool parseStationNumber(QStringView text, QStringView exclusions, const QString& decimalSeparator, double& value)
{
    QString t;
    t.reserve(text.size());
    for (QChar c : text) {
        if (!exclusions.contains(c)) t += c;
    }
    t = t.trimmed();
    if (t.isEmpty()) return false;
    if (decimalSeparator != QLatin1String(".") && decimalSeparator.size() == 1 && !t.contains(QLatin1Char('.'))
        && t.count(decimalSeparator.at(0)) == 1) {
        t.replace(decimalSeparator.at(0), QLatin1Char('.'));
    }
    // Digits, one point, a sign and an exponent; no group separators.
    for (QChar c : t) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || u == '.' || u == '-' || u == '+' || u == 'e' || u == 'E')) return false;
    }
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) return false;
    value = v;
    return true;
}

double compassToDegrees(QStringView name, const CompassTable& table, bool* ok)
{
    const QString n = name.trimmed().toString().toUpper();
    for (int k = 1; k <= 16; ++k) {
        if (table[size_t(k)] == n) {
            if (ok) *ok = true;
            return (k - 1) * 22.5;
        }
    }
    if (ok) *ok = false;
    return 0.0;
}

QString missingText(Missing m)
{
    switch (m) {
    case Missing::None: return {};
    case Missing::NotInFile: return QStringLiteral("not in the station file");
    case Missing::RecordCut: return QStringLiteral("cut off in the station file");
    case Missing::NotANumber: return QStringLiteral("not a number in the station file");
    case Missing::NoData: return QStringLiteral("no current station data");
    }
    return {};
}

StationValues convertTable(const StationTable& table, const ConversionOptions& opt)
{
    StationValues v;
    StationRecord recs[NameCount];
    const StationRecord* rec[NameCount];
    for (int i = 0; i < NameCount; ++i) {
        const int row = table.find(stationName(StationName(i)));
        recs[i] = table.record(row);
        rec[i] = &recs[i];
        if (row > 0) v.namesFound |= 1u << i;
    }
    auto found = [&](StationName n) { return (v.namesFound & (1u << n)) != 0; };
    // A quantity missing from the file is still labelled with its own name.
    auto caption = [&](StationName n) { return found(n) ? rec[n]->name : stationName(n); };
    const format::Separators& sep = opt.separators;

    // 0 date
    v.captions[FieldDate] = caption(NameDate);
    v.date = parseStationDate(rec[NameDate]->value, opt.dayMonthOrder, opt.referenceYear);
    v.texts[FieldDate] = v.date.isValid()
        ? format::dateTime(QDateTime(v.date, QTime(0, 0)), opt.dayMonthOrder ? QStringLiteral("dd/mm") : QStringLiteral("mm/dd"))
        : rec[NameDate]->value;

    // 1 time
    v.captions[FieldTime] = caption(NameTime);
    v.time = parseStationTime(rec[NameTime]->value);
    v.texts[FieldTime] = v.time.isValid()
        ? format::dateTime(QDateTime(QDate(2000, 1, 1), v.time), QStringLiteral("hh:mm:ss"))
        : rec[NameTime]->value;
    // The station's local reading as a moment: around the daylight-saving
    // changes the file's own time decides, or else the oldest reading.
    if (v.date.isValid() && v.time.isValid()) v.dataTime = stationMoment(v.date, v.time, opt.fileModified).toLocalTime();

    // plain numbers
    auto number = [&](StationField field, StationName n, Reading& r, const QString& pattern, QStringView excl) {
        v.captions[field] = caption(n);
        v.units[field] = rec[n]->unit;
        const QString& text = rec[n]->value;
        double x = 0;
        if (found(n) && parseStationNumber(text, excl, sep.decimal, x)) {
            r = Reading::of(x);
            v.texts[field] = pattern.isEmpty() ? plainNumber(x, sep) : format::number(x, pattern, sep);
        } else {
            r = Reading::none(found(n) ? Missing::NotANumber : Missing::NotInFile);
            v.texts[field] = text; // shown as written, so the user sees what is wrong
        }
    };
    number(FieldOutTemp, NameOutTemp, v.outTemp, {}, {});
    number(FieldWindSpeed, NameWindSpeed, v.windSpeed, {}, {});
    number(FieldGust, NameGust, v.gust, {}, {});

    // 5 direction
    v.captions[FieldWindDirection] = caption(NameWindDirection);
    v.units[FieldWindDirection] = rec[NameWindDirection]->unit;
    {
        bool ok = false;
        const double deg = compassToDegrees(rec[NameWindDirection]->value, opt.compass, &ok);
        v.windDirection = ok ? Reading::of(deg)
                             : Reading::none(found(NameWindDirection) ? Missing::NotANumber : Missing::NotInFile);
        // A text that is no compass name (degrees included) reads as 0.
        if (found(NameWindDirection)) v.texts[FieldWindDirection] = format::number(deg, QStringLiteral("0.0"), sep);
    }

    // 6 rain: the day's rain from the day's lowest and highest counter
    // readings, whichever way round the station writes them.
    v.captions[FieldRain] = QStringLiteral("RainDaily");
    v.units[FieldRain] = rec[NameRainDayMax]->unit;
    {
        double lo = 0, hi = 0;
        const bool okLo = found(NameRainDayMin) && parseStationNumber(rec[NameRainDayMin]->value, {}, sep.decimal, lo);
        const bool okHi = found(NameRainDayMax) && parseStationNumber(rec[NameRainDayMax]->value, {}, sep.decimal, hi);
        if (!okLo) lo = 0;
        if (!okHi) hi = 0;
        const double rain = std::abs(hi - lo);
        v.rain = okLo && okHi ? Reading::of(rain)
                              : Reading::none(found(NameRainDayMin) && found(NameRainDayMax) ? Missing::NotANumber
                                                                                             : Missing::NotInFile);
        if (found(NameRainDayMin) || found(NameRainDayMax)) v.texts[FieldRain] = plainNumber(rain, sep);
    }

    number(FieldHumidity, NameOutHumidity, v.humidity, {}, opt.humidityExclusions);
    number(FieldDewPoint, NameDewPoint, v.dewPoint, {}, {});
    number(FieldBarometer, NameBarometer, v.barometer, QStringLiteral("0.0"), {});

    v.captions[FieldTempUnit] = QStringLiteral("Units");
    v.texts[FieldTempUnit] = rec[NameOutTemp]->unit;
    v.captions[FieldSpeedUnit] = QStringLiteral("Units");
    v.texts[FieldSpeedUnit] = rec[NameWindSpeed]->unit;
    v.captions[FieldBarometerUnit] = QStringLiteral("Units");
    v.texts[FieldBarometerUnit] = rec[NameBarometer]->unit;
    return v;
}

} // namespace skyvane::station
