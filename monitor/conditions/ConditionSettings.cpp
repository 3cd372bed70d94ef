#include "ConditionSettings.h"

#include "Colours.h"
#include "SettingsStore.h"

namespace skyvane::conditions {

namespace {

namespace codec = settings_codec;

const QString kWindow = QStringLiteral("Window");
const QString kSetup = QStringLiteral("Setup");
const QString kLimit = QStringLiteral("Limit");
const QString kDescription = QStringLiteral("Description");
const QString kColor = QStringLiteral("Color");
const QString kUnsafe = QStringLiteral("Unsafe");
const QString kAlarms = QStringLiteral("Alarms");

template <class T>
using Ref = std::function<T&(ConditionsConfig&)>;

// Reads a field through the same accessor the loader writes it with.
template <class T>
const T& read(const Ref<T>& ref, const ConditionsConfig& c)
{
    return ref(const_cast<ConditionsConfig&>(c));
}

using St = LoadStage;

SettingRow textRow(St st, const QString& section, const QString& key, const QString& def, Ref<QString> ref)
{
    return rowText<ConditionsConfig>(st, section, key, def, ref);
}

SettingRow numberRow(St st, const QString& section, const QString& key, const QString& def, Ref<double> ref)
{
    return rowNumber<ConditionsConfig>(st, section, key, def, ref);
}

SettingRow checkRow(St st, const QString& section, const QString& key, const QString& def, Ref<bool> ref)
{
    return rowCheck<ConditionsConfig>(st, section, key, def == QLatin1String("1"), ref);
}

SettingRow colourRow(St st, const QString& section, const QString& key, int def, Ref<int> ref)
{
    return rowColour<ConditionsConfig>(st, section, key, def, ref);
}

// An option button of a group stored one key per option: a "True" selects it.
template <class E>
SettingRow optionRow(const QString& section, const QString& key, E option, bool def, Ref<E> ref)
{
    return rowGroupOption<ConditionsConfig, E>(St::LimitUnits, section, key, option, def, ref);
}

SettingRow alarmSoundRow(const QString& key, Ref<AlarmBox> ref)
{
    return {St::AlarmSounds, kAlarms, key, SettingKind::Text, QString(),
            [ref](ConditionsConfig& c, const QString& t) { ref(c).setSound(t); },
            [ref](const ConditionsConfig& c) { return read(ref, c).sound(); }};
}

// Read after the sound: a box without a sound can not come back armed.
SettingRow alarmStateRow(const QString& key, Ref<AlarmBox> ref)
{
    return {St::AlarmStates, kAlarms, key + QStringLiteral("Stat"), SettingKind::CheckBox, QStringLiteral("0"),
            [ref](ConditionsConfig& c, const QString& t) { ref(c).setArmed(codec::toInt(t, 0) != 0); },
            [ref](const ConditionsConfig& c) { return read(ref, c).armed() ? QStringLiteral("1") : QStringLiteral("0"); }};
}

// ---- the tables ------------------------------------------------------------------

// Thresholds, descriptions and colours share one key per level ("Limit",
// "Description", "Color"), in level order.
struct LevelItems {
    Quantity q;
    PerLevel<const char*> key;
    PerLevel<const char*> limit;
    PerLevel<const char*> description;
    PerLevel<int> colour;
};
using namespace colour;
const LevelItems kLevelItems[] = {
    {Quantity::Wind, {"WindCalm", "WindWindy", "WindVWindy"}, {"10", "20", "99"}, {"Calm", "Windy", "Very Windy"},
     {LightGreen, LightYellow, LightOrange}},
    {Quantity::Gust, {"GustCalm", "GustGusty", "GustVGusty"}, {"10", "20", "99"}, {"Calm", "Gusty", "Very Gusty"},
     {LightGreen, LightYellow, LightOrange}},
    {Quantity::Temperature, {"TempLow", "TempMedium", "TempHigh"}, {"-5", "50", "99"}, {"Cold", "Fine", "Hot"},
     {LightYellow, LightGreen, LightOrange}},
    {Quantity::DewPoint, {"DewLow", "DewMedium", "DewHigh"}, {"3", "5", "99"}, {"Condensation", "Humid", "Fine"},
     {LightOrange, LightYellow, LightGreen}},
    {Quantity::Humidity, {"HumLow", "HumMedium", "HumHigh"}, {"80", "90", "99"}, {"Fine", "Humid", "Very Humid"},
     {LightGreen, LightYellow, LightOrange}},
};

// Unsafe marks, keys and defaults by level index. The temperature and dew
// keys run against the level order in this section: "TempHigh" holds the mark
// of level 1 (Cold), "DewHigh" that of level 1 (Condensation). Stored
// settings depend on this mapping.
struct MarkItems {
    Quantity q;
    PerLevel<const char*> key;
    PerLevel<const char*> def;
};
const MarkItems kMarkItems[] = {
    {Quantity::Cloud, {"Clear", "Cloudy", "Overcast"}, {"0", "0", "1"}},
    {Quantity::Rain, {"Dry", "Wet", "Rain"}, {"0", "1", "1"}},
    {Quantity::Wind, {"Calm", "Windy", "VWindy"}, {"0", "1", "1"}},
    {Quantity::Gust, {"CalmGust", "WindyGust", "VWindyGust"}, {"0", "1", "1"}},
    {Quantity::Temperature, {"TempHigh", "TempMedium", "TempLow"}, {"1", "0", "1"}},
    {Quantity::Humidity, {"HumLow", "HumMedium", "HumHigh"}, {"0", "0", "1"}},
    {Quantity::DewPoint, {"DewHigh", "DewMedium", "DewLow"}, {"1", "0", "0"}},
    {Quantity::Brightness, {"Dark", "Light", "VLight"}, {"0", "0", "1"}},
};

// Alarm boxes, in level order for every quantity.
struct AlarmItems {
    Quantity q;
    PerLevel<const char*> key;
};
const AlarmItems kAlarmItems[] = {
    {Quantity::Cloud, {"Clear", "Cloudy", "Overcast"}},
    {Quantity::Rain, {"Dry", "Wet", "Rain"}},
    {Quantity::Brightness, {"Dark", "Light", "VLight"}},
    {Quantity::Wind, {"Calm", "Windy", "VWindy"}},
    {Quantity::Gust, {"CalmGust", "WindyGust", "VWindyGust"}},
    {Quantity::Temperature, {"TempLow", "TempMedium", "TempHigh"}},
    {Quantity::Humidity, {"HumLow", "HumMedium", "HumHigh"}},
    {Quantity::DewPoint, {"DewLow", "DewMedium", "DewHigh"}},
};

std::vector<SettingRow> buildRows()
{
    std::vector<SettingRow> rows;
    const auto add = [&rows](SettingRow r) { rows.push_back(std::move(r)); };

    // "Window": safe delay and unit spellings.
    add(numberRow(St::WindowFirst, kWindow, QStringLiteral("SafeDelayVal"), QStringLiteral("0"),
                  [](ConditionsConfig& c) -> double& { return c.safety.safeDelaySeconds; }));
    add(textRow(St::WindowFirst, kWindow, QStringLiteral("StringKPH"), QStringLiteral("KM/HR KM/H KPH"),
                [](ConditionsConfig& c) -> QString& { return c.units.spellings.kph; }));
    add(textRow(St::WindowFirst, kWindow, QStringLiteral("StringMPS"), QStringLiteral("M/S MPS"),
                [](ConditionsConfig& c) -> QString& { return c.units.spellings.mps; }));
    add(textRow(St::WindowFirst, kWindow, QStringLiteral("StringMPH"), QStringLiteral("MPH"),
                [](ConditionsConfig& c) -> QString& { return c.units.spellings.mph; }));
    add(textRow(St::WindowFirst, kWindow, QStringLiteral("StringKNOTS"), QStringLiteral("KNOTS KTS KT"),
                [](ConditionsConfig& c) -> QString& { return c.units.spellings.knots; }));
    add(textRow(St::WindowFirst, kWindow, QStringLiteral("StringDC"), QStringLiteral("C"),
                [](ConditionsConfig& c) -> QString& { return c.units.spellings.dc; }));
    add(textRow(St::WindowFirst, kWindow, QStringLiteral("StringDF"), QStringLiteral("F"),
                [](ConditionsConfig& c) -> QString& { return c.units.spellings.df; }));
    add(textRow(St::WindowFirst, kWindow, QStringLiteral("ExcChrHumidity"), QStringLiteral("%"),
                [](ConditionsConfig& c) -> QString& { return c.units.excludedHumidityChars; }));

    // "Limit": unit options. Read straight into the selection: loading never
    // converts thresholds, which are stored in the unit stored with them.
    for (int i = 0; i < 2; ++i)
        add(optionRow<TemperatureUnit>(kLimit, QStringLiteral("UnitsTemp%1").arg(i), TemperatureUnit(i), i == 0,
                                       [](ConditionsConfig& c) -> TemperatureUnit& { return c.units.temperature; }));
    for (int i = 0; i < 4; ++i)
        add(optionRow<SpeedUnit>(kLimit, QStringLiteral("UnitsSpeed%1").arg(i), SpeedUnit(i), i == 0,
                                 [](ConditionsConfig& c) -> SpeedUnit& { return c.units.speed; }));

    // "Window": compass names and the sound chooser's folder.
    for (int k = 1; k <= 16; ++k)
        add({St::WindowSecond, kWindow, QStringLiteral("Cadinal%1").arg(k, 2, 10, QLatin1Char('0')), SettingKind::Text,
             QLatin1String(kDefaultCompassNames[std::size_t(k - 1)]),
             [k](ConditionsConfig& c, const QString& t) { c.compass.set(k, t); },
             [k](const ConditionsConfig& c) { return c.compass.get(k); }});
    add(textRow(St::WindowSecond, kWindow, QStringLiteral("LastMusicDir"), QString(),
                [](ConditionsConfig& c) -> QString& { return c.alarms.lastMusicDir; }));

    // "Setup"
    add(checkRow(St::Setup, kSetup, QStringLiteral("SuspendAlarm"), QStringLiteral("0"),
                 [](ConditionsConfig& c) -> bool& { return c.alarms.suspendSound; }));

    // "Limit", "Description", "Color"
    for (const LevelItems& it : kLevelItems)
        for (std::size_t i = 0; i < 3; ++i)
            add(numberRow(St::LimitThresholds, kLimit, QLatin1String(it.key[i]), QLatin1String(it.limit[i]),
                          [q = it.q, i](ConditionsConfig& c) -> double& { return c.levels.thresholds[q][i]; }));
    for (const LevelItems& it : kLevelItems)
        for (std::size_t i = 0; i < 3; ++i)
            add(textRow(St::Description, kDescription, QLatin1String(it.key[i]), QLatin1String(it.description[i]),
                        [q = it.q, i](ConditionsConfig& c) -> QString& { return c.levels.styles[q][i].description; }));
    for (const LevelItems& it : kLevelItems)
        for (std::size_t i = 0; i < 3; ++i)
            add(colourRow(St::Color, kColor, QLatin1String(it.key[i]), it.colour[i],
                          [q = it.q, i](ConditionsConfig& c) -> int& { return c.levels.styles[q][i].colour; }));

    // "Unsafe": marks and direction sectors.
    for (const MarkItems& it : kMarkItems)
        for (std::size_t i = 0; i < 3; ++i)
            add(checkRow(St::Unsafe, kUnsafe, QLatin1String(it.key[i]), QLatin1String(it.def[i]),
                         [q = it.q, i](ConditionsConfig& c) -> bool& { return c.safety.unsafeMarks[q][i]; }));
    for (std::size_t i = 0; i < 3; ++i)
        add(textRow(St::Unsafe, kUnsafe, QStringLiteral("WindDir%1").arg(i), kDefaultSectorText,
                    [i](ConditionsConfig& c) -> QString& { return c.safety.windSectors[i]; }));
    for (std::size_t i = 0; i < 3; ++i)
        add(textRow(St::Unsafe, kUnsafe, QStringLiteral("GustDir%1").arg(i), kDefaultSectorText,
                    [i](ConditionsConfig& c) -> QString& { return c.safety.gustSectors[i]; }));

    // "Alarms": the 24 sounds, then the 24 states.
    for (const AlarmItems& it : kAlarmItems)
        for (std::size_t i = 0; i < 3; ++i)
            add(alarmSoundRow(QLatin1String(it.key[i]),
                              [q = it.q, i](ConditionsConfig& c) -> AlarmBox& { return c.alarms.boxes[q][i]; }));
    for (const AlarmItems& it : kAlarmItems)
        for (std::size_t i = 0; i < 3; ++i)
            add(alarmStateRow(QLatin1String(it.key[i]),
                              [q = it.q, i](ConditionsConfig& c) -> AlarmBox& { return c.alarms.boxes[q][i]; }));

    // "Alarms": stale-data alarms and rules.
    const Ref<AlarmBox> ws = [](ConditionsConfig& c) -> AlarmBox& { return c.alarms.stationData; };
    const Ref<AlarmBox> np = [](ConditionsConfig& c) -> AlarmBox& { return c.alarms.sensorData; };
    // Read after the "Graphs" section, as they always were.
    for (auto [key, ref] : {std::pair{QStringLiteral("WSAlarm"), ws}, std::pair{QStringLiteral("NPAlarm"), np}}) {
        SettingRow sound = alarmSoundRow(key, ref);
        SettingRow state = alarmStateRow(key, ref);
        sound.stage = state.stage = St::AlarmStale;
        add(std::move(sound));
        add(std::move(state));
    }
    add(checkRow(St::AlarmStale, kAlarms, QStringLiteral("WSDataOldUnsafe"), QStringLiteral("1"),
                 [](ConditionsConfig& c) -> bool& { return c.safety.wsDataOldUnsafe; }));
    add(checkRow(St::AlarmStale, kAlarms, QStringLiteral("NPDataOldUnsafe"), QStringLiteral("1"),
                 [](ConditionsConfig& c) -> bool& { return c.safety.npDataOldUnsafe; }));
    return rows;
}

} // namespace

const std::vector<SettingRow>& conditionSettingRows()
{
    static const std::vector<SettingRow> rows = buildRows();
    return rows;
}

ConditionsConfig ConditionsConfig::defaults()
{
    ConditionsConfig c;
    for (const SettingRow& r : conditionSettingRows()) r.apply(c, r.defaultText);
    return c;
}

LevelConfig LevelConfig::defaults() { return ConditionsConfig::defaults().levels; }
SafetyConfig SafetyConfig::defaults() { return ConditionsConfig::defaults().safety; }

ConditionsConfig loadConditionsConfig(const SettingsStore& store, const QString& application)
{
    ConditionsConfig c = ConditionsConfig::defaults();
    SettingsSchema schema(application);
    schema.add(conditionSettingRows(), c);
    schema.load(store);
    return c;
}

void saveConditionsConfig(SettingsStore& store, const ConditionsConfig& config, const QString& application)
{
    ConditionsConfig copy = config;
    SettingsSchema schema(application);
    schema.add(conditionSettingRows(), copy);
    schema.save(store);
}

} // namespace skyvane::conditions
