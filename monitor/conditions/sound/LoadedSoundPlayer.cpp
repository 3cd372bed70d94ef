#include "LoadedSoundPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <cstdio>

namespace skyvane::conditions {

namespace {
using Create = SoundPlayer* (*)();
} // namespace

QString LoadedSoundPlayer::moduleFileName() { return QStringLiteral("skyvane_sound_qt.so"); }

QStringList LoadedSoundPlayer::defaultModuleDirs()
{
    const QString bin = QCoreApplication::applicationDirPath();
    return {bin, QDir(bin).filePath(QStringLiteral("../lib/skyvane"))};
}

LoadedSoundPlayer::LoadedSoundPlayer(QStringList moduleDirs) : dirs_(std::move(moduleDirs)) {}

LoadedSoundPlayer::~LoadedSoundPlayer() = default;

bool LoadedSoundPlayer::load()
{
    if (tried_) return player_ != nullptr;
    tried_ = true;
    QString why = QStringLiteral("%1 not found").arg(moduleFileName());
    for (const QString& dir : dirs_) {
        const QString path = QDir(dir).filePath(moduleFileName());
        if (!QFileInfo::exists(path)) continue;
        // Never unloaded: the player's objects live until the program ends.
        QLibrary lib(path);
        if (!lib.load()) {
            why = lib.errorString();
            continue;
        }
        if (auto create = reinterpret_cast<Create>(lib.resolve("skyvane_sound_player_create"))) {
            player_.reset(create());
            return player_ != nullptr;
        }
        why = lib.errorString();
    }
    std::fprintf(stderr, "XOB_Skyvane: alarm sounds are not available (%s)\n", qPrintable(why));
    return false;
}

bool LoadedSoundPlayer::play(const QString& file, bool loop) { return load() && player_->play(file, loop); }

bool LoadedSoundPlayer::isPlaying() const { return player_ && player_->isPlaying(); }

void LoadedSoundPlayer::stop()
{
    if (player_) player_->stop();
}

} // namespace skyvane::conditions
