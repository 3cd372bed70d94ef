#pragma once
// Everything the user configures for conditions, safety, alarms and units,
// and its place in the settings store. Every key is declared once, in one
// table of rows (stage, section, key, kind, default); loading, saving and the
// factory defaults all walk that table, and the monitor binds it into its
// settings schema.

#include "Alarms.h"
#include "Levels.h"
#include "Safety.h"
#include "Units.h"
#include "SettingsSchema.h"

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

// One key of the table; see SettingsSchema.h for the encodings and stages.
using SettingRow = skyvane::SettingRow<ConditionsConfig>;

// The rows, each with its stage of the load order.
const std::vector<SettingRow>& conditionSettingRows();

inline const QString kSettingsApplication = QStringLiteral("XOB_Skyvane");

// Reads every key (a missing or unreadable value gives the default).
ConditionsConfig loadConditionsConfig(const SettingsStore& store,
                                      const QString& application = kSettingsApplication);
// Writes every key.
void saveConditionsConfig(SettingsStore& store, const ConditionsConfig& config,
                          const QString& application = kSettingsApplication);

} // namespace skyvane::conditions
