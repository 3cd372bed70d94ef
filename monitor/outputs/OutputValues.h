#pragma once
// What one read cycle leaves for the two record files: the sensor server's
// values of this cycle, the weather-station values as the window shows them
// (display units), the levels and their descriptions, and the decision.
// A value that is not known this cycle is NaN and is written as an empty
// field rather than as a made-up zero.

#include <QDateTime>
#include <QString>
#include <array>
#include <limits>

namespace skyvane::outputs {

inline constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// Order of the condition levels and their texts below.
enum OutputLevel { LevelCloud, LevelRain, LevelWind, LevelGust, LevelTemperature, LevelDewPoint, LevelHumidity,
                   LevelBrightness, OutputLevelCount };

struct OutputValues {
    QDateTime now;          // the time of this write (local)
    QDateTime lastReading;  // the sensor server's LastReading

    // sensor server
    double skyTemperature = kMissing;
    double rainValue = kMissing;
    double brightnessValue = kMissing;
    double skySensorTemperature = kMissing;
    double rainHeaterPercent = kMissing;
    double rainHeaterTemperature = kMissing;
    QString rainHeaterStatus;
    double switchStatus = 0;

    // weather station, as shown
    double windSpeed = kMissing;
    double gust = kMissing;
    double windDirection = kMissing;
    double outTemperature = kMissing;
    double dewPoint = kMissing;
    double humidity = kMissing;

    QString temperatureLetter = QStringLiteral("C"); // "C" or "F"
    QString speedLetter = QStringLiteral("K");       // "K", "M", "m", "k"

    std::array<int, OutputLevelCount> levels{};          // 0..3
    std::array<QString, OutputLevelCount> levelTexts;    // description of each level
    bool unsafe = false;
    int secondsSinceGoodData = 3;
};

} // namespace skyvane::outputs
