#pragma once
// The settings of the main window's own controls: what the user sets on the
// start, sensor and path panels. Loaded once at start-up, saved at unload.

#include <QString>
#include <array>

namespace skyvane {

class SettingsStore;

inline constexpr const char* kAppName = "XOB_Skyvane";

// Read periods offered by RefreshRead, in the order of its items.
inline const std::array<QString, 4> kRefreshReadItems{QStringLiteral("5  secs"), QStringLiteral("10 secs"),
                                                      QStringLiteral("30 secs"), QStringLiteral("60 secs")};
inline const std::array<QString, 4> kRefreshUploadItems{QStringLiteral(" 5 sec"), QStringLiteral("10 sec"),
                                                        QStringLiteral("30 sec"), QStringLiteral("60 sec")};

enum GraphImage { ImageWind, ImageGust, ImageDir, ImageHum, ImageDew, ImageTemp, GraphImageCount };

struct MonitorConfig {
    bool readStation = true;   // flgReadStation "Weather"
    bool upload = false;       // flgUpload "Upload"
    int refreshRead = 1;       // RefreshRead item, 0..3
    int refreshUpload = 3;     // RefreshUpload item, 0..3
    double npTimeout = 10;     // NPTimeout, seconds
    double timeoutRead = 3;    // TimeoutREAD, minutes
    int swRole = 0;            // SWRole: 0 "Enabled" (this program drives the switch), 1 "Disable"
    bool emulator = true;      // EmulatorFlag
    int dateFormat = 0;        // DateFormat: 0 dd/mm/yy, 1 mm/dd/yy
    QString htmFile;           // weather-station data file
    QString pathName;          // user data file folder (LblPathName)
    QString graphImagePath;    // graph image folder
    std::array<bool, GraphImageCount> graphImage{true, true, true, true, true, true};

    // Milliseconds of the read period: the number at the start of the item.
    qint64 readIntervalMs() const;
    qint64 uploadIntervalMs() const;
    bool anyGraphImage() const;

    void load(const SettingsStore& store, const QString& programDir);
    void save(SettingsStore& store) const;
};

// The number at the start of a combo item such as "5  secs" or "10 sec".
int leadingInt(const QString& item);

} // namespace skyvane
