#pragma once
// A sound player for tests: remembers what it was asked to play, refuses the
// files it is told are unplayable, and ends a sound when the test says so.

#include "Alarms.h"

#include <QSet>
#include <QStringList>

namespace skyvane::conditions {

class FakeSoundPlayer final : public SoundPlayer {
public:
    bool play(const QString& file, bool loop) override
    {
        playing_ = false;
        if (unplayable.contains(file)) return false;
        played << (loop ? file + QStringLiteral(" (loop)") : file);
        file_ = file;
        loop_ = loop;
        playing_ = true;
        return true;
    }
    bool isPlaying() const override { return playing_; }
    void stop() override
    {
        if (playing_) ++stops;
        playing_ = false;
        file_.clear();
    }

    // A sound that does not loop reaches its end.
    void endOfSound()
    {
        if (!loop_) playing_ = false;
    }
    const QString& file() const { return file_; }
    bool looping() const { return playing_ && loop_; }

    QStringList played; // every started sound, " (loop)" appended when looping
    QSet<QString> unplayable;
    int stops = 0;

private:
    QString file_;
    bool loop_ = false;
    bool playing_ = false;
};

} // namespace skyvane::conditions
