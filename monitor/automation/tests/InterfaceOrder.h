#pragma once
// The class's published interface order (342 slots), as clients rely on it.
// "+" marks a property with a get and a let (two slots, get first).

#include <QStringList>

namespace skyvane::nephor::testdata {

inline const char* const kInterfaceOrder[] = {
    "XOB_SafeDelayValue+", "XOB_SafeDelayMsg", "XOB_SafeDelayWait", "XOB_GraphArrayFirstElem",
    "XOB_GraphArrayLastElem", "XOB_GraphArrayCloud", "XOB_GraphArrayRain", "XOB_GraphArrayDay",
    "XOB_GraphArrayTemp", "XOB_GraphArray", "MForm", "XOB_AlarmStart", "XOB_AlarmStop",
    "XOB_CloudAlarmDelay+", "XOB_DeviceRole", "XOB_DeviceSwitchCtrl+", "XOB_LocalControl", "XOB_SetSwitch",
    "XOB_SpeedUnits+", "XOB_TemperatureUnits+", "XOB_XFERFileErr", "RecordStart", "RecordStop", "SetUnSafe",
    "DeviceIsRunning", "WindowNormal", "WindowMinimize", "WindowLeft+", "WindowTop+", "BlinkLEDCOM",
    "Device_Start", "Device_Stop", "XOB_DeviceStop", "LastReading", "XOB_TotalNoUsers", "Name", "Version",
    "VersionNP", "AmbientTemperature", "Condition_Brightness", "Condition_Cloud", "Condition_DewCond",
    "Condition_Gust", "Condition_HumCond", "Condition_Rain", "Condition_Temp", "Condition_Sky",
    "Condition_WetF", "Condition_Wind", "DataReady", "BrightnessValue", "DewPointTemp", "GraphFreq",
    "GraphTemperatureMax", "GraphTemperatureMin", "GustValue", "HumidityRelative", "RainHeaterPercent",
    "RainHeaterTemperature", "RainValue", "Safe", "SecondsSinceGoodData", "SkySensorTemperature",
    "SkyTemperature", "SwitchStatus", "TemperatureAmb", "UnitTemp", "UnitSpeed", "WindDir", "WindValue",
    "BarometricPressure", "UnitsBarometricPressure", "ThreshBrightnessDark+", "ThreshBrightnessLigth+",
    "ThreshBrightnessVLigth+", "BrightnessUnknowConditionValue+", "ThreshRainDry+", "ThreshRainWet+",
    "ThreshRainRain+", "RainUnknowConditionValue+", "ThreshTempClear+", "ThreshTempCloudy+",
    "ThreshTempVCloudy+", "CloudUnknowConditionValue+", "ThreshWindCalm+", "ThreshWindWindy+",
    "ThreshWindVWindy+", "ThreshGustCalm+", "ThreshGustWindy+", "ThreshGustVWindy+",
    "ThreshDewCondensation+", "ThreshDewHumid+", "ThreshDewFine+", "ThreshHumFine+", "ThreshHumHumid+",
    "ThreshHumVHumid+", "ThreshTAmbCold+", "ThreshTAmbFine+", "ThreshTAmbHot+", "ColorClear+",
    "ColorCloudy+", "ColorVCloudy+", "ColorDry+", "ColorWet+", "ColorRain+", "ColorWindCalm+",
    "ColorWindWindy+", "ColorWindVWindy+", "ColorGustCalm+", "ColorGustWindy+", "ColorGustVWindy+",
    "ColorDewCondensation+", "ColorDewHumid+", "ColorDewFine+", "ColorHumFine+", "ColorHumHumid+",
    "ColorHumVHumid+", "ColorTempCold+", "ColorTempFine+", "ColorTempHot+", "ColorDark+", "ColorLight+",
    "ColorVLight+", "DescriptionClear+", "DescriptionCloudy+", "DescriptionVCloudy+", "DescriptionDry+",
    "DescriptionWet+", "DescriptionRain+", "DescriptionDark+", "DescriptionLight+", "DescriptionVLight+",
    "DescWindCalm+", "DescWindWindy+", "DescWindVWindy+", "DescGustCalm+", "DescGustWindy+",
    "DescGustVWindy+", "DescDewCondensation+", "DescDewHumid+", "DescDewFine+", "DescHumFine+",
    "DescHumHumid+", "DescHumVHumid+", "DescDirWindCalm", "DescDirWindWindy", "DescDirWindVWindy",
    "DescDirGustCalm", "DescDirGustWindy", "DescDirGustVWindy", "DescTempCold+", "DescTempFine+",
    "DescTempHot+", "AlarmClear+", "AlarmCloudy+", "AlarmOvercast+", "AlarmDry+", "AlarmWet+", "AlarmRain+",
    "AlarmDark+", "AlarmLight+", "AlarmVLight+", "SoundClear+", "SoundCloudy+", "SoundOvercast+",
    "SoundDry+", "SoundWet+", "SoundRain+", "SoundDark+", "SoundLight+", "SoundVLight+", "SafeClear+",
    "SafeCloudy+", "SafeOvercast+", "SafeDry+", "SafeWet+", "SafeRain+", "SafeDark+", "SafeLight+",
    "SafeVLight+", "SafeWindCalm+", "SafeWindWindy+", "SafeWindVWindy+", "SafeGustCalm+", "SafeGustWindy+",
    "SafeGustVWindy+", "SafeDewFine+", "SafeDewHumid+", "SafeDewCondensation+", "SafeHumFine+",
    "SafeHumHumid+", "SafeHumVHumid+", "SafeTempCold+", "SafeTempFine+", "SafeTempHot+", "TempFactorON+",
    "TempFactorK1+", "TempFactorK2+", "TempFactorK3+", "TempFactorK4+", "TempFactorK5+",
    "AlarmSuspendSound+", "NoConsecutiveUnknownReads+", "NoConsecutiveRS232Errors+", "ReadCycle+",
    "GetGraphCycle", "GetGraphFreq", "XOB_DataDisplayed",
};

// Members that are property gets although they have no let.
inline const QStringList kGetOnly = {"XOB_SafeDelayMsg", "XOB_SafeDelayWait", "XOB_DeviceRole", "Name", "Version",
                                     "VersionNP", "UnitTemp", "UnitSpeed", "DescDirWindCalm", "DescDirWindWindy",
                                     "DescDirWindVWindy", "DescDirGustCalm", "DescDirGustWindy", "DescDirGustVWindy"};

// The D-Bus method names of the 342 slots, in order.
inline QStringList expectedDbusNames()
{
    QStringList out;
    for (const char* e : kInterfaceOrder) {
        QString name = QString::fromLatin1(e);
        if (name.endsWith(QLatin1Char('+'))) {
            name.chop(1);
            out << QStringLiteral("get_") + name << QStringLiteral("let_") + name;
        } else if (kGetOnly.contains(name)) {
            out << QStringLiteral("get_") + name;
        } else {
            out << name;
        }
    }
    return out;
}

} // namespace skyvane::nephor::testdata
