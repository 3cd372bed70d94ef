#pragma once
// Everything the user configures for conditions, safety, alarms and units,
// and its place in the settings store. Every key is declared once, in one
// table of rows (section, key, kind, default); loading, saving and the
// factory defaults all walk that table.

#include "Alarms.h"
#include "Levels.h"
#include "Safety.h"
#include "Units.h"

#include <QString>
#include <functional>
#include <vector>

namespace skyvane {
class SettingsStore;
}

namespace skyvane::conditions {

struct ConditionsConfig {
    LevelConfig levels;  // thresholds, descriptions, colours
    SafetyConfig safety; // unsafe marks, sectors, stale-data options, safe delay
    AlarmConfig alarms;  // alarm boxes, suspend, last music folder
    UnitConfig units;    // selected units, unit spellings, humidity exclusion
    CompassTable compass;

    // The factory settings: every key at its default.
    static ConditionsConfig defaults();
};

// How a value is written in the store.
enum class SettingKind {
    Text,     // the text itself
    Number,   // decimal text in the regional format
    CheckBox, // "0" / "1"
    Option,   // "True" / "False"
    Colour,   // decimal text of the colour value
};

struct SettingRow {
    QString section;
    QString key;
    SettingKind kind;
    QString defaultText;
    std::function<void(ConditionsConfig&, const QString&)> apply; // from the stored text
    std::function<QString(const ConditionsConfig&)> text;         // to the stored text
};

// The rows in the order the program reads them.
const std::vector<SettingRow>& conditionSettingRows();

inline const QString kSettingsApplication = QStringLiteral("XOB_Skyvane");

// Reads every key (a missing or unreadable value gives the default).
ConditionsConfig loadConditionsConfig(const SettingsStore& store,
                                      const QString& application = kSettingsApplication);
// Writes every key.
void saveConditionsConfig(SettingsStore& store, const ConditionsConfig& config,
                          const QString& application = kSettingsApplication);

} // namespace skyvane::conditions
