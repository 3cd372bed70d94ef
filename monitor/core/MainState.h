#pragma once
// What the main window shows, as plain data. The monitor's logic writes it;
// the window draws it and sends the user's actions back. Colours are stored
// values of the colour table (Colours.h); -1 means "the control's own colour".

#include "Colours.h"
#include "StationValues.h"

#include <QString>
#include <array>

namespace skyvane {

struct LabelState {
    QString text;
    int colour = colour::Default;
    bool visible = true;
};

struct LampPair {
    int c0 = colour::Grey;
    int c1 = colour::Grey;
};

// Both menus: File/Help and the tray menu.
struct MenuState {
    bool startVisible = true;   // mnuStart, mPopStart
    bool stopVisible = false;   // mnuStop, mPopStop
    bool separatorsVisible = true; // mSep0, mSep1
    bool exitEnabled = true;    // MnuExit, mPopExit
    bool updateEnabled = true;  // mnuUpdate
    bool restoreEnabled = false; // mPopRestore
    bool minimizeEnabled = true; // mPopMinimize
    bool closeEnabled = true;   // the window's own close command
};

// One name and one value label per field of the station file.
inline constexpr int kStationLabels = station::FieldCount;

struct MainState {
    QString caption;

    // Status line (at most 60 characters) and code line.
    LabelState status;
    LabelState codes;

    // Monitoring
    bool running = false;
    int clients = 0;
    bool setupEnabled = true;     // configuration controls
    bool readSettingsEnabled = true; // TimeoutREAD, RefreshRead, ButtHTMPath
    bool startEnabled = true;
    bool stopVisible = true;      // ButtStop
    bool stopEnabled = true;
    MenuState menus;

    // Current values
    std::array<LabelState, 3> sensorNames; // Label0(0..2): Cloud, Rain, Brightness
    LabelState valCloud, valRain, valBrightness, valTemperature;
    // Condition labels, in the order of conditions::Quantity: cloud, rain,
    // brightness, wind, gust, temperature, dew point, humidity.
    std::array<LabelState, 8> cond;
    // Weather-station values of the current-values panel and their names:
    // wind, gust, direction, dew point, humidity, temperature.
    std::array<LabelState, 6> stationNames;
    LabelState valWind, valGust, valDirection, valDewPoint, valHumidity;
    LabelState unsafeFlag;         // SAFE / UNSAFE
    LabelState lastReading;        // Label3(0)
    LabelState stationTime;        // Label3(2)
    LabelState lastReadingPanel;   // Label3(3)
    LabelState npAlarmMsg, safeDelayMsg, lblStatus, wsAlarmMsg;
    LabelState lblSwitch{QStringLiteral("Switch Ctrl")};
    LabelState valSwitch;
    LabelState controlText;        // Label5
    LabelState timeoutAlarmLabel;  // Label1(20)
    bool alarmNpVisible = true;    // AlarmNP and NPDataOldUnsafe
    bool alarmFrameVisible = true; // Frame3

    // Client activity
    bool comFrameVisible = false;  // FrameCOM
    QString comCalls, comPeriod;
    QString users;                 // LblUsers
    LampPair ledCom;

    // Lamps
    LampPair ledRead, ledUpload;
    // Alarm icons: position 0..9 of the lit icon, -1 for none; Stop Alarm.
    int alarmIcon = -1;
    bool stopAlarmVisible = false;
    int ledUnsafe = colour::Grey;

    // Weather-station panel
    std::array<QString, kStationLabels> wsDesc;
    std::array<QString, kStationLabels> wsValue;
};

} // namespace skyvane
