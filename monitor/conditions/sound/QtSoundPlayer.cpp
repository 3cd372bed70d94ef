#include "QtSoundPlayer.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>

namespace skyvane::conditions {

QtSoundPlayer::QtSoundPlayer()
    : output_(std::make_unique<QAudioOutput>()), player_(std::make_unique<QMediaPlayer>())
{
    player_->setAudioOutput(output_.get());
    // Errors (no audio device, an undecodable file) end the sound; the alarm
    // logic notices through isPlaying() and carries on.
    QObject::connect(player_.get(), &QMediaPlayer::errorOccurred, player_.get(),
                     [p = player_.get()](QMediaPlayer::Error, const QString&) { p->stop(); });
}

QtSoundPlayer::~QtSoundPlayer()
{
    player_->stop();
}

bool QtSoundPlayer::play(const QString& file, bool loop)
{
    stop();
    const QFileInfo info(file);
    if (!info.isFile() || !info.isReadable()) return false;
    player_->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    if (player_->error() != QMediaPlayer::NoError) {
        stop();
        return false;
    }
    player_->setLoops(loop ? QMediaPlayer::Infinite : 1);
    player_->play();
    return true;
}

bool QtSoundPlayer::isPlaying() const
{
    return player_->playbackState() == QMediaPlayer::PlayingState && player_->error() == QMediaPlayer::NoError;
}

void QtSoundPlayer::stop()
{
    player_->stop();
    player_->setSource(QUrl());
}

} // namespace skyvane::conditions
