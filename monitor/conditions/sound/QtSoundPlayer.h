#pragma once
// Alarm sounds through Qt Multimedia. A file that is missing or cannot be
// decoded is ignored: play() answers false, or the player simply stops, and
// nothing is shown to the user.

#include "Alarms.h"

#include <memory>

class QAudioOutput;
class QMediaPlayer;

namespace skyvane::conditions {

class QtSoundPlayer final : public SoundPlayer {
public:
    QtSoundPlayer();
    ~QtSoundPlayer() override;

    bool play(const QString& file, bool loop) override;
    bool isPlaying() const override;
    void stop() override;

private:
    std::unique_ptr<QAudioOutput> output_;
    std::unique_ptr<QMediaPlayer> player_;
};

} // namespace skyvane::conditions
