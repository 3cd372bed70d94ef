#include "IndiFeed.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cmath>

namespace skyvane::outputs {

std::vector<SettingRow<IndiFeedConfig>> indiFeedRows()
{
    using C = IndiFeedConfig;
    auto flag = [](bool C::*f, const char* key, bool def) {
        return SettingRow<C>{LoadStage::File, QStringLiteral("INDI"), QString::fromLatin1(key), SettingKind::CheckBox,
                             def ? QStringLiteral("1") : QStringLiteral("0"),
                             [f](C& c, const QString& v) { c.*f = v.trimmed() == QLatin1String("1"); },
                             [f](const C& c) { return c.*f ? QStringLiteral("1") : QStringLiteral("0"); }};
    };
    auto name = [](QString C::*f, const char* key, const QString& def) {
        return SettingRow<C>{LoadStage::File, QStringLiteral("INDI"), QString::fromLatin1(key), SettingKind::Text, def,
                             [f](C& c, const QString& v) { c.*f = v; }, [f](const C& c) { return c.*f; }};
    };
    const C d;
    return {flag(&C::watcherEnabled, "WatcherFeed", d.watcherEnabled), name(&C::watcherFile, "WatcherFile", d.watcherFile),
            flag(&C::safetyEnabled, "SafetyFeed", d.safetyEnabled), name(&C::safetyFile, "SafetyFile", d.safetyFile)};
}

namespace {

bool known(double v) { return !std::isnan(v) && std::isfinite(v); }

// The driver parses with strtod in the C locale: a point, never a comma.
QByteArray number(double v) { return QByteArray::number(v, 'f', 1); }

double toCelsius(double v, const QString& letter) { return letter == QLatin1String("F") ? (v - 32.0) * 5.0 / 9.0 : v; }

double toKmh(double v, const QString& letter)
{
    if (letter == QLatin1String("M")) return v * 1.609344;
    if (letter == QLatin1String("m")) return v * 3.6;
    if (letter == QLatin1String("k")) return v * 1.852;
    return v;
}

} // namespace

QByteArray watcherRecord(const OutputValues& v, bool openOk)
{
    QByteArray out;
    auto line = [&out](const char* key, const QByteArray& value) { out += key + QByteArray("=") + value + '\n'; };
    // Temperatures of an unknown unit (" ") can not be converted: left out.
    const bool unitKnown = v.temperatureLetter == QLatin1String("C") || v.temperatureLetter == QLatin1String("F");
    if (unitKnown && known(v.outTemperature)) line("temperature", number(toCelsius(v.outTemperature, v.temperatureLetter)));
    if (known(v.windSpeed)) line("wind", number(toKmh(v.windSpeed, v.speedLetter)));
    if (known(v.gust)) line("gust", number(toKmh(v.gust, v.speedLetter)));
    if (known(v.humidity)) line("humidity", number(v.humidity));
    // The sensor's rain level: 1 dry, 2 wet, 3 rain; 0 unknown.
    const int rain = v.levels[LevelRain];
    if (rain > 0) line("precip", rain > 1 ? "1" : "0");
    // The cloud level as a percentage: clear 0, cloudy 50, overcast 100.
    const int cloud = v.levels[LevelCloud];
    if (cloud > 0) line("clouds", QByteArray::number((cloud - 1) * 50));
    line("forecast", openOk ? "0" : "1");
    return out;
}

QByteArray safetyRecord(bool openOk, const QString& reasons)
{
    QJsonObject status;
    status.insert(QStringLiteral("open_ok"), openOk ? 1 : 0);
    status.insert(QStringLiteral("reasons"), reasons);
    QJsonObject root;
    root.insert(QStringLiteral("roof_status"), status);
    return QJsonDocument(root).toJson(QJsonDocument::Compact) + '\n';
}

QString indiFeedPath(const QString& folder, const QString& name)
{
    const QString n = name.trimmed();
    if (n.isEmpty() || QFileInfo(n).isAbsolute()) return n;
    return QDir(folder.trimmed().isEmpty() ? QDir::currentPath() : folder).filePath(n);
}

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
        if (error) *error = f.errorString();
        f.cancelWriting();
        return false;
    }
    // QSaveFile creates the file 0600; the drivers may run as another user.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                    | QFileDevice::ReadOther);
    return true;
}

} // namespace skyvane::outputs
