#pragma once
// What happens before the main window exists: one instance per user, the
// first-run check and the updater's self-replacement.

#include <QString>
#include <memory>

class QLockFile;

namespace skyvane {

class SettingsStore;

// Holds the per-user instance lock for the life of the program.
class SingleInstance {
public:
    // lockDir: the user's settings folder, so one user runs one monitor.
    explicit SingleInstance(const QString& lockDir);
    ~SingleInstance();
    // True when no other instance holds the lock (and now this one does).
    bool acquired() const { return acquired_; }

private:
    std::unique_ptr<QLockFile> lock_;
    bool acquired_ = false;
};

// "Setup"/"Emulator" has never been written.
bool isFirstRun(const SettingsStore& store);

// The updater downloads a new copy of itself as XOB_Updater_net; finish the
// swap: the old updater becomes XOB_Updater_exe.old, the new one XOB_Updater.
// File names are compared without regard to case. Returns false only when a
// rename that was due failed.
bool completeUpdaterHandOver(const QString& programDir, const QString& exeSuffix = QString());

} // namespace skyvane
