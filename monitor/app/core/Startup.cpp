#include "Startup.h"

#include "MonitorConfig.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QLockFile>

namespace skyvane {

SingleInstance::SingleInstance(const QString& lockDir)
{
    QDir().mkpath(lockDir);
    lock_ = std::make_unique<QLockFile>(QDir(lockDir).filePath(QStringLiteral("XOB_Skyvane.lock")));
    // A lock left by a crashed monitor is stale and taken over.
    lock_->setStaleLockTime(0);
    acquired_ = lock_->tryLock(0);
}

SingleInstance::~SingleInstance() = default;

bool isFirstRun(const SettingsStore& store)
{
    return store.get(QString::fromLatin1(kAppName), QStringLiteral("Setup"), QStringLiteral("Emulator"), QStringLiteral("9"))
        == QLatin1String("9");
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
