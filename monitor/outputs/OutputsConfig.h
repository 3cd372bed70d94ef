#pragma once
// The settings of the two record files: the user data file's name, save
// period and column table, and the CCDAutopilot file's name and folder.
// (The user data folder, "Window"/"PathName", is kept with the window's
// folder settings because the start's folder check uses it.)
//
// The keys are declared once, in outputSettingRows(); the core binds them
// into its settings schema, and load() and save() here walk the same rows.
// (The upload list's "File"/"DispFileNameOnly" is declared with the uploads.)

#include "CcdAutopilotFile.h"
#include "SettingsSchema.h"
#include "UserDataFile.h"

#include <QString>
#include <vector>

namespace skyvane {
class SettingsStore;
}

namespace skyvane::outputs {

struct OutputsConfig {
    QString fileName = QStringLiteral("Skyvane");           // "Window"/"FileName"
    int freqSave = 1;                                       // "Window"/"FreqSave", at least 1
    QString fileNameCcdap4 = QString::fromLatin1(kCcdDefaultFileName); // "Window"/"FileNameCCDAP4"
    QString pathNameCcdap4;                                 // "Window"/"PathNameCCDAP4", program folder
    ColumnTable columns = ColumnTable::defaults();          // "File"/"Hdr01".."Prt25"

    void load(const SettingsStore& store, const QString& programDir);
    void save(SettingsStore& store) const;
};

// Every key of the two files. programDir is the default of the CCDAutopilot
// folder.
std::vector<SettingRow<OutputsConfig>> outputSettingRows(const QString& programDir);

} // namespace skyvane::outputs
