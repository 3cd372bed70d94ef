#pragma once
// The settings of the main window's own controls: what the user sets on the
// start, sensor and path panels, the window's layout, and the update check's
// notes. Every key is declared once in monitorConfigRows(); the core binds the
// declarations into its settings schema, which loads them at start-up and
// saves them at unload and soon after a change. (Uploads, graphs and the
// record files declare their own keys.)

#include "GraphSettings.h"
#include "SettingsSchema.h"

#include <QString>
#include <array>
#include <vector>

namespace skyvane {

class SettingsStore;

inline constexpr const char* kAppName = "XOB_Skyvane";

// Title text: "XOB_Skyvane (v5.02.015)".
QString titleText();
QString versionDigits(); // "5.02.015"

// Read periods offered by RefreshRead, in the order of its items.
inline const std::array<QString, 4> kRefreshReadItems{QStringLiteral("5  secs"), QStringLiteral("10 secs"),
                                                      QStringLiteral("30 secs"), QStringLiteral("60 secs")};

// The settings keep the graphs in the graphs' own stored order (outputs).
using outputs::GraphImage;
using enum outputs::GraphImage;

// Where the window and its panels were, in the units the store has always
// used (twips for the position).
struct WindowLayout {
    int left = 0;
    int top = 0;
    // The centred position, the default of Left and Top: the window sets it
    // before the settings are loaded, as it depends on the screen.
    int centreLeft = 0;
    int centreTop = 0;
    // While the window is minimised a save keeps the stored position.
    bool minimised = false;
    std::array<int, 3> ssTab{0, 1, 0};          // SSTab1, SSTab2, SSTab3
    std::array<int, 4> vScrollPos{0, 0, 0, 15}; // VScrollPos0, 1, 3 (item 2 is not kept)
    int hScrollPos2 = 15;
};

struct MonitorConfig {
    bool readStation = true;   // flgReadStation "Weather"
    bool upload = false;       // flgUpload "Upload"
    int refreshRead = 1;       // RefreshRead item, 0..3
    double npTimeout = 10;     // NPTimeout, seconds
    double timeoutRead = 3;    // TimeoutREAD, minutes
    int swRole = 0;            // SWRole: 0 "Enabled" (this program drives the switch), 1 "Disable"
    bool emulator = true;      // EmulatorFlag
    int dateFormat = 0;        // DateFormat: 0 dd/mm/yy, 1 mm/dd/yy
    QString htmFile;           // weather-station data file
    QString pathName;          // user data file folder (LblPathName)
    QString graphImagePath;    // graph image folder
    std::array<bool, GraphImageCount> graphImage{true, true, true, true, true, true};
    WindowLayout window;
    // The update check: the last message shown, and the news text, which is
    // written where the news arrives, never by a save.
    QString lastUpdateMsg;     // "Window"/"LastUpdateMsg"
    QString news;              // "Window"/"XOB_News"
    // The program folder: the default of the folder settings.
    QString programDir;

    // Milliseconds of the read period: the number at the start of the item.
    qint64 readIntervalMs() const;
    bool anyGraphImage() const;

    // Loads or saves this configuration alone (the core loads and saves its
    // whole schema instead).
    void load(const SettingsStore& store, const QString& programDir);
    void save(SettingsStore& store) const;
};

// The declarations of MonitorConfig's keys, each with its load stage.
const std::vector<SettingRow<MonitorConfig>>& monitorConfigRows();

// Test hook of the headless program: every read period becomes ms (at least
// 1000) whatever the setting says; 0 gives the setting back.
void setReadIntervalOverride(qint64 ms);

// The number at the start of a combo item such as "5  secs" or "10 sec".
int leadingInt(const QString& item);

} // namespace skyvane
