#include "Startup.h"

#include "MonitorConfig.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace skyvane {

SingleInstance::SingleInstance(const QString& lockDir)
{
    // Only a live monitor holding the lock means "already running". A folder
    // that cannot be made or written is a different problem: the settings
    // could not be saved either, so the caller must say so and not pretend
    // that another monitor runs.
    if (!QDir().mkpath(lockDir) || !QFileInfo(lockDir).isDir()) {
        error_ = QStringLiteral("the settings folder %1 can not be created").arg(QDir::toNativeSeparators(lockDir));
        return;
    }
    const QString path = QDir(lockDir).filePath(QStringLiteral("XOB_Skyvane.lock"));
    lock_ = std::make_unique<QLockFile>(path);
    // Age alone never makes a lock stale: a monitor runs for weeks. QLockFile
    // still takes over a lock whose process is gone (a crashed monitor).
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        outcome_ = Outcome::Acquired;
        return;
    }
    switch (lock_->error()) {
    case QLockFile::LockFailedError:
        outcome_ = Outcome::AlreadyRunning;
        break;
    case QLockFile::PermissionError:
        error_ = QStringLiteral("the settings folder %1 is not writable").arg(QDir::toNativeSeparators(lockDir));
        break;
    default:
        error_ = QStringLiteral("the lock file %1 can not be written").arg(QDir::toNativeSeparators(path));
        break;
    }
}

SingleInstance::~SingleInstance() = default;

bool isFirstRun(const SettingsStore& store)
{
    // Settings taken over from a damaged file are not a first run, whether
    // the marker was among them or not.
    const QString app = QString::fromLatin1(kAppName);
    return store.get(app, QStringLiteral("Setup"), QStringLiteral("Emulator"), QStringLiteral("9")) == QLatin1String("9")
        && store.recovered(app) == 0;
}

void noteFirstRunWithoutQuestions(const SettingsStore& store)
{
    if (isFirstRun(store))
        std::fprintf(stderr, "XOB_Skyvane: no settings yet (%s): running with the defaults.\n", qPrintable(store.root()));
}

bool personToAsk(bool visibleDisplay, bool autostartArgument)
{
    if (!visibleDisplay || autostartArgument) return false;
    // Started by the bus for a client (activation), or by the session's
    // autostart (a desktop coming back after a power cut): nobody waits at
    // the screen for a question.
    if (!qEnvironmentVariableIsEmpty("DBUS_STARTER_BUS_TYPE") || !qEnvironmentVariableIsEmpty("DBUS_STARTER_ADDRESS"))
        return false;
    if (!qEnvironmentVariableIsEmpty("DESKTOP_AUTOSTART_ID")) return false;
    return true;
}

namespace {
// The entry of dir whose name matches name regardless of case, or "".
QString findCaseless(const QDir& dir, const QString& name)
{
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString& e : entries)
        if (e.compare(name, Qt::CaseInsensitive) == 0) return dir.filePath(e);
    return {};
}
} // namespace

bool completeUpdaterHandOver(const QString& programDir, const QString& exeSuffix)
{
    const QDir dir(programDir);
    const QString fresh = findCaseless(dir, QStringLiteral("XOB_Updater_net") + exeSuffix);
    if (fresh.isEmpty()) return true;
    bool ok = true;
    const QString current = findCaseless(dir, QStringLiteral("XOB_Updater") + exeSuffix);
    if (!current.isEmpty()) {
        const QString old = findCaseless(dir, QStringLiteral("XOB_Updater_exe.old"));
        if (!old.isEmpty()) QFile::remove(old);
        ok = QFile::rename(current, dir.filePath(QStringLiteral("XOB_Updater_exe.old")));
    }
    if (ok) ok = QFile::rename(fresh, dir.filePath(QStringLiteral("XOB_Updater") + exeSuffix));
    return ok;
}

} // namespace skyvane
