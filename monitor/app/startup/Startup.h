#pragma once
// What happens before the main window exists: one instance per user, the
// first-run check and the updater's self-replacement.

#include "TerminationSignals.h"

#include <QString>
#include <functional>
#include <memory>

class QLockFile;

namespace skyvane {

class SettingsStore;

// Holds the per-user instance lock for the life of the program.
class SingleInstance {
public:
    enum class Outcome {
        Acquired,       // this process now holds the lock
        AlreadyRunning, // a live monitor of this user holds it
        Failed,         // the lock could not be made: see error()
    };

    // lockDir: the user's settings folder, so one user runs one monitor.
    explicit SingleInstance(const QString& lockDir);
    ~SingleInstance();
    Outcome outcome() const { return outcome_; }
    // True when no other instance holds the lock (and now this one does).
    bool acquired() const { return outcome_ == Outcome::Acquired; }
    // Why the lock could not be made (Failed only), for the user.
    QString error() const { return error_; }

private:
    std::unique_ptr<QLockFile> lock_;
    Outcome outcome_ = Outcome::Failed;
    QString error_;
};

// "Setup"/"Emulator" has never been written.
bool isFirstRun(const SettingsStore& store);
// Whether a question may wait for an answer at start: a display someone
// looks at, and a start by a person, not by D-Bus activation, the session's
// autostart or the --autostart argument.
bool personToAsk(bool visibleDisplay, bool autostartArgument);
// Says on standard error that a first run goes on with the defaults, when
// nobody is asked the first-run questions.
void noteFirstRunWithoutQuestions(const SettingsStore& store);

// The updater downloads a new copy of itself as XOB_Updater_net; finish the
// swap: the old updater becomes XOB_Updater_exe.old, the new one XOB_Updater.
// File names are compared without regard to case. Returns false only when a
// rename that was due failed.
bool completeUpdaterHandOver(const QString& programDir, const QString& exeSuffix = QString());

} // namespace skyvane
