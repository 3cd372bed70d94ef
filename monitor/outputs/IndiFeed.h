#pragma once
// Two small files for INDI clients (KStars/Ekos and the like), rewritten
// every read cycle:
//  - the key=value weather file of the INDI Weather Watcher driver
//    (indi_watcher_weather): temperature in degrees C, wind and gust in km/h,
//    precip, clouds, humidity, forecast;
//  - the JSON of the INDI Weather Safety Proxy driver
//    (indi_weather_safety_proxy): {"roof_status": {"open_ok": 0|1,
//    "reasons": "..."}}.
// Both are written to a temporary file and renamed over the old one, so a
// driver polling at any moment reads a whole file, never half of one.

#include "OutputValues.h"
#include "SettingsSchema.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace skyvane::outputs {

struct IndiFeedConfig {
    bool watcherEnabled = false;
    QString watcherFile = QStringLiteral("XOB_IndiWeather.txt");
    bool safetyEnabled = false;
    QString safetyFile = QStringLiteral("XOB_IndiSafety.json");
};

// Section "INDI": WatcherFeed, WatcherFile, SafetyFeed, SafetyFile.
std::vector<SettingRow<IndiFeedConfig>> indiFeedRows();

// The Weather Watcher file. Values in the driver's units whatever the
// display shows; a value that is not known is left out rather than sent as
// zero. "forecast" carries the decision: 0 when safe, 1 when not, so the
// driver's own status follows ours.
QByteArray watcherRecord(const OutputValues& v, bool openOk);

// The Safety Proxy JSON.
QByteArray safetyRecord(bool openOk, const QString& reasons);

// A file name of the feed: absolute as given, else inside folder.
QString indiFeedPath(const QString& folder, const QString& name);

// Writes data to path through a temporary file in the same folder and a
// rename. Returns false (and the reason) when it could not; the old file is
// then left as it was.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr);

} // namespace skyvane::outputs
