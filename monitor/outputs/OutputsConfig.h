#pragma once
// The settings of the two record files: the user data file's name, save
// period and column table, and the CCDAutopilot file's name and folder.
// (The user data folder, "Window"/"PathName", is kept with the window's
// folder settings because the start's folder check uses it.)
//
// Load and save run over one table of (section, key, default, field), so a
// key can not be read at start and forgotten at the end.

#include "CcdAutopilotFile.h"
#include "UserDataFile.h"

#include <QString>
#include <functional>
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
    bool dispFileNameOnly = false;                          // "File"/"DispFileNameOnly"
    ColumnTable columns = ColumnTable::defaults();          // "File"/"Hdr01".."Prt25"

    void load(const SettingsStore& store, const QString& programDir);
    void save(SettingsStore& store) const;
};

// One stored key: where it lives, its default text, and how the field is
// read from and written to its text.
struct OutputsKey {
    QString section;
    QString key;
    QString def;
    std::function<void(OutputsConfig&, const QString&)> set;
    std::function<QString(const OutputsConfig&)> get;
};

// Every key of the two files, in load order ("Window" then "File").
// programDir is the default of the CCDAutopilot folder.
std::vector<OutputsKey> outputsKeys(const QString& programDir);

} // namespace skyvane::outputs
