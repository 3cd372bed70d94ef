#pragma once
// Alarm sounds from the sound module (SoundModule.cpp), loaded with the first
// sound: the program itself links no media library, and a night without
// alarms never loads one. Without the module, or without the media libraries
// it needs, play() answers false and says so once on standard error; the
// monitor goes on.

#include "Alarms.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace skyvane::conditions {

class LoadedSoundPlayer final : public SoundPlayer {
public:
    // moduleDirs: where to look for the module, in order.
    explicit LoadedSoundPlayer(QStringList moduleDirs);
    ~LoadedSoundPlayer() override;

    bool play(const QString& file, bool loop) override;
    bool isPlaying() const override;
    void stop() override;

    // Whether the module has been found and loaded (after the first play).
    bool loaded() const { return player_ != nullptr; }
    // The module's file name, for the package and the docs.
    static QString moduleFileName();
    // Beside the program (a build tree), then where the package puts it.
    static QStringList defaultModuleDirs();

private:
    bool load();

    QStringList dirs_;
    std::unique_ptr<SoundPlayer> player_;
    bool tried_ = false;
};

} // namespace skyvane::conditions
